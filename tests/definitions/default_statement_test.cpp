#include <gtest/gtest.h>

#include <memory>

#include "dbaccess/backend.h"
#include "dbaccess/connection.h"
#include "dbstruct/mssql/database_structure.h"

namespace tamaril::definitions::testing {
namespace {

/// A SQL Server that prepares every statement and answers nothing: enough to build the SQL
/// Server form of the structure.
class SilentServer : public dbaccess::BackendConnection {
  class Statement : public dbaccess::BackendStatement {
   public:
    std::int64_t Execute(const std::vector<dbaccess::Parameter>&) override { return 0; }
    std::unique_ptr<dbaccess::Cursor> Open(const std::vector<dbaccess::Parameter>&) override {
      return std::make_unique<dbaccess::MemoryCursor>(std::vector<dbaccess::ColumnInfo>{},
                                                      std::vector<std::vector<dbaccess::Value>>{});
    }
  };

 public:
  std::string DbmsName() override { return "Microsoft SQL Server"; }
  std::string CurrentDatabase() override { return "SHOP"; }
  void SetCurrentDatabase(std::string_view) override {}
  void CreateDatabase(std::string_view) override {}
  void SetCommandTimeout(int) override {}
  std::int64_t Execute(std::string_view) override { return 0; }
  std::unique_ptr<dbaccess::BackendStatement> Prepare(std::string_view) override {
    return std::make_unique<Statement>();
  }
  std::unique_ptr<dbaccess::Cursor> CallProcedure(std::string_view, const std::vector<dbaccess::Parameter>&,
                                                  bool) override {
    return nullptr;
  }
  std::vector<std::string> Tables() override { return {}; }
  std::vector<dbaccess::ForeignKeyRow> ForeignKeys() override { return {}; }
  std::vector<dbaccess::PrimaryKeyRow> PrimaryKeys() override { return {}; }
  std::vector<std::string> Catalogs() override { return {}; }
  std::vector<dbaccess::ColumnInfo> Columns(std::string_view) override { return {}; }
  std::vector<dbaccess::IndexInfo> Indexes(std::string_view) override { return {}; }
  void BeginTransaction() override {}
  void Commit() override {}
  void Rollback() override {}
};

TEST(DefaultRulesStatement, SqlServerFormJoinsTheRuleTableOnTheSignature) {
  dbaccess::Connection connection;
  connection.AttachBackend(std::make_unique<SilentServer>(), dbaccess::BackendKind::ODBC);
  dbstruct::tADODatabase_Structure structure(connection, [](const std::string&, std::uint8_t& code) {
    code = 16;
    return true;
  });
  EXPECT_EQ(structure.DefaultRulesStatement(false),
            "Update f set f.DefExportRule=a.ExportRule From rep_TBLDESC f join rep_DEFEXPORT a "
            "on a.Signature=:Signature and a.TABLENAME=f.TABLENAME ");
  EXPECT_EQ(structure.DefaultRulesStatement(true),
            "Update f set f.DefAppendRule=a.AppendRule,f.DefUpdateRule=a.UpdateRule,"
            "f.DefUpdateFieldRule=a.UpdateFieldRule,f.DefDeleteRule=a.DeleteRule,"
            "f.DefIgnoreRowGuidField=a.IgnoreRowGuidField From rep_TBLDESC f join rep_DEFIMPORT a "
            "on a.Signature=:Signature and a.TABLENAME=f.TABLENAME ");
}

}  // namespace
}  // namespace tamaril::definitions::testing
