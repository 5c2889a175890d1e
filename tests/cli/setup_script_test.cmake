# Drives "tamaril-cli setup-script" on a SQLite database made here with Python's sqlite3 module:
# the script is written, applied, applied again, and the database it leaves behaves as replication
# needs. Arguments: -DCLI=<program> -DWORK=<scratch folder>

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

# A master with a RowGuid, a detail with an identity, lines with a two-column key, and a table
# the administrator keeps out of replication.
sql(shop "
  CREATE TABLE Customers (RG UNIQUEIDENTIFIER ROWGUIDCOL, Code varchar(10) PRIMARY KEY, Name varchar(40));
  CREATE TABLE Orders (Id INTEGER IDENTITY(10,5) PRIMARY KEY, Customer varchar(10) REFERENCES Customers(Code));
  CREATE TABLE Lines (OrderId int REFERENCES Orders(Id), No int, Qty int, PRIMARY KEY (OrderId, No));
  CREATE TABLE Scratch (Note text);")
file(WRITE "${home}/ignore.txt" "scratch\r\n\r\n")

set(plain_connection "Provider=SQLite;Data Source=${WORK}/data")
string(REPLACE ";" "\\;" connection "${plain_connection}")
expect(0 "" defs add --export --signature SHOP --partner Centrum --connection "${connection}" --database shop)
expect(0 "" defs add --import --signature SHOP --partner Pobocka --connection "${connection}" --database shop.db)

# Without a terminal nothing happens until --yes agrees.
expect(2 "" setup-script --export SHOP --apply)
if(EXISTS "${home}/hint.sql")
  message(FATAL_ERROR "hint.sql written without the person's consent")
endif()
# The output of check begins with its verdict; the notes of the readiness report follow it.
function(expect_start expected_rc expected_start)
  execute_process(COMMAND "${CLI}" --home "${home}" ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(FIND "${out}" "${expected_start}" at)
  if(NOT rc EQUAL expected_rc OR NOT at EQUAL 0)
    message(FATAL_ERROR "'${ARGN}' ended with ${rc} and printed\n${out}${err}\ninstead of "
                        "${expected_rc} and a start of\n${expected_start}")
  endif()
endfunction()
expect_start(1 "Databáze shop není připravena k replikaci\n\"rep_USERFK\" nenalezeno.\n" check --export SHOP)

expect(0 "hint.sql úspěšně vytvořen: ${home}/hint.sql\nSkript byl v databázi shop proveden\n"
       setup-script --export SHOP --apply --yes)
expect_start(0 "připraveno\n" check --export SHOP)
expect_start(0 "připraveno\n" check --import SHOP)

# Applying the script a second time changes nothing.
query(shop "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY type, name" schema_before)
expect(0 "hint.sql úspěšně vytvořen: ${home}/hint.sql\nSkript byl v databázi shop.db proveden\n"
       setup-script --import SHOP --apply --yes)
query(shop "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY type, name" schema_after)
if(NOT schema_before STREQUAL schema_after)
  message(FATAL_ERROR "the second run changed the schema:\n${schema_before}\nto\n${schema_after}")
endif()

# The ignored table is left alone: no tracking columns, no triggers, no description.
query(shop "SELECT name FROM pragma_table_info('Scratch')
               UNION ALL SELECT name FROM sqlite_master WHERE tbl_name = 'Scratch' AND type = 'trigger'
               UNION ALL SELECT TABLENAME FROM rep_TBLDESC WHERE TABLENAME = 'Scratch'" scratch)
if(NOT scratch STREQUAL "Note\n")
  message(FATAL_ERROR "the ignored table was touched:\n${scratch}")
endif()
query(shop "SELECT TABLENAME, LISTORDER FROM rep_TBLDESC ORDER BY LISTORDER" described)
if(NOT described MATCHES "^rep_DELETED\\|0\nCustomers\\|[0-9]+\nOrders\\|[0-9]+\nLines\\|[0-9]+\n$")
  message(FATAL_ERROR "unexpected table descriptions:\n${described}")
endif()

# New rows get a RowGuid and an id, and come in with empty tracking columns; deleted rows are
# recorded by RowGuid or integer key.
sql(shop "INSERT INTO Customers (Code, Name) VALUES ('C1', 'Novák');
     INSERT INTO Orders (Customer) VALUES ('C1');
     INSERT INTO Orders (Customer) VALUES ('C1');
     INSERT INTO Lines (OrderId, No, Qty) VALUES (10, 1, 3);")
query(shop "SELECT RG, rep_Date_Inserted, rep_Signature_Inserted FROM Customers" customer)
if(NOT customer MATCHES "^{[0-9A-F]+-[0-9A-F]+-[0-9A-F]+-[0-9A-F]+-[0-9A-F]+}\\|\\|\n$")
  message(FATAL_ERROR "a new customer got ${customer}")
endif()
string(REGEX REPLACE "\\|.*" "" guid "${customer}")
string(LENGTH "${guid}" guid_length)
if(NOT guid_length EQUAL 38)
  message(FATAL_ERROR "a RowGuid of ${guid_length} characters: ${guid}")
endif()
query(shop "SELECT Id FROM Orders ORDER BY Id" orders)
if(NOT orders STREQUAL "10\n15\n")
  message(FATAL_ERROR "new orders got the ids\n${orders}")
endif()
sql(shop "DELETE FROM Lines; DELETE FROM Orders WHERE Id = 15; DELETE FROM Customers WHERE Code = 'C1';")
query(shop "SELECT TABLENAME, RECORDGUID, RECORDID FROM rep_DELETED ORDER BY SUCCNO" deleted)
if(NOT deleted STREQUAL "Orders||15\nCustomers|${guid}|\n")
  message(FATAL_ERROR "rep_DELETED holds\n${deleted}")
endif()

# A definition whose database is not there writes nothing and keeps the last script.
file(READ "${home}/hint.sql" script_before)
expect(0 "" defs add --export --signature GONE --partner Centrum --connection "${connection}" --database gone)
expect(1 "" setup-script --export GONE --yes)
file(READ "${home}/hint.sql" script_now)
if(NOT script_now STREQUAL script_before)
  message(FATAL_ERROR "a failed run changed hint.sql")
endif()
expect(1 "" setup-script --export NOSUCH --yes)
if(NOT err MATCHES "Definice NOSUCH v seznamu není")
  message(FATAL_ERROR "an unknown definition: ${err}")
endif()
