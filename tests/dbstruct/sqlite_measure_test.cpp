// The pass that counts a SQLite table's rows before they are read also measures what its columns
// hold beyond their declared types: texts longer than their size, integers beyond the range of
// a 16- or 32-bit type. Only integers count for the range, whatever else a column holds.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "dataset/field.h"
#include "dbaccess/connection.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "support/temp_dir.h"

namespace tamaril::dbstruct {
namespace {

using dataset::FieldType;

class SqliteMeasureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.SetConnectionString("Provider=SQLite;Data Source=" + folder_.path());
    db_.Open();
    db_.CreateDatabase("m");
    db_.SetDefaultDatabase("m");
  }

  // The table's rows as the export opens them, with their count.
  std::unique_ptr<dataset::TDataSet> Open(const std::string& table, int& count) {
    structure_.Scan();
    auto* found = dynamic_cast<tSQLiteTbl_Structure*>(structure_.FindTable(table));
    if (found == nullptr) throw std::runtime_error("no table " + table);
    auto data = found->OpenTableData("", "", count);
    data->Open();
    return data;
  }

  testing::TempDir folder_;
  dbaccess::Connection db_;
  tSQLiteDatabase_Structure structure_{&db_};
};

TEST_F(SqliteMeasureTest, OnlyIntegersWidenAnIntegerColumn) {
  db_.Execute(
      "CREATE TABLE M (Id INTEGER PRIMARY KEY, Wide SMALLINT, Mixed SMALLINT, WideAmongTexts INT, "
      "RealBeyond SMALLINT, LowAmongTexts SMALLINT, InRange SMALLINT, Empty SMALLINT, Name VARCHAR(3))");
  // The first row holds what every column's type reads; the others what the pass must sort out
  // (a real with a whole value would become an integer in these columns: 40000.5 stays a real).
  db_.Execute(
      "INSERT INTO M VALUES (1, 1, 1, 1, 5, 1, -32768, NULL, 'ab'),"
      "(2, 70000, 'text', 5000000000, 40000.5, -40000, 32767, NULL, 'abcd'),"
      "(3, 2, 2.5, 'zzz', 6, 'x', 0, NULL, NULL)");
  int count = -1;
  auto data = Open("M", count);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(data->FieldByName("Wide").DataType(), FieldType::Largeint);
  EXPECT_EQ(data->FieldByName("Mixed").DataType(), FieldType::Smallint);
  EXPECT_EQ(data->FieldByName("WideAmongTexts").DataType(), FieldType::Largeint);
  EXPECT_EQ(data->FieldByName("RealBeyond").DataType(), FieldType::Smallint);
  EXPECT_EQ(data->FieldByName("LowAmongTexts").DataType(), FieldType::Largeint);
  EXPECT_EQ(data->FieldByName("InRange").DataType(), FieldType::Smallint);
  EXPECT_EQ(data->FieldByName("Empty").DataType(), FieldType::Smallint);
  EXPECT_EQ(data->FieldByName("Name").Size, 4);
}

TEST_F(SqliteMeasureTest, AnEmptyTableKeepsItsTypes) {
  db_.Execute("CREATE TABLE E (Id INTEGER PRIMARY KEY, Small SMALLINT, Name VARCHAR(3))");
  int count = -1;
  auto data = Open("E", count);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(data->FieldByName("Small").DataType(), FieldType::Smallint);
  EXPECT_EQ(data->FieldByName("Name").Size, 3);
}

}  // namespace
}  // namespace tamaril::dbstruct
