// Behaviour of the SQLite back end beyond the shared access suite.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "dbaccess/connection.h"
#include "dbaccess/sqlite_types.h"
#include "support/expect_throw_msg.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::dbaccess {
namespace {

using dataset::FieldType;
using sqlite::DeclaredType;
using sqlite::MapDeclaredType;
using tamaril::testing::TempDir;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(SqliteDeclaredType, MapsTheKnownNames) {
  const std::vector<std::pair<const char*, DeclaredType>> cases = {
      {"integer identity(1,1)", {FieldType::AutoInc}},
      {"INTEGER IDENTITY ( 100 , 7 )", {FieldType::AutoInc}},
      {"INT", {FieldType::Integer}},
      {"bigint", {FieldType::Largeint}},
      {"SMALLINT", {FieldType::Smallint}},
      {"TINYINT", {FieldType::Word}},
      {"BIT", {FieldType::Boolean}},
      {"Boolean", {FieldType::Boolean}},
      {"DOUBLE PRECISION", {FieldType::Float}},
      {"FLOAT", {FieldType::Float}},
      {"SMALLMONEY", {FieldType::Currency}},
      {"DECIMAL(10, 2)", {FieldType::BCD, 0, 10, 2}},
      {"NUMERIC", {FieldType::BCD, 0, 18, 0}},
      {"DATETIME2", {FieldType::DateTime}},
      {"TIMESTAMP", {FieldType::DateTime}},
      {"DATE", {FieldType::Date}},
      {"TIME", {FieldType::Time}},
      {"CHAR(3)", {FieldType::FixedChar, 3}},
      {"CHARACTER VARYING(30)", {FieldType::String, 30}},
      {"NCHAR(4)", {FieldType::WideString, 4}},
      {"NVARCHAR(50)", {FieldType::WideString, 50}},
      {"NVARCHAR(MAX)", {FieldType::Memo}},
      {"varchar(25)", {FieldType::String, 25}},
      {"VARCHAR", {FieldType::Memo}},
      {"TEXT", {FieldType::Memo}},
      {"TEXT(8)", {FieldType::String, 8}},
      {"NTEXT", {FieldType::Memo}},
      {"UNIQUEIDENTIFIER ROWGUIDCOL", {FieldType::Guid, 38}},
      {"IMAGE", {FieldType::Blob}},
      {"VARBINARY(MAX)", {FieldType::Blob}},
      {"BINARY(16)", {FieldType::Bytes, 16}},
      {"VARBINARY(200)", {FieldType::VarBytes, 200}},
      {"UNSIGNED BIG INT", {FieldType::Largeint}},
      {"NATIVE CHARACTER(70)", {FieldType::Memo}},
      {"JSON", {FieldType::Memo}},
      {"", {FieldType::Unknown}},
  };
  for (const auto& [declared, expected] : cases) {
    const DeclaredType mapped = MapDeclaredType(declared);
    EXPECT_EQ(mapped.field_type, expected.field_type) << declared;
    EXPECT_EQ(mapped, expected) << declared;
  }
}

class SqliteBackend : public ::testing::Test {
 protected:
  std::string ConnectionString(const std::string& catalog = {}) const {
    return "Provider=SQLite;Data Source=" + folder_.path() +
           (catalog.empty() ? "" : ";Initial Catalog=" + catalog);
  }
  // A connection to a new database of that name in the folder.
  std::unique_ptr<Connection> OpenNew(const std::string& name) {
    Connection master(ConnectionString());
    master.Open();
    master.CreateDatabase(name);
    auto connection = std::make_unique<Connection>(ConnectionString(name));
    connection->Open();
    return connection;
  }

