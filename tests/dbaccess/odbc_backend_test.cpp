// ODBC back end behaviour that the shared suite does not reach: connecting and its failures,
// login escaping, database switching, function calls, type mapping and catalogue reads on
// PostgreSQL, the command time-out, and the driver-independent helpers.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <memory>
#include <string>

#include "dbaccess/connection.h"
#include "dbaccess/odbc_support.h"
#include "support/expect_throw_msg.h"
#include "support/pg_server.h"
#include "text/encoding.h"

namespace tamaril::testing {
namespace {

using dataset::FieldType;
using dbaccess::Connection;
using dbaccess::DatabaseError;
using dbaccess::Parameter;
using dbaccess::Value;
using ::testing::HasSubstr;

std::unique_ptr<Connection> OpenPg(const std::string& database, const std::string& user = PgServer::kUser,
                                   const std::string& password = PgServer::kPassword) {
  auto connection = std::make_unique<Connection>(PgServer::Get().OdbcString(database));
  connection->Open(user, password);
  return connection;
}

std::unique_ptr<Connection> OpenFreshPg() { return OpenPg(PgServer::Get().CreateFreshDatabase()); }

TEST(OdbcSupport, QuotesValuesThatWouldBreakTheString) {
  EXPECT_EQ(dbaccess::odbc::QuoteOdbcValue("plain"), "plain");
  EXPECT_EQ(dbaccess::odbc::QuoteOdbcValue("a;b"), "{a;b}");
  EXPECT_EQ(dbaccess::odbc::QuoteOdbcValue("x}y{"), "{x}}y{}");
  EXPECT_EQ(dbaccess::odbc::QuoteOdbcValue(" padded"), "{ padded}");
}

TEST(OdbcSupport, ReplacesAnAttributeKeepingBracedValues) {
  const std::string original = "Driver={PostgreSQL Unicode};DATABASE=old;PWD={a;b}}c};Port=5";
  const std::string changed = dbaccess::odbc::WithOdbcAttribute(original, "Database", "new;db");
  EXPECT_EQ(changed, "Driver={PostgreSQL Unicode};PWD={a;b}}c};Port=5;Database={new;db}");
  EXPECT_EQ(dbaccess::odbc::FindOdbcAttribute(changed, "pwd"), "a;b}c");
  EXPECT_EQ(dbaccess::odbc::FindOdbcAttribute(changed, "database"), "new;db");
}

TEST(OdbcSupport, MapsSqlServerColumnTypes) {
  using dbaccess::odbc::OdbcFieldType;
  EXPECT_EQ(OdbcFieldType(SQL_INTEGER, "int identity", 10, true), FieldType::AutoInc);
  EXPECT_EQ(OdbcFieldType(SQL_INTEGER, "int", 10, false), FieldType::Integer);
  EXPECT_EQ(OdbcFieldType(SQL_TINYINT, "tinyint", 3, false), FieldType::Word);
  EXPECT_EQ(OdbcFieldType(SQL_DECIMAL, "money", 19, false), FieldType::Currency);
  EXPECT_EQ(OdbcFieldType(SQL_DECIMAL, "decimal", 18, false), FieldType::BCD);
  EXPECT_EQ(OdbcFieldType(SQL_VARBINARY, "varbinary", 100, false), FieldType::VarBytes);
  EXPECT_EQ(OdbcFieldType(SQL_VARBINARY, "varbinary", 0, false), FieldType::Blob);
  EXPECT_EQ(OdbcFieldType(SQL_BINARY, "binary", 16, false), FieldType::Bytes);
  EXPECT_EQ(OdbcFieldType(SQL_VARCHAR, "varchar", 0, false), FieldType::Memo);
  EXPECT_EQ(OdbcFieldType(SQL_VARCHAR, "varchar", 50, false), FieldType::String);
  EXPECT_EQ(OdbcFieldType(SQL_CHAR, "char", 5, false), FieldType::FixedChar);
  EXPECT_EQ(OdbcFieldType(SQL_WVARCHAR, "nvarchar", 50, false), FieldType::WideString);
  EXPECT_EQ(OdbcFieldType(SQL_WLONGVARCHAR, "ntext", 1073741823, false), FieldType::Memo);
  EXPECT_EQ(OdbcFieldType(SQL_GUID, "uniqueidentifier", 36, false), FieldType::Guid);
  EXPECT_EQ(OdbcFieldType(-154, "time", 16, false), FieldType::Time);
}

TEST(OdbcConnect, UnreachableSqlServerFailsQuicklyWithTheDriverMessage) {
  Connection connection(
      "Provider=SQLOLEDB.1;Data Source=127.0.0.1,1;Initial Catalog=x;User ID=sa;Password=x");
  connection.SetConnectionTimeout(5);
  const auto start = std::chrono::steady_clock::now();
  const auto error = CatchError<DatabaseError>([&] { connection.Open(); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->sqlstate().substr(0, 2), "08");
  EXPECT_THAT(error->what(), HasSubstr("Unable to connect"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_FALSE(connection.IsOpen());
}

TEST(OdbcConnect, WrongPasswordGivesTheServerMessage) {
  Connection connection(PgServer::Get().OdbcString("postgres"));
  const auto error = CatchError<DatabaseError>([&] { connection.Open(PgServer::kUser, "wrong"); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->sqlstate(), "08001");
  EXPECT_THAT(error->what(), HasSubstr("password authentication failed for user \"tamaril\""));
}

TEST(OdbcConnect, PasswordWithSeparatorsAndBracesIsEscaped) {
  PgServer::Get().RunAsSuperuser("CREATE ROLE odd LOGIN PASSWORD 'p;w}d{=x'");
  EXPECT_EQ(OpenPg("postgres", "odd", "p;w}d{=x")->QueryAll("SELECT current_user")->Rows()[0][0],
            Value::Text("odd"));
  EXPECT_THROW(OpenPg("postgres", "odd", "p;w"), DatabaseError);
}

TEST(OdbcConnect, SwitchesDatabaseOnlyWhenTheNewOneOpens) {
  const std::string other = PgServer::Get().CreateFreshDatabase();
  auto connection = OpenFreshPg();
  const std::string original = connection->DefaultDatabase();
  const auto error = CatchError<DatabaseError>([&] { connection->SetDefaultDatabase("missing_db"); });
  ASSERT_TRUE(error);
  EXPECT_THAT(error->what(), HasSubstr("database \"missing_db\" does not exist"));
  EXPECT_EQ(connection->DefaultDatabase(), original);
  EXPECT_EQ(connection->QueryAll("SELECT current_database()")->Rows()[0][0], Value::Text(original));

  connection->SetDefaultDatabase(other);
  EXPECT_EQ(connection->DefaultDatabase(), other);
  EXPECT_EQ(connection->QueryAll("SELECT current_database()")->Rows()[0][0], Value::Text(other));
}

TEST(OdbcConnect, CreateDatabaseQuotesTheNameAndRejectsQuotes) {
  auto connection = OpenFreshPg();
  connection->CreateDatabase("Mixed Case");
  EXPECT_THAT(connection->Catalogs(), ::testing::Contains("Mixed Case"));
  EXPECT_THROW(connection->CreateDatabase("bad\"name"), DatabaseError);
}

TEST(OdbcPostgres, CallsFunctionsWithAndWithoutRows) {
  auto connection = OpenFreshPg();
  connection->Execute("CREATE TABLE calls (who text)");
  connection->Execute(
      "CREATE FUNCTION greet(name text) RETURNS text LANGUAGE sql AS $$ SELECT 'Ahoj ' || name $$;"
      "CREATE FUNCTION note(who text) RETURNS void LANGUAGE sql AS $$ INSERT INTO calls VALUES (who) $$");
  const std::string name = text::Utf8ToAnsi("Žluťoučký");
  auto rows = connection->CallProcedure("greet",
                                        {Parameter{"name", FieldType::String, 128, Value::Text(name)}}, true);
  ASSERT_TRUE(rows->Next());
  EXPECT_EQ(rows->Get(0), Value::Text("Ahoj " + name));

  EXPECT_EQ(connection->CallProcedure("note", {Parameter{"who", FieldType::String, 128, Value::Text("x;y")}},
                                      false),
            nullptr);
  EXPECT_EQ(connection->QueryAll("SELECT who FROM calls")->Rows(),
            (std::vector<std::vector<Value>>{{Value::Text("x;y")}}));
}

TEST(OdbcPostgres, MapsColumnTypesAndReadsValues) {
  auto connection = OpenFreshPg();
  connection->Execute(
      "CREATE TABLE typed (id serial PRIMARY KEY, i int NOT NULL, b bigint, n numeric(10,2), v varchar(20), "
      "t text,"
      " f boolean, ts timestamp, bin bytea, g uuid);"
      "INSERT INTO typed (i, b, n, v, t, f, ts, bin, g) VALUES (7, 9000000000, 12.5, 'abc', 'long text', "
      "true,"
      " '2024-02-29 13:45:30.125', '\\x00ff41', 'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11')");
  auto rows = connection->QueryAll("SELECT i, b, n, v, t, f, ts, bin, g FROM typed");
  std::vector<FieldType> types;
  for (const auto& column : rows->Columns()) types.push_back(column.field_type);
  EXPECT_EQ(types, (std::vector<FieldType>{FieldType::Integer, FieldType::Largeint, FieldType::BCD,
                                           FieldType::String, FieldType::Memo, FieldType::Boolean,
                                           FieldType::DateTime, FieldType::Blob, FieldType::Guid}));
  EXPECT_EQ(rows->Columns()[3].size, 20);
  EXPECT_EQ(rows->Columns()[3].sql_type, SQL_WVARCHAR);
  EXPECT_EQ(rows->Columns()[8].size, 38);
  ASSERT_EQ(rows->RowCount(), 1u);
  EXPECT_EQ(rows->Rows()[0],
            (std::vector<Value>{Value::Integer(7), Value::Integer(9000000000), Value::Double(12.5),
                                Value::Text("abc"), Value::Text("long text"), Value::Boolean(true),
                                Value::FromDateTime({2024, 2, 29, 13, 45, 30, 125}),
                                Value::Bytes(std::string("\x00\xff\x41", 3)),
                                Value::Guid("{A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11}")}));

  const auto columns = connection->Columns("TYPED");
  ASSERT_EQ(columns.size(), 10u);
  EXPECT_EQ(columns[0].field_type, FieldType::AutoInc);
  EXPECT_EQ(columns[1].name, "i");
  EXPECT_EQ(columns[1].nullable, false);
  EXPECT_EQ(columns[2].nullable, true);
  EXPECT_EQ(columns[3].precision, 10);
  EXPECT_EQ(columns[3].scale, 2);
}

TEST(OdbcPostgres, ReadsKeysAndIndexesInKeyOrder) {
  auto connection = OpenFreshPg();
  connection->Execute(
      "CREATE TABLE head (b int, a int, CONSTRAINT head_key PRIMARY KEY (b, a));"
      "CREATE TABLE line (id int CONSTRAINT line_key PRIMARY KEY, hb int, ha int, note text,"
      " CONSTRAINT line_head FOREIGN KEY (hb, ha) REFERENCES head (b, a));"
      "CREATE UNIQUE INDEX line_note ON line (note, id);"
      "CREATE INDEX line_ha ON line (ha);"
      "CREATE VIEW all_lines AS SELECT * FROM line");
  const std::string database = connection->DefaultDatabase();
  EXPECT_EQ(connection->Tables(), (std::vector<std::string>{"head", "line", "all_lines"}));

  const auto keys = connection->ForeignKeys();
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].FK_NAME, "line_head");
  EXPECT_EQ(keys[0].PK_TABLE_CATALOG, database);
  EXPECT_EQ(keys[0].FK_TABLE_CATALOG, database);
  EXPECT_EQ(keys[0].PK_TABLE_NAME + "." + keys[0].PK_COLUMN_NAME + "<" + keys[0].FK_TABLE_NAME + "." +
                keys[0].FK_COLUMN_NAME + " " + keys[1].PK_COLUMN_NAME + "<" + keys[1].FK_COLUMN_NAME,
            "head.b<line.hb a<ha");

  const auto primary = connection->PrimaryKeys();
  ASSERT_EQ(primary.size(), 2u);
  EXPECT_EQ(primary[0].TABLE_NAME + ":" + primary[0].PK_NAME + " " + primary[1].TABLE_NAME + ":" +
                primary[1].PK_NAME,
            "head:head_key line:line_key");
  EXPECT_EQ(primary[0].TABLE_CATALOG, database);

  std::vector<std::string> indexes;
  for (const auto& index : connection->Indexes("line")) {
    indexes.push_back(index.name + "(" + index.fields + ")" + (index.primary ? " primary" : "") +
                      (index.unique ? " unique" : ""));
  }
  EXPECT_THAT(indexes, ::testing::UnorderedElementsAre("line_key(id) primary unique",
                                                       "line_note(note;id) unique", "line_ha(ha)"));
  EXPECT_EQ(connection->Indexes("head")[0].fields, "b;a");
}

TEST(OdbcPostgres, ColumnsOfTablesWhoseNamesHoldPatternCharacters) {
  auto connection = OpenFreshPg();
  connection->Execute(
      "CREATE TABLE \"a_b\" (underscore int); CREATE TABLE axb (letter int);"
      "CREATE TABLE \"a\\b\" (backslash int); CREATE TABLE ab (plain int)");
  const auto names_of = [&](std::string_view table) {
    std::vector<std::string> names;
    for (const auto& column : connection->Columns(table)) names.push_back(column.name);
    return names;
  };
  EXPECT_EQ(names_of("a_b"), std::vector<std::string>{"underscore"});
  EXPECT_EQ(names_of("a\\b"), std::vector<std::string>{"backslash"});
  EXPECT_EQ(names_of("ab"), std::vector<std::string>{"plain"});
}

TEST(OdbcPostgres, CommandTimeoutCancelsALongQuery) {
  auto connection = OpenFreshPg();
  connection->SetCommandTimeout(1);
  const auto start = std::chrono::steady_clock::now();
  const auto error = CatchError<DatabaseError>([&] { connection->Query("SELECT pg_sleep(10)")->Next(); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->sqlstate(), "57014");
  EXPECT_THAT(error->what(), HasSubstr("canceling statement"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(connection->QueryAll("SELECT 1")->Rows()[0][0], Value::Integer(1));
}

}  // namespace
}  // namespace tamaril::testing
