#include "replication/readiness.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "core/login_cache.h"
#include "dbaccess/connection.h"
#include "dbstruct/mssql/database_structure.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "dbstruct/structure_cache.h"
#include "mssql_scripted_backend.h"
#include "replication/database_open.h"
#include "replication/errors.h"
#include "support/expect_throw_msg.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

using dataset::FieldType;
using dbaccess::Value;

// The rep_ tables of both sides, the tracking columns and triggers on three tables: Orders with a
// RowGuid, Items with an integer key, Lines with a two-column key (no DELETE trigger needed).
constexpr const char* kReadySchema = R"sql(
CREATE TABLE rep_USERFK (PK_Table varchar(50), PK_Field varchar(50), FK_Table varchar(50), FK_Field varchar(50));
CREATE TABLE rep_DELETED (SUCCNO integer PRIMARY KEY, TABLENAME varchar(50), RECORDGUID varchar(38), RECORDID int);
CREATE TABLE rep_TBLDESC (TABLENAME varchar(50) PRIMARY KEY, LISTORDER int, DESCRIPTION varchar(50));
CREATE TABLE rep_DEFEXPORT (Signature varchar(10), TABLENAME varchar(50), PRIMARY KEY (Signature, TABLENAME));
CREATE TABLE rep_XPORTLOG (LOGNO integer PRIMARY KEY, Signature varchar(10));
CREATE TABLE rep_XPORTLOGDETAIL (LOGNO int, TABLENAME varchar(50), PRIMARY KEY (LOGNO, TABLENAME));
CREATE TABLE rep_DEFIMPORT (Signature varchar(10), TABLENAME varchar(50), PRIMARY KEY (Signature, TABLENAME));
CREATE TABLE rep_IMPORTLOG (LOGNO integer PRIMARY KEY, Signature varchar(10));
CREATE TABLE rep_IMPORTLOGDETAIL (LOGNO int, TABLENAME varchar(50), PRIMARY KEY (LOGNO, TABLENAME));
CREATE TABLE Orders (RG UNIQUEIDENTIFIER ROWGUIDCOL, Code varchar(10) PRIMARY KEY,
  rep_Date_Inserted datetime, rep_Signature_Inserted varchar(10),
  rep_Date_Updated datetime, rep_Signature_Updated varchar(10));
CREATE TABLE Items (Id integer PRIMARY KEY, Name varchar(20),
  rep_Date_Inserted datetime, rep_Signature_Inserted varchar(10),
  rep_Date_Updated datetime, rep_Signature_Updated varchar(10));
CREATE TABLE Lines (OrderCode varchar(10), No int, Qty int,
  rep_Date_Inserted datetime, rep_Signature_Inserted varchar(10),
  rep_Date_Updated datetime, rep_Signature_Updated varchar(10), PRIMARY KEY (OrderCode, No));
CREATE TRIGGER rep_tr_Del_Orders AFTER DELETE ON Orders BEGIN
  INSERT INTO rep_DELETED (TABLENAME, RECORDGUID) VALUES ('Orders', old.RG); END;
CREATE TRIGGER rep_tr_Ins_Orders AFTER INSERT ON Orders BEGIN SELECT 1; END;
CREATE TRIGGER rep_tr_Del_Items AFTER DELETE ON Items BEGIN
  INSERT INTO rep_DELETED (TABLENAME, RECORDID) VALUES ('Items', old.Id); END;
CREATE TRIGGER rep_tr_Ins_Items AFTER INSERT ON Items BEGIN SELECT 1; END;
CREATE TRIGGER rep_tr_Ins_Lines AFTER INSERT ON Lines BEGIN SELECT 1; END;
INSERT INTO rep_TBLDESC VALUES ('rep_DELETED', 0, 'Deleted rows');
INSERT INTO rep_TBLDESC VALUES ('Orders', 1, 'Orders');
INSERT INTO rep_TBLDESC VALUES ('Items', 2, 'Items');
INSERT INTO rep_TBLDESC VALUES ('Lines', 3, 'Lines');
)sql";

class SQLiteReadiness : public ::testing::Test {
 protected:
  void SetUp() override {
    connection_.SetConnectionString("Provider=SQLite;Data Source=" + folder_.path());
    connection_.Open();
    connection_.CreateDatabase("shop");
    connection_.SetDefaultDatabase("shop");
    connection_.Execute(kReadySchema);
  }

  // The answer on a freshly scanned structure; `missing_` gets the missing object.
  bool Ready(bool import) {
    dbstruct::tSQLiteDatabase_Structure structure(&connection_);
    structure.Scan();
    dbaccess::Connection master;
    return IsDatabaseReady(structure, import, missing_, master, NoMaster);
  }

  static void NoMaster(dbaccess::Connection&, std::string_view) { FAIL() << "SQLite has no master database"; }

