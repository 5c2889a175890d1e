#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "dbaccess/connection.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "engine_fixture.h"
#include "replication/readiness.h"
#include "replication/setup_script.h"
#include "support/expect_throw_msg.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

// Customers with a RowGuid and a text key, Items with an identity key and a foreign key to
// Customers, Lines with a two-column key and one tracking column already there, Archive on the
// ignore list, a table whose name has a quote and a blank, and a view.
constexpr const char* kSchema =
    "CREATE TABLE Customers (Code VARCHAR(10) NOT NULL PRIMARY KEY, RG UNIQUEIDENTIFIER ROWGUIDCOL,"
    " Name VARCHAR(40));"
    "CREATE TABLE Items (Id INTEGER IDENTITY(1,1) PRIMARY KEY, Customer VARCHAR(10) REFERENCES Customers "
    "(Code),"
    " Name VARCHAR(20));"
    "CREATE TABLE Lines (Item INT NOT NULL REFERENCES Items (Id), No INT NOT NULL, Qty INT,"
    " rep_Date_Inserted datetime, PRIMARY KEY (Item, No));"
    "CREATE TABLE Archive (Id INTEGER PRIMARY KEY, Memo TEXT);"
    "CREATE TABLE \"Bob's Orders\" (Id INTEGER PRIMARY KEY, Note TEXT);"
    "CREATE VIEW CustomerNames AS SELECT Code, Name FROM Customers;";

const std::regex kGuid(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\})");

std::string Ansi(const char* utf8) { return text::Utf8ToAnsi(utf8); }

// Every row of a query as "v1|v2|…" lines (NULL as "NULL").
std::string Rows(dbaccess::Connection& connection, const std::string& select) {
  std::string text;
  for (auto rows = connection.Query(select); rows->Next();) {
    for (std::size_t i = 0; i < rows->Columns().size(); ++i) {
      const dbaccess::Value value = rows->Get(i);
      text += (i ? "|" : "") + (value.IsNull() ? std::string("NULL") : value.AsString());
    }
    text += "\n";
  }
  return text;
}

std::string SchemaDump(dbaccess::Connection& connection) {
  return Rows(connection, "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY type, name");
}

void NoMaster(dbaccess::Connection&, std::string_view) { FAIL() << "SQLite has no master database"; }

class SQLiteSetup : public ::testing::Test {
 protected:
  void SetUp() override {
    connection_.SetConnectionString("Provider=SQLite;Data Source=" + folder_.path());
    connection_.Open();
    connection_.CreateDatabase("shop");
    connection_.SetDefaultDatabase("shop");
    connection_.Execute(kSchema);
    testing::WriteWholeFile(folder_.File("ignore.txt"), "archive\r\n\r\n");
    ignore_ = ReadIgnoreList(folder_.path());
  }

  // Scans the database and gives the statements that make it ready.
  std::vector<std::string> Statements() {
    structure_.Scan();
    return SQLiteSetupStatements(structure_, ignore_);
  }

  void ApplySetup() { ApplySQLiteSetupScript(connection_, Statements()); }

  std::string Scalar(const std::string& select) {
    const std::string rows = Rows(connection_, select);
    return rows.empty() ? rows : rows.substr(0, rows.size() - 1);
  }

  testing::TempDir folder_;
  dbaccess::Connection connection_;
  dbstruct::tSQLiteDatabase_Structure structure_{&connection_};
  std::vector<std::string> ignore_;
};

