// Memory tables kept in files: round trips, damaged files, loading failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "dataset/errors.h"
#include "dataset/memory_table.h"
#include "support/temp_dir.h"
#include "table_fixtures.h"

namespace tamaril::dataset {
namespace {

const std::string kLayout = "Code;String;8;0;Num;Integer;0;0;Note;Memo;10;0";

std::string CodeOf(int n) { return "c" + std::to_string(1000 + (n * 37) % 200); }

std::vector<std::string> Column(TDataSet& table, const std::string& name) {
  std::vector<std::string> result;
  for (table.First(); !table.Eof(); table.Next()) result.push_back(table.FieldByName(name).AsString());
  return result;
}

// Writes a table of `count` rows (Code scrambled, Num = creation number) to `path`.
void StoreRows(const std::string& path, int count, const std::string& index) {
  TQVMStoredMemoryDataSet table;
  table.SetFieldLayout(kLayout);
  table.SetFilename(path);
  table.SetIndexFields(index);
  table.Open();
  for (int n = 1; n <= count; ++n) {
    table.Append();
    table.FieldByName("Code").SetAsString(CodeOf(n));
    table.FieldByName("Num").SetAsInteger(n);
    if (n % 3 == 0) table.FieldByName("Note").SetAsString(std::string(static_cast<std::size_t>(n), 'n'));
    table.Post();
  }
  table.Store();
}

TEST(StoredTable, TwoHundredIndexedRowsRoundTrip) {
  testing::TempDir dir;
  const std::string path = dir.File("big.dat");
  StoreRows(path, 200, "Code");
  const std::string original = testing::ReadWholeFile(path);
  TQVMStoredMemoryDataSet plain;  // no index: the file's order, which is creation order
  plain.SetFilename(path);
  plain.Open();
  EXPECT_EQ(plain.FieldLayout(), kLayout);
  ASSERT_EQ(plain.RecordCount(), 200);
  std::vector<std::string> expected_nums;
  for (int n = 1; n <= 200; ++n) expected_nums.push_back(std::to_string(n));
  EXPECT_EQ(Column(plain, "Num"), expected_nums);
  TQVMStoredMemoryDataSet indexed;
  indexed.SetFieldLayout(kLayout);
  indexed.SetIndexFields("code");
  indexed.SetFilename(path);
  indexed.Open();
  const std::vector<std::string> codes = Column(indexed, "Code");
  ASSERT_EQ(codes.size(), 200u);
  EXPECT_TRUE(std::is_sorted(codes.begin(), codes.end()));
  for (int n = 1; n <= 200; n += 7) {
    ASSERT_TRUE(indexed.Locate("Code", Variant::String(CodeOf(n))));
    EXPECT_EQ(indexed.FieldByName("Num").AsInteger(), n);
    EXPECT_EQ(indexed.FieldByName("Note").AsString(),
              n % 3 == 0 ? std::string(static_cast<std::size_t>(n), 'n') : "");
  }
  indexed.Store();  // storing again writes the same bytes: creation order, not index order
  EXPECT_EQ(testing::ReadWholeFile(path), original);
}

TEST(StoredTable, FileTruncatedInsideARecordLeavesTheTableClosedAndEmpty) {
  testing::TempDir dir;
  const std::string path = dir.File("cut.dat");
  StoreRows(path, 3, "");
  const std::string whole = testing::ReadWholeFile(path);
  testing::WriteWholeFile(path, whole.substr(0, whole.size() - 5));
  TQVMStoredMemoryDataSet table;
  table.SetFilename(path);
  EXPECT_THROW_MSG(table.Open(), DatasetError, "Unexpected end of stream");
  EXPECT_FALSE(table.Active());
  EXPECT_EQ(table.RecordCount(), 0);  // nothing half-read stays to be stored again
  testing::WriteWholeFile(path, whole);
  table.Open();
  EXPECT_EQ(table.RecordCount(), 3);
}

TEST(StoredTable, RecordThatDoesNotFitTheLayoutFails) {
  testing::TempDir dir;
  const std::string path = dir.File("size.dat");
  StoreRows(path, 1, "");
  std::string bytes = testing::ReadWholeFile(path);
  const std::size_t records = 18 + kLayout.size();
  const std::size_t num_size =
      records + 2 + 4 + 1 + 6 + 2;  // after Code (number, size, flag, "c1037\0") and Num's number
  ASSERT_EQ(bytes[num_size], '\x04');
  bytes[num_size] = '\x08';
  testing::WriteWholeFile(path, bytes);
  TQVMStoredMemoryDataSet table;
  table.SetFilename(path);
  EXPECT_THROW_MSG(table.Open(), DatasetError, "Size of field Num does not match");
  EXPECT_FALSE(table.Active());
  EXPECT_EQ(table.RecordCount(), 0);
}

TEST(StoredTable, FileLayoutReplacesTheDesignLayoutAndAMissingFileOpensEmpty) {
  testing::TempDir dir;
  const std::string path = dir.File("t.dat");
  TQVMStoredMemoryDataSet table;
  table.SetFieldLayout("Other;Integer;0;0");
  table.SetFilename(path);
  table.Open();
  EXPECT_TRUE(table.IsEmpty());
  EXPECT_EQ(table.AutoIncValue, 0);
  EXPECT_EQ(table.FieldLayout(), "Other;Integer;0;0");
  table.Close();
  StoreRows(path, 2, "");
  table.Open();
  EXPECT_EQ(table.FieldLayout(), kLayout);
  EXPECT_EQ(Column(table, "Num"), std::vector<std::string>({"1", "2"}));
}

TEST(StoredTable, StoreWritesPostedValuesBetweenItsEvents) {
  testing::TempDir dir;
  const std::string path = dir.File("ev.dat");
  StoreRows(path, 1, "");
  TQVMStoredMemoryDataSet table;
  table.Name = "Events";
  table.SetFilename(path);
  std::vector<std::string> calls;
  table.BeforeStore = [&](TDataSet&) {
    calls.push_back("before " + std::to_string(std::filesystem::file_size(path)));
  };
  table.AfterStore = [&](TDataSet&) {
    calls.push_back("after " + std::to_string(std::filesystem::file_size(path)));
  };
  table.Open();
  table.Append();
  table.FieldByName("Num").SetAsInteger(2);
  table.Post();
  table.First();
  table.Edit();
  table.FieldByName("Num").SetAsInteger(99);  // not posted: not stored
  const auto size_before = std::filesystem::file_size(path);
  table.Store();
  const auto size_after = std::filesystem::file_size(path);
  EXPECT_GT(size_after, size_before);
  EXPECT_EQ(calls, std::vector<std::string>(
                       {"before " + std::to_string(size_before), "after " + std::to_string(size_after)}));
  table.Cancel();
  TQVMStoredMemoryDataSet copy;
  copy.SetFilename(path);
  copy.Open();
  EXPECT_EQ(Column(copy, "Num"), std::vector<std::string>({"1", "2"}));
}

TEST(ClientCopy, FailingSourceLeavesNoRowsAndTheSourceClosed) {
  TQVMMemoryTable source;
  source.SetFieldLayout("Num;Integer;0;0");
  source.Open();
  for (int n = 1; n <= 3; ++n) {
    source.Append();
    source.FieldByName("Num").SetAsInteger(n);
    source.Post();
  }
  source.Close();
  source.AfterScroll = [](TDataSet& dataset) {
    if (dataset.FieldByName("Num").AsInteger() == 3) throw DatasetError("source broke");
  };
  TQVMClientMemoryDataSet copy;
  copy.SetSourceDataset(&source);
  EXPECT_THROW_MSG(copy.Open(), DatasetError, "source broke");
  EXPECT_FALSE(copy.Active());
  EXPECT_FALSE(source.Active());
  EXPECT_EQ(copy.RecordCount(), 0);
  source.AfterScroll = nullptr;
  copy.Open();
  EXPECT_EQ(Column(copy, "Num"), std::vector<std::string>({"1", "2", "3"}));
}

}  // namespace
}  // namespace tamaril::dataset
