# Drives a signed transfer through "tamaril-cli": the client signs its archive with its site key,
# the center's import definition trusts that key. The genuine archive goes in; one altered byte,
# an unsigned archive and another site's signature are refused with exit code 1, the center and
# the file left as they were.
# Arguments: -DCLI=<program> -DWORK=<scratch folder>

cmake_minimum_required(VERSION 3.25)

include("${CMAKE_CURRENT_LIST_DIR}/sqlite_helpers.cmake")
find_program(SETSID NAMES setsid REQUIRED)
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/user" "${WORK}/data" "${WORK}/client" "${WORK}/center" "${WORK}/other"
  "${WORK}/imports")
set(ENV{HOME} "${WORK}/user")
set(imports "${WORK}/imports")

# Runs the program at a site (its own folder) without a terminal; checks the exit status.
function(at site expected_rc)
  execute_process(COMMAND "${SETSID}" -w "${CLI}" --home "${WORK}/${site}" ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_rc)
    message(FATAL_ERROR "'${ARGN}' at ${site} ended with ${rc} instead of ${expected_rc}:\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

set(schema "CREATE TABLE Customers (Id integer PRIMARY KEY, Name varchar(40));")
sql(shop "${schema} INSERT INTO Customers VALUES (1, 'Alfa'), (2, 'Beta');")
sql(center "${schema}")
string(REPLACE ";" "\\;" connection "Provider=SQLite;Data Source=${WORK}/data")
foreach(site client other)
  at(${site} 0 defs add --export --signature SHOP --partner Centrum --connection "${connection}" --database shop)
  at(${site} 0 keys create)
endforeach()
at(client 0 keys show)
string(STRIP "${out}" client_key)
at(center 0 settings --set "IMPFLDR=${imports}")
at(center 0 defs add --import --signature SHOP --partner Pobocka --connection "${connection}" --database center
  --trust "${client_key}")
at(client 0 setup-script --export SHOP --apply --yes)
at(center 0 setup-script --import SHOP --apply --yes)
sql(shop "INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule, LISTORDER) VALUES ('SHOP', 'Customers', 'ANO', 1);")
sql(center "INSERT INTO rep_DEFIMPORT (Signature, TABLENAME, AppendRule, LISTORDER) VALUES ('SHOP', 'Customers', 'ANO', 1);")

at(client 0 export SHOP)
expect_contains("${out}" "Archiv podepsán klíčem ${client_key}\n" "the export names its signing key")
file(READ "${WORK}/client/EXPORTS/SHOP.ZR2" genuine HEX)

# Writes the archive (hex) into the import folder, imports it and expects a refusal for `reason`.
function(refused hex reason)
  execute_process(COMMAND "${PYTHON}" -c "import sys; open(sys.argv[1], 'wb').write(bytes.fromhex(sys.argv[2]))"
    "${imports}/SHOP.ZR2" "${hex}" RESULT_VARIABLE rc)
  at(center 1 import --backup no)
  expect_contains("${out}${err}" "${reason}" "the refusal")
  expect_query(center "SELECT count(*) FROM Customers" "0\n" "a refused archive changed the center")
  if(NOT EXISTS "${imports}/SHOP.ZR2")
    message(FATAL_ERROR "a refused archive was moved away")
  endif()
endfunction()

# One byte changed in the middle of the compressed data.
string(LENGTH "${genuine}" length)
math(EXPR middle "(${length} / 4) * 2")
string(SUBSTRING "${genuine}" ${middle} 2 byte)
if(byte STREQUAL "00")
  set(other_byte "01")
else()
  set(other_byte "00")
endif()
string(SUBSTRING "${genuine}" 0 ${middle} head)
math(EXPR rest "${middle} + 2")
string(SUBSTRING "${genuine}" ${rest} -1 tail)
refused("${head}${other_byte}${tail}" "podpis archivu neplatí")

# Signed by another site, and not signed at all.
at(other 0 export SHOP)
file(READ "${WORK}/other/EXPORTS/SHOP.ZR2" foreign HEX)
refused("${foreign}" "podepsán jiným klíčem")
file(REMOVE "${WORK}/client/SITE.KEY")
at(client 0 export SHOP)
file(READ "${WORK}/client/EXPORTS/SHOP.ZR2" unsigned HEX)
refused("${unsigned}" "není podepsaný")

# The genuine archive goes in, and the run says its signature holds.
execute_process(COMMAND "${PYTHON}" -c "import sys; open(sys.argv[1], 'wb').write(bytes.fromhex(sys.argv[2]))"
  "${imports}/SHOP.ZR2" "${genuine}")
at(center 0 import --backup no --verbose)
expect_contains("${out}" "Podpis archivu je platný: klíč klienta ${client_key}" "the verified archive")
expect_query(center "SELECT Id, Name FROM Customers ORDER BY Id" "1|Alfa\n2|Beta\n" "the signed rows")
