#include "dbaccess/odbc_cursor.h"

#include <algorithm>
#include <optional>

#include "dbaccess/odbc_support.h"
#include "text/ascii.h"

namespace tamaril::dbaccess::odbc {
namespace {

using dataset::FieldType;

constexpr std::size_t kChunkChars = 4096;
constexpr int kGuidTextSize = 38;

ReadAs ReadAsFor(SQLSMALLINT sql_type) {
  switch (sql_type) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT: return ReadAs::Integer;
    case SQL_BIT: return ReadAs::Boolean;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE: return ReadAs::Double;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_DATE: return ReadAs::Timestamp;
    case SQL_TYPE_TIME:
    case SQL_TIME: return ReadAs::Time;
    case SQL_GUID: return ReadAs::Guid;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return ReadAs::Binary;
    default: return ReadAs::Text;
  }
}

// A column's data in chunks: texts as UTF-16 code units, binaries as bytes; nothing for NULL.
template <typename Unit>
std::optional<std::basic_string<Unit>> ReadChunked(StatementCore& core, SQLUSMALLINT column,
                                                   SQLSMALLINT c_type) {
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
    const bool truncated =
        rc == SQL_SUCCESS_WITH_INFO && (indicator == SQL_NO_TOTAL || indicator >= chunk_bytes);
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

Value ReadValue(StatementCore& core, SQLUSMALLINT column, ReadAs read_as, bool unicode) {
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
        DateTime dt{v->year,
                    v->month,
                    v->day,
                    v->hour,
                    v->minute,
                    v->second,
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
      if (auto v = ReadChunked<char16_t>(core, column, SQL_C_WCHAR))
        return Value::Guid(GuidText(text::Utf16ToAnsi(*v)));
      return {};
    case ReadAs::Text: break;
  }
  if (auto v = ReadChunked<char16_t>(core, column, SQL_C_WCHAR)) {
    if (unicode) return Value::UnicodeText(text::Utf16ToUtf8(*v));
    bool lossy = false;
    std::string ansi = text::Utf16ToAnsi(*v, lossy);
    return Value::Text(std::move(ansi), lossy);
  }
  return {};
}

ReadAs ReadAsFor(const ColumnInfo& column) {
  return column.field_type == FieldType::Guid ? ReadAs::Guid
                                              : ReadAsFor(static_cast<SQLSMALLINT>(column.sql_type));
}

// PostgreSQL keeps every text in the database's one encoding, so the Unicode driver's W types are
// its ordinary character types.
SQLSMALLINT OrdinaryCharacterType(SQLSMALLINT sql_type) {
  switch (sql_type) {
    case SQL_WCHAR: return SQL_CHAR;
    case SQL_WVARCHAR: return SQL_VARCHAR;
    case SQL_WLONGVARCHAR: return SQL_LONGVARCHAR;
    default: return sql_type;
  }
}

int ColumnSize(FieldType field_type, SQLSMALLINT sql_type, SQLULEN size) {
  if (field_type == FieldType::Guid) return kGuidTextSize;
  switch (ReadAsFor(sql_type)) {
    case ReadAs::Text:
    case ReadAs::Binary: return static_cast<int>(std::min<SQLULEN>(size, 0x7fffffff));
    default: return 0;
  }
}

std::string ColumnTextAttribute(StatementCore& core, SQLUSMALLINT column, SQLUSMALLINT attribute) {
  std::u16string buffer(256, u'\0');
  SQLSMALLINT length = 0;
  const SQLRETURN rc =
      SQLColAttributeW(core.handle(), column, attribute, Wide(buffer),
                       static_cast<SQLSMALLINT>(buffer.size() * sizeof(char16_t)), &length, nullptr);
  if (!Succeeded(rc)) return {};
  buffer.resize(
      std::min<std::size_t>(static_cast<std::size_t>(length) / sizeof(char16_t), buffer.size() - 1));
  return text::Utf16ToAnsi(buffer);
}

std::optional<SQLLEN> ColumnNumericAttribute(StatementCore& core, SQLUSMALLINT column,
                                             SQLUSMALLINT attribute) {
  SQLLEN value = 0;
  if (!Succeeded(SQLColAttributeW(core.handle(), column, attribute, nullptr, 0, nullptr, &value)))
    return std::nullopt;
  return value;
}

}  // namespace

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

OdbcCursor::OdbcCursor(StatementCore& core, std::unique_ptr<StatementCore> owned, bool postgres, bool unicode)
    : owned_(std::move(owned)), core_(core), run_(core.run), unicode_(unicode) {
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

bool OdbcCursor::Next() {
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
    row_[i] = ReadValue(core_, static_cast<SQLUSMALLINT>(i + 1), read_as_[i], unicode_);
  }
  return true;
}

}  // namespace tamaril::dbaccess::odbc
