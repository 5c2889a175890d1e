#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "dbstruct/mssql/database_structure.h"
#include "mssql_scripted_backend.h"
#include "replication/setup_script.h"
#include "support/temp_dir.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

using dataset::FieldType;
using dbstruct::testing::Column;

const std::string kCenik = text::Utf8ToAnsi("Čeník");

// A scanned SQL Server database with, in catalogue order: rep_DELETED; Customers (RowGuid RG,
// text key); Notes (named in ignore.txt in capitals); Items (integer key); Bob's Notes (a quote
// and a blank in its name, RowGuid and integer key); Lines (two-column key, no DELETE trigger);
// Čeník (integer key, a Czech name); rep_USERFK.
struct HintDatabase : dbstruct::testing::ScriptedServer {
  HintDatabase() {
    auto& b = *backend;
    b.tables = {"rep_DELETED", "Customers", "Notes", "Items", "Bob's Notes", "Lines", kCenik, "rep_USERFK"};
    b.columns["rep_DELETED"] = {Column("SUCCNO", FieldType::AutoInc, false),
                                Column("TABLENAME", FieldType::String, false)};
    b.indexes["rep_DELETED"] = {{"rep_DELETED_PK", "SUCCNO", true, true}};
    b.columns["Customers"] = {Column("RG", FieldType::Guid, false), Column("Code", FieldType::String, false)};
    b.indexes["Customers"] = {{"PK_Customers", "Code", true, true}};
    b.columns["Notes"] = {Column("Id", FieldType::Integer, false), Column("Text", FieldType::String, true)};
    b.indexes["Notes"] = {{"PK_Notes", "Id", true, true}};
    b.columns["Items"] = {Column("Id", FieldType::Integer, false), Column("Name", FieldType::String, true)};
    b.indexes["Items"] = {{"PK_Items", "Id", true, true}};
    b.columns["Bob's Notes"] = {Column("Note Id", FieldType::Integer, false),
                                Column("RG", FieldType::Guid, false)};
    b.indexes["Bob's Notes"] = {{"PK_Bobs_Notes", "Note Id", true, true}};
    b.columns["Lines"] = {Column("ItemId", FieldType::Integer, false),
                          Column("No", FieldType::Integer, false), Column("Qty", FieldType::Integer, true)};
    b.indexes["Lines"] = {{"PK_Lines", "ItemId;No", true, true}};
    b.columns[kCenik] = {Column("Id", FieldType::Integer, false)};
    b.indexes[kCenik] = {{"PK_Cenik", "Id", true, true}};
    b.columns["rep_USERFK"] = {Column("ID", FieldType::AutoInc, false)};
    b.indexes["rep_USERFK"] = {{"rep_USERFK_PK", "ID", true, true}};
    b.object_properties = {{"Customers|TableHasRowGuidCol", 1}, {"Bob's Notes|TableHasRowGuidCol", 1}};
    b.column_properties = {{"Customers|RG|IsRowGuidCol", 1}, {"Bob's Notes|RG|IsRowGuidCol", 1}};
    b.answers = {{"select @@LANGID", dbstruct::testing::Scalar(5)}};
    b.procedures["sp_helplanguage"] =
        dbstruct::testing::MakeRows({{"langid", FieldType::Integer}, {"dateformat", FieldType::String}},
                                    {{dbaccess::Value::Integer(5), dbaccess::Value::Text("dmy")}});
    structure = std::make_unique<dbstruct::tADODatabase_Structure>(
        connection, [](const std::string&, std::uint8_t& code) {
          code = 16;
          return true;
        });
    structure->Scan();
  }

  // The script with the ignore list read from an ignore.txt holding `ignore_file`.
  std::string Script(const std::string& ignore_file = "NOTES\r\n") const {
    testing::TempDir folder;
    testing::WriteWholeFile(folder.File(kIgnoreListFile), ignore_file);
    return MssqlSetupScript(*structure, ReadIgnoreList(folder.path()));
  }

  std::unique_ptr<dbstruct::tADODatabase_Structure> structure;
};

