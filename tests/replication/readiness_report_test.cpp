#include "replication/readiness_report.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dbaccess/connection.h"
#include "dbstruct/mssql/database_structure.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "mssql_scripted_backend.h"
#include "replication/readiness.h"
#include "replication/setup_script.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

using dataset::FieldType;

std::string Ansi(const char* utf8) { return text::Utf8ToAnsi(utf8); }

// Orders with a RowGuid, OrderLines linking an order to its line numbers by a two-column key,
// Notes with texts, Items with an integer key, Old (dropped after the setup), Archive on the
// ignore list, and a view.
constexpr const char* kSchema =
    "CREATE TABLE Orders (Code VARCHAR(10) NOT NULL PRIMARY KEY, RG UNIQUEIDENTIFIER ROWGUIDCOL);"
    "CREATE TABLE OrderLines (OrderCode VARCHAR(10) NOT NULL REFERENCES Orders (Code), No INT NOT NULL,"
    " Qty INT, PRIMARY KEY (OrderCode, No));"
    "CREATE TABLE Notes (Id INTEGER PRIMARY KEY, Body VARCHAR(200), Title VARCHAR(50), Raw);"
    "CREATE TABLE Items (Id INTEGER PRIMARY KEY, Name VARCHAR(20));"
    "CREATE TABLE Old (Id INTEGER PRIMARY KEY);"
    "CREATE TABLE Archive (Id INTEGER PRIMARY KEY, Memo TEXT);"
    "CREATE VIEW OrderCodes AS SELECT Code FROM Orders;"
    "INSERT INTO Orders VALUES ('A', '{11111111-1111-4111-8111-111111111111}'),"
    " ('B', '{22222222-2222-4222-8222-222222222222}'), ('C', '{33333333-3333-4333-8333-333333333333}');";

// Texts written with char() so that the statement text itself stays Windows-1250: Cyrillic
// (Привет, мир), a character outside the basic plane, Czech, and a byte block in a text column.
constexpr const char* kNoteRows =
    "INSERT INTO Notes (Id, Body, Title, Raw) VALUES (1, char(1055, 1088, 1080, 1074, 1077, 1090), 'plain', "
    "NULL);"
    "INSERT INTO Notes (Id, Body, Title, Raw) VALUES (2, 'x' || char(1084, 1080, 1088), char(381, 108, 117, "
    "357), 'plain');"
    "INSERT INTO Notes (Id, Body, Title, Raw) VALUES (3, char(128512), NULL, X'D09F');"
    "INSERT INTO Notes (Id, Body, Title, Raw) VALUES (4, char(268, 101, 115, 107, 253), char(1046), 7);"
    "INSERT INTO Notes (Id, Body, Title, Raw) VALUES (5, NULL, 'ok', char(8364));";

class SQLiteReport : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WriteWholeFile(folder_.File(kIgnoreListFile), "Archive\n");
    connection_.SetConnectionString("Provider=SQLite;Data Source=" + folder_.path());
    connection_.Open();
    connection_.CreateDatabase("shop");
    connection_.SetDefaultDatabase("shop");
    connection_.Execute(kSchema);
    ignore_ = ReadIgnoreList(folder_.path());
    Rescan();
    ApplySQLiteSetupScript(connection_, SQLiteSetupStatements(*structure_, ignore_));
    // After the setup: the RowGuid loses its index, Old is dropped (its rep_TBLDESC row stays),
    // Later is new, and a table gets a name the rep_ tables cannot hold.
    connection_.Execute("DROP INDEX IF EXISTS " + LookupIndexName("Orders", {"RG"}, true) +
                        "; DROP TABLE Old; CREATE TABLE Later (Id INTEGER PRIMARY KEY);"
                        " CREATE TABLE CustomerContactsHistory25 (Id INTEGER PRIMARY KEY);");
    connection_.Execute(kNoteRows);
    Rescan();
  }

  void Rescan() {
    structure_ = std::make_unique<dbstruct::tSQLiteDatabase_Structure>(&connection_);
    structure_->Scan();
  }

  std::vector<ReadinessNote> Report(bool import, bool with_data) {
    return ReadinessReport(*structure_, ignore_, {.import = import, .with_data = with_data});
  }

  // The notes on `table`, texts only.
  static std::vector<std::string> On(const std::vector<ReadinessNote>& notes, const std::string& table) {
    std::vector<std::string> texts;
    for (const ReadinessNote& note : notes) {
      if (note.table == table) texts.push_back(note.text);
    }
    return texts;
  }

  testing::TempDir folder_;
  dbaccess::Connection connection_;
  std::vector<std::string> ignore_;
  std::unique_ptr<dbstruct::tSQLiteDatabase_Structure> structure_;
};

