#include "definitions/export_rules.h"

#include <gtest/gtest.h>

#include "dataset/date_codec.h"
#include "dataset/errors.h"
#include "dataset/field.h"
#include "definitions/errors.h"
#include "rules_fixture.h"
#include "support/expect_throw_msg.h"

namespace tamaril::definitions::testing {
namespace {

class ExportRulesTest : public RulesTest {
 protected:
  ExportRulesTest() {
    rules_.SetQuestions(&questions_);
    rules_.Open("CENTRUM", connection_, structure_);
  }

  /// Moves to a table's rule row.
  void Select(const std::string& table) {
    ASSERT_TRUE(rules_.Rules().Locate("TABLENAME", dataset::Variant::String(table)));
  }
  /// Edits the current row's export rule and saves it.
  void SaveRule(const std::string& text) {
    rules_.Rules().Edit();
    rules_.Rules().FieldByName("ExportRule").SetAsString(text);
    rules_.Rules().Post();
  }
  std::string StoredRule(const std::string& table) {
    return Scalar(
        "select coalesce(ExportRule, '<null>') from rep_DEFEXPORT where Signature='CENTRUM' and "
        "TABLENAME='" +
        table + "'");
  }

  TData_DBExport rules_;
};

TEST_F(ExportRulesTest, NewSignatureGetsOneRowPerDescribedTableOnce) {
  EXPECT_EQ(Rows("select TABLENAME, coalesce(ExportRule, '<null>'), LISTORDER from rep_DEFEXPORT "
                 "where Signature='CENTRUM' order by LISTORDER"),
            "rep_DELETED|<null>|0\nZakaznici|IDZAKAZNIK > 0|1\nFaktury|<null>|2\nPolFakt|<null>|3");
  std::string tables;
  for (rules_.Rules().First(); !rules_.Rules().Eof(); rules_.Rules().Next()) {
    tables += rules_.Rules().FieldByName("TABLENAME").AsString() + "=" +
              rules_.Rules().FieldByName("TableDesc").AsString() + (rules_.RuleIsSet() ? "*" : "") + ";";
  }
  EXPECT_EQ(tables, Ansi("rep_DELETED=Tabulka s identifikací vymazaných záznamů;Zakaznici=Zákazníci*;"
                         "Faktury=Faktury;PolFakt=Položky faktur;"));

  rules_.Close();
  rules_.Open("CENTRUM", connection_, structure_);
  EXPECT_EQ(Scalar("select count(*) from rep_DEFEXPORT"), "4");
  EXPECT_EQ(rules_.Rules().RecordCount(), 4);
}

TEST_F(ExportRulesTest, RuleThatDoesNotCompileIsNotSaved) {
  Select("Zakaznici");
  rules_.Rules().Edit();
  rules_.Rules().FieldByName("ExportRule").SetAsString("NEZNAMY > 1");
  EXPECT_THROW_MSG(rules_.Rules().Post(), RuleValidationError, Ansi("Neznámá operace:\r'NEZNAMY'"));
  EXPECT_EQ(rules_.Rules().State(), dataset::DataSetState::Edit);
  EXPECT_EQ(StoredRule("Zakaznici"), "IDZAKAZNIK > 0");
  EXPECT_FALSE(rules_.LastRuleSet());
  rules_.Rules().Cancel();
}

// A rule passes only when it yields true, so one that yields a number or a text is refused
// although it compiles.
TEST_F(ExportRulesTest, RuleThatIsNoConditionIsNotSaved) {
  Select("Zakaznici");
  for (const char* rule : {"IDZAKAZNIK + 1", "NAZEV", "@LASTXPRT"}) {
    SCOPED_TRACE(rule);
    rules_.Rules().Edit();
    rules_.Rules().FieldByName("ExportRule").SetAsString(rule);
    EXPECT_THROW_MSG(rules_.Rules().Post(), RuleValidationError, Ansi("Nesprávný typ výsledku výrazu"));
    rules_.Rules().Cancel();
  }
  EXPECT_EQ(StoredRule("Zakaznici"), "IDZAKAZNIK > 0");
}

TEST_F(ExportRulesTest, RuleSeesTheTableFieldsAndTheExportIdentifiers) {
  Select("Zakaznici");
  // Several lines, lower case, a column with a blank: compiled as one line.
  const std::string rule = Ansi("(datum_zápisu > @lastxprt)\r\n   and (@SIGNATURE = \"CENTRUM\")");
  SaveRule(rule);
  EXPECT_EQ(StoredRule("Zakaznici"), rule);
  rules_.Rules().Edit();
  rules_.Rules().FieldByName("ExportRule").SetAsString("@LASTIMPRT > 0");
  EXPECT_THROW_MSG(rules_.Rules().Post(), RuleValidationError, Ansi("Neznámá operace:\r'@LASTIMPRT'"));
  rules_.Rules().Cancel();
  // A memo column is not visible to rules.
  rules_.Rules().Edit();
  rules_.Rules().FieldByName("ExportRule").SetAsString("POZN = \"x\"");
  EXPECT_THROW_MSG(rules_.Rules().Post(), RuleValidationError, Ansi("Neznámá operace:\r'POZN'"));
  rules_.Rules().Cancel();
}

TEST_F(ExportRulesTest, EmptyRuleIsAcceptedAndNotSet) {
  Select("Zakaznici");
  SaveRule("  \r\n ");
  EXPECT_FALSE(rules_.RuleIsSet());
  EXPECT_EQ(rules_.Rules().FieldByName("RuleIsSet").Text(), "");
  SaveRule("IDZAKAZNIK > 1");
  EXPECT_TRUE(rules_.RuleIsSet());
  EXPECT_EQ(rules_.Rules().FieldByName("RuleIsSet").Text(), "Nastaveno");
}

TEST_F(ExportRulesTest, LastExportDateIsSavedAndReadBack) {
  const double when =
      dataset::TimeStampToDateTime({static_cast<std::int32_t>(dataset::DayNumberFromCivil(2026, 3, 4)),
                                    ((5 * 60 + 6) * 60 + 7) * 1000 + 89});
  Select("Faktury");
  rules_.Rules().Edit();
  rules_.Rules().FieldByName("LastExportDate").SetAsDateTime(when);
  rules_.Rules().Post();
  EXPECT_EQ(
      Scalar("select LastExportDate from rep_DEFEXPORT where Signature='CENTRUM' and TABLENAME='Faktury'"),
      "2026-03-04 05:06:07.089");
  rules_.Open("CENTRUM", connection_, structure_);
  Select("Faktury");
  EXPECT_DOUBLE_EQ(rules_.Rules().FieldByName("LastExportDate").AsDateTime(), when);
  Select("Zakaznici");
  EXPECT_TRUE(rules_.Rules().FieldByName("LastExportDate").IsNull());
}

TEST_F(ExportRulesTest, QuotesInRulesAndSignaturesAreStoredIntact) {
  Select("Zakaznici");
  SaveRule("NAZEV = \"O'Brien\"");
  EXPECT_EQ(StoredRule("Zakaznici"), "NAZEV = \"O'Brien\"");

  TData_DBExport other;
  other.SetQuestions(&questions_);
  other.Open("O'B", connection_, structure_);
  EXPECT_EQ(Scalar("select count(*) from rep_DEFEXPORT where Signature='O''B'"), "4");
  ASSERT_TRUE(other.Rules().Locate("TABLENAME", dataset::Variant::String("Faktury")));
  other.Rules().Edit();
  other.Rules().FieldByName("ExportRule").SetAsString("CENA > 10");
  other.Rules().Post();
  EXPECT_EQ(Scalar("select ExportRule from rep_DEFEXPORT where Signature='O''B' and TABLENAME='Faktury'"),
            "CENA > 10");
  EXPECT_EQ(StoredRule("Faktury"), "<null>");
  ASSERT_TRUE(other.SetAsDefault());
  EXPECT_EQ(Scalar("select DefExportRule from rep_TBLDESC where TABLENAME='Faktury'"), "CENA > 10");
}

TEST_F(ExportRulesTest, RuleRowsAndLogRowsAreNeitherAddedNorRemoved) {
  connection_.Execute(
      "INSERT INTO rep_XPORTLOG (Signature, EXPORTNO, EXPORTDATE) VALUES ('CENTRUM', 1, '2026-01-02')");
  rules_.Open("CENTRUM", connection_, structure_);
  EXPECT_THROW(rules_.Rules().Append(), EAbort);
  EXPECT_THROW(rules_.Rules().Delete(), EAbort);
  EXPECT_THROW(rules_.Log().Append(), EAbort);
  EXPECT_THROW(rules_.Log().Edit(), EAbort);
  EXPECT_EQ(rules_.Rules().RecordCount(), 4);
  EXPECT_EQ(rules_.Log().RecordCount(), 1);
  EXPECT_EQ(Scalar("select count(*) from rep_DEFEXPORT"), "4");
}

TEST_F(ExportRulesTest, LastSavedRuleIsAppliedToAnotherTable) {
  Select("Faktury");
  rules_.ApplyLastRule();  // nothing saved yet
  EXPECT_EQ(StoredRule("Faktury"), "<null>");

  Select("Zakaznici");
  SaveRule("(IDZAKAZNIK < 5)\r\nor (IDZAKAZNIK > 10)");
  ASSERT_TRUE(rules_.LastRuleSet());
  Select("Faktury");
  rules_.ApplyLastRule();
  EXPECT_EQ(StoredRule("Faktury"), "(IDZAKAZNIK < 5)\r\nor (IDZAKAZNIK > 10)");
}

TEST_F(ExportRulesTest, AppliedRuleIsValidatedForItsNewTable) {
  Select("Zakaznici");
  SaveRule("NAZEV = \"a\"");
  Select("PolFakt");
  EXPECT_THROW_MSG(rules_.ApplyLastRule(), RuleValidationError, Ansi("Neznámá operace:\r'NAZEV'"));
  rules_.Rules().Cancel();
  EXPECT_EQ(StoredRule("PolFakt"), "<null>");
}

TEST_F(ExportRulesTest, SetAsDefaultAsksFirstAndFeedsLaterDefinitions) {
  Select("Faktury");
  SaveRule("CENA > 100");
  questions_.answer = false;
  EXPECT_FALSE(rules_.SetAsDefault());
  EXPECT_EQ(Scalar("select coalesce(DefExportRule, '<null>') from rep_TBLDESC where TABLENAME='Faktury'"),
            "<null>");
  ASSERT_EQ(questions_.asked.size(), 1u);
  EXPECT_EQ(questions_.asked[0].first, tQuestion::SetAsDefault);
  EXPECT_EQ(questions_.asked[0].second,
            Ansi("Tato volba nastaví aktuální soubor pravidel exportu jako \r\nvýchozí nastavení pro další "
                 "zakládané definice\r\nexportu z databáze shop. Pokračovat?"));

  questions_.answer = true;
  EXPECT_TRUE(rules_.SetAsDefault());
  TData_DBExport later;
  later.Open("DALSI", connection_, structure_);
  EXPECT_EQ(
      Rows("select TABLENAME, coalesce(ExportRule, '<null>') from rep_DEFEXPORT where Signature='DALSI' "
           "order by LISTORDER"),
      "rep_DELETED|<null>\nZakaznici|IDZAKAZNIK > 0\nFaktury|CENA > 100\nPolFakt|<null>");
}

TEST_F(ExportRulesTest, ConsistencyNamesTheFirstMasterWithoutRule) {
  // Zakaznici has its default rule; PolFakt depends on Faktury, which has none.
  Select("PolFakt");
  SaveRule("RADEK > 0");
  Select("Zakaznici");
  auto missing = rules_.CheckRuleConsistency();
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->table_name, "Faktury");
  EXPECT_EQ(missing->description, "Faktury");
  EXPECT_EQ(rules_.Rules().FieldByName("TABLENAME").AsString(), "Zakaznici");

