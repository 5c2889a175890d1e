# Drives "tamaril-cli export" on a SQLite database built here with Python's sqlite3 module.
# Arguments: -DCLI=<program> -DWORK=<scratch folder>

cmake_minimum_required(VERSION 3.25)

include("${CMAKE_CURRENT_LIST_DIR}/sqlite_helpers.cmake")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/user" "${WORK}/data" "${WORK}/home")
set(ENV{HOME} "${WORK}/user")
set(home "${WORK}/home")
set(exports "${home}/EXPORTS")

# Runs the program and checks the exit status and the whole standard output.
function(expect expected_rc expected_out)
  execute_process(COMMAND "${CLI}" --home "${home}" ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_rc OR NOT out STREQUAL "${expected_out}")
    message(FATAL_ERROR "'${ARGN}' ended with ${rc} and printed\n${out}${err}\ninstead of "
                        "${expected_rc} and\n${expected_out}")
  endif()
  set(err "${err}" PARENT_SCOPE)
endfunction()

sql(shop "
  CREATE TABLE rep_USERFK (ID integer PRIMARY KEY, PK_TableName varchar(40), FK_TableName varchar(40),
    ConstraintName varchar(40), PK_Field varchar(40), FK_Field varchar(40));
  CREATE TABLE rep_DELETED (SUCCNO integer PRIMARY KEY, TABLENAME varchar(20) NOT NULL, RECORDGUID varchar(38),
    RECORDID int, DELTIME datetime);
  CREATE TABLE rep_TBLDESC (TABLENAME varchar(20) PRIMARY KEY, TABLEDESC nvarchar(50), LISTORDER int);
  CREATE TABLE rep_DEFEXPORT (Signature varchar(10) NOT NULL, TABLENAME varchar(20) NOT NULL, ExportRule text,
    LastExportDate datetime, LISTORDER int NOT NULL DEFAULT 0, PRIMARY KEY (Signature, TABLENAME));
  CREATE TABLE rep_XPORTLOG (Signature varchar(10) NOT NULL, EXPORTNO int NOT NULL, EXPORTDATE datetime NOT NULL,
    SERVEREXPORTDATE datetime NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')),
    PRIMARY KEY (Signature, EXPORTNO));
  CREATE TABLE rep_XPORTLOGDETAIL (Signature varchar(10) NOT NULL, EXPORTNO int NOT NULL,
    TABLENAME varchar(20) NOT NULL, COUNTRECORDS int NOT NULL DEFAULT 0, PRIMARY KEY (Signature, EXPORTNO, TABLENAME));
  CREATE TABLE Items (Id integer PRIMARY KEY, Name varchar(20), rep_Date_Inserted datetime,
    rep_Signature_Inserted varchar(10), rep_Date_Updated datetime, rep_Signature_Updated varchar(10));
  CREATE TRIGGER rep_tr_Del_Items AFTER DELETE ON Items BEGIN SELECT 1; END;
  CREATE TRIGGER rep_tr_Ins_Items AFTER INSERT ON Items BEGIN SELECT 1; END;
  INSERT INTO rep_TBLDESC VALUES ('rep_DELETED', 'Deleted', 0), ('Items', 'Items', 1);
  INSERT INTO Items (Id, Name) VALUES (1, 'one'), (2, 'two'), (3, 'three');")

set(plain_connection "Provider=SQLite;Data Source=${WORK}/data")
string(REPLACE ";" "\\;" connection "${plain_connection}")
expect(0 "" defs add --export --signature SHOP --partner Centrum --connection "${connection}" --database shop)

# Without a rule row the definition is missing in the database.
expect(1 "" export SHOP)
if(NOT err MATCHES "Databáze shop nemá pro centrum Centrum založenou definici exportu")
  message(FATAL_ERROR "a missing definition: ${err}")
endif()
if(EXISTS "${exports}/SHOP.ZR2")
  message(FATAL_ERROR "a failed export left an archive")
endif()

sql(shop "INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule) VALUES ('SHOP', 'Items', 'ID > 1');")
expect(0 "Export úspěšně dokončen\nPořadí exportu: 1\n  Items: 2\nArchiv: ${exports}/SHOP.ZR2\n" export SHOP)
set(second "Export úspěšně dokončen\nPořadí exportu: 2\n  Items: 2\nArchiv: ${exports}/SHOP.ZR2\n")
expect(0 "${second}Předchozí archiv přejmenován na: ${exports}/SHOP-1.ZR2.bak\n" export SHOP)
query(shop "SELECT Signature, EXPORTNO FROM rep_XPORTLOG ORDER BY EXPORTNO" log)
if(NOT log STREQUAL "SHOP|1\nSHOP|2\n")
  message(FATAL_ERROR "the export log holds\n${log}")
endif()

execute_process(COMMAND "${CLI}" --home "${home}" archive dump "${exports}/SHOP.ZR2"
  RESULT_VARIABLE rc OUTPUT_VARIABLE dump ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT dump MATCHES "EXPORTNO: 2" OR NOT dump MATCHES "tabulka Items příznak=0 řádků=2")
  message(FATAL_ERROR "the archive dump ended with ${rc}:\n${dump}${err}")
endif()

expect(1 "" export NOSUCH)
if(NOT err MATCHES "Definice exportu NOSUCH v seznamu není")
  message(FATAL_ERROR "an unknown definition: ${err}")
endif()

# Texts Windows-1250 cannot carry: by default one report on stderr and nothing written; with
# --allow-text-loss the archive with '?', the report on stdout and exit 3.
file(REMOVE "${exports}/SHOP.ZR2" "${exports}/SHOP-1.ZR2.bak")
sql(shop "
  CREATE TABLE Notes (Id integer PRIMARY KEY, Title varchar(40), rep_Date_Inserted datetime,
    rep_Signature_Inserted varchar(10), rep_Date_Updated datetime, rep_Signature_Updated varchar(10));
  CREATE TRIGGER rep_tr_Del_Notes AFTER DELETE ON Notes BEGIN SELECT 1; END;
  CREATE TRIGGER rep_tr_Ins_Notes AFTER INSERT ON Notes BEGIN SELECT 1; END;
  INSERT INTO rep_TBLDESC VALUES ('Notes', 'Notes', 2);
  INSERT INTO Notes (Id, Title) WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 22)
    SELECT i, 'Привет ' || i FROM n;
  UPDATE Items SET Name = 'Ωμέγα 😀' WHERE Id = 2;
  INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule) VALUES ('SHOP', 'Notes', 'ANO');")
