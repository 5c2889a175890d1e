#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbaccess/catalog.h"
#include "dbaccess/connection_string.h"
#include "dbaccess/cursor.h"
#include "dbaccess/errors.h"
#include "dbaccess/parameter.h"

namespace tamaril::dbaccess {

class BackendConnection;
class BackendStatement;

/// How a statement text marks its parameters.
enum class ParameterStyle {
  None,        ///< the text is sent as it stands
  Named,       ///< ":name" placeholders, parsed from the text
  Positional,  ///< "?" placeholders with parameters declared by `Statement::DeclareParameter`
};

/// A statement prepared once and run again with new parameter values. It belongs to the
/// connection that prepared it and must not outlive it.
class Statement {
 public:
  Statement(std::unique_ptr<BackendStatement> backend, std::string text, ParameterStyle style,
            std::vector<Parameter> parameters);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  /// The text as given to `Prepare`.
  const std::string& Text() const noexcept { return text_; }
  /// Declares the next "?" parameter (positional statements only).
  void DeclareParameter(std::string name, dataset::FieldType type, int size);
  /// The parameters in placeholder order; a name used twice in a named text appears twice.
  const std::vector<Parameter>& Parameters() const noexcept { return parameters_; }
  /// Sets the parameter at a position (0-based); throws std::out_of_range.
  void SetParameter(std::size_t index, Value value);
  /// Sets every parameter of that name (ignoring case); throws DatabaseError when none has it.
  void SetParameter(std::string_view name, const Value& value);
  /// Sets every parameter back to NULL.
  void ClearParameters();

  /// Runs the statement; returns the affected-row count (-1 when unknown).
  std::int64_t Execute();
  /// Runs the statement and returns its rows read forward only; valid until the next run.
  std::unique_ptr<Cursor> Open();

 private:
  void CheckDeclared() const;

  friend class Connection;

  std::unique_ptr<BackendStatement> backend_;
  const bool* unicode_text_ = nullptr;  ///< the preparing connection's UnicodeText
  std::string text_;
  ParameterStyle style_;
  std::vector<Parameter> parameters_;
  std::size_t placeholder_count_ = 0;
};

/// A database connection: the client layer every database operation goes through. It picks its
/// back end from the connection string when it is opened (see `ResolveConnectionString`). Texts
/// passed in and out are Windows-1250. Every operation on a closed connection, and every
/// failure of the driver, throws DatabaseError. A connection, its statements and its cursors
/// belong to one thread at a time.
class Connection {
 public:
  Connection();
  explicit Connection(std::string connection_string);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void SetConnectionString(std::string text) { connection_string_ = std::move(text); }
  const std::string& ConnectionString() const noexcept { return connection_string_; }

  /// Seconds a statement may run; applies to statements prepared afterwards. 0 = no limit.
  void SetCommandTimeout(int seconds);
  int CommandTimeout() const noexcept { return timeouts_command_; }
  /// With `unicode` the statements it prepared (before or after) read text columns as UTF-8
  /// (Value::UnicodeText) instead of Windows-1250, and query datasets count the size of a
  /// string field in UTF-8 bytes, four per character. Parameters follow their values' own form
  /// either way. Catalogue reads and Query/QueryAll stay Windows-1250.
  void SetUnicodeText(bool unicode) noexcept { unicode_text_ = unicode; }
  bool UnicodeText() const noexcept { return unicode_text_; }
  /// A text parameter value in the form UnicodeText says: `text` is UTF-8 when it is set, else
  /// Windows-1250.
  Value TextValue(std::string text) const {
    return unicode_text_ ? Value::UnicodeText(std::move(text)) : Value::Text(std::move(text));
  }

  /// Seconds connecting may take. 0 = no limit.
  void SetConnectionTimeout(int seconds) { timeouts_connection_ = seconds; }
  int ConnectionTimeout() const noexcept { return timeouts_connection_; }