  TempDir folder_;
};

TEST_F(SqliteBackend, MasterIsAnInMemoryDatabaseAndCatalogsAreTheFiles) {
  Connection master(ConnectionString());
  master.Open();
  EXPECT_EQ(master.DefaultDatabase(), "master");
  master.Execute("CREATE TABLE scratch (id INTEGER)");
  EXPECT_TRUE(master.Catalogs().empty());

  master.CreateDatabase("beta");
  master.CreateDatabase("Alpha");
  tamaril::testing::WriteWholeFile(folder_.File("notes.txt"), "not a database");
  EXPECT_THAT(master.Catalogs(), ElementsAre("Alpha", "beta"));
  EXPECT_THROW_MSG(master.CreateDatabase("BETA"), DatabaseError, "Database 'BETA' already exists");
  EXPECT_THROW_MSG(master.CreateDatabase("../escape"), DatabaseError, "Invalid database name '../escape'");

  master.SetDefaultDatabase("ALPHA");  // letter case does not matter, the file's spelling is kept
  EXPECT_EQ(master.DefaultDatabase(), "Alpha");
  EXPECT_TRUE(master.Tables().empty());
  // The name as the folder shows it, with its suffix, leads to the same file.
  master.SetDefaultDatabase("beta.DB");
  EXPECT_EQ(master.DefaultDatabase(), "beta");
  EXPECT_THROW_MSG(master.SetDefaultDatabase(".db"), DatabaseError, "Database '.db' does not exist");
}

TEST_F(SqliteBackend, OpeningAMissingFolderOrDatabaseFails) {
  const std::string missing = folder_.File("nowhere");
  Connection no_folder("Provider=SQLite;Data Source=" + missing);
  EXPECT_THROW_MSG(no_folder.Open(), DatabaseError, "Database folder '" + missing + "' does not exist");
  EXPECT_FALSE(no_folder.IsOpen());

  Connection no_database(ConnectionString("nope"));
  EXPECT_THROW_MSG(no_database.Open(), DatabaseError, "Database 'nope' does not exist");
  EXPECT_FALSE(no_database.IsOpen());
}

TEST_F(SqliteBackend, DeclaredTypesSurviveInTheCatalogue) {
  auto db = OpenNew("types");
  db->Execute(
      "CREATE TABLE t (id INTEGER IDENTITY(1,1) PRIMARY KEY, g UNIQUEIDENTIFIER ROWGUIDCOL NOT NULL, "
      "price DECIMAL(10,2), loose)");
  const auto columns = db->Columns("T");
  ASSERT_EQ(columns.size(), 4u);
  EXPECT_EQ(columns[0].field_type, FieldType::AutoInc);
  EXPECT_EQ(columns[0].type_name, "INTEGER IDENTITY(1,1)");
  EXPECT_EQ(columns[1].field_type, FieldType::Guid);
  EXPECT_EQ(columns[1].size, 38);
  EXPECT_EQ(columns[1].nullable, false);
  EXPECT_EQ(columns[2].field_type, FieldType::BCD);
  EXPECT_EQ(columns[2].precision, 10);
  EXPECT_EQ(columns[2].scale, 2);
  EXPECT_EQ(columns[3].field_type, FieldType::Memo);
  EXPECT_THROW_MSG(db->Columns("missing"), DatabaseError, "no such table: missing");
}

TEST_F(SqliteBackend, ConstraintNamesComeFromTheCreateText) {
  auto db = OpenNew("keys");
  db->Execute("CREATE TABLE p1 (id INTEGER CONSTRAINT pk_p1 PRIMARY KEY)");
  db->Execute("CREATE TABLE p2 (id INTEGER NOT NULL, CONSTRAINT [pk p2] PRIMARY KEY (id))");
  db->Execute(
      "CREATE TABLE child (\n"
      "  id INTEGER PRIMARY KEY,\n"
      "  a INTEGER REFERENCES p1, -- CONSTRAINT fake REFERENCES p2\n"
      "  b INTEGER CONSTRAINT fk_b REFERENCES p2 (id),\n"
      "  c INTEGER DEFAULT 'CONSTRAINT no FOREIGN KEY', d INTEGER,\n"
      "  FOREIGN KEY (c) REFERENCES p1 (id),\n"
      "  CONSTRAINT \"fk d\" FOREIGN KEY (d) REFERENCES p2)");
  std::vector<std::string> keys;
  for (const auto& key : db->ForeignKeys())
    keys.push_back(key.FK_TABLE_NAME + "." + key.FK_COLUMN_NAME + ">" + key.PK_TABLE_NAME + "." +
                   key.PK_COLUMN_NAME + " " + key.FK_NAME);
  EXPECT_THAT(keys, ElementsAre("child.a>p1.id FK_child_1", "child.b>p2.id fk_b", "child.c>p1.id FK_child_2",
                                "child.d>p2.id fk d"));

  std::vector<std::string> primary;
  for (const auto& key : db->PrimaryKeys()) primary.push_back(key.TABLE_NAME + " " + key.PK_NAME);
  EXPECT_THAT(primary, ElementsAre("child PK_child", "p1 pk_p1", "p2 pk p2"));

  // The rowid alias has no index of its own but is the table's primary key.
  const auto indexes = db->Indexes("child");
  ASSERT_EQ(indexes.size(), 1u);
  EXPECT_EQ(indexes[0].name, "PK_child");
  EXPECT_EQ(indexes[0].fields, "id");
  EXPECT_TRUE(indexes[0].primary && indexes[0].unique);
  EXPECT_EQ(db->Indexes("p2")[0].name, "pk p2");
  EXPECT_EQ(db->Columns("child")[0].nullable, false);

  // Foreign keys are enforced.
  const auto orphan =
      testing::CatchError<DatabaseError>([&] { db->Execute("INSERT INTO child (id, a) VALUES (1, 42)"); });
  ASSERT_TRUE(orphan);
  EXPECT_THAT(orphan->what(), HasSubstr("FOREIGN KEY constraint failed"));
}

TEST_F(SqliteBackend, ValuesAreStoredInTheirTextForms) {
  auto db = OpenNew("forms");
  db->Execute("CREATE TABLE f (at DATETIME, g UNIQUEIDENTIFIER, t VARCHAR(20), b BLOB)");
  auto insert = db->Prepare("INSERT INTO f VALUES (:at, :g, :t, :b)");
  insert->SetParameter("at", Value::FromDateTime({2023, 1, 2, 3, 4, 5, 6}));
  insert->SetParameter("g", Value::Guid("6f9619ff-8b86-d011-b42d-00c04fc964ff"));
  insert->SetParameter("t", Value::Text(text::Utf8ToAnsi("kůň")));
  insert->SetParameter("b", Value::Bytes(""));
  insert->Execute();
  // Expressions have no declared type, so they show what the file holds.
  auto raw = db->QueryAll("SELECT at || '', typeof(at), g || '', hex(t), typeof(b), length(b) FROM f");
  ASSERT_TRUE(raw->Next());
  EXPECT_EQ(raw->Get(std::size_t{0}), Value::Text("2023-01-02 03:04:05.006"));
  EXPECT_EQ(raw->Get(1), Value::Text("text"));
  EXPECT_EQ(raw->Get(2), Value::Text("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"));
  EXPECT_EQ(raw->Get(3), Value::Text("6BC5AFC588"));  // UTF-8 in the file
  EXPECT_EQ(raw->Get(4), Value::Text("blob"));        // an empty block is not NULL
  EXPECT_EQ(raw->Get(5), Value::Integer(0));
  EXPECT_EQ(raw->Columns()[5].field_type, FieldType::Largeint);
  EXPECT_EQ(raw->Columns()[0].field_type, FieldType::Memo);

  db->Execute("UPDATE f SET g = '6f9619ff-8b86-d011-b42d-00c04fc964ff', at = 'not a date'");
  auto typed = db->QueryAll("SELECT g, at FROM f");
  ASSERT_TRUE(typed->Next());
  EXPECT_EQ(typed->Get("g"), Value::Guid("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"));
  EXPECT_EQ(typed->Get("at"), Value::Text("not a date"));
}

TEST_F(SqliteBackend, ARollbackSQLiteDidItselfIsNotAFailure) {
  auto db = OpenNew("shop");
  db->Execute("CREATE TABLE t (id INTEGER)");
  db->BeginTransaction();
  db->Execute("INSERT INTO t VALUES (1)");
  // As after a full disk: the transaction is gone before the caller rolls back.
  db->Execute("ROLLBACK");
  EXPECT_NO_THROW(db->Rollback());
  EXPECT_FALSE(db->InTransaction());
  auto rows = db->Query("SELECT COUNT(*) FROM t");
  ASSERT_TRUE(rows->Next());
  EXPECT_EQ(rows->Get(0).AsInteger(), 0);
}

TEST_F(SqliteBackend, BatchesCountOnlyRowsTheirStatementsChanged) {
  auto db = OpenNew("counts");
  db->Execute(
      "CREATE TABLE t (id INTEGER); CREATE TABLE log (id INTEGER); "
      "CREATE TRIGGER t_log AFTER UPDATE ON t BEGIN INSERT INTO log VALUES (new.id); END;");
  EXPECT_EQ(db->Execute("INSERT INTO t VALUES (1); CREATE TABLE x (a INTEGER); SELECT * FROM t; "
                        "/* a trailing comment */"),
            1);
  EXPECT_EQ(db->Execute("INSERT INTO t VALUES (2); UPDATE t SET id = id + 10"), 1 + 2);
  auto log_rows = db->QueryAll("SELECT count(*) FROM log");
  ASSERT_TRUE(log_rows->Next());
  EXPECT_EQ(log_rows->Get(std::size_t{0}), Value::Integer(2));
}

TEST_F(SqliteBackend, PreparedTextsHoldOneStatementAndOneLiveCursor) {
  auto db = OpenNew("prepare");
  db->Execute("CREATE TABLE t (id INTEGER); INSERT INTO t VALUES (1); INSERT INTO t VALUES (2)");
  EXPECT_THROW_MSG(db->Prepare("DELETE FROM t; DELETE FROM t"), DatabaseError,
                   "A prepared statement text may hold only one statement");
  EXPECT_THROW_MSG(db->CallProcedure("rep_ZRT_dbbackup", {}, false), DatabaseError,
                   "SQLite has no stored procedures");

  auto select = db->Prepare("SELECT id FROM t ORDER BY id");
  auto first = select->Open();
  ASSERT_TRUE(first->Next());
  auto second = select->Open();
  EXPECT_THROW_MSG(first->Next(), DatabaseError, "The cursor was closed by a new run of its statement");
  ASSERT_TRUE(second->Next());
  EXPECT_EQ(second->Get(std::size_t{0}), Value::Integer(1));
}

TEST_F(SqliteBackend, CommandTimeoutInterruptsALongStatement) {
  auto db = OpenNew("slow");
  db->SetCommandTimeout(1);
  const auto start = std::chrono::steady_clock::now();
  const auto error = testing::CatchError<DatabaseError>([&] {
    db->QueryAll(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000000000) "
        "SELECT count(*) FROM n");
  });
  ASSERT_TRUE(error);
  EXPECT_STREQ(error->what(), "The command did not finish within 1 seconds");
  EXPECT_EQ(error->sqlstate(), "HYT00");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  auto rows = db->QueryAll("SELECT 7");  // the connection goes on working
  ASSERT_TRUE(rows->Next());
  EXPECT_EQ(rows->Get(std::size_t{0}), Value::Integer(7));
}

}  // namespace
}  // namespace tamaril::dbaccess