TEST_F(SQLiteSetup, MakesTheDatabaseReadyForExportAndImport) {
  ApplySetup();
  structure_.Scan();
  dbaccess::Connection master;
  EXPECT_NO_THROW(CheckDatabaseReady(structure_, false, "shop", master, NoMaster));
  EXPECT_NO_THROW(CheckDatabaseReady(structure_, true, "shop", master, NoMaster));

  // The scan reads the rep_ tables with their keys, types and links.
  const auto& deleted =
      static_cast<const dbstruct::tSQLiteTbl_Structure&>(*structure_.FindTable("rep_DELETED"));
  EXPECT_EQ(deleted.PrimaryKeyIndexName, "rep_DELETED_PK");
  EXPECT_EQ(deleted.IntKeyColumn, "SUCCNO");
  EXPECT_TRUE(
      structure_.FindTable("rep_IMPORTLOGDETAIL")->DependsOn(*structure_.FindTable("rep_IMPORTLOG"), true));
  EXPECT_TRUE(structure_.FindTable("rep_DEFEXPORT")->DependsOn(*structure_.FindTable("rep_TBLDESC"), true));
  EXPECT_EQ(
      Rows(connection_,
           "SELECT name, type, \"notnull\", dflt_value FROM pragma_table_info('rep_DEFIMPORT') ORDER BY cid"),
      "Signature|VARCHAR(10)|1|NULL\nTABLENAME|VARCHAR(20)|1|NULL\nIgnoreRowGuidField|bit|1|0\n"
      "AppendRule|TEXT|0|NULL\nUpdateRule|TEXT|0|NULL\nUpdateFieldRule|TEXT|0|NULL\n"
      "DeleteRule|TEXT|0|NULL\nLastImportDate|datetime|0|NULL\nLISTORDER|INT|1|NULL\n");

  // A user foreign key gets its ID and links the tables once read.
  connection_.Execute(
      "INSERT INTO rep_USERFK (PK_TableName, FK_TableName, ConstraintName, PK_Field, FK_Field)"
      " VALUES ('Customers', 'Bob''s Orders', 'UFK_Bob', 'Code', 'Note')");
  EXPECT_EQ(Scalar("SELECT ID FROM rep_USERFK"), "1");
  structure_.Scan();
  dbstruct::LoadUserForeignKeys(structure_);
  EXPECT_TRUE(structure_.FindTable("Bob's Orders")->DependsOn(*structure_.FindTable("Customers"), true));
}

TEST_F(SQLiteSetup, ApplyingAgainAfterARescanChangesNothing) {
  ApplySetup();
  const std::string schema = SchemaDump(connection_);
  connection_.Execute(Ansi("UPDATE rep_TBLDESC SET TABLEDESC = 'Zákazníci' WHERE TABLENAME = 'Customers'"));
  const std::string descriptions = Rows(connection_, "SELECT * FROM rep_TBLDESC ORDER BY TABLENAME");

  const std::vector<std::string> again = Statements();
  EXPECT_TRUE(std::none_of(again.begin(), again.end(),
                           [](const std::string& s) { return s.rfind("ALTER TABLE", 0) == 0; }));
  ApplySQLiteSetupScript(connection_, again);
  EXPECT_EQ(SchemaDump(connection_), schema);
  EXPECT_EQ(Rows(connection_, "SELECT * FROM rep_TBLDESC ORDER BY TABLENAME"), descriptions);
}

TEST_F(SQLiteSetup, DescribesEveryTableButTheIgnoredOnesAndViews) {
  ApplySetup();
  // LISTORDER is the scanned position plus one: Archive, scanned first, leaves number 1 unused.
  EXPECT_EQ(Rows(connection_, "SELECT TABLENAME, TABLEDESC, LISTORDER FROM rep_TBLDESC ORDER BY LISTORDER"),
            Ansi("rep_DELETED|Tabulka s identifikací vymazaných záznamů|0\n"
                 "Bob's Orders|Popis tabulky Bob's Orders|2\n"
                 "Customers|Popis tabulky Customers|3\n"
                 "Items|Popis tabulky Items|4\n"
                 "Lines|Popis tabulky Lines|5\n"));

  for (const char* object : {"Archive", "CustomerNames"}) {
    SCOPED_TRACE(object);
    EXPECT_EQ(
        Scalar(std::string("SELECT COUNT(*) FROM sqlite_master WHERE type = 'trigger' AND tbl_name = '") +
               object + "'"),
        "0");
    EXPECT_EQ(Scalar(std::string("SELECT COUNT(*) FROM pragma_table_info('") + object +
                     "') WHERE name LIKE 'rep\\_%' ESCAPE '\\'"),
              "0");
  }
  // Only the missing tracking columns were added, the existing one kept its place.
  EXPECT_EQ(Rows(connection_, "SELECT name, type FROM pragma_table_info('Lines') ORDER BY cid"),
            "Item|INT\nNo|INT\nQty|INT\nrep_Date_Inserted|datetime\nrep_Signature_Inserted|varchar(10)\n"
            "rep_Date_Updated|datetime\nrep_Signature_Updated|varchar(10)\n");
  // Lines has neither RowGuid nor a single integer key: no DELETE trigger, only the INSERT trigger.
  EXPECT_EQ(Rows(connection_, "SELECT name FROM sqlite_master WHERE type = 'trigger' AND tbl_name = 'Lines'"),
            "rep_tr_Ins_Lines\n");
}

