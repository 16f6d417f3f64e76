# Runs the check a launcher build makes on the CA bundle BUNDLE; the test expects it to refuse it.
include(${SOURCE_DIR}/cmake/ca_bundle.cmake)
set(PROJECT_SOURCE_DIR ${SOURCE_DIR})
orvanta_ca_bundle_source(${OUTPUT} "${BUNDLE}")
