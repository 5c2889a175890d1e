// The ODBC back end: SQL Server through FreeTDS or Microsoft's driver, and any other ODBC driver
// (PostgreSQL and SQLite in the tests). Every call goes through the wide-character API, so the
// drivers see UTF-16 and the engine keeps its Windows-1250 texts. This file holds the statements,
// the connection's sessions, transactions and procedure calls; the handles, parameters, cursors
// and catalogue reads have files of their own (odbc_*.h, odbc_*.cpp).

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dbaccess/backend.h"
#include "dbaccess/errors.h"
#include "dbaccess/odbc_connection.h"
#include "dbaccess/odbc_parameters.h"
#include "dbaccess/odbc_support.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::dbaccess {
namespace odbc {
namespace {

using dataset::FieldType;

/// A prepared statement; its parameter buffers live until it runs again.
class OdbcStatement : public BackendStatement {
 public:
  OdbcStatement(std::shared_ptr<Session> session, int timeout_seconds, ServerTraits traits,
                std::string_view sql)
      : core_(std::move(session), timeout_seconds), traits_(traits) {
    std::u16string wide = text::AnsiToUtf16(sql);
    core_.Check(SQLPrepareW(core_.handle(), Wide(wide), SQL_NTS), "SQLPrepare");
  }

  std::int64_t Execute(const std::vector<Parameter>& params) override {
    return DrainCounts(core_, Run(params));
  }

  std::unique_ptr<Cursor> Open(const std::vector<Parameter>& params) override {
    SkipToResultSet(core_, Run(params));
    return std::make_unique<OdbcCursor>(core_, nullptr, traits_.postgres, unicode_text_);
  }

 private:
  SQLRETURN Run(const std::vector<Parameter>& params) {
    core_.Reset();
    BindParameters(core_, bound_, params, traits_);
    return SQLExecute(core_.handle());
  }

  StatementCore core_;
  ServerTraits traits_;
  std::vector<BoundValue> bound_;
};

}  // namespace

OdbcConnection::OdbcConnection(std::string connection_string, const Timeouts& timeouts)
    : env_(NewEnvironment()), connection_string_(std::move(connection_string)), timeouts_(timeouts) {
  session_ = std::make_shared<Session>(env_, connection_string_, timeouts_);
  dbms_name_ = InfoText(SQL_DBMS_NAME);
  traits_.sql_server = dbms_name_.find("SQL Server") != std::string::npos;
  traits_.postgres = dbms_name_.find("PostgreSQL") != std::string::npos;
  traits_.sqlite = dbms_name_.find("SQLite") != std::string::npos;
  SQLUSMALLINT supported = SQL_FALSE;
  if (Succeeded(SQLGetFunctions(session_->dbc(), SQL_API_SQLDESCRIBEPARAM, &supported))) {
    traits_.describe_param = supported == SQL_TRUE;
  }
}

std::string OdbcConnection::CurrentDatabase() {
  std::u16string buffer(512, u'\0');
  SQLINTEGER length = 0;
  const SQLRETURN rc = SQLGetConnectAttrW(session_->dbc(), SQL_ATTR_CURRENT_CATALOG, Wide(buffer),
                                          static_cast<SQLINTEGER>(buffer.size() * sizeof(char16_t)), &length);
  if (Succeeded(rc)) {
    buffer.resize(
        std::min<std::size_t>(static_cast<std::size_t>(length) / sizeof(char16_t), buffer.size() - 1));
    if (!buffer.empty()) return text::Utf16ToAnsi(buffer);
  }
  std::string name = InfoText(SQL_DATABASE_NAME);
  // The SQLite driver names no database: the one of the connection string is meant.
  return name.empty() ? odbc::FindOdbcAttribute(connection_string_, "Database") : name;
}

void OdbcConnection::SetCurrentDatabase(std::string_view name) {
  if (name == CurrentDatabase()) return;
  std::u16string wide = text::AnsiToUtf16(name);
  // Terminated rather than counted: the driver manager miscounts the length when it converts
  // the name for a driver without wide functions.
  const SQLRETURN rc = SQLSetConnectAttrW(session_->dbc(), SQL_ATTR_CURRENT_CATALOG, Wide(wide), SQL_NTS);
  if (Succeeded(rc)) {
    // Some drivers (psqlodbc, the SQLite driver) accept the attribute and stay where they are.
    if (text::EqualsIgnoreCaseAscii(CurrentDatabase(), name)) return;
  } else {
    const Diagnostics diagnostics = ReadDiagnostics(SQL_HANDLE_DBC, session_->dbc());
    if (!IsNotSupported(diagnostics.sqlstate)) {
      throw DatabaseError(diagnostics.message, diagnostics.sqlstate, diagnostics.native_code);
    }
  }
  if (traits_.sqlite) {
    throw DatabaseError("ODBC: the driver cannot switch to the database \"" + std::string(name) + "\"");
  }
  if (session_->in_transaction) {
    throw DatabaseError("ODBC: the database cannot be switched inside a transaction");
  }
  // A new session on the other database replaces this one only when it could be opened.
  std::string switched = odbc::WithOdbcAttribute(connection_string_, "Database", name);
  session_ = std::make_shared<Session>(env_, switched, timeouts_);
  connection_string_ = std::move(switched);
}

std::int64_t OdbcConnection::Execute(std::string_view sql) {
  if (!traits_.sqlite) return ExecuteOne(sql);
  // The SQLite driver runs one statement per call.
  std::int64_t total = 0;
  bool known = false;
  for (const auto& statement : SplitSqliteStatements(sql)) {
    const std::int64_t count = ExecuteOne(statement);
    if (count >= 0) {
      total += count;
      known = true;
    }
  }
  return known ? total : -1;
}

std::unique_ptr<BackendStatement> OdbcConnection::Prepare(std::string_view sql) {
  return std::make_unique<OdbcStatement>(session_, timeouts_.command_seconds, traits_, sql);
}

std::unique_ptr<Cursor> OdbcConnection::CallProcedure(std::string_view name,
                                                      const std::vector<Parameter>& params,
                                                      bool with_result) {
  std::string sql;
  if (traits_.sql_server) {
    sql = "EXEC " + std::string(name);
    for (std::size_t i = 0; i < params.size(); ++i) {
      std::string_view parameter = params[i].name;
      if (!parameter.empty() && parameter.front() == '@') parameter.remove_prefix(1);
      sql += (i == 0 ? " @" : ", @") + std::string(parameter) + "=?";
    }
  } else {
    sql = "{call " + std::string(name) + "(";
    for (std::size_t i = 0; i < params.size(); ++i) sql += i == 0 ? "?" : ",?";
    sql += ")}";
  }
  auto core = std::make_unique<StatementCore>(session_, timeouts_.command_seconds);
  std::vector<BoundValue> bound;
  BindParameters(*core, bound, params, traits_);
  std::u16string wide = text::AnsiToUtf16(sql);
  const SQLRETURN rc = SQLExecDirectW(core->handle(), Wide(wide), SQL_NTS);
  if (!with_result) {
    DrainCounts(*core, rc);
    return nullptr;
  }
  SkipToResultSet(*core, rc);
  StatementCore& reader = *core;
  return std::make_unique<OdbcCursor>(reader, std::move(core), traits_.postgres);
}

void OdbcConnection::BeginTransaction() {
  Check(SQLSetConnectAttrW(session_->dbc(), SQL_ATTR_AUTOCOMMIT,
                           reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), SQL_IS_UINTEGER),
        SQL_HANDLE_DBC, session_->dbc(), "SQLSetConnectAttr");
  session_->in_transaction = true;
}

