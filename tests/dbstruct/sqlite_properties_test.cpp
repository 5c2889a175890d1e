#include <gtest/gtest.h>

#include "dbaccess/connection.h"
#include "dbstruct/errors.h"
#include "dbstruct/mssql/database_structure.h"
#include "dbstruct/sqlite/sqlite_prop_accessor.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "support/temp_dir.h"

namespace tamaril::dbstruct {
namespace {

class SqlitePropertiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.SetConnectionString("Provider=SQLite;Data Source=" + folder_.path());
    db_.Open();
    db_.CreateDatabase("p");
    db_.SetDefaultDatabase("p");
    db_.Execute(
        "CREATE TABLE Plain (Id INTEGER PRIMARY KEY, Name VARCHAR(20));"
        "CREATE TABLE Rich (Id INTEGER IDENTITY(3,10) PRIMARY KEY, Guid UNIQUEIDENTIFIER ROWGUIDCOL,"
        " Other UNIQUEIDENTIFIER, Qty INTEGER, Twice INTEGER GENERATED ALWAYS AS (Qty * 2) VIRTUAL);"
        "CREATE TABLE Log (Msg TEXT);"
        "CREATE TRIGGER trDel AFTER DELETE ON Rich BEGIN INSERT INTO Log VALUES ('d'); END;"
        "CREATE TRIGGER trUpd AFTER UPDATE OF Qty ON Rich BEGIN INSERT INTO Log VALUES ('u'); END;"
        "CREATE TRIGGER trIns AFTER INSERT ON Log BEGIN SELECT 1; END;"
        "CREATE VIEW RichView AS SELECT Id, Guid FROM Rich;");
  }

  std::int32_t Obj(const std::string& name, const std::string& property) {
    return structure_.PropAccessor().ObjectProperty(name, property);
  }
  std::int32_t Col(const std::string& table, const std::string& column, const std::string& property) {
    return structure_.PropAccessor().ColumnProperty(table, column, property);
  }

  testing::TempDir folder_;
  dbaccess::Connection db_;
  tSQLiteDatabase_Structure structure_{&db_};
};

TEST_F(SqlitePropertiesTest, TablePropertiesFollowColumnsAndTriggers) {
  EXPECT_EQ(Obj("Rich", "TableHasRowGuidCol"), 1);
  EXPECT_EQ(Obj("Rich", "TableHasIdentity"), 1);
  EXPECT_EQ(Obj("rich", "TableHasDeleteTrigger"), 1);
  EXPECT_EQ(Obj("Rich", "TableHasUpdateTrigger"), 1);
  EXPECT_EQ(Obj("Rich", "TableHasInsertTrigger"), 0);
  EXPECT_EQ(Obj("Log", "TableHasInsertTrigger"), 1);
  EXPECT_EQ(Obj("Log", "TableHasDeleteTrigger"), 0);
  // A plain INTEGER PRIMARY KEY is no identity; a view's columns never count.
  for (const char* property : {"TableHasRowGuidCol", "TableHasIdentity", "TableHasDeleteTrigger",
                               "TableHasInsertTrigger", "TableHasUpdateTrigger"}) {
    EXPECT_EQ(Obj("Plain", property), 0) << property;
    EXPECT_EQ(Obj("RichView", property), 0) << property;
  }
}

TEST_F(SqlitePropertiesTest, TriggerAndProcedureProperties) {
  EXPECT_EQ(Obj("trDel", "IsTrigger"), 1);
  EXPECT_EQ(Obj("Rich", "IsTrigger"), 0);
  EXPECT_EQ(Obj("trDel", "ExecIsDeleteTrigger"), 1);
  EXPECT_EQ(Obj("trDel", "ExecIsInsertTrigger"), 0);
  EXPECT_EQ(Obj("trIns", "ExecIsInsertTrigger"), 1);
  EXPECT_EQ(Obj("trUpd", "ExecIsUpdateTrigger"), 1);
  EXPECT_EQ(Obj("Rich", "ExecIsDeleteTrigger"), 0);
  EXPECT_EQ(Obj("trDel", "IsProcedure"), 0);
  EXPECT_EQ(Obj("Rich", "IsProcedure"), 0);
}

TEST_F(SqlitePropertiesTest, IdentityTriggerIsNotAnInsertTrigger) {
  structure_.Scan();
  structure_.CreateIdentityTriggers();
  ASSERT_EQ(Obj("rep_tr_Id_Rich", "IsTrigger"), 1);
  EXPECT_EQ(Obj("Rich", "TableHasInsertTrigger"), 0);
}

