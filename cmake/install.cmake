# What `cmake --install` puts where:
#   bin/orvanta-launcher, bin/orvanta-publish
#   share/orvanta-launcher/fonts/   the launcher looks here, relative to its own binary
#   share/applications/orvanta-launcher.desktop
#   share/icons/hicolor/<N>x<N>/apps/orvanta-launcher.png
include(GNUInstallDirs)

install(TARGETS orvanta-launcher orvanta-publish RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${PROJECT_SOURCE_DIR}/assets/fonts/Nunito-Bold.ttf
              ${PROJECT_SOURCE_DIR}/assets/fonts/Nunito-Regular.ttf
              ${PROJECT_SOURCE_DIR}/assets/fonts/OFL.txt
        DESTINATION ${CMAKE_INSTALL_DATADIR}/orvanta-launcher/fonts)

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
")
install(FILES ${orvanta_desktop_entry} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

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
  install(FILES ${square} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${side}x${side}/apps)
endforeach()
add_custom_target(orvanta_theme_icons ALL DEPENDS ${orvanta_theme_icons})