const std::string kUnindexedRowGuid = Ansi(
    "chybí index pro vyhledání řádku podle RowGuid (sloupec RG): import pak pro každý řádek čte celou "
    "tabulku (řádků: 3); index vytvoří skript replikace");
const std::string kLinkTableOnExport = Ansi(
    "řádky nic neidentifikuje (nemá sloupec RowGuid ani celočíselný klíč): výmazy jejích řádků se "
    "nepřenesou, změny se párují jen podle primárního klíče a jedinečných indexů; sloupec RowGuid přidá "
    "setup-script --add-rowguid");
const std::string kNewTable = Ansi(
    "tabulka není v rep_TBLDESC (přibyla po založení replikace), a proto se nereplikuje; zařadí ji skript "
    "replikace");
const std::string kDroppedTable = Ansi(
    "tabulka už v databázi není, rep_TBLDESC ji však uvádí; skript replikace odstraní její pravidla a řádky "
    "protokolů");
const std::string kLongName = Ansi(
    "název je delší než 20 znaků, tabulky rep_ jej neudrží: tabulka se nereplikuje (ostatním tabulkám to "
    "nevadí)");

TEST_F(SQLiteReport, NamesWhatGoesWrongAndWhatTheSetupWouldChangeTableByTable) {
  const std::vector<ReadinessNote> notes = Report(false, false);
  EXPECT_EQ(On(notes, "Orders"), std::vector<std::string>{kUnindexedRowGuid});
  EXPECT_EQ(On(notes, "OrderLines"), std::vector<std::string>{kLinkTableOnExport});
  EXPECT_EQ(On(notes, "Later"), std::vector<std::string>{kNewTable});
  EXPECT_EQ(On(notes, "Old"), std::vector<std::string>{kDroppedTable});
  EXPECT_EQ(On(notes, "CustomerContactsHistory25"), std::vector<std::string>{kLongName});
  // Nothing on a sound table, the ignored one, the view or the rep_ tables; without the data
  // SQLite's text columns say nothing.
  EXPECT_EQ(notes.size(), 5U);
  // The rows of a dropped table are listed after the tables of the database.
  EXPECT_EQ(notes.back().table, "Old");

  // The database with the dropped table is not ready; the report does not depend on that.
  std::string missing;
  dbaccess::Connection master;
  EXPECT_FALSE(IsDatabaseReady(*structure_, false, missing, master, {}));
  EXPECT_EQ(missing, "Old");
}

TEST_F(SQLiteReport, AnImportLosesTheDeletionsOfTheSenderAndATableWithoutKeysItsUpdates) {
  connection_.Execute("CREATE TABLE Log (At VARCHAR(20), Text VARCHAR(200))");
  Rescan();
  const std::vector<ReadinessNote> notes = Report(true, false);
  EXPECT_EQ(
      On(notes, "OrderLines"),
      std::vector<std::string>{Ansi(
          "řádky nic neidentifikuje (nemá sloupec RowGuid ani celočíselný klíč): výmazy od odesílatele se v "
          "ní neprovedou, změny se párují jen podle primárního klíče a jedinečných indexů; sloupec RowGuid "
          "přidá setup-script --add-rowguid")});
  EXPECT_EQ(
      On(notes, "Log"),
      (std::vector<std::string>{
          kNewTable,
          Ansi(
              "řádky nic neidentifikuje (nemá sloupec RowGuid ani celočíselný klíč): výmazy od odesílatele "
              "se v "
              "ní neprovedou, změny nelze spárovat (nemá primární klíč ani jedinečný index); sloupec RowGuid "
              "přidá setup-script --add-rowguid")}));
}