std::int64_t OdbcConnection::ExecuteOne(std::string_view sql) {
  StatementCore core(session_, timeouts_.command_seconds);
  std::u16string wide = text::AnsiToUtf16(sql);
  return DrainCounts(core, SQLExecDirectW(core.handle(), Wide(wide), SQL_NTS));
}

std::vector<std::string> OdbcConnection::SplitSqliteStatements(std::string_view sql) {
  std::vector<std::string> statements;
  std::string current;
  const auto flush = [&] {
    if (current.find_first_not_of(" \t\r\n;") != std::string::npos) statements.push_back(current);
    current.clear();
  };
  for (const char c : sql) {
    current += c;
    if (c == ';' && sqlite3_complete(current.c_str()) != 0) flush();
  }
  flush();
  return statements;
}

std::string OdbcConnection::InfoText(SQLUSMALLINT info) {
  std::u16string buffer(256, u'\0');
  SQLSMALLINT length = 0;
  Check(SQLGetInfoW(session_->dbc(), info, Wide(buffer),
                    static_cast<SQLSMALLINT>(buffer.size() * sizeof(char16_t)), &length),
        SQL_HANDLE_DBC, session_->dbc(), "SQLGetInfo");
  buffer.resize(
      std::min<std::size_t>(static_cast<std::size_t>(length) / sizeof(char16_t), buffer.size() - 1));
  return text::Utf16ToAnsi(buffer);
}

std::string OdbcConnection::QuoteIdentifier(std::string_view name) const {
  const char open = traits_.sql_server ? '[' : '"';
  const char close = traits_.sql_server ? ']' : '"';
  if (name.empty() || name.find(close) != std::string_view::npos) {
    throw DatabaseError("ODBC: invalid database name \"" + std::string(name) + "\"");
  }
  return open + std::string(name) + close;
}

void OdbcConnection::EndTransaction(SQLSMALLINT completion) {
  const SQLHDBC dbc = session_->dbc();
  const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc, completion);
  std::optional<Diagnostics> failure;
  if (!Succeeded(rc)) failure = ReadDiagnostics(SQL_HANDLE_DBC, dbc);
  session_->in_transaction = false;
  const SQLRETURN restored = SQLSetConnectAttrW(
      dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), SQL_IS_UINTEGER);
  if (failure) {
    if (failure->message.empty()) failure->message = "ODBC: SQLEndTran failed";
    throw DatabaseError(failure->message, failure->sqlstate, failure->native_code);
  }
  Check(restored, SQL_HANDLE_DBC, dbc, "SQLSetConnectAttr");
}

}  // namespace odbc

namespace {

// The connection string with the login and the options the back end relies on.
std::string FullConnectionString(const std::string& odbc, std::string_view user, std::string_view password) {
  std::string result = odbc;
  while (!result.empty() && (result.back() == ';' || result.back() == ' ')) result.pop_back();
  if (!user.empty()) result = odbc::WithOdbcAttribute(result, "UID", user);
  if (!password.empty()) result = odbc::WithOdbcAttribute(result, "PWD", password);
  // psqlodbc reports booleans as texts unless told otherwise.
  const std::string driver = text::UpperCaseAscii(odbc::FindOdbcAttribute(result, "Driver"));
  if (driver.find("POSTGRES") != std::string::npos &&
      odbc::FindOdbcAttribute(result, "BoolsAsChar").empty()) {
    result = odbc::WithOdbcAttribute(result, "BoolsAsChar", "0");
  }
  return result;
}

}  // namespace

std::unique_ptr<BackendConnection> OpenOdbcBackend(const ResolvedConnection& target, std::string_view user,
                                                   std::string_view password, const Timeouts& timeouts) {
  return std::make_unique<odbc::OdbcConnection>(FullConnectionString(target.odbc, user, password), timeouts);
}

}  // namespace tamaril::dbaccess