TEST_F(SqlitePropertiesTest, RowGuidTriggerIsNoInsertTriggerAndIsOffDuringAWritePhase) {
  structure_.Scan();
  db_.Execute(structure_.SQLiteTable(structure_.IndexOf(structure_.FindTable("Rich"))).GuidTriggerSql());
  ASSERT_EQ(Obj("rep_tr_Guid_Rich", "ExecIsInsertTrigger"), 1);
  EXPECT_EQ(Obj("Rich", "TableHasInsertTrigger"), 0);
  structure_.Scan();
  auto& rich = static_cast<tSQLiteTbl_Structure&>(*structure_.FindTable("Rich"));
  EXPECT_FALSE(rich.HasInsertTrigger);
  EXPECT_EQ(structure_.SQLiteTable(structure_.IndexOf(structure_.FindTable("Plain"))).GuidTriggerSql(), "");

  // A row written by the merge keeps the RowGuid it brings, even none.
  dbaccess::TransactionGuard transaction(db_);
  rich.BeginWrite();
  EXPECT_EQ(Obj("rep_tr_Guid_Rich", "IsTrigger"), 0);
  db_.Execute("INSERT INTO Rich (Id, Qty) VALUES (1, 1)");
  rich.EndWrite();
  transaction.Commit();
  EXPECT_EQ(Obj("rep_tr_Guid_Rich", "IsTrigger"), 1);
  db_.Execute("INSERT INTO Rich (Id, Qty) VALUES (2, 2)");
  auto rows = db_.Query("SELECT Id, Guid FROM Rich ORDER BY Id");
  ASSERT_TRUE(rows->Next());
  EXPECT_TRUE(rows->Get(1).IsNull());
  ASSERT_TRUE(rows->Next());
  EXPECT_EQ(rows->Get(1).AsString().size(), 38u);
}

TEST_F(SqlitePropertiesTest, ColumnProperties) {
  EXPECT_EQ(Col("Rich", "Guid", "IsRowGuidCol"), 1);
  EXPECT_EQ(Col("Rich", "Other", "IsRowGuidCol"), 0);
  EXPECT_EQ(Col("Rich", "id", "IsIdentity"), 1);
  EXPECT_EQ(Col("Rich", "Qty", "IsIdentity"), 0);
  EXPECT_EQ(Col("Plain", "Id", "IsIdentity"), 0);
  EXPECT_EQ(Col("Rich", "Twice", "IsComputed"), 1);
  EXPECT_EQ(Col("Rich", "Qty", "IsComputed"), 0);
  EXPECT_EQ(Col("RichView", "Guid", "IsRowGuidCol"), 0);
  EXPECT_EQ(Col("RichView", "Id", "IsIdentity"), 0);
  EXPECT_EQ(Col("Rich", "Guid", "NoSuchProperty"), 0);
}

TEST_F(SqlitePropertiesTest, UnknownObjectsAnswerZero) {
  EXPECT_EQ(Obj("Missing", "TableHasIdentity"), 0);
  EXPECT_EQ(Obj("Missing", "IsTrigger"), 0);
  EXPECT_EQ(Obj("sqlite_master", "IsTable"), 0);
  EXPECT_EQ(Col("Missing", "Id", "IsIdentity"), 0);
  EXPECT_EQ(Col("Rich", "Missing", "IsComputed"), 0);
}

TEST_F(SqlitePropertiesTest, QuotedNamesAreBoundNotPasted) {
  db_.Execute(
      "CREATE TABLE \"O'Brien\" (\"K'ey\" INTEGER IDENTITY(1,1) PRIMARY KEY, G UNIQUEIDENTIFIER ROWGUIDCOL);"
      "CREATE TRIGGER \"tr'd\" AFTER DELETE ON \"O'Brien\" BEGIN SELECT 1; END;");
  EXPECT_EQ(Obj("O'Brien", "TableHasIdentity"), 1);
  EXPECT_EQ(Obj("O'Brien", "TableHasRowGuidCol"), 1);
  EXPECT_EQ(Obj("O'Brien", "TableHasDeleteTrigger"), 1);
  EXPECT_EQ(Obj("tr'd", "ExecIsDeleteTrigger"), 1);
  EXPECT_EQ(Col("O'Brien", "K'ey", "IsIdentity"), 1);
  EXPECT_EQ(Obj("x') OR 1=1 --", "IsTable"), 0);
}

