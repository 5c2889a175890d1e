#include "dataset/dataset.h"

#include <gtest/gtest.h>

#include <cstring>

#include "dataset/errors.h"
#include "dataset/memory_table.h"
#include "table_fixtures.h"
#include "text/encoding.h"

namespace tamaril::dataset {
namespace {

using fixtures::Fill;
using fixtures::Nums;

// A table of (Name String 10, Num Integer) rows, open, filled with the given numbers.
TEST(QVMDataset, EmptyCursorOpensEmptyBeforeFirst) {
  TQVMMemoryTable table;
  Fill(table, {});
  EXPECT_TRUE(table.IsEmpty());
  EXPECT_TRUE(table.Eof());
  EXPECT_TRUE(table.Bof());
  EXPECT_EQ(table.CursorPos(), CursorPosition::BeforeFirst);
  EXPECT_TRUE(table.FieldByName("Num").IsNull());
  EXPECT_THROW_MSG(table.Delete(), DatasetError, "Cannot perform this operation on an empty dataset");
}

TEST(QVMDataset, NavigationFetchesFromBothEnds) {
  TQVMMemoryTable table;
  Fill(table, {1, 2, 3});
  table.Last();
  EXPECT_EQ(table.FieldByName("Num").AsInteger(), 3);
  EXPECT_TRUE(table.Eof());
  table.Prior();
  EXPECT_EQ(table.FieldByName("Num").AsInteger(), 2);
  table.First();
  EXPECT_EQ(table.FieldByName("Num").AsInteger(), 1);
  EXPECT_TRUE(table.Bof());
  EXPECT_EQ(table.MoveBy(5), 2);
  EXPECT_TRUE(table.Eof());
  table.Prior();  // past the end and back: the row before the last
  EXPECT_EQ(table.FieldByName("Num").AsInteger(), 2);
  EXPECT_EQ(table.RecNo(), 1);
}

TEST(QVMDataset, InsertCancelReturnsToRowAndDeleteKeepsPosition) {
  TQVMMemoryTable table;
  Fill(table, {1, 2, 3});
  table.First();
  table.Next();
  table.Insert();
  table.FieldByName("Num").SetAsInteger(9);
  table.Cancel();
  EXPECT_EQ(table.FieldByName("Num").AsInteger(), 2);
  EXPECT_EQ(table.RecordCount(), 3);
  table.Delete();
  EXPECT_EQ(table.FieldByName("Num").AsInteger(), 3);
  table.Delete();
  EXPECT_EQ(table.FieldByName("Num").AsInteger(), 1);
  EXPECT_EQ(Nums(table), std::vector<int>({1}));
}

TEST(QVMDataset, WritingFieldsChecksStateReadOnlyAndRequired) {
  TQVMMemoryTable table;
  Fill(table, {}, "Name;String;10;4;Num;Integer;0;2");
  table.InternalWrite = true;
  table.Append();
  table.FieldByName("Name").SetAsString("a");
  table.FieldByName("Num").SetAsInteger(1);
  table.Post();
  table.InternalWrite = false;
  EXPECT_THROW_MSG(table.FieldByName("Name").SetAsString("x"), DatasetError,
                   "Dataset not in edit or insert mode");
  table.Edit();
  EXPECT_THROW_MSG(table.FieldByName("Num").SetAsInteger(5), DatasetError, "Field 'Num' cannot be modified");
  table.Cancel();
  table.Insert();
  EXPECT_THROW_MSG(table.Post(), DatasetError, "Field 'Name' must have a value");
  EXPECT_EQ(table.State(), DataSetState::Insert);
  EXPECT_THROW_MSG(table.FieldByName("Nope"), DatasetError, "Field 'Nope' not found");
  table.Cancel();
  EXPECT_THROW_MSG(table.SetFieldLayout("A;Integer;0;0"), DatasetError,
                   "Cannot perform this operation on an open dataset");
  EXPECT_THROW_MSG(table.SetReadOnly(true), DatasetError, "Cannot perform this operation on an open dataset");
}

TEST(QVMDataset, ValidationFailureKeepsOldValue) {
  TQVMMemoryTable table;
  Fill(table, {1});
  table.FieldByName("Num").OnValidate = [](TField& field) {
    if (field.AsInteger() < 0) throw DatasetError("negative");
  };
  table.Edit();
  EXPECT_THROW_MSG(table.FieldByName("Num").SetAsInteger(-5), DatasetError, "negative");
  EXPECT_EQ(table.FieldByName("Num").AsInteger(), 1);
}

struct MasterDetail : ::testing::Test {
  TQVMMemoryTable master, detail;
  TDataSource source{&master};
  void SetUp() override {
    master.SetFieldLayout("Id;Integer;0;0");
    master.Open();
    for (int id : {1, 2}) {
      master.Append();
      master.FieldByName("Id").SetAsInteger(id);
      master.Post();
    }
    master.Append();  // a master row with a null Id
    master.Post();
    master.First();
    detail.SetFieldLayout("MasterId;Integer;0;0;Num;Integer;0;0");
    detail.Open();
    const int rows[][2] = {{1, 10}, {2, 20}, {1, 11}, {0, 30}};
    for (const auto& row : rows) {
      detail.Append();
      if (row[0] != 0) detail.FieldByName("MasterId").SetAsInteger(row[0]);
      detail.FieldByName("Num").SetAsInteger(row[1]);
      detail.Post();
    }
  }
};

TEST_F(MasterDetail, DetailShowsMatchingRowsIncludingNulls) {
  detail.SetMasterSource(&source);
  EXPECT_TRUE(detail.IsEmpty());  // no master fields yet: nothing shows
  detail.SetDetailFields("MasterId");
  detail.SetMasterFields("Id");
  EXPECT_EQ(Nums(detail), std::vector<int>({10, 11}));
  master.Next();
  EXPECT_EQ(Nums(detail), std::vector<int>({20}));
  master.Next();
  EXPECT_EQ(Nums(detail), std::vector<int>({30}));
  detail.Insert();  // a new detail row takes the master's value
  EXPECT_TRUE(detail.FieldByName("MasterId").IsNull());
  detail.Cancel();
  master.First();
  detail.Insert();
  EXPECT_EQ(detail.FieldByName("MasterId").AsInteger(), 1);
  detail.Cancel();
}

TEST_F(MasterDetail, MissingDetailFieldsAndSelfReferenceFail) {
  detail.Close();
  detail.SetMasterSource(&source);
  detail.SetMasterFields("Id");
  detail.Open();
  EXPECT_THROW_MSG(master.Next(), DatasetError, "Invalid detail fields setting");
  TDataSource own(&detail);
  EXPECT_THROW_MSG(detail.SetMasterSource(&own), DatasetError, "Self referencing is not allowed");
}

TEST(QVMDataset, FilterByEventAndRefusedFilterText) {
  TQVMMemoryTable table;
  Fill(table, {1, 2, 3, 4});
  table.OnFilterRecord = [](TDataSet& dataset, bool& accept) {
    accept = dataset.FieldByName("Num").AsInteger() % 2 == 0;
  };
  table.SetFiltered(true);
  EXPECT_EQ(Nums(table), std::vector<int>({2, 4}));
  table.Last();
  table.Prior();
  EXPECT_EQ(table.FieldByName("Num").AsInteger(), 2);
  table.SetFiltered(false);
  table.SetFilter("Num > 1");
  EXPECT_THROW_MSG(table.SetFiltered(true), DatasetError,
                   text::Utf8ToAnsi("Vlastnost filtru není podporována"));
}

TEST(QVMDataset, BlobStreamReadsWritesAndRejectsMisuse) {
  TQVMMemoryTable table;
  Fill(table, {}, "Num;Integer;0;0;Note;Memo;10;0");
  table.Append();
  {
    auto stream = table.CreateBlobStream(table.FieldByName("Note"), BlobStreamMode::Write);
    EXPECT_EQ(stream->Write("hello", 5), 5);
    EXPECT_THROW_MSG(stream->Write("x", -1), DatasetError,
                     "TMyBlobStream.Write can't write negative byte count");
  }
  table.Post();
  EXPECT_EQ(table.FieldByName("Note").AsString(), "hello");
  auto stream = table.CreateBlobStream(table.FieldByName("Note"), BlobStreamMode::Read);
  EXPECT_EQ(stream->Seek(0, SeekOrigin::End), 5);
  char buffer[8] = "unset";
  stream->Seek(0, SeekOrigin::Beginning);
  EXPECT_EQ(stream->Read(buffer, 0), 0);
  EXPECT_STREQ(buffer, "unset");
  EXPECT_EQ(stream->Read(buffer, 8), 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_THROW_MSG(stream->Read(buffer, -1), DatasetError,
                   "TMyBlobStream.Read can't read negative byte count");
}

TEST(QVMDataset, LookupLeavesCursorAndLocateMovesIt) {
  TQVMMemoryTable table;
  Fill(table, {1, 2, 3});
  table.First();
  table.Next();
  EXPECT_TRUE(table.Lookup("Num", Variant::Integer(7), "Name").IsNull());
  EXPECT_EQ(table.Lookup("Num", Variant::Integer(3), "Name"), Variant::String("r3"));
  EXPECT_EQ(table.FieldByName("Num").AsInteger(), 2);
  EXPECT_EQ(table.State(), DataSetState::Browse);
  EXPECT_TRUE(table.Locate("name", Variant::String("R1"), static_cast<int>(LocateOption::CaseInsensitive)));
  EXPECT_EQ(table.FieldByName("Num").AsInteger(), 1);
  EXPECT_FALSE(table.Locate("Num", Variant::Integer(8)));
  EXPECT_EQ(table.FieldByName("Num").AsInteger(), 1);
}

TEST(QVMDataset, BookmarksCompareAsLittleEndianPositions) {
  TQVMMemoryTable table;
  Fill(table, {1, 2});
  const std::string one("\x01\0\0\0", 4), big("\0\x01\0\0", 4);
  EXPECT_EQ(table.CompareBookmarks(one, big), -1);
  EXPECT_EQ(table.CompareBookmarks(big, one), 1);
  EXPECT_EQ(table.CompareBookmarks(one, ""), -1);
  EXPECT_EQ(table.CompareBookmarks("", one), 1);
  EXPECT_EQ(table.CompareBookmarks("", ""), 0);
  table.Last();
  const std::string last = table.GetBookmark();
  table.First();
  table.GotoBookmark(last);
  EXPECT_EQ(table.FieldByName("Num").AsInteger(), 2);
  EXPECT_FALSE(table.BookmarkValid(std::string("\x05\0\0\0", 4)));
  EXPECT_THROW_MSG(table.GotoBookmark(std::string("\x05\0\0\0", 4)), DatasetError,
                   text::Utf8ToAnsi("Záložka nenalezena"));
}

TEST(QVMDataset, FieldLayoutOfDatasetCarriesFlags) {
  TQVMMemoryTable table;
  table.SetFieldLayout("A;String;5;1;B;Integer;0;6");
  table.Open();
  table.Fields()[0]->Tag = 1;
  EXPECT_EQ(BuildFieldLayout(table, false), "A;String;5;1;B;Integer;0;6");
  EXPECT_EQ(BuildFieldLayout(table, true), "A;String;5;1");
}

}  // namespace
}  // namespace tamaril::dataset
