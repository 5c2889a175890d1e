# Drives "tamaril-cli log": the import's log file, stored in Windows-1250 with CR LF, shown in
# UTF-8 with LF, whole or its last lines, and left as it is.
# Arguments: -DCLI=<program> -DWORK=<scratch folder>

cmake_minimum_required(VERSION 3.25)

include("${CMAKE_CURRENT_LIST_DIR}/sqlite_helpers.cmake")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/user" "${WORK}/home" "${WORK}/logs")
set(ENV{HOME} "${WORK}/user")
set(log "${WORK}/logs/kelmlog.txt")

function(run expected_rc)
  execute_process(COMMAND "${CLI}" --home "${WORK}/home" ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_rc)
    message(FATAL_ERROR "'${ARGN}' ended with ${rc} instead of ${expected_rc}:\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

run(0 settings --set "LOGFILE=${log}" --set DOLOG=0)
run(1 log)
if(NOT err STREQUAL "tamaril-cli: Log soubor ${log} nelze otevřít: soubor neexistuje; import do logu nezapisuje (DOLOG=0)\n")
  message(FATAL_ERROR "a missing log: ${err}")
endif()

# Three lines as the import writes them.
execute_process(COMMAND "${PYTHON}" -c
  "import sys; open(sys.argv[1], 'wb').write(''.join(l + '\\r\\n' for l in sys.argv[2:]).encode('cp1250'))"
  "${log}" "7.12.2026 2:30:04 :Startuji import" "7.12.2026 2:30:05 :Cílová tabulka je nyní Žluťoučký"
  "7.12.2026 2:30:06 :záznam přidán(RG={11111111-1111-4111-8111-111111111111})" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the log was not written")
endif()
file(SHA256 "${log}" stored)

run(0 log)
set(all "7.12.2026 2:30:04 :Startuji import\n7.12.2026 2:30:05 :Cílová tabulka je nyní Žluťoučký\n\
7.12.2026 2:30:06 :záznam přidán(RG={11111111-1111-4111-8111-111111111111})\n")
if(NOT out STREQUAL all)
  message(FATAL_ERROR "log printed\n${out}instead of\n${all}")
endif()
run(0 log --tail 2)
if(NOT out STREQUAL "7.12.2026 2:30:05 :Cílová tabulka je nyní Žluťoučký\n\
7.12.2026 2:30:06 :záznam přidán(RG={11111111-1111-4111-8111-111111111111})\n")
  message(FATAL_ERROR "log --tail 2 printed\n${out}")
endif()
run(0 log --tail 0)
if(NOT out STREQUAL "")
  message(FATAL_ERROR "log --tail 0 printed\n${out}")
endif()
run(1 log --tail -1)
expect_contains("${err}" "Chybná hodnota volby --tail '-1'" "a negative --tail")
file(SHA256 "${log}" after)
if(NOT stored STREQUAL after)
  message(FATAL_ERROR "log changed the log file")
endif()
