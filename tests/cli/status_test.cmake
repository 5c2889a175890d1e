# Drives "tamaril-cli status" on SQLite databases built here with Python's sqlite3 module: a client
# exports with "tamaril-cli export", the center imports; the status follows the transfers, a gap
# and a branch gone silent, and a definition whose database cannot be read.
# Arguments: -DCLI=<program> -DWORK=<scratch folder>

cmake_minimum_required(VERSION 3.25)

include("${CMAKE_CURRENT_LIST_DIR}/sqlite_helpers.cmake")
find_program(SETSID NAMES setsid REQUIRED)
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/user" "${WORK}/data" "${WORK}/home" "${WORK}/imports")
set(ENV{HOME} "${WORK}/user")
set(home "${WORK}/home")
set(exports "${home}/EXPORTS")
set(imports "${WORK}/imports")

# Runs the program without a terminal; checks the exit status, leaves out and err.
function(run expected_rc)
  execute_process(COMMAND "${SETSID}" -w "${CLI}" --home "${home}" ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_rc)
    message(FATAL_ERROR "'${ARGN}' ended with ${rc} instead of ${expected_rc} and printed\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

function(expect_missing text part what)
  string(FIND "${text}" "${part}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "${what}: '${part}' found in\n${text}")
  endif()
endfunction()

run(0 status)
if(NOT out STREQUAL "Definice importu:\n  žádné\nDefinice exportu:\n  žádné\n")
  message(FATAL_ERROR "the status without definitions:\n${out}")
endif()
run(1 status --stale-days -1)
expect_contains("${err}" "--stale-days '-1'; čeká se celé číslo 0 nebo větší" "a negative threshold")
run(1 status --stale-days abc)
expect_contains("${err}" "--stale-days 'abc'" "a threshold that is no number")

set(schema "CREATE TABLE Customers (Id integer PRIMARY KEY, Name varchar(40));")
sql(shop "${schema} INSERT INTO Customers VALUES (1, 'Alfa'), (2, 'Beta');")
sql(center "${schema}")
set(plain_connection "Provider=SQLite;Data Source=${WORK}/data")
string(REPLACE ";" "\\;" connection "${plain_connection}")
run(0 settings --set "IMPFLDR=${imports}")
run(0 defs add --export --signature SHOP --partner Centrum --connection "${connection}" --database shop)
run(0 defs add --import --signature SHOP --partner Pobočka --connection "${connection}" --database center)
run(0 setup-script --export SHOP --apply --yes)
run(0 setup-script --import SHOP --apply --yes)
sql(shop "INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule, LISTORDER) VALUES ('SHOP', 'Customers', 'ANO', 1);")
sql(center "INSERT INTO rep_DEFIMPORT (Signature, TABLENAME, AppendRule, LISTORDER) VALUES ('SHOP', 'Customers', 'ANO', 1);")

# Nothing transferred yet: the branch has never delivered.
run(3 status)
foreach(part "Definice importu:\n  SHOP (Pobočka), databáze center\n    zatím nic neimportováno\n"
        "    POZOR: pobočka SHOP dosud bez přenosu\n"
        "Definice exportu:\n  SHOP (Centrum), databáze shop\n    zatím nic neexportováno\n")
  expect_contains("${out}" "${part}" "before the first transfer")
endforeach()

# Exported: the archive waits in the export folder, then in the center's import folder.
run(0 export SHOP)
file(COPY_FILE "${exports}/SHOP.ZR2" "${imports}/SHOP.ZR2")
run(3 status)
foreach(part "    poslední export: č. 1 z " ", 2 řádky\n    archiv SHOP.ZR2 čeká ve složce exportu\n"
        "    čeká ve složce importu: SHOP.ZR2, přenos č. 1 z ")
  expect_contains("${out}" "${part}" "an archive on its way")
endforeach()

# Imported and taken away: all is well.
run(0 import --backup no --done-folder "${WORK}/done")
file(REMOVE "${exports}/SHOP.ZR2")
run(0 status)
foreach(part "    poslední přenos: č. 1 z " "(import č. 1, dnes)\n"
        "    archiv už ve složce exportu není (odvezen)\n")
  expect_contains("${out}" "${part}" "after the import")
endforeach()
expect_missing("${out}" "POZOR" "after the import")
expect_missing("${out}" "čeká" "after the import")

# The last import ten days back: flagged with the default threshold, not with a longer one.
sql(center "UPDATE rep_IMPORTLOG SET IMPORTDATE = strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-10 days', '-1 hours');")
run(3 status)
expect_contains("${out}" "    POZOR: pobočka SHOP bez přenosu 10 dní (práh 7 dní)\n" "a silent branch")
run(0 status --stale-days 10)
expect_missing("${out}" "POZOR" "a threshold above the silence")

# EXPORTNO 2 never arrives, 3 does: the gap is reported however recent the import.
run(0 export SHOP)
run(0 export SHOP)
file(COPY_FILE "${exports}/SHOP.ZR2" "${imports}/SHOP.ZR2")
run(3 import --backup no --done-folder "${WORK}/done")
run(3 status)
foreach(part "    poslední přenos: č. 3 z " "(import č. 2, dnes)\n" "    POZOR: chybí přenos č. 2\n")
  expect_contains("${out}" "${part}" "a gap")
endforeach()

# A definition whose database cannot be opened is reported and the others still are.
run(0 defs add --import --signature GONE --partner Sklad --connection "Provider=SQLite\\;Data Source=${WORK}/none"
    --database center)
run(1 status)
foreach(part "  GONE (Sklad), databáze center\n    CHYBA: " "    POZOR: chybí přenos č. 2\n"
        "Definice exportu:\n  SHOP (Centrum), databáze shop\n    poslední export: č. 3 z ")
  expect_contains("${out}" "${part}" "a database that cannot be opened")
endforeach()
