# Drives "tamaril-cli defs" and "memtable dump" as a user would, on an empty program folder.
# Arguments: -DCLI=<program> -DWORK=<scratch folder>

cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/user" "${WORK}/home")
set(ENV{HOME} "${WORK}/user")
set(home "${WORK}/home")

function(run expected_rc)
  execute_process(COMMAND "${CLI}" --home "${home}" ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_rc)
    message(FATAL_ERROR "'${ARGN}' ended with ${rc} instead of ${expected_rc}:\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

function(expect_equal actual expected what)
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "${what}: got\n${actual}\ninstead of\n${expected}")
  endif()
endfunction()

# The semicolons are escaped so that CMake passes the connection string as one argument.
set(plain_connection "Provider=SQLite;Data Source=${WORK}/db;Initial Catalog=shop")
string(REPLACE ";" "\\;" connection "${plain_connection}")
run(0 defs add --export --signature POBOCKA1 --partner "Centrála Praha" --connection "${connection}"
      --database shop --note "Pobočka v Brně")
run(0 defs add --export --signature POBOCKA2 --partner "Záložní centrum" --connection "${connection}" --database shop)
# The same signature may stand once in each list.
run(0 defs add --import --signature POBOCKA1 --partner "Brno" --connection "${connection}" --database center)

run(0 defs list --export)
expect_equal("${out}" "POBOCKA1\tCentrála Praha\tshop\nPOBOCKA2\tZáložní centrum\tshop\n" "defs list --export")
run(0 defs list --import)
expect_equal("${out}" "POBOCKA1\tBrno\tcenter\n" "defs list --import")

# A second definition with the same signature in one list is refused, and nothing changes.
file(READ "${home}/EXPORT.DAT" before HEX)
run(1 defs add --export --signature POBOCKA1 --partner X --connection Y --database Z)
expect_equal("${err}" "tamaril-cli: Duplicated field value in field Signature\n" "duplicate signature")
file(READ "${home}/EXPORT.DAT" after HEX)
expect_equal("${after}" "${before}" "EXPORT.DAT after a refused add")

# The file keeps the connection string scrambled; show gives it plain.
file(READ "${home}/EXPORT.DAT" raw)
string(FIND "${raw}" "Data Source" plain_at)
if(NOT plain_at EQUAL -1)
  message(FATAL_ERROR "EXPORT.DAT holds the connection string in plain text")
endif()
run(0 defs show --export --signature POBOCKA1)
expect_equal("${out}" "Signature=POBOCKA1\nCenterName=Centrála Praha\nConnectionString=${plain_connection}\nDatabaseName=shop\nPozn=Pobočka v Brně\nTexty=1250\nŠifrovat pro=(žádný)\n" "defs show")