  std::string Backup() const { return (std::filesystem::path(folder_.path()) / "backup").string(); }

  testing::TempDir folder_;
  dbaccess::Connection connection_;
  std::string missing_ = "stale";
};

TEST_F(SQLiteReadiness, CompleteDatabaseIsReadyForBothSidesAndGetsItsBackupFolder) {
  EXPECT_TRUE(Ready(false));
  EXPECT_EQ(missing_, "");
  EXPECT_FALSE(std::filesystem::exists(Backup()));
  EXPECT_TRUE(Ready(true));
  EXPECT_EQ(missing_, "");
  EXPECT_TRUE(std::filesystem::is_directory(Backup()));
  // Only the probe's own file was written and it is gone again.
  EXPECT_TRUE(std::filesystem::is_empty(Backup()));
}

TEST_F(SQLiteReadiness, TablesOfTheOtherSideAreNotNeeded) {
  connection_.Execute("DROP TABLE rep_DEFIMPORT");
  EXPECT_TRUE(Ready(false));
  EXPECT_FALSE(Ready(true));
  EXPECT_EQ(missing_, "rep_DEFIMPORT");

  connection_.Execute("DROP TABLE rep_XPORTLOGDETAIL");
  EXPECT_FALSE(Ready(false));
  EXPECT_EQ(missing_, "rep_XPORTLOGDETAIL");
}

TEST_F(SQLiteReadiness, CommonTablesAreCheckedFirstInOrder) {
  connection_.Execute("DROP TABLE rep_TBLDESC; DROP TABLE rep_DELETED; DROP TABLE rep_DEFEXPORT");
  EXPECT_FALSE(Ready(false));
  EXPECT_EQ(missing_, "rep_DELETED");
}

TEST_F(SQLiteReadiness, NamesTheFirstMissingTrackingColumnWithItsTable) {
  connection_.Execute("ALTER TABLE Items DROP COLUMN rep_Signature_Updated");
  EXPECT_FALSE(Ready(false));
  EXPECT_EQ(missing_, "Items.rep_Signature_Updated");
  connection_.Execute("ALTER TABLE Items DROP COLUMN rep_Date_Inserted");
  EXPECT_FALSE(Ready(true));
  EXPECT_EQ(missing_, "Items.rep_Date_Inserted");
}

TEST_F(SQLiteReadiness, NamesAListedTableThatDoesNotExist) {
  connection_.Execute("INSERT INTO rep_TBLDESC VALUES ('Gone', 4, 'Gone')");
  EXPECT_FALSE(Ready(false));
  EXPECT_EQ(missing_, "Gone");
}

TEST_F(SQLiteReadiness, TriggersDependOnHowRowsAreIdentified) {
  // Lines has no RowGuid and no single integer key: no DELETE trigger is asked for.
  EXPECT_TRUE(Ready(false));
  connection_.Execute("DROP TRIGGER rep_tr_Ins_Lines");
  EXPECT_FALSE(Ready(false));
  EXPECT_EQ(missing_, "Lines.rep_tr_Ins_Lines");

  connection_.Execute("CREATE TRIGGER rep_tr_Ins_Lines AFTER INSERT ON Lines BEGIN SELECT 1; END");
  connection_.Execute("DROP TRIGGER rep_tr_Del_Orders");
  EXPECT_FALSE(Ready(false));
  EXPECT_EQ(missing_, "Orders.rep_tr_Del_Orders");

  // A trigger of that name firing on another event does not count.
  connection_.Execute("CREATE TRIGGER rep_tr_Del_Orders AFTER UPDATE ON Orders BEGIN SELECT 1; END");
  EXPECT_FALSE(Ready(false));
  EXPECT_EQ(missing_, "Orders.rep_tr_Del_Orders");
}

TEST_F(SQLiteReadiness, TheDeletedRowsEntryNeedsNoTrackingColumnsOrTriggers) {
  connection_.Execute("UPDATE rep_TBLDESC SET TABLENAME = 'REP_deleted' WHERE TABLENAME = 'rep_DELETED'");
  EXPECT_TRUE(Ready(true));
}

// The check says what is wrong with the folder rather than that it was not found.
TEST_F(SQLiteReadiness, ImportNeedsAWritableBackupFolder) {
  const auto check = [this] {
    dbstruct::tSQLiteDatabase_Structure structure(&connection_);
    structure.Scan();
    dbaccess::Connection master;
    CheckDatabaseReady(structure, true, "shop", master, NoMaster);
  };
  // A file where the folder should be.
  testing::WriteWholeFile(Backup(), "not a folder");
  EXPECT_FALSE(Ready(true));
  EXPECT_EQ(missing_, Backup());
  EXPECT_TRUE(Ready(false));
  EXPECT_THROW_MSG(check(), DatabaseNotReadyError,
                   text::Utf8ToAnsi("Databáze shop není připravena k replikaci\rSložku záloh \"" + Backup() +
                                    "\" nelze vytvořit."));

  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  std::filesystem::remove(Backup());
  std::filesystem::create_directory(Backup());
  ::chmod(Backup().c_str(), 0500);
  EXPECT_FALSE(Ready(true));
  EXPECT_EQ(missing_, Backup());
  EXPECT_THROW_MSG(check(), DatabaseNotReadyError,
                   text::Utf8ToAnsi("Databáze shop není připravena k replikaci\rDo složky záloh \"" +
                                    Backup() + "\" nelze zapisovat."));
  ::chmod(Backup().c_str(), 0700);
}

