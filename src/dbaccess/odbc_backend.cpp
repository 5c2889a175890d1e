// The ODBC back end: SQL Server through FreeTDS or Microsoft's driver, and any other ODBC driver
// (PostgreSQL and SQLite in the tests). Every call goes through the wide-character API, so the
// drivers see UTF-16 and the engine keeps its Windows-1250 texts.

#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>
#include <sqlucode.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <type_traits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dbaccess/backend.h"
#include "dbaccess/errors.h"
#include "dbaccess/odbc_support.h"
#include "dbaccess/sqlite_types.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::dbaccess {
namespace {

using dataset::FieldType;

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the ODBC wide API must use UTF-16 code units");

// Texts longer than this go as long data types (nvarchar(max), varbinary(max)).
constexpr std::size_t kLongTextChars = 4000;
constexpr std::size_t kLongBinaryBytes = 8000;
constexpr std::size_t kChunkChars = 4096;
constexpr int kGuidTextSize = 38;

SQLWCHAR* Wide(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }

bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  const bool less = std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                                 [](char x, char y) { return text::UpperAscii(x) < text::UpperAscii(y); });
  if (less || !text::EqualsIgnoreCaseAscii(a, b)) return less;
  return a < b;
}

struct Diagnostics {
  std::string message;
  std::string sqlstate;
  int native_code = 0;
};

// Every diagnostic record of a handle, the messages joined by line breaks.
Diagnostics ReadDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle) {
  Diagnostics result;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    std::u16string message(512, u'\0');
    SQLRETURN rc = SQLGetDiagRecW(handle_type, handle, record, state, &native, Wide(message),
                                  static_cast<SQLSMALLINT>(message.size()), &length);
    if (!Succeeded(rc)) break;
    if (static_cast<std::size_t>(length) >= message.size()) {
      message.assign(static_cast<std::size_t>(length) + 1, u'\0');
      rc = SQLGetDiagRecW(handle_type, handle, record, state, &native, Wide(message),
                          static_cast<SQLSMALLINT>(message.size()), &length);
      if (!Succeeded(rc)) break;
    }
    message.resize(std::min<std::size_t>(static_cast<std::size_t>(length), message.size() - 1));
    if (record == 1) {
      result.sqlstate = text::Utf16ToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(state), 5));
      result.native_code = static_cast<int>(native);
    }
    if (!result.message.empty()) result.message += '\n';
    result.message += text::Utf16ToAnsi(message);
  }
  return result;
}

[[noreturn]] void ThrowDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle, std::string_view action) {
  Diagnostics diagnostics = ReadDiagnostics(handle_type, handle);
  if (diagnostics.message.empty()) diagnostics.message = "ODBC: " + std::string(action) + " failed";
  throw DatabaseError(diagnostics.message, diagnostics.sqlstate, diagnostics.native_code);
}

void Check(SQLRETURN rc, SQLSMALLINT handle_type, SQLHANDLE handle, std::string_view action) {
  if (rc == SQL_INVALID_HANDLE) throw DatabaseError("ODBC: " + std::string(action) + ": invalid handle");
  if (!Succeeded(rc)) ThrowDiagnostics(handle_type, handle, action);
}

// SQLSTATEs of a driver that does not offer an attribute or function at all.
bool IsNotSupported(const std::string& sqlstate) {
  return sqlstate == "HYC00" || sqlstate == "HY092" || sqlstate == "IM001" || sqlstate == "S1C00" ||
         sqlstate == "S1092";
}

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

std::shared_ptr<Handle> NewEnvironment() {
  auto env = std::make_shared<Handle>(SQL_HANDLE_ENV, SQLHANDLE{SQL_NULL_HANDLE}, SQL_HANDLE_ENV);
  Check(SQLSetEnvAttr(env->get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
        SQL_HANDLE_ENV, env->get(), "SQLSetEnvAttr");
  return env;
}

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
    Check(SQLDriverConnectW(dbc(), nullptr, Wide(wide), SQL_NTS, Wide(out), static_cast<SQLSMALLINT>(out.size()),
                            &out_length, SQL_DRIVER_NOPROMPT),
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
    const SQLRETURN rc = SQLSetStmtAttrW(handle(), SQL_ATTR_QUERY_TIMEOUT,
                                         reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeout_seconds)),
                                         SQL_IS_UINTEGER);
    if (Succeeded(rc)) return;
    const Diagnostics diagnostics = ReadDiagnostics(SQL_HANDLE_STMT, handle());
    if (!IsNotSupported(diagnostics.sqlstate)) {
      throw DatabaseError(diagnostics.message, diagnostics.sqlstate, diagnostics.native_code);
    }
  }

  SQLHSTMT handle() const noexcept { return stmt.get(); }
  void Check(SQLRETURN rc, std::string_view action) const { dbaccess::Check(rc, SQL_HANDLE_STMT, handle(), action); }
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

// ---------------------------------------------------------------------------------------------
// Parameters

/// The buffers of one bound parameter; they live until the statement runs again.
struct BoundValue {
  std::u16string text;
  std::string bytes;
  SQLBIGINT integer = 0;
  SQLDOUBLE real = 0;
  SQLCHAR bit = 0;
  SQL_TIMESTAMP_STRUCT stamp{};
  SQLLEN indicator = 0;
};

struct SqlTypeInfo {
  SQLSMALLINT sql_type;
  SQLULEN column_size;
  SQLSMALLINT digits;
};

