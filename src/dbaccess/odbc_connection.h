#pragma once

// The ODBC connection of the back end. Its catalogue reads live in odbc_catalog.cpp, the rest in
// odbc_backend.cpp. Private to dbaccess/.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbaccess/backend.h"
#include "dbaccess/odbc_cursor.h"
#include "dbaccess/odbc_handles.h"
#include "dbaccess/sqlite_types.h"

namespace tamaril::dbaccess::odbc {

/// A table or view as the catalogue lists it.
struct TableEntry {
  std::string schema;
  std::string name;
  bool is_view = false;
};

// A catalogue argument: the text, or no filter at all when it is empty.
struct CatalogArgument {
  explicit CatalogArgument(std::string_view ansi) : text(text::AnsiToUtf16(ansi)), given(!ansi.empty()) {}
  SQLWCHAR* data() { return given ? Wide(text) : nullptr; }
  SQLSMALLINT length() const { return given ? SQL_NTS : 0; }

  std::u16string text;
  bool given;
};

/// One ODBC connection: the session (replaced when the database is switched), what the driver
/// tells about the server and the time-outs.
class OdbcConnection : public BackendConnection {
 public:
  OdbcConnection(std::string connection_string, const Timeouts& timeouts);

  std::string DbmsName() override { return dbms_name_; }

  std::string CurrentDatabase() override;

  void SetCurrentDatabase(std::string_view name) override;

  void CreateDatabase(std::string_view name) override { Execute("CREATE DATABASE " + QuoteIdentifier(name)); }

  void SetCommandTimeout(int seconds) override { timeouts_.command_seconds = seconds; }

  std::int64_t Execute(std::string_view sql) override;

  std::unique_ptr<BackendStatement> Prepare(std::string_view sql) override;

  std::unique_ptr<Cursor> CallProcedure(std::string_view name, const std::vector<Parameter>& params,
                                        bool with_result) override;

  std::vector<std::string> Tables() override;

  std::vector<ForeignKeyRow> ForeignKeys() override;

  std::vector<PrimaryKeyRow> PrimaryKeys() override;

  std::vector<std::string> Catalogs() override;

  std::vector<ColumnInfo> Columns(std::string_view table_name) override;

  std::vector<IndexInfo> Indexes(std::string_view table_name) override;

  void BeginTransaction() override;

  void Commit() override { EndTransaction(SQL_COMMIT); }
  void Rollback() override { EndTransaction(SQL_ROLLBACK); }

 private:
  /// One column pair of a foreign key with its place in the key.
  struct KeyPair {
    ForeignKeyRow row;
    std::int64_t sequence;
  };

  struct PrimaryKey {
    std::string catalog;
    std::string name;
    std::vector<std::string> columns;  ///< in key order
  };

  std::int64_t ExecuteOne(std::string_view sql);

  static std::vector<std::string> SplitSqliteStatements(std::string_view sql);

  // The SQLite driver gives no constraint names: they are read from the CREATE TABLE text, and
  // unnamed keys are called PK_<table> and FK_<table>_<n> as the SQLite back end calls them.
  sqlite::TableConstraints SqliteConstraints(const std::string& table);

  void NameSqliteForeignKeys(const std::string& table, std::vector<KeyPair>& pairs);

  static std::string OrDatabase(const std::string& catalog, const std::string& database);

  static bool IsAutoIncrementTypeName(std::string_view type_name);

  std::string InfoText(SQLUSMALLINT info);

  std::string QuoteIdentifier(std::string_view name) const;

  std::string EscapePattern(std::string_view value);

  // Tables first, then views, each group by name; system schemas left out.
  std::vector<TableEntry> ListTables();

  // The catalogue's own spelling of a table name (PostgreSQL folds unquoted names to lower case).
  TableEntry ResolveTable(std::string_view name);

  PrimaryKey ReadPrimaryKey(const TableEntry& table);

  void EndTransaction(SQLSMALLINT completion);

  std::shared_ptr<Handle> env_;
  std::string connection_string_;  ///< with the login, as the session was opened
  Timeouts timeouts_;
  std::shared_ptr<Session> session_;
  std::string dbms_name_;
  ServerTraits traits_;
  std::optional<std::string> escape_;
};

}  // namespace tamaril::dbaccess::odbc
