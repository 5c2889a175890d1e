#include <gtest/gtest.h>

#include <charconv>
#include <string>
#include <vector>

#include "dataset/memory_table.h"
#include "expr/builtins.h"
#include "expr/dataset_expression.h"
#include "expr/rule_lists.h"
#include "expr/tracking_columns.h"
#include "expr_test_support.h"
#include "text/encoding.h"

namespace tamaril::expr {
namespace {

using dataset::TQVMMemoryTable;

constexpr double k24Dec2003 = 37979;  // days since 30 December 1899

// A one-row table with the columns rules may and may not see; `cena` < 0 leaves the numbers
// and the text NULL.
void FillTable(TQVMMemoryTable& table, double cena, const std::string& nazev_utf8) {
  table.SetFieldLayout(text::Utf8ToAnsi(
      "Cena;Float;0;0;Nazev;String;20;0;Datum zápisu;DateTime;0;0;Cas;Time;0;0;Ok;Boolean;0;0;"
      "Poznamka;Memo;0;0;Velke;Largeint;0;0"));
  table.Open();
  table.Append();
  if (cena >= 0) {
    table.FieldByName("Cena").SetAsFloat(cena);
    table.FieldByName("Nazev").SetAsString(text::Utf8ToAnsi(nazev_utf8));
  }
  table.FieldByName(text::Utf8ToAnsi("Datum zápisu")).SetAsDateTime(k24Dec2003);
  table.FieldByName("Cas").SetAsDateTime(0.4375);
  table.FieldByName("Poznamka").SetAsString("  A = 1\r\n\t AND\n  B\r\n");
  table.Post();
}

std::string Show(const Value& value) {
  char number[64];
  switch (value.kind()) {
    case Value::Kind::Null: return "NULL";
    case Value::Kind::Boolean: return value.AsBoolean() ? "B:true" : "B:false";
    case Value::Kind::String: return "S:" + text::AnsiToUtf8(value.AsString());
    default: return "N:" + std::string(number, std::to_chars(number, number + 64, value.raw_number()).ptr);
  }
}

// Compiles and evaluates a UTF-8 rule: "C<code>" for a compile error, "E<code>" for an
// evaluation error, else the value.
std::string RuleOutcome(TExpression& expression, const std::string& rule_utf8, const OperationDef* list) {
  if (const int code = expression.Engine().Compile(text::Utf8ToAnsi(rule_utf8), list); code != 0) {
    return "C" + std::to_string(code);
  }
  Value value;
  if (const int code = expression.EvaluateWithCode(value); code != 0) return "E" + std::to_string(code);
  return Show(value);
}

class DatasetRules : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testing::UseProgramSettings();
    InitRuleLists();
  }
  void SetUp() override { RunValues() = ReplicationValues{}; }
};

TEST_F(DatasetRules, RegistersVisibleFieldsUnderUpperCaseNamesWithBlanksAsUnderscores) {
  TQVMMemoryTable table;
  FillTable(table, 1, "x");
  FieldRegistry registry;
  DefinitionList list = const_cast<OperationDef*>(RuleList(RuleKind::Export));
  RegisterDatasetFields(false, registry, list, "Pole", table);
  std::vector<std::string> names;
  for (const auto& entry : registry.Entries()) {
    names.push_back(text::AnsiToUtf8(entry->name) + ":" +
                    std::to_string(static_cast<int>(entry->def.ResultType())));
    EXPECT_TRUE(entry->def.Caches());
    EXPECT_EQ(entry->def.category, "Pole");
  }
  EXPECT_EQ(names, (std::vector<std::string>{"CENA:1", "NAZEV:2", "DATUM_ZÁPISU:3", "CAS:2", "OK:4"}));
  EXPECT_EQ(list, registry.Find("OK"));                      // the last field is found first
  EXPECT_EQ(RuleList(RuleKind::Export)->name, "@LASTXPRT");  // the global list is untouched

  FreeFieldDefinitions(registry);
  EXPECT_TRUE(registry.Empty());
}