// The SQL type a NULL of a declared field type is sent as.
std::optional<SqlTypeInfo> SqlTypeOfField(FieldType type, int size) {
  const auto text_size = static_cast<SQLULEN>(size > 0 ? size : 1);
  switch (type) {
    case FieldType::String:
    case FieldType::FixedChar:
      return SqlTypeInfo{SQL_VARCHAR, text_size, 0};
    case FieldType::WideString:
      return SqlTypeInfo{SQL_WVARCHAR, text_size, 0};
    case FieldType::Memo:
    case FieldType::FmtMemo:
      return SqlTypeInfo{SQL_LONGVARCHAR, 0, 0};
    case FieldType::Guid:
      return SqlTypeInfo{SQL_GUID, 36, 0};
    case FieldType::Smallint:
      return SqlTypeInfo{SQL_SMALLINT, 5, 0};
    case FieldType::Integer:
    case FieldType::Word:
    case FieldType::AutoInc:
      return SqlTypeInfo{SQL_INTEGER, 10, 0};
    case FieldType::Largeint:
      return SqlTypeInfo{SQL_BIGINT, 19, 0};
    case FieldType::Boolean:
      return SqlTypeInfo{SQL_BIT, 1, 0};
    case FieldType::Float:
      return SqlTypeInfo{SQL_DOUBLE, 15, 0};
    case FieldType::Currency:
    case FieldType::BCD:
      return SqlTypeInfo{SQL_NUMERIC, 19, 4};
    case FieldType::Date:
      return SqlTypeInfo{SQL_TYPE_DATE, 10, 0};
    case FieldType::Time:
      return SqlTypeInfo{SQL_TYPE_TIME, 8, 0};
    case FieldType::DateTime:
      return SqlTypeInfo{SQL_TYPE_TIMESTAMP, 23, 3};
    case FieldType::Bytes:
      return SqlTypeInfo{SQL_BINARY, text_size, 0};
    case FieldType::VarBytes:
      return SqlTypeInfo{SQL_VARBINARY, text_size, 0};
    case FieldType::Blob:
    case FieldType::Graphic:
    case FieldType::TypedBinary:
      return SqlTypeInfo{SQL_LONGVARBINARY, 0, 0};
    default:
      return std::nullopt;
  }
}

bool IsBinarySqlType(SQLSMALLINT sql_type) {
  return sql_type == SQL_BINARY || sql_type == SQL_VARBINARY || sql_type == SQL_LONGVARBINARY;
}

// The type of a NULL: the declared one, else what the driver says the placeholder is.
SqlTypeInfo NullType(SQLHSTMT stmt, SQLUSMALLINT number, const Parameter& parameter, const ServerTraits& traits) {
  if (auto declared = SqlTypeOfField(parameter.type, parameter.size)) return *declared;
  if (traits.describe_param) {
    SQLSMALLINT sql_type = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = 0;
    if (Succeeded(SQLDescribeParam(stmt, number, &sql_type, &size, &digits, &nullable)) && sql_type != 0) {
      return SqlTypeInfo{sql_type, size > 0 ? size : 1, digits};
    }
  }
  return SqlTypeInfo{SQL_VARCHAR, 1, 0};
}

void BindParameters(StatementCore& core, std::vector<BoundValue>& bound, const std::vector<Parameter>& params,
                    const ServerTraits& traits) {
  bound.assign(params.size(), BoundValue{});  // never resized while bound
  for (std::size_t i = 0; i < params.size(); ++i) {
    const auto number = static_cast<SQLUSMALLINT>(i + 1);
    const Value& value = params[i].value;
    BoundValue& b = bound[i];
    SQLSMALLINT c_type = SQL_C_CHAR;
    SqlTypeInfo type{SQL_VARCHAR, 1, 0};
    SQLPOINTER data = nullptr;
    SQLLEN buffer_length = 0;
    switch (value.kind()) {
      case ValueKind::Null:
        type = NullType(core.handle(), number, params[i], traits);
        c_type = IsBinarySqlType(type.sql_type) ? SQL_C_BINARY : SQL_C_CHAR;
        data = b.bytes.data();
        b.indicator = SQL_NULL_DATA;
        break;
      case ValueKind::Text:
      case ValueKind::Guid: {
        std::string content = value.AsString();
        const bool guid = value.kind() == ValueKind::Guid;
        b.text = text::AnsiToUtf16(content);
        const std::size_t length = b.text.size();
        if (guid && (traits.sql_server || traits.postgres)) {
          type = {SQL_GUID, 36, 0};
        } else {
          type = {static_cast<SQLSMALLINT>(length > kLongTextChars ? SQL_WLONGVARCHAR : SQL_WVARCHAR), std::max<std::size_t>(length, 1), 0};
        }
        c_type = SQL_C_WCHAR;
        data = Wide(b.text);
        buffer_length = static_cast<SQLLEN>((length + 1) * sizeof(char16_t));
        b.indicator = static_cast<SQLLEN>(length * sizeof(char16_t));
        break;
      }
      case ValueKind::Integer:
        b.integer = value.AsInteger();
        c_type = SQL_C_SBIGINT;
        type = {SQL_BIGINT, 19, 0};
        data = &b.integer;
        break;
      case ValueKind::Double:
        b.real = value.AsDouble();
        c_type = SQL_C_DOUBLE;
        type = {SQL_DOUBLE, 15, 0};
        data = &b.real;
        break;
      case ValueKind::Boolean:
        b.bit = value.AsBoolean() ? 1 : 0;
        c_type = SQL_C_BIT;
        type = {SQL_BIT, 1, 0};
        data = &b.bit;
        break;
      case ValueKind::DateTime: {
        const DateTime dt = value.AsDateTime();
        b.stamp = SQL_TIMESTAMP_STRUCT{static_cast<SQLSMALLINT>(dt.year),   static_cast<SQLUSMALLINT>(dt.month),
                                       static_cast<SQLUSMALLINT>(dt.day),   static_cast<SQLUSMALLINT>(dt.hour),
                                       static_cast<SQLUSMALLINT>(dt.minute), static_cast<SQLUSMALLINT>(dt.second),
                                       static_cast<SQLUINTEGER>(dt.millisecond) * 1000000u};
        c_type = SQL_C_TYPE_TIMESTAMP;
        type = {SQL_TYPE_TIMESTAMP, 23, 3};
        data = &b.stamp;
        buffer_length = sizeof(b.stamp);
        break;
      }
      case ValueKind::Bytes:
        b.bytes = value.AsString();
        c_type = SQL_C_BINARY;
        type = {static_cast<SQLSMALLINT>(b.bytes.size() > kLongBinaryBytes ? SQL_LONGVARBINARY : SQL_VARBINARY),
                std::max<std::size_t>(b.bytes.size(), 1), 0};
        data = b.bytes.data();
        buffer_length = static_cast<SQLLEN>(b.bytes.size());
        b.indicator = buffer_length;
        break;
    }
    core.Check(SQLBindParameter(core.handle(), number, SQL_PARAM_INPUT, c_type, type.sql_type, type.column_size,
                                type.digits, data, buffer_length, &b.indicator),
               "SQLBindParameter");
  }
}

