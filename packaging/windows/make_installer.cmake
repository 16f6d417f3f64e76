# Makes the installer: stages what it carries in one folder, gives the staged files the time of
# the last commit, so the same commit always makes the same installer (makensis keeps each file's
# time), and runs makensis. With a certificate, makensis has the installer and the uninstaller
# inside it signed as it writes them.
#
#   cmake -DMAKENSIS= -DSCRIPT=<orvanta-launcher.nsi> -DSTAGE=<folder> -DOUTFILE=<setup.exe>
#         -DVERSION= -DVERSION_QUAD= -DLAUNCHER_EXE= -DFONTS_DIR= -DLICENSES_DIR= -DICON=
#         -DWELCOME_BITMAP= -DSOURCE_DIR=<git checkout>
#         [-DPFX= -DPASSWORD_FILE= [-DTIMESTAMP_URL=] -DOSSLSIGNCODE= -DSIGN_SCRIPT=<sign.cmake>]
#         -P make_installer.cmake
#
# The time comes from $SOURCE_DATE_EPOCH, else from the source tree's last commit.
foreach(variable MAKENSIS SCRIPT STAGE OUTFILE VERSION VERSION_QUAD LAUNCHER_EXE FONTS_DIR
                 LICENSES_DIR ICON WELCOME_BITMAP)
  if(NOT DEFINED ${variable} OR "${${variable}}" STREQUAL "")
    message(FATAL_ERROR "make_installer.cmake needs -D${variable}=")
  endif()
endforeach()

file(REMOVE_RECURSE "${STAGE}")
file(MAKE_DIRECTORY "${STAGE}/fonts" "${STAGE}/licenses")
file(COPY_FILE "${LAUNCHER_EXE}" "${STAGE}/orvanta-launcher.exe")
foreach(font Nunito-Bold.ttf Nunito-Regular.ttf OFL.txt)
  file(COPY_FILE "${FONTS_DIR}/${font}" "${STAGE}/fonts/${font}")
endforeach()
file(GLOB notices "${LICENSES_DIR}/*")
file(COPY ${notices} DESTINATION "${STAGE}/licenses")
# The pages' picture travels as a file too, with its time.
file(COPY_FILE "${ICON}" "${STAGE}/orvanta-launcher.ico")
file(COPY_FILE "${WELCOME_BITMAP}" "${STAGE}/welcome.bmp")

include(${CMAKE_CURRENT_LIST_DIR}/source_date.cmake)
orvanta_source_date(epoch "${SOURCE_DIR}")
if(epoch)
  file(GLOB_RECURSE staged LIST_DIRECTORIES true "${STAGE}/*")
  execute_process(COMMAND touch -h -d @${epoch} ${staged} RESULT_VARIABLE touched)
  if(NOT touched EQUAL 0)
    message(FATAL_ERROR "Could not set the time of the installer's files")
  endif()
else()
  message(STATUS "No SOURCE_DATE_EPOCH and no git history: the installer keeps the build's file "
                 "times and differs from build to build")
endif()

set(signing)
if(PFX)
  # makensis runs these through the shell with %1 the program it has just written.
  foreach(path CMAKE_COMMAND OSSLSIGNCODE PFX PASSWORD_FILE SIGN_SCRIPT TIMESTAMP_URL)
    if("${${path}}" MATCHES "['$]")
      message(FATAL_ERROR "${path} may not hold ' or $ for the installer's signing command")
    endif()
  endforeach()
  set(command "\"${CMAKE_COMMAND}\" \"-DOSSLSIGNCODE=${OSSLSIGNCODE}\" \"-DPFX=${PFX}\" \
\"-DPASSWORD_FILE=${PASSWORD_FILE}\" \"-DTIMESTAMP_URL=${TIMESTAMP_URL}\" \"-DFILE=%1\"")
  set(script "-P \"${SIGN_SCRIPT}\"")
  file(WRITE "${STAGE}/signing.nsh"
       "!finalize '${command} -DNAME=installer ${script}' = 0
!uninstfinalize '${command} -DNAME=uninstall.exe ${script}' = 0
")
  set(signing "-DSIGNING=${STAGE}/signing.nsh")
endif()

set(partial "${OUTFILE}.partial")
file(REMOVE "${partial}")
execute_process(
  COMMAND ${MAKENSIS} -V2 -DVERSION=${VERSION} -DVERSION_QUAD=${VERSION_QUAD} -DSTAGE=${STAGE}
          -DICON=${STAGE}/orvanta-launcher.ico -DWELCOME_BITMAP=${STAGE}/welcome.bmp
          -DOUTFILE=${partial} ${signing}
          ${SCRIPT}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE "${partial}")
  message(FATAL_ERROR "makensis could not make ${OUTFILE}")
endif()
file(RENAME "${partial}" "${OUTFILE}")
