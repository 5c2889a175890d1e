#include "dataset/memory_table.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "dataset/errors.h"
#include "support/temp_dir.h"
#include "table_fixtures.h"

namespace tamaril::dataset {
namespace {

const std::string kListLayout =
    "Signature;String;10;0;CenterName;String;25;0;ConnectionString;String;250;0;DatabaseName;String;25;0;"
    "Pozn;Memo;20;0";

std::string I32(std::int32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i)
    s[static_cast<std::size_t>(i)] = static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF);
  return s;
}
std::string U16(int v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }

void AddRow(TDataSet& table, const std::vector<std::pair<std::string, std::string>>& values) {
  table.Append();
  for (const auto& [name, value] : values) table.FieldByName(name).SetAsString(value);
  table.Post();
}

std::vector<std::string> Column(TDataSet& table, const std::string& name) {
  std::vector<std::string> result;
  for (table.First(); !table.Eof(); table.Next()) result.push_back(table.FieldByName(name).AsString());
  return result;
}

TEST(StoredMemoryDataSet, StoresGoldenFileAndReadsItBack) {
  testing::TempDir dir;
  const std::string path = dir.File("EXPORT.DAT");
  TQVMStoredMemoryDataSet table;
  table.Name = "Export";
  table.SetFieldLayout(kListLayout);
  table.SetFilename(path);
  table.SetUniqueField("Signature");
  table.Open();
  EXPECT_TRUE(table.IsEmpty());
  AddRow(table, {{"Signature", "S1"}, {"CenterName", "C"}, {"DatabaseName", "db"}, {"Pozn", "note"}});
  table.Store();
  const std::string golden = "Memtbl" + I32(static_cast<std::int32_t>(kListLayout.size())) + kListLayout +
                             I32(0) + I32(1) + U16(1) + I32(11) + '\x01' + std::string("S1\0", 3) +  //
                             U16(2) + I32(26) + '\x01' + std::string("C\0", 2) +                     //
                             U16(3) + I32(251) + '\x00' +                                            //
                             U16(4) + I32(26) + '\x01' + std::string("db\0", 3) +                    //
                             U16(5) + I32(4) + "note" + U16(0);
  EXPECT_EQ(testing::ReadWholeFile(path), golden);
  table.Close();
  table.Open();
  EXPECT_EQ(table.RecordCount(), 1);
  EXPECT_EQ(table.FieldByName("Signature").AsString(), "S1");
  EXPECT_TRUE(table.FieldByName("ConnectionString").IsNull());
  EXPECT_EQ(table.FieldByName("Pozn").AsString(), "note");
}

TEST(StoredMemoryDataSet, DamagedFilesDoNotOpen) {
  testing::TempDir dir;
  TQVMStoredMemoryDataSet table;
  table.Name = "T";
  table.SetFilename(dir.File("t.dat"));
  testing::WriteWholeFile(dir.File("t.dat"), "MemtbL" + I32(14) + "A;Integer;0;0 " + I32(0) + I32(0));
  EXPECT_THROW_MSG(table.Open(), DatasetError, "Invalid table stream (table T)");
  testing::WriteWholeFile(dir.File("t.dat"), "Memtbl" + I32(14) + "A;Integer;0;0 " + I32(0) + I32(0));
  EXPECT_THROW_MSG(table.Open(), DatasetError, "Mismatch in table structure (table T)");
  EXPECT_FALSE(table.Active());
  TQVMStoredMemoryDataSet unnamed;
  unnamed.Name = "U";
  unnamed.SetFieldLayout("A;Integer;0;0");
  unnamed.Open();
  EXPECT_THROW_MSG(unnamed.Store(), DatasetError, "Cannot create stream (table U)");
}

TEST(StoredMemoryDataSet, AutoIncContinuesAfterStoreAndReopen) {
  testing::TempDir dir;
  TQVMStoredMemoryDataSet table;
  table.SetFieldLayout("Id;AutoInc;0;2;Name;String;5;0");
  table.SetFilename(dir.File("a.dat"));
  table.Open();
  for (const char* name : {"a", "b", "c"}) AddRow(table, {{"Name", name}});
  EXPECT_EQ(Column(table, "Id"), std::vector<std::string>({"1", "2", "3"}));
  table.Store();
  table.Close();
  table.Open();
  AddRow(table, {{"Name", "d"}});
  EXPECT_EQ(table.FieldByName("Id").AsInteger(), 4);
}

// A table whose writing breaks off halfway.
class BrokenStore : public TQVMStoredMemoryDataSet {
 public:
  void SaveToStream(ByteWriter& stream) override {
    stream.WriteBytes("Memtbl");
    throw DatasetError("disk full");
  }
};

