// Access-layer behaviour every back end must show. Only portable SQL: lower-case names, the
// target's spelling of the types that differ between dialects.

#include "dbaccess/access_suite.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/expect_throw_msg.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::testing {
namespace {

using dataset::FieldType;
using dbaccess::DatabaseError;
using dbaccess::DateTime;
using dbaccess::ParameterStyle;
using dbaccess::TransactionGuard;
using dbaccess::Value;
using dbaccess::ValueKind;
using ::testing::AnyOf;
using ::testing::HasSubstr;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return text;
}

std::vector<std::string> Lower(std::vector<std::string> names) {
  for (auto& name : names) name = Lower(name);
  return names;
}

std::int64_t Scalar(dbaccess::Connection& db, const std::string& sql) {
  auto rows = db.QueryAll(sql);
  EXPECT_TRUE(rows->Next()) << sql;
  return rows->Get(std::size_t{0}).AsInteger();
}

void CreatePeople(dbaccess::Connection& db) {
  db.Execute("CREATE TABLE people (id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(40), note TEXT)");
}

// Runs `sql` and returns the DatabaseError it throws (none, with a failure, when it throws none).
std::optional<DatabaseError> ErrorOf(dbaccess::Connection& db, const std::string& sql) {
  return CatchError<DatabaseError>([&] { db.Execute(sql); });
}

TEST_P(AccessSuite, OpenCloseAndReopenKeepsTheData) {
  ASSERT_TRUE(db().IsOpen());
  CreatePeople(db());
  db().Execute("INSERT INTO people (id, name) VALUES (1, 'Ann')");
  db().Close();
  EXPECT_FALSE(db().IsOpen());
  EXPECT_THROW_MSG(db().Execute("SELECT 1"), DatabaseError,
                   text::Utf8ToAnsi("Spojení s databází není otevřeno"));
  db().Open();
  EXPECT_TRUE(db().IsOpen());
  EXPECT_EQ(Scalar(db(), "SELECT count(*) FROM people"), 1);
}

TEST_P(AccessSuite, ExecuteReturnsAffectedRowsSummedOverABatch) {
  CreatePeople(db());
  EXPECT_EQ(db().Execute("INSERT INTO people (id, name) VALUES (1, 'a')"), 1);
  EXPECT_EQ(db().Execute("INSERT INTO people (id, name) VALUES (2, 'b')"), 1);
  EXPECT_EQ(db().Execute("UPDATE people SET note = 'x'"), 2);
  EXPECT_EQ(db().Execute("DELETE FROM people WHERE id = 99"), 0);
  EXPECT_EQ(db().Execute("INSERT INTO people (id, name) VALUES (3, 'c'); "
                         "INSERT INTO people (id, name) VALUES (4, 'd'); "
                         "UPDATE people SET note = 'y' WHERE id >= 2"),
            1 + 1 + 3);
  EXPECT_EQ(Scalar(db(), "SELECT count(*) FROM people WHERE note = 'y'"), 3);
}

TEST_P(AccessSuite, NamedStatementRerunsWithNewValues) {
  CreatePeople(db());
  auto insert = db().Prepare("INSERT INTO people (id, name) VALUES (:id, :name)");
  ASSERT_EQ(insert->Parameters().size(), 2u);
  {
    TransactionGuard transaction(db());
    for (int i = 1; i <= 1000; ++i) {
      insert->SetParameter("id", Value::Integer(i));
      insert->SetParameter("NAME", Value::Text("n" + std::to_string(i)));
      ASSERT_EQ(insert->Execute(), 1);
    }
    transaction.Commit();
  }
  EXPECT_EQ(Scalar(db(), "SELECT count(*) FROM people"), 1000);
  EXPECT_EQ(Scalar(db(), "SELECT sum(id) FROM people"), 500500);

  // One name used twice is one value in two places.
  auto update = db().Prepare("UPDATE people SET name = :v, note = :v WHERE id = :id");
  ASSERT_EQ(update->Parameters().size(), 3u);
  update->SetParameter("v", Value::Text("same"));
  update->SetParameter("id", Value::Integer(7));
  EXPECT_EQ(update->Execute(), 1);
  EXPECT_EQ(Scalar(db(), "SELECT count(*) FROM people WHERE name = 'same' AND note = 'same'"), 1);
}

TEST_P(AccessSuite, PositionalParametersAreDeclared) {
  CreatePeople(db());
  db().Execute("INSERT INTO people (id, name) VALUES (1, 'one')");
  db().Execute("INSERT INTO people (id, name) VALUES (2, 'two')");
  auto select = db().Prepare("SELECT name FROM people WHERE id = ?", ParameterStyle::Positional);
  select->DeclareParameter("id", FieldType::Integer, 0);
  for (const auto& [id, name] : {std::pair{2, "two"}, std::pair{1, "one"}}) {
    select->SetParameter(0, Value::Integer(id));
    auto rows = select->Open();
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->Get("name"), Value::Text(name));
    EXPECT_FALSE(rows->Next());
  }
}

