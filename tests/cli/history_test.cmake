# Drives "tamaril-cli history" on the shop database.
# Arguments: -DCLI=<program> -DWORK=<scratch folder>

include("${CMAKE_CURRENT_LIST_DIR}/rules_database.cmake")

sql("
INSERT INTO rep_XPORTLOG VALUES ('SHOP', 1, '2003-12-07 10:00:00.000', '2003-12-07 10:00:01.500');
INSERT INTO rep_XPORTLOG VALUES ('SHOP', 2, '2003-12-08 11:00:00.000', '2003-12-08 11:00:00.000');
INSERT INTO rep_XPORTLOG VALUES ('JINA', 1, '2003-12-08 11:00:00.000', '2003-12-08 11:00:00.000');
INSERT INTO rep_XPORTLOGDETAIL VALUES ('SHOP', 1, 'Zakaznici', 12), ('SHOP', 1, 'Faktury', 0),
  ('SHOP', 2, 'PolFakt', 3), ('JINA', 1, 'PolFakt', 9);
INSERT INTO rep_IMPORTLOG VALUES ('SHOP', 7, '2003-12-09 08:00:00.000', 2, '2003-12-08 11:00:00.000');
INSERT INTO rep_IMPORTLOGDETAIL VALUES ('SHOP', 7, 'Faktury', 1, 2, 0);")

set(export_runs [[
EXPORTNO=1 EXPORTDATE=2003-12-07T10:00:00.000 SERVEREXPORTDATE=2003-12-07T10:00:01.500
  Faktury "Faktury" COUNTRECORDS=0
  Zakaznici "Zákazníci" COUNTRECORDS=12
EXPORTNO=2 EXPORTDATE=2003-12-08T11:00:00.000 SERVEREXPORTDATE=2003-12-08T11:00:00.000
  PolFakt "Položky faktur" COUNTRECORDS=3
]])
expect(0 "${export_runs}" history --export SHOP)
expect(0 [[
IMPORTNO=7 IMPORTDATE=2003-12-09T08:00:00.000 CLIENTEXPORTNO=2 CLIENTEXPORTDATE=2003-12-08T11:00:00.000
  Faktury "Faktury" COUNT_APPENDED=1 COUNT_UPDATED=2 COUNT_DELETED=0
]] history --import SHOP)

# Deleting a run asks first: without a terminal only --yes answers, and a refusal keeps it.
expect(2 "" history --export SHOP --delete 1)
if(NOT err MATCHES "volbou --yes")
  message(FATAL_ERROR "a refused question without a terminal: ${err}")
endif()
expect(0 "${export_runs}" history --export SHOP)
expect(0 "" history --export SHOP --delete 1 --yes)
expect(0 [[
EXPORTNO=2 EXPORTDATE=2003-12-08T11:00:00.000 SERVEREXPORTDATE=2003-12-08T11:00:00.000
  PolFakt "Položky faktur" COUNTRECORDS=3
]] history --export SHOP)
# The run of the other signature with the same number stays.
expect_rows("select Signature, EXPORTNO, TABLENAME from rep_XPORTLOGDETAIL order by Signature, EXPORTNO"
  "JINA|1|PolFakt\nSHOP|2|PolFakt\n")
expect_rows("select Signature, EXPORTNO from rep_XPORTLOG order by Signature" "JINA|1\nSHOP|2\n")

expect(0 "" history --import SHOP --delete 7 --yes)
expect(0 "" history --import SHOP)
expect_rows("select count(*) from rep_IMPORTLOGDETAIL" "0\n")

# Wrong input.
expect_error(1 "Záznam 5 v historii definice SHOP není" history --export SHOP --delete 5 --yes)
expect_error(1 "Chybná hodnota volby --delete" history --export SHOP --delete jedna)
expect_error(1 "Volba --yes vyžaduje --delete" history --export SHOP --yes)
expect_error(1 "Definice NIC v seznamu není" history --import NIC)
