// Master/detail links and blob streams of the memory datasets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataset/errors.h"
#include "dataset/memory_table.h"
#include "table_fixtures.h"

namespace tamaril::dataset {
namespace {

std::vector<int> Nums(TDataSet& dataset) {
  std::vector<int> result;
  for (dataset.First(); !dataset.Eof(); dataset.Next())
    result.push_back(static_cast<int>(dataset.FieldByName("Num").AsInteger()));
  return result;
}

// The smallest dataset of the framework that is not a library dataset: no rows.
class PlainDataSet : public TDataSet {
 public:
  bool GetFieldData(const TField&, std::byte*) override { return false; }
  void SetFieldData(TField&, const std::byte*) override {}

 protected:
  void InternalOpen() override { open_ = true; }
  void InternalClose() override { open_ = false; }
  bool IsCursorOpen() const override { return open_; }
  void InternalFirst() override {}
  void InternalLast() override {}
  GetResult GetRecord(std::byte*, GetMode, bool) override { return GetResult::Eof; }
  void InternalInitRecord(std::byte*) override {}
  void InternalPost() override {}
  void InternalDelete() override {}
  void InternalSetToRecord(const std::byte*) override {}
  void InternalGotoBookmark(const std::string&) override {}

 private:
  bool open_ = false;
};

// Master rows (Id, Kind): (1,a) (1,b) (2,a); detail rows (MasterId, Kind, Num) linked on both.
struct TwoFieldLink : ::testing::Test {
  TQVMMemoryTable master, detail;
  TDataSource source{&master};

  static void Row(TDataSet& table, const std::vector<std::pair<std::string, std::string>>& values) {
    table.Append();
    for (const auto& [name, value] : values) table.FieldByName(name).SetAsString(value);
    table.Post();
  }

