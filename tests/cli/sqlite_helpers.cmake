# Helpers of the command-line tests: SQLite databases changed and read with Python's sqlite3
# module, and text checks. A database is named by its file, or by a bare name for the file
# NAME.db in ${WORK}/data.

find_program(PYTHON NAMES python3 REQUIRED)

function(_database_file database variable)
  if(IS_ABSOLUTE "${database}")
    set(${variable} "${database}" PARENT_SCOPE)
  else()
    set(${variable} "${WORK}/data/${database}.db" PARENT_SCOPE)
  endif()
endfunction()

# Runs an SQL script on the database and commits it.
function(sql database text)
  _database_file("${database}" file)
  execute_process(COMMAND "${PYTHON}" -c
    "import sqlite3, sys; c = sqlite3.connect(sys.argv[1]); c.executescript(sys.argv[2]); c.commit()"
    "${file}" "${text}" RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "database ${file} not changed: ${err}")
  endif()
endfunction()

# One query's rows into `variable`: the columns joined by "|" (NULL as nothing), one row a line.
function(query database text variable)
  _database_file("${database}" file)
  execute_process(COMMAND "${PYTHON}" -c
    "import sqlite3, sys; c = sqlite3.connect(sys.argv[1])
for row in c.execute(sys.argv[2]): print('|'.join('' if v is None else str(v) for v in row))"
    "${file}" "${text}" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "query on ${file} failed: ${text}\n${err}")
  endif()
  set(${variable} "${out}" PARENT_SCOPE)
endfunction()

function(expect_query database text expected what)
  query("${database}" "${text}" rows)
  if(NOT rows STREQUAL "${expected}")
    message(FATAL_ERROR "${what}: '${text}' gives\n${rows}instead of\n${expected}")
  endif()
endfunction()

function(expect_contains text part what)
  string(FIND "${text}" "${part}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${what}: '${part}' missing in\n${text}")
  endif()
endfunction()
