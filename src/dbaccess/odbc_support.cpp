#include "dbaccess/odbc_support.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <vector>

#include "text/ascii.h"

namespace tamaril::dbaccess::odbc {
namespace {

using dataset::FieldType;

// SQL Server's own type codes for time(n) and datetimeoffset, which its drivers report.
constexpr int kSqlServerTime2 = -154;
constexpr int kSqlServerDateTimeOffset = -155;
// The largest varchar/varbinary that is not a (max) type.
constexpr long long kLargestShortColumn = 8000;

bool ContainsIgnoringCase(std::string_view text, std::string_view part) {
  if (part.size() > text.size()) return false;
  for (std::size_t i = 0; i + part.size() <= text.size(); ++i) {
    if (text::EqualsIgnoreCaseAscii(text.substr(i, part.size()), part)) return true;
  }
  return false;
}

struct OdbcItem {
  std::string_view name;
  std::string_view raw;  ///< the whole item as written
  std::string value;     ///< braces removed, "}}" undone
};

// Splits at ";" outside braced values; a braced value ends at a "}" that is not doubled.
std::vector<OdbcItem> SplitItems(std::string_view text) {
  std::vector<OdbcItem> items;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = pos;
    const std::size_t equals = text.find_first_of("=;", pos);
    if (equals == std::string_view::npos || text[equals] == ';') {
      const std::size_t end = equals == std::string_view::npos ? text.size() : equals;
      if (!text::TrimBlanks(text.substr(start, end - start)).empty()) {
        items.push_back(
            {text::TrimBlanks(text.substr(start, end - start)), text.substr(start, end - start), {}});
      }
      pos = end + 1;
      continue;
    }
    OdbcItem item{text::TrimBlanks(text.substr(start, equals - start)), {}, {}};
    pos = equals + 1;
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (pos < text.size() && text[pos] == '{') {
      ++pos;
      while (pos < text.size()) {
        if (text[pos] == '}') {
          if (pos + 1 < text.size() && text[pos + 1] == '}') {
            item.value += '}';
            pos += 2;
            continue;
          }
          ++pos;
          break;
        }
        item.value += text[pos++];
      }
      const std::size_t end = text.find(';', pos);
      pos = end == std::string_view::npos ? text.size() : end;
    } else {
      const std::size_t end = text.find(';', pos);
      const std::size_t stop = end == std::string_view::npos ? text.size() : end;
      item.value = std::string(text::TrimBlanks(text.substr(pos, stop - pos)));
      pos = stop;
    }
    item.raw = text.substr(start, pos - start);
    items.push_back(std::move(item));
    ++pos;
  }
  return items;
}

bool IsTextType(int sql_type) {
  switch (sql_type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR: return true;
    default: return false;
  }
}

}  // namespace

std::string QuoteOdbcValue(std::string_view value) {
  if (value.find_first_of(";{}=") == std::string_view::npos && text::TrimBlanks(value) == value)
    return std::string(value);
  std::string braced = "{";
  for (const char c : value) {
    braced += c;
    if (c == '}') braced += '}';
  }
  braced += '}';
  return braced;
}

std::string WithOdbcAttribute(std::string_view connection, std::string_view name, std::string_view value) {
  std::string result;
  for (const auto& item : SplitItems(connection)) {
    if (text::EqualsIgnoreCaseAscii(item.name, name)) continue;
    result.append(item.raw);
    result += ';';
  }
  result.append(name);
  result += '=';
  result += QuoteOdbcValue(value);
  return result;
}

std::string FindOdbcAttribute(std::string_view connection, std::string_view name) {
  for (const auto& item : SplitItems(connection)) {
    if (text::EqualsIgnoreCaseAscii(item.name, name)) return item.value;
  }
  return {};
}

dataset::FieldType OdbcFieldType(int sql_type, std::string_view type_name, long long size, bool auto_unique) {
  const bool unlimited = size <= 0 || size > kLargestShortColumn;
  // Drivers without a GUID type of their own still name the column's declared type.
  if (text::EqualsIgnoreCaseAscii(type_name, "uniqueidentifier") ||
      text::EqualsIgnoreCaseAscii(type_name, "uuid")) {
    return FieldType::Guid;
  }
  // varchar(max) and its kin report no size or a huge one: they are memos.
  if (IsTextType(sql_type) && unlimited) return FieldType::Memo;
  switch (sql_type) {
    case SQL_INTEGER: return auto_unique ? FieldType::AutoInc : FieldType::Integer;
    case SQL_SMALLINT: return FieldType::Smallint;
    case SQL_TINYINT: return FieldType::Word;
    case SQL_BIGINT: return FieldType::Largeint;
    case SQL_GUID: return FieldType::Guid;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
    case kSqlServerDateTimeOffset: return FieldType::DateTime;
    case SQL_TYPE_DATE:
    case SQL_DATE: return FieldType::Date;
    case SQL_TYPE_TIME:
    case SQL_TIME:
    case kSqlServerTime2: return FieldType::Time;
    case SQL_BIT: return FieldType::Boolean;
    case SQL_DECIMAL:
    case SQL_NUMERIC: return ContainsIgnoringCase(type_name, "money") ? FieldType::Currency : FieldType::BCD;
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE: return ContainsIgnoringCase(type_name, "money") ? FieldType::Currency : FieldType::Float;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR: return FieldType::Memo;
    case SQL_LONGVARBINARY: return FieldType::Blob;
    case SQL_VARBINARY: return unlimited ? FieldType::Blob : FieldType::VarBytes;
    case SQL_BINARY: return FieldType::Bytes;
    case SQL_CHAR: return FieldType::FixedChar;
    case SQL_VARCHAR: return FieldType::String;
    case SQL_WCHAR:
    case SQL_WVARCHAR: return FieldType::WideString;
    default: return FieldType::Unknown;
  }
}

}  // namespace tamaril::dbaccess::odbc
