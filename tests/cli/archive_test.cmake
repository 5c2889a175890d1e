# Drives "tamaril-cli archive dump" on archive files assembled here with Python's zlib module.
# Arguments: -DCLI=<program> -DWORK=<scratch folder>

cmake_minimum_required(VERSION 3.25)

find_program(PYTHON NAMES python3 REQUIRED)
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/user" "${WORK}/data" "${WORK}/home")
set(ENV{HOME} "${WORK}/user")

# Writes data/NAME.ZR2: the header (Signature POB, EXPORTNO 5, 15 March 2023 noon) and a table
# list "A", the table A (ID;Integer;0;0) with the rows 7 and -1, and the end byte; the content
# is cut to CUT bytes when CUT is not 0, and with FLIP the last byte of the file (a byte of the
# check value) has one bit flipped.
function(make_archive name cut)
  set(flip 0)
  if("FLIP" IN_LIST ARGN)
    set(flip 1)
  endif()
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
if cut:
    content = content[:cut]
data = bytearray(zlib.compress(content, 9))
if int(sys.argv[3]):
    data[-1] ^= 0x01
open(sys.argv[1], 'wb').write(data)
]=] "${WORK}/data/${name}.ZR2" ${cut} ${flip} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "archive ${name} not created")
  endif()
endfunction()

# Runs archive dump and checks the exit status and the whole output.
function(expect expected_rc expected_out expected_err)
  execute_process(COMMAND "${CLI}" --home "${WORK}/home" archive dump ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_rc OR NOT out STREQUAL "${expected_out}" OR NOT err STREQUAL "${expected_err}")
    message(FATAL_ERROR "archive dump ${ARGN}: ended with ${rc} and printed\n${out}${err}\ninstead of "
                        "${expected_rc} and\n${expected_out}${expected_err}")
  endif()
endfunction()

set(head "identifikace archivu: v pořádku
Signature: POB
EXPORTNO: 5
čas exportu: 2023-03-15T12:00:00.000
tabulky: A
")

make_archive(whole 0)
expect(0 "${head}tabulka A příznak=0 řádků=2
popis polí: ID;Integer;0;0
konec
" "" "${WORK}/data/whole.ZR2")
expect(0 "${head}tabulka A příznak=0 řádků=2
popis polí: ID;Integer;0;0
řádek 1
  ID=7
řádek 2
  ID=-1
konec
" "" "${WORK}/data/whole.ZR2" --rows)

# Cut inside the value of the second row.
make_archive(cut 93)
expect(1 "${head}tabulka A příznak=0 řádků=1
popis polí: ID;Integer;0;0
řádek 1
  ID=7
řádek 2
" "tamaril-cli: Archiv ${WORK}/data/cut.ZR2 je poškozený: Tabulka A, řádek 2: Unexpected end of stream\n"
  "${WORK}/data/cut.ZR2" --rows)

# A wrong check value: everything is printed, then the dump fails with zlib's message.
make_archive(flipped 0 FLIP)
expect(1 "${head}tabulka A příznak=0 řádků=2
popis polí: ID;Integer;0;0
konec
" "tamaril-cli: Chyba dekomprese archivu ${WORK}/data/flipped.ZR2: nesouhlasí kontrolní součet dat\n" "${WORK}/data/flipped.ZR2")

file(WRITE "${WORK}/data/other.ZR2" "no archive")
expect(1 "" "tamaril-cli: Chyba dekomprese archivu ${WORK}/data/other.ZR2: chybná hlavička komprimovaných dat\n"
  "${WORK}/data/other.ZR2")

# A file that cannot be opened is named with the reason in Czech.
expect(1 "" "tamaril-cli: Archiv ${WORK}/data/missing.ZR2 nelze otevřít: soubor neexistuje\n"
  "${WORK}/data/missing.ZR2")
expect(1 "" "tamaril-cli: Archiv ${WORK}/data nelze otevřít: je to složka\n" "${WORK}/data")