TEST_F(SQLiteReadiness, CheckRaisesTheMessageWithCarriageReturnAndQuotes) {
  connection_.Execute("DROP TABLE rep_IMPORTLOG");
  dbstruct::tSQLiteDatabase_Structure structure(&connection_);
  structure.Scan();
  dbaccess::Connection master;
  EXPECT_NO_THROW(CheckDatabaseReady(structure, false, "shop", master, NoMaster));
  EXPECT_THROW_MSG(
      CheckDatabaseReady(structure, true, "shop", master, NoMaster), DatabaseNotReadyError,
      text::Utf8ToAnsi("Databáze shop není připravena k replikaci\r\"rep_IMPORTLOG\" nenalezeno."));
}

// SQLite connections never ask for a login.
struct NoLogin : core::LoginPrompt {
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override {
    ADD_FAILURE() << "a login was asked for";
    return false;
  }
};

TEST_F(SQLiteReadiness, OpeningScansOnceKeepsTheUserLinksAndChecksEveryTime) {
  connection_.Execute(
      "DROP TABLE rep_USERFK; CREATE TABLE rep_USERFK (PK_TableName varchar(50), FK_TableName varchar(50), "
      "ConstraintName varchar(50), PK_Field varchar(50), FK_Field varchar(50)); "
      "INSERT INTO rep_USERFK VALUES ('Orders', 'Lines', 'UFK_Lines_Orders', 'Code', 'OrderCode'); "
      "DROP TRIGGER rep_tr_Ins_Lines");
  const std::string connection_string = "Provider=SQLite;Data Source=" + folder_.path();
  NoLogin prompt;
  core::LoginCache logins(prompt);
  dbaccess::Connection main;
  dbaccess::Connection master;
  dbstruct::tDBStructureCache cache;
  const tDatabaseAccess access{logins, main, master, cache};
  int progress_calls = 0;
  auto progress = [&](dbstruct::tDatabase_Structure&, int, const std::string&, int) { ++progress_calls; };

  EXPECT_THROW_MSG(
      OpenDatabaseStructure(access, connection_string, "shop", tReadyFor::Export, progress),
      DatabaseNotReadyError,
      text::Utf8ToAnsi("Databáze shop není připravena k replikaci\r\"Lines.rep_tr_Ins_Lines\" nenalezeno."));
  EXPECT_EQ(cache.Count(), 1);
  const int scanned_tables = progress_calls;
  EXPECT_GT(scanned_tables, 0);

  // The structure that failed is found again, without a scan, and checked again.
  connection_.Execute("CREATE TRIGGER rep_tr_Ins_Lines AFTER INSERT ON Lines BEGIN SELECT 1; END");
  dbstruct::tDatabase_Structure& structure =
      OpenDatabaseStructure(access, connection_string, "shop", tReadyFor::Import, progress);
  EXPECT_EQ(&structure, cache.Find(connection_string, "shop"));
  EXPECT_EQ(structure.Connection(), &main);
  EXPECT_EQ(progress_calls, scanned_tables);
  EXPECT_TRUE(structure.FindTable("Lines")->DependsOn(*structure.FindTable("Orders"), true));

  // Only looking at the structure needs no setup objects; the name with its suffix is a second key.
  connection_.Execute("DROP TABLE rep_DEFEXPORT");
  EXPECT_NO_THROW(OpenDatabaseStructure(access, connection_string, "shop.db", tReadyFor::Nothing));
  EXPECT_EQ(cache.Count(), 2);
}