TEST(StoredMemoryDataSet, FailedStoreLeavesOldFile) {
  testing::TempDir dir;
  const std::string path = dir.File("keep.dat");
  {
    TQVMStoredMemoryDataSet table;
    table.SetFieldLayout("A;String;5;0");
    table.SetFilename(path);
    table.Open();
    AddRow(table, {{"A", "x"}});
    table.Store();
  }
  const std::string before = testing::ReadWholeFile(path);
  BrokenStore broken;
  broken.SetFieldLayout("A;String;5;0");
  broken.SetFilename(path);
  broken.Open();
  AddRow(broken, {{"A", "y"}});
  EXPECT_THROW_MSG(broken.Store(), DatasetError, "disk full");
  EXPECT_EQ(testing::ReadWholeFile(path), before);
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()),
      1);
}

TEST(MemoryTable, UniqueFieldRefusesDuplicatesIncludingNulls) {
  TQVMMemoryTable table;
  table.SetFieldLayout(kListLayout);
  table.SetUniqueField("Signature");
  table.Open();
  AddRow(table, {{"Signature", "S1"}});
  EXPECT_THROW_MSG(AddRow(table, {{"Signature", "S1"}}), DatasetError,
                   "Duplicated field value in field Signature");
  EXPECT_EQ(table.State(), DataSetState::Insert);
  table.Cancel();
  table.Edit();
  table.FieldByName("CenterName").SetAsString("new");
  table.Post();
  EXPECT_EQ(table.FieldByName("CenterName").AsString(), "new");
  AddRow(table, {{"CenterName", "no signature"}});
  EXPECT_THROW_MSG(AddRow(table, {{"CenterName", "again none"}}), DatasetError,
                   "Duplicated field value in field Signature");
}

TEST(MemoryTable, IndexKeepsOrderAndCreationOrderForEqualKeys) {
  TQVMMemoryTable table;
  table.SetFieldLayout("K;String;5;0;N;Integer;0;0");
  table.SetIndexFields("K");
  table.Open();
  for (auto [k, n] : {std::pair{"B", "1"}, {"A", "2"}, {"C", "3"}, {"A", "4"}})
    AddRow(table, {{"K", k}, {"N", n}});
  EXPECT_EQ(Column(table, "N"), std::vector<std::string>({"2", "4", "1", "3"}));
  table.Locate("N", Variant::Integer(1));  // an edit moves the row to its new place
  table.Edit();
  table.FieldByName("K").SetAsString("D");
  table.Post();
  EXPECT_EQ(table.FieldByName("N").AsInteger(), 1);
  EXPECT_EQ(table.RecNo(), 3);
  EXPECT_THROW_MSG(table.SetIndexFields("K;Missing"), DatasetError, "Invalid index fields");
  EXPECT_EQ(table.IndexFields(), "K");
  table.SetIndexFields("N");
  EXPECT_EQ(Column(table, "N"), std::vector<std::string>({"1", "2", "3", "4"}));
}

TEST(MemoryTable, LocateByIndexAndLinearScan) {
  TQVMMemoryTable table;
  table.SetFieldLayout("K;Integer;0;0;V;String;5;0");
  table.SetIndexFields("K");
  table.Open();
  for (int k = 100; k > 0; --k) AddRow(table, {{"K", std::to_string(k)}, {"V", k % 2 ? "odd" : "even"}});
  for (int k = 1; k <= 100; ++k) {
    ASSERT_TRUE(table.Locate("k", Variant::Integer(k)));
    ASSERT_EQ(table.FieldByName("K").AsInteger(), k);
  }
  EXPECT_FALSE(table.Locate("K", Variant::Integer(101)));
  ASSERT_TRUE(table.Locate("V", Variant::String("even")));
  EXPECT_EQ(table.FieldByName("K").AsInteger(), 2);  // the first in list order
  ASSERT_TRUE(table.Locate("V;K", Variant::Array({Variant::String("odd"), Variant::Integer(51)})));
  EXPECT_EQ(table.RecNo(), 50);
}

TEST(ClientMemoryDataSet, CopiesAnotherDataset) {
  TQVMMemoryTable source;
  source.SetFieldLayout("Name;String;10;0;Num;Integer;0;0;Note;Memo;10;0");
  source.Open();
  AddRow(source, {{"Name", "a"}, {"Num", "1"}, {"Note", "long text"}});
  AddRow(source, {{"Name", "b"}});
  source.Close();
  TQVMClientMemoryDataSet copy;
  EXPECT_THROW_MSG(copy.SetSourceDataset(&copy), DatasetError, "Self referencing is not allowed");
  copy.SetSourceDataset(&source);
  copy.Open();
  EXPECT_FALSE(source.Active());
  EXPECT_EQ(copy.FieldLayout(), "Name;String;10;0;Num;Integer;0;0;Note;Memo;10;0");
  EXPECT_EQ(Column(copy, "Name"), std::vector<std::string>({"a", "b"}));
  copy.First();
  EXPECT_EQ(copy.FieldByName("Note").AsString(), "long text");
  copy.Next();
  EXPECT_TRUE(copy.FieldByName("Num").IsNull());
  EXPECT_TRUE(copy.FieldByName("Note").IsNull());
}

}  // namespace
}  // namespace tamaril::dataset