TEST_F(DatasetRules, FieldIdentifiersReadTheCurrentRow) {
  TQVMMemoryTable table, empty_row;
  FillTable(table, 150.5, "Čaj \"zelený\"");
  FillTable(empty_row, -1, "");
  FieldRegistry registry;
  DefinitionList list = const_cast<OperationDef*>(RuleList(RuleKind::Export));
  RegisterDatasetFields(false, registry, list, "", table);
  RunValues().last_export_date = k24Dec2003 - 1;
  tDatasetExpression rule(&table);
  struct Case {
    const char* rule;
    const char* full_row;
    const char* null_row;
  } cases[] = {
      {"datum_zápisu > @lastxprt", "B:true", "B:true"},
      {"(CENA > 100) AND (UPPER(NAZEV) <> \"X\") OR (DATUM_ZÁPISU > @LASTXPRT)", "B:true", "B:true"},
      {"cena * 2", "N:301", "N:0"},
      {"NAZEV", "S:Čaj \"zelený\"", "S:"},
      {"NAZEV + CENA", "C4", "C4"},
      {"OK", "B:false", "B:false"},
      {"CAS = \"10:30:00\"", "B:true", "B:true"},
      {"CAS > @LASTXPRT", "C4", "C4"},
      {"POZNAMKA", "C2", "C2"},
      {"VELKE = 0", "C2", "C2"},
      {"@LASTIMPRT", "C2", "C2"},
      {"Datum zápisu", "C2", "C2"},
  };
  for (const Case& c : cases) {
    rule.SetDataSet(&table);
    EXPECT_EQ(RuleOutcome(rule, c.rule, list), c.full_row) << c.rule;
    rule.SetDataSet(&empty_row);
    EXPECT_EQ(RuleOutcome(rule, c.rule, list), c.null_row) << c.rule << " on NULLs";
  }

  // A closed dataset, a dataset without the column and no dataset at all read Null.
  for (dataset::TDataSet* other :
       {static_cast<dataset::TDataSet*>(&empty_row), static_cast<dataset::TDataSet*>(nullptr)}) {
    if (other != nullptr) other->Close();
    rule.SetDataSet(other);
    EXPECT_EQ(RuleOutcome(rule, "CENA * 2", list), "E102");
  }
  TQVMMemoryTable narrow;
  narrow.SetFieldLayout("Jine;Integer;0;0");
  narrow.Open();
  rule.SetDataSet(&narrow);
  EXPECT_EQ(RuleOutcome(rule, "UPPER(NAZEV)", list), "E102");
  // The same list used by an expression of another kind reads nothing.
  TExpression plain;
  EXPECT_EQ(RuleOutcome(plain, "CENA", list), "NULL");
}

TEST_F(DatasetRules, PrefixedIdentifiersReadTheOtherRowOfTwoRowRules) {
  TQVMMemoryTable imported, current;
  FillTable(imported, 200, "nový");
  FillTable(current, 100, "starý");
  FieldRegistry registry;
  DefinitionList list = const_cast<OperationDef*>(RuleList(RuleKind::Update));
  RegisterTwoDatasetFields(false, registry, "@IMP_", list, text::Utf8ToAnsi("Cíl"), "Import", current,
                           imported);
  EXPECT_EQ(registry.Count(), 10U);
  EXPECT_EQ(registry.Entries().front()->name, "@IMP_CENA");
  EXPECT_EQ(registry.Entries().front()->category, "Import");
  EXPECT_EQ(registry.Entries().back()->category, text::Utf8ToAnsi("Cíl"));
  tTwoDatasetExpression rule(&imported, &current, "@IMP_");
  EXPECT_EQ(RuleOutcome(rule, "@IMP_CENA <> CENA", list), "B:true");
  EXPECT_EQ(RuleOutcome(rule, "@imp_cena - cena", list), "N:100");
  EXPECT_EQ(RuleOutcome(rule, "@IMP_NAZEV + \"/\" + NAZEV", list), "S:nový/starý");
  EXPECT_EQ(RuleOutcome(rule, "@IMP_DATUM_ZÁPISU = DATUM_ZÁPISU", list), "B:true");
  EXPECT_EQ(RuleOutcome(rule, "@DEL_CENA", list), "C2");
}

