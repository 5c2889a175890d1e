#pragma once

// Reading the rows of an ODBC result: the column descriptions and a forward-only cursor. Private
// to dbaccess/.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbaccess/cursor.h"
#include "dbaccess/odbc_handles.h"

namespace tamaril::dbaccess::odbc {

/// How a column's data is fetched.
enum class ReadAs { Text, Binary, Integer, Double, Boolean, Timestamp, Time, Guid };

/// The description of a result column of ODBC type `sql_type`; `postgres` counts the Unicode
/// driver's wide character types as the plain ones.
ColumnInfo MakeColumnInfo(std::string name, SQLSMALLINT sql_type, std::string type_name, SQLULEN size,
                          SQLSMALLINT digits, SQLSMALLINT nullable, bool auto_unique, bool postgres);

/// The rows of a statement's current result, read forward only.
class OdbcCursor : public Cursor {
 public:
  /// Reads from `core`; `owned` is the core itself when the cursor is its only user. With
  /// `unicode` texts come as UTF-8 (Value::UnicodeText), else as Windows-1250.
  OdbcCursor(StatementCore& core, std::unique_ptr<StatementCore> owned, bool postgres, bool unicode = false);

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }

  /// Fetches the next row; throws DatabaseError when the statement ran again since or the fetch fails.
  bool Next() override;

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
  bool unicode_ = false;
};

}  // namespace tamaril::dbaccess::odbc