TEST_F(SQLiteSetup, NewRowsGetTheirRowGuidAndIdentityAndNoTrackingValues) {
  ApplySetup();
  connection_.Execute(
      "INSERT INTO Customers (Code, Name) VALUES ('A', 'Alfa'), ('B', 'Beta');"
      "INSERT INTO Customers (Code, RG, Name) VALUES ('C', '{0000000C-0000-4000-8000-00000000000C}', 'Kept');"
      "INSERT INTO Items (Customer, Name, rep_Date_Inserted, rep_Signature_Inserted) VALUES"
      " ('A', 'one', '2026-01-01', 'CLIENT'), ('B', 'two', NULL, NULL);"
      "INSERT INTO Items (Id, Name) VALUES (10, 'ten');"
      "INSERT INTO Items (Name) VALUES ('eleven');");
  const std::string a = Scalar("SELECT RG FROM Customers WHERE Code = 'A'");
  const std::string b = Scalar("SELECT RG FROM Customers WHERE Code = 'B'");
  EXPECT_TRUE(std::regex_match(a, kGuid)) << a;
  EXPECT_TRUE(std::regex_match(b, kGuid)) << b;
  EXPECT_NE(a, b);
  EXPECT_EQ(Scalar("SELECT RG FROM Customers WHERE Code = 'C'"), "{0000000C-0000-4000-8000-00000000000C}");
  EXPECT_EQ(Rows(connection_,
                 "SELECT Id, Name, rep_Date_Inserted, rep_Signature_Inserted, rep_Date_Updated,"
                 " rep_Signature_Updated FROM Items ORDER BY Id"),
            "1|one|NULL|NULL|NULL|NULL\n2|two|NULL|NULL|NULL|NULL\n10|ten|NULL|NULL|NULL|NULL\n"
            "11|eleven|NULL|NULL|NULL|NULL\n");
}

TEST_F(SQLiteSetup, TriggersOfATableWithoutRowidFindTheRowByItsKey) {
  connection_.Execute(
      "CREATE TABLE Rates (Code VARCHAR(3) NOT NULL, RG UNIQUEIDENTIFIER ROWGUIDCOL, Rate REAL,"
      " PRIMARY KEY (Code)) WITHOUT ROWID");
  ApplySetup();
  connection_.Execute(
      "INSERT INTO Rates (Code, Rate, rep_Signature_Updated) VALUES ('EUR', 25.1, 'X'), ('USD', 22.9, 'Y')");
  EXPECT_TRUE(std::regex_match(Scalar("SELECT RG FROM Rates WHERE Code = 'EUR'"), kGuid));
  EXPECT_EQ(Scalar("SELECT COUNT(DISTINCT RG) || ' ' || COUNT(rep_Signature_Updated) FROM Rates"), "2 0");
  connection_.Execute("DELETE FROM Rates WHERE Code = 'USD'");
  EXPECT_EQ(Scalar("SELECT TABLENAME FROM rep_DELETED"), "Rates");
}