query(shop "SELECT TABLENAME, LastExportDate FROM rep_DEFEXPORT ORDER BY TABLENAME" dates_before)
set(listed "  Items: 1 hodnota (Name: 1)\n    [Id=2] Name: \"Ωμέγα 😀\"\n  Notes: 22 hodnot (Title: 22)\n")
foreach(id RANGE 1 20)
  string(APPEND listed "    [Id=${id}] Title: \"Привет ${id}\"\n")
endforeach()
string(APPEND listed "    a další 2 hodnoty\nBez ztráty znaků je přenese přenos v Unicode: tamaril-cli defs edit --export IDENTIFIKACE --text unicode (v programu volba Texty v archivu u definice exportu).\n")

expect(2 "" export SHOP)
set(refusal "tamaril-cli: Export neproveden: textové hodnoty obsahují znaky, které kódování Windows-1250 \
nepřenese (počet: 23)\nTextové hodnoty se znaky, které kódování Windows-1250 nepřenese: 23 (v archivu by je \
nahradil znak '?')\n${listed}Se ztrátou znaků (nahrazených '?') je přenese export s volbou --allow-text-loss.\n")
if(NOT err STREQUAL refusal)
  message(FATAL_ERROR "the refusal printed\n${err}\ninstead of\n${refusal}")
endif()
file(GLOB left "${exports}/SHOP*.ZR2*")
if(NOT left STREQUAL "")
  message(FATAL_ERROR "a refused export left ${left}")
endif()
expect_query(shop "SELECT count(*) FROM rep_XPORTLOG" "2\n" "a refused export is not logged")
expect_query(shop "SELECT TABLENAME, LastExportDate FROM rep_DEFEXPORT ORDER BY TABLENAME" "${dates_before}"
             "a refused export keeps the dates")

expect(3 "Export dokončen s varováním\nPořadí exportu: 3\n  Items: 2\n  Notes: 22\nArchiv: ${exports}/SHOP.ZR2\n\
Textové hodnoty se znaky, které kódování Windows-1250 nepřenese: 23 (v archivu je nahradil znak '?')\n${listed}"
       export --allow-text-loss SHOP)
if(NOT err STREQUAL "")
  message(FATAL_ERROR "the export with text loss printed on stderr:\n${err}")
endif()
execute_process(COMMAND "${CLI}" --home "${home}" archive dump --rows "${exports}/SHOP.ZR2"
  OUTPUT_VARIABLE dump)
expect_contains("${dump}" "Name=\"????? ?\"" "the archive carries '?'")

