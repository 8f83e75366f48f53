# Builds the import library of Q32VEX.dll. The DLL exports undecorated names
# (linked with --kill-at from Q32VEX.def), but a C host that includes q32vex.h
# calls _Name@N, so the import library must carry the decorated symbols with
# the undecorated import names. The argument sizes N are read back from the
# compiled objects, so Q32VEX.def stays the only list of names and ordinals.
#
# Inputs: DEF, NM, DLLTOOL, OBJECTS (joined with '|'), DLL_NAME, WORK_DEF, IMPLIB.
string(REPLACE "|" ";" object_list "${OBJECTS}")
execute_process(COMMAND ${NM} -g --defined-only ${object_list}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE nm_result)
if(NOT nm_result EQUAL 0)
  message(FATAL_ERROR "nm failed on the library objects")
endif()
string(REGEX MATCHALL "_AppVex[A-Za-z]+@[0-9]+" decorated "${symbols}")
foreach(sym ${decorated})
  string(REGEX REPLACE "^_([A-Za-z]+)@([0-9]+)$" "\\1" name "${sym}")
  string(REGEX REPLACE "^_([A-Za-z]+)@([0-9]+)$" "\\2" bytes "${sym}")
  set(args_${name} ${bytes})
endforeach()

file(STRINGS "${DEF}" def_lines)
set(out "LIBRARY ${DLL_NAME}\nEXPORTS\n")
foreach(line ${def_lines})
  if(line MATCHES "^[ \t]*([A-Za-z]+)[ \t]*=[ \t]*([A-Za-z]+)[ \t]+@([0-9]+)")
    # A second name for an existing entry: same arguments as its target.
    set(alias ${CMAKE_MATCH_1})
    set(target ${CMAKE_MATCH_2})
    set(ordinal ${CMAKE_MATCH_3})
    if(NOT DEFINED args_${target})
      message(FATAL_ERROR "${target} (aliased as ${alias}) is not a stdcall symbol")
    endif()
    string(APPEND out "    ${alias}@${args_${target}} = ${target}@${args_${target}} @${ordinal}\n")
  elseif(line MATCHES "^[ \t]*([A-Za-z]+)[ \t]+@([0-9]+)")
    set(name ${CMAKE_MATCH_1})
    if(NOT DEFINED args_${name})
      message(FATAL_ERROR "${name} is listed in the .def but no object defines it as stdcall")
    endif()
    string(APPEND out "    ${name}@${args_${name}} @${CMAKE_MATCH_2}\n")
  endif()
endforeach()
file(WRITE "${WORK_DEF}" "${out}")
execute_process(COMMAND ${DLLTOOL} --kill-at -d ${WORK_DEF} -D ${DLL_NAME} -l ${IMPLIB}
                RESULT_VARIABLE dlltool_result)
if(NOT dlltool_result EQUAL 0)
  message(FATAL_ERROR "dlltool failed to write ${IMPLIB}")
endif()