std::vector<std::string> Lines(const std::string& script) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < script.size()) {
    std::size_t end = script.find("\r\n", start);
    if (end == std::string::npos) end = script.size();
    lines.push_back(script.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(MssqlSetupScript, MatchesTheGoldenFile) {
  HintDatabase database;
  const std::string script = database.Script();
  const std::string golden_file = std::string(TAMARIL_TEST_SOURCE_DIR) + "/replication/golden/hint_mssql.sql";
  const char* update = std::getenv("TAMARIL_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    testing::WriteWholeFile(golden_file, script);
    GTEST_SKIP() << "rewrote " << golden_file;
  }
  const std::string golden = testing::ReadWholeFile(golden_file);
  ASSERT_FALSE(golden.empty()) << golden_file << " is missing; TAMARIL_UPDATE_GOLDEN=1 writes it";
  if (script == golden) return;
  const auto got = Lines(script);
  const auto expected = Lines(golden);
  for (std::size_t i = 0; i < std::max(got.size(), expected.size()); ++i) {
    const std::string got_line = i < got.size() ? got[i] : "<end of script>";
    const std::string expected_line = i < expected.size() ? expected[i] : "<end of golden file>";
    if (got_line != expected_line) {
      ADD_FAILURE() << "line " << i + 1 << " differs\n  script: " << text::AnsiToUtf8(got_line)
                    << "\n  golden: " << text::AnsiToUtf8(expected_line);
      return;
    }
  }
  ADD_FAILURE() << "the script and " << golden_file << " differ in their line ends";
}

TEST(MssqlSetupScript, ListOrderIsThePositionAmongAllTables) {
  HintDatabase database;
  const std::string script = database.Script();
  // rep_DELETED (1), Notes (3) and rep_USERFK (8) leave gaps; the deleted-rows row comes first with 0.
  const std::string insert = "   Insert into rep_TBLDESC (TABLENAME,TABLEDESC,LISTORDER) VALUES \r\n";
  const std::string rows = insert + "   ('Customers',N'Popis tabulky Customers',2)\r\n" + insert +
                           "   ('Items',N'Popis tabulky Items',4)\r\n" + insert +
                           "   ('Bob''s Notes',N'Popis tabulky Bob''s Notes',5)\r\n" + insert +
                           "   ('Lines',N'Popis tabulky Lines',6)\r\n" + insert + "   ('" + kCenik +
                           "',N'Popis tabulky " + kCenik + "',7)\r\nEND\r\n\r\nGO\r\n\r\n";
  EXPECT_NE(script.find(text::Utf8ToAnsi("  /* B. ostatní evidence  */\r\n") + rows), std::string::npos);
  EXPECT_EQ(Count(script, "Insert into rep_TBLDESC"), 6u);

  // Without ignore.txt Notes is listed under its own position.
  EXPECT_NE(database.Script("").find("   ('Notes',N'Popis tabulky Notes',3)\r\n"), std::string::npos);
}

TEST(MssqlSetupScript, IgnoredTablesGetNoColumnsTriggersOrDescription) {
  HintDatabase database;
  const std::string with_notes = database.Script("");
  EXPECT_NE(with_notes.find("rep_tr_Del_Notes"), std::string::npos);
  EXPECT_NE(with_notes.find("ALTER TABLE Notes ADD rep_Date_Inserted"), std::string::npos);

  // A Czech name written in other capitals is the same table.
  const std::string script = database.Script("notes\r\n" + text::Utf8ToAnsi("ČENÍK") + "\r\n");
  for (const std::string& name : {std::string("Notes"), kCenik, std::string("rep_USERFK")}) {
    EXPECT_EQ(script.find("@table_name='" + name + "'"), std::string::npos) << name;
    EXPECT_EQ(script.find("rep_tr_Del_" + name), std::string::npos) << name;
    EXPECT_EQ(script.find("rep_tr_Ins_" + name), std::string::npos) << name;
    EXPECT_EQ(script.find("('" + name + "',"), std::string::npos) << name;
  }
  EXPECT_EQ(script.find("ON rep_DELETED FOR"), std::string::npos);
  // The others keep theirs: four tracking columns each, a DELETE trigger where rows are identifiable.
  for (const char* name : {"Customers", "Items", "Bob''s Notes", "Lines"}) {
    EXPECT_EQ(Count(script, std::string("exec sp_columns @table_name='") + name + "'"), 4u) << name;
  }
  EXPECT_EQ(Count(script, "FOR DELETE AS"), 3u);
  EXPECT_EQ(Count(script, "FOR INSERT AS"), 4u);
}

TEST(MssqlSetupScript, EveryLineEndsInCarriageReturnAndLineFeed) {
  HintDatabase database;
  const std::string script = database.Script();
  ASSERT_GE(script.size(), 2u);
  EXPECT_EQ(script.substr(script.size() - 2), "\r\n");
  for (std::size_t i = 0; i < script.size(); ++i) {
    if (script[i] == '\n') {
      ASSERT_TRUE(i > 0 && script[i - 1] == '\r') << "bare LF at byte " << i;
    }
    if (script[i] == '\r') {
      ASSERT_TRUE(i + 1 < script.size() && script[i + 1] == '\n') << "bare CR at byte " << i;
    }
  }
}

TEST(MssqlSetupScript, CzechTextsAreWindows1250) {
  HintDatabase database;
  const std::string script = database.Script();
  // "Tabulka s identifikací vymazaných záznamů": í ED, ý FD, á E1, ů F9.
  EXPECT_NE(script.find("   ('rep_DELETED',N'Tabulka s identifikac\xed vymazan\xfd"
                        "ch z\xe1znam\xf9',0)\r\n"),
            std::string::npos);
  EXPECT_NE(script.find("  /* B. ostatn\xed evidence  */\r\n"), std::string::npos);
  // The Czech table name passes as it is: Č C8, í ED.
  EXPECT_NE(script.find("CREATE TRIGGER [rep_tr_Ins_\xc8"
                        "en\xedk] ON [\xc8"
                        "en\xedk] FOR INSERT AS"),
            std::string::npos);
  EXPECT_EQ(script.find("\xc3"), std::string::npos);  // no UTF-8 lead byte of Latin letters
}

// Running the script twice must not fail on what the first run created.
TEST(MssqlSetupScript, EveryObjectIsGuardedSoTheScriptRunsTwice) {
  HintDatabase database;
  const auto lines = Lines(database.Script());
  int tables = 0;
  int procedures = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const auto create = line.find("CREATE TABLE ");
    if (create != std::string::npos && line.find("/*") == std::string::npos) {
      const std::string name = line.substr(create + 13);
      ASSERT_GE(i, 2u);
      EXPECT_EQ(lines[i - 2], "IF NOT EXISTS (SELECT name FROM sysobjects") << name;
      EXPECT_NE(lines[i - 1].find("WHERE name = '" + name + "' AND type = 'U')"), std::string::npos) << name;
      ++tables;
    }
    if (line.starts_with("CREATE PROCEDURE ")) {
      const std::string name = line.substr(17);
      ASSERT_GE(i, 4u);
      EXPECT_EQ(lines[i - 1], "GO") << name;
      EXPECT_EQ(lines[i - 2], "  DROP PROCEDURE " + name);
      EXPECT_NE(lines[i - 3].find("WHERE name = '" + name + "' AND type = 'P')"), std::string::npos) << name;
      ++procedures;
    }
  }
  EXPECT_EQ(tables, 9);
  EXPECT_EQ(procedures, 3);
}

// Query tools split batches at every GO line, also inside a comment, which then never ends.
TEST(MssqlSetupScript, NoBatchSeparatorStandsInsideAComment) {
  HintDatabase database;
  int depth = 0;
  int separators = 0;
  for (const std::string& line : Lines(database.Script())) {
    const std::string_view bare = text::TrimBlanks(line);
    if (bare == "GO") {
      EXPECT_EQ(depth, 0) << "GO inside a comment";
      ++separators;
    }
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
      if (line.compare(i, 2, "/*") == 0)
        ++depth, ++i;
      else if (line.compare(i, 2, "*/") == 0)
        --depth, ++i;
    }
    ASSERT_GE(depth, 0) << line;
  }
  EXPECT_EQ(depth, 0);
  EXPECT_GT(separators, 40);
}

TEST(MssqlSetupScript, GeneratingAgainReplacesTheFile) {
  HintDatabase database;
  testing::TempDir folder;
  const std::string file = folder.File(kSetupScriptFile);
  testing::WriteWholeFile(file, "old content that is longer than nothing\r\n");
  GenerateSetupScript(*database.structure, ReadIgnoreList(folder.path()), file);
  const std::string first = testing::ReadWholeFile(file);
  GenerateSetupScript(*database.structure, ReadIgnoreList(folder.path()), file);
  EXPECT_EQ(testing::ReadWholeFile(file), first);
  EXPECT_EQ(first, MssqlSetupScript(*database.structure, ReadIgnoreList(folder.path())));
  EXPECT_EQ(Count(first, "/* KOSTRA SKRIPTU PRO ZALOZENI REPLIKACNICH OBJEKTU PRO REPLIKACI DATABAZE */"),
            1u);
}

}  // namespace
}  // namespace tamaril::replication