TEST_F(SqlitePropertiesTest, AnswersAgreeWithTheScannedStructure) {
  structure_.Scan();
  for (int i = 0; i < structure_.TableCount(); ++i) {
    const tSQLiteTbl_Structure& table = structure_.SQLiteTable(i);
    SCOPED_TRACE(table.TableName);
    EXPECT_EQ(Obj(table.TableName, "TableHasIdentity") != 0, !table.IdentityColumn.empty());
    EXPECT_EQ(Obj(table.TableName, "TableHasRowGuidCol") != 0, !table.RowGuidColumn.empty());
    EXPECT_EQ(Obj(table.TableName, "TableHasDeleteTrigger") != 0, table.HasDeleteTrigger);
    EXPECT_EQ(Obj(table.TableName, "TableHasUpdateTrigger") != 0, table.HasUpdateTrigger);
  }
  // The queries survive closing the data and being prepared again.
  structure_.CloseData();
  EXPECT_EQ(Col("Rich", "Twice", "IsComputed"), 1);
}

TEST_F(SqlitePropertiesTest, AccessorNeedsAConnection) {
  tSQLiteDatabase_Structure detached(nullptr);
  try {
    detached.PropAccessor();
    ADD_FAILURE() << "no exception";
  } catch (const StructureError& error) {
    EXPECT_STREQ(error.what(), "Database structure has no connection");
  }
}

class SqliteUserForeignKeysTest : public SqlitePropertiesTest {
 protected:
  void SetUp() override {
    SqlitePropertiesTest::SetUp();
    db_.Execute(
        "CREATE TABLE rep_USERFK (PK_TableName VARCHAR(128), FK_TableName VARCHAR(128),"
        " ConstraintName VARCHAR(128), PK_Field VARCHAR(128), FK_Field VARCHAR(128));"
        "CREATE TABLE Master (Id INTEGER PRIMARY KEY);"
        "CREATE TABLE Detail (Id INTEGER PRIMARY KEY, MasterId INTEGER);");
  }
  int IndexOf(const std::string& name) { return structure_.IndexOf(structure_.FindTable(name)); }
};

TEST_F(SqliteUserForeignKeysTest, UserKeysJoinTheModel) {
  db_.Execute(
      "INSERT INTO rep_USERFK VALUES ('Master', 'Detail', 'UFK_Detail_Master', 'Id', 'MasterId'),"
      " ('Master', 'Missing', 'UFK_Missing', 'Id', 'MasterId')");
  structure_.Scan();
  ASSERT_GT(IndexOf("Detail"), -1);
  ASSERT_LT(IndexOf("Detail"), IndexOf("Master"));
  // Detail comes before Master by name; the user key must bring the master first.
  LoadUserForeignKeys(structure_);
  const tForeignKeysInfo* keys =
      structure_.FindTable("Detail")->Masters().FindByMaster(structure_.FindTable("Master"));
  ASSERT_NE(keys, nullptr);
  ASSERT_EQ(keys->Count(), 1);
  EXPECT_EQ(keys->Items(0).Name, "UFK_Detail_Master");
  EXPECT_EQ(keys->Items(0).FKColumn(0), "MasterId");
  EXPECT_EQ(keys->Items(0).PKColumn(0), "Id");
  EXPECT_LT(IndexOf("Master"), IndexOf("Detail"));
}

TEST_F(SqliteUserForeignKeysTest, EmptyTableAddsNothing) {
  structure_.Scan();
  LoadUserForeignKeys(structure_);
  EXPECT_EQ(structure_.FindTable("Detail")->Masters().Count(), 0);
}

TEST_F(SqliteUserForeignKeysTest, UserKeyClosingACycleFails) {
  db_.Execute(
      "DROP TABLE Detail;"
      "CREATE TABLE Detail (Id INTEGER PRIMARY KEY, MasterId INTEGER REFERENCES Master(Id));"
      "INSERT INTO rep_USERFK VALUES ('Detail', 'Master', 'UFK_Master_Detail', 'Id', 'Id')");
  structure_.Scan();
  try {
    LoadUserForeignKeys(structure_);
    ADD_FAILURE() << "no exception";
  } catch (const StructureError& error) {
    EXPECT_STREQ(error.what(), "Circular master detail links not allowed");
  }
}

}  // namespace
}  // namespace tamaril::dbstruct
