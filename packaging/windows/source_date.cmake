# The time a build stamps on the installer's files: $SOURCE_DATE_EPOCH when set, else the time of
# the source tree's last commit, else nothing (empty).
function(orvanta_source_date result source_dir)
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
  if(epoch STREQUAL "" AND source_dir)
    execute_process(COMMAND git -C ${source_dir} log -1 --format=%ct
                    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    set(epoch "")
  endif()
  set(${result} "${epoch}" PARENT_SCOPE)
endfunction()

# As a script, it keeps that time in a file, rewritten only when it changes, so a new commit
# remakes the installer:  cmake -DSOURCE_DIR=<tree> -DOUTPUT=<file> -P source_date.cmake
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE AND OUTPUT)
  orvanta_source_date(epoch "${SOURCE_DIR}")
  file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT "${epoch}\n" @ONLY)
endif()