TEST_P(AccessSuite, EveryValueKindRoundTripsTyped) {
  const AccessTarget& target = GetParam();
  db().Execute("CREATE TABLE kinds (id INTEGER NOT NULL PRIMARY KEY, t VARCHAR(40), big BIGINT, d " +
               target.double_type + ", f BOOLEAN, at " + target.datetime_type + ", data " + target.blob_type +
               ")");
  const std::string czech = text::Utf8ToAnsi("žluťoučký kůň");
  const DateTime when{2024, 2, 29, 13, 45, 7, 123};
  const std::string bytes("\0\x01\xff\0z", 5);
  auto insert = db().Prepare(
      "INSERT INTO kinds (id, t, big, d, f, at, data) VALUES (:id, :t, :big, :d, :f, :at, :data)");
  insert->SetParameter("id", Value::Integer(1));
  insert->SetParameter("t", Value::Text(czech));
  insert->SetParameter("big", Value::Integer(-(std::int64_t{1} << 40) - 5));
  insert->SetParameter("d", Value::Double(-1234.625));
  insert->SetParameter("f", Value::Boolean(true));
  insert->SetParameter("at", Value::FromDateTime(when));
  insert->SetParameter("data", Value::Bytes(bytes));
  ASSERT_EQ(insert->Execute(), 1);
  insert->ClearParameters();
  insert->SetParameter("id", Value::Integer(2));
  ASSERT_EQ(insert->Execute(), 1);

  auto rows = db().QueryAll("SELECT t, big, d, f, at, data FROM kinds ORDER BY id");
  ASSERT_TRUE(rows->Next());
  EXPECT_EQ(rows->Get("t"), Value::Text(czech));
  EXPECT_EQ(rows->Get("big"), Value::Integer(-(std::int64_t{1} << 40) - 5));
  EXPECT_EQ(rows->Get("d"), Value::Double(-1234.625));
  EXPECT_EQ(rows->Get("f"), Value::Boolean(true));
  EXPECT_EQ(rows->Get("at"), Value::FromDateTime(when));
  EXPECT_EQ(rows->Get("data"), Value::Bytes(bytes));
  ASSERT_TRUE(rows->Next());
  for (std::size_t i = 0; i < 6; ++i) EXPECT_TRUE(rows->Get(i).IsNull()) << "column " << i;
}

TEST_P(AccessSuite, GuidRoundTripsTyped) {
  const AccessTarget& target = GetParam();
  if (target.guid_type.empty()) GTEST_SKIP() << "no GUID type";
  db().Execute("CREATE TABLE guids (id INTEGER NOT NULL PRIMARY KEY, g " + target.guid_type + ")");
  auto insert = db().Prepare("INSERT INTO guids (id, g) VALUES (1, :g)");
  insert->SetParameter("g", Value::Guid("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"));
  insert->Execute();
  auto rows = db().QueryAll("SELECT g FROM guids");
  ASSERT_TRUE(rows->Next());
  EXPECT_EQ(rows->Get("g"), Value::Guid("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"));
}

TEST_P(AccessSuite, ColonsInLiteralsAndCommentsAreNoParameters) {
  CreatePeople(db());
  db().Execute("INSERT INTO people (id, name) VALUES (1, 'a')");
  auto select = db().Prepare(
      "SELECT ':text' AS a, id /* :block */ FROM people -- :line\n"
      "WHERE id = :id");
  ASSERT_EQ(select->Parameters().size(), 1u);
  EXPECT_EQ(select->Parameters()[0].name, "id");
  select->SetParameter("id", Value::Integer(1));
  auto rows = select->Open();
  ASSERT_TRUE(rows->Next());
  EXPECT_EQ(rows->Get("a").AsString(), ":text");
}

TEST_P(AccessSuite, SelectDescribesItsColumns) {
  const AccessTarget& target = GetParam();
  db().Execute("CREATE TABLE meta (id INTEGER NOT NULL, name VARCHAR(20), amount " + target.double_type +
               ", at " + target.datetime_type + ")");
  auto rows = db().Query("SELECT id, name, amount, at FROM meta");
  const auto& columns = rows->Columns();
  ASSERT_EQ(columns.size(), 4u);
  EXPECT_EQ(Lower(columns[0].name), "id");
  EXPECT_EQ(Lower(columns[3].name), "at");
  EXPECT_EQ(columns[0].field_type, FieldType::Integer);
  EXPECT_THAT(columns[1].field_type,
              AnyOf(FieldType::String, FieldType::WideString));  // as the driver reports it
  EXPECT_EQ(columns[1].size, 20);
  EXPECT_EQ(columns[2].field_type, FieldType::Float);
  EXPECT_EQ(columns[3].field_type, FieldType::DateTime);
  EXPECT_EQ(columns[0].nullable, false);
  EXPECT_EQ(columns[1].nullable, true);
  EXPECT_FALSE(rows->Next());
}