TEST_F(SQLiteSetup, DeletedRowsAreRecordedInDeletionOrderAndNumbersAreNeverReused) {
  ApplySetup();
  connection_.Execute(
      "INSERT INTO Customers (Code) VALUES ('A'), ('B');"
      "INSERT INTO Items (Name) VALUES ('one'), ('two');"
      "INSERT INTO Lines (Item, No) VALUES (1, 1);"
      "INSERT INTO \"Bob's Orders\" (Id, Note) VALUES (7, 'x');"
      "INSERT INTO Archive (Id, Memo) VALUES (1, 'ignored');");
  const std::string a = Scalar("SELECT RG FROM Customers WHERE Code = 'A'");
  connection_.Execute(
      "DELETE FROM Lines; DELETE FROM Items WHERE Id = 2; DELETE FROM Customers WHERE Code = 'A';"
      "DELETE FROM \"Bob's Orders\"; DELETE FROM Archive; DELETE FROM Items WHERE Id = 1;");
  EXPECT_EQ(
      Rows(connection_, "SELECT SUCCNO, TABLENAME, RECORDGUID, RECORDID FROM rep_DELETED ORDER BY SUCCNO"),
      "1|Items|NULL|2\n2|Customers|" + a + "|NULL\n3|Bob's Orders|NULL|7\n4|Items|NULL|1\n");
  EXPECT_TRUE(std::regex_match(Scalar("SELECT MIN(DELTIME) FROM rep_DELETED"),
                               std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})")));

  // The export empties the table; the next deletion still gets a higher number.
  connection_.Execute("DELETE FROM rep_DELETED; DELETE FROM Customers WHERE Code = 'B'");
  EXPECT_EQ(Scalar("SELECT SUCCNO || ' ' || TABLENAME FROM rep_DELETED"), "5 Customers");
}

TEST_F(SQLiteSetup, AFailingStatementLeavesTheDatabaseAsItWas) {
  const std::string before = SchemaDump(connection_);
  std::vector<std::string> statements = Statements();
  statements.push_back("INSERT INTO Missing VALUES (1)");
  EXPECT_THROW_MSG(ApplySQLiteSetupScript(connection_, statements), dbaccess::DatabaseError,
                   "no such table: Missing");
  EXPECT_FALSE(connection_.InTransaction());
  EXPECT_EQ(SchemaDump(connection_), before);

  // Statements made before the tracking columns were added cannot run twice: nothing of them stays.
  statements.pop_back();
  ApplySQLiteSetupScript(connection_, statements);
  const std::string ready = SchemaDump(connection_);
  connection_.Execute("INSERT INTO Customers (Code) VALUES ('A')");
  EXPECT_THROW_MSG(ApplySQLiteSetupScript(connection_, statements), dbaccess::DatabaseError,
                   "duplicate column name: rep_Date_Inserted");
  EXPECT_EQ(SchemaDump(connection_), ready);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Customers"), "1");
}

TEST_F(SQLiteSetup, TheScriptFileDoesWhatTheStatementsDo) {
  structure_.Scan();
  const std::string file = folder_.File("hint.sql");
  GenerateSetupScript(structure_, ignore_, file);
  const std::string script = testing::ReadWholeFile(file);
  EXPECT_EQ(script.rfind("-- Kostra skriptu pro založení replikačních objektů databáze SQLite.\n", 0), 0u);
  EXPECT_NE(script.find("Po změně struktury databáze skript vytvořte znovu."), std::string::npos);
  EXPECT_NE(script.find("\nBEGIN TRANSACTION;\n"), std::string::npos);
  EXPECT_NE(script.find("'Tabulka s identifikací vymazaných záznamů', 0"), std::string::npos);
  EXPECT_EQ(script.find('\r'), std::string::npos);
  EXPECT_EQ(script.substr(script.size() - 9), "\nCOMMIT;\n");

  // The script run by the sqlite3 shell on a copy of the database gives the schema the statements
  // give, and it runs again without failing and without changing anything.
  dbaccess::Connection copy("Provider=SQLite;Data Source=" + folder_.path());
  copy.Open();
  copy.CreateDatabase("copy");
  copy.SetDefaultDatabase("copy");
  copy.Execute(kSchema);
  copy.Close();
  const std::string shell = "cd '" + folder_.path() + "' && sqlite3 -bail copy.db < hint.sql";
  ASSERT_EQ(std::system(shell.c_str()), 0);
  copy.Open();
  copy.SetDefaultDatabase("copy");
  ApplySetup();
  EXPECT_EQ(SchemaDump(copy), SchemaDump(connection_));
  copy.Close();
  ASSERT_EQ(std::system(shell.c_str()), 0);
  copy.Open();
  copy.SetDefaultDatabase("copy");
  EXPECT_EQ(SchemaDump(copy), SchemaDump(connection_));
}

