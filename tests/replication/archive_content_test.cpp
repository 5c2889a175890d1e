#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "dataset/field.h"
#include "dataset/stream.h"
#include "engine_fixture.h"
#include "replication/archive.h"
#include "replication/errors.h"
#include "support/expect_throw_msg.h"
#include "text/encoding.h"

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

  std::string expected = std::string("\x0a^SQLKELM^Z", 11) +
                         "\x0a"
                         "ABCDEFGHIJ" +
                         Bytes({7, 0, 0, 0});
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

// An archive file holding `content` after the header, with its compressed bytes changed by
// `damage`; the merge of it with every append allowed (Merge's result, or its error).
class ArchiveImportTest : public ArchiveContentTest {
 protected:
  std::string WriteArchive(const std::string& content, const std::function<void(std::string&)>& damage) {
    const std::string path = folder_.File("POB.ZR2");
    tArchiveHeader header;
    header.Signature = "POB";
    {
      tArchiveWriter writer(path, header);
      writer.Stream().WriteBytes(content);
      writer.Commit();
    }
    std::string bytes = testing::ReadWholeFile(path);
    damage(bytes);
    testing::WriteWholeFile(path, bytes);
    return path;
  }

  bool MergeArchive(const std::string& path) {
    tArchiveReader reader(path);
    tQVMMerger merger;
    merger.Stream = &reader.Stream();
    merger.Structure = &center_structure_;
    merger.OnAppendRow = [](tQVMMerger&, dataset::TDataSet&, bool& allow) { allow = true; };
    // Not committed: a failed merge leaves the transaction to be rolled back.
    dbaccess::TransactionGuard transaction(center_);
    const bool complete = merger.Merge();
    transaction.Commit();
    return complete;
  }
};