TEST_P(AccessSuite, CursorReadsForwardAndFetchedRowsRewind) {
  CreatePeople(db());
  for (const char* row : {"3, 'c'", "1, 'a'", "2, 'b'"})
    db().Execute(std::string("INSERT INTO people (id, name) VALUES (") + row + ")");
  auto cursor = db().Query("SELECT id, name FROM people ORDER BY id");
  std::string seen;
  while (cursor->Next())
    seen += std::to_string(cursor->Get(std::size_t{0}).AsInteger()) + cursor->Get("NAME").AsString();
  EXPECT_EQ(seen, "1a2b3c");
  EXPECT_FALSE(cursor->Next());

  auto all = db().QueryAll("SELECT name FROM people ORDER BY id DESC");
  ASSERT_EQ(all->RowCount(), 3u);
  while (all->Next()) {
  }
  all->Rewind();
  ASSERT_TRUE(all->Next());
  EXPECT_EQ(all->Get("name"), Value::Text("c"));
}

TEST_P(AccessSuite, TablesListsTablesThenViewsWithoutSystemTables) {
  db().Execute("CREATE TABLE b_table (id INTEGER)");
  db().Execute("CREATE TABLE a_table (id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(10) UNIQUE)");
  db().Execute("CREATE VIEW a_view AS SELECT id FROM b_table");
  EXPECT_THAT(Lower(db().Tables()), ::testing::ElementsAre("a_table", "b_table", "a_view"));
}

TEST_P(AccessSuite, ForeignKeysComeInKeyColumnOrder) {
  db().Execute(
      "CREATE TABLE parent (b INTEGER NOT NULL, a INTEGER NOT NULL, CONSTRAINT pk_parent PRIMARY KEY (a, "
      "b))");
  db().Execute(
      "CREATE TABLE child (id INTEGER NOT NULL PRIMARY KEY, cb INTEGER, ca INTEGER, "
      "CONSTRAINT fk_child_parent FOREIGN KEY (ca, cb) REFERENCES parent (a, b))");
  const auto keys = db().ForeignKeys();
  ASSERT_EQ(keys.size(), 2u);
  const std::string catalog = Lower(db().DefaultDatabase());
  const std::pair<const char*, const char*> expected[] = {{"ca", "a"}, {"cb", "b"}};
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(Lower(keys[i].FK_COLUMN_NAME), expected[i].first);
    EXPECT_EQ(Lower(keys[i].PK_COLUMN_NAME), expected[i].second);
    EXPECT_EQ(Lower(keys[i].FK_TABLE_NAME), "child");
    EXPECT_EQ(Lower(keys[i].PK_TABLE_NAME), "parent");
    EXPECT_EQ(Lower(keys[i].FK_NAME), "fk_child_parent");
    EXPECT_EQ(Lower(keys[i].FK_TABLE_CATALOG), catalog);
    EXPECT_EQ(Lower(keys[i].PK_TABLE_CATALOG), catalog);
  }
}

TEST_P(AccessSuite, PrimaryKeysListOnlyTablesWithAKey) {
  db().Execute("CREATE TABLE keyed (id INTEGER NOT NULL, CONSTRAINT pk_keyed PRIMARY KEY (id))");
  db().Execute("CREATE TABLE loose (id INTEGER)");
  db().Execute("CREATE TABLE other (id INTEGER NOT NULL PRIMARY KEY)");
  std::vector<std::string> tables;
  for (const auto& key : db().PrimaryKeys()) {
    tables.push_back(Lower(key.TABLE_NAME));
    EXPECT_FALSE(key.PK_NAME.empty());
    EXPECT_EQ(Lower(key.TABLE_CATALOG), Lower(db().DefaultDatabase()));
    if (Lower(key.TABLE_NAME) == "keyed") {
      EXPECT_EQ(Lower(key.PK_NAME), "pk_keyed");
    }
  }
  EXPECT_THAT(tables, ::testing::UnorderedElementsAre("keyed", "other"));
}