TEST_F(SQLiteSetup, LookupsTheImportMakesPerRowGetAnIndexUnlessOneServesThem) {
  connection_.Execute("CREATE INDEX Lines_Qty ON Lines (Qty)");
  ApplySetup();
  // The RowGuid of Customers is unique; the foreign key of Items gets an index; the key of Lines
  // begins with its foreign key column, so it serves the lookup already.
  EXPECT_EQ(Rows(connection_,
                 "SELECT name, tbl_name, sql FROM sqlite_master WHERE type = 'index' AND name LIKE 'rep\\_%' "
                 "ESCAPE '\\' AND tbl_name NOT LIKE 'rep\\_%' ESCAPE '\\' ORDER BY name"),
            "rep_ix_Items_Customer|Items|CREATE INDEX \"rep_ix_Items_Customer\" ON \"Items\" (\"Customer\")\n"
            "rep_ux_Customers_RG|Customers|CREATE UNIQUE INDEX \"rep_ux_Customers_RG\" ON \"Customers\" "
            "(\"RG\")\n");
  // The lookup by RowGuid now searches the index instead of reading the table.
  EXPECT_NE(Rows(connection_, "EXPLAIN QUERY PLAN SELECT * FROM Customers WHERE RG = 'x'")
                .find("rep_ux_Customers_RG"),
            std::string::npos);
  structure_.Scan();
  EXPECT_TRUE(MissingLookupIndexes(structure_, ignore_).empty());
}

