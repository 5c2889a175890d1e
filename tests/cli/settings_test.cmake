# Drives "tamaril-cli settings" as a user would, on an empty program folder.
# Arguments: -DCLI=<program> -DWORK=<scratch folder>

cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/user" "${WORK}/home")
set(ENV{HOME} "${WORK}/user")
set(home "${WORK}/home")

function(expect_contains haystack needle what)
  string(FIND "${haystack}" "${needle}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${what}: expected to find\n${needle}\nin\n${haystack}")
  endif()
endfunction()

# First start: the four defaults, and an ini file with every key.
execute_process(COMMAND "${CLI}" --home "${home}" settings
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "settings failed (${rc}): ${err}")
endif()
set(expected "EXPFLDR=${WORK}/user/ZRTdata/Tamaril/EXPORTS\nIMPFLDR=${WORK}/user/ZRTdata/Tamaril/IMPORTS\nLOGFILE=${WORK}/user/ZRTdata/Tamaril/kelmlog.txt\nDOLOG=0\n")
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "first start printed\n${out}\ninstead of\n${expected}")
endif()
file(READ "${home}/tamaril.ini" ini)
foreach(line "[PATHS]" "EXPFLDR=" "IMPFLDR=" "LOGFILE=" "[SETTINGS]" "DOLOG=0")
  expect_contains("${ini}" "${line}" "tamaril.ini after the first start")
endforeach()
foreach(folder EXPORTS IMPORTS)
  if(NOT IS_DIRECTORY "${WORK}/user/ZRTdata/Tamaril/${folder}")
    message(FATAL_ERROR "the default ${folder} folder was not created")
  endif()
endforeach()

# A change sticks, also for a later run; global options may follow the command.
execute_process(COMMAND "${CLI}" settings --home "${home}" --set DOLOG=1 --set "IMPFLDR=${WORK}/příjem"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "settings --set failed (${rc}): ${err}")
endif()
execute_process(COMMAND "${CLI}" --home "${home}" settings OUTPUT_VARIABLE out)
expect_contains("${out}" "DOLOG=1\n" "after --set DOLOG=1")
expect_contains("${out}" "IMPFLDR=${WORK}/příjem\n" "after --set IMPFLDR")

# Bad input: an unknown key, a bad switch value, a missing common file.
foreach(args "settings;--set;COLOR=red" "settings;--set;DOLOG=maybe" "--common;${WORK}/none.ini;settings")
  execute_process(COMMAND "${CLI}" --home "${home}" ${args}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 1 OR err STREQUAL "")
    message(FATAL_ERROR "'${args}' should fail with a message, got ${rc}: ${err}")
  endif()
endforeach()
file(READ "${home}/tamaril.ini" ini_after)
expect_contains("${ini_after}" "DOLOG=1" "a refused change left the file alone")