TEST_P(AccessSuite, ColumnsOfATableInOrder) {
  db().Execute(
      "CREATE TABLE cols (id INTEGER NOT NULL PRIMARY KEY, code VARCHAR(12) NOT NULL, note TEXT, big "
      "BIGINT)");
  const auto columns = db().Columns("cols");
  ASSERT_EQ(columns.size(), 4u);
  const std::vector<std::tuple<std::string, bool>> expected = {
      {"id", false}, {"code", false}, {"note", true}, {"big", true}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(Lower(columns[i].name), std::get<0>(expected[i]));
    EXPECT_EQ(columns[i].nullable, std::get<1>(expected[i])) << columns[i].name;
  }
  EXPECT_EQ(columns[0].field_type, FieldType::Integer);
  EXPECT_THAT(columns[1].field_type, AnyOf(FieldType::String, FieldType::WideString));
  EXPECT_EQ(columns[1].size, 12);
  EXPECT_EQ(columns[3].field_type, FieldType::Largeint);
}

TEST_P(AccessSuite, IndexesCarryPrimaryUniqueAndFields) {
  db().Execute(
      "CREATE TABLE idx (id INTEGER NOT NULL, code VARCHAR(10) NOT NULL, a INTEGER, b INTEGER, "
      "CONSTRAINT pk_idx PRIMARY KEY (id))");
  db().Execute("CREATE UNIQUE INDEX ux_code ON idx (code)");
  db().Execute("CREATE INDEX ix_ba ON idx (b, a)");
  const auto indexes = db().Indexes("idx");
  ASSERT_EQ(indexes.size(), 3u);
  int primaries = 0;
  for (const auto& index : indexes) {
    const std::string name = Lower(index.name);
    if (index.primary) {
      ++primaries;
      EXPECT_TRUE(index.unique);
      EXPECT_EQ(Lower(index.fields), "id");
    } else if (name == "ux_code") {
      EXPECT_TRUE(index.unique);
      EXPECT_EQ(Lower(index.fields), "code");
    } else {
      EXPECT_EQ(name, "ix_ba");
      EXPECT_FALSE(index.unique);
      EXPECT_EQ(Lower(index.fields), "b;a");
    }
  }
  EXPECT_EQ(primaries, 1);
}

TEST_P(AccessSuite, TransactionGuardRollsBackUnlessCommitted) {
  CreatePeople(db());
  {
    TransactionGuard transaction(db());
    db().Execute("INSERT INTO people (id, name) VALUES (1, 'lost')");
  }
  EXPECT_FALSE(db().InTransaction());
  EXPECT_EQ(Scalar(db(), "SELECT count(*) FROM people"), 0);
  {
    TransactionGuard transaction(db());
    db().Execute("INSERT INTO people (id, name) VALUES (2, 'kept')");
    transaction.Commit();
  }
  EXPECT_EQ(Scalar(db(), "SELECT count(*) FROM people"), 1);
}

TEST_P(AccessSuite, ErrorsCarryTheDriverMessageAndSqlState) {
  const auto syntax = ErrorOf(db(), "SELEC 1");
  ASSERT_TRUE(syntax);
  EXPECT_THAT(Lower(syntax->what()), HasSubstr("syntax error"));
  EXPECT_THAT(syntax->what(), HasSubstr("SELEC"));
  EXPECT_EQ(syntax->sqlstate().size(), 5u);
  const auto missing = ErrorOf(db(), "SELECT * FROM missing_table");
  ASSERT_TRUE(missing);
  EXPECT_THAT(missing->what(), HasSubstr("missing_table"));
  EXPECT_FALSE(missing->sqlstate().empty());
}

TEST_P(AccessSuite, SwitchingToAMissingDatabaseKeepsTheCurrentOne) {
  CreatePeople(db());
  const std::string current = db().DefaultDatabase();
  const auto error = CatchError<DatabaseError>([&] { db().SetDefaultDatabase("no_such_database"); });
  ASSERT_TRUE(error);
  EXPECT_THAT(error->what(), HasSubstr("no_such_database"));
  EXPECT_EQ(db().DefaultDatabase(), current);
  EXPECT_EQ(Scalar(db(), "SELECT count(*) FROM people"), 0);
}

TEST_P(AccessSuite, SwitchesBetweenExistingDatabases) {
  if (!GetParam().supports_database_switch) GTEST_SKIP() << "the target cannot switch databases";
  CreatePeople(db());
  const std::string first = db().DefaultDatabase();
  db().CreateDatabase("access_switch_target");
  db().SetDefaultDatabase("access_switch_target");
  EXPECT_EQ(Lower(db().DefaultDatabase()), "access_switch_target");
  EXPECT_TRUE(db().Tables().empty());
  db().SetDefaultDatabase(first);
  EXPECT_THAT(Lower(db().Tables()), ::testing::ElementsAre("people"));
}

}  // namespace
}  // namespace tamaril::testing