  questions_.answer = false;
  EXPECT_FALSE(rules_.ConfirmClose());
  EXPECT_EQ(rules_.Rules().FieldByName("TABLENAME").AsString(), "Faktury");
  ASSERT_EQ(questions_.asked.size(), 1u);
  EXPECT_EQ(questions_.asked[0].second,
            Ansi("Chybí nastavení pravidla pro tabulku \"Faktury\" \rOpravdu mám formulář zavřít?"));

  SaveRule("CENA > 0");
  EXPECT_FALSE(rules_.CheckRuleConsistency());
  EXPECT_TRUE(rules_.ConfirmClose());
}

TEST_F(ExportRulesTest, MasterDeeperThanOneLevelCounts) {
  Select("Zakaznici");
  SaveRule("");
  Select("Faktury");
  SaveRule("CENA > 0");
  Select("PolFakt");
  SaveRule("RADEK > 0");
  auto missing = rules_.CheckRuleConsistency();
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->description, Ansi("Zákazníci"));
}

TEST_F(ExportRulesTest, DeletingLogRowRemovesItsDetailRows) {
  connection_.Execute(
      "INSERT INTO rep_XPORTLOG (Signature, EXPORTNO, EXPORTDATE) VALUES ('CENTRUM', 1, '2026-01-02'), "
      "  ('CENTRUM', 2, '2026-01-03'), ('JINY', 1, '2026-01-02');"
      "INSERT INTO rep_XPORTLOGDETAIL (Signature, EXPORTNO, TABLENAME, COUNTRECORDS) VALUES "
      "  ('CENTRUM', 1, 'Zakaznici', 5), ('CENTRUM', 1, 'Faktury', 7), ('CENTRUM', 2, 'Faktury', 1), "
      "  ('JINY', 1, 'Faktury', 3);");
  rules_.Open("CENTRUM", connection_, structure_);
  ASSERT_EQ(rules_.Log().RecordCount(), 2);
  EXPECT_EQ(rules_.LogDetail().RecordCount(), 2);
  rules_.Log().Next();
  EXPECT_EQ(rules_.LogDetail().RecordCount(), 1);
  rules_.Log().First();

  questions_.answer = false;
  EXPECT_FALSE(rules_.DeleteLogRow());
  EXPECT_EQ(rules_.Log().RecordCount(), 2);
  EXPECT_EQ(Scalar("select count(*) from rep_XPORTLOGDETAIL"), "4");
  ASSERT_EQ(questions_.asked.size(), 1u);
  EXPECT_EQ(questions_.asked[0].first, tQuestion::DeleteLogRow);
  EXPECT_EQ(questions_.asked[0].second, Ansi("Opravdu chcete vymazat zvolený záznam?"));

  questions_.answer = true;
  EXPECT_TRUE(rules_.DeleteLogRow());
  EXPECT_EQ(rules_.Log().RecordCount(), 1);
  EXPECT_EQ(Rows("select Signature, EXPORTNO from rep_XPORTLOG order by Signature, EXPORTNO"),
            "CENTRUM|2\nJINY|1");
  EXPECT_EQ(
      Rows("select Signature, EXPORTNO, TABLENAME from rep_XPORTLOGDETAIL order by Signature, EXPORTNO"),
      "CENTRUM|2|Faktury\nJINY|1|Faktury");
  EXPECT_EQ(rules_.LogDetail().RecordCount(), 1);
}

