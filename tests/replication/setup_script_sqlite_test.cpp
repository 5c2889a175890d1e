#include <gtest/gtest.h>

#include <algorithm>
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

  // The script run as a whole on a copy of the database gives the schema the statements give.
  dbaccess::Connection copy("Provider=SQLite;Data Source=" + folder_.path());
  copy.Open();
  copy.CreateDatabase("copy");
  copy.SetDefaultDatabase("copy");
  copy.Execute(kSchema);
  copy.Execute(text::Utf8ToAnsi(script));
  ApplySetup();
  EXPECT_EQ(SchemaDump(copy), SchemaDump(connection_));
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

}  // namespace
}  // namespace tamaril::replication