  /// Connects with the connection string and the given login (empty: the string's own).
  /// Then selects the default database set while closed, if any.
  void Open(std::string_view user = {}, std::string_view password = {});
  /// Disconnects; open transactions are rolled back. Never throws.
  void Close() noexcept;
  /// Closes the connection and makes it use `backend` as if opened with a connection string of
  /// `kind`: the way tests and tools give a connection a back end of their own. Never throws.
  void AttachBackend(std::unique_ptr<BackendConnection> backend, BackendKind kind) noexcept;
  bool IsOpen() const noexcept { return backend_ != nullptr; }

  /// The current default database; while closed, the one to select at the next open.
  std::string DefaultDatabase() const;
  /// Selects the default database. Open: throws when the server has no such database and
  /// keeps the connection usable on the old one. Closed: remembered for the next open.
  void SetDefaultDatabase(std::string_view name);
  /// Creates an empty database (SQLite: a file in the folder; servers: CREATE DATABASE).
  void CreateDatabase(std::string_view name);
  /// The server product name ("SQLite", "PostgreSQL", "Microsoft SQL Server", …).
  std::string DbmsName() const;
  /// The back end the open connection uses.
  BackendKind Kind() const noexcept { return kind_; }

  /// Runs a command text without rows (several statements allowed); returns the number of
  /// affected rows.
  std::int64_t Execute(std::string_view sql);
  /// Prepares a statement to run once or many times.
  std::unique_ptr<Statement> Prepare(std::string_view sql, ParameterStyle style = ParameterStyle::Named);
  /// Runs a query without parameters and returns its rows read forward only.
  std::unique_ptr<Cursor> Query(std::string_view sql);
  /// Runs a query without parameters and returns all its rows fetched into memory.
  std::unique_ptr<MemoryCursor> QueryAll(std::string_view sql);
  /// Calls a stored procedure with named input parameters; with `with_result` its rows,
  /// otherwise nullptr.
  std::unique_ptr<Cursor> CallProcedure(std::string_view name, const std::vector<Parameter>& params,
                                        bool with_result);

  /// Tables and views of the current database, without system tables, in catalogue order.
  std::vector<std::string> Tables();
  /// Foreign keys, one row per column pair, each key's pairs in key-column order.
  std::vector<ForeignKeyRow> ForeignKeys();
  /// Primary keys of the current database's tables.
  std::vector<PrimaryKeyRow> PrimaryKeys();
  /// The databases the server (or SQLite folder) holds.
  std::vector<std::string> Catalogs();
  /// Columns of a table in table order.
  std::vector<ColumnInfo> Columns(std::string_view table);
  /// Indexes of a table.
  std::vector<IndexInfo> Indexes(std::string_view table);

  void BeginTransaction();
  void Commit();
  void Rollback();
  bool InTransaction() const noexcept { return in_transaction_; }

 private:
  BackendConnection& Backend() const;

  std::string connection_string_;
  std::string pending_database_;
  int timeouts_command_ = 30;
  int timeouts_connection_ = 15;
  bool in_transaction_ = false;
  bool unicode_text_ = false;
  BackendKind kind_ = BackendKind::SQLite;
  std::unique_ptr<BackendConnection> backend_;
};

/// Sets a connection's UnicodeText for its lifetime and puts the earlier setting back.
class UnicodeTextScope {
 public:
  UnicodeTextScope(Connection& connection, bool unicode) noexcept
      : connection_(connection), previous_(connection.UnicodeText()) {
    connection_.SetUnicodeText(unicode);
  }
  ~UnicodeTextScope() { connection_.SetUnicodeText(previous_); }
  UnicodeTextScope(const UnicodeTextScope&) = delete;
  UnicodeTextScope& operator=(const UnicodeTextScope&) = delete;

 private:
  Connection& connection_;
  bool previous_;
};

/// Opens a transaction and rolls it back when it goes out of scope without `Commit`.
class TransactionGuard {
 public:
  explicit TransactionGuard(Connection& connection);
  ~TransactionGuard();
  TransactionGuard(const TransactionGuard&) = delete;
  TransactionGuard& operator=(const TransactionGuard&) = delete;

  void Commit();

 private:
  Connection& connection_;
  bool done_ = false;
};

}  // namespace tamaril::dbaccess
