// Query results as read-only datasets: fields, values, re-running, the two reading modes and
// copies into memory tables, on SQLite files and through the shared access suite.

#include "dbaccess/query_dataset.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dataset/errors.h"
#include "dataset/memory_table.h"
#include "dbaccess/access_suite.h"
#include "support/expect_throw_msg.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::testing {
namespace {

using dataset::DatasetError;
using dataset::Variant;
using dbaccess::DatabaseError;
using dbaccess::TQueryDataSet;
using dbaccess::Value;

const std::string kBytes("\0\x01\xff\0z", 5);
// 2024-02-29 13:45:07.123 in days since 30 December 1899.
constexpr double kWhen = 45351 + 49507123.0 / 86400000.0;

class QueryDataSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.SetConnectionString("Provider=SQLite;Data Source=" + folder_.path());
    db_.Open();
    db_.CreateDatabase("q");
    db_.SetDefaultDatabase("q");
    db_.Execute(
        "CREATE TABLE items (id INTEGER PRIMARY KEY, name VARCHAR(40), wide NVARCHAR(20), code CHAR(3), "
        "big BIGINT, flag BIT, amount MONEY, price DECIMAL(10,2), ratio FLOAT, at DATETIME, day DATE, "
        "g UNIQUEIDENTIFIER, memo TEXT, data BLOB)");
    auto insert = db_.Prepare(
        "INSERT INTO items VALUES (:id, :name, :name, 'AB', :big, 1, 12.5, 3.25, 0.5, "
        "'2024-02-29 13:45:07.123', '2024-02-29', '{6F9619FF-8B86-D011-B42D-00C04FC964FF}', :name, :data)");
    for (int id : {1, 3}) {
      insert->SetParameter("id", Value::Integer(id));
      insert->SetParameter("name", Value::Text(czech_ + std::to_string(id)));
      insert->SetParameter("big", Value::Integer((std::int64_t{1} << 40) + id));
      insert->SetParameter("data", Value::Bytes(kBytes));
      insert->Execute();
    }
    db_.Execute("INSERT INTO items (id) VALUES (2)");
  }

  TempDir folder_;
  dbaccess::Connection db_;
  const std::string czech_ = text::Utf8ToAnsi("Žluťoučký kůň ");
};

