#pragma once

// The ODBC handles of the back end and their diagnostics: the environment, a connected session
// and a statement with the session it belongs to. Private to dbaccess/.

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "dbaccess/backend.h"
#include "dbaccess/errors.h"
#include "text/encoding.h"

namespace tamaril::dbaccess::odbc {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the ODBC wide API must use UTF-16 code units");

/// The buffer of a UTF-16 text as the wide ODBC API takes it.
inline SQLWCHAR* Wide(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }

/// True for SQL_SUCCESS and SQL_SUCCESS_WITH_INFO.
inline bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

/// The first diagnostic record's SQLSTATE and native code with every record's message.
struct Diagnostics {
  std::string message;
  std::string sqlstate;
  int native_code = 0;
};

/// Every diagnostic record of a handle, the messages joined by line breaks.
Diagnostics ReadDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle);

/// Throws the handle's diagnostics as a DatabaseError ("ODBC: <action> failed" when it has none).
[[noreturn]] void ThrowDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle, std::string_view action);

/// Throws DatabaseError with the handle's diagnostics unless `rc` reports success.
void Check(SQLRETURN rc, SQLSMALLINT handle_type, SQLHANDLE handle, std::string_view action);

/// True for the SQLSTATEs of a driver that does not offer an attribute or function at all.
bool IsNotSupported(const std::string& sqlstate);

/// Owns one ODBC handle.
class Handle {
 public:
  Handle(SQLSMALLINT type, SQLHANDLE parent, SQLSMALLINT parent_type) : type_(type) {
    if (!Succeeded(SQLAllocHandle(type, parent, &handle_))) {
      handle_ = SQL_NULL_HANDLE;
      if (parent == SQL_NULL_HANDLE) throw DatabaseError("ODBC: cannot allocate an environment handle");
      ThrowDiagnostics(parent_type, parent, "SQLAllocHandle");
    }
  }
  ~Handle() {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  SQLHANDLE get() const noexcept { return handle_; }

 private:
  SQLSMALLINT type_;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

/// A new ODBC 3 environment; throws DatabaseError when none can be allocated.
std::shared_ptr<Handle> NewEnvironment();

/// One connected driver session. Statements keep it alive, so a session replaced by a database
/// switch lasts until its last statement goes.
class Session {
 public:
  Session(std::shared_ptr<Handle> env, const std::string& connection_string, const Timeouts& timeouts)
      : env_(std::move(env)), dbc_(SQL_HANDLE_DBC, env_->get(), SQL_HANDLE_ENV) {
    if (timeouts.connection_seconds > 0) {
      const auto seconds = reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeouts.connection_seconds));
      SetOptionalAttribute(SQL_ATTR_LOGIN_TIMEOUT, seconds);
      SetOptionalAttribute(SQL_ATTR_CONNECTION_TIMEOUT, seconds);
    }
    std::u16string wide = text::AnsiToUtf16(connection_string);
    std::u16string out(1024, u'\0');
    SQLSMALLINT out_length = 0;
    Check(SQLDriverConnectW(dbc(), nullptr, Wide(wide), SQL_NTS, Wide(out),
                            static_cast<SQLSMALLINT>(out.size()), &out_length, SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, dbc(), "SQLDriverConnect");
    connected_ = true;
  }

  ~Session() {
    if (!connected_) return;
    if (in_transaction) SQLEndTran(SQL_HANDLE_DBC, dbc(), SQL_ROLLBACK);
    SQLDisconnect(dbc());
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  SQLHDBC dbc() const noexcept { return dbc_.get(); }

  bool in_transaction = false;

 private:
  void SetOptionalAttribute(SQLINTEGER attribute, SQLPOINTER value) {
    const SQLRETURN rc = SQLSetConnectAttrW(dbc(), attribute, value, SQL_IS_UINTEGER);
    if (Succeeded(rc)) return;
    const Diagnostics diagnostics = ReadDiagnostics(SQL_HANDLE_DBC, dbc());
    if (!IsNotSupported(diagnostics.sqlstate)) {
      throw DatabaseError(diagnostics.message, diagnostics.sqlstate, diagnostics.native_code);
    }
  }

  std::shared_ptr<Handle> env_;
  Handle dbc_;
  bool connected_ = false;
};

/// What the back end needs to know about the server behind the driver.
struct ServerTraits {
  bool sql_server = false;
  bool postgres = false;
  bool sqlite = false;
  bool describe_param = false;  ///< the driver offers SQLDescribeParam
};

/// A statement handle with the session it belongs to. `run` counts the executions, so that a
/// cursor notices a newer run of its statement.
struct StatementCore {
  StatementCore(std::shared_ptr<Session> owner, int timeout_seconds)
      : session(std::move(owner)), stmt(SQL_HANDLE_STMT, session->dbc(), SQL_HANDLE_DBC) {
    if (timeout_seconds <= 0) return;
    const SQLRETURN rc =
        SQLSetStmtAttrW(handle(), SQL_ATTR_QUERY_TIMEOUT,
                        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeout_seconds)), SQL_IS_UINTEGER);
    if (Succeeded(rc)) return;
    const Diagnostics diagnostics = ReadDiagnostics(SQL_HANDLE_STMT, handle());
    if (!IsNotSupported(diagnostics.sqlstate)) {
      throw DatabaseError(diagnostics.message, diagnostics.sqlstate, diagnostics.native_code);
    }
  }

  SQLHSTMT handle() const noexcept { return stmt.get(); }
  void Check(SQLRETURN rc, std::string_view action) const {
    odbc::Check(rc, SQL_HANDLE_STMT, handle(), action);
  }
  // Ends an open result and forgets bound parameters before the next run.
  void Reset() {
    SQLFreeStmt(handle(), SQL_CLOSE);
    SQLFreeStmt(handle(), SQL_RESET_PARAMS);
    ++run;
  }

  std::shared_ptr<Session> session;
  Handle stmt;
  std::uint64_t run = 0;
};

}  // namespace tamaril::dbaccess::odbc
