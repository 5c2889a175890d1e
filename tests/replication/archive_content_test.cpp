#include <gtest/gtest.h>

#include "dataset/field.h"
#include "dataset/stream.h"
#include "engine_fixture.h"
#include "replication/archive.h"
#include "replication/errors.h"

namespace tamaril::replication {
namespace {

using fixtures::EngineTest;
using fixtures::MergeLog;

std::string Bytes(std::initializer_list<int> bytes) {
  std::string text;
  for (const int byte : bytes) text += static_cast<char>(byte);
  return text;
}

// A length-prefixed string.
std::string Str(const std::string& text) {
  dataset::MemoryWriter out;
  dataset::WriteStreamString(text, out);
  return out.Take();
}

class ArchiveContentTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ExecuteBoth("CREATE TABLE T (ID INTEGER); CREATE TABLE N (S VARCHAR(5), M TEXT);");
    client_.Execute("INSERT INTO T VALUES (5); INSERT INTO N VALUES (NULL, NULL), ('', '');");
    ScanBoth();
  }

  // The content of a table T with one row ID 5.
  static std::string ExampleContent() {
    return Bytes({1}) + Str("T\r\n") + Bytes({2, 0, 0}) + Str("T") + Str("ID;Integer;0;0") +
           Bytes({3, 1, 0, 4, 0, 0, 0, 1, 5, 0, 0, 0, 0, 0, 0xF3, 0xF2, 0xF1});
  }
};

TEST_F(ArchiveContentTest, OneIntegerRowByteForByteAfterInflating) {
  const std::string path = folder_.File("ABCDEFGHIJ.ZR2");
  tArchiveHeader header;
  header.Signature = "ABCDEFGHIJ";
  header.ExportNo = 7;
  header.ExportTime = 46000.5;
  {
    tArchiveWriter writer(path, header);
    tQVMPublisher publisher;
    publisher.TableList = {"T"};
    publisher.Stream = &writer.Stream();
    publisher.Structure = &client_structure_;
    publisher.OnRowFilter = [](tQVMPublisher&, dataset::TDataSet&, bool& accept) { accept = true; };
    publisher.Publish();
    writer.Commit();
  }
  dataset::FileReader file(path);
  InflateReader inflate(file);
  std::string all;
  char buffer[256];
  for (std::size_t got; (got = inflate.Read(buffer, sizeof buffer)) > 0;) all.append(buffer, got);
  EXPECT_TRUE(inflate.Finished());

  std::string expected = std::string("\x0a^SQLKELM^Z", 11) + "\x0a" "ABCDEFGHIJ" + Bytes({7, 0, 0, 0});
  const double time = 46000.5;
  expected.append(reinterpret_cast<const char*>(&time), 8);
  EXPECT_EQ(all, expected + ExampleContent());

  // The reader checks the header and hands the same stream on to the merger.
  tArchiveReader reader(path);
  EXPECT_TRUE(reader.Header().Identified);
  EXPECT_EQ(reader.Header().Signature, "ABCDEFGHIJ");
  EXPECT_EQ(reader.Header().ExportNo, 7);
  tQVMMerger merger;
  merger.Stream = &reader.Stream();
  merger.Structure = &center_structure_;
  merger.OnAppendRow = [](tQVMMerger&, dataset::TDataSet&, bool& allow) { allow = true; };
  dbaccess::TransactionGuard transaction(center_);
  EXPECT_TRUE(merger.Merge());
  transaction.Commit();
  EXPECT_EQ(Rows(center_, "SELECT ID FROM T"), "5\n");
}

TEST_F(ArchiveContentTest, NullAndEmptyStringsDifferButMemosDoNot) {
  const std::string content = Publish({"N"});
  const std::string rows =
      // S null: size 6, no value; M null: length 0.
      Bytes({3, 1, 0, 6, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0xF3}) +
      // S empty: size 6, a value, one zero byte; M empty: length 0 as well.
      Bytes({3, 1, 0, 6, 0, 0, 0, 1, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0xF3});
  const std::string expected = Bytes({1}) + Str("N\r\n") + Bytes({2, 0, 0}) + Str("N") +
                               Str("S;String;5;0;M;Memo;0;0") + rows + Bytes({0xF2, 0xF1});
  EXPECT_EQ(content, expected);

  MergeLog log;
  EXPECT_TRUE(Merge(content, log));
  EXPECT_EQ(Rows(center_, "SELECT quote(S), quote(M) FROM N ORDER BY rowid"), "NULL|NULL\n''|NULL\n");
}