// Sums the affected-row counts of every result of a run; -1 when no part of it knew its count.
std::int64_t DrainCounts(StatementCore& core, SQLRETURN rc) {
  std::int64_t total = 0;
  bool known = false;
  for (;;) {
    if (rc == SQL_NO_DATA) {
      known = true;
    } else {
      core.Check(rc, "SQLExecute");
      SQLSMALLINT columns = 0;
      core.Check(SQLNumResultCols(core.handle(), &columns), "SQLNumResultCols");
      if (columns == 0) {
        SQLLEN count = -1;
        core.Check(SQLRowCount(core.handle(), &count), "SQLRowCount");
        if (count >= 0) {
          total += count;
          known = true;
        }
      }
    }
    rc = SQLMoreResults(core.handle());
    if (rc == SQL_NO_DATA) break;
  }
  return known ? total : -1;
}

// Moves past results without columns (row counts of a procedure's inner statements).
void SkipToResultSet(StatementCore& core, SQLRETURN rc) {
  if (rc == SQL_NO_DATA) return;
  core.Check(rc, "SQLExecute");
  for (;;) {
    SQLSMALLINT columns = 0;
    core.Check(SQLNumResultCols(core.handle(), &columns), "SQLNumResultCols");
    if (columns > 0) return;
    rc = SQLMoreResults(core.handle());
    if (rc == SQL_NO_DATA) return;
    core.Check(rc, "SQLMoreResults");
  }
}

// ---------------------------------------------------------------------------------------------
// Reading rows

enum class ReadAs { Text, Binary, Integer, Double, Boolean, Timestamp, Time, Guid };

ReadAs ReadAsFor(SQLSMALLINT sql_type) {
  switch (sql_type) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
      return ReadAs::Integer;
    case SQL_BIT:
      return ReadAs::Boolean;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE:
      return ReadAs::Double;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_DATE:
      return ReadAs::Timestamp;
    case SQL_TYPE_TIME:
    case SQL_TIME:
      return ReadAs::Time;
    case SQL_GUID:
      return ReadAs::Guid;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return ReadAs::Binary;
    default:
      return ReadAs::Text;
  }
}

// A column's data in chunks: texts as UTF-16 code units, binaries as bytes; nothing for NULL.
template <typename Unit>
std::optional<std::basic_string<Unit>> ReadChunked(StatementCore& core, SQLUSMALLINT column, SQLSMALLINT c_type) {
  constexpr std::size_t terminator = std::is_same_v<Unit, char> ? 0 : 1;
  std::basic_string<Unit> result;
  std::basic_string<Unit> chunk(kChunkChars, Unit{});
  const auto chunk_bytes = static_cast<SQLLEN>(chunk.size() * sizeof(Unit));
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(core.handle(), column, c_type, chunk.data(), chunk_bytes, &indicator);
    if (rc == SQL_NO_DATA) break;
    core.Check(rc, "SQLGetData");
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    const bool truncated = rc == SQL_SUCCESS_WITH_INFO && (indicator == SQL_NO_TOTAL || indicator >= chunk_bytes);
    const std::size_t units =
        truncated ? chunk.size() - terminator : static_cast<std::size_t>(indicator) / sizeof(Unit);
    result.append(chunk.data(), units);
    if (!truncated) break;
  }
  return result;
}

template <typename T>
std::optional<T> ReadFixed(StatementCore& core, SQLUSMALLINT column, SQLSMALLINT c_type) {
  T value{};
  SQLLEN indicator = 0;
  core.Check(SQLGetData(core.handle(), column, c_type, &value, sizeof(value), &indicator), "SQLGetData");
  if (indicator == SQL_NULL_DATA) return std::nullopt;
  return value;
}

std::string GuidText(std::string text) {
  text = text::UpperCaseAscii(text);
  if (!text.empty() && text.front() != '{') text = "{" + text + "}";
  return text;
}