TEST_F(ExportRulesTest, RefreshReadsChangesOfOthersAndStaysOnTheRowAndRun) {
  connection_.Execute(
      "INSERT INTO rep_XPORTLOG (Signature, EXPORTNO, EXPORTDATE) VALUES ('CENTRUM', 1, '2026-01-02'), "
      "  ('CENTRUM', 2, '2026-01-03');"
      "INSERT INTO rep_XPORTLOGDETAIL (Signature, EXPORTNO, TABLENAME, COUNTRECORDS) VALUES "
      "  ('CENTRUM', 2, 'Faktury', 1);");
  rules_.Open("CENTRUM", connection_, structure_);
  Select("PolFakt");
  rules_.Log().Last();
  connection_.Execute(
      "UPDATE rep_DEFEXPORT SET ExportRule='1=1' WHERE TABLENAME='PolFakt';"
      "INSERT INTO rep_XPORTLOGDETAIL (Signature, EXPORTNO, TABLENAME, COUNTRECORDS) VALUES "
      "  ('CENTRUM', 2, 'PolFakt', 4);");

  rules_.Refresh();
  EXPECT_EQ(rules_.Rules().FieldByName("TABLENAME").AsString(), "PolFakt");
  EXPECT_EQ(rules_.Rules().FieldByName("ExportRule").AsString(), "1=1");
  EXPECT_TRUE(rules_.RuleIsSet());
  EXPECT_EQ(rules_.Log().FieldByName("EXPORTNO").AsInteger(), 2);
  EXPECT_EQ(rules_.LogDetail().RecordCount(), 2);

  rules_.Rules().Edit();
  EXPECT_THROW_MSG(rules_.Refresh(), dataset::DatasetError, "The rule row is being edited");
  rules_.Rules().Cancel();
}

TEST_F(ExportRulesTest, DescribedTableMissingFromTheStructureIsNamed) {
  connection_.Execute(
      "INSERT INTO rep_TBLDESC (TABLENAME, TABLEDESC, LISTORDER) VALUES ('Sklad', 'Sklad', 4)");
  TData_DBExport other;
  other.Open("NOVY", connection_, structure_);
  ASSERT_TRUE(other.Rules().Locate("TABLENAME", dataset::Variant::String("Sklad")));
  other.Rules().Edit();
  other.Rules().FieldByName("ExportRule").SetAsString("1 = 1");
  EXPECT_THROW_MSG(other.Rules().Post(), DefinitionError,
                   Ansi("Tabulka \"Sklad\" ve struktuře databáze není"));
  other.Rules().Cancel();
}

}  // namespace
}  // namespace tamaril::definitions::testing
