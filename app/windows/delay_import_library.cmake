# Makes a delay-import library for one DLL from the toolchain's ordinary import library: the same
# functions, but the DLL is loaded at the first call to one of them instead of at process start.
#   cmake -DNM=... -DDLLTOOL=... -DIMPORT_LIBRARY=... -DDLL=name.dll -DOUTPUT=lib<name>.a -P ...
execute_process(COMMAND ${NM} ${IMPORT_LIBRARY} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL " I __imp_[^\n]+" imports "${symbols}")
list(TRANSFORM imports REPLACE " I __imp_" "")
list(REMOVE_DUPLICATES imports)
if(NOT imports)
  message(FATAL_ERROR "${IMPORT_LIBRARY} names no function")
endif()
list(JOIN imports "\n" exports)
set(definitions ${OUTPUT}.def)
file(WRITE ${definitions} "LIBRARY ${DLL}\nEXPORTS\n${exports}\n")
# dlltool names the library's symbols after the output's path: given from its own folder, they
# hold no build folder, and the launcher is the same wherever it is built.
get_filename_component(output_dir ${OUTPUT} DIRECTORY)
get_filename_component(output_name ${OUTPUT} NAME)
execute_process(COMMAND ${DLLTOOL} --input-def ${definitions} --dllname ${DLL}
                        --output-delaylib ${output_name}
                WORKING_DIRECTORY ${output_dir} COMMAND_ERROR_IS_FATAL ANY)
