#include "definitions/import_rules.h"

#include <gtest/gtest.h>

#include <optional>

#include "dataset/errors.h"
#include "dataset/field.h"
#include "definitions/errors.h"
#include "rules_fixture.h"
#include "support/expect_throw_msg.h"

namespace tamaril::definitions::testing {
namespace {

using expr::RuleKind;

class ImportRulesTest : public RulesTest {
 protected:
  ImportRulesTest() {
    rules_.SetQuestions(&questions_);
    rules_.Open("KLIENT", connection_, structure_);
  }

  void Select(const std::string& table) {
    ASSERT_TRUE(rules_.Rules().Locate("TABLENAME", dataset::Variant::String(table)));
  }
  /// Edits one rule of the current row and saves the row.
  void SaveRule(const std::string& column, const std::string& text) {
    rules_.Rules().Edit();
    rules_.Rules().FieldByName(column).SetAsString(text);
    rules_.Rules().Post();
  }
  /// The stored rules of a table: Append|Update|UpdateField|Delete|IgnoreRowGuidField.
  std::string Stored(const std::string& table) {
    return Rows(
        "select coalesce(AppendRule, '-'), coalesce(UpdateRule, '-'), coalesce(UpdateFieldRule, '-'), "
        "coalesce(DeleteRule, '-'), IgnoreRowGuidField from rep_DEFIMPORT where Signature='KLIENT' and "
        "TABLENAME='" +
        table + "'");
  }

  /// The kind of the first rule of the current row that does not compile, or nothing.
  std::optional<RuleKind> RefusedKind() {
    try {
      rules_.ValidateCurrentRules();
    } catch (const RuleValidationError& error) {
      return error.Kind();
    }
    return std::nullopt;
  }

