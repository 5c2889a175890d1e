#include "expr/builder_catalog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataset/memory_table.h"
#include "expr/builtins.h"
#include "expr/rule_lists.h"
#include "expr_test_support.h"
#include "text/encoding.h"

namespace tamaril::expr {
namespace {

std::string Ansi(const std::string& utf8) { return text::Utf8ToAnsi(utf8); }

class BuilderCatalogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testing::UseProgramSettings();
    InitRuleLists();
  }

  static std::vector<std::string> Titles(const std::vector<BuilderCategory>& catalog) {
    std::vector<std::string> titles;
    for (const auto& category : catalog) titles.push_back(text::AnsiToUtf8(category.title));
    return titles;
  }

  static const BuilderCategory* Find(const std::vector<BuilderCategory>& catalog, const std::string& utf8) {
    for (const auto& category : catalog) {
      if (category.title == Ansi(utf8)) return &category;
    }
    return nullptr;
  }

  static const BuilderEntry* Entry(const BuilderCategory& category, const std::string& text) {
    for (const auto& entry : category.entries) {
      if (entry.text == text) return &entry;
    }
    return nullptr;
  }

  static std::string EntryTexts(const BuilderCategory& category) {
    std::string texts;
    for (const auto& entry : category.entries) texts += (texts.empty() ? "" : " ") + entry.text;
    return texts;
  }
};

// Each list shows the groups of its own identifiers besides the built-ins, sorted by the locale
// (so "Funkce IF" stands before "Funkce pro datum" and "Logické" before "Operace").
TEST_F(BuilderCatalogTest, EachRuleListShowsItsOwnGroupsSorted) {
  EXPECT_EQ(Titles(BuilderCatalog(RuleList(RuleKind::Export))),
            (std::vector<std::string>{"Aritmetické funkce", "Funkce IF", "Funkce pro datum",
                                      "Funkce pro export", "Funkce pro replikaci", "Logické operace",
                                      "Operace porovnání", "Textové funkce"}));
  const auto update_field = BuilderCatalog(RuleList(RuleKind::UpdateField));
  const BuilderCategory* import = Find(update_field, "Funkce pro import");
  ASSERT_NE(import, nullptr);
  EXPECT_EQ(EntryTexts(*import), "@LASTIMPRT @UPDFLD @UPDFLDUPPER");
  const auto append = BuilderCatalog(RuleList(RuleKind::Append));
  const BuilderCategory* append_import = Find(append, "Funkce pro import");
  ASSERT_NE(append_import, nullptr);
  EXPECT_EQ(EntryTexts(*append_import), "@LASTIMPRT");
}

