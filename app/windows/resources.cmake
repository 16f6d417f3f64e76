# The executable's resources: icon group 101 (the seven PNG images), the version information and
# the application manifest. An object library, so a test program can carry the same icon.
set(icon_rc ${CMAKE_CURRENT_BINARY_DIR}/orvanta_icon.rc)
add_custom_command(
  OUTPUT ${icon_rc}
  COMMAND ${CMAKE_COMMAND} -DICON_DIR=${icon_dir} -DOUTPUT=${icon_rc}
          -P ${CMAKE_CURRENT_SOURCE_DIR}/windows/icon_group.cmake
  DEPENDS ${icon_pngs} ${CMAKE_CURRENT_SOURCE_DIR}/windows/icon_group.cmake
  COMMENT "Writing the launcher's icon resource"
  VERBATIM)

set(ORVANTA_VERSION_MAJOR ${PROJECT_VERSION_MAJOR})
set(ORVANTA_VERSION_MINOR ${PROJECT_VERSION_MINOR})
set(ORVANTA_VERSION_PATCH 0)
if(PROJECT_VERSION_PATCH)
  set(ORVANTA_VERSION_PATCH ${PROJECT_VERSION_PATCH})
endif()
configure_file(windows/orvanta-launcher.manifest.in
               ${CMAKE_CURRENT_BINARY_DIR}/orvanta-launcher.manifest @ONLY)
configure_file(windows/orvanta-launcher.rc.in ${CMAKE_CURRENT_BINARY_DIR}/orvanta-launcher.rc
               @ONLY)
set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/orvanta-launcher.rc APPEND PROPERTY
             OBJECT_DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/orvanta-launcher.manifest)

add_library(orvanta_resources OBJECT ${CMAKE_CURRENT_BINARY_DIR}/orvanta-launcher.rc ${icon_rc})
target_link_libraries(orvanta-launcher PRIVATE orvanta_resources)
# A windowed program: no console window opens beside it.
target_link_options(orvanta-launcher PRIVATE -mwindows)
