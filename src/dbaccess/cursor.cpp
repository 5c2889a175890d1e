#include "dbaccess/cursor.h"

#include <fmt/format.h>

#include "dbaccess/errors.h"
#include "text/ascii.h"

namespace tamaril::dbaccess {

std::optional<std::size_t> Cursor::FindColumn(std::string_view name) const {
  const auto& columns = Columns();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (text::EqualsIgnoreCaseAscii(columns[i].name, name)) return i;
  }
  return std::nullopt;
}

const Value& Cursor::Get(std::string_view name) const {
  const auto column = FindColumn(name);
  if (!column) throw DatabaseError(fmt::format("Field '{}' not found", name));
  return Get(*column);
}

MemoryCursor::MemoryCursor(std::vector<ColumnInfo> columns, std::vector<std::vector<Value>> rows)
    : columns_(std::move(columns)), rows_(std::move(rows)) {}

bool MemoryCursor::Next() {
  if (position_ >= rows_.size()) {
    position_ = rows_.size() + 1;
    return false;
  }
  ++position_;
  return true;
}

const Value& MemoryCursor::Get(std::size_t column) const {
  if (position_ == 0 || position_ > rows_.size()) throw DatabaseError("No current row");
  const auto& row = rows_[position_ - 1];
  if (column >= row.size()) throw DatabaseError(fmt::format("Column {} out of range", column));
  return row[column];
}

std::unique_ptr<MemoryCursor> FetchAll(Cursor& cursor) {
  std::vector<std::vector<Value>> rows;
  const std::size_t width = cursor.Columns().size();
  while (cursor.Next()) {
    std::vector<Value> row;
    row.reserve(width);
    for (std::size_t i = 0; i < width; ++i) row.push_back(cursor.Get(i));
    rows.push_back(std::move(row));
  }
  return std::make_unique<MemoryCursor>(cursor.Columns(), std::move(rows));
}

}  // namespace tamaril::dbaccess
