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
# Without a terminal the progress is a plain line per archive and table on standard error.
if(NOT err STREQUAL "Archiv 1 z 1: SHOP.ZR2, 4 řádky\n  Customers: 3 řádky\n  Orders: 1 řádek\n")
  message(FATAL_ERROR "the progress without a terminal:\n${err}")
endif()
# The log lines come before the summary, time-stamped.
if(NOT out MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+ [0-9:]+ :")
  message(FATAL_ERROR "--verbose printed no log line first:\n${out}")
endif()
expect_query(center "SELECT Id, Name FROM Customers ORDER BY Id" "1|Alfa\n2|Beta\n3|Gama\n" "the first import")

# The same archive again is refused (it could take back newer changes), with no log lines
# without --verbose; --skip-imported, once needed for that, is still accepted.
foreach(flag "" "--skip-imported")
  run(3 import --backup none ${flag})
  expect_contains("${out}" "Import dokončen s upozorněními\n" "the same archive again ${flag}")
  expect_contains("${out}" "Archiv: SHOP.ZR2\n  Signature: SHOP, EXPORTNO: 1\n  odmítnut: Přenos č. 1 už byl importován "
                  "the same archive again ${flag}")
  if(out MATCHES "^[0-9]+\\.")
    message(FATAL_ERROR "log lines without --verbose:\n${out}")
  endif()
endforeach()
expect_query(center "SELECT count(*) FROM rep_IMPORTLOG" "1\n" "a refused archive logged")
# --reimport merges it knowingly: everything is a duplicate.
run(0 import --backup none --reimport)
expect_contains("${out}" "zpracováno: 4, duplicitní: 4, přidáno: 0" "--reimport")
expect_query(center "SELECT count(*) FROM rep_IMPORTLOG" "2\n" "--reimport")
run(1 import --reimport --skip-imported)

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
run(3 import --backup no --reimport)
foreach(part "Při importu se vyskytly chyby\n" "konflikty: 1\n" "Konflikty:\n" "Archiv: SHOP.ZR2\n"
        "Databáze: center\n" "řádek 1\n" "...\n")
  expect_contains("${out}" "${part}" "a conflict")
endforeach()
expect_query(center "SELECT count(*) FROM Orders" "0\n" "a conflict")

file(REMOVE "${imports}/SHOP.ZR2")

# Another Signature of the same two databases: exports, rules, and its deletions applied.
function(add_signature signature)
  run(0 defs add --export --signature ${signature} --partner Centrum --connection "${connection}" --database shop)
  run(0 defs add --import --signature ${signature} --partner Filiálka --connection "${connection}" --database center)
  sql(shop "INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule, LISTORDER) VALUES
    ('${signature}', 'rep_DELETED', 'ANO', 0), ('${signature}', 'Customers', 'ANO', 1),
    ('${signature}', 'Orders', 'ANO', 2);")
  sql(center "INSERT INTO rep_DEFIMPORT (Signature, TABLENAME, AppendRule, UpdateRule, DeleteRule, LISTORDER) VALUES
    ('${signature}', 'rep_DELETED', 'ANO', 'ANO', 'ANO', 0), ('${signature}', 'Customers', 'ANO', 'ANO', 'ANO', 1),
    ('${signature}', 'Orders', 'ANO', 'ANO', 'ANO', 2);")
endfunction()
# Exports `signature` and keeps its archive as `name` in the work folder.
function(export_as signature name)
  run(0 export ${signature})
  file(COPY_FILE "${exports}/${signature}.ZR2" "${WORK}/${name}")
endfunction()
set(customers "SELECT Id, Name FROM Customers ORDER BY Id")

# EXPORTNO 2 first, then the late EXPORTNO 1: refused, the center stays as after 2.
add_signature(FIL)
sql(center "DELETE FROM Orders; DELETE FROM Customers;")
sql(shop "DELETE FROM Orders; DELETE FROM Customers; INSERT INTO Customers (Id, Name) VALUES (1, 'Alfa'), (2, 'Beta'), (3, 'Gama');
  INSERT INTO Orders (Id, CustomerId, Amount) VALUES (10, 3, 5);")
export_as(FIL fil-1.ZR2)
sql(shop "UPDATE Customers SET Name = 'Beta 2' WHERE Id = 2; DELETE FROM Orders; DELETE FROM Customers WHERE Id = 3;")
export_as(FIL fil-2.ZR2)
file(COPY_FILE "${WORK}/fil-2.ZR2" "${imports}/FIL-2.ZR2")
run(0 import --backup no --done-folder "${WORK}/done")
expect_query(center "${customers}" "1|Alfa\n2|Beta 2\n" "EXPORTNO 2")
file(COPY_FILE "${WORK}/fil-1.ZR2" "${imports}/FIL-1.ZR2")
run(3 import --backup no --done-folder "${WORK}/done")
expect_contains("${out}" "Archiv: FIL-1.ZR2\n  Signature: FIL, EXPORTNO: 1\n  odmítnut: Přenos č. 1 je starší než přenos č. 2 importovaný "
                "EXPORTNO 1 after 2")
expect_contains("${out}" "aby nevrátil novější změny\n" "EXPORTNO 1 after 2")
expect_query(center "${customers}" "1|Alfa\n2|Beta 2\n" "EXPORTNO 1 after 2 changed the center")
expect_query(center "SELECT count(*) FROM Orders" "0\n" "EXPORTNO 1 after 2 changed the center")
if(NOT EXISTS "${imports}/FIL-1.ZR2")
  message(FATAL_ERROR "the refused archive was moved away")
endif()
# Merged knowingly it takes back the later change and deletions.
run(0 import --backup no --reimport --done-folder "${WORK}/done")
expect_query(center "${customers}" "1|Alfa\n2|Beta\n3|Gama\n" "--reimport of EXPORTNO 1")

# EXPORTNO 1 and 3: both merged, the gap a warning.
add_signature(GAP)
export_as(GAP gap-1.ZR2)
export_as(GAP gap-2.ZR2)
sql(shop "INSERT INTO Customers (Id, Name) VALUES (5, 'Epsilon');")
export_as(GAP gap-3.ZR2)
file(COPY_FILE "${WORK}/gap-1.ZR2" "${imports}/GAP-1.ZR2")
file(COPY_FILE "${WORK}/gap-3.ZR2" "${imports}/GAP-3.ZR2")
run(3 import --backup no --done-folder "${WORK}/done")
foreach(part "Import dokončen s upozorněními\n" "Archiv: GAP-1.ZR2\n  Signature: GAP, EXPORTNO: 1\n  IMPORTNO: 1\n  zpracováno"
        "Archiv: GAP-3.ZR2\n  Signature: GAP, EXPORTNO: 3\n  IMPORTNO: 2\n  Upozornění: Chybí přenos č. 2 (naposledy importován přenos č. 1)\n")
  expect_contains("${out}" "${part}" "a gap")
endforeach()
expect_query(center "SELECT Name FROM Customers WHERE Id = 5" "Epsilon\n" "a gap")

# One good archive, one damaged and one of an unknown Signature: the good one goes in, the
# others are named with their reasons, and the run is an error.
run(0 defs add --export --signature CIZI --partner Jinde --connection "${connection}" --database shop)
sql(shop "INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule, LISTORDER) VALUES ('CIZI', 'Customers', 'ANO', 1);
  INSERT INTO Customers (Id, Name) VALUES (6, 'Zeta');")
run(0 export CIZI)
file(COPY_FILE "${exports}/CIZI.ZR2" "${imports}/B-CIZI.ZR2")
file(WRITE "${imports}/C-POSKOZENY.ZR2" "no archive")
export_as(GAP gap-4.ZR2)
file(COPY_FILE "${WORK}/gap-4.ZR2" "${imports}/A-GAP.ZR2")
run(1 import --backup no)
foreach(part "Archiv: A-GAP.ZR2\n  Signature: GAP, EXPORTNO: 4\n  IMPORTNO: 3\n"
        "Archiv: B-CIZI.ZR2\n  Signature: CIZI, EXPORTNO: 1\n  odmítnut: Identifikace přenosu CIZI není v seznamu definic importu\n"
        "Archiv: C-POSKOZENY.ZR2\n  odmítnut: Soubor nelze přečíst jako přenosový archiv: ")
  expect_contains("${out}" "${part}" "good, damaged and unknown")
endforeach()
expect_contains("${err}" "tamaril-cli: Import dokončen s chybami: neimportováno 2 z 3 archivů\n"
                "good, damaged and unknown")
expect_query(center "SELECT Name FROM Customers WHERE Id = 6" "Zeta\n" "good, damaged and unknown")
file(REMOVE "${imports}/A-GAP.ZR2" "${imports}/B-CIZI.ZR2" "${imports}/C-POSKOZENY.ZR2")

# An archive that fails after a good one is rolled back; the good one stays, and no restore is
# offered (with --restore yes a restore would take the good one back).
sql(shop "INSERT INTO Customers (Id, Name) VALUES (7, 'Eta');")
export_as(GAP gap-5.ZR2)
sql(shop "INSERT INTO Customers (Id, Name) VALUES (8, 'Theta');")
export_as(GAP gap-6.ZR2)
file(COPY_FILE "${WORK}/gap-5.ZR2" "${imports}/GAP-5.ZR2")
file(READ "${WORK}/gap-6.ZR2" whole HEX)
string(LENGTH "${whole}" hex_length)
math(EXPR cut_length "${hex_length} - 24")
string(SUBSTRING "${whole}" 0 ${cut_length} cut)
execute_process(COMMAND "${PYTHON}" -c "import sys; open(sys.argv[1], 'wb').write(bytes.fromhex(sys.argv[2]))"
  "${imports}/GAP-6.ZR2" "${cut}" RESULT_VARIABLE rc)
run(1 import --backup yes --restore yes)
foreach(part "Archiv: GAP-5.ZR2\n  Signature: GAP, EXPORTNO: 5\n  IMPORTNO: 4\n"
        "Archiv: GAP-6.ZR2\n  Signature: GAP, EXPORTNO: 6\n  neproveden, databáze ponechána beze změny: ")
  expect_contains("${out}" "${part}" "a failure after a good archive")
endforeach()
if(out MATCHES "Obnova|obnov")
  message(FATAL_ERROR "a restore after a rolled-back archive:\n${out}")
endif()
expect_query(center "SELECT Id FROM Customers WHERE Id >= 7" "7\n" "a failure after a good archive")
file(REMOVE "${imports}/GAP-5.ZR2" "${imports}/GAP-6.ZR2")

# A center that is not ready for the import is an error on standard error.
file(COPY_FILE "${WORK}/done/SHOP.ZR2" "${imports}/SHOP.ZR2")
sql(center "DROP TABLE rep_IMPORTLOG;")
run(1 import --backup no)
if(NOT err MATCHES "^tamaril-cli: ")
  message(FATAL_ERROR "an error without its message: ${err}")
endif()
