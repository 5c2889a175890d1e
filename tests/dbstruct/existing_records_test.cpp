#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dbstruct/comparison_hook.h"
#include "dbstruct/errors.h"
#include "dbstruct/existing_records.h"
#include "text/locale.h"

namespace tamaril::dbstruct {
namespace {

const char* const kLayout = "ID;Integer;0;0;NAME;String;10;0;rep_Date_Updated;DateTime;0;0";

struct Row {
  int id;
  std::string name;
  double updated = 45000.0;
};

std::unique_ptr<dataset::TQVMmemDataSet> Rows(const std::vector<Row>& rows, const char* layout = kLayout) {
  auto table = std::make_unique<dataset::TQVMMemoryTable>();
  table->SetFieldLayout(layout);
  table->Open();
  for (const Row& row : rows) {
    table->Append();
    table->FieldByName("ID").SetAsInteger(row.id);
    table->FieldByName("NAME").SetAsString(row.name);
    table->FieldByName("rep_Date_Updated").SetAsDateTime(row.updated);
    table->Post();
  }
  return table;
}

TEST(ExistingRecords, IsAmbiguous) {
  struct Case {
    const char* what;
    std::vector<std::vector<Row>> guid;  // zero or one RowGuidMatch
    std::vector<std::vector<Row>> keys;  // KeyMatches PK, UQ1, UQ2 …
    bool by_identity;
    std::string identity_column;
    bool ambiguous;
    std::string conflict;
  };
  const Case cases[] = {
      {"one guid row", {{{1, "a"}}}, {}, true, "", false, ""},
      {"two guid rows", {{{1, "a"}, {2, "b"}}}, {}, true, "", true, "RG"},
      {"guid row, identity, no key match", {{{1, "a"}}}, {}, true, "ID", true, "ID"},
      {"guid and key agree", {{{1, "a"}}}, {{{1, "a"}}, {{1, "a"}}}, true, "ID", false, ""},
      {"second index finds another row", {{{1, "a"}}}, {{{1, "a"}}, {{2, "a"}}}, true, "", true, "UQ1"},
      {"keys only, agreeing", {}, {{{1, "a"}}, {{1, "a"}}}, true, "", false, ""},
      {"keys only, disagreeing", {}, {{{1, "a"}}, {{1, "a"}}, {{3, "c"}}}, true, "", true, "UQ2"},
      {"unique index match, not the identifying key", {}, {{{1, "a"}}}, false, "", true, "PK"},
      {"nothing matched", {}, {}, false, "", false, ""},
  };
  for (const Case& c : cases) {
    tExistingRecords found;
    found.RowGuidColumn = "RG";
    found.IdentityColumn = c.identity_column;
    found.FoundByIdentity = c.by_identity;
    if (!c.guid.empty()) found.RowGuidMatch = Rows(c.guid.front());
    for (std::size_t i = 0; i < c.keys.size(); ++i) {
      found.KeyMatches.push_back({i == 0 ? "PK" : "UQ" + std::to_string(i), Rows(c.keys[i])});
    }
    std::string conflict = "stale";
    EXPECT_EQ(found.IsAmbiguous(conflict), c.ambiguous) << c.what;
    EXPECT_EQ(conflict, c.conflict) << c.what;
  }
}

class MarkChangedFields : public ::testing::Test {
 protected:
  void TearDown() override { IgnoreFieldInComparison = nullptr; }

  static int Flag(dataset::TQVMmemDataSet& source, const char* name) { return source.FieldByName(name).Tag; }
};

TEST_F(MarkChangedFields, FlagsDifferingFieldsButNotTrackingColumns) {
  tExistingRecords found;
  found.KeyMatches.push_back({"PK", Rows({{1, "old", 45000.0}})});
  auto source = Rows({{1, "new", 45001.0}});
  source->FieldByName("ID").Tag = 1;
  EXPECT_EQ(found.MarkChangedFields(source.get()), 2);
  EXPECT_EQ(Flag(*source, "ID"), 0);
  EXPECT_EQ(Flag(*source, "NAME"), 1);
  EXPECT_EQ(Flag(*source, "rep_Date_Updated"), 1);
  IgnoreFieldInComparison = [](std::string_view name) {
    return text::SameTextIgnoreCase(name, "REP_DATE_UPDATED");
  };
  EXPECT_EQ(found.MarkChangedFields(source.get()), 1);
  EXPECT_EQ(Flag(*source, "rep_Date_Updated"), 0);
}

TEST_F(MarkChangedFields, MatchesFieldsByNameAndRefusesOtherStructures) {
  tExistingRecords found;
  EXPECT_EQ(found.MarkChangedFields(Rows({{1, "a"}}).get()), 0);  // nothing found: nothing to compare
  found.KeyMatches.push_back({"PK", Rows({{1, "a"}})});
  EXPECT_EQ(found.MarkChangedFields(nullptr), 0);

  // The same columns in another order are compared by name.
  auto reordered = Rows({{2, "a"}}, "NAME;String;10;0;rep_Date_Updated;DateTime;0;0;ID;Integer;0;0");
  EXPECT_EQ(found.MarkChangedFields(reordered.get()), 1);
  EXPECT_EQ(Flag(*reordered, "ID"), 1);

  auto renamed = Rows({}, "ID;Integer;0;0;NAME;String;10;0;OTHER;DateTime;0;0");
  auto fewer = Rows({}, "ID;Integer;0;0;NAME;String;10;0");
  for (auto* source : {renamed.get(), fewer.get()}) {
    try {
      found.MarkChangedFields(source);
      ADD_FAILURE() << "no exception";
    } catch (const StructureError& error) {
      EXPECT_EQ(std::string(error.what()), "Datasets have different structure");
    }
  }
}

}  // namespace
}  // namespace tamaril::dbstruct