TEST_F(SQLiteSetup, ASecondSetupFollowsTheTablesAddedDroppedAndTooLongToName) {
  ApplySetup();
  // A definition made at the first setup has a rule row for every table then described.
  connection_.Execute(
      "INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule, LISTORDER) "
      "SELECT 'S1', TABLENAME, 'ANO', LISTORDER FROM rep_TBLDESC;"
      "INSERT INTO rep_XPORTLOG (Signature, EXPORTNO, EXPORTDATE) VALUES ('S1', 1, '2026-01-01');"
      "INSERT INTO rep_XPORTLOGDETAIL (Signature, EXPORTNO, TABLENAME, COUNTRECORDS) "
      "VALUES ('S1', 1, 'Bob''s Orders', 3), ('S1', 1, 'Items', 4);");
  connection_.Execute(
      "DROP TABLE \"Bob's Orders\";"
      "CREATE TABLE Late (Id INTEGER PRIMARY KEY, Customer VARCHAR(10) REFERENCES Customers (Code));"
      "CREATE TABLE A_Name_Of_25_Characters_ (Id INTEGER PRIMARY KEY)");
  structure_.Scan();
  const std::string script = SQLiteSetupScript(structure_, ignore_);
  EXPECT_NE(
      script.find("-- A_Name_Of_25_Characters_: název je delší než 20 znaků, které pojmou tabulky rep_"),
      std::string::npos);
  ApplySetup();

  // Every described table has its own place in the master-first order, and the new one is there.
  const std::string orders =
      Rows(connection_, "SELECT TABLENAME, LISTORDER FROM rep_TBLDESC ORDER BY LISTORDER");
  EXPECT_EQ(Scalar("SELECT COUNT(*) - COUNT(DISTINCT LISTORDER) FROM rep_TBLDESC"), "0") << orders;
  EXPECT_LT(std::stoi(Scalar("SELECT LISTORDER FROM rep_TBLDESC WHERE TABLENAME = 'Customers'")),
            std::stoi(Scalar("SELECT LISTORDER FROM rep_TBLDESC WHERE TABLENAME = 'Late'")));
  // The existing definition gets a row for the new table with no rule: nothing travels unasked.
  EXPECT_EQ(Rows(connection_,
                 "SELECT Signature, ExportRule, LISTORDER = (SELECT LISTORDER FROM rep_TBLDESC "
                 "WHERE TABLENAME = 'Late') FROM rep_DEFEXPORT WHERE TABLENAME = 'Late'"),
            "S1|NULL|1\n");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM rep_DEFEXPORT WHERE ExportRule = 'ANO'"), "4");
  // The dropped table is gone from every list; the long name never entered one.
  for (const char* table : {"rep_TBLDESC", "rep_DEFEXPORT", "rep_XPORTLOGDETAIL"}) {
    SCOPED_TRACE(table);
    EXPECT_EQ(Scalar(std::string("SELECT group_concat(TABLENAME) FROM ") + table +
                     " WHERE TABLENAME LIKE 'Bob%' OR TABLENAME LIKE 'A\\_Name%' ESCAPE '\\'"),
              "NULL");
  }
  EXPECT_EQ(Scalar("SELECT COUNTRECORDS FROM rep_XPORTLOGDETAIL WHERE TABLENAME = 'Items'"), "4");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM sqlite_master WHERE tbl_name = 'A_Name_Of_25_Characters_' AND "
                   "type = 'trigger'"),
            "0");
  structure_.Scan();
  dbaccess::Connection master;
  EXPECT_NO_THROW(CheckDatabaseReady(structure_, false, "shop", master, NoMaster));
}

TEST_F(SQLiteSetup, AddedRowGuidIdentifiesTheRowsOfATableWithoutASingleKey) {
  connection_.Execute(
      "INSERT INTO Items (Id, Name) VALUES (1, 'one'), (2, 'two');"
      "INSERT INTO Lines (Item, No, Qty) VALUES (1, 1, 5), (1, 2, 6)");
  structure_.Scan();
  SetupOptions options;
  options.add_rowguid = true;
  ApplySQLiteSetupScript(connection_, SQLiteSetupStatements(structure_, ignore_, options));
  structure_.Scan();
  const dbstruct::tTbl_Structure& lines = *structure_.FindTable("Lines");
  EXPECT_TRUE(lines.Identifiable);
  // Tables identified already, views and ignored tables get no such column.
  EXPECT_EQ(Scalar("SELECT group_concat(m.name) FROM sqlite_master m, pragma_table_info(m.name) c "
                   "WHERE c.name = 'rep_RowGuid'"),
            "Lines");
  // The rows there and new rows get distinct GUIDs, and a deletion is recorded with the GUID.
  connection_.Execute("INSERT INTO Lines (Item, No, Qty) VALUES (2, 1, 7)");
  EXPECT_EQ(Scalar("SELECT COUNT(DISTINCT rep_RowGuid) FROM Lines"), "3");
  EXPECT_TRUE(std::regex_match(Scalar("SELECT rep_RowGuid FROM Lines WHERE No = 2"), kGuid));
  const std::string guid = Scalar("SELECT rep_RowGuid FROM Lines WHERE Item = 1 AND No = 2");
  connection_.Execute("DELETE FROM Lines WHERE Item = 1 AND No = 2");
  EXPECT_EQ(Rows(connection_, "SELECT TABLENAME, RECORDGUID FROM rep_DELETED"), "Lines|" + guid + "\n");
  // Applied again, nothing changes.
  const std::string schema = SchemaDump(connection_);
  ApplySQLiteSetupScript(connection_, SQLiteSetupStatements(structure_, ignore_, options));
  EXPECT_EQ(SchemaDump(connection_), schema);
}

