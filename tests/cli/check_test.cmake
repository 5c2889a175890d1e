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
expect(0 "ready\n" check --export SHOP)
expect(1 "Databáze shop.db není připravena k replikaci\n\"rep_DEFIMPORT\" nenalezeno.\n" check --import SHOP)

sql(shop "CREATE TABLE rep_DEFIMPORT (Signature varchar(10), TABLENAME varchar(50));")
expect(0 "ready\n" check --import SHOP)
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
