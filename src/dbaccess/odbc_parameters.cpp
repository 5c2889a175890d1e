#include "dbaccess/odbc_parameters.h"

#include <algorithm>
#include <optional>

namespace tamaril::dbaccess::odbc {
namespace {

using dataset::FieldType;

// Texts longer than this go as long data types (nvarchar(max), varbinary(max)).
constexpr std::size_t kLongTextChars = 4000;
constexpr std::size_t kLongBinaryBytes = 8000;

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
    case FieldType::FixedChar: return SqlTypeInfo{SQL_VARCHAR, text_size, 0};
    case FieldType::WideString: return SqlTypeInfo{SQL_WVARCHAR, text_size, 0};
    case FieldType::Memo:
    case FieldType::FmtMemo: return SqlTypeInfo{SQL_LONGVARCHAR, 0, 0};
    case FieldType::Guid: return SqlTypeInfo{SQL_GUID, 36, 0};
    case FieldType::Smallint: return SqlTypeInfo{SQL_SMALLINT, 5, 0};
    case FieldType::Integer:
    case FieldType::Word:
    case FieldType::AutoInc: return SqlTypeInfo{SQL_INTEGER, 10, 0};
    case FieldType::Largeint: return SqlTypeInfo{SQL_BIGINT, 19, 0};
    case FieldType::Boolean: return SqlTypeInfo{SQL_BIT, 1, 0};
    case FieldType::Float: return SqlTypeInfo{SQL_DOUBLE, 15, 0};
    case FieldType::Currency:
    case FieldType::BCD: return SqlTypeInfo{SQL_NUMERIC, 19, 4};
    case FieldType::Date: return SqlTypeInfo{SQL_TYPE_DATE, 10, 0};
    case FieldType::Time: return SqlTypeInfo{SQL_TYPE_TIME, 8, 0};
    case FieldType::DateTime: return SqlTypeInfo{SQL_TYPE_TIMESTAMP, 23, 3};
    case FieldType::Bytes: return SqlTypeInfo{SQL_BINARY, text_size, 0};
    case FieldType::VarBytes: return SqlTypeInfo{SQL_VARBINARY, text_size, 0};
    case FieldType::Blob:
    case FieldType::Graphic:
    case FieldType::TypedBinary: return SqlTypeInfo{SQL_LONGVARBINARY, 0, 0};
    default: return std::nullopt;
  }
}

bool IsBinarySqlType(SQLSMALLINT sql_type) {
  return sql_type == SQL_BINARY || sql_type == SQL_VARBINARY || sql_type == SQL_LONGVARBINARY;
}

// The type of a NULL: the declared one, else what the driver says the placeholder is.
SqlTypeInfo NullType(SQLHSTMT stmt, SQLUSMALLINT number, const Parameter& parameter,
                     const ServerTraits& traits) {
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

}  // namespace

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
        b.text = value.Unicode() ? text::Utf8ToUtf16(content) : text::AnsiToUtf16(content);
        const std::size_t length = b.text.size();
        if (guid && (traits.sql_server || traits.postgres)) {
          type = {SQL_GUID, 36, 0};
        } else {
          type = {static_cast<SQLSMALLINT>(length > kLongTextChars ? SQL_WLONGVARCHAR : SQL_WVARCHAR),
                  std::max<std::size_t>(length, 1), 0};
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
        b.stamp = SQL_TIMESTAMP_STRUCT{static_cast<SQLSMALLINT>(dt.year),
                                       static_cast<SQLUSMALLINT>(dt.month),
                                       static_cast<SQLUSMALLINT>(dt.day),
                                       static_cast<SQLUSMALLINT>(dt.hour),
                                       static_cast<SQLUSMALLINT>(dt.minute),
                                       static_cast<SQLUSMALLINT>(dt.second),
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
        type = {
            static_cast<SQLSMALLINT>(b.bytes.size() > kLongBinaryBytes ? SQL_LONGVARBINARY : SQL_VARBINARY),
            std::max<std::size_t>(b.bytes.size(), 1), 0};
        data = b.bytes.data();
        buffer_length = static_cast<SQLLEN>(b.bytes.size());
        b.indicator = buffer_length;
        break;
    }
    core.Check(SQLBindParameter(core.handle(), number, SQL_PARAM_INPUT, c_type, type.sql_type,
                                type.column_size, type.digits, data, buffer_length, &b.indicator),
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

}  // namespace tamaril::dbaccess::odbc
