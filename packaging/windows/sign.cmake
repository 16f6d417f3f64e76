# Signs one Windows program in place with Authenticode (SHA-256), with osslsigncode. The password
# of the PKCS#12 file is read by osslsigncode from its file (-readpass), so it appears on no
# command line and in no log.
#
#   cmake -DOSSLSIGNCODE=<program> -DFILE=<program.exe> -DPFX=<certificate.p12>
#         -DPASSWORD_FILE=<file> [-DTIMESTAMP_URL=<url>] [-DNAME=<name in messages>] -P sign.cmake
#
# Run by the build for orvanta-launcher.exe, and by makensis (!finalize, !uninstfinalize) for the
# installer and the uninstaller it carries.
foreach(variable OSSLSIGNCODE FILE PFX PASSWORD_FILE)
  if(NOT DEFINED ${variable} OR "${${variable}}" STREQUAL "")
    message(FATAL_ERROR "sign.cmake needs -D${variable}=")
  endif()
endforeach()

set(timestamp)
if(TIMESTAMP_URL)
  set(timestamp -ts ${TIMESTAMP_URL})
endif()
set(name "${NAME}")
if(NOT name)
  get_filename_component(name "${FILE}" NAME)
endif()
set(signed "${FILE}.signed")
file(REMOVE "${signed}")
execute_process(
  COMMAND ${OSSLSIGNCODE} sign -pkcs12 ${PFX} -readpass ${PASSWORD_FILE} -h sha256
          -n "Orvanta Launcher" ${timestamp} -in ${FILE} -out ${signed}
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  file(REMOVE "${signed}")
  message(FATAL_ERROR "Could not sign ${name} with ${PFX}:\n${output}")
endif()
file(RENAME "${signed}" "${FILE}")
message(STATUS "Signed ${name}")