TEST_F(ArchiveImportTest, AnArchiveThatLiesAboutItsEndIsNotMerged) {
  struct Case {
    std::string what;
    std::string content;
    std::function<void(std::string&)> damage;
    std::string message;  // after the archive's path
  };
  const std::vector<Case> cases = {
      {"one flipped bit in the check value", ExampleContent(),
       [](std::string& bytes) { bytes.back() = static_cast<char>(bytes.back() ^ 0x01); },
       "Chyba dekomprese archivu {}: nesouhlasí kontrolní součet dat"},
      {"no check value", ExampleContent(), [](std::string& bytes) { bytes.resize(bytes.size() - 4); },
       "Archiv {} je useknutý: komprimovaný proud nekončí"},
      {"bytes after the stream", ExampleContent(), [](std::string& bytes) { bytes += '\0'; },
       "Archiv {}: za komprimovaným proudem následují další bajty"},
      {"content after the end byte", ExampleContent() + Bytes({0xF1}), [](std::string&) {},
       "Archiv {}: za koncovou značkou obsahu následují další data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = WriteArchive(c.content, c.damage);
    std::string message = c.message;
    message.replace(message.find("{}"), 2, path);
    EXPECT_THROW_MSG(MergeArchive(path), ReplicationError, text::Utf8ToAnsi(message));
    EXPECT_EQ(Rows(center_, "SELECT COUNT(*) FROM T"), "0\n");
  }
  EXPECT_TRUE(MergeArchive(WriteArchive(ExampleContent(), [](std::string&) {})));
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

// The Unicode form: its own identification, which a reader of the compatible form does not take
// for an archive; text fields in UTF-8 with four bytes of room per character; a null memo with
// the length -1, so an empty one arrives empty.
TEST_F(ArchiveContentTest, UnicodeFormKeepsEveryCharacterAndTellsEmptyFromNull) {
  ExecuteBoth("CREATE TABLE U (S VARCHAR(3), M TEXT)");
  auto insert = client_.Prepare("INSERT INTO U VALUES (:s, :m)");
  for (const auto& [s, m] : {std::pair<dbaccess::Value, dbaccess::Value>{dbaccess::Value::UnicodeText("Чай"),
                                                                         dbaccess::Value::UnicodeText("🎉")},
                             {dbaccess::Value(), dbaccess::Value()},
                             {dbaccess::Value::Text(""), dbaccess::Value::Text("")}}) {
    insert->SetParameter("s", s);
    insert->SetParameter("m", m);
    insert->Execute();
  }
  ScanBoth();
  tArchiveHeader header;
  header.Form = tTextForm::Unicode;
  header.Signature = "INTL";
  const std::string head = EncodeArchiveHeader(header);
  EXPECT_EQ(head.substr(0, 11), std::string("\x0a^SQLKELM^U", 11));
  EXPECT_NE(head.substr(0, kArchiveIdentification.size()), kArchiveIdentification);
  EXPECT_EQ(DecodeArchiveHeader(head).Form, tTextForm::Unicode);
  EXPECT_TRUE(DecodeArchiveHeader(head).Identified);
  header.Form = tTextForm::Compatible;
  EXPECT_EQ(DecodeArchiveHeader(EncodeArchiveHeader(header)).Form, tTextForm::Compatible);

  dataset::MemoryWriter out;
  {
    const dbaccess::UnicodeTextScope unicode(client_, true);
    tQVMPublisher publisher;
    publisher.Adapter.SetTextForm(tTextForm::Unicode);
    publisher.TableList = {"U"};
    publisher.Stream = &out;
    publisher.Structure = &client_structure_;
    publisher.OnRowFilter = [](tQVMPublisher&, dataset::TDataSet&, bool& accept) { accept = true; };
    publisher.Publish();
  }
  const std::string rows = Bytes({3, 1, 0, 13, 0, 0, 0, 1}) + "Чай" + Bytes({0, 2, 0, 4, 0, 0, 0}) + "🎉" +
                           Bytes({0, 0, 0xF3}) +
                           Bytes({3, 1, 0, 13, 0, 0, 0, 0, 2, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0xF3}) +
                           Bytes({3, 1, 0, 13, 0, 0, 0, 1, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0xF3});
  const std::string content = out.Take();
  EXPECT_EQ(content, Bytes({1}) + Str("U\r\n") + Bytes({2, 0, 0}) + Str("U") +
                         Str("S;String;12;0;M;Memo;0;0") + rows + Bytes({0xF2, 0xF1}));

  dataset::MemoryReader in(content);
  tQVMMerger merger;
  merger.Adapter.SetTextForm(tTextForm::Unicode);
  merger.Stream = &in;
  merger.Structure = &center_structure_;
  merger.OnAppendRow = [](tQVMMerger&, dataset::TDataSet&, bool& allow) { allow = true; };
  {
    const dbaccess::UnicodeTextScope unicode(center_, true);
    dbaccess::TransactionGuard transaction(center_);
    EXPECT_TRUE(merger.Merge());
    transaction.Commit();
  }
  EXPECT_EQ(Rows(center_, "SELECT hex(S), typeof(S), hex(M), typeof(M) FROM U ORDER BY rowid"),
            "D0A7D0B0D0B9|text|F09F8E89|text\n|null||null\n|text||text\n");
}

TEST_F(ArchiveContentTest, ValuesBeyondTheirDeclaredTypeWidenOnlyTheirFieldsLayout) {
  ExecuteBoth("CREATE TABLE L (ID INTEGER, S VARCHAR(5))");
  client_.Execute("INSERT INTO L VALUES (5000000000, 'abcdefg')");
  ScanBoth();
  const std::string content = Publish({"L"});
  const std::string row =
      // ID: size 8, a value; S: size 8, a value, seven letters and a zero byte.
      Bytes({3, 1, 0, 8, 0, 0, 0, 1, 0x00, 0xF2, 0x05, 0x2A, 0x01, 0, 0, 0}) + Bytes({2, 0, 8, 0, 0, 0, 1}) +
      "abcdefg" + Bytes({0, 0, 0, 0xF3});
  const std::string expected = Bytes({1}) + Str("L\r\n") + Bytes({2, 0, 0}) + Str("L") +
                               Str("ID;Largeint;0;0;S;String;7;0") + row + Bytes({0xF2, 0xF1});
  EXPECT_EQ(content, expected);

  MergeLog log;
  EXPECT_TRUE(Merge(content, log));
  EXPECT_EQ(Rows(center_, "SELECT ID, S FROM L"), "5000000000|abcdefg\n");
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
  EXPECT_EQ(MergeError(whole.substr(0, row_start + 6)),
            text::Utf8ToAnsi("Tabulka T, řádek 1: ") + "Unexpected end of stream");
  // A field number beyond the layout.
  std::string bad_field = whole;
  bad_field[row_start + 1] = 9;
  EXPECT_EQ(MergeError(bad_field).rfind(text::Utf8ToAnsi("Tabulka T, řádek 1: "), 0), 0U)
      << MergeError(bad_field);
  // A deleted-rows row without the column that names its table.
  EXPECT_EQ(MergeError(Bytes({1}) + Str("T\r\n") + Bytes({2, 0xFF, 0xFF}) + Str("rep_DELETED") +
                       whole.substr(whole.find(Str("ID;Integer;0;0")))),
            text::Utf8ToAnsi("Tabulka rep_DELETED, řádek 1: chybí pole TABLENAME"));
  // A table the list does not name.
  EXPECT_EQ(MergeError(Bytes({1}) + Str("X\r\n") + whole.substr(whole.find(Bytes({2, 0, 0})))),
            "Merger error");
  // A layout the record cannot hold, and a header cut short.
  const std::string header = Bytes({1}) + Str("T\r\n") + Bytes({2, 0, 0}) + Str("T");
  EXPECT_EQ(MergeError(header + Str("ID;NoSuchType;0;0") + Bytes({0xF2, 0xF1})).rfind("Tabulka T: ", 0), 0U);
  EXPECT_EQ(MergeError(header + Bytes({0x40, 0x42, 0x0F, 0x00}) + "ID;"),
            text::Utf8ToAnsi("Hlavička tabulky T: ") + "Unexpected end of stream");
  EXPECT_EQ(Rows(center_, "SELECT COUNT(*) FROM T"), "0\n");
}

// A table list of `count` names of one letter.
std::string ListOfNames(std::size_t count) {
  std::string list;
  for (std::size_t i = 0; i < count; ++i) list += "a\r\n";
  return list;
}

TEST_F(HostileContentTest, NamesLayoutsAndTheTableListHaveBounds) {
  const std::string listed_t = Bytes({1}) + Str("T\r\n");
  const std::string long_name(kMaxTableNameLength + 1, 'N');
  struct Case {
    std::string what;
    std::string content;
    std::string message;
  };
  const std::vector<Case> cases = {
      // A list that would inflate to 300 MB is refused before it is read.
      {"list", Bytes({1, 0x00, 0xA3, 0xE1, 0x11}) + "T\r\n",
       "Seznam tabulek má 300000000 bajtů, smí mít nejvýše 16777216"},
      {"count", Bytes({1}) + Str(ListOfNames(kMaxTableCount + 1)) + Bytes({0xF1}),
       "Seznam tabulek má více než 100000 názvů"},
      {"name in the list", Bytes({1}) + Str("T\r\n" + long_name + "\r\n") + Bytes({0xF1}),
       "Název v seznamu tabulek má 1025 bajtů, smí mít nejvýše 1024"},
      {"table name",
       listed_t + Bytes({2, 0, 0}) + Str(long_name) + Str("ID;Integer;0;0") + Bytes({0xF2, 0xF1}),
       "Hlavička tabulky: Název tabulky má 1025 bajtů, smí mít nejvýše 1024"},
      {"layout", listed_t + Bytes({2, 0, 0}) + Str("T") + Bytes({0x01, 0x00, 0x10, 0x00}) + "ID;",
       "Hlavička tabulky T: Popis polí tabulky má 1048577 bajtů, smí mít nejvýše 1048576"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MergeLog log;
    EXPECT_THROW_MSG(Merge(c.content, log), ReplicationError, text::Utf8ToAnsi(c.message));
  }

  // At the bounds: every name of a full list, and a table of the longest name read through.
  const std::string longest(kMaxTableNameLength, 'N');
  const std::string full = Bytes({1}) + Str(ListOfNames(kMaxTableCount - 1) + longest + "\r\n") +
                           Bytes({2, 0, 0}) + Str(longest) + Str("ID;Integer;0;0") + Bytes({0xF2, 0xF1});
  dataset::MemoryReader in(full);
  tQVMMerger merger;
  merger.Stream = &in;
  merger.Structure = &center_structure_;
  EXPECT_TRUE(merger.Merge());
  EXPECT_EQ(merger.TableList.size(), kMaxTableCount);
}

TEST_F(HostileContentTest, NothingMayFollowTheEndByte) {
  MergeLog log;
  EXPECT_THROW_MSG(Merge(ExampleContent() + Bytes({0}), log), ReplicationError,
                   text::Utf8ToAnsi("Za koncovou značkou archivu následují další data"));
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
  EXPECT_THROW_MSG(adapter.WriteRow(&out), ReplicationError, "DatasetAdapter: Current record not available");
  adapter.WriteRow(nullptr);
  EXPECT_TRUE(out.Data().empty());
}

}  // namespace
}  // namespace tamaril::replication
