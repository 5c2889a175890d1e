# Everything the person reads from the program is Czech: the help, the parser's errors, the
# archive dump and the readiness check. The outputs are scanned for English words.
#
# The rule: a line may end in an English message of the dataset library or of the merger (e.g.
# "Unexpected end of stream", "Merger error") only when Czech text before it says what
# failed ("Archiv X je poškozený: Unexpected end of stream"). So on each line the text after the
# last ": " is left out of the scan when the text before that colon holds a Czech letter (any
# character outside printable ASCII); everything else is scanned whole.
# Arguments: -DCLI=<program> -DWORK=<scratch folder>

cmake_minimum_required(VERSION 3.25)

include("${CMAKE_CURRENT_LIST_DIR}/sqlite_helpers.cmake")
find_program(SETSID NAMES setsid REQUIRED)
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/user" "${WORK}/data" "${WORK}/home")
set(ENV{HOME} "${WORK}/user")
set(home "${WORK}/home")

# Words of the parser's scaffolding and errors, of the former dump labels and of messages.
set(english Usage Options OPTIONS Option Subcommands SUBCOMMAND SUBCOMMANDS Positionals REQUIRED TEXT INT
  FILE DIR SIGNATURE EXPR Error error ERROR required expected Expected Unexpected unexpected
  arguments following allowed invalid Excludes Needs table tables TABLE rows row layout flag
  identification end ready warning time Cannot cannot aborted Operation server read)

# The first English word of `text` outside what the rule above leaves out, into `variable`
# (empty when there is none), with its line into `variable`_line. Paths under the scratch folder
# are not scanned: its own name may hold any word (a checkout under /check/ once did).
function(english_word text variable)
  string(REPLACE "${WORK}" "" text "${text}")
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  foreach(line IN LISTS lines)
    set(scanned "${line}")
    if(line MATCHES "^(.*): (.*)$")
      set(context "${CMAKE_MATCH_1}")
      if(context MATCHES "[^ -~]")
        set(scanned "${context}")
      endif()
    endif()
    string(REGEX MATCHALL "[A-Za-z]+" words "${scanned}")
    foreach(word IN LISTS words)
      if(word IN_LIST english)
        set(${variable} "${word}" PARENT_SCOPE)
        set(${variable}_line "${line}" PARENT_SCOPE)
        return()
      endif()
    endforeach()
  endforeach()
  set(${variable} "" PARENT_SCOPE)
endfunction()

function(expect_czech text what)
  english_word("${text}" word)
  if(word)
    message(FATAL_ERROR "${what}: the English word '${word}' in the line\n${word_line}")
  endif()
endfunction()

# Runs the program without a terminal; checks the exit status and scans stdout and stderr.
function(run expected_rc what)
  execute_process(COMMAND "${SETSID}" -w "${CLI}" --home "${home}" ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_rc)
    message(FATAL_ERROR "${what}: '${ARGN}' ended with ${rc} instead of ${expected_rc}:\n${out}${err}")
  endif()
  expect_czech("${out}" "${what} (stdout)")
  expect_czech("${err}" "${what} (stderr)")
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

# The scan finds the parser's English, also after a program name, and leaves a library message
# after Czech context alone.
english_word("Usage: tamaril-cli [OPTIONS]" word)
english_word("tamaril-cli: The following argument was not expected: x" word2)
english_word("tamaril-cli: Archiv a.ZR2 je poškozený: Tabulka A, řádek 2: Unexpected end of stream" word3)
english_word("Archiv b.ZR2: Unexpected end of stream" word4)
if(NOT word STREQUAL "Usage" OR NOT word2 STREQUAL "following" OR NOT word3 STREQUAL "" OR NOT word4 STREQUAL "Unexpected")
  message(FATAL_ERROR "the scan found '${word}', '${word2}', '${word3}', '${word4}'")
endif()

# The parser: an unknown option, an unknown command with an unknown option after it, a value
# not allowed, a missing argument, and the help.
run(1 "an unknown option" import --bogus)
expect_contains("${err}" "tamaril-cli: Neznámá volba --bogus\n" "an unknown option")
run(1 "an unknown command" klice --bogus)
if(NOT err MATCHES "^tamaril-cli: Neznámý příkaz 'klice'; známé příkazy: settings, defs, [a-z, -]+\n$")
  message(FATAL_ERROR "an unknown command:\n${err}")
endif()
run(1 "a value not allowed" import --backup maybe)
run(1 "a missing argument" archive dump)
run(0 "the program's help" --help)
expect_contains("${out}" "Použití: tamaril-cli [VOLBY] PŘÍKAZ\n" "the program's help")
run(0 "the import's help" import --help)
expect_contains("${out}" "  --backup {ask,yes,no,all,none}\n" "the import's help")
run(0 "the check's help" check --help)
expect_contains("${out}" "Použití: tamaril-cli check [VOLBY] IDENTIFIKACE\n" "the check's help")
expect_contains("${out}" "  IDENTIFIKACE POVINNÉ" "the check's help")

