// The behaviour both structure forms share, run over each: the SQLite form on a real database
// file, the SQL Server form on the scripted connection.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "dataset/field.h"
#include "dataset/memory_table.h"
#include "dbaccess/connection.h"
#include "dbstruct/errors.h"
#include "dbstruct/field_tags.h"
#include "dbstruct/mssql/database_structure.h"
#include "dbstruct/mssql/table_structure.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "dbstruct/structure_forms.h"
#include "mssql_scripted_backend.h"
#include "support/expect_throw_msg.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::dbstruct {
namespace {

using dataset::FieldType;
using dbaccess::Value;
using testing::Column;

/// One form with the same shop on it: Lines (Id, OrderId -> Orders.Id, Qty), Orders (Id, RowGuid
/// RG, Name with a unique index), Pairs (primary key A, B; Note).
class Form {
 public:
  virtual ~Form() = default;
  /// The scanned structure of the shop.
  virtual tDatabase_Structure& Scan() = 0;
  /// Adds an empty table of that name before the scan.
  virtual void AddTable(const std::string& name) = 0;
  /// Adds a rep_USERFK table with one row before the scan.
  virtual void AddUserKey(const std::string& master, const std::string& detail, const std::string& name,
                          const std::string& master_column, const std::string& detail_column) = 0;
  /// Number of rows the database was asked to change so far.
  virtual int WritesSent() = 0;
  /// The Name stored (or last sent) for order `id`.
  virtual std::string StoredName(int id) = 0;
  /// A second connection to the same database.
  virtual dbaccess::Connection& Other() = 0;
  /// The connection the structure's property accessor runs on.
  virtual const dbaccess::Connection& AccessorConnection() = 0;
};

class SqliteForm : public Form {
 public:
  SqliteForm() {
    Open(db_);
    db_.CreateDatabase("s");
    db_.SetDefaultDatabase("s");
    db_.Execute(
        "CREATE TABLE Lines (Id INTEGER NOT NULL PRIMARY KEY, OrderId INTEGER REFERENCES Orders(Id), Qty "
        "INTEGER);"
        "CREATE TABLE Orders (Id INTEGER NOT NULL PRIMARY KEY, RG UNIQUEIDENTIFIER ROWGUIDCOL, Name "
        "VARCHAR(20));"
        "CREATE UNIQUE INDEX UQ_Orders_Name ON Orders (Name);"
        "CREATE TABLE Pairs (A INTEGER NOT NULL, B INTEGER NOT NULL, Note VARCHAR(20), PRIMARY KEY (A, B));"
        "INSERT INTO Orders VALUES (1, '{11111111-1111-1111-1111-111111111111}', 'one')");
    Open(other_);
    other_.SetDefaultDatabase("s");
  }
  tDatabase_Structure& Scan() override {
    structure_.Scan();
    return structure_;
  }
  void AddTable(const std::string& name) override {
    db_.Execute("CREATE TABLE " + QuoteName(name) + " (X INTEGER)");
  }
  void AddUserKey(const std::string& master, const std::string& detail, const std::string& name,
                  const std::string& master_column, const std::string& detail_column) override {
    db_.Execute(
        "CREATE TABLE rep_USERFK (PK_TableName VARCHAR(128), FK_TableName VARCHAR(128), ConstraintName "
        "VARCHAR(128), PK_Field VARCHAR(128), FK_Field VARCHAR(128))");
    auto insert = db_.Prepare("INSERT INTO rep_USERFK VALUES (:a, :b, :c, :d, :e)");
    insert->SetParameter("a", Value::Text(master));
    insert->SetParameter("b", Value::Text(detail));
    insert->SetParameter("c", Value::Text(name));
    insert->SetParameter("d", Value::Text(master_column));
    insert->SetParameter("e", Value::Text(detail_column));
    insert->Execute();
  }
  int WritesSent() override { return static_cast<int>(One("SELECT total_changes()").AsInteger()); }
  std::string StoredName(int id) override {
    return One("SELECT Name FROM Orders WHERE Id = " + std::to_string(id)).AsString();
  }
  dbaccess::Connection& Other() override { return other_; }
  const dbaccess::Connection& AccessorConnection() override { return structure_.PropAccessor().Connection(); }