  TData_DBImport rules_;
};

TEST_F(ImportRulesTest, NewSignatureGetsRowsForEveryDescribedTableButDeletedRows) {
  EXPECT_EQ(
      Rows("select TABLENAME, coalesce(AppendRule, '-'), coalesce(UpdateRule, '-'), IgnoreRowGuidField, "
           "LISTORDER from rep_DEFIMPORT where Signature='KLIENT' order by LISTORDER"),
      "Zakaznici|NAZEV <> \"\"|-|1|1\nFaktury|-|@IMP_CENA <> CENA|0|2\nPolFakt|-|-|0|3");
  ASSERT_EQ(rules_.Rules().RecordCount(), 3);
  EXPECT_EQ(rules_.Rules().FieldByName("tableDesc").AsString(), Ansi("Zákazníci"));
  EXPECT_EQ(rules_.Rules().FieldByName("IgnoreRowGuidField").Text(), "Ano");
  EXPECT_TRUE(rules_.RuleIsSet());

  rules_.Open("KLIENT", connection_, structure_);
  EXPECT_EQ(Scalar("select count(*) from rep_DEFIMPORT"), "3");
}

struct CompileCase {
  RuleKind kind;
  const char* table;
  const char* rule;
  const char* error;  ///< UTF-8; null when the rule compiles
};

TEST_F(ImportRulesTest, EachRuleCompilesAgainstItsOwnListAndRows) {
  const CompileCase cases[] = {
      {RuleKind::Append, "Zakaznici", "(NAZEV <> \"\") and (@SIGNATURE = \"KLIENT\")", nullptr},
      {RuleKind::Append, "Zakaznici", "@LASTIMPRT > 0", nullptr},
      {RuleKind::Append, "Zakaznici", "@IMP_NAZEV <> NAZEV", "Neznámá operace:\r'@IMP_NAZEV'"},
      {RuleKind::Append, "Zakaznici", "@LASTXPRT > 0", "Neznámá operace:\r'@LASTXPRT'"},
      {RuleKind::Update, "Faktury", "@IMP_CENA <> CENA", nullptr},
      {RuleKind::Update, "Faktury", "@UPDFLD = \"Cena\"", "Neznámá operace:\r'@UPDFLD'"},
      {RuleKind::Update, "Faktury", "@DEL_RECORDID = IDFAKTURA", "Neznámá operace:\r'@DEL_RECORDID'"},
      {RuleKind::UpdateField, "Faktury", "(@UPDFLD = \"Cena\") and (@IMP_CENA > CENA)", nullptr},
      {RuleKind::UpdateField, "Faktury", "@UPDFLDUPPER = \"CENA\"", nullptr},
      {RuleKind::Delete, "Zakaznici", "(@DEL_RECORDID = IDZAKAZNIK) and (@DEL_TABLENAME = \"Zakaznici\")",
       nullptr},
      {RuleKind::Delete, "Zakaznici", "@IMP_NAZEV = NAZEV", "Neznámá operace:\r'@IMP_NAZEV'"},
      {RuleKind::Delete, "Zakaznici", "@UPDFLD = \"x\"", "Neznámá operace:\r'@UPDFLD'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.table) + ": " + c.rule);
    Select(c.table);
    const std::string column = tDefinitionRules::RuleColumn(c.kind);
    rules_.Rules().Edit();
    rules_.Rules().FieldByName(column).SetAsString(c.rule);
    if (c.error == nullptr) {
      EXPECT_NO_THROW(rules_.Rules().Post());
    } else {
      EXPECT_THROW_MSG(rules_.Rules().Post(), RuleValidationError, Ansi(c.error));
      rules_.Rules().Cancel();
    }
  }
}

TEST_F(ImportRulesTest, BuilderGroupsTheIdentifiersOfEachRow) {
  Select("Zakaznici");
  auto categories = [&](RuleKind kind) {
    std::string text;
    const std::unique_ptr<tRuleContext> context = rules_.PrepareRule(kind);
    for (const auto& entry : context->Registry().Entries()) {
      if (entry->name == "IDZAKAZNIK" || entry->name == "@IMP_IDZAKAZNIK" || entry->name == "@DEL_RECORDID") {
        text += entry->name + "=" + entry->category + ";";
      }
    }
    return text;
  };
  EXPECT_EQ(categories(RuleKind::Append), Ansi("IDZAKAZNIK=Pole tabulky \"Zákazníci\";"));
  EXPECT_EQ(categories(RuleKind::Update),
            Ansi("@IMP_IDZAKAZNIK=Importovaná tabulka;IDZAKAZNIK=Aktuální tabulka \"Zákazníci\";"));
  EXPECT_EQ(categories(RuleKind::Delete),
            Ansi("@DEL_RECORDID=\"Deleted\" tabulka;IDZAKAZNIK=Mazaný záznam \"Zákazníci\";"));
}

TEST_F(ImportRulesTest, FirstFailingRuleIsNamedAndNothingIsSaved) {
  Select("Faktury");
  rules_.Rules().Edit();
  rules_.Rules().FieldByName("AppendRule").SetAsString("CENA > 0");
  rules_.Rules().FieldByName("UpdateFieldRule").SetAsString("NIC");
  rules_.Rules().FieldByName("DeleteRule").SetAsString("NECO");
  EXPECT_THROW_MSG(rules_.Rules().Post(), RuleValidationError, Ansi("Neznámá operace:\r'NIC'"));
  EXPECT_EQ(RefusedKind(), RuleKind::UpdateField);
  rules_.Rules().Cancel();
  EXPECT_EQ(Stored("Faktury"), "-|@IMP_CENA <> CENA|-|-|0");
}

TEST_F(ImportRulesTest, DeleteRuleIsReadOnlyWhereRowsCannotBeIdentified) {
  Select("Faktury");
  EXPECT_FALSE(rules_.DeleteRuleReadOnly());
  Select("PolFakt");
  EXPECT_TRUE(rules_.DeleteRuleReadOnly());
  rules_.Rules().Edit();
  EXPECT_THROW(rules_.Rules().FieldByName("DeleteRule").SetAsString("1 = 1"), dataset::DatasetError);
  rules_.Rules().Cancel();
  Select("Zakaznici");
  EXPECT_FALSE(rules_.DeleteRuleReadOnly());
}

TEST_F(ImportRulesTest, AStoredDeleteRuleOfAnUnidentifiableTableCanBeClearedButNotKept) {
  connection_.Execute("UPDATE rep_DEFIMPORT SET DeleteRule='1 = 1' WHERE TABLENAME='PolFakt'");
  rules_.Open("KLIENT", connection_, structure_);
  Select("PolFakt");
  EXPECT_FALSE(rules_.DeleteRuleReadOnly());
  EXPECT_TRUE(rules_.DeleteRuleRefused());
  const std::string why = UnidentifiableDeleteRuleMessage("PolFakt");
  EXPECT_NE(why.find(Ansi("nelze nastavit: její záznamy nelze identifikovat")), std::string::npos);
  EXPECT_NE(why.find("--add-rowguid"), std::string::npos);
  rules_.Rules().Edit();
  rules_.Rules().FieldByName("AppendRule").SetAsString("1 = 1");
  // Cleared, the row saves and the rule cannot be set again.
  rules_.Rules().FieldByName("DeleteRule").Clear();
  rules_.Rules().Post();
  EXPECT_EQ(Stored("PolFakt"), "1 = 1|-|-|-|0");
  Select("Faktury");
  Select("PolFakt");
  EXPECT_TRUE(rules_.DeleteRuleReadOnly());
}

TEST_F(ImportRulesTest, ApplyLastRulesLeavesReadOnlyDeleteRuleAlone) {
  connection_.Execute(
      "UPDATE rep_DEFIMPORT SET DeleteRule='@DEL_RECORDID = RADEK' WHERE TABLENAME='PolFakt'");
  rules_.Open("KLIENT", connection_, structure_);
  Select("Faktury");
  rules_.Rules().Edit();
  rules_.Rules().FieldByName("AppendRule").SetAsString("IDFAKTURA > 0");
  rules_.Rules().FieldByName("UpdateRule").Clear();
  rules_.Rules().FieldByName("UpdateFieldRule").SetAsString("@UPDFLD <> \"Radek\"");
  rules_.Rules().FieldByName("DeleteRule").SetAsString("@DEL_RECORDID = IDFAKTURA");
  rules_.Rules().FieldByName("IgnoreRowGuidField").SetAsBoolean(true);
  rules_.Rules().Post();

  Select("PolFakt");
  rules_.ApplyLastRule();
  EXPECT_EQ(Stored("PolFakt"), "IDFAKTURA > 0|-|@UPDFLD <> \"Radek\"|@DEL_RECORDID = RADEK|1");
  Select("Zakaznici");
  EXPECT_THROW_MSG(rules_.ApplyLastRule(), RuleValidationError, Ansi("Neznámá operace:\r'IDFAKTURA'"));
  rules_.Rules().Cancel();
}

TEST_F(ImportRulesTest, SetAsDefaultCopiesAllRulesAndTheSwitch) {
  Select("PolFakt");
  rules_.Rules().Edit();
  rules_.Rules().FieldByName("AppendRule").SetAsString("RADEK > 0");
  rules_.Rules().FieldByName("IgnoreRowGuidField").SetAsBoolean(true);
  rules_.Rules().Post();
  ASSERT_TRUE(rules_.SetAsDefault());
  EXPECT_EQ(questions_.asked.at(0).second,
            Ansi("Tato volba nastaví aktuální soubor pravidel importu jako \r\nvýchozí nastavení pro další "
                 "zakládané definice\r\nimportu do databáze shop. Pokračovat?"));
  EXPECT_EQ(Rows("select TABLENAME, coalesce(DefAppendRule, '-'), coalesce(DefUpdateRule, '-'), "
                 "DefIgnoreRowGuidField "
                 "from rep_TBLDESC order by LISTORDER"),
            Ansi("rep_DELETED|-|-|0\nZakaznici|NAZEV <> \"\"|-|1\nFaktury|-|@IMP_CENA <> "
                 "CENA|0\nPolFakt|RADEK > 0|-|1"));
}

TEST_F(ImportRulesTest, ConsistencyCountsAnyOfTheFourRules) {
  Select("Faktury");
  SaveRule("UpdateRule", "");
  Select("PolFakt");
  SaveRule("UpdateFieldRule", "@UPDFLD = \"Zbozi\"");
  auto missing = rules_.CheckRuleConsistency();
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->table_name, "Faktury");
  Select("Faktury");
  SaveRule("DeleteRule", "1 = 1");
  EXPECT_FALSE(rules_.CheckRuleConsistency());
}

TEST_F(ImportRulesTest, DeletingLogRowRemovesItsDetailRows) {
  connection_.Execute(
      "INSERT INTO rep_IMPORTLOG (Signature, IMPORTNO, CLIENTEXPORTNO, CLIENTEXPORTDATE) VALUES "
      "  ('KLIENT', 1, 7, '2026-01-02'), ('KLIENT', 2, 8, '2026-01-03');"
      "INSERT INTO rep_IMPORTLOGDETAIL (Signature, IMPORTNO, TABLENAME, COUNT_APPENDED) VALUES "
      "  ('KLIENT', 1, 'Zakaznici', 5), ('KLIENT', 1, 'Faktury', 7), ('KLIENT', 2, 'Faktury', 1);");
  rules_.Open("KLIENT", connection_, structure_);
  EXPECT_EQ(rules_.LogDetail().RecordCount(), 2);
  EXPECT_TRUE(rules_.DeleteLogRow());
  EXPECT_EQ(Rows("select IMPORTNO, TABLENAME from rep_IMPORTLOGDETAIL"), "2|Faktury");
  EXPECT_EQ(Rows("select IMPORTNO, CLIENTEXPORTNO from rep_IMPORTLOG"), "2|8");
  EXPECT_EQ(rules_.Log().FieldByName("IMPORTNO").AsInteger(), 2);
  EXPECT_EQ(rules_.LogDetail().FieldByName("COUNT_APPENDED").AsInteger(), 1);
}

}  // namespace
}  // namespace tamaril::definitions::testing