TEST_F(SQLiteReport, WithTheDataCountsPerColumnTheTextsWindows1250CannotCarry) {
  const std::vector<ReadinessNote> notes = Report(false, true);
  // Body: Cyrillic twice and an emoji; Czech does not count. Title: one Cyrillic letter beside
  // Czech. Raw (no declared type): the byte block is no text, the euro sign is in Windows-1250.
  EXPECT_EQ(
      On(notes, "Notes"),
      (std::vector<std::string>{
          Ansi("sloupec Body obsahuje znaky, které kódování Windows-1250 nemá (hodnot: 3); při přenosu se "
               "změní na ?"),
          Ansi("sloupec Title obsahuje znaky, které kódování Windows-1250 nemá (hodnot: 1); při přenosu "
               "se změní na ?")}));
  EXPECT_EQ(notes.size(), 7U);
}

TEST_F(SQLiteReport, CountsTextsOfTablesAndColumnsWithQuotesInTheirNames) {
  connection_.Execute(
      "CREATE TABLE \"Bob's \"\"Notes\"\"\" (Id INTEGER PRIMARY KEY, \"it's \"\"it\"\"\" TEXT);"
      "INSERT INTO \"Bob's \"\"Notes\"\"\" VALUES (1, char(1046)), (2, char(1046)), (3, 'ok');");
  Rescan();
  const std::vector<std::string> notes = On(Report(false, true), "Bob's \"Notes\"");
  ASSERT_EQ(notes.size(), 2U);
  EXPECT_EQ(notes[0], kNewTable);
  EXPECT_EQ(notes[1],
            Ansi("sloupec it's \"it\" obsahuje znaky, které kódování Windows-1250 nemá (hodnot: 2); "
                 "při přenosu se změní na ?"));
}

TEST_F(SQLiteReport, WithoutRepTblDescListsWhatTheStructureShows) {
  connection_.Execute("DROP TABLE rep_TBLDESC");
  Rescan();
  const std::vector<ReadinessNote> notes = Report(false, true);
  EXPECT_EQ(On(notes, "Orders"), std::vector<std::string>{kUnindexedRowGuid});
  EXPECT_EQ(On(notes, "OrderLines"), std::vector<std::string>{kLinkTableOnExport});
  EXPECT_EQ(On(notes, "CustomerContactsHistory25"), std::vector<std::string>{kLongName});
  EXPECT_EQ(On(notes, "Notes").size(), 2U);
  // Without the list no table counts as new or dropped.
  EXPECT_TRUE(On(notes, "Later").empty());
  EXPECT_TRUE(On(notes, "Old").empty());
}

TEST_F(SQLiteReport, ChangesNothingInTheDatabase) {
  const auto changes = [this] {
    auto rows = connection_.Query("SELECT total_changes()");
    rows->Next();
    return rows->Get(0).AsInteger();
  };
  const std::int64_t before = changes();
  Report(true, true);
  EXPECT_EQ(changes(), before);
  EXPECT_FALSE(connection_.InTransaction());
}

TEST(ReadinessNotesText, PrintsTheNotesUnderTheirHeadingOrNothing) {
  EXPECT_EQ(FormatReadinessNotes({}), "");
  EXPECT_EQ(FormatReadinessNotes({{"Orders", "a"}, {"Lines", "b"}}),
            Ansi("Upozornění:\n  Orders: a\n  Lines: b\n"));
}