// Functions get argument skeletons, operators and zero-argument functions their name alone;
// overloads share one entry that lists every signature, bound to the first in list order.
TEST_F(BuilderCatalogTest, EntriesCarrySkeletonsAndShareOverloads) {
  const auto catalog = BuilderCatalog(RuleList(RuleKind::Export));
  const BuilderCategory* comparison = Find(catalog, "Operace porovnání");
  ASSERT_NE(comparison, nullptr);
  ASSERT_EQ(comparison->entries.size(), 6u);
  const BuilderEntry* equal = Entry(*comparison, "=");
  ASSERT_NE(equal, nullptr);
  std::vector<std::string> signatures;
  for (const OperationDef* def : equal->overloads) signatures.push_back(UsageText(*def));
  EXPECT_EQ(signatures, (std::vector<std::string>{"D = N -> B", "N = D -> B", "D = D -> B", "B = B -> B",
                                                  "S = S -> B", "N = N -> B"}));
  EXPECT_EQ(equal->Bound().help_context, 11013u);
  EXPECT_EQ(equal->Bound().help_file, kBuiltinHelpFile);

  const BuilderCategory* arithmetic = Find(catalog, "Aritmetické funkce");
  ASSERT_NE(arithmetic, nullptr);
  const BuilderEntry* round = Entry(*arithmetic, "ROUND( , )");
  ASSERT_NE(round, nullptr);
  EXPECT_EQ(UsageText(round->Bound()), "ROUND(N, N) -> N");
  EXPECT_NE(round->description.find("ROUND(x, n)"), std::string::npos);
  const BuilderEntry* minus = Entry(*arithmetic, "-");
  ASSERT_NE(minus, nullptr);
  ASSERT_EQ(minus->overloads.size(), 4u);
  EXPECT_EQ(UsageText(*minus->overloads.back()), "- N -> N");

  const BuilderCategory* conditional = Find(catalog, "Funkce IF");
  ASSERT_NE(conditional, nullptr);
  EXPECT_EQ(EntryTexts(*conditional), "IF( , , )");
  const BuilderCategory* dates = Find(catalog, "Funkce pro datum");
  ASSERT_NE(dates, nullptr);
  ASSERT_NE(Entry(*dates, "TODAY"), nullptr);
  EXPECT_EQ(UsageText(Entry(*dates, "TODAY")->Bound()), "TODAY -> D");
  const BuilderCategory* logic = Find(catalog, "Logické operace");
  ASSERT_NE(logic, nullptr);
  EXPECT_EQ(EntryTexts(*logic), "AND NOT OR");
  EXPECT_EQ(UsageText(Entry(*logic, "NOT")->Bound()), "NOT B -> B");

  const BuilderCategory* replication = Find(catalog, "Funkce pro replikaci");
  ASSERT_NE(replication, nullptr);
  const BuilderEntry* signature = Entry(*replication, "@SIGNATURE");
  ASSERT_NE(signature, nullptr);
  EXPECT_TRUE(signature->Bound().help_file.empty());
  EXPECT_FALSE(signature->description.empty());
}

// Every built-in and replication identifier has a description: a new one without its line
// would show an empty column.
TEST_F(BuilderCatalogTest, EveryOfferedOperationIsDescribed) {
  for (const RuleKind kind : {RuleKind::Export, RuleKind::UpdateField}) {
    for (const auto& category : BuilderCatalog(RuleList(kind))) {
      for (const auto& entry : category.entries) {
        EXPECT_FALSE(entry.description.empty()) << entry.text;
      }
    }
  }
}

// A table's fields form their own group; their entries name the field as the table spells it,
// also where the identifier hides a built-in of the same name.
TEST_F(BuilderCatalogTest, FieldsOfATableFormTheirOwnGroup) {
  dataset::TQVMMemoryTable table;
  table.SetFieldLayout(Ansi("Datum zápisu;DateTime;0;0;Date;String;10;0;Pozn;Memo;10;0"));
  table.Open();
  FieldRegistry registry;
  DefinitionList list = const_cast<OperationDef*>(RuleList(RuleKind::Export));
  RegisterDatasetFields(false, registry, list, Ansi("Pole tabulky \"Zákazníci\""), table);
  const auto catalog = BuilderCatalog(list, &registry);
  FreeFieldDefinitions(registry);

  const BuilderCategory* fields = Find(catalog, "Pole tabulky \"Zákazníci\"");
  ASSERT_NE(fields, nullptr);
  ASSERT_EQ(fields->entries.size(), 2u);  // the memo column is not visible to rules
  EXPECT_EQ(fields->entries[0].text, "DATE");
  EXPECT_EQ(fields->entries[0].description, "Pole Date");
  EXPECT_EQ(fields->entries[1].text, Ansi("DATUM_ZÁPISU"));
  EXPECT_EQ(fields->entries[1].description, Ansi("Pole Datum zápisu"));
}

TEST_F(BuilderCatalogTest, LongCategoryIsCutButKeepsItsEntries) {
  OperationDef def;
  def.name = "X";
  const std::string long_title(100, 'k');
  def.category = long_title;
  def.signature[0] = TypeCode::Number;
  const auto catalog = BuilderCatalog(&def);
  ASSERT_EQ(catalog.size(), 1u);
  EXPECT_EQ(catalog[0].title, std::string(kMaxCategoryTitle, 'k'));
  ASSERT_EQ(catalog[0].entries.size(), 1u);
}

}  // namespace
}  // namespace tamaril::expr