Value ReadValue(StatementCore& core, SQLUSMALLINT column, ReadAs read_as) {
  switch (read_as) {
    case ReadAs::Integer:
      if (auto v = ReadFixed<SQLBIGINT>(core, column, SQL_C_SBIGINT)) return Value::Integer(*v);
      return {};
    case ReadAs::Double:
      if (auto v = ReadFixed<SQLDOUBLE>(core, column, SQL_C_DOUBLE)) return Value::Double(*v);
      return {};
    case ReadAs::Boolean:
      if (auto v = ReadFixed<SQLCHAR>(core, column, SQL_C_BIT)) return Value::Boolean(*v != 0);
      return {};
    case ReadAs::Timestamp:
    case ReadAs::Time:
      if (auto v = ReadFixed<SQL_TIMESTAMP_STRUCT>(core, column, SQL_C_TYPE_TIMESTAMP)) {
        DateTime dt{v->year, v->month, v->day, v->hour, v->minute, v->second,
                    static_cast<int>(v->fraction / 1000000u)};
        if (read_as == ReadAs::Time) {
          const DateTime day_zero;
          dt.year = day_zero.year;
          dt.month = day_zero.month;
          dt.day = day_zero.day;
        }
        return Value::FromDateTime(dt);
      }
      return {};
    case ReadAs::Binary:
      if (auto v = ReadChunked<char>(core, column, SQL_C_BINARY)) return Value::Bytes(std::move(*v));
      return {};
    case ReadAs::Guid:
      if (auto v = ReadChunked<char16_t>(core, column, SQL_C_WCHAR)) return Value::Guid(GuidText(text::Utf16ToAnsi(*v)));
      return {};
    case ReadAs::Text:
      break;
  }
  if (auto v = ReadChunked<char16_t>(core, column, SQL_C_WCHAR)) return Value::Text(text::Utf16ToAnsi(*v));
  return {};
}

ReadAs ReadAsFor(const ColumnInfo& column) {
  return column.field_type == FieldType::Guid ? ReadAs::Guid : ReadAsFor(static_cast<SQLSMALLINT>(column.sql_type));
}

// PostgreSQL keeps every text in the database's one encoding, so the Unicode driver's W types are
// its ordinary character types.
SQLSMALLINT OrdinaryCharacterType(SQLSMALLINT sql_type) {
  switch (sql_type) {
    case SQL_WCHAR:
      return SQL_CHAR;
    case SQL_WVARCHAR:
      return SQL_VARCHAR;
    case SQL_WLONGVARCHAR:
      return SQL_LONGVARCHAR;
    default:
      return sql_type;
  }
}

int ColumnSize(FieldType field_type, SQLSMALLINT sql_type, SQLULEN size) {
  if (field_type == FieldType::Guid) return kGuidTextSize;
  switch (ReadAsFor(sql_type)) {
    case ReadAs::Text:
    case ReadAs::Binary:
      return static_cast<int>(std::min<SQLULEN>(size, 0x7fffffff));
    default:
      return 0;
  }
}

ColumnInfo MakeColumnInfo(std::string name, SQLSMALLINT sql_type, std::string type_name, SQLULEN size,
                          SQLSMALLINT digits, SQLSMALLINT nullable, bool auto_unique, bool postgres) {
  ColumnInfo info;
  info.name = std::move(name);
  info.sql_type = sql_type;
  info.field_type = odbc::OdbcFieldType(postgres ? OrdinaryCharacterType(sql_type) : sql_type, type_name,
                                        static_cast<long long>(size), auto_unique);
  info.type_name = std::move(type_name);
  info.size = ColumnSize(info.field_type, sql_type, size);
  if (sql_type == SQL_DECIMAL || sql_type == SQL_NUMERIC) {
    info.precision = static_cast<int>(size);
    info.scale = digits;
  }
  if (nullable == SQL_NULLABLE) info.nullable = true;
  if (nullable == SQL_NO_NULLS) info.nullable = false;
  return info;
}

std::string ColumnTextAttribute(StatementCore& core, SQLUSMALLINT column, SQLUSMALLINT attribute) {
  std::u16string buffer(256, u'\0');
  SQLSMALLINT length = 0;
  const SQLRETURN rc = SQLColAttributeW(core.handle(), column, attribute, Wide(buffer),
                                        static_cast<SQLSMALLINT>(buffer.size() * sizeof(char16_t)), &length, nullptr);
  if (!Succeeded(rc)) return {};
  buffer.resize(std::min<std::size_t>(static_cast<std::size_t>(length) / sizeof(char16_t), buffer.size() - 1));
  return text::Utf16ToAnsi(buffer);
}

std::optional<SQLLEN> ColumnNumericAttribute(StatementCore& core, SQLUSMALLINT column, SQLUSMALLINT attribute) {
  SQLLEN value = 0;
  if (!Succeeded(SQLColAttributeW(core.handle(), column, attribute, nullptr, 0, nullptr, &value))) return std::nullopt;
  return value;
}

