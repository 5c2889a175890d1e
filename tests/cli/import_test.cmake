# Drives "tamaril-cli import" on SQLite databases built here with Python's sqlite3 module: a client
# exports with "tamaril-cli export", the center imports the archive from its import folder.
# Arguments: -DCLI=<program> -DWORK=<scratch folder>

cmake_minimum_required(VERSION 3.25)

include("${CMAKE_CURRENT_LIST_DIR}/sqlite_helpers.cmake")
# The runs must not find a controlling terminal, also when the tests are started from one.
find_program(SETSID NAMES setsid REQUIRED)
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/user" "${WORK}/data" "${WORK}/home" "${WORK}/imports" "${WORK}/done")
set(ENV{HOME} "${WORK}/user")
set(home "${WORK}/home")
set(exports "${WORK}/user/ZRTdata/Tamaril/EXPORTS")
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

set(schema "
  CREATE TABLE Customers (Id integer PRIMARY KEY, Name varchar(40));
  CREATE TABLE Orders (Id integer PRIMARY KEY, CustomerId integer REFERENCES Customers(Id), Amount integer);")
sql(shop "${schema}
  INSERT INTO Customers VALUES (1, 'Alfa'), (2, 'Beta'), (3, 'Gama');
  INSERT INTO Orders VALUES (10, 1, 5);")
sql(center "${schema}")

set(plain_connection "Provider=SQLite;Data Source=${WORK}/data")
string(REPLACE ";" "\\;" connection "${plain_connection}")
run(0 settings --set "IMPFLDR=${imports}")
run(0 defs add --export --signature SHOP --partner Centrum --connection "${connection}" --database shop)
run(0 defs add --import --signature SHOP --partner Pobocka --connection "${connection}" --database center)
run(0 setup-script --export SHOP --apply --yes)
run(0 setup-script --import SHOP --apply --yes)
sql(shop "INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule, LISTORDER) VALUES
  ('SHOP', 'Customers', 'ANO', 1), ('SHOP', 'Orders', 'ANO', 2);")
sql(center "INSERT INTO rep_DEFIMPORT (Signature, TABLENAME, AppendRule, LISTORDER) VALUES
  ('SHOP', 'Customers', 'ANO', 1), ('SHOP', 'Orders', 'ANO', 2);")
run(0 export SHOP)
# COPY_FILE, not file(COPY): that one keeps a destination with the same time stamp, and two
# exports within one time-stamp tick would leave the older archive in the import folder.
file(COPY_FILE "${exports}/SHOP.ZR2" "${imports}/SHOP.ZR2")

# An empty center is not a reason to fail: the import folder's archive is what matters below.
# Without a terminal the backup question needs its flag before anything changes.
run(2 import)
expect_contains("${err}" "--backup yes|no|all|none" "no terminal, no --backup")
expect_query(center "SELECT count(*) FROM Customers" "0\n" "a refused run changed the center")
expect_query(center "SELECT count(*) FROM rep_IMPORTLOG" "0\n" "a refused run logged")
run(2 import --backup yes)
expect_contains("${err}" "--restore yes|no" "a backup without --restore")
expect_query(center "SELECT count(*) FROM Customers" "0\n" "a refused run changed the center")

run(0 import --backup no --verbose)
foreach(part "Import úspěšně dokončen\n" "Archiv: SHOP.ZR2\n  Signature: SHOP, EXPORTNO: 1\n  IMPORTNO: 1\n"
        "  zpracováno: 4, duplicitní: 0, přidáno: 4, aktualizováno: 0, smazáno: 0, ignorováno: 0, konflikty: 0\n"
        "Celkem:\n")
  expect_contains("${out}" "${part}" "the first import")
endforeach()
# The log lines come before the summary, time-stamped.
if(NOT out MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+ [0-9:]+ :")
  message(FATAL_ERROR "--verbose printed no log line first:\n${out}")
endif()
expect_query(center "SELECT Id, Name FROM Customers ORDER BY Id" "1|Alfa\n2|Beta\n3|Gama\n" "the first import")

# The same archive again: everything is a duplicate, and no log lines without --verbose.
run(0 import --backup none)
expect_contains("${out}" "zpracováno: 4, duplicitní: 4, přidáno: 0" "the second import")
if(out MATCHES "^[0-9]+\\.")
  message(FATAL_ERROR "log lines without --verbose:\n${out}")
endif()

run(0 import --backup no --skip-imported)
expect_contains("${out}" "Archiv: SHOP.ZR2\n  Signature: SHOP, EXPORTNO: 1\n  přeskočen, již importován\n"
                "--skip-imported")
expect_query(center "SELECT count(*) FROM rep_IMPORTLOG" "2\n" "--skip-imported logged")

# A new export, moved to the done folder once committed; the empty folder then needs no flag.
sql(shop "INSERT INTO Customers (Id, Name) VALUES (4, 'Delta');")
run(0 export SHOP)
file(COPY_FILE "${exports}/SHOP.ZR2" "${imports}/SHOP.ZR2")
run(0 import --backup no --skip-imported --done-folder "${WORK}/done")
expect_contains("${out}" "  Přesunut do: ${WORK}/done/SHOP.ZR2\n" "--done-folder")
if(NOT EXISTS "${WORK}/done/SHOP.ZR2" OR EXISTS "${imports}/SHOP.ZR2")
  message(FATAL_ERROR "--done-folder did not move the archive")
endif()
expect_query(center "SELECT Name FROM Customers WHERE Id = 4" "Delta\n" "the second export")
run(0 import)

# Customers no longer appended: the order's customer is missing, a conflict with its row.
sql(center "UPDATE rep_DEFIMPORT SET AppendRule = NULL WHERE TABLENAME = 'Customers';
  DELETE FROM Orders; DELETE FROM Customers;")
file(COPY_FILE "${WORK}/done/SHOP.ZR2" "${imports}/SHOP.ZR2")
run(3 import --backup no)
foreach(part "Při importu se vyskytly chyby\n" "konflikty: 1\n" "Konflikty:\n" "Archiv: SHOP.ZR2\n"
        "Databáze: center\n" "row 1\n" "...\n")
  expect_contains("${out}" "${part}" "a conflict")
endforeach()
expect_query(center "SELECT count(*) FROM Orders" "0\n" "a conflict")

# A center that is not ready for the import is an error on standard error.
file(COPY_FILE "${WORK}/done/SHOP.ZR2" "${imports}/SHOP.ZR2")
sql(center "DROP TABLE rep_IMPORTLOG;")
run(1 import --backup no)
if(NOT err MATCHES "^tamaril-cli: ")
  message(FATAL_ERROR "an error without its message: ${err}")
endif()
