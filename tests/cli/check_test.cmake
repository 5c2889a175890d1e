# Drives "tamaril-cli check" on SQLite databases built here with Python's sqlite3 module.
# Arguments: -DCLI=<program> -DWORK=<scratch folder>

cmake_minimum_required(VERSION 3.25)

include("${CMAKE_CURRENT_LIST_DIR}/sqlite_helpers.cmake")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/user" "${WORK}/data" "${WORK}/home")
set(ENV{HOME} "${WORK}/user")
set(home "${WORK}/home")

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
  CREATE TABLE rep_USERFK (PK_Table varchar(50), PK_Field varchar(50), FK_Table varchar(50), FK_Field varchar(50));
  CREATE TABLE rep_DELETED (SUCCNO integer PRIMARY KEY, TABLENAME varchar(50), RECORDGUID varchar(38), RECORDID int);
  CREATE TABLE rep_TBLDESC (TABLENAME varchar(50) PRIMARY KEY, LISTORDER int);
  CREATE TABLE rep_DEFEXPORT (Signature varchar(10), TABLENAME varchar(50));
  CREATE TABLE rep_XPORTLOG (LOGNO integer PRIMARY KEY);
  CREATE TABLE rep_XPORTLOGDETAIL (LOGNO int);
  CREATE TABLE rep_IMPORTLOG (LOGNO integer PRIMARY KEY);
  CREATE TABLE rep_IMPORTLOGDETAIL (LOGNO int);
  CREATE TABLE Items (Id integer PRIMARY KEY, rep_Date_Inserted datetime, rep_Signature_Inserted varchar(10),
    rep_Date_Updated datetime, rep_Signature_Updated varchar(10));
  CREATE TRIGGER rep_tr_Del_Items AFTER DELETE ON Items BEGIN SELECT 1; END;
  CREATE TRIGGER rep_tr_Ins_Items AFTER INSERT ON Items BEGIN SELECT 1; END;
  INSERT INTO rep_TBLDESC VALUES ('rep_DELETED', 0), ('Items', 1);")

set(plain_connection "Provider=SQLite;Data Source=${WORK}/data")
string(REPLACE ";" "\\;" connection "${plain_connection}")
expect(0 "" defs add --export --signature SHOP --partner Centrum --connection "${connection}" --database shop)
expect(0 "" defs add --import --signature SHOP --partner Pobocka --connection "${connection}" --database shop.db)

# Without rep_DEFIMPORT the database serves exports only; the message shows the carriage
# return as a line break.
expect(0 "připraveno\n" check --export SHOP)
expect(1 "Databáze shop.db není připravena k replikaci\n\"rep_DEFIMPORT\" nenalezeno.\n" check --import SHOP)

sql(shop "CREATE TABLE rep_DEFIMPORT (Signature varchar(10), TABLENAME varchar(50));")
expect(0 "připraveno\n" check --import SHOP)
if(NOT IS_DIRECTORY "${WORK}/data/backup")
  message(FATAL_ERROR "the import check did not make the backup folder")
endif()

sql(shop "ALTER TABLE Items DROP COLUMN rep_Signature_Updated;")
expect(1 "Databáze shop není připravena k replikaci\n\"Items.rep_Signature_Updated\" nenalezeno.\n" check --export SHOP)

expect(1 "" check --export NOSUCH)
if(NOT err MATCHES "Definice NOSUCH v seznamu není")
  message(FATAL_ERROR "an unknown definition: ${err}")
endif()
expect(1 "" check SHOP)

# The notes after the answer: a RowGuid without its index, a link table whose rows nothing
# identifies, and (with --data) Cyrillic texts. They warn; a ready database still ends with 0.
sql(orders "
  CREATE TABLE Orders (Code VARCHAR(10) NOT NULL PRIMARY KEY, RG UNIQUEIDENTIFIER ROWGUIDCOL);
  CREATE TABLE OrderLines (OrderCode VARCHAR(10) NOT NULL REFERENCES Orders (Code), No INT NOT NULL,
    Qty INT, PRIMARY KEY (OrderCode, No));
  CREATE TABLE Notes (Id INTEGER PRIMARY KEY, Body VARCHAR(200));
  INSERT INTO Orders VALUES ('A', '{11111111-1111-4111-8111-111111111111}'),
    ('B', '{22222222-2222-4222-8222-222222222222}');
  INSERT INTO Notes VALUES (1, 'Привет'), (2, 'Dobrý den'), (3, 'мир');")
expect(0 "" defs add --export --signature ORDERS --partner Centrum --connection "${connection}" --database orders)
execute_process(COMMAND "${CLI}" --home "${home}" setup-script --export ORDERS --apply --yes
  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "setup-script --apply failed: ${err}")
endif()
sql(orders "DROP INDEX IF EXISTS rep_ux_Orders_RG;")

set(rowguid_note "  Orders: chybí index pro vyhledání řádku podle RowGuid (sloupec RG): import pak pro každý řádek čte celou tabulku (řádků: 2); index vytvoří skript replikace\n")
set(link_note "  OrderLines: řádky nic neidentifikuje (nemá sloupec RowGuid ani celočíselný klíč): výmazy jejích řádků se nepřenesou, změny se párují jen podle primárního klíče a jedinečných indexů; sloupec RowGuid přidá setup-script --add-rowguid\n")
set(text_note "  Notes: sloupec Body obsahuje znaky, které kódování Windows-1250 nemá (hodnot: 2); při přenosu se změní na ?\n")
expect(0 "připraveno\nUpozornění:\n${rowguid_note}${link_note}" check --export ORDERS)
expect(0 "připraveno\nUpozornění:\n${text_note}${rowguid_note}${link_note}" check --export ORDERS --data)

# A database that is not ready: the reason on two lines, then the notes, the listed table that
# is gone among them.
sql(orders "INSERT INTO rep_TBLDESC (TABLENAME, TABLEDESC, LISTORDER) VALUES ('Gone', 'Gone', 9);")
expect(1 "Databáze orders není připravena k replikaci\n\"Gone\" nenalezeno.\nUpozornění:\n${rowguid_note}${link_note}  Gone: tabulka už v databázi není, rep_TBLDESC ji však uvádí; skript replikace odstraní její pravidla a řádky protokolů\n" check --export ORDERS)