// The SQL Server form: a scanned structure with the rep_ tables and one table Orders, and a
// master connection on a second scripted server.
struct ServerReadiness : ::testing::Test {
  ServerReadiness() {
    auto& b = *server.backend;
    for (const char* name : {"rep_USERFK", "rep_DELETED", "rep_TBLDESC", "rep_DEFEXPORT", "rep_XPORTLOG",
                             "rep_XPORTLOGDETAIL", "rep_DEFIMPORT", "rep_IMPORTLOG", "rep_IMPORTLOGDETAIL"}) {
      b.tables.emplace_back(name);
      b.columns[name] = {dbstruct::testing::Column("TABLENAME", FieldType::String, true)};
    }
    b.tables.emplace_back("Orders");
    b.columns["Orders"] = {dbstruct::testing::Column("Id", FieldType::Integer, false)};
    for (const char* column :
         {"rep_Date_Inserted", "rep_Signature_Inserted", "rep_Date_Updated", "rep_Signature_Updated"})
      b.columns["Orders"].push_back(dbstruct::testing::Column(column, FieldType::String, true));
    b.indexes["Orders"] = {{"PK_Orders", "Id", true, true}};
    b.primary_keys = {{"SHOP", "Orders", "PK_Orders"}};
    b.answers = {{"Select Count(*) from rep_TBLDESC", dbstruct::testing::Scalar(2)},
                 {"Select * from rep_TBLDESC",
                  dbstruct::testing::MakeRows({{"TABLENAME", FieldType::String}},
                                              {{Value::Text("rep_DELETED")}, {Value::Text("Orders")}})},
                 {"select @@LANGID", dbstruct::testing::Scalar(0)}};
    b.procedures["sp_helplanguage"] =
        dbstruct::testing::MakeRows({{"langid", FieldType::Integer}, {"dateformat", FieldType::String}},
                                    {{Value::Integer(0), Value::Text("dmy")}});
    b.object_properties = {{"rep_tr_Del_Orders|ExecIsDeleteTrigger", 1},
                           {"rep_tr_Ins_Orders|ExecIsInsertTrigger", 1}};
    server.connection.SetConnectionString("Provider=SQLOLEDB;Data Source=srv");
    structure = std::make_unique<dbstruct::tADODatabase_Structure>(
        server.connection, [](const std::string&, std::uint8_t& code) {
          code = 16;
          return true;
        });
    structure->Scan();
  }

  // Connects the master connection to a scripted server holding `procedures`.
  MasterConnector Connect() {
    return [this](dbaccess::Connection& connection, std::string_view connection_string) {
      connected_with = std::string(connection_string);
      EXPECT_EQ(&connection, &master);
      auto backend = std::make_unique<dbstruct::testing::ScriptedBackend>();
      backend->database = "master";
      backend->object_properties = procedures;
      connection.AttachBackend(std::move(backend), dbaccess::BackendKind::ODBC);
    };
  }

  bool Ready(bool import) { return IsDatabaseReady(*structure, import, missing, master, Connect()); }

  dbstruct::testing::ScriptedServer server;
  dbaccess::Connection master;
  std::map<std::string, int> procedures = {{"rep_ZRT_getSQLregistry|IsProcedure", 1},
                                           {"rep_ZRT_dbbackup|IsProcedure", 1},
                                           {"rep_ZRT_dbrestore|IsProcedure", 1}};
  std::unique_ptr<dbstruct::tADODatabase_Structure> structure;
  std::string missing;
  std::string connected_with;
};

TEST_F(ServerReadiness, ImportAsksTheMasterDatabaseForTheThreeProcedures) {
  EXPECT_TRUE(Ready(false));
  EXPECT_EQ(connected_with, "");
  EXPECT_TRUE(Ready(true));
  EXPECT_EQ(connected_with, "Provider=SQLOLEDB;Data Source=srv");

  procedures.erase("rep_ZRT_dbrestore|IsProcedure");
  EXPECT_FALSE(Ready(true));
  EXPECT_EQ(missing, "master.rep_ZRT_dbrestore");
  procedures.erase("rep_ZRT_getSQLregistry|IsProcedure");
  EXPECT_FALSE(Ready(true));
  EXPECT_EQ(missing, "master.rep_ZRT_getSQLregistry");
  // The master connection is closed again after the questions.
  EXPECT_FALSE(master.IsOpen());
}

TEST_F(ServerReadiness, AMasterConnectionThatFailsPassesItsErrorOn) {
  auto failing = [](dbaccess::Connection&, std::string_view) {
    throw dbaccess::DatabaseError("Login failed");
  };
  EXPECT_THROW_MSG(IsDatabaseReady(*structure, true, missing, master, failing), dbaccess::DatabaseError,
                   "Login failed");
  EXPECT_FALSE(master.IsOpen());
}

TEST_F(ServerReadiness, TriggersAreAskedUnderTheirNames) {
  server.backend->object_properties.erase("rep_tr_Ins_Orders|ExecIsInsertTrigger");
  EXPECT_FALSE(Ready(false));
  EXPECT_EQ(missing, "Orders.rep_tr_Ins_Orders");
  server.backend->object_properties.erase("rep_tr_Del_Orders|ExecIsDeleteTrigger");
  EXPECT_FALSE(Ready(false));
  EXPECT_EQ(missing, "Orders.rep_tr_Del_Orders");
}

}  // namespace
}  // namespace tamaril::replication