 private:
  void Open(dbaccess::Connection& connection) {
    connection.SetConnectionString("Provider=SQLite;Data Source=" + folder_.path());
    connection.Open();
  }
  Value One(const std::string& sql) {
    auto rows = db_.Query(sql);
    return rows->Next() ? rows->Get(0) : Value();
  }

  tamaril::testing::TempDir folder_;
  dbaccess::Connection db_;
  dbaccess::Connection other_;
  tSQLiteDatabase_Structure structure_{&db_};
};

class MssqlForm : public Form {
 public:
  MssqlForm() {
    auto& b = *server_.backend;
    b.tables = {"Lines", "Orders", "Pairs"};
    b.columns["Lines"] = {Column("Id", FieldType::Integer, false),
                          Column("OrderId", FieldType::Integer, true),
                          Column("Qty", FieldType::Integer, true)};
    b.indexes["Lines"] = {{"PK_Lines", "Id", true, true}};
    b.columns["Orders"] = {Column("Id", FieldType::Integer, false), Column("RG", FieldType::Guid, true),
                           Column("Name", FieldType::String, true)};
    b.indexes["Orders"] = {{"PK_Orders", "Id", true, true}, {"UQ_Orders_Name", "Name", false, true}};
    b.columns["Pairs"] = {Column("A", FieldType::Integer, false), Column("B", FieldType::Integer, false),
                          Column("Note", FieldType::String, true)};
    b.indexes["Pairs"] = {{"PK_Pairs", "A;B", true, true}};
    b.foreign_keys = {{"SHOP", "Orders", "Id", "SHOP", "Lines", "OrderId", "FK_Lines_1"}};
    b.object_properties = {{"Orders|TableHasRowGuidCol", 1}};
    b.column_properties = {{"Orders|RG|IsRowGuidCol", 1}};
    b.procedures["sp_helplanguage"] = testing::MakeRows({{"langid", FieldType::Integer}}, {});
  }
  tDatabase_Structure& Scan() override {
    structure_ =
        std::make_unique<tADODatabase_Structure>(server_.connection, [](const std::string&, std::uint8_t& v) {
          v = 16;
          return true;
        });
    structure_->Scan();
    return *structure_;
  }
  void AddTable(const std::string& name) override {
    server_.backend->tables.push_back(name);
    server_.backend->columns[name] = {Column("X", FieldType::Integer, true)};
  }
  void AddUserKey(const std::string& master, const std::string& detail, const std::string& name,
                  const std::string& master_column, const std::string& detail_column) override {
    auto& b = *server_.backend;
    b.tables.push_back("rep_USERFK");
    const std::vector<std::pair<std::string, FieldType>> columns = {{"PK_TableName", FieldType::String},
                                                                    {"FK_TableName", FieldType::String},
                                                                    {"ConstraintName", FieldType::String},
                                                                    {"PK_Field", FieldType::String},
                                                                    {"FK_Field", FieldType::String}};
    for (const auto& [column, type] : columns) b.columns["rep_USERFK"].push_back(Column(column, type, true));
    b.answers.push_back({"Select Count(*) from rep_USERFK", testing::Scalar(1)});
    b.answers.push_back(
        {"Select * from rep_USERFK",
         testing::MakeRows(columns, {{Value::Text(master), Value::Text(detail), Value::Text(name),
                                      Value::Text(master_column), Value::Text(detail_column)}})});
  }
  int WritesSent() override {
    int writes = 0;
    for (const auto& text : server_.backend->Statements()) {
      if (text.starts_with("UPDATE") || text.starts_with("INSERT") || text.starts_with("Delete")) ++writes;
    }
    return writes;
  }
  std::string StoredName(int) override {
    for (auto run = server_.backend->sent.rbegin(); run != server_.backend->sent.rend(); ++run) {
      if (!run->text.starts_with("UPDATE")) continue;
      for (const auto& parameter : run->params) {
        if (parameter.name == "Name") return parameter.value.AsString();
      }
    }
    return "one";
  }
  dbaccess::Connection& Other() override { return other_.connection; }
  const dbaccess::Connection& AccessorConnection() override {
    return structure_->PropAccessor().Connection();
  }

