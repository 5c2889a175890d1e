// The conflict list: which conflicts share a group, and that the kept rows are copies.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataset/field.h"
#include "dataset/memory_table.h"
#include "replication/conflict_list.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

using Lines = std::vector<std::string>;

// A one-row memory table standing in for the merger's row, whose row can be replaced.
class SourceRow {
 public:
  explicit SourceRow(const std::string& layout = "Id;Integer;0;0;Name;String;20;0") {
    table_.SetFieldLayout(layout);
    table_.Open();
  }
  dataset::TQVMMemoryTable& Set(int id, const std::string& name) {
    table_.EmptyTable();
    table_.Append();
    table_.FieldByName("Id").SetAsInteger(id);
    if (dataset::TField* field = table_.FindField("Name")) field->SetAsString(name);
    table_.Post();
    return table_;
  }

 private:
  dataset::TQVMMemoryTable table_;
};

std::string Column(dataset::TQVMMemoryTable& rows, const char* field) {
  std::string values;
  for (rows.First(); !rows.Eof(); rows.Next())
    values += (values.empty() ? "" : ",") + rows.FieldByName(field).AsString();
  return values;
}

TEST(ConflictListTest, GroupsByMessageArchiveAndDatabase) {
  tConflictList list;
  SourceRow row;
  list.AddError("A.ZR2", "db", &row.Set(1, "jedna"), "chyba");
  list.AddError("A.ZR2", "db", &row.Set(2, "dva"), "chyba");
  list.AddError("B.ZR2", "db", &row.Set(3, "tri"), "chyba");
  list.AddError("A.ZR2", "jiná", &row.Set(4, "ctyri"), "chyba");
  list.AddError("A.ZR2", "db", &row.Set(5, "pet"), "jiná chyba");

  ASSERT_EQ(list.Groups().size(), 4u);
  EXPECT_EQ(Column(*list.Groups()[0]->rows, "Id"), "1,2");
  EXPECT_EQ(Column(*list.Groups()[1]->rows, "Id"), "3");
  EXPECT_EQ(Column(*list.Groups()[2]->rows, "Id"), "4");
  EXPECT_EQ(Column(*list.Groups()[3]->rows, "Id"), "5");
  const Lines lines = list.Lines();
  ASSERT_EQ(lines.size(), 16u);
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + 4),
            (Lines{"chyba", "Archiv: A.ZR2", text::Utf8ToAnsi("Databáze: db"), "..."}));
}

TEST(ConflictListTest, NamesLeftOutGiveShorterGroupsThatDoNotMixWithNamedOnes) {
  tConflictList list;
  SourceRow row;
  list.AddError("", "", &row.Set(1, "a"), "chyba");
  list.AddError("A.ZR2", "db", &row.Set(2, "b"), "chyba");
  list.AddError("", "db", &row.Set(3, "c"), "chyba");
  list.AddError("", "db", &row.Set(4, "d"), "chyba");
  list.AddError("", "", &row.Set(5, "e"), "chyba");

  ASSERT_EQ(list.Groups().size(), 3u);
  EXPECT_EQ(Column(*list.Groups()[0]->rows, "Id"), "1,5");
  EXPECT_EQ(Column(*list.Groups()[1]->rows, "Id"), "2");
  EXPECT_EQ(Column(*list.Groups()[2]->rows, "Id"), "3,4");
  EXPECT_EQ(list.Lines(), (Lines{"chyba", "...", "chyba", "Archiv: A.ZR2", text::Utf8ToAnsi("Databáze: db"),
                                 "...", "chyba", text::Utf8ToAnsi("Databáze: db"), "..."}));
}

TEST(ConflictListTest, KeptRowsAreCopiesThatOutliveTheSource) {
  tConflictList list;
  {
    SourceRow row;
    list.AddError("A.ZR2", "db", &row.Set(1, "první"), "chyba");
    row.Set(9, "změněný");
    list.AddError("A.ZR2", "db", &row.Set(2, "druhý"), "chyba");
  }
  dataset::TQVMMemoryTable& rows = *list.Groups()[0]->rows;
  EXPECT_EQ(Column(rows, "Id"), "1,2");
  EXPECT_EQ(Column(rows, "Name"), "první,druhý");
}

TEST(ConflictListTest, OnlyRowsOfTheGroupsLayoutAreKept) {
  tConflictList list;
  SourceRow row;
  SourceRow other("Id;Integer;0;0");
  list.AddError("A.ZR2", "db", nullptr, "bez řádku");
  list.AddError("A.ZR2", "db", &row.Set(1, "a"), "bez řádku");
  list.AddError("A.ZR2", "db", &row.Set(2, "b"), "chyba");
  list.AddError("A.ZR2", "db", &other.Set(3, ""), "chyba");

  ASSERT_EQ(list.Groups().size(), 2u);
  EXPECT_EQ(list.Groups()[0]->rows, nullptr);
  EXPECT_EQ(Column(*list.Groups()[1]->rows, "Id"), "2");
}

TEST(ConflictListTest, ALineLeadsToTheRowsOfItsGroupButTheSeparatorToNone) {
  tConflictList list;
  SourceRow row;
  list.AddError("A.ZR2", "db", nullptr, "bez řádku");
  list.AddError("A.ZR2", "", &row.Set(1, "a"), "chyba");
  // Lines: 0-3 the group without rows, 4 "chyba", 5 the archive, 6 "...".
  dataset::TQVMMemoryTable* rows = list.Groups()[1]->rows.get();
  EXPECT_EQ(list.RowsOfLine(0), nullptr);
  EXPECT_EQ(list.RowsOfLine(2), nullptr);
  EXPECT_EQ(list.RowsOfLine(4), rows);
  EXPECT_EQ(list.RowsOfLine(5), rows);
  EXPECT_EQ(list.RowsOfLine(6), nullptr);
  EXPECT_EQ(list.RowsOfLine(7), nullptr);
  EXPECT_EQ(list.RowsOfLine(-1), nullptr);
}

}  // namespace
}  // namespace tamaril::replication
