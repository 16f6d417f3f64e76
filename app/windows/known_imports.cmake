# Fails unless every DLL in the program's ordinary import table is a KnownDLL, which Windows takes
# from System32 whatever lies beside the program; the others must be delay-loaded.
#   cmake -DOBJDUMP=... -DPROGRAM=... -P known_imports.cmake
cmake_policy(SET CMP0057 NEW) # if(... IN_LIST ...)
set(known advapi32 comdlg32 gdi32 imm32 kernel32 msvcrt ole32 oleaut32 rpcrt4 setupapi shell32
          shlwapi user32 ws2_32)
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "DLL Name: [^\n]+" names "${headers}")
if(NOT names)
  message(FATAL_ERROR "${PROGRAM} shows no import table")
endif()
foreach(entry ${names})
  string(REGEX REPLACE "DLL Name: (.+)\\.[dD][lL][lL]" "\\1" dll "${entry}")
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST known)
    message(FATAL_ERROR "${PROGRAM} imports ${dll}.dll at start, which is not a KnownDLL")
  endif()
endforeach()
message(STATUS "${PROGRAM} imports only KnownDLLs at start")