# A table with a rule whose rows nothing identifies: a note, exit 0.
sql(shop "
  DELETE FROM Notes; UPDATE Items SET Name = 'two' WHERE Id = 2;
  CREATE TABLE Stock (Store int, Item int, Qty int, rep_Date_Inserted datetime,
    rep_Signature_Inserted varchar(10), rep_Date_Updated datetime, rep_Signature_Updated varchar(10),
    PRIMARY KEY (Store, Item));
  CREATE TRIGGER rep_tr_Del_Stock AFTER DELETE ON Stock BEGIN SELECT 1; END;
  CREATE TRIGGER rep_tr_Ins_Stock AFTER INSERT ON Stock BEGIN SELECT 1; END;
  INSERT INTO rep_TBLDESC VALUES ('Stock', 'Stock', 3);
  INSERT INTO Stock (Store, Item, Qty) VALUES (1, 1, 5);
  INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule) VALUES ('SHOP', 'Stock', 'ANO');")
expect(0 "Export úspěšně dokončen\nPořadí exportu: 4\n  Items: 2\n  Notes: 0\n  Stock: 1\nArchiv: ${exports}/SHOP.ZR2\n\
Předchozí archiv přejmenován na: ${exports}/SHOP-3.ZR2.bak\nUpozornění: Výmazy řádků tabulky Stock se nepřenášejí: \
její řádky neidentifikuje sloupec RowGuid ani jednoduchý celočíselný klíč. Sloupec rep_RowGuid jim přidá \
tamaril-cli setup-script --add-rowguid (na obou stranách).\n" export SHOP)

# Only the newest replaced archives stay (BAKCOUNT), and the run names what it removed; what an
# interrupted run left under a temporary name goes.
execute_process(COMMAND "${CLI}" --home "${home}" settings --set BAKCOUNT=1 RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "settings --set BAKCOUNT=1 ended with ${rc}")
endif()
file(WRITE "${exports}/SHOP.ZR2.a1B2c3" "cut short")
expect(0 "Export úspěšně dokončen\nPořadí exportu: 5\n  Items: 2\n  Notes: 0\n  Stock: 1\nArchiv: ${exports}/SHOP.ZR2\n\
Předchozí archiv přejmenován na: ${exports}/SHOP-4.ZR2.bak\nOdstraněn starší archiv: ${exports}/SHOP-3.ZR2.bak\n\
Upozornění: Výmazy řádků tabulky Stock se nepřenášejí: její řádky neidentifikuje sloupec RowGuid ani jednoduchý \
celočíselný klíč. Sloupec rep_RowGuid jim přidá tamaril-cli setup-script --add-rowguid (na obou stranách).\n" export SHOP)
file(GLOB left RELATIVE "${exports}" "${exports}/SHOP*")
if(NOT left STREQUAL "SHOP-4.ZR2.bak;SHOP.ZR2")
  message(FATAL_ERROR "after an export that keeps one replaced archive the folder holds ${left}")
endif()

# With a site key the archive is signed, and sealed once the definition names the center's key;
# the run says so right under the archive's line.
execute_process(COMMAND "${CLI}" --home "${home}" keys create RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out MATCHES "\n(ed25519:[A-Za-z0-9_-]+)\n$")
  message(FATAL_ERROR "keys create ended with ${rc}:\n${out}")
endif()
set(public "${CMAKE_MATCH_1}")
function(export_lines expected_rc result)
  execute_process(COMMAND "${CLI}" --home "${home}" export SHOP
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_rc OR NOT out MATCHES "\nArchiv: [^\n]*\n")
    message(FATAL_ERROR "export SHOP ended with ${rc}:\n${out}${err}")
  endif()
  string(REGEX REPLACE "^.*\nArchiv: [^\n]*\n" "" after "${out}")
  string(REGEX MATCHALL "Archiv [^\n]*\n" lines "${after}")
  set(${result} "${lines}" PARENT_SCOPE)
endfunction()
export_lines(0 lines)
if(NOT lines STREQUAL "Archiv podepsán klíčem ${public}\n")
  message(FATAL_ERROR "a signed export said '${lines}'")
endif()
expect(0 "" defs edit --export --signature SHOP --seal-to "${public}")
export_lines(0 lines)
if(NOT lines STREQUAL "Archiv podepsán klíčem ${public}\n;Archiv zašifrován pro klíč ${public}\n")
  message(FATAL_ERROR "a signed and sealed export said '${lines}'")
endif()
file(READ "${exports}/SHOP.ZR2" head LIMIT 8 HEX)
if(NOT head STREQUAL "544d525345414c31")  # TMRSEAL1
  message(FATAL_ERROR "the export said sealed, the archive starts with '${head}'")
endif()
