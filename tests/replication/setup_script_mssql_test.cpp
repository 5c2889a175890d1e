#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
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
  const auto row = [&](const std::string& quoted, int order) {
    const std::string where = "WHERE TABLENAME = '" + quoted + "'";
    return "IF NOT EXISTS (SELECT TABLENAME FROM rep_TBLDESC " + where + ")\r\n" + insert + "   ('" + quoted +
           "',N'Popis tabulky " + quoted + "'," + std::to_string(order) +
           ")\r\nUPDATE rep_TBLDESC SET LISTORDER = " + std::to_string(order) + " " + where + "\r\n";
  };
  const std::string rows = row("Customers", 2) + row("Items", 4) + row("Bob''s Notes", 5) + row("Lines", 6) +
                           row(kCenik, 7) + "GO\r\n";
  // The rows stand after the block that creates rep_TBLDESC, so a run on an existing table adds
  // the new ones and renumbers the old ones.
  const std::size_t block_end = script.find("END\r\n\r\nGO\r\n", script.find("CREATE TABLE rep_TBLDESC"));
  EXPECT_EQ(script.find(text::Utf8ToAnsi("  /* B. ostatní evidence  */\r\n") + rows), block_end + 13);
  EXPECT_EQ(Count(script, "Insert into rep_TBLDESC"), 6u);
  // The rule rows follow the same numbers.
  for (const auto& [quoted, order] :
       std::vector<std::pair<std::string, int>>{{"Customers", 2}, {"Lines", 6}}) {
    for (const char* table : {"rep_DEFEXPORT", "rep_DEFIMPORT"}) {
      EXPECT_EQ(Count(script, std::string("UPDATE ") + table + " SET LISTORDER = " + std::to_string(order) +
                                  " WHERE TABLENAME = '" + quoted + "'\r\n"),
                1u)
          << table << " " << quoted;
    }
  }

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