  void SetUp() override {
    master.SetFieldLayout("Id;Integer;0;0;Kind;String;5;0");
    master.Open();
    Row(master, {{"Id", "1"}, {"Kind", "a"}});
    Row(master, {{"Id", "1"}, {"Kind", "b"}});
    Row(master, {{"Id", "2"}, {"Kind", "a"}});
    master.First();
    detail.SetFieldLayout("MasterId;Integer;0;0;Kind;String;5;0;Num;Integer;0;0");
    detail.Open();
    Row(detail, {{"MasterId", "1"}, {"Kind", "a"}, {"Num", "10"}});
    Row(detail, {{"MasterId", "1"}, {"Kind", "b"}, {"Num", "20"}});
    Row(detail, {{"MasterId", "2"}, {"Kind", "a"}, {"Num", "30"}});
    Row(detail, {{"MasterId", "1"}, {"Kind", "a"}, {"Num", "11"}});
    Row(detail, {{"MasterId", "1"}, {"Kind", "A"}, {"Num", "12"}});  // strings match case-sensitively
    detail.SetMasterSource(&source);
    detail.SetDetailFields("MasterId;Kind");
    detail.SetMasterFields("Id;Kind");
  }
};

TEST_F(TwoFieldLink, DetailFollowsEveryMasterMove) {
  EXPECT_EQ(Nums(detail), std::vector<int>({10, 11}));
  master.Last();
  EXPECT_EQ(Nums(detail), std::vector<int>({30}));
  ASSERT_TRUE(master.Locate("Kind", Variant::String("b")));
  EXPECT_EQ(Nums(detail), std::vector<int>({20}));
  master.Edit();  // changing a linked master field moves the detail too
  master.FieldByName("Kind").SetAsString("A");
  EXPECT_EQ(Nums(detail), std::vector<int>({12}));
  master.Cancel();
  EXPECT_EQ(Nums(detail), std::vector<int>({20}));
}

TEST_F(TwoFieldLink, DetailIsEmptyWhileTheMasterInsertsOrIsClosed) {
  master.Insert();
  EXPECT_TRUE(detail.IsEmpty());
  master.Cancel();
  EXPECT_EQ(Nums(detail), std::vector<int>({10, 11}));
  master.Close();
  EXPECT_TRUE(detail.IsEmpty());
  master.Open();
  EXPECT_EQ(Nums(detail), std::vector<int>({10, 11}));
}

TEST_F(TwoFieldLink, NewDetailRowTakesTheMasterValuesBeforeOnNewRecord) {
  master.Next();
  std::string seen;
  detail.OnNewRecord = [&](TDataSet& dataset) {
    seen = dataset.FieldByName("MasterId").AsString() + dataset.FieldByName("Kind").AsString();
    dataset.FieldByName("Num").SetAsInteger(21);
  };
  detail.Insert();
  EXPECT_EQ(seen, "1b");
  detail.Post();
  EXPECT_EQ(Nums(detail), std::vector<int>({20, 21}));
}

TEST_F(TwoFieldLink, DeleteAndLocateStayAmongTheMastersRows) {
  detail.First();
  detail.Delete();
  EXPECT_EQ(detail.FieldByName("Num").AsInteger(), 11);
  EXPECT_FALSE(detail.Locate("Num", Variant::Integer(30)));  // another master's row
  EXPECT_EQ(detail.FieldByName("Num").AsInteger(), 11);
  detail.Delete();
  EXPECT_TRUE(detail.IsEmpty());
  master.Last();
  EXPECT_EQ(Nums(detail), std::vector<int>({30}));
}

TEST(MasterSource, OnlyLibraryDatasetsAreMastersUnlessAllowed) {
  PlainDataSet plain;
  TDataSource source(&plain);
  TQVMMemoryTable detail;
  EXPECT_THROW_MSG(detail.SetMasterSource(&source), DatasetError, "Master can only be tQVMDataset");
  EXPECT_EQ(detail.MasterSource(), nullptr);
  detail.MasterMustBeQVM = false;
  detail.SetMasterSource(&source);
  EXPECT_EQ(detail.MasterSource(), &source);
  EXPECT_EQ(detail.GetDataSource(), &source);
}

struct BlobTable : ::testing::Test {
  TQVMMemoryTable table;
  void SetUp() override {
    table.SetFieldLayout("Num;Integer;0;0;Note;Memo;10;0");
    table.Open();
    table.Append();
    table.FieldByName("Num").SetAsInteger(1);
    table.FieldByName("Note").SetAsString("stored");
    table.Post();
  }
  TField& Note() { return table.FieldByName("Note"); }
};

TEST_F(BlobTable, WriteGrowsOverwritesAndSeeksFromEveryOrigin) {
  table.Edit();
  {
    auto stream = table.CreateBlobStream(Note(), BlobStreamMode::Write);
    EXPECT_TRUE(Note().IsNull());  // a writing stream starts empty
    EXPECT_EQ(stream->Write("hello", 5), 5);
    EXPECT_EQ(stream->Seek(-2, SeekOrigin::Current), 3);
    EXPECT_EQ(stream->Write("P!!", 3), 3);
    EXPECT_EQ(stream->Seek(0, SeekOrigin::End), 6);
    EXPECT_EQ(stream->Seek(8, SeekOrigin::Beginning), 8);
    EXPECT_EQ(stream->Write("x", 1), 1);  // past the end: the gap is zero-filled
    EXPECT_EQ(stream->Seek(2, SeekOrigin::End), 7);
  }
  EXPECT_TRUE(table.Modified());
  table.Post();
  EXPECT_EQ(Note().AsString(), std::string("helP!!\0\0x", 9));
  auto reader = table.CreateBlobStream(Note(), BlobStreamMode::Read);
  reader->Seek(6, SeekOrigin::Beginning);
  char buffer[8] = {};
  EXPECT_EQ(reader->Read(buffer, 8), 3);
  EXPECT_EQ(std::string(buffer, 3), std::string("\0\0x", 3));
  EXPECT_EQ(reader->Read(buffer, 8), 0);
}

TEST_F(BlobTable, PositionBeforeTheStartReadsAndWritesNothing) {
  table.Edit();
  auto stream = table.CreateBlobStream(Note(), BlobStreamMode::ReadWrite);
  EXPECT_EQ(stream->Seek(-3, SeekOrigin::Beginning), -3);
  char buffer[8] = "unset";
  EXPECT_EQ(stream->Read(buffer, 5), 0);
  EXPECT_STREQ(buffer, "unset");
  EXPECT_EQ(stream->Write("abc", 3), 0);
  stream.reset();
  table.Post();
  EXPECT_EQ(Note().AsString(), "stored");
}

TEST_F(BlobTable, MisuseIsRefused) {
  auto reader = table.CreateBlobStream(Note(), BlobStreamMode::Read);
  EXPECT_THROW_MSG(reader->Seek(0, static_cast<SeekOrigin>(7)), DatasetError, "Invalid seek origin");
  EXPECT_THROW_MSG(table.CreateBlobStream(Note(), BlobStreamMode::Write), DatasetError,
                   "Dataset not in edit or insert mode");
  EXPECT_EQ(Note().AsString(), "stored");  // the shown row kept its value
  table.Close();
  table.SetFieldLayout("Num;Integer;0;0;Note;Memo;10;2");
  table.Open();
  table.Edit();
  EXPECT_THROW_MSG(table.CreateBlobStream(Note(), BlobStreamMode::Write), DatasetError,
                   "Field 'Note' cannot be modified");
  table.InternalWrite = true;
  table.CreateBlobStream(Note(), BlobStreamMode::Write)->Write("new", 3);
  table.InternalWrite = false;
  table.Post();
  EXPECT_EQ(Note().AsString(), "new");
}

TEST_F(BlobTable, ModifiedStreamMakesTheRowPostWhenMovingOn) {
  table.Append();
  table.FieldByName("Num").SetAsInteger(2);
  table.Post();
  table.First();
  table.Edit();
  {
    auto stream = table.CreateBlobStream(Note(), BlobStreamMode::ReadWrite);
    EXPECT_FALSE(table.Modified());
    stream->Seek(0, SeekOrigin::End);  // a read-write stream starts with size 0
    EXPECT_EQ(stream->Write("S", 1), 1);
  }
  EXPECT_TRUE(table.Modified());
  table.Next();
  table.First();
  EXPECT_EQ(Note().AsString(), "Stored");
  table.Edit();
  table.CreateBlobStream(Note(), BlobStreamMode::Write).reset();  // emptied, nothing written
  table.Next();
  table.First();
  EXPECT_TRUE(Note().IsNull());
}

}  // namespace
}  // namespace tamaril::dataset
