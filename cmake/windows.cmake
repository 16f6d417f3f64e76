# The Windows build (cross-built with cmake/mingw-w64.cmake): the platform services and the
# update pipeline, and their tests run under Wine.
find_package(Threads REQUIRED)

# nlohmann::json is header-only; its Debian headers are reached through a folder of their own so
# the rest of the host's /usr/include stays out of the cross build.
set(json_include ${CMAKE_BINARY_DIR}/private-include)
file(MAKE_DIRECTORY ${json_include})
if(NOT EXISTS ${json_include}/nlohmann)
  file(CREATE_LINK /usr/include/nlohmann ${json_include}/nlohmann SYMBOLIC)
endif()

add_library(orvanta_core STATIC)
target_include_directories(orvanta_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_include_directories(orvanta_core SYSTEM PUBLIC ${json_include})
target_compile_definitions(orvanta_core PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                               _WIN32_WINNT=0x0A00)
target_compile_options(orvanta_core PRIVATE ${ORVANTA_WARNINGS})
target_link_libraries(orvanta_core PUBLIC winhttp crypt32 bcrypt advapi32 shell32 ole32)

add_subdirectory(platform)
add_subdirectory(update)

if(ORVANTA_TESTS)
  enable_testing()
  add_subdirectory(tests)
endif()
