#pragma once

// The interface between `Connection` / `Statement` and the two back ends (SQLite and ODBC).
// Nothing above dbaccess/ includes this header.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbaccess/catalog.h"
#include "dbaccess/connection_string.h"
#include "dbaccess/cursor.h"
#include "dbaccess/parameter.h"

namespace tamaril::dbaccess {

struct Timeouts {
  int command_seconds = 30;     ///< 0 = no limit
  int connection_seconds = 15;  ///< 0 = no limit
};

/// A statement prepared once and run any number of times with new values.
class BackendStatement {
 public:
  virtual ~BackendStatement() = default;
  /// Runs with the values given in placeholder order; returns the affected-row count, -1 when
  /// the driver does not know it.
  virtual std::int64_t Execute(const std::vector<Parameter>& params) = 0;
  /// Runs and returns the rows read forward only. The cursor borrows this statement; running
  /// the statement again ends the earlier cursor.
  virtual std::unique_ptr<Cursor> Open(const std::vector<Parameter>& params) = 0;

  /// With `unicode` the text columns of cursors opened afterwards come as UTF-8
  /// (Value::UnicodeText) instead of Windows-1250.
  void SetUnicodeText(bool unicode) noexcept { unicode_text_ = unicode; }

 protected:
  bool unicode_text_ = false;
};

/// An open session with one database server (or SQLite folder). Every method throws
/// DatabaseError on failure.
class BackendConnection {
 public:
  virtual ~BackendConnection() = default;

  /// The product name: "SQLite", "PostgreSQL", "Microsoft SQL Server", …
  virtual std::string DbmsName() = 0;
  virtual std::string CurrentDatabase() = 0;
  /// Switches the default database; when it does not exist, throws and keeps the old one.
  virtual void SetCurrentDatabase(std::string_view name) = 0;
  /// Creates an empty database of the given name.
  virtual void CreateDatabase(std::string_view name) = 0;
  virtual void SetCommandTimeout(int seconds) = 0;

  /// Runs a command text of one or more statements; returns the summed affected-row count.
  virtual std::int64_t Execute(std::string_view sql) = 0;
  /// Prepares a text whose placeholders are "?".
  virtual std::unique_ptr<BackendStatement> Prepare(std::string_view sql) = 0;
  /// Calls a stored procedure with named input parameters; the rows when `with_result`.
  virtual std::unique_ptr<Cursor> CallProcedure(std::string_view name, const std::vector<Parameter>& params,
                                                bool with_result) = 0;

  virtual std::vector<std::string> Tables() = 0;
  virtual std::vector<ForeignKeyRow> ForeignKeys() = 0;
  virtual std::vector<PrimaryKeyRow> PrimaryKeys() = 0;
  virtual std::vector<std::string> Catalogs() = 0;
  virtual std::vector<ColumnInfo> Columns(std::string_view table) = 0;
  virtual std::vector<IndexInfo> Indexes(std::string_view table) = 0;

  virtual void BeginTransaction() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
};

/// Opens the SQLite back end on the folder of the connection string; the default database is
/// the connection string's initial catalog, or the folder itself ("master") when it has none.
std::unique_ptr<BackendConnection> OpenSqliteBackend(const ResolvedConnection& target,
                                                     const Timeouts& timeouts);

/// Opens an ODBC connection; user and password are added as UID and PWD when not empty.
std::unique_ptr<BackendConnection> OpenOdbcBackend(const ResolvedConnection& target, std::string_view user,
                                                   std::string_view password, const Timeouts& timeouts);

}  // namespace tamaril::dbaccess