// A schema as users have them, in catalogue order: ActiveOrders (a view); Orders (integer key);
// OrderLines (integer key, an unindexed foreign key to Orders); Pairs (two-column key); Devices
// (text key, an unindexed RowGuid); Journal (no primary key, a RowGuid); Scratch (no key at all,
// an unindexed foreign key to Orders); Tmp*/Log (no key, a comment end in its name);
// InventoryMovementsArchive (25 characters).
struct UsersSchema : dbstruct::testing::ScriptedServer {
  UsersSchema() {
    auto& b = *backend;
    b.tables = {"ActiveOrders", "Orders",   "OrderLines",
                "Pairs",        "Devices",  "Journal",
                "Scratch",      "Tmp*/Log", "InventoryMovementsArchive"};
    b.columns["ActiveOrders"] = {Column("Id", FieldType::Integer, false)};
    b.columns["Orders"] = {Column("Id", FieldType::Integer, false)};
    b.indexes["Orders"] = {{"PK_Orders", "Id", true, true}};
    b.columns["OrderLines"] = {Column("Id", FieldType::Integer, false),
                               Column("OrderId", FieldType::Integer, true)};
    b.indexes["OrderLines"] = {{"PK_OrderLines", "Id", true, true}};
    b.columns["Pairs"] = {Column("A", FieldType::Integer, false), Column("B", FieldType::String, false)};
    b.indexes["Pairs"] = {{"PK_Pairs", "A;B", true, true}};
    b.columns["Devices"] = {Column("Code", FieldType::String, false), Column("RG", FieldType::Guid, false)};
    b.indexes["Devices"] = {{"PK_Devices", "Code", true, true}};
    b.columns["Journal"] = {Column("RG", FieldType::Guid, false), Column("Text", FieldType::String, true)};
    b.columns["Scratch"] = {Column("OrderId", FieldType::Integer, true)};
    b.columns["Tmp*/Log"] = {Column("Text", FieldType::String, true)};
    b.columns["InventoryMovementsArchive"] = {Column("Id", FieldType::Integer, false)};
    b.indexes["InventoryMovementsArchive"] = {{"PK_Inventory", "Id", true, true}};
    b.foreign_keys = {{"SHOP", "Orders", "Id", "SHOP", "OrderLines", "OrderId", "FK_OrderLines_Orders"},
                      {"SHOP", "Orders", "Id", "SHOP", "Scratch", "OrderId", "FK_Scratch_Orders"}};
    b.object_properties = {
        {"ActiveOrders|IsView", 1}, {"Devices|TableHasRowGuidCol", 1}, {"Journal|TableHasRowGuidCol", 1}};
    b.column_properties = {{"Devices|RG|IsRowGuidCol", 1}, {"Journal|RG|IsRowGuidCol", 1}};
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

  std::string Script(bool add_rowguid = false) const {
    SetupOptions options;
    options.add_rowguid = add_rowguid;
    return MssqlSetupScript(*structure, ReadIgnoreList(testing::TempDir().path()), options);
  }

  // The table's LISTORDER: its position in the scanned order plus one.
  int ListOrder(const std::string& name) const {
    for (int i = 0; i < structure->TableCount(); ++i) {
      if (structure->Table(i).GetTableName() == name) return i + 1;
    }
    return -1;
  }

  std::unique_ptr<dbstruct::tADODatabase_Structure> structure;
};

// The batches of a script: the text between lines that hold GO alone.
std::vector<std::string> Batches(const std::string& script) {
  std::vector<std::string> batches(1);
  for (const std::string& line : Lines(script)) {
    if (text::TrimBlanks(line) == "GO") {
      batches.emplace_back();
    } else {
      batches.back() += line + "\r\n";
    }
  }
  return batches;
}

// `batch` without its comment and blank lines.
std::string WithoutComments(const std::string& batch) {
  std::string rest;
  for (const std::string& line : Lines(batch)) {
    if (!line.empty() && !line.starts_with("/*")) rest += line + "\r\n";
  }
  return rest;
}

// The number of the batch holding `part` (first occurrence), or -1.
int BatchOf(const std::vector<std::string>& batches, const std::string& part) {
  for (std::size_t i = 0; i < batches.size(); ++i) {
    if (batches[i].find(part) != std::string::npos) return static_cast<int>(i);
  }
  return -1;
}

TEST(MssqlSetupScript, ViewsGetNothing) {
  UsersSchema schema;
  for (const bool add_rowguid : {false, true}) {
    const std::string script = schema.Script(add_rowguid);
    EXPECT_EQ(script.find("ActiveOrders"), std::string::npos);
  }
  // The view still counts in the positions: Orders comes after it.
  EXPECT_EQ(schema.ListOrder("Orders"), 2);
  EXPECT_NE(schema.Script().find("   ('Orders',N'Popis tabulky Orders',2)\r\n"), std::string::npos);
}

TEST(MssqlSetupScript, TablesItCannotSetUpGetOneNoteAndNothingElse) {
  UsersSchema schema;
  const std::string script = schema.Script();
  const std::string keyless =
      "/* Tabulka Scratch nema primarni klic, nereplikuje se; replikovatelnou ji ucini primarni klic nebo "
      "volba --add-rowguid */\r\n";
  const std::string long_name =
      "/* Tabulku InventoryMovementsArchive nelze replikovat: tabulky rep_ drzi nazev tabulky nejvyse 20 "
      "znaku */\r\n";
  EXPECT_EQ(Count(script, keyless), 1u);
  EXPECT_EQ(Count(script, long_name), 1u);
  EXPECT_EQ(Count(script, "Scratch"), 1u);  // no columns, triggers, index, description or rules
  EXPECT_EQ(Count(script, "InventoryMovementsArchive"), 1u);
  // The comment end in a name does not end the note early.
  EXPECT_EQ(Count(script, "/* Tabulka Tmp* /Log nema primarni klic"), 1u);
  EXPECT_EQ(Count(script, "Tmp*"), 1u);

  // The others are set up all the same, also those after the ones left out.
  for (const char* name : {"Orders", "OrderLines", "Pairs", "Devices", "Journal"}) {
    EXPECT_EQ(Count(script, std::string("CREATE TRIGGER rep_tr_Ins_") + name + " ON "), 1u) << name;
    EXPECT_EQ(
        Count(script, std::string("(SELECT TABLENAME FROM rep_TBLDESC WHERE TABLENAME = '") + name + "')"),
        1u)
        << name;
  }
}

TEST(MssqlSetupScript, InsertTriggersAlwaysHaveAJoin) {
  UsersSchema schema;
  for (const bool add_rowguid : {false, true}) {
    const std::string script = schema.Script(add_rowguid);
    for (const std::string& line : Lines(script)) {
      const std::size_t on = line.find("INNER JOIN Inserted ON");
      if (on == std::string::npos) continue;
      EXPECT_NE(text::TrimBlanks(line.substr(on + 22)), "") << line;
    }
  }
  const std::string script = schema.Script();
  EXPECT_NE(script.find(" FROM Pairs INNER JOIN Inserted ON Pairs.A=Inserted.A and Pairs.B=Inserted.B\r\n"),
            std::string::npos);
  EXPECT_NE(script.find(" FROM Journal INNER JOIN Inserted ON Journal.RG=Inserted.RG\r\n"),
            std::string::npos);
  EXPECT_NE(script.find(" select 'Journal',RG from Deleted\r\n"), std::string::npos);
  EXPECT_EQ(script.find("rep_tr_Del_Pairs"), std::string::npos);  // nothing identifies its rows
}

TEST(MssqlSetupScript, LookupIndexesAreGuardedAndCreatedOnce) {
  UsersSchema schema;
  const std::string script = schema.Script();
  const auto index = [](const std::string& name, const std::string& table, const std::string& create) {
    return "IF NOT EXISTS (SELECT name FROM sysindexes\r\n               WHERE name = '" + name +
           "' AND id = OBJECT_ID('" + table + "'))\r\n  " + create + "\r\nGO\r\n";
  };
  EXPECT_EQ(Count(script, index("rep_ux_Devices_RG", "Devices",
                                "CREATE UNIQUE INDEX rep_ux_Devices_RG ON Devices (RG)")),
            1u);
  EXPECT_EQ(Count(script, index("rep_ux_Journal_RG", "Journal",
                                "CREATE UNIQUE INDEX rep_ux_Journal_RG ON Journal (RG)")),
            1u);
  EXPECT_EQ(Count(script, index("rep_ix_OrderLines_OrderId", "OrderLines",
                                "CREATE INDEX rep_ix_OrderLines_OrderId ON OrderLines (OrderId)")),
            1u);
  // The primary key of Orders serves the master check; Scratch is not set up.
  EXPECT_EQ(Count(script, "INDEX "), 3u);

  // Names that cannot stand bare are bracketed as identifiers and doubled in the literal.
  const std::string odd = HintDatabase().Script();
  EXPECT_EQ(Count(odd, index("rep_ux_Bob''s Notes_RG", "[Bob''s Notes]",
                             "CREATE UNIQUE INDEX [rep_ux_Bob's Notes_RG] ON [Bob's Notes] (RG)")),
            1u);
}

TEST(MssqlSetupScript, AddedRowGuidColumnComesInItsOwnBatchBeforeItsUsers) {
  UsersSchema schema;
  EXPECT_EQ(schema.Script().find("rep_RowGuid"), std::string::npos);
  const std::string script = schema.Script(true);
  const auto batches = Batches(script);
  for (const std::string table : {"Scratch", "Pairs"}) {
    const std::string alter = "IF COL_LENGTH('" + table + "','rep_RowGuid') IS NULL\r\n  ALTER TABLE " +
                              table +
                              " ADD rep_RowGuid uniqueidentifier ROWGUIDCOL NOT NULL CONSTRAINT rep_df_" +
                              table + "_rep_RowGuid DEFAULT newid()\r\n";
    const int column = BatchOf(batches, alter);
    ASSERT_GE(column, 0) << table;
    EXPECT_EQ(WithoutComments(batches[column]), alter) << table;
    const int index = BatchOf(
        batches, "CREATE UNIQUE INDEX rep_ux_" + table + "_rep_RowGuid ON " + table + " (rep_RowGuid)");
    const int del = BatchOf(batches, "CREATE TRIGGER rep_tr_Del_" + table + " ON " + table +
                                         " FOR DELETE AS\r\n"
                                         " INSERT INTO rep_DELETED (TABLENAME,RECORDGUID)\r\n select '" +
                                         table + "',rep_RowGuid from Deleted\r\n");
    const int ins = BatchOf(batches, "CREATE TRIGGER rep_tr_Ins_" + table);
    EXPECT_GT(index, column) << table;
    EXPECT_GT(del, column) << table;
    EXPECT_GT(ins, column) << table;
  }
  // A table without a key is now set up, its inserted rows found by the new column.
  EXPECT_EQ(script.find("/* Tabulka Scratch nema"), std::string::npos);
  EXPECT_NE(script.find(" FROM Scratch INNER JOIN Inserted ON Scratch.rep_RowGuid=Inserted.rep_RowGuid\r\n"),
            std::string::npos);
  EXPECT_NE(script.find("IF COL_LENGTH('[Tmp*/Log]','rep_RowGuid') IS NULL\r\n  ALTER TABLE [Tmp*/Log] ADD "),
            std::string::npos);
  // Tables whose rows a RowGuid or an integer key identifies keep what they have.
  EXPECT_EQ(Count(script, " ADD rep_RowGuid "), 3u);
  EXPECT_EQ(script.find("InventoryMovementsArchive ADD"), std::string::npos);
}

TEST(MssqlSetupScript, RuleTablesFollowTheSchemaAfterTheyExist) {
  UsersSchema schema;
  const std::string script = schema.Script();
  const std::vector<std::string> steps = {
      "CREATE TABLE rep_IMPORTLOGDETAIL",
      "DELETE FROM rep_DEFEXPORT WHERE TABLENAME <> 'rep_DELETED'\r\n  AND NOT EXISTS (SELECT name FROM "
      "sysobjects "
      "WHERE name = rep_DEFEXPORT.TABLENAME AND type = 'U')\r\n",
      "DELETE FROM rep_DEFIMPORT WHERE TABLENAME <> 'rep_DELETED'\r\n",
      "DELETE FROM rep_XPORTLOGDETAIL WHERE TABLENAME <> 'rep_DELETED'\r\n",
      "DELETE FROM rep_IMPORTLOGDETAIL WHERE TABLENAME <> 'rep_DELETED'\r\n",
      "DELETE FROM rep_TBLDESC WHERE TABLENAME <> 'rep_DELETED'\r\n  AND NOT EXISTS (SELECT name FROM "
      "sysobjects "
      "WHERE name = rep_TBLDESC.TABLENAME AND type = 'U')\r\n",
      "UPDATE rep_DEFEXPORT SET LISTORDER = 2 WHERE TABLENAME = 'Orders'\r\n",
      "UPDATE rep_DEFIMPORT SET LISTORDER = 2 WHERE TABLENAME = 'Orders'\r\n",
      "INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, LISTORDER)\r\n"
      "  SELECT DISTINCT d.Signature, t.TABLENAME, t.LISTORDER\r\n"
      "  FROM rep_DEFEXPORT d CROSS JOIN rep_TBLDESC t\r\n"
      "  WHERE NOT EXISTS (SELECT * FROM rep_DEFEXPORT e\r\n"
      "                    WHERE e.Signature = d.Signature AND e.TABLENAME = t.TABLENAME)\r\nGO\r\n",
      "INSERT INTO rep_DEFIMPORT (Signature, TABLENAME, IgnoreRowGuidField, LISTORDER)\r\n"
      "  SELECT DISTINCT d.Signature, t.TABLENAME, 0, t.LISTORDER\r\n"
      "  FROM rep_DEFIMPORT d CROSS JOIN rep_TBLDESC t\r\n"
      "  WHERE NOT EXISTS (SELECT * FROM rep_DEFIMPORT e\r\n"
      "                    WHERE e.Signature = d.Signature AND e.TABLENAME = t.TABLENAME)\r\nGO\r\n",
      "USE MASTER\r\n"};
  std::size_t at = 0;
  for (const std::string& step : steps) {
    const std::size_t found = script.find(step, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << step;
    EXPECT_EQ(Count(script, step), 1u) << step;
    at = found + 1;
  }
  // Every set-up table takes its position in all three lists, and no two share one.
  std::vector<int> orders;
  for (const char* name : {"Orders", "OrderLines", "Pairs", "Devices", "Journal"}) {
    const int order = schema.ListOrder(name);
    orders.push_back(order);
    for (const char* table : {"rep_TBLDESC", "rep_DEFEXPORT", "rep_DEFIMPORT"}) {
      EXPECT_EQ(Count(script, fmt::format("UPDATE {} SET LISTORDER = {} WHERE TABLENAME = '{}'\r\n", table,
                                          order, name)),
                1u)
          << table << " " << name;
    }
  }
  std::sort(orders.begin(), orders.end());
  EXPECT_EQ(std::adjacent_find(orders.begin(), orders.end()), orders.end());
  EXPECT_LT(schema.ListOrder("Orders"), schema.ListOrder("OrderLines"));  // the master first
}

// A second run must neither fail on what the first created nor create it twice.
TEST(MssqlSetupScript, EveryGeneratedStatementIsGuarded) {
  UsersSchema schema;
  const auto lines = Lines(schema.Script(true));
  int columns = 0;
  int indexes = 0;
  int descriptions = 0;
  int triggers = 0;
  for (std::size_t i = 3; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.starts_with("  ALTER TABLE ") && line.find(" ADD ") != std::string::npos) {
      EXPECT_TRUE(lines[i - 1] == "if (@@rowcount=0) BEGIN" || lines[i - 1].starts_with("IF COL_LENGTH("))
          << line;
      ++columns;
    }
    if (line.starts_with("  CREATE ") && line.find("INDEX ") != std::string::npos) {
      std::string name = line.substr(line.find("INDEX ") + 6, line.find(" ON ") - line.find("INDEX ") - 6);
      if (name.starts_with('[')) name = name.substr(1, name.size() - 2);  // the literal has no brackets
      EXPECT_EQ(lines[i - 2], "IF NOT EXISTS (SELECT name FROM sysindexes") << line;
      EXPECT_NE(lines[i - 1].find("WHERE name = '" + name + "' AND id = OBJECT_ID("), std::string::npos)
          << line;
      ++indexes;
    }
    if (line.starts_with("   Insert into rep_TBLDESC") && !lines[i + 1].starts_with("   ('rep_DELETED'")) {
      const std::string value = lines[i + 1].substr(5, lines[i + 1].find("',") - 5);
      EXPECT_EQ(lines[i - 1],
                "IF NOT EXISTS (SELECT TABLENAME FROM rep_TBLDESC WHERE TABLENAME = '" + value + "')");
      ++descriptions;
    }
    if (line.starts_with("CREATE TRIGGER ")) {
      const std::string name = line.substr(15, line.find(" ON ") - 15);
      EXPECT_EQ(lines[i - 2], " DROP TRIGGER " + name);
      ++triggers;
    }
  }
  // Seven tables set up (Scratch and Tmp*/Log by their new column): four tracking columns each,
  // three RowGuid columns; indexes on the three new and two found RowGuid columns and on the two
  // foreign keys; an INSERT and a DELETE trigger each.
  EXPECT_EQ(columns, 4 * 7 + 3);
  EXPECT_EQ(indexes, 7);
  EXPECT_EQ(descriptions, 7);
  EXPECT_EQ(triggers, 7 + 7);
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
