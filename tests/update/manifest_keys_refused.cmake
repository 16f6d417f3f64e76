# Runs the key check a launcher build makes on KEY; the test expects it to refuse the key.
include(${SOURCE_DIR}/cmake/manifest_keys.cmake)
set(PROJECT_SOURCE_DIR ${SOURCE_DIR})
orvanta_manifest_keys_source(${OUTPUT} "${KEY}")
