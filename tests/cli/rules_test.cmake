# Drives "tamaril-cli rules" on the shop database.
# Arguments: -DCLI=<program> -DWORK=<scratch folder>

include("${CMAKE_CURRENT_LIST_DIR}/rules_database.cmake")

# A new signature gets its rule rows from the rep_TBLDESC defaults once; the export side keeps
# rep_DELETED, the import side leaves it out.
set(export_listing [[
TABULKA rep_DELETED "Tabulka s identifikací vymazaných záznamů" nastaveno=ne naposledy=-
ExportRule:
TABULKA Zakaznici "Zákazníci" nastaveno=ano naposledy=-
ExportRule: IDZAKAZNIK > 0
TABULKA Faktury "Faktury" nastaveno=ne naposledy=-
ExportRule:
TABULKA PolFakt "Položky faktur" nastaveno=ne naposledy=-
ExportRule:
]])
expect(0 "${export_listing}" rules --export SHOP)
expect(0 "${export_listing}" rules --export SHOP)
expect_rows("select count(*) from rep_DEFEXPORT where Signature='SHOP'" "4\n")

# The import definition names the database with ".db": the same file.
set(zakaznici_import [[
TABULKA Zakaznici "Zákazníci" nastaveno=ano naposledy=-
AppendRule: NAZEV <> ""
UpdateRule:
UpdateFieldRule:
DeleteRule:
IgnoreRowGuidField: 1
]])
expect(0 "${zakaznici_import}TABULKA Faktury \"Faktury\" nastaveno=ano naposledy=-
AppendRule:
UpdateRule: @IMP_CENA <> CENA
UpdateFieldRule:
DeleteRule:
IgnoreRowGuidField: 0
TABULKA PolFakt \"Položky faktur\" nastaveno=ne naposledy=-
AppendRule:
UpdateRule:
UpdateFieldRule:
DeleteRule:
IgnoreRowGuidField: 0
" rules --import SHOP)
expect_rows("select count(*) from rep_DEFIMPORT where Signature='SHOP'" "3\n")

# A good rule is saved and the table's block shows it; the key is matched ignoring case.
expect(0 "TABULKA Faktury \"Faktury\" nastaveno=ano naposledy=-\nExportRule: CENA > 100\n"
  rules --export SHOP --table Faktury --set "exportrule=CENA > 100")
expect_rows("select ExportRule from rep_DEFEXPORT where TABLENAME='Faktury'" "CENA > 100\n")

# A rule that does not compile is refused with the compiler's message; nothing is saved.
expect_error(1 "Pravidlo ExportRule tabulky Faktury nelze uložit: Neznámá operace:\n'NAZEV'"
  rules --export SHOP --table Faktury --set "ExportRule=NAZEV = \"x\"")
expect_error(1 "Pravidlo UpdateRule tabulky Faktury nelze uložit: Neznámá operace:\n'@UPDFLD'"
  rules --import SHOP --table Faktury --set "AppendRule=1=1" --set "UpdateRule=@UPDFLD = \"Cena\"")
expect_error(1 "Pravidlo ExportRule tabulky Faktury nelze uložit: Nesprávný typ výsledku výrazu"
  rules --export SHOP --table faktury --set "ExportRule=CENA + 1")
expect_rows("select coalesce(AppendRule, '-'), UpdateRule from rep_DEFIMPORT where TABLENAME='Faktury'"
  "-|@IMP_CENA <> CENA\n")
expect_rows("select ExportRule from rep_DEFEXPORT where TABLENAME='Faktury'" "CENA > 100\n")

# Quotes of both kinds and a line break are stored as typed; the listing shows the break as \n.
expect(0 "TABULKA Zakaznici \"Zákazníci\" nastaveno=ano naposledy=-\nExportRule: (NAZEV <> \"it's\") AND\\n  (IDZAKAZNIK > 0)\n"
  rules --export SHOP --table Zakaznici --set "ExportRule=(NAZEV <> \"it's\") AND\n  (IDZAKAZNIK > 0)")
expect_rows("select ExportRule from rep_DEFEXPORT where TABLENAME='Zakaznici'"
  "(NAZEV <> \"it's\") AND<LF>  (IDZAKAZNIK > 0)\n")

# The other columns of a row: the date and the switch; an empty text clears a rule.
expect(0 "TABULKA Zakaznici \"Zákazníci\" nastaveno=ano naposledy=2003-12-07T10:30:00.000
AppendRule:
UpdateRule:
UpdateFieldRule:
DeleteRule: @DEL_RECORDID = IDZAKAZNIK
IgnoreRowGuidField: 0
" rules --import SHOP --table Zakaznici --set AppendRule= --set IgnoreRowGuidField=0
  --set "LastImportDate=2003-12-07T10:30:00" --set "DeleteRule=@DEL_RECORDID = IDZAKAZNIK")
expect(0 "TABULKA Zakaznici \"Zákazníci\" nastaveno=ano naposledy=-
AppendRule: NAZEV <> \"\"
UpdateRule:
UpdateFieldRule:
DeleteRule: @DEL_RECORDID = IDZAKAZNIK
IgnoreRowGuidField: 1
" rules --import SHOP --table Zakaznici --set "AppendRule=NAZEV <> \"\"" --set IgnoreRowGuidField=1
  --set LastImportDate=-)

# DeleteRule of a table whose rows cannot be identified (a two-column key) is refused.
expect_error(1 "DeleteRule tabulky PolFakt nelze nastavit"
  rules --import SHOP --table PolFakt --set "DeleteRule=1=1")
expect_rows("select coalesce(DeleteRule, '-') from rep_DEFIMPORT where TABLENAME='PolFakt'" "-\n")
# One stored before (by hand, or before the table lost its key) can always be cleared.
sql("UPDATE rep_DEFIMPORT SET DeleteRule='1=1' WHERE TABLENAME='PolFakt'")
set(polfakt "TABULKA PolFakt \"Položky faktur\" nastaveno=ne naposledy=-
AppendRule:
UpdateRule:
UpdateFieldRule:
DeleteRule:
IgnoreRowGuidField: 0
")
expect(0 "${polfakt}" rules --import SHOP --table PolFakt --set "DeleteRule=")
expect_rows("select coalesce(DeleteRule, '-') from rep_DEFIMPORT where TABLENAME='PolFakt'" "-\n")
expect(0 "${polfakt}" rules --import SHOP --table PolFakt --set "DeleteRule=")

# Wrong input.
expect_error(1 "Neznámý klíč 'DeleteRule'; známé klíče: ExportRule, LastExportDate"
  rules --export SHOP --table Faktury --set "DeleteRule=1=1")
expect_error(1 "Tabulka Nic v pravidlech definice SHOP není" rules --export SHOP --table Nic --set ExportRule=)
expect_error(1 "IgnoreRowGuidField: očekávám 0 nebo 1" rules --import SHOP --table Faktury --set IgnoreRowGuidField=2)
expect_error(1 "Očekávám KLÍČ=TEXT" rules --export SHOP --table Faktury --set ExportRule)
expect_error(1 "Volba --set vyžaduje --table" rules --export SHOP --set ExportRule=)
expect_error(1 "Volba --table patří k --set nebo --apply-last" rules --export SHOP --table Faktury)
expect_error(1 "Definice NIC v seznamu není" rules --export NIC)
expect_error(1 "Uveďte právě jedno z --export a --import" rules SHOP)
expect_error(1 "nelze spojit" rules --export SHOP --check --set-default)

# The check names a master without a rule; the table name works in any letter case.
expect(0 "TABULKA Zakaznici \"Zákazníci\" nastaveno=ne naposledy=-\nExportRule:\n" rules --export SHOP --table zakaznici --set ExportRule=)
expect(1 "Chybí nastavení pravidla pro tabulku \"Zákazníci\"\n" rules --export SHOP --check)
expect(0 "ok\n" rules --import SHOP --check)

# The last rules: those of --from, checked again against the fields of --table.
expect_error(1 "Pravidlo ExportRule tabulky Zakaznici nelze uložit: Neznámá operace:\n'CENA'"
  rules --export SHOP --apply-last --from Faktury --table Zakaznici)
expect_rows("select coalesce(ExportRule, '-') from rep_DEFEXPORT where TABLENAME='Zakaznici'" "-\n")
expect(0 "TABULKA Faktury \"Faktury\" nastaveno=ano naposledy=-\nExportRule: IDZAKAZNIK > 0\n"
  rules --export SHOP --table Faktury --set "ExportRule=IDZAKAZNIK > 0")
expect(0 "TABULKA Zakaznici \"Zákazníci\" nastaveno=ano naposledy=-\nExportRule: IDZAKAZNIK > 0\n"
  rules --export SHOP --apply-last --from Faktury --table Zakaznici)
expect(0 "ok\n" rules --export SHOP --check)
expect_error(1 "Volba --apply-last vyžaduje --from a --table" rules --export SHOP --apply-last --table PolFakt)
# On import a DeleteRule that PolFakt cannot have stays as it is; the switch is copied.
expect(0 "TABULKA Zakaznici \"Zákazníci\" nastaveno=ano naposledy=-
AppendRule: @SIGNATURE = \"SHOP\"
UpdateRule:
UpdateFieldRule:
DeleteRule: @DEL_RECORDID = IDZAKAZNIK
IgnoreRowGuidField: 1
" rules --import SHOP --table Zakaznici --set "AppendRule=@SIGNATURE = \"SHOP\"")
expect(0 "TABULKA PolFakt \"Položky faktur\" nastaveno=ano naposledy=-
AppendRule: @SIGNATURE = \"SHOP\"
UpdateRule:
UpdateFieldRule:
DeleteRule:
IgnoreRowGuidField: 1
" rules --import SHOP --apply-last --from Zakaznici --table PolFakt)

# Making the rules the defaults asks first: without a terminal only --yes answers.
expect(2 "" rules --export SHOP --set-default)
if(NOT err MATCHES "volbou --yes")
  message(FATAL_ERROR "a refused question without a terminal: ${err}")
endif()
expect_rows("select coalesce(DefExportRule, '-') from rep_TBLDESC where TABLENAME='Faktury'" "-\n")
expect(0 "" rules --export SHOP --set-default --yes)
expect_rows("select TABLENAME, coalesce(DefExportRule, '-') from rep_TBLDESC order by LISTORDER"
  "rep_DELETED|-\nZakaznici|IDZAKAZNIK > 0\nFaktury|IDZAKAZNIK > 0\nPolFakt|-\n")
expect_error(1 "Volba --yes vyžaduje --set-default" rules --export SHOP --yes)