// Merges crafted content with every row allowed; returns what happened.
class HostileContentTest : public ArchiveContentTest {
 protected:
  std::string MergeError(const std::string& content) {
    MergeLog log;
    try {
      Merge(content, log);
    } catch (const ReplicationError& error) {
      return error.what();
    }
    return "no error";
  }
};

TEST_F(HostileContentTest, ContentEndingBetweenItemsKeepsWhatWasApplied) {
  const std::string whole = ExampleContent();
  MergeLog log;
  // Cut after the row's end byte: the row is applied, the merge ends early.
  EXPECT_FALSE(Merge(whole.substr(0, whole.size() - 2), log));
  EXPECT_EQ(log.Joined(), "append T");
  // A row without its end byte is not applied.
  center_.Execute("DELETE FROM T");
  MergeLog cut;
  EXPECT_FALSE(Merge(whole.substr(0, whole.size() - 3), cut));
  EXPECT_EQ(cut.Joined(), "");
  EXPECT_EQ(Rows(center_, "SELECT COUNT(*) FROM T"), "0\n");
  // No table list: nothing at all.
  EXPECT_FALSE(Merge(std::string(), cut));
  EXPECT_FALSE(Merge(Bytes({0xF1}), cut));
}

TEST_F(HostileContentTest, DamageFailsNamingTableAndRow) {
  const std::string whole = ExampleContent();
  const std::size_t row_start = whole.find(Bytes({3, 1, 0, 4}));
  // A row cut in the middle.
  EXPECT_EQ(MergeError(whole.substr(0, row_start + 6)), "Table T, row 1: Unexpected end of stream");
  // A field number beyond the layout.
  std::string bad_field = whole;
  bad_field[row_start + 1] = 9;
  EXPECT_EQ(MergeError(bad_field).rfind("Table T, row 1: ", 0), 0U) << MergeError(bad_field);
  // A table the list does not name.
  EXPECT_EQ(MergeError(Bytes({1}) + Str("X\r\n") + whole.substr(whole.find(Bytes({2, 0, 0})))), "Merger error");
  // A layout the record cannot hold, and a header cut short.
  const std::string header = Bytes({1}) + Str("T\r\n") + Bytes({2, 0, 0}) + Str("T");
  EXPECT_EQ(MergeError(header + Str("ID;NoSuchType;0;0") + Bytes({0xF2, 0xF1})).rfind("Table T: ", 0), 0U);
  EXPECT_EQ(MergeError(header + Bytes({0x40, 0x42, 0x0F, 0x00}) + "ID;"), "Table header T: Unexpected end of stream");
  EXPECT_EQ(Rows(center_, "SELECT COUNT(*) FROM T"), "0\n");
}

TEST_F(HostileContentTest, WithoutAStructureEverythingIsReadThrough) {
  const std::string content = Publish({"T", "N"});
  dataset::MemoryReader in(content);
  tQVMMerger merger;
  merger.Stream = &in;
  std::vector<std::string> tables;
  int rows = 0;
  merger.OnBeforeTable = [&](tQVMMerger& m) { tables.push_back(m.TableName); };
  merger.OnAfterRow = [&](tQVMMerger&, dataset::TDataSet&) { ++rows; };
  EXPECT_TRUE(merger.Merge());
  EXPECT_EQ(merger.TableList, (std::vector<std::string>{"T", "N"}));
  EXPECT_EQ(tables, (std::vector<std::string>{"N", "T"}));
  EXPECT_EQ(rows, 3);
}

TEST(DatasetAdapter, WritingWithoutARowFails) {
  tDatasetAdapter adapter;
  dataset::MemoryWriter out;
  adapter.SetLayout("ID;Integer;0;0");
  try {
    adapter.WriteRow(&out);
    ADD_FAILURE() << "no exception";
  } catch (const ReplicationError& error) {
    EXPECT_STREQ(error.what(), "DatasetAdapter: Current record not available");
  }
  adapter.WriteRow(nullptr);
  EXPECT_TRUE(out.Data().empty());
}

}  // namespace
}  // namespace tamaril::replication