 private:
  testing::ScriptedServer server_;
  testing::ScriptedServer other_;
  std::unique_ptr<tADODatabase_Structure> structure_;
};

struct FormCase {
  std::string name;
  std::function<std::unique_ptr<Form>()> make;
};

std::ostream& operator<<(std::ostream& out, const FormCase& form) { return out << form.name; }

class KeyedForms : public ::testing::TestWithParam<FormCase> {
 protected:
  KeyedForms() : form_(GetParam().make()) {}
  tKeyedTbl_Structure& Table(tDatabase_Structure& structure, const std::string& name) {
    auto* table = dynamic_cast<tKeyedTbl_Structure*>(structure.FindTable(name));
    if (table == nullptr) throw std::runtime_error("no table " + name);
    return *table;
  }

  std::unique_ptr<Form> form_;
};

/// One order row (Id, RG, Name) in memory, every change flag off.
std::unique_ptr<dataset::TQVMMemoryTable> OrderRow(const std::string& name) {
  auto row = std::make_unique<dataset::TQVMMemoryTable>();
  row->SetFieldLayout("Id;Integer;0;0;RG;Guid;38;0;Name;String;20;0");
  row->Open();
  row->Append();
  row->FieldByName("Id").SetAsInteger(1);
  row->FieldByName("RG").SetAsString("{11111111-1111-1111-1111-111111111111}");
  row->FieldByName("Name").SetAsString(name);
  row->Post();
  return row;
}

TEST_P(KeyedForms, ScanGivesTheSameModelAndListing) {
  tDatabase_Structure& structure = form_->Scan();
  std::ostringstream listing;
  WriteStructureListing(structure, listing);
  EXPECT_EQ(listing.str(),
            "Orders identity= rowguid=RG intkey=Id pk=Id masters=\n"
            "Lines identity= rowguid= intkey=Id pk=Id masters=Orders\n"
            "Pairs identity= rowguid= intkey= pk=A,B masters=\n"
            "FK FK_Lines_1 Lines(OrderId) -> Orders(Id)\n");
  EXPECT_EQ(structure.AliasPrefix, "T_");
  tKeyedTbl_Structure& orders = Table(structure, "Orders");
  EXPECT_TRUE(orders.Identifiable);
  EXPECT_EQ(orders.UniqueIndexCount, 1);
  EXPECT_FALSE(Table(structure, "Pairs").Identifiable);
}

TEST_P(KeyedForms, LoadingATableAgainStartsFromScratch) {
  tDatabase_Structure& structure = form_->Scan();
  tKeyedTbl_Structure& lines = Table(structure, "Lines");
  lines.KeepEnabledTriggers = {"tr"};
  lines.IgnoreRowGuid = true;
  lines.LoadStructure("Lines");
  EXPECT_EQ(lines.FieldDefs.size(), 3u);
  EXPECT_EQ(lines.IndexDefs.size(), 1u);
  EXPECT_EQ(lines.PrimaryKeyFields, std::vector<std::string>{"Id"});
  EXPECT_EQ(lines.Masters().Count(), 0);  // the database registers the keys again
  EXPECT_TRUE(lines.KeepEnabledTriggers.empty());
  EXPECT_EQ(lines.UniqueIndexCount, 0);
  // A table loaded under another name keeps nothing of the first one.
  lines.LoadStructure("Pairs");
  EXPECT_EQ(lines.IntKeyColumn, "");
  EXPECT_EQ(lines.PrimaryKeyFields, (std::vector<std::string>{"A", "B"}));
  EXPECT_FALSE(lines.Identifiable);
}

TEST_P(KeyedForms, AliasPrefixAvoidsEveryTableName) {
  form_->AddTable("t_log");
  form_->AddTable("TT_audit");
  EXPECT_EQ(form_->Scan().AliasPrefix, "TTT_");
}

TEST_P(KeyedForms, AnyNonZeroTagWritesTheFieldAndNoTagWritesNothing) {
  tDatabase_Structure& structure = form_->Scan();
  tKeyedTbl_Structure& orders = Table(structure, "Orders");
  auto row = OrderRow("two");
  const int before = form_->WritesSent();
  orders.UpdateRecord(*row);  // nothing flagged: no "SET  WHERE" statement at all
  EXPECT_EQ(form_->WritesSent(), before);
  EXPECT_EQ(form_->StoredName(1), "one");

  row->FieldByName("Name").Tag = 2;  // a handler's own non-zero tag
  EXPECT_TRUE(IsFieldToWrite(row->FieldByName("Name")));
  orders.UpdateRecord(*row);
  EXPECT_EQ(form_->WritesSent(), before + 1);
  EXPECT_EQ(form_->StoredName(1), "two");
}

TEST_P(KeyedForms, KeyValuesTextListsEveryKeyColumn) {
  tDatabase_Structure& structure = form_->Scan();
  auto row = std::make_unique<dataset::TQVMMemoryTable>();
  row->SetFieldLayout("A;Integer;0;0;B;Integer;0;0;Note;String;20;0");
  row->Open();
  row->Append();
  row->FieldByName("A").SetAsInteger(4);
  row->FieldByName("B").SetAsInteger(-2);
  row->Post();
  EXPECT_EQ(Table(structure, "Pairs").GetKeyValuesText(*row), "A=4,B=-2");
}

TEST_P(KeyedForms, DeleteNeedsAnIdentifyingColumn) {
  tDatabase_Structure& structure = form_->Scan();
  EXPECT_THROW_MSG(Table(structure, "Pairs").DeleteRecord("", 1), StructureError,
                   "Table Pairs has neither rowGuid, nor Integer primary key");
}

TEST_P(KeyedForms, PropertyAccessorFollowsTheCurrentConnection) {
  tDatabase_Structure& structure = form_->Scan();
  dbaccess::Connection* first = structure.Connection();
  EXPECT_EQ(&form_->AccessorConnection(), first);
  // A cached structure reused by a later run gets that run's connection.
  structure.CloseData();
  structure.SetConnection(&form_->Other());
  EXPECT_EQ(&form_->AccessorConnection(), &form_->Other());
  structure.SetConnection(nullptr);
  EXPECT_THROW_MSG(form_->AccessorConnection(), StructureError, "Database structure has no connection");
}

TEST_P(KeyedForms, UserForeignKeyOnAMissingColumnIsRefused) {
  form_->AddUserKey("Orders", "Pairs", "UFK_Pairs", "Id", "Order Id'");
  tDatabase_Structure& structure = form_->Scan();
  EXPECT_THROW_MSG(
      LoadUserForeignKeys(structure), StructureError,
      text::Utf8ToAnsi("Řádek tabulky rep_USERFK s ConstraintName 'UFK_Pairs': FK_Field 'Order Id'' "
                       "není sloupec tabulky Pairs"));
  EXPECT_EQ(Table(structure, "Pairs").Masters().Count(), 0);
}

TEST_P(KeyedForms, UserForeignKeyOnKnownColumnsJoinsTheOrder) {
  form_->AddUserKey("Pairs", "Orders", "UFK_Orders", "A", "id");
  tDatabase_Structure& structure = form_->Scan();
  LoadUserForeignKeys(structure);
  EXPECT_LT(structure.IndexOf(structure.FindTable("Pairs")),
            structure.IndexOf(structure.FindTable("Orders")));
  ASSERT_EQ(Table(structure, "Orders").Masters().Count(), 1);
  EXPECT_EQ(Table(structure, "Orders").Masters().Items(0).Items(0).Name, "UFK_Orders");
}

TEST(StructureForms, TheConnectionChoosesTheForm) {
  tamaril::testing::TempDir folder;
  dbaccess::Connection sqlite("Provider=SQLite;Data Source=" + folder.path());
  sqlite.Open();
  EXPECT_NE(dynamic_cast<tSQLiteDatabase_Structure*>(CreateDatabaseStructure(sqlite).get()), nullptr);
  // The scripted server cannot be reached by its connection string, so its version is unknown.
  testing::ScriptedServer server;
  EXPECT_THROW_MSG(CreateDatabaseStructure(server.connection), StructureError,
                   "Cannot determine SQL server version");
}

INSTANTIATE_TEST_SUITE_P(BothForms, KeyedForms,
                         ::testing::Values(FormCase{"SQLite", [] { return std::make_unique<SqliteForm>(); }},
                                           FormCase{"SqlServer",
                                                    [] { return std::make_unique<MssqlForm>(); }}),
                         [](const ::testing::TestParamInfo<FormCase>& param) { return param.param.name; });

}  // namespace
}  // namespace tamaril::dbstruct