// A SQL Server with Customers (nvarchar and ntext columns beside varchar ones, integer key) and
// Codes (no text at all), both listed in rep_TBLDESC.
struct UnicodeServer : dbstruct::testing::ScriptedServer {
  UnicodeServer() {
    auto& b = *backend;
    b.tables = {"rep_TBLDESC", "Customers", "Codes"};
    b.columns["rep_TBLDESC"] = {Column("TABLENAME", FieldType::String, false)};
    b.columns["Customers"] = {Column("Id", FieldType::Integer, false),
                              Typed(Column("Name", FieldType::WideString, true), -9, "nvarchar"),
                              Typed(Column("Memo", FieldType::Memo, true), -10, "ntext"),
                              Typed(Column("Code", FieldType::String, true), 12, "varchar")};
    b.indexes["Customers"] = {{"PK_Customers", "Id", true, true}};
    b.columns["Codes"] = {Column("Id", FieldType::Integer, false)};
    b.indexes["Codes"] = {{"PK_Codes", "Id", true, true}};
    b.answers = {{"select @@LANGID", dbstruct::testing::Scalar(5)},
                 {"SELECT TABLENAME FROM rep_TBLDESC",
                  dbstruct::testing::MakeRows(
                      {{"TABLENAME", FieldType::String}},
                      {{dbaccess::Value::Text("Customers")}, {dbaccess::Value::Text("Codes")}})},
                 {"SELECT SUM(",
                  dbstruct::testing::MakeRows(
                      {{"", FieldType::Integer}, {"", FieldType::Integer}, {"", FieldType::Integer}},
                      {{dbaccess::Value::Integer(2), dbaccess::Value(), dbaccess::Value::Integer(0)}})}};
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

  static dbaccess::ColumnInfo Column(std::string name, FieldType type, bool nullable) {
    return dbstruct::testing::Column(std::move(name), type, nullable);
  }
  static dbaccess::ColumnInfo Typed(dbaccess::ColumnInfo column, int sql_type, std::string type_name) {
    column.sql_type = sql_type;
    column.type_name = std::move(type_name);
    return column;
  }

  // The counting queries sent.
  std::vector<std::string> Counts() const {
    std::vector<std::string> counts;
    for (const std::string& text : backend->Statements()) {
      if (text.starts_with("SELECT SUM(")) counts.push_back(text);
    }
    return counts;
  }

  std::unique_ptr<dbstruct::tADODatabase_Structure> structure;
};

TEST(MssqlReport, NamesTheUnicodeColumnsAndWithTheDataCountsTheirValuesOnTheServer) {
  UnicodeServer server;
  const std::vector<std::string> ignore = ParseIgnoreList("rep_TBLDESC");
  const std::vector<ReadinessNote> plain = ReadinessReport(*server.structure, ignore, {});
  const ReadinessNote unicode{"Customers",
                              Ansi("sloupce Name (nvarchar), Memo (ntext) mohou obsahovat znaky, "
                                   "které kódování Windows-1250 nemá; při přenosu se změní na ?")};
  EXPECT_EQ(plain, std::vector<ReadinessNote>{unicode});
  EXPECT_TRUE(server.Counts().empty());

  const std::vector<ReadinessNote> with_data =
      ReadinessReport(*server.structure, ignore, {.import = true, .with_data = true});
  EXPECT_EQ(with_data, (std::vector<ReadinessNote>{
                           unicode,
                           {"Customers", Ansi("sloupec Name obsahuje znaky, které kódování Windows-1250 nemá "
                                              "(hodnot: 2); při přenosu se změní na ?")}}));
  // One query for the three text columns of Customers; none for Codes, which has none.
  const std::vector<std::string> counts = server.Counts();
  ASSERT_EQ(counts.size(), 1U);
  EXPECT_NE(counts[0].find(" FROM Customers"), std::string::npos) << counts[0];
}

}  // namespace
}  // namespace tamaril::replication
