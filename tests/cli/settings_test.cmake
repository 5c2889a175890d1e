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

# First start: the defaults, all in the program's folder given with --home, and an ini file with
# every key; nothing is made under $HOME.
execute_process(COMMAND "${CLI}" --home "${home}" settings
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "settings failed (${rc}): ${err}")
endif()
set(expected "EXPFLDR=${home}/EXPORTS\nIMPFLDR=${home}/IMPORTS\nLOGFILE=${home}/kelmlog.txt\nDOLOG=0\nBAKCOUNT=5\n")
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "first start printed\n${out}\ninstead of\n${expected}")
endif()
file(READ "${home}/tamaril.ini" ini)
foreach(line "[PATHS]" "EXPFLDR=" "IMPFLDR=" "LOGFILE=" "[SETTINGS]" "DOLOG=0" "BAKCOUNT=5")
  expect_contains("${ini}" "${line}" "tamaril.ini after the first start")
endforeach()
foreach(folder EXPORTS IMPORTS)
  if(NOT IS_DIRECTORY "${home}/${folder}")
    message(FATAL_ERROR "the default ${folder} folder was not created")
  endif()
endforeach()
if(EXISTS "${WORK}/user/ZRTdata")
  message(FATAL_ERROR "with --home the first start still made folders under \$HOME")
endif()
# A relative --home is the same folder: the same defaults, made absolute.
execute_process(COMMAND "${CLI}" --home home settings WORKING_DIRECTORY "${WORK}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out STREQUAL expected)
  message(FATAL_ERROR "a relative --home ended with ${rc} and printed\n${out}${err}\ninstead of\n${expected}")
endif()

# A change sticks, also for a later run; global options may follow the command.
file(MAKE_DIRECTORY "${WORK}/příjem")
execute_process(COMMAND "${CLI}" settings --home "${home}" --set DOLOG=1 --set "IMPFLDR=${WORK}/příjem" --set BAKCOUNT=12
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "settings --set failed (${rc}): ${err}")
endif()
execute_process(COMMAND "${CLI}" --home "${home}" settings OUTPUT_VARIABLE out)
expect_contains("${out}" "DOLOG=1\n" "after --set DOLOG=1")
expect_contains("${out}" "IMPFLDR=${WORK}/příjem\n" "after --set IMPFLDR")
expect_contains("${out}" "BAKCOUNT=12\n" "after --set BAKCOUNT=12")

# Bad input: an unknown key, a bad switch value, a missing common file, folders that do not exist
# (for the log file: its folder).
foreach(args "settings;--set;COLOR=red" "settings;--set;DOLOG=maybe" "settings;--set;BAKCOUNT=-1"
             "settings;--set;BAKCOUNT=pět" "settings;--set;BAKCOUNT=100001" "--common;${WORK}/none.ini;settings"
             "settings;--set;EXPFLDR=${WORK}/nikde" "settings;--set;IMPFLDR=${WORK}/nikde"
             "settings;--set;LOGFILE=${WORK}/nikde/log.txt")
  execute_process(COMMAND "${CLI}" --home "${home}" ${args}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 1 OR err STREQUAL "")
    message(FATAL_ERROR "'${args}' should fail with a message, got ${rc}: ${err}")
  endif()
endforeach()
file(READ "${home}/tamaril.ini" ini_after)
expect_contains("${ini_after}" "DOLOG=1" "a refused change left the file alone")
expect_contains("${ini_after}" "BAKCOUNT=12" "a refused count left the file alone")

# A value with a line break would split the ini line: refused, the file unchanged.
execute_process(COMMAND "${CLI}" --home "${home}" settings "--set=LOGFILE=a\nDOLOG=0"
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 1 OR NOT err STREQUAL "tamaril-cli: Hodnota pole LOGFILE nesmí obsahovat konec řádku\n")
  message(FATAL_ERROR "a line break in a setting ended with ${rc}: ${err}")
endif()
file(READ "${home}/tamaril.ini" ini_after)
expect_contains("${ini_after}" "DOLOG=1" "a refused line break left the file alone")

# The program folder must exist: a mistyped one is an error with its path, not a new empty site.
execute_process(COMMAND "${CLI}" --home "${WORK}/hoem" settings RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 1 OR NOT err STREQUAL "tamaril-cli: Složka programu ${WORK}/hoem neexistuje\n" OR EXISTS "${WORK}/hoem")
  message(FATAL_ERROR "a missing --home folder ended with ${rc}: ${out}${err}")
endif()

# The program's name and full version; the command line's own errors in Czech.
execute_process(COMMAND "${CLI}" --version RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out MATCHES "^tamaril-cli [0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+\n$")
  message(FATAL_ERROR "--version ended with ${rc} and printed '${out}'")
endif()
foreach(case
    "defs|tamaril-cli: Chybí příkaz; známé příkazy: list, show, add, edit, remove"
    "defs;shw|tamaril-cli: Neznámý příkaz 'shw'; známé příkazy: list, show, add, edit, remove"
    "defs;show;--export|tamaril-cli: Chybí povinná volba --signature"
    "settings;--colour|tamaril-cli: Neznámá volba --colour"
    "settings;navíc|tamaril-cli: Nadbytečný argument navíc"
    "memtable;dump|tamaril-cli: Chybí povinný argument SOUBOR"
    "settings;--set|tamaril-cli: Volba --set očekává hodnotu")
  string(FIND "${case}" "|" bar)
  math(EXPR after_bar "${bar} + 1")
  string(SUBSTRING "${case}" ${after_bar} -1 expected)
  string(SUBSTRING "${case}" 0 ${bar} case)
  execute_process(COMMAND "${CLI}" --home "${home}" ${case} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 1 OR NOT err STREQUAL "${expected}\n")
    message(FATAL_ERROR "'${case}' ended with ${rc} and printed\n${out}${err}\ninstead of\n${expected}")
  endif()
endforeach()
# A mistyped command is named and the known ones listed, on one line.
execute_process(COMMAND "${CLI}" --home "${home}" sttings RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 1 OR NOT err MATCHES "^tamaril-cli: Neznámý příkaz 'sttings'; známé příkazy: settings, defs, [a-z, -]*eval[a-z, -]*demo[a-z, -]*\n$")
  message(FATAL_ERROR "'sttings' ended with ${rc} and printed\n${out}${err}")
endif()
if(NOT err MATCHES ", import[,\n]")
  message(FATAL_ERROR "the known commands lack import: ${err}")
endif()
execute_process(COMMAND "${CLI}" defs add --help RESULT_VARIABLE rc OUTPUT_VARIABLE out)
foreach(line "Použití: tamaril-cli defs add [VOLBY]" "Volby:" "--signature HODNOTA POVINNÉ")
  expect_contains("${out}" "${line}" "defs add --help")
endforeach()
