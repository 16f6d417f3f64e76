# The launcher's imports that are not KnownDLLs are delay-loaded: Windows would otherwise look for
# them beside the program at start, before any code of ours could narrow the search. Loaded at
# their first call, they come from System32 only (app/windows/startup.cpp). Libraries named
# lib<dll>.a in the folder below are found before the toolchain's, for the programs that
# orvanta_delay_load names.
# (GNU ld 2.40 has no --dependent-load-flag.)
set(delay_loaded winhttp crypt32 bcrypt opengl32 winmm)
set(delay_dir ${CMAKE_CURRENT_BINARY_DIR}/delay-import)
find_program(ORVANTA_DLLTOOL x86_64-w64-mingw32-dlltool REQUIRED)
set(delay_libraries)
foreach(dll ${delay_loaded})
  find_library(ORVANTA_IMPORT_LIBRARY_${dll} ${dll} REQUIRED)
  set(library ${delay_dir}/lib${dll}.a)
  add_custom_command(
    OUTPUT ${library}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${delay_dir}
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDLLTOOL=${ORVANTA_DLLTOOL}
            -DIMPORT_LIBRARY=${ORVANTA_IMPORT_LIBRARY_${dll}} -DDLL=${dll}.dll -DOUTPUT=${library}
            -P ${CMAKE_CURRENT_LIST_DIR}/delay_import_library.cmake
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/delay_import_library.cmake
    VERBATIM)
  list(APPEND delay_libraries ${library})
endforeach()
add_custom_target(orvanta_delay_import DEPENDS ${delay_libraries})
set(ORVANTA_DELAY_IMPORT_DIR ${delay_dir} CACHE INTERNAL "")
set(ORVANTA_DELAY_IMPORT_LIBRARIES ${delay_libraries} CACHE INTERNAL "")

function(orvanta_delay_load target)
  add_dependencies(${target} orvanta_delay_import)
  target_link_options(${target} PRIVATE -L${ORVANTA_DELAY_IMPORT_DIR})
  # Found through -L alone, they would not relink the program when they change.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${ORVANTA_DELAY_IMPORT_LIBRARIES})
endfunction()
orvanta_delay_load(orvanta-launcher)