# The archive dump of a whole archive and of one cut inside a row.
function(make_archive name cut)
  execute_process(COMMAND "${PYTHON}" -c [=[
import struct, sys, zlib
def text(s):
    return struct.pack('<i', len(s)) + s
def row(value):
    return b'\x03' + struct.pack('<HiBiH', 1, 4, 1, value, 0) + b'\xf3'
header = b'\x0a^SQLKELM^Z' + bytes([3]) + b'POB'.ljust(10, b'\0') + struct.pack('<id', 5, 45000.5)
content = (header + b'\x01' + text(b'A\r\n') + b'\x02' + struct.pack('<h', 0) + text(b'A')
           + text(b'ID;Integer;0;0') + row(7) + row(-1) + b'\xf2\xf1')
cut = int(sys.argv[2])
open(sys.argv[1], 'wb').write(zlib.compress(content[:cut] if cut else content, 9))
]=] "${WORK}/data/${name}.ZR2" ${cut} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "archive ${name} not created")
  endif()
endfunction()
make_archive(whole 0)
run(0 "the dump of a whole archive" archive dump --rows "${WORK}/data/whole.ZR2")
expect_contains("${out}" "tabulka A příznak=0 řádků=2\n" "the dump of a whole archive")
make_archive(cut 93)
run(1 "the dump of a cut archive" archive dump --rows "${WORK}/data/cut.ZR2")
expect_contains("${err}" "Archiv ${WORK}/data/cut.ZR2 je poškozený: Tabulka A, řádek 2: Unexpected end of stream"
                "the dump of a cut archive")
run(1 "the dump of a missing archive" archive dump "${WORK}/data/missing.ZR2")

# The check of a database before and after its setup.
sql(shop "CREATE TABLE Items (Id integer PRIMARY KEY, Name varchar(20));")
set(plain_connection "Provider=SQLite;Data Source=${WORK}/data")
string(REPLACE ";" "\\;" connection "${plain_connection}")
run(0 "defs add" defs add --export --signature SHOP --partner Centrum --connection "${connection}" --database shop)
run(1 "the check of a database not set up" check --export SHOP)
run(0 "setup-script" setup-script --export SHOP --apply --yes)
run(0 "the check of a database set up" check --export SHOP)
expect_contains("${out}" "připraveno\n" "the check of a database set up")

# Words of zlib's own messages and of the former rules listing, which must not reach the person
# even after Czech context: these lines are scanned whole.
set(zlib_and_listing incorrect header check invalid distance literal unknown method window stream TABLE set
  yes last)
function(expect_none_of text words what)
  string(REPLACE "${WORK}" "" scanned "${text}")
  string(REGEX MATCHALL "[A-Za-z]+" found "${scanned}")
  foreach(word IN LISTS found)
    if(word IN_LIST words)
      message(FATAL_ERROR "${what}: the English word '${word}' in\n${text}")
    endif()
  endforeach()
endfunction()

# zlib's reason for a file that is no archive, in the import's summary (the dump's exact texts
# are the archive test's).
file(WRITE "${home}/IMPORTS/other.ZR2" "no archive")
run(1 "the import of a file that is no archive" import --backup no)
expect_contains("${out}${err}" "chybná hlavička komprimovaných dat" "the import of a file that is no archive")
expect_none_of("${out}${err}" "${zlib_and_listing}" "the import of a file that is no archive")
file(REMOVE "${home}/IMPORTS/other.ZR2")

# The rules listing.
run(0 "the rules listing" rules --export SHOP)
expect_contains("${out}" "TABULKA Items \"Popis tabulky Items\" nastaveno=ne naposledy=-\nExportRule:\n" "the rules listing")
expect_none_of("${out}" "${zlib_and_listing}" "the rules listing")

# An import database whose backup folder cannot be made: the check says so instead of "nenalezeno".
run(0 "defs add" defs add --import --signature SHOP --partner Pobocka --connection "${connection}" --database shop)
run(0 "setup-script" setup-script --import SHOP --apply --yes)
file(REMOVE_RECURSE "${WORK}/data/backup")
file(WRITE "${WORK}/data/backup" "a file where the folder should be")
run(1 "the check of a database whose backups cannot be written" check --import SHOP)
expect_contains("${out}" "Databáze shop není připravena k replikaci\nSložku záloh \"${WORK}/data/backup\" nelze vytvořit.\n"
                "the check of a database whose backups cannot be written")
file(REMOVE "${WORK}/data/backup")
run(0 "the check of the import database" check --import SHOP)
expect_contains("${out}" "připraveno\n" "the check of the import database")
