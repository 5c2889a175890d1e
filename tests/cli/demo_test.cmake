# Drives "tamaril-cli demo": the whole replication in a new folder, the center's rows, the
# commands it names next, and the folders it refuses.
# Arguments: -DCLI=<program> -DWORK=<scratch folder>

cmake_minimum_required(VERSION 3.25)

include("${CMAKE_CURRENT_LIST_DIR}/sqlite_helpers.cmake")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/user" "${WORK}/tmp")
set(ENV{HOME} "${WORK}/user")
set(ENV{TMPDIR} "${WORK}/tmp")
set(demo "${WORK}/new/demo")

function(run variable)
  execute_process(COMMAND "${CLI}" ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(${variable}_rc "${rc}" PARENT_SCOPE)
  set(${variable}_out "${out}" PARENT_SCOPE)
  set(${variable}_err "${err}" PARENT_SCOPE)
endfunction()

# A missing folder (and its parent) is created and the three rounds succeed.
run(demo demo "${demo}")
if(NOT demo_rc EQUAL 0)
  message(FATAL_ERROR "demo ended with ${demo_rc}:\n${demo_out}${demo_err}")
endif()
foreach(part "== Kolo 1:" "== Kolo 2:" "== Kolo 3:" "Import úspěšně dokončen" "Při importu se vyskytly chyby"
             "Porušení vazby master-detail při insertu" "CISLO=FV20261031"
             "Ověřeno: centrum obsahuje 12 odběratelů, 8 druhů zboží, 30 faktur, 60 položek faktur."
             "Ověřeno: centrum obsahuje 12 odběratelů, 8 druhů zboží, 29 faktur, 56 položek faktur."
             "tamaril-cli --home ${demo} history --import DEMO")
  expect_contains("${demo_out}" "${part}" "demo")
endforeach()

# The center holds the client's changes and not the refused customer's rows.
set(center "${demo}/centrum/centrum.db")
expect_query("${center}" "SELECT NAZEV FROM ODBERATELE WHERE ID = 2" "Řeznictví Čížek a syn\n" "demo")
expect_query("${center}" "SELECT MESTO FROM ODBERATELE WHERE ID IN (5, 12) ORDER BY ID" "Šumperk\nPřerov\n" "demo")
expect_query("${center}" "SELECT CENA FROM ZBOZI WHERE ID IN (1, 3, 6) ORDER BY ID" "49\n69\n62\n" "demo")
expect_query("${center}" "SELECT count(*) FROM FAKTURY WHERE ID IN (29, 30, 31)" "1\n" "demo")
expect_query("${center}" "SELECT count(*) FROM POLOZKY_FAKTUR WHERE ID IN (52, 291, 292, 302, 311, 312)" "0\n" "demo")
expect_query("${center}" "SELECT MNOZSTVI FROM POLOZKY_FAKTUR WHERE ID = 11" "12\n" "demo")
expect_query("${center}" "SELECT RG FROM FAKTURY WHERE ID = 7" "{00000007-5A1E-4D00-8000-00000000CAFE}\n" "demo")
expect_query("${center}" "SELECT count(*) FROM ODBERATELE WHERE KATEGORIE = 'X'" "0\n" "demo")
expect_query("${center}" "SELECT IMPORTNO, CLIENTEXPORTNO FROM rep_IMPORTLOG ORDER BY IMPORTNO" "1|1\n2|2\n3|3\n" "demo")
expect_query("${demo}/klient/klient.db" "SELECT count(*) FROM FAKTURY" "30\n" "demo")
if(NOT EXISTS "${demo}/tamaril.log" OR NOT EXISTS "${demo}/PREVZATE/DEMO-3.ZR2")
  message(FATAL_ERROR "the demo left no log or no imported archive in ${demo}")
endif()

# The commands it names go on in the folder: the history, one more export.
run(history --home "${demo}" history --import DEMO)
if(NOT history_rc EQUAL 0)
  message(FATAL_ERROR "history ended with ${history_rc}:\n${history_out}${history_err}")
endif()
run(export --home "${demo}" export DEMO)
if(NOT export_rc EQUAL 0)
  message(FATAL_ERROR "export ended with ${export_rc}:\n${export_out}${export_err}")
endif()
expect_contains("${export_out}" "Pořadí exportu: 4" "export after the demo")

# A folder holding anything is refused and left as it was.
file(WRITE "${WORK}/full/mine.txt" "my own file")
run(full demo "${WORK}/full")
if(NOT full_rc EQUAL 1)
  message(FATAL_ERROR "a folder that is not empty ended with ${full_rc}:\n${full_out}${full_err}")
endif()
expect_contains("${full_err}" "není prázdná" "refused folder")
file(GLOB left RELATIVE "${WORK}/full" "${WORK}/full/*")
file(READ "${WORK}/full/mine.txt" mine)
if(NOT left STREQUAL "mine.txt" OR NOT mine STREQUAL "my own file")
  message(FATAL_ERROR "the refused folder was changed: ${left}")
endif()

# Without a folder the demo makes a temporary one and says where.
run(temp demo)
if(NOT temp_rc EQUAL 0)
  message(FATAL_ERROR "demo without a folder ended with ${temp_rc}:\n${temp_out}${temp_err}")
endif()
file(GLOB made "${WORK}/tmp/tamaril-demo-*")
list(LENGTH made count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "demo without a folder made ${count} temporary folders")
endif()
expect_contains("${temp_out}" "Ukázka se vytvoří v nové složce ${made}" "temporary folder")