/// The rows of a statement's current result, read forward only.
class OdbcCursor : public Cursor {
 public:
  /// Reads from `core`; `owned` is the core itself when the cursor is its only user.
  OdbcCursor(StatementCore& core, std::unique_ptr<StatementCore> owned, bool postgres)
      : owned_(std::move(owned)), core_(core), run_(core.run) {
    SQLSMALLINT count = 0;
    core_.Check(SQLNumResultCols(core_.handle(), &count), "SQLNumResultCols");
    for (SQLUSMALLINT column = 1; column <= count; ++column) {
      std::u16string name(256, u'\0');
      SQLSMALLINT name_length = 0;
      SQLSMALLINT sql_type = 0;
      SQLULEN size = 0;
      SQLSMALLINT digits = 0;
      SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
      core_.Check(SQLDescribeColW(core_.handle(), column, Wide(name), static_cast<SQLSMALLINT>(name.size()),
                                  &name_length, &sql_type, &size, &digits, &nullable),
                  "SQLDescribeCol");
      name.resize(std::min<std::size_t>(static_cast<std::size_t>(name_length), name.size() - 1));
      const bool auto_unique = ColumnNumericAttribute(core_, column, SQL_DESC_AUTO_UNIQUE_VALUE) == SQL_TRUE;
      // The SQLite driver answers this one from the table while SQLDescribeCol always says nullable.
      if (const auto described = ColumnNumericAttribute(core_, column, SQL_DESC_NULLABLE)) {
        nullable = static_cast<SQLSMALLINT>(*described);
      }
      columns_.push_back(MakeColumnInfo(text::Utf16ToAnsi(name), sql_type,
                                        ColumnTextAttribute(core_, column, SQL_DESC_TYPE_NAME), size, digits,
                                        nullable, auto_unique, postgres));
      read_as_.push_back(ReadAsFor(columns_.back()));
    }
    row_.resize(columns_.size());
    done_ = columns_.empty();
  }

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }

  bool Next() override {
    if (done_) return false;
    if (core_.run != run_) throw DatabaseError("ODBC: the statement of this cursor has been run again");
    const SQLRETURN rc = SQLFetch(core_.handle());
    if (rc == SQL_NO_DATA) {
      done_ = true;
      SQLFreeStmt(core_.handle(), SQL_CLOSE);
      return false;
    }
    core_.Check(rc, "SQLFetch");
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      row_[i] = ReadValue(core_, static_cast<SQLUSMALLINT>(i + 1), read_as_[i]);
    }
    return true;
  }

  const Value& Get(std::size_t column) const override { return row_.at(column); }
  using Cursor::Get;

 private:
  std::unique_ptr<StatementCore> owned_;
  StatementCore& core_;
  std::uint64_t run_;
  std::vector<ColumnInfo> columns_;
  std::vector<ReadAs> read_as_;
  std::vector<Value> row_;
  bool done_ = false;
};

// ---------------------------------------------------------------------------------------------
// Statements

class OdbcStatement : public BackendStatement {
 public:
  OdbcStatement(std::shared_ptr<Session> session, int timeout_seconds, ServerTraits traits, std::string_view sql)
      : core_(std::move(session), timeout_seconds), traits_(traits) {
    std::u16string wide = text::AnsiToUtf16(sql);
    core_.Check(SQLPrepareW(core_.handle(), Wide(wide), SQL_NTS), "SQLPrepare");
  }

  std::int64_t Execute(const std::vector<Parameter>& params) override { return DrainCounts(core_, Run(params)); }

