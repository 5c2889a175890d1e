#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/field_type.h"
#include "dbaccess/value.h"

namespace tamaril::dbaccess {

/// Metadata of one result or table column.
struct ColumnInfo {
  std::string name;
  dataset::FieldType field_type = dataset::FieldType::Unknown;
  std::string type_name;         ///< declared type (SQLite) or the driver's type name (ODBC)
  int sql_type = 0;              ///< ODBC SQL data type code; 0 for SQLite
  int size = 0;                  ///< characters for texts, bytes for binaries, else 0
  int precision = 0;             ///< digits for exact numerics
  int scale = 0;                 ///< digits after the decimal point
  std::optional<bool> nullable;  ///< nothing when the driver does not know
};

/// A result of rows read forward only. `Next` moves to the first row on its first call; values
/// are valid until the next call. A cursor obtained from a `Statement` must not outlive it.
class Cursor {
 public:
  virtual ~Cursor() = default;

  /// The columns of the result, in select order.
  virtual const std::vector<ColumnInfo>& Columns() const = 0;
  /// Moves to the next row; false after the last one. Throws DatabaseError.
  virtual bool Next() = 0;
  /// The value of a column (0-based) of the current row.
  virtual const Value& Get(std::size_t column) const = 0;

  /// Position of a column by name, ignoring case; nothing when absent.
  std::optional<std::size_t> FindColumn(std::string_view name) const;
  /// Value of a column by name; throws DatabaseError "Field 'X' not found" when absent.
  const Value& Get(std::string_view name) const;
};

/// A fully fetched result held in memory; it can be read again from the start.
class MemoryCursor : public Cursor {
 public:
  MemoryCursor(std::vector<ColumnInfo> columns, std::vector<std::vector<Value>> rows);

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  bool Next() override;
  const Value& Get(std::size_t column) const override;
  using Cursor::Get;

  /// Goes back before the first row.
  void Rewind() noexcept { position_ = 0; }
  std::size_t RowCount() const noexcept { return rows_.size(); }
  const std::vector<std::vector<Value>>& Rows() const noexcept { return rows_; }

 private:
  std::vector<ColumnInfo> columns_;
  std::vector<std::vector<Value>> rows_;
  std::size_t position_ = 0;  ///< 1-based current row, 0 before the first
};

/// Reads the rest of a cursor into memory.
std::unique_ptr<MemoryCursor> FetchAll(Cursor& cursor);

}  // namespace tamaril::dbaccess
