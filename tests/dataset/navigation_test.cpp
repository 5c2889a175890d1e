// Navigation, editing, search and bookmarks of the memory dataset as a framework dataset.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataset/errors.h"
#include "dataset/memory_table.h"
#include "table_fixtures.h"
#include "text/encoding.h"

namespace tamaril::dataset {
namespace {

using fixtures::Fill;
using fixtures::Nums;

int Num(TDataSet& dataset) { return static_cast<int>(dataset.FieldByName("Num").AsInteger()); }

TEST(Navigation, MovesPastBothEndsAndBack) {
  TQVMMemoryTable table;
  Fill(table, {1, 2, 3});
  table.Last();
  table.Next();
  EXPECT_TRUE(table.Eof());
  EXPECT_EQ(Num(table), 3);  // the last row stays shown
  EXPECT_EQ(table.MoveBy(1), 0);
  table.Prior();
  EXPECT_EQ(Num(table), 2);
  EXPECT_FALSE(table.Eof());
  EXPECT_FALSE(table.Bof());
  table.First();
  table.Prior();
  EXPECT_TRUE(table.Bof());
  EXPECT_EQ(Num(table), 1);
  table.Next();
  EXPECT_EQ(Num(table), 2);
  EXPECT_EQ(table.MoveBy(-5), -1);
  EXPECT_TRUE(table.Bof());
  EXPECT_EQ(table.RecNo(), 0);
}

TEST(Navigation, DeletingFromTheEndDownToEmptyAndAppendingAgain) {
  TQVMMemoryTable table;
  Fill(table, {1, 2, 3});
  table.Last();
  table.Delete();
  EXPECT_EQ(Num(table), 2);  // the new last row
  EXPECT_EQ(table.RecNo(), 1);
  table.First();
  table.Delete();
  EXPECT_EQ(Num(table), 2);
  table.Delete();
  EXPECT_TRUE(table.IsEmpty());
  EXPECT_TRUE(table.Bof() && table.Eof());
  EXPECT_EQ(table.RecordCount(), 0);
  EXPECT_TRUE(table.FieldByName("Num").IsNull());
  table.Insert();
  table.FieldByName("Num").SetAsInteger(7);
  table.Post();
  EXPECT_EQ(Num(table), 7);
  EXPECT_EQ(Nums(table), std::vector<int>({7}));
}

TEST(Navigation, InsertAndEditEndEitherWay) {
  TQVMMemoryTable table;
  Fill(table, {});
  table.Insert();
  table.FieldByName("Num").SetAsInteger(1);
  table.Cancel();
  EXPECT_TRUE(table.IsEmpty());
  EXPECT_EQ(table.State(), DataSetState::Browse);
  table.Close();
  Fill(table, {1, 2, 3});
  table.First();
  table.Next();
  table.Insert();  // without an index a new row goes after the others
  table.FieldByName("Num").SetAsInteger(9);
  table.Post();
  EXPECT_EQ(Num(table), 9);
  EXPECT_EQ(table.RecNo(), 3);
  table.First();
  table.Edit();
  table.FieldByName("Num").SetAsInteger(5);
  table.Cancel();
  EXPECT_EQ(Num(table), 1);
  table.Edit();
  table.FieldByName("Num").SetAsInteger(5);
  table.Next();  // moving on posts a modified row
  EXPECT_EQ(table.State(), DataSetState::Browse);
  EXPECT_EQ(Nums(table), std::vector<int>({5, 2, 3, 9}));
  table.First();
  table.Edit();
  table.Delete();  // deleting while editing drops the edit and the row
  EXPECT_EQ(Nums(table), std::vector<int>({2, 3, 9}));
}

TEST(Navigation, ReadOnlyDatasetRefusesChangesUnlessWrittenInternally) {
  TQVMMemoryTable table;
  table.SetReadOnly(true);
  Fill(table, {});
  EXPECT_FALSE(table.CanModify());
  EXPECT_THROW_MSG(table.Append(), DatasetError, "Cannot modify a read-only dataset");
  table.InternalWrite = true;
  table.Append();
  table.FieldByName("Num").SetAsInteger(1);
  table.Post();
  table.InternalWrite = false;
  EXPECT_THROW_MSG(table.Edit(), DatasetError, "Cannot modify a read-only dataset");
  EXPECT_THROW_MSG(table.Delete(), DatasetError, "Cannot modify a read-only dataset");
  EXPECT_EQ(Nums(table), std::vector<int>({1}));
}

TEST(Fields, ValidationSeesTheNewValueAndRequiredUsesTheLabel) {
  TQVMMemoryTable table;
  Fill(table, {}, "Name;String;10;4;Num;Integer;0;0");
  TField& num = table.FieldByName("Num");
  std::vector<std::string> seen;
  num.OnValidate = [&](TField& field) {
    seen.push_back(field.IsNull() ? "null" : field.AsString());
    if (field.AsInteger() > 100) throw DatasetError("Num too big");
  };
  table.Append();
  num.SetAsInteger(5);
  EXPECT_THROW_MSG(num.SetAsInteger(500), DatasetError, "Num too big");
  num.Clear();
  EXPECT_EQ(seen, std::vector<std::string>({"5", "500", "null"}));
  table.FieldByName("Name").DisplayLabel = text::Utf8ToAnsi("Jméno");
  EXPECT_THROW_MSG(table.Post(), DatasetError, text::Utf8ToAnsi("Field 'Jméno' must have a value"));
  table.FieldByName("Name").SetAsString("a");
  table.Post();
  EXPECT_TRUE(num.IsNull());
}

TEST(Fields, CalculatingWritesOnlyCalculatedFields) {
  TQVMMemoryTable table;
  table.SetFieldLayout("Num;Integer;0;0");
  table.AddField("Num", FieldType::Integer);
  table.AddField("Half", FieldType::Integer, 0, TFieldKind::Calculated);
  std::string failure;
  table.OnCalcFields = [&](TDataSet& dataset) {
    dataset.FieldByName("Half").SetAsInteger(dataset.FieldByName("Num").AsInteger() / 2);
    try {
      dataset.FieldByName("Num").SetAsInteger(0);
    } catch (const DatasetError& error) {
      failure = error.what();
    }
  };
  table.Open();
  table.Append();
  table.FieldByName("Num").SetAsInteger(8);
  table.Post();
  EXPECT_EQ(table.FieldByName("Half").AsInteger(), 4);
  EXPECT_EQ(Num(table), 8);
  EXPECT_EQ(failure, "Dataset not in edit or insert mode");
}

TEST(MemoryTableRules, AutoIncSkipsGivenValuesAndSurvivesRefusedPost) {
  TQVMMemoryTable table;
  table.SetFieldLayout("Id;AutoInc;0;0;Name;String;5;0");
  table.SetUniqueField("Name");
  table.Open();
  ASSERT_NE(table.AutoIncField(), nullptr);
  for (const char* name : {"a", "b"}) {
    table.Append();
    table.FieldByName("Name").SetAsString(name);
    table.Post();
  }
  table.Append();
  table.FieldByName("Name").SetAsString("a");
  EXPECT_THROW_MSG(table.Post(), DatasetError, "Duplicated field value in field Name");
  EXPECT_EQ(table.FieldByName("Id").AsInteger(), 3);
  table.FieldByName("Name").SetAsString("c");
  table.Post();  // the number given before the refusal is kept, not a new one
  EXPECT_EQ(table.FieldByName("Id").AsInteger(), 3);
  table.Append();
  table.FieldByName("Id").SetAsInteger(50);
  table.FieldByName("Name").SetAsString("d");
  table.Post();
  EXPECT_EQ(table.AutoIncValue, 3);
  table.Append();
  table.FieldByName("Name").SetAsString("e");
  table.Post();
  EXPECT_EQ(table.FieldByName("Id").AsInteger(), 4);
}

TEST(MemoryTableRules, UniqueFieldWhileEditingComparesWithTheOtherRows) {
  TQVMMemoryTable table;
  Fill(table, {1, 2, 3});
  table.SetUniqueField("Num");
  table.First();
  table.Next();
  table.Edit();
  table.FieldByName("Num").SetAsInteger(3);
  EXPECT_THROW_MSG(table.Post(), DatasetError, "Duplicated field value in field Num");
  EXPECT_EQ(table.State(), DataSetState::Edit);
  table.FieldByName("Num").SetAsInteger(2);  // its own value again
  table.Post();
  table.Insert();
  table.FieldByName("Num").SetAsInteger(2);
  EXPECT_THROW_MSG(table.Post(), DatasetError, "Duplicated field value in field Num");
  table.Cancel();
  EXPECT_THROW_MSG(table.SetUniqueField("Missing"), DatasetError, "Field 'Missing' not found");
}

TEST(MemoryTableRules, EmptyTableCancelsAnInsertAndLeavesNoRow) {
  TQVMMemoryTable table;
  Fill(table, {1, 2});
  table.Insert();
  table.FieldByName("Num").SetAsInteger(3);
  table.EmptyTable();
  EXPECT_EQ(table.State(), DataSetState::Browse);
  EXPECT_TRUE(table.IsEmpty());
  EXPECT_EQ(table.RecNo(), -1);
  EXPECT_TRUE(table.FieldByName("Num").IsNull());
  table.Append();
  table.FieldByName("Num").SetAsInteger(4);
  table.Post();
  EXPECT_EQ(Nums(table), std::vector<int>({4}));
}

TEST(Bookmarks, PositionsShiftWhenRowsAreDeletedOrInserted) {
  TQVMMemoryTable table;
  Fill(table, {1, 2, 3});
  table.First();
  const std::string first = table.GetBookmark();
  table.Next();
  const std::string second = table.GetBookmark();
  table.Last();
  const std::string last = table.GetBookmark();
  EXPECT_EQ(table.CompareBookmarks(first, second), -1);
  EXPECT_EQ(table.CompareBookmarks(last, last), 0);
  table.First();
  table.Delete();
  EXPECT_FALSE(table.BookmarkValid(last));
  EXPECT_THROW_MSG(table.GotoBookmark(last), DatasetError, text::Utf8ToAnsi("Záložka nenalezena"));
  table.Next();  // a failed check leaves the cursor on the shown row
  EXPECT_EQ(Num(table), 3);
  table.GotoBookmark(first);
  EXPECT_EQ(Num(table), 2);  // the position now holds the next row
  table.SetIndexFields("Num");
  table.Append();
  table.FieldByName("Num").SetAsInteger(0);
  table.Post();
  table.GotoBookmark(first);
  EXPECT_EQ(Num(table), 0);
}

TEST(Bookmarks, IndexChangeKeepsThePositionNumberOfTheShownRow) {
  TQVMMemoryTable table;
  Fill(table, {3, 1, 2});
  table.First();
  table.Last();
  const std::string last = table.GetBookmark();
  table.First();
  EXPECT_TRUE(table.BookmarkValid(last));  // moves the cursor, not the shown row
  table.SetIndexFields("Num");
  EXPECT_EQ(table.RecNo(), 0);
  EXPECT_EQ(Num(table), 1);
  table.Next();
  EXPECT_EQ(Num(table), 2);
}

TEST(Search, LocateOnIndexFieldsWithPartialAndCaseInsensitiveKeys) {
  TQVMMemoryTable table;
  table.SetFieldLayout("Name;String;10;0;Num;Integer;0;0");
  table.SetIndexFields("Name");
  table.Open();
  int n = 0;
  for (const char* name : {"Gamma", "alpha", "Delta", "beta", "epsilon"}) {
    table.Append();
    table.FieldByName("Name").SetAsString(name);
    table.FieldByName("Num").SetAsInteger(++n);
    table.Post();
  }
  const int partial = static_cast<int>(LocateOption::PartialKey);
  const int both = partial | static_cast<int>(LocateOption::CaseInsensitive);
  EXPECT_FALSE(table.Locate("Name", Variant::String("ga"), partial));
  ASSERT_TRUE(table.Locate("Name", Variant::String("ga"), both));
  EXPECT_EQ(table.FieldByName("Name").AsString(), "Gamma");
  ASSERT_TRUE(table.Locate("name", Variant::Array({Variant::String("DEL")}), both));
  EXPECT_EQ(Num(table), 3);
  EXPECT_FALSE(table.Locate("Name", Variant::String("Del")));
  ASSERT_TRUE(
      table.Locate("Name", Variant::String("EPSILON"), static_cast<int>(LocateOption::CaseInsensitive)));
  EXPECT_EQ(Num(table), 5);
}

TEST(Search, KeysBeyondTheIndexFindRowsThatABinarySearchWouldMiss) {
  TQVMMemoryTable table;
  table.SetFieldLayout("K;String;5;0;Num;Integer;0;0");
  table.SetIndexFields("K");
  table.Open();
  for (int n = 7; n >= 1; --n) {  // equal keys stay in creation order: 7, 6, …, 1
    table.Append();
    table.FieldByName("K").SetAsString("A");
    table.FieldByName("Num").SetAsInteger(n);
    table.Post();
  }
  for (int n = 1; n <= 7; ++n) {
    ASSERT_TRUE(table.Locate("K;Num", Variant::Array({Variant::String("A"), Variant::Integer(n)}))) << n;
    EXPECT_EQ(Num(table), n);
  }
}

TEST(Search, RepeatedLocateFindsTheRowAfterTheListChanged) {
  TQVMMemoryTable table;
  Fill(table, {5, 6, 7});
  table.SetIndexFields("Num");
  ASSERT_TRUE(table.Locate("Num", Variant::Integer(6)));
  EXPECT_EQ(table.RecNo(), 1);
  table.Append();
  table.FieldByName("Num").SetAsInteger(1);  // sorts before: every position moves
  table.Post();
  ASSERT_TRUE(table.Locate("Num", Variant::Integer(6)));
  EXPECT_EQ(Num(table), 6);
  EXPECT_EQ(table.RecNo(), 2);
}

TEST(Search, LocateDoesNotLandOnARowTheFilterHides) {
  TQVMMemoryTable table;
  Fill(table, {1, 2, 3, 4});
  table.OnFilterRecord = [](TDataSet& dataset, bool& accept) {
    accept = dataset.FieldByName("Num").AsInteger() % 2 == 0;
  };
  table.SetFiltered(true);
  table.Last();
  EXPECT_FALSE(table.Locate("Num", Variant::Integer(3)));
  EXPECT_EQ(Num(table), 4);
  table.Prior();
  EXPECT_EQ(Num(table), 2);
  ASSERT_TRUE(table.Locate("Num", Variant::Integer(4)));
  EXPECT_EQ(Num(table), 4);
}

TEST(Search, LookupReturnsSeveralFieldsAsAnArray) {
  TQVMMemoryTable table;
  Fill(table, {1, 2, 3}, "Name;String;10;0;Num;Integer;0;0;Note;Memo;10;0");
  table.Last();
  table.Edit();
  table.FieldByName("Note").SetAsString("third");
  table.Post();
  table.First();
  const Variant values =
      table.Lookup("Name;Num", Variant::Array({Variant::String("r3"), Variant::Integer(3)}), "Note;Num;Name");
  EXPECT_EQ(values, Variant::Array({Variant::String("third"), Variant::Integer(3), Variant::String("r3")}));
  EXPECT_EQ(table.Lookup("Num", Variant::Integer(2), "Note;Name"),
            Variant::Array({Variant::Null(), Variant::String("r2")}));
  EXPECT_TRUE(
      table.Lookup("Name;Num", Variant::Array({Variant::String("r3"), Variant::Integer(2)}), "Num").IsNull());
  EXPECT_EQ(Num(table), 1);
  table.Next();  // the cursor was not moved by the searches
  EXPECT_EQ(Num(table), 2);
}

}  // namespace
}  // namespace tamaril::dataset