// The objects of the script on both sides of a transfer: the client's rows arrive with their
// RowGuid and id, its deleted rows delete the center's rows, and the merge leaves the center's
// triggers as they were.
class SQLiteSetupTransfer : public fixtures::EngineTest {};

TEST_F(SQLiteSetupTransfer, DeletionsTravelAndTheMergeKeepsTheTriggers) {
  ExecuteBoth(kSchema);
  ScanBoth();
  const std::vector<std::string> ignore = ReadIgnoreList(folder_.path());
  ApplySQLiteSetupScript(client_, SQLiteSetupStatements(client_structure_, ignore));
  ApplySQLiteSetupScript(center_, SQLiteSetupStatements(center_structure_, ignore));
  client_.Execute(
      "INSERT INTO Customers (Code) VALUES ('A'), ('B'); INSERT INTO Items (Name) VALUES ('one')");
  ScanBoth();
  fixtures::MergeLog log;
  ASSERT_TRUE(Merge(Publish({"Customers", "Items"}), log));
  EXPECT_EQ(Rows(center_, "SELECT Code, RG FROM Customers ORDER BY Code"),
            Rows(client_, "SELECT Code, RG FROM Customers ORDER BY Code"));
  EXPECT_EQ(Rows(center_, "SELECT Id, Name FROM Items"), "1|one\n");
  const std::string center_schema = SchemaDump(center_);

  client_.Execute("DELETE FROM Customers WHERE Code = 'A'; DELETE FROM Items");
  log = {};
  ASSERT_TRUE(Merge(Publish({"Customers"}, "rep_DELETED"), log));
  EXPECT_EQ(log.Joined(), "delete Customers 1; delete Items 1; duplicate Customers");
  EXPECT_EQ(Rows(center_, "SELECT Code FROM Customers"), "B\n");
  // Deletions arriving run with the triggers on: the center records them to pass them on.
  EXPECT_EQ(Rows(center_, "SELECT TABLENAME, RECORDGUID, RECORDID FROM rep_DELETED ORDER BY SUCCNO"),
            Rows(client_, "SELECT TABLENAME, RECORDGUID, RECORDID FROM rep_DELETED ORDER BY SUCCNO"));
  EXPECT_EQ(SchemaDump(center_), center_schema);
}

TEST_F(SQLiteSetupTransfer, DeletionsOfALinkTableWithAnAddedRowGuidTravel) {
  ExecuteBoth(kSchema);
  ScanBoth();
  const std::vector<std::string> ignore = ReadIgnoreList(folder_.path());
  SetupOptions options;
  options.add_rowguid = true;
  ApplySQLiteSetupScript(client_, SQLiteSetupStatements(client_structure_, ignore, options));
  ApplySQLiteSetupScript(center_, SQLiteSetupStatements(center_structure_, ignore, options));
  client_.Execute(
      "INSERT INTO Items (Name) VALUES ('one');"
      "INSERT INTO Lines (Item, No, Qty) VALUES (1, 1, 5), (1, 2, 6), (1, 3, 7)");
  ScanBoth();
  fixtures::MergeLog log;
  ASSERT_TRUE(Merge(Publish({"Items", "Lines"}), log));
  EXPECT_EQ(Rows(center_, "SELECT Item, No, rep_RowGuid FROM Lines ORDER BY No"),
            Rows(client_, "SELECT Item, No, rep_RowGuid FROM Lines ORDER BY No"));

  client_.Execute("DELETE FROM Lines WHERE No IN (1, 3)");
  log = {};
  ASSERT_TRUE(Merge(Publish({"Lines"}, "rep_DELETED"), log));
  EXPECT_EQ(Rows(center_, "SELECT Item, No, Qty FROM Lines"), "1|2|6\n");
}

}  // namespace
}  // namespace tamaril::replication