# The text form of an export lives beside the list: switching it leaves EXPORT.DAT byte for byte
# as it was, so other programs reading the list see nothing new.
file(READ "${home}/EXPORT.DAT" before HEX)
run(0 defs edit --export --signature POBOCKA1 --text unicode)
file(READ "${home}/EXPORT.DAT" after HEX)
expect_equal("${after}" "${before}" "EXPORT.DAT after --text unicode")
run(0 defs show --export --signature POBOCKA1)
string(FIND "${out}" "Texty=unicode\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "defs show lacks the Unicode form:\n${out}")
endif()
file(READ "${home}/EXPORT.INI" side)
expect_equal("${side}" "[UNICODE]\nPOBOCKA1=1\n" "EXPORT.INI")
run(0 memtable dump "${home}/EXPORT.DAT")
string(FIND "${out}" "layout: Signature;String;10;0;CenterName;String;25;0;ConnectionString;String;250;0;DatabaseName;String;25;0;Pozn;Memo;20;0\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "EXPORT.DAT changed its layout:\n${out}")
endif()
# Wrong values and the import list are refused with a reason; the setting stays.
run(1 defs edit --export --signature POBOCKA1 --text utf8)
expect_equal("${err}" "tamaril-cli: Volba --text má hodnotu unicode nebo 1250, ne utf8\n" "--text utf8")
run(1 defs edit --import --signature POBOCKA1 --text unicode)
string(FIND "${err}" "jen k definici exportu" at)
if(at EQUAL -1)
  message(FATAL_ERROR "--text on an import definition: ${err}")
endif()
run(0 defs show --export --signature POBOCKA1)
string(FIND "${out}" "Texty=unicode\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "a refused edit changed the text form:\n${out}")
endif()
# A definition added again after its removal starts in Windows-1250.
run(0 defs add --export --signature POBOCKA3 --partner X --connection "${connection}" --database shop --text unicode)
run(0 defs remove --export --signature POBOCKA3)
run(0 defs add --export --signature POBOCKA3 --partner X --connection "${connection}" --database shop)
run(0 defs show --export --signature POBOCKA3)
string(FIND "${out}" "Texty=1250\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "a re-added definition kept the removed one's form:\n${out}")
endif()
run(0 defs remove --export --signature POBOCKA3)
run(0 defs edit --export --signature POBOCKA1 --text 1250)

run(0 defs edit --export --signature POBOCKA2 --database archive)
run(0 defs remove --export --signature POBOCKA1)
run(0 defs list --export)
expect_equal("${out}" "POBOCKA2\tZáložní centrum\tarchive\n" "after edit and remove")

# Bad input: no such definition, a value too long for its field, neither or both lists, no signature.
run(1 defs show --import --signature NENI)
run(1 defs add --export --signature ABCDEFGHIJK --partner X --connection Y --database Z)
run(1 defs list)
run(1 defs list --export --import)
run(1 defs add --export --signature= --partner X --connection Y --database Z)

# The list file as a memory table.
run(0 memtable dump "${home}/IMPORT.DAT")
foreach(line "layout: Signature;String;10;0;ClientName;String;25;0;" "AutoIncValue: 0" "records: 1"
             "  Signature=\"POBOCKA1\"" "  ClientName=\"Brno\"" "  Pozn=NULL")
  string(FIND "${out}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "memtable dump lacks '${line}':\n${out}")
  endif()
endforeach()
file(WRITE "${WORK}/bad.dat" "memtbl....")
run(1 memtable dump "${WORK}/bad.dat")

# Text the list cannot hold is refused with the field named, never turned into "?": the
# signature 日 is not stored, and Ж does not find a definition whose signature became "?".
file(REMOVE "${home}/EXPORT.DAT")
run(1 defs add --export --signature 日 --partner X --connection Y --database Z)
expect_equal("${err}" "tamaril-cli: Hodnota pole Signature obsahuje znak U+65E5, který kódování Windows-1250 nemá\n"
             "a signature Windows-1250 cannot hold")
if(EXISTS "${home}/EXPORT.DAT")
  message(FATAL_ERROR "a refused add wrote EXPORT.DAT")
endif()
run(0 defs add --export --signature ŽLUŤ --partner X --connection Y --database Z)
run(1 defs remove --export --signature Ж)
run(0 defs list --export)
expect_equal("${out}" "ŽLUŤ\tX\tZ\n" "after refusing to remove Ж")
# One-line fields take no tab or line break; the note may have lines.
run(1 defs edit --export --signature ŽLUŤ "--database=a\tb")
expect_equal("${err}" "tamaril-cli: Hodnota pole DatabaseName nesmí obsahovat tabulátor\n" "a tab in the database")
run(0 defs edit --export --signature ŽLUŤ "--note=první\ndruhý")

# A list holds logins: a new list file is private to its owner.
execute_process(COMMAND stat -c %a "${home}/EXPORT.DAT" OUTPUT_VARIABLE mode OUTPUT_STRIP_TRAILING_WHITESPACE)
expect_equal("${mode}" "600" "mode of a new EXPORT.DAT")

# The password of a connection string shows only when asked for.
string(REPLACE ";" "\\;" secret_connection "Provider=SQLOLEDB;Data Source=srv;User ID=jan;Password=tajné;Persist Security Info=True")
run(0 defs edit --export --signature ŽLUŤ --connection "${secret_connection}")
run(0 defs show --export --signature ŽLUŤ)
string(FIND "${out}" "ConnectionString=Provider=SQLOLEDB;Data Source=srv;User ID=jan;Password=********;Persist Security Info=True\n" at)
if(at EQUAL -1 OR out MATCHES "tajné")
  message(FATAL_ERROR "defs show did not mask the password:\n${out}")
endif()
run(0 defs show --export --signature ŽLUŤ --show-password)
string(FIND "${out}" "Password=tajné;" at)
if(at EQUAL -1)
  message(FATAL_ERROR "defs show --show-password hid the password:\n${out}")
endif()

# Ten programs adding at once keep all ten definitions (execute_process runs its commands at once).
file(REMOVE "${home}/IMPORT.DAT")
set(commands "")
foreach(i RANGE 1 10)
  list(APPEND commands COMMAND "${CLI}" --home "${home}" defs add --import --signature PAR${i} --partner P${i}
       --connection "${connection}" --database D${i})
endforeach()
execute_process(${commands} RESULTS_VARIABLE results ERROR_VARIABLE err)
expect_equal("${results}" "0;0;0;0;0;0;0;0;0;0" "exit codes of ten parallel adds (${err})")
run(0 defs list --import)
string(REGEX MATCHALL "PAR[0-9]+\t" added "${out}")
list(LENGTH added count)
expect_equal("${count}" "10" "definitions after ten parallel adds:\n${out}")