TEST_F(DatasetRules, ReplicationIdentifiersReadTheProcessWideValues) {
  RunValues().signature = "POBOCKA1";
  RunValues().last_import_date = k24Dec2003;
  RunValues().update_field = text::Utf8ToAnsi("Cena_kč");
  TExpression rule;
  EXPECT_EQ(RuleOutcome(rule, "@SIGNATURE + \"/\" + @signature", RuleList(RuleKind::Export)),
            "S:POBOCKA1/POBOCKA1");
  EXPECT_EQ(RuleOutcome(rule, "@LASTIMPRT", RuleList(RuleKind::Delete)), "N:37979");
  EXPECT_EQ(RuleOutcome(rule, "@LASTXPRT", RuleList(RuleKind::Export)), "N:0");
  EXPECT_EQ(RuleOutcome(rule, "@UPDFLD + \" \" + @UPDFLDUPPER", RuleList(RuleKind::UpdateField)),
            "S:Cena_kč CENA_KČ");
  EXPECT_EQ(RuleOutcome(rule, "@UPDFLD", RuleList(RuleKind::Update)), "C2");
  EXPECT_EQ(RuleOutcome(rule, "ano AND NOT ne", RuleList(RuleKind::Append)), "B:true");
}

TEST_F(DatasetRules, TheFiveListsStackTheirIdentifiersOnTheSharedBuiltins) {
  const auto names_before_builtins = [](const OperationDef* def) {
    std::string names;
    for (; def != nullptr && def != BuiltinOperations(); def = def->next)
      names += std::string(def->name) + " ";
    return def == nullptr ? names + "(no built-ins)" : names;
  };
  EXPECT_EQ(names_before_builtins(RuleList(RuleKind::Export)), "@LASTXPRT @SIGNATURE ");
  EXPECT_EQ(names_before_builtins(RuleList(RuleKind::Append)), "@LASTIMPRT @SIGNATURE ");
  EXPECT_EQ(RuleList(RuleKind::Update), RuleList(RuleKind::Append));
  EXPECT_EQ(RuleList(RuleKind::Delete), RuleList(RuleKind::Append));
  EXPECT_EQ(names_before_builtins(RuleList(RuleKind::UpdateField)),
            "@UPDFLDUPPER @UPDFLD @LASTIMPRT @SIGNATURE ");
  EXPECT_EQ(RuleList(RuleKind::Export)->category, "Funkce pro export");
  EXPECT_TRUE(RuleList(RuleKind::Export)->help_file.empty());
  EXPECT_FALSE(RuleList(RuleKind::Export)->Caches());
}

TEST_F(DatasetRules, RuleTextJoinsTrimmedLines) {
  TQVMMemoryTable table, empty_row;
  FillTable(table, 1, "");
  empty_row.SetFieldLayout("Poznamka;Memo;0;0");
  empty_row.Open();
  empty_row.Append();
  empty_row.Post();
  EXPECT_EQ(RuleText(table.FindField("Poznamka")), "A = 1 AND B");
  EXPECT_EQ(RuleText(empty_row.FindField("Poznamka")), "");
  EXPECT_EQ(RuleText(nullptr), "");
}

TEST_F(DatasetRules, TrackingColumnsAreRecognisedIgnoringCase) {
  for (const char* name :
       {"rep_Date_Inserted", "REP_SIGNATURE_INSERTED", "rep_date_updated", "Rep_Signature_Updated"}) {
    EXPECT_TRUE(IsTrackingColumn(name)) << name;
  }
  for (const char* name : {"rep_Date", "rep_Date_Inserted ", "Date_Updated", "rep_Signature_Deleted", ""}) {
    EXPECT_FALSE(IsTrackingColumn(name)) << name;
  }
}

}  // namespace
}  // namespace tamaril::expr
