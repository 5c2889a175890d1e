// The adapter's two ways of writing a database row into the record stream: holding the row
// first (LoadRow, WriteRow) and passing it straight through (SourceFields, WriteRowOf) must
// write the same bytes for every kind of column and value.

#include "replication/dataset_adapter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataset/memory_table.h"
#include "dataset/stream.h"
#include "dbaccess/connection.h"
#include "dbaccess/query_dataset.h"
#include "replication/errors.h"
#include "support/expect_throw_msg.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

using dbaccess::Value;

class AdapterPassThroughTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.SetConnectionString("Provider=SQLite;Data Source=" + folder_.path());
    db_.Open();
    db_.CreateDatabase("a");
    db_.SetDefaultDatabase("a");
    db_.Execute(
        "CREATE TABLE items (id INTEGER PRIMARY KEY, name VARCHAR(5), code CHAR(3), big BIGINT, small "
        "SMALLINT, flag BIT, amount MONEY, price DECIMAL(10,2), ratio FLOAT, at DATETIME, day DATE, "
        "g UNIQUEIDENTIFIER, memo TEXT, data BLOB, fixed BINARY(4), loose)");
    auto insert = db_.Prepare(
        "INSERT INTO items VALUES (:id, :name, :code, :big, :small, 1, 12.5, 3.25, 0.5, "
        "'2024-02-29 13:45:07.123', '2024-02-29', '{6f9619ff-8b86-d011-b42d-00c04fc964ff}', :memo, :data, "
        ":fixed, :loose)");
    const std::string czech = text::Utf8ToAnsi("Žluťoučký kůň");
    // A full row whose name is longer than its column, an empty one (empty texts and blocks,
    // not NULL), and one of NULLs but its key.
    insert->SetParameter("id", Value::Integer(1));
    insert->SetParameter("name", Value::Text(czech));
    insert->SetParameter("code", Value::Text("AB"));
    insert->SetParameter("big", Value::Integer((std::int64_t{1} << 40) + 1));
    insert->SetParameter("small", Value::Integer(70000));
    insert->SetParameter("memo", Value::Text(czech + " <b>\t\r\n"));
    insert->SetParameter("data", Value::Bytes(std::string("\0\x01\xff\0z", 5)));
    insert->SetParameter("fixed", Value::Bytes(std::string("\x07", 1)));
    insert->SetParameter("loose", Value::Double(2.75));
    insert->Execute();
    insert->SetParameter("id", Value::Integer(2));
    for (const char* text : {"name", "code", "memo"}) insert->SetParameter(text, Value::Text(""));
    insert->SetParameter("data", Value::Bytes(""));
    insert->SetParameter("fixed", Value::Bytes(""));
    insert->SetParameter("loose", Value::Integer(3));
    insert->Execute();
    db_.Execute("INSERT INTO items (id) VALUES (3)");
  }

  // The record streams of every row, written both ways under `form`.
  void ExpectSameBytes(tTextForm form, const std::vector<dbaccess::FieldRoom>& room) {
    dbaccess::TQueryDataSet query(db_, "SELECT * FROM items ORDER BY id");
    query.SetUnidirectional(true);
    query.SetFieldRoom(room);
    query.Open();
    tDatasetAdapter holding;
    tDatasetAdapter passing;
    holding.SetTextForm(form);
    passing.SetTextForm(form);
    const std::string layout = tDatasetAdapter::LayoutOf(&query);
    const std::vector<dataset::TField*> fields = passing.SourceFields(query, layout);
    int rows = 0;
    for (; !query.Eof(); query.Next()) {
      SCOPED_TRACE(rows);
      dataset::MemoryWriter held;
      dataset::MemoryWriter passed;
      holding.LoadRow(query, layout);
      holding.WriteRow(&held);
      passing.WriteRowOf(query, fields, &passed);
      EXPECT_EQ(passed.Data(), held.Data());
      ++rows;
    }
    EXPECT_EQ(rows, 3);
  }

  testing::TempDir folder_;
  dbaccess::Connection db_;
};

TEST_F(AdapterPassThroughTest, WritesWhatTheHeldRowWrites) {
  for (const tTextForm form : {tTextForm::Compatible, tTextForm::Unicode}) {
    SCOPED_TRACE(static_cast<int>(form));
    // As declared, then with the room the export measures: the name widened, the small
    // integer as a wide one.
    ExpectSameBytes(form, {});
    ExpectSameBytes(form, {{"name", 13, false}, {"small", 0, true}});
  }
  db_.SetUnicodeText(true);
  ExpectSameBytes(tTextForm::Unicode, {{"name", 13, false}});
}

TEST_F(AdapterPassThroughTest, ANewLayoutTakesNewFields) {
  // Two tables one after the other on one adapter, the second with other fields.
  db_.Execute("CREATE TABLE other (k VARCHAR(3), n INTEGER)");
  db_.Execute("INSERT INTO other VALUES ('abc', 5)");
  tDatasetAdapter adapter;
  dataset::MemoryWriter first;
  {
    dbaccess::TQueryDataSet query(db_, "SELECT id, name FROM items WHERE id = 2");
    query.Open();
    adapter.WriteRowOf(query, adapter.SourceFields(query, tDatasetAdapter::LayoutOf(&query)), &first);
  }
  dbaccess::TQueryDataSet query(db_, "SELECT * FROM other");
  query.Open();
  const std::string layout = tDatasetAdapter::LayoutOf(&query);
  dataset::MemoryWriter passed;
  adapter.WriteRowOf(query, adapter.SourceFields(query, layout), &passed);
  tDatasetAdapter holding;
  dataset::MemoryWriter held;
  holding.LoadRow(query, layout);
  holding.WriteRow(&held);
  EXPECT_EQ(passed.Data(), held.Data());
  EXPECT_NE(passed.Data(), first.Data());
}

TEST(DatasetAdapter, PassingWithoutFieldsFails) {
  tDatasetAdapter adapter;
  dataset::MemoryWriter out;
  dataset::TQVMMemoryTable table;
  EXPECT_THROW_MSG(adapter.WriteRowOf(table, {}, &out), ReplicationError,
                   "DatasetAdapter: Current record not available");
  adapter.WriteRowOf(table, {}, nullptr);
  EXPECT_TRUE(out.Data().empty());
}

}  // namespace
}  // namespace tamaril::replication
