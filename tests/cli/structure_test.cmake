# Drives "tamaril-cli structure" on SQLite databases built here with Python's sqlite3 module.
# Arguments: -DCLI=<program> -DWORK=<scratch folder>

cmake_minimum_required(VERSION 3.25)

find_program(PYTHON NAMES python3 REQUIRED)
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/user" "${WORK}/data" "${WORK}/home")
set(ENV{HOME} "${WORK}/user")

# Creates the database file NAME.db in the data folder from the SQL text.
function(make_database name sql)
  execute_process(COMMAND "${PYTHON}" -c
    "import sqlite3, sys; c = sqlite3.connect(sys.argv[1]); c.executescript(sys.argv[2]); c.commit()"
    "${WORK}/data/${name}.db" "${sql}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "database ${name} not created")
  endif()
endfunction()

# Runs structure on the database and checks the exit status and the whole output.
function(expect database expected_rc expected_out expected_err)
  execute_process(COMMAND "${CLI}" --home "${WORK}/home" structure
    --connection "Provider=SQLite;Data Source=${WORK}/data" --database ${database}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_rc OR NOT out STREQUAL "${expected_out}" OR NOT err STREQUAL "${expected_err}")
    message(FATAL_ERROR "structure ${database}: ended with ${rc} and printed\n${out}${err}\ninstead of "
                        "${expected_rc} and\n${expected_out}${expected_err}")
  endif()
endfunction()

make_database(chain "
  CREATE TABLE A (Id INTEGER PRIMARY KEY, BId INTEGER CONSTRAINT FK_A_B REFERENCES B(Id));
  CREATE TABLE B (Id INTEGER PRIMARY KEY, RG UNIQUEIDENTIFIER ROWGUIDCOL, CId INTEGER CONSTRAINT FK_B_C REFERENCES C(Id));
  CREATE TABLE C (Id INTEGER IDENTITY(1,1) PRIMARY KEY, Name VARCHAR(20));")
expect(chain 0 "C identity=Id rowguid= intkey=Id pk=Id masters=
B identity= rowguid=RG intkey=Id pk=Id masters=C
A identity= rowguid= intkey=Id pk=Id masters=B
FK FK_B_C B(CId) -> C(Id)
FK FK_A_B A(BId) -> B(Id)
" "")

# The name as the folder shows it finds the same database.
expect(chain.db 0 "C identity=Id rowguid= intkey=Id pk=Id masters=
B identity= rowguid=RG intkey=Id pk=Id masters=C
A identity= rowguid= intkey=Id pk=Id masters=B
FK FK_B_C B(CId) -> C(Id)
FK FK_A_B A(BId) -> B(Id)
" "")

make_database(cycle "
  CREATE TABLE P (Id INTEGER PRIMARY KEY, QId INTEGER REFERENCES Q(Id));
  CREATE TABLE Q (Id INTEGER PRIMARY KEY, PId INTEGER REFERENCES P(Id));")
expect(cycle 1 "" "tamaril-cli: Circular master detail links not allowed\n")