TEST_F(QueryDataSetTest, FieldsFollowTheColumnsWithUniqueNamesAndValuesTheirEncodings) {
  TQueryDataSet query(db_, "SELECT * FROM items ORDER BY id");
  query.Open();
  EXPECT_EQ(dataset::BuildFieldLayout(query, false),
            "id;Integer;0;0;name;String;40;0;wide;String;20;0;code;FixedChar;3;0;big;Largeint;0;0;"
            "flag;Boolean;0;0;amount;Currency;0;0;price;BCD;2;0;10;ratio;Float;0;0;at;DateTime;0;0;"
            "day;Date;0;0;g;Guid;38;0;memo;Memo;0;0;data;Blob;0;0");
  EXPECT_EQ(query.FieldByName("name").AsString(), czech_ + "1");
  EXPECT_EQ(query.FieldByName("wide").AsString(), czech_ + "1");
  EXPECT_EQ(query.FieldByName("big").AsInteger(), (std::int64_t{1} << 40) + 1);
  EXPECT_TRUE(query.FieldByName("flag").AsBoolean());
  EXPECT_DOUBLE_EQ(query.FieldByName("amount").AsFloat(), 12.5);
  EXPECT_DOUBLE_EQ(query.FieldByName("price").AsFloat(), 3.25);
  EXPECT_NEAR(query.FieldByName("at").AsDateTime(), kWhen, 1e-9);
  EXPECT_DOUBLE_EQ(query.FieldByName("day").AsDateTime(), 45351);
  EXPECT_EQ(query.FieldByName("g").AsString(), "{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
  EXPECT_EQ(query.FieldByName("data").AsVariant(), Variant::Bytes(kBytes));
  query.Next();
  for (const auto& field : query.Fields()) EXPECT_EQ(field->IsNull(), field->Name != "id") << field->Name;

  TQueryDataSet join(db_, "SELECT a.id, b.id FROM items a JOIN items b ON b.id = a.id + 1");
  join.Open();
  EXPECT_EQ(join.FieldByName("id_1").AsInteger(), join.FieldByName("id").AsInteger() + 1);
}

TEST_F(QueryDataSetTest, ReopeningRerunsThePreparedStatementWithNewValues) {
  for (bool unidirectional : {false, true}) {
    TQueryDataSet query(db_, "SELECT id FROM items WHERE id >= :low ORDER BY id");
    query.SetUnidirectional(unidirectional);
    query.SetParameter("low", Value::Integer(2));
    query.Open();
    const dbaccess::Statement* prepared = query.PreparedStatement();
    EXPECT_EQ(query.FieldByName("id").AsInteger(), 2);
    query.Close();
    query.SetParameter("low", Value::Integer(3));
    query.Open();
    EXPECT_EQ(query.PreparedStatement(), prepared);
    EXPECT_EQ(query.FieldByName("id").AsInteger(), 3);
    query.Close();
    query.Open();  // the same statement keeps its values: a fresh one would compare with NULL
    EXPECT_EQ(query.FieldByName("id").AsInteger(), 3);
    query.Next();
    EXPECT_TRUE(query.Eof());
  }
}

TEST_F(QueryDataSetTest, ForwardOnlyReadsEveryRowButNeverGoesBack) {
  TQueryDataSet query(db_, "SELECT id FROM items ORDER BY id");
  query.SetUnidirectional(true);
  query.Open();
  query.First();
  EXPECT_EQ(query.FieldByName("id").AsInteger(), 1);
  query.Next();
  const std::string refused = "Operation not allowed on a unidirectional dataset";
  EXPECT_THROW_MSG(query.Prior(), DatasetError, refused);
  EXPECT_THROW_MSG(query.First(), DatasetError, refused);
  EXPECT_EQ(query.FieldByName("id").AsInteger(), 2);
  query.Next();
  EXPECT_EQ(query.FieldByName("id").AsInteger(), 3);
  query.Next();
  EXPECT_TRUE(query.Eof());
  EXPECT_EQ(query.RecordCount(), -1);
  EXPECT_THROW_MSG(query.Prior(), DatasetError, refused);
  EXPECT_THROW_MSG(query.Last(), DatasetError, refused);
  EXPECT_THROW_MSG(query.First(), DatasetError, refused);
  EXPECT_THROW_MSG(query.GotoBookmark(std::string(8, '\1')), DatasetError, refused);
  EXPECT_THROW_MSG(query.Locate("id", Variant::Integer(1)), DatasetError, refused);
}

TEST_F(QueryDataSetTest, FullyFetchedNavigatesSearchesAndKeepsBookmarks) {
  TQueryDataSet query(db_, "SELECT id, name FROM items ORDER BY id");
  query.Open();
  EXPECT_EQ(query.RecordCount(), 3);
  query.Last();
  EXPECT_EQ(query.RecNo(), 2);
  const std::string last = query.GetBookmark();
  query.Prior();
  EXPECT_EQ(query.FieldByName("id").AsInteger(), 2);
  EXPECT_EQ(query.Lookup("name", Variant::String(czech_ + "1"), "id"), Variant::Integer(1));
  EXPECT_EQ(query.FieldByName("id").AsInteger(), 2);
  EXPECT_TRUE(query.Locate("NAME", Variant::String(text::Utf8ToAnsi("žluťoučký kůň 3")),
                           static_cast<int>(dataset::LocateOption::CaseInsensitive)));
  EXPECT_EQ(query.FieldByName("id").AsInteger(), 3);
  EXPECT_FALSE(query.Locate("id;name", Variant::Array({Variant::Integer(2), Variant::String("x")})));
  query.First();
  query.GotoBookmark(last);
  EXPECT_EQ(query.FieldByName("id").AsInteger(), 3);
}

TEST_F(QueryDataSetTest, TellsWhichFieldsOfTheRowLostCharacters) {
  // U+03A9 and U+2192 have no Windows-1250 byte; a '?' of the text itself is no loss.
  db_.Execute("UPDATE items SET name = 'x' || char(937), memo = 'ok?' WHERE id = 1");
  db_.Execute("UPDATE items SET memo = char(8594) WHERE id = 3");
  for (bool unidirectional : {false, true}) {
    TQueryDataSet query(db_, "SELECT id, name, memo FROM items ORDER BY id");
    query.SetUnidirectional(unidirectional);
    query.Open();
    EXPECT_EQ(query.UnmappableFields(), (std::vector<std::string>{"name"})) << unidirectional;
    EXPECT_EQ(query.FieldByName("name").AsString(), "x?");
    query.Next();
    EXPECT_TRUE(query.UnmappableFields().empty()) << unidirectional;
    query.Next();
    EXPECT_EQ(query.UnmappableFields(), (std::vector<std::string>{"memo"})) << unidirectional;
    if (!unidirectional) {
      query.First();
      EXPECT_EQ(query.UnmappableFields(), (std::vector<std::string>{"name"}));
    }
    query.Close();
    EXPECT_TRUE(query.UnmappableFields().empty());
  }
}

TEST_F(QueryDataSetTest, RefusesEditingAndStatementsWithoutRows) {
  TQueryDataSet query(db_, "SELECT id FROM items");
  query.SetReadOnly(false);
  query.Open();
  const std::string refused = "Cannot modify a read-only dataset";
  EXPECT_THROW_MSG(query.Edit(), DatasetError, refused);
  EXPECT_THROW_MSG(query.Insert(), DatasetError, refused);
  EXPECT_THROW_MSG(query.Delete(), DatasetError, refused);
  TQueryDataSet update(db_, "UPDATE items SET name = 'x'");
  EXPECT_THROW_MSG(update.Open(), DatabaseError, "CommandText does not return a result set");
  EXPECT_FALSE(update.Active());
}

TEST_F(QueryDataSetTest, MemoryCopiesAndRecordsTakeTheRows) {
  for (bool unidirectional : {false, true}) {
    TQueryDataSet query(db_, "SELECT * FROM items ORDER BY id");
    query.SetUnidirectional(unidirectional);
    dataset::TQVMClientMemoryDataSet copy;
    copy.SetSourceDataset(&query);
    copy.Open();
    EXPECT_FALSE(query.Active());
    query.Open();
    EXPECT_EQ(copy.FieldLayout(), dataset::BuildFieldLayout(query, false));
    ASSERT_EQ(copy.RecordCount(), 3);
    for (copy.First(); !copy.Eof(); copy.Next(), query.Next()) {
      for (const auto& field : query.Fields()) {
        EXPECT_EQ(copy.FieldByName(field->Name).AsVariant(), field->AsVariant()) << field->Name;
      }
    }
    query.Close();
    query.Open();
    dataset::TQVMRecord record(copy.FieldDescs());
    record.LoadFromDataSet(query, true);
    EXPECT_EQ(record.GetValue(copy.FieldByName("data").FieldNo()), Variant::Bytes(kBytes));
    EXPECT_EQ(record.GetValue(copy.FieldByName("wide").FieldNo()), Variant::String(czech_ + "1"));
  }
}

TEST_P(AccessSuite, QueryDataSetReadsAndRerunsOnEveryBackEnd) {
  const AccessTarget& target = GetParam();
  db().Execute("CREATE TABLE people (id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(30), at " +
               target.datetime_type + ", data " + target.blob_type + ")");
  auto insert = db().Prepare("INSERT INTO people (id, name, at, data) VALUES (:id, :name, :at, :data)");
  for (int id = 1; id <= 3; ++id) {
    insert->SetParameter("id", Value::Integer(id));
    insert->SetParameter("name", Value::Text(text::Utf8ToAnsi("Čeněk ") + std::to_string(id)));
    insert->SetParameter("at", Value::FromDateTime({2024, 2, 29, 13, 45, 7, 123}));
    insert->SetParameter("data", Value::Bytes(kBytes));
    insert->Execute();
  }
  TQueryDataSet query(db(), "SELECT id, name, at, data FROM people WHERE id > :id ORDER BY id");
  query.SetUnidirectional(true);
  query.SetParameter("id", Value::Integer(1));
  query.Open();
  EXPECT_EQ(query.FieldByName("name").AsString(), text::Utf8ToAnsi("Čeněk 2"));
  EXPECT_NEAR(query.FieldByName("at").AsDateTime(), kWhen, 1e-9);
  EXPECT_EQ(query.FieldByName("data").AsVariant(), Variant::Bytes(kBytes));
  query.Close();
  query.SetParameter("id", Value::Integer(2));
  query.Open();
  EXPECT_EQ(query.FieldByName("id").AsInteger(), 3);
  query.Next();
  EXPECT_TRUE(query.Eof());
}

}  // namespace
}  // namespace tamaril::testing
