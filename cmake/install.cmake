# What `cmake --install` puts where:
#   bin/orvanta-launcher, bin/orvanta-publish
#   share/orvanta-launcher/fonts/   the launcher looks here, relative to its own binary
#   share/applications/orvanta-launcher.desktop
#   share/icons/hicolor/<N>x<N>/apps/orvanta-launcher.png
#   share/man/man6/orvanta-launcher.6
# Everything but orvanta-publish is the component "launcher", what a player's package holds
# (scripts/build-deb).
include(GNUInstallDirs)

install(TARGETS orvanta-launcher RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT launcher)
install(TARGETS orvanta-publish RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT publish)

install(FILES ${PROJECT_SOURCE_DIR}/assets/fonts/Nunito-Bold.ttf
              ${PROJECT_SOURCE_DIR}/assets/fonts/Nunito-Regular.ttf
              ${PROJECT_SOURCE_DIR}/assets/fonts/OFL.txt
        DESTINATION ${CMAKE_INSTALL_DATADIR}/orvanta-launcher/fonts COMPONENT launcher)

# The desktop entry names the installed program by its full path, known only at install time
# (cmake --install --prefix may differ from the configured prefix).
set(orvanta_desktop_entry ${CMAKE_BINARY_DIR}/packaging/orvanta-launcher.desktop)
install(CODE "
  if(IS_ABSOLUTE \"${CMAKE_INSTALL_BINDIR}\")
    set(ORVANTA_LAUNCHER_PATH \"${CMAKE_INSTALL_BINDIR}/orvanta-launcher\")
  else()
    set(ORVANTA_LAUNCHER_PATH \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/orvanta-launcher\")
  endif()
  configure_file(\"${PROJECT_SOURCE_DIR}/packaging/orvanta-launcher.desktop.in\"
                 \"${orvanta_desktop_entry}\" @ONLY)
" COMPONENT launcher)
install(FILES ${orvanta_desktop_entry} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT launcher)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/orvanta-launcher.6
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man6 COMPONENT launcher)

# Icon themes take square images; the icon art is wider than tall, so each size is padded to a
# square at build time by a small helper built on the image code the launcher already uses.
add_executable(orvanta-square-icon ${PROJECT_SOURCE_DIR}/packaging/square_icon.cpp)
target_compile_options(orvanta-square-icon PRIVATE ${ORVANTA_WARNINGS})
target_link_libraries(orvanta-square-icon PRIVATE sfml-graphics)
set(orvanta_theme_icons)
foreach(icon 16x11 24x16 32x21 48x32 64x43 128x85 256x171)
  string(REGEX REPLACE "x.*" "" side ${icon})
  set(source ${PROJECT_SOURCE_DIR}/assets/icon/orvanta-${icon}.png)
  set(square ${CMAKE_BINARY_DIR}/packaging/icons/${side}x${side}/orvanta-launcher.png)
  add_custom_command(
    OUTPUT ${square}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging/icons/${side}x${side}
    # A sanitizer build's helper must not fail the build over a leak report from the system.
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:orvanta-square-icon> ${source} ${side} ${square}
    DEPENDS orvanta-square-icon ${source}
    COMMENT "Square ${side}x${side} theme icon"
    VERBATIM)
  list(APPEND orvanta_theme_icons ${square})
  install(FILES ${square} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${side}x${side}/apps
          COMPONENT launcher)
endforeach()
add_custom_target(orvanta_theme_icons ALL DEPENDS ${orvanta_theme_icons})

# What packaging/make-deb needs to know of this build, for the Debian package.
if(DEFINED ENV{DEBFULLNAME} AND DEFINED ENV{DEBEMAIL})
  set(orvanta_default_maintainer "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
else()
  set(orvanta_default_maintainer "Orvanta launcher builders <launcher@orvanta.example>")
endif()
set(ORVANTA_DEB_MAINTAINER "${orvanta_default_maintainer}" CACHE STRING
    "Maintainer of the Debian package (default: $DEBFULLNAME <$DEBEMAIL>)")
set(ORVANTA_DEB_VERSION "${ORVANTA_LAUNCHER_VERSION}" CACHE STRING "Version of the Debian package")
if(NOT ORVANTA_DEB_MAINTAINER MATCHES "^[^<>\n]+ <[^<>@ \n]+@[^<> \n]+>$")
  message(FATAL_ERROR "ORVANTA_DEB_MAINTAINER must read \"Name <address>\", not "
                      "\"${ORVANTA_DEB_MAINTAINER}\"")
endif()
if(NOT ORVANTA_DEB_VERSION MATCHES "^[0-9][A-Za-z0-9.+~-]*$")
  message(FATAL_ERROR "ORVANTA_DEB_VERSION is not a Debian version: ${ORVANTA_DEB_VERSION}")
endif()
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/packaging/deb-settings @ONLY CONTENT [=[
source_dir=@PROJECT_SOURCE_DIR@
version=@ORVANTA_DEB_VERSION@
maintainer=@ORVANTA_DEB_MAINTAINER@
manifest_url=@ORVANTA_MANIFEST_URL@
]=])