  std::unique_ptr<Cursor> Open(const std::vector<Parameter>& params) override {
    SkipToResultSet(core_, Run(params));
    return std::make_unique<OdbcCursor>(core_, nullptr, traits_.postgres);
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

// ---------------------------------------------------------------------------------------------
// Connections

struct TableEntry {
  std::string schema;
  std::string name;
  bool is_view = false;
};

bool IsSystemSchema(std::string_view schema) {
  return text::EqualsIgnoreCaseAscii(schema, "sys") || text::EqualsIgnoreCaseAscii(schema, "INFORMATION_SCHEMA") ||
         text::EqualsIgnoreCaseAscii(schema, "pg_catalog");
}

// A catalogue argument: the text, or no filter at all when it is empty.
struct CatalogArgument {
  explicit CatalogArgument(std::string_view ansi) : text(text::AnsiToUtf16(ansi)), given(!ansi.empty()) {}
  SQLWCHAR* data() { return given ? Wide(text) : nullptr; }
  SQLSMALLINT length() const { return given ? SQL_NTS : 0; }

  std::u16string text;
  bool given;
};

class OdbcConnection : public BackendConnection {
 public:
  OdbcConnection(std::string connection_string, const Timeouts& timeouts)
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

  std::string DbmsName() override { return dbms_name_; }

  std::string CurrentDatabase() override {
    std::u16string buffer(512, u'\0');
    SQLINTEGER length = 0;
    const SQLRETURN rc =
        SQLGetConnectAttrW(session_->dbc(), SQL_ATTR_CURRENT_CATALOG, Wide(buffer),
                           static_cast<SQLINTEGER>(buffer.size() * sizeof(char16_t)), &length);
    if (Succeeded(rc)) {
      buffer.resize(std::min<std::size_t>(static_cast<std::size_t>(length) / sizeof(char16_t), buffer.size() - 1));
      if (!buffer.empty()) return text::Utf16ToAnsi(buffer);
    }
    std::string name = InfoText(SQL_DATABASE_NAME);
    // The SQLite driver names no database: the one of the connection string is meant.
    return name.empty() ? odbc::FindOdbcAttribute(connection_string_, "Database") : name;
  }

  void SetCurrentDatabase(std::string_view name) override {
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

  void CreateDatabase(std::string_view name) override { Execute("CREATE DATABASE " + QuoteIdentifier(name)); }

  void SetCommandTimeout(int seconds) override { timeouts_.command_seconds = seconds; }

  std::int64_t Execute(std::string_view sql) override {
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

  std::unique_ptr<BackendStatement> Prepare(std::string_view sql) override {
    return std::make_unique<OdbcStatement>(session_, timeouts_.command_seconds, traits_, sql);
  }

  std::unique_ptr<Cursor> CallProcedure(std::string_view name, const std::vector<Parameter>& params,
                                        bool with_result) override {
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

  std::vector<std::string> Tables() override {
    std::vector<std::string> names;
    for (const auto& table : ListTables()) names.push_back(table.name);
    return names;
  }

  std::vector<ForeignKeyRow> ForeignKeys() override {
    const std::string database = CurrentDatabase();
    std::vector<ForeignKeyRow> result;
    for (const auto& table : ListTables()) {
      if (table.is_view) continue;
      CatalogArgument schema(table.schema);
      CatalogArgument name(table.name);
      StatementCore core(session_, timeouts_.command_seconds);
      core.Check(SQLForeignKeysW(core.handle(), nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, schema.data(),
                                 schema.length(), name.data(), name.length()),
                 "SQLForeignKeys");
      std::vector<KeyPair> pairs;
      OdbcCursor cursor(core, nullptr, traits_.postgres);
      while (cursor.Next()) {
        ForeignKeyRow row;
        row.PK_TABLE_CATALOG = OrDatabase(cursor.Get(0).AsString(), database);
        row.PK_TABLE_NAME = cursor.Get(2).AsString();
        row.PK_COLUMN_NAME = cursor.Get(3).AsString();
        row.FK_TABLE_CATALOG = OrDatabase(cursor.Get(4).AsString(), database);
        row.FK_TABLE_NAME = cursor.Get(6).AsString();
        row.FK_COLUMN_NAME = cursor.Get(7).AsString();
        row.FK_NAME = cursor.Get(11).AsString();
        pairs.push_back({std::move(row), cursor.Get(8).AsInteger()});
      }
      if (traits_.sqlite) NameSqliteForeignKeys(table.name, pairs);
      // Drivers order by the primary-key table; each key is wanted whole, in key-column order.
      std::stable_sort(pairs.begin(), pairs.end(), [](const KeyPair& a, const KeyPair& b) {
        if (a.row.FK_NAME != b.row.FK_NAME) return a.row.FK_NAME < b.row.FK_NAME;
        return a.sequence < b.sequence;
      });
      for (auto& pair : pairs) result.push_back(std::move(pair.row));
    }
    return result;
  }

  std::vector<PrimaryKeyRow> PrimaryKeys() override {
    const std::string database = CurrentDatabase();
    std::vector<PrimaryKeyRow> result;
    for (const auto& table : ListTables()) {
      if (table.is_view) continue;
      const PrimaryKey key = ReadPrimaryKey(table);
      if (key.columns.empty()) continue;
      result.push_back(PrimaryKeyRow{OrDatabase(key.catalog, database), table.name, key.name});
    }
    return result;
  }

  std::vector<std::string> Catalogs() override {
    std::vector<std::string> names;
    if (traits_.postgres) {
      // The PostgreSQL driver lists only the database it is connected to.
      auto statement = Prepare("SELECT datname FROM pg_database WHERE NOT datistemplate ORDER BY datname");
      auto cursor = statement->Open({});
      while (cursor->Next()) names.push_back(cursor->Get(0).AsString());
      return names;
    }
    StatementCore core(session_, timeouts_.command_seconds);
    std::u16string all = u"" SQL_ALL_CATALOGS;
    std::u16string empty;
    core.Check(SQLTablesW(core.handle(), Wide(all), SQL_NTS, Wide(empty), 0, Wide(empty), 0, Wide(empty), 0),
               "SQLTables");
    OdbcCursor cursor(core, nullptr, traits_.postgres);
    while (cursor.Next()) {
      std::string name = cursor.Get(0).AsString();
      if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    return names;
  }

  std::vector<ColumnInfo> Columns(std::string_view table_name) override {
    const TableEntry table = ResolveTable(table_name);
    CatalogArgument schema(EscapePattern(table.schema));
    CatalogArgument name(EscapePattern(table.name));
    StatementCore core(session_, timeouts_.command_seconds);
    core.Check(SQLColumnsW(core.handle(), nullptr, 0, schema.data(), schema.length(), name.data(), name.length(),
                           nullptr, 0),
               "SQLColumns");
    struct Ordered {
      ColumnInfo info;
      std::int64_t position;
    };
    std::vector<Ordered> columns;
    OdbcCursor cursor(core, nullptr, traits_.postgres);
    const auto auto_increment_column = cursor.FindColumn("AUTO_INCREMENT");
    while (cursor.Next()) {
      if (cursor.Get(2).AsString() != table.name) continue;
      std::string type_name = cursor.Get(5).AsString();
      // psqlodbc tells serial columns in a column of its own.
      const bool auto_unique = IsAutoIncrementTypeName(type_name) ||
                               (auto_increment_column && cursor.Get(*auto_increment_column).AsInteger() != 0);
      const auto nullable = static_cast<SQLSMALLINT>(cursor.Get(10).IsNull() ? SQL_NULLABLE_UNKNOWN
                                                                             : cursor.Get(10).AsInteger());
      ColumnInfo info = MakeColumnInfo(cursor.Get(3).AsString(), static_cast<SQLSMALLINT>(cursor.Get(4).AsInteger()),
                                       std::move(type_name), static_cast<SQLULEN>(cursor.Get(6).AsInteger()),
                                       static_cast<SQLSMALLINT>(cursor.Get(8).AsInteger()), nullable, auto_unique,
                                       traits_.postgres);
      columns.push_back({std::move(info), cursor.Get(16).AsInteger()});
    }
    std::stable_sort(columns.begin(), columns.end(),
                     [](const Ordered& a, const Ordered& b) { return a.position < b.position; });
    std::vector<ColumnInfo> result;
    result.reserve(columns.size());
    for (auto& column : columns) result.push_back(std::move(column.info));
    return result;
  }

  std::vector<IndexInfo> Indexes(std::string_view table_name) override {
    const TableEntry table = ResolveTable(table_name);
    const PrimaryKey key = ReadPrimaryKey(table);
    CatalogArgument schema(table.schema);
    CatalogArgument name(table.name);
    StatementCore core(session_, timeouts_.command_seconds);
    core.Check(SQLStatisticsW(core.handle(), nullptr, 0, schema.data(), schema.length(), name.data(), name.length(),
                              SQL_INDEX_ALL, SQL_QUICK),
               "SQLStatistics");
    struct Index {
      std::string name;
      bool unique = false;
      std::vector<std::pair<std::int64_t, std::string>> columns;
    };
    std::vector<Index> indexes;
    OdbcCursor cursor(core, nullptr, traits_.postgres);
    while (cursor.Next()) {
      if (cursor.Get(6).AsInteger() == SQL_TABLE_STAT || cursor.Get(5).IsNull()) continue;
      const std::string index_name = cursor.Get(5).AsString();
      auto found = std::find_if(indexes.begin(), indexes.end(),
                                [&](const Index& index) { return index.name == index_name; });
      if (found == indexes.end()) {
        indexes.push_back(Index{index_name, cursor.Get(3).AsInteger() == SQL_FALSE, {}});
        found = std::prev(indexes.end());
      }
      found->columns.emplace_back(cursor.Get(7).AsInteger(), cursor.Get(8).AsString());
    }
    std::vector<IndexInfo> result;
    for (auto& index : indexes) {
      std::stable_sort(index.columns.begin(), index.columns.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
      IndexInfo info;
      info.name = index.name;
      info.unique = index.unique;
      std::vector<std::string> column_names;
      for (const auto& column : index.columns) {
        if (!info.fields.empty()) info.fields += ';';
        info.fields += column.second;
        column_names.push_back(column.second);
      }
      info.primary = !key.columns.empty() && (index.name == key.name || column_names == key.columns);
      result.push_back(std::move(info));
    }
    return result;
  }

  void BeginTransaction() override {
    Check(SQLSetConnectAttrW(session_->dbc(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF),
                             SQL_IS_UINTEGER),
          SQL_HANDLE_DBC, session_->dbc(), "SQLSetConnectAttr");
    session_->in_transaction = true;
  }

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

  std::int64_t ExecuteOne(std::string_view sql) {
    StatementCore core(session_, timeouts_.command_seconds);
    std::u16string wide = text::AnsiToUtf16(sql);
    return DrainCounts(core, SQLExecDirectW(core.handle(), Wide(wide), SQL_NTS));
  }

  static std::vector<std::string> SplitSqliteStatements(std::string_view sql) {
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

  // The SQLite driver gives no constraint names: they are read from the CREATE TABLE text, and
  // unnamed keys are called PK_<table> and FK_<table>_<n> as the SQLite back end calls them.
  sqlite::TableConstraints SqliteConstraints(const std::string& table) {
    auto statement = Prepare("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?");
    auto cursor = statement->Open({Parameter{"name", FieldType::String, 0, Value::Text(table)}});
    if (!cursor->Next()) return {};
    return sqlite::ParseCreateTable(cursor->Get(0).AsString());
  }

  void NameSqliteForeignKeys(const std::string& table, std::vector<KeyPair>& pairs) {
    if (std::none_of(pairs.begin(), pairs.end(), [](const KeyPair& pair) { return pair.row.FK_NAME.empty(); })) {
      return;
    }
    const auto constraints = SqliteConstraints(table);
    std::vector<std::string> names;
    int unnamed = 0;
    for (const auto& clause : constraints.foreign_keys) {
      names.push_back(clause.name.empty() ? "FK_" + table + "_" + std::to_string(++unnamed) : clause.name);
    }
    for (auto& pair : pairs) {
      ForeignKeyRow& row = pair.row;
      if (!row.FK_NAME.empty()) continue;
      for (std::size_t i = 0; i < constraints.foreign_keys.size(); ++i) {
        const auto& clause = constraints.foreign_keys[i];
        const bool has_column = std::any_of(clause.columns.begin(), clause.columns.end(), [&](const std::string& c) {
          return text::EqualsIgnoreCaseAscii(c, row.FK_COLUMN_NAME);
        });
        if (has_column && text::EqualsIgnoreCaseAscii(clause.parent, row.PK_TABLE_NAME)) {
          row.FK_NAME = names[i];
          break;
        }
      }
    }
  }

  static std::string OrDatabase(const std::string& catalog, const std::string& database) {
    return catalog.empty() ? database : catalog;
  }

  static bool IsAutoIncrementTypeName(std::string_view type_name) {
    const std::string upper = text::UpperCaseAscii(type_name);
    return upper.find("IDENTITY") != std::string::npos || upper == "SERIAL" || upper == "BIGSERIAL";
  }

  std::string InfoText(SQLUSMALLINT info) {
    std::u16string buffer(256, u'\0');
    SQLSMALLINT length = 0;
    Check(SQLGetInfoW(session_->dbc(), info, Wide(buffer), static_cast<SQLSMALLINT>(buffer.size() * sizeof(char16_t)),
                      &length),
          SQL_HANDLE_DBC, session_->dbc(), "SQLGetInfo");
    buffer.resize(std::min<std::size_t>(static_cast<std::size_t>(length) / sizeof(char16_t), buffer.size() - 1));
    return text::Utf16ToAnsi(buffer);
  }

  std::string QuoteIdentifier(std::string_view name) const {
    const char open = traits_.sql_server ? '[' : '"';
    const char close = traits_.sql_server ? ']' : '"';
    if (name.empty() || name.find(close) != std::string_view::npos) {
      throw DatabaseError("ODBC: invalid database name \"" + std::string(name) + "\"");
    }
    return open + std::string(name) + close;
  }

  std::string EscapePattern(std::string_view value) {
    if (!escape_.has_value()) escape_ = InfoText(SQL_SEARCH_PATTERN_ESCAPE);
    std::string result;
    for (const char c : value) {
      if ((c == '_' || c == '%') && !escape_->empty()) result += *escape_;
      result += c;
    }
    return result;
  }

  // Tables first, then views, each group by name; system schemas left out.
  std::vector<TableEntry> ListTables() {
    StatementCore core(session_, timeouts_.command_seconds);
    std::u16string types = u"TABLE,VIEW";
    core.Check(SQLTablesW(core.handle(), nullptr, 0, nullptr, 0, nullptr, 0, Wide(types), SQL_NTS), "SQLTables");
    std::vector<TableEntry> tables;
    OdbcCursor cursor(core, nullptr, traits_.postgres);
    while (cursor.Next()) {
      TableEntry entry{cursor.Get(1).AsString(), cursor.Get(2).AsString(),
                       text::EqualsIgnoreCaseAscii(cursor.Get(3).AsString(), "VIEW")};
      if (IsSystemSchema(entry.schema)) continue;
      if (traits_.sqlite && entry.name.starts_with("sqlite_")) continue;
      tables.push_back(std::move(entry));
    }
    std::stable_sort(tables.begin(), tables.end(), [](const TableEntry& a, const TableEntry& b) {
      if (a.is_view != b.is_view) return !a.is_view;
      return LessIgnoringCase(a.name, b.name);
    });
    return tables;
  }

  // The catalogue's own spelling of a table name (PostgreSQL folds unquoted names to lower case).
  TableEntry ResolveTable(std::string_view name) {
    const auto tables = ListTables();
    for (const auto& table : tables) {
      if (table.name == name) return table;
    }
    for (const auto& table : tables) {
      if (text::EqualsIgnoreCaseAscii(table.name, name)) return table;
    }
    return TableEntry{{}, std::string(name), false};
  }

  PrimaryKey ReadPrimaryKey(const TableEntry& table) {
    CatalogArgument schema(table.schema);
    CatalogArgument name(table.name);
    StatementCore core(session_, timeouts_.command_seconds);
    core.Check(SQLPrimaryKeysW(core.handle(), nullptr, 0, schema.data(), schema.length(), name.data(), name.length()),
               "SQLPrimaryKeys");
    PrimaryKey key;
    std::vector<std::pair<std::int64_t, std::string>> columns;
    OdbcCursor cursor(core, nullptr, traits_.postgres);
    while (cursor.Next()) {
      if (key.name.empty()) {
        key.catalog = cursor.Get(0).AsString();
        key.name = cursor.Get(5).AsString();
      }
      columns.emplace_back(cursor.Get(4).AsInteger(), cursor.Get(3).AsString());
    }
    std::stable_sort(columns.begin(), columns.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& column : columns) key.columns.push_back(std::move(column.second));
    if (traits_.sqlite && !key.columns.empty() && key.name.empty()) {
      key.name = SqliteConstraints(table.name).primary_key_name;
      if (key.name.empty()) key.name = "PK_" + table.name;
    }
    return key;
  }

  void EndTransaction(SQLSMALLINT completion) {
    const SQLHDBC dbc = session_->dbc();
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc, completion);
    std::optional<Diagnostics> failure;
    if (!Succeeded(rc)) failure = ReadDiagnostics(SQL_HANDLE_DBC, dbc);
    session_->in_transaction = false;
    const SQLRETURN restored =
        SQLSetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), SQL_IS_UINTEGER);
    if (failure) {
      if (failure->message.empty()) failure->message = "ODBC: SQLEndTran failed";
      throw DatabaseError(failure->message, failure->sqlstate, failure->native_code);
    }
    Check(restored, SQL_HANDLE_DBC, dbc, "SQLSetConnectAttr");
  }

  std::shared_ptr<Handle> env_;
  std::string connection_string_;  ///< with the login, as the session was opened
  Timeouts timeouts_;
  std::shared_ptr<Session> session_;
  std::string dbms_name_;
  ServerTraits traits_;
  std::optional<std::string> escape_;
};

// The connection string with the login and the options the back end relies on.
std::string FullConnectionString(const std::string& odbc, std::string_view user, std::string_view password) {
  std::string result = odbc;
  while (!result.empty() && (result.back() == ';' || result.back() == ' ')) result.pop_back();
  if (!user.empty()) result = odbc::WithOdbcAttribute(result, "UID", user);
  if (!password.empty()) result = odbc::WithOdbcAttribute(result, "PWD", password);
  // psqlodbc reports booleans as texts unless told otherwise.
  const std::string driver = text::UpperCaseAscii(odbc::FindOdbcAttribute(result, "Driver"));
  if (driver.find("POSTGRES") != std::string::npos && odbc::FindOdbcAttribute(result, "BoolsAsChar").empty()) {
    result = odbc::WithOdbcAttribute(result, "BoolsAsChar", "0");
  }
  return result;
}

}  // namespace

std::unique_ptr<BackendConnection> OpenOdbcBackend(const ResolvedConnection& target, std::string_view user,
                                                   std::string_view password, const Timeouts& timeouts) {
  return std::make_unique<OdbcConnection>(FullConnectionString(target.odbc, user, password), timeouts);
}

}  // namespace tamaril::dbaccess
