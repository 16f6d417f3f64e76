# The Windows build (cross-built with cmake/mingw-w64.cmake): the platform services, the update
# pipeline and their tests, which run under Wine, and the launcher orvanta-launcher.exe with the
# sample game and the installer.
enable_language(RC)
find_package(Threads REQUIRED)

# The same commit builds the same programs wherever it is built: no link time in the headers,
# and no build or source folder in what is compiled.
add_link_options(-Wl,--no-insert-timestamp)
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>"
                    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>")

# nlohmann::json is header-only; its Debian headers are reached through a folder of their own so
# the rest of the host's /usr/include stays out of the cross build.
set(json_include ${CMAKE_BINARY_DIR}/private-include)
file(MAKE_DIRECTORY ${json_include})
if(NOT EXISTS ${json_include}/nlohmann)
  file(CREATE_LINK /usr/include/nlohmann ${json_include}/nlohmann SYMBOLIC)
endif()

# SFML, FreeType, uriparser and zstd, static, built for mingw-w64 by scripts/build-windows-deps. SFML is
# imported under the names the Linux build's SFML package gives it, so app/, ui/ and demo/ link
# the same way.
set(ORVANTA_WINDOWS_DEPS "" CACHE PATH
    "Folder of the libraries built for Windows (scripts/build-windows-deps prints it)")
if(NOT EXISTS "${ORVANTA_WINDOWS_DEPS}/lib/libsfml-graphics-s.a" OR
   NOT EXISTS "${ORVANTA_WINDOWS_DEPS}/lib/liburiparser.a" OR
   NOT EXISTS "${ORVANTA_WINDOWS_DEPS}/lib/libzstd.a")
  message(FATAL_ERROR "The Windows launcher needs SFML, FreeType, uriparser and zstd built for "
                      "Windows: set ORVANTA_WINDOWS_DEPS to scripts/build-windows-deps' folder, "
                      "or use scripts/build-windows")
endif()
function(orvanta_import_static name file)
  add_library(${name} STATIC IMPORTED)
  set_target_properties(${name} PROPERTIES
    IMPORTED_LOCATION ${ORVANTA_WINDOWS_DEPS}/lib/${file}
    INTERFACE_LINK_LIBRARIES "${ARGN}")
endfunction()
orvanta_import_static(orvanta_freetype libfreetype.a)
orvanta_import_static(sfml-system libsfml-system-s.a winmm)
orvanta_import_static(sfml-window libsfml-window-s.a sfml-system opengl32 gdi32 user32)
orvanta_import_static(sfml-graphics libsfml-graphics-s.a sfml-window orvanta_freetype)
set_target_properties(sfml-system PROPERTIES
  INTERFACE_COMPILE_DEFINITIONS SFML_STATIC
  INTERFACE_INCLUDE_DIRECTORIES ${ORVANTA_WINDOWS_DEPS}/include)
# Built for char strings alone; without URI_STATIC_BUILD its headers would import from a DLL.
orvanta_import_static(orvanta_uriparser liburiparser.a)
set_target_properties(orvanta_uriparser PROPERTIES
  INTERFACE_COMPILE_DEFINITIONS "URI_STATIC_BUILD;URI_NO_UNICODE"
  INTERFACE_INCLUDE_DIRECTORIES ${ORVANTA_WINDOWS_DEPS}/include)
orvanta_import_static(orvanta_zstd libzstd.a)
set_target_properties(orvanta_zstd PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${ORVANTA_WINDOWS_DEPS}/include)

add_library(orvanta_core STATIC)
target_include_directories(orvanta_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_include_directories(orvanta_core SYSTEM PUBLIC ${json_include})
target_compile_definitions(orvanta_core PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                               _WIN32_WINNT=0x0A00)
target_compile_options(orvanta_core PRIVATE ${ORVANTA_WARNINGS})
target_link_libraries(orvanta_core PUBLIC Threads::Threads orvanta_uriparser orvanta_zstd winhttp ws2_32 crypt32 bcrypt advapi32
                                          shell32 ole32 user32 gdi32)

# The launcher itself: window, screen, phases; everything that touches SFML.
add_library(orvanta_app STATIC)
target_include_directories(orvanta_app PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_options(orvanta_app PRIVATE ${ORVANTA_WARNINGS})
target_link_libraries(orvanta_app PUBLIC orvanta_core sfml-graphics sfml-window sfml-system)

add_subdirectory(platform)
add_subdirectory(update)
add_subdirectory(ui)
add_subdirectory(app)
add_subdirectory(demo)
add_subdirectory(packaging/windows)

if(ORVANTA_TESTS)
  enable_testing()
  add_subdirectory(tests)
endif()
