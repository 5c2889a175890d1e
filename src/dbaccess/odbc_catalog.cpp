// The catalogue reads of the ODBC connection: tables and views, foreign and primary keys,
// catalogs, columns and indexes, by the result sets of the ODBC catalogue functions.

#include <algorithm>
#include <iterator>
#include <utility>

#include "dbaccess/odbc_connection.h"
#include "text/ascii.h"

namespace tamaril::dbaccess::odbc {
namespace {

using dataset::FieldType;

// Column numbers of the catalogue functions' result sets, as ODBC numbers them (from 1).
namespace tables_column {
constexpr SQLUSMALLINT kCatalog = 1;  // TABLE_CAT
constexpr SQLUSMALLINT kSchema = 2;   // TABLE_SCHEM
constexpr SQLUSMALLINT kName = 3;     // TABLE_NAME
constexpr SQLUSMALLINT kType = 4;     // TABLE_TYPE
}  // namespace tables_column

namespace foreign_keys_column {
constexpr SQLUSMALLINT kPrimaryCatalog = 1;  // PKTABLE_CAT
constexpr SQLUSMALLINT kPrimaryTable = 3;    // PKTABLE_NAME
constexpr SQLUSMALLINT kPrimaryColumn = 4;   // PKCOLUMN_NAME
constexpr SQLUSMALLINT kForeignCatalog = 5;  // FKTABLE_CAT
constexpr SQLUSMALLINT kForeignTable = 7;    // FKTABLE_NAME
constexpr SQLUSMALLINT kForeignColumn = 8;   // FKCOLUMN_NAME
constexpr SQLUSMALLINT kKeySequence = 9;     // KEY_SEQ
constexpr SQLUSMALLINT kKeyName = 12;        // FK_NAME
}  // namespace foreign_keys_column

namespace primary_keys_column {
constexpr SQLUSMALLINT kCatalog = 1;      // TABLE_CAT
constexpr SQLUSMALLINT kColumnName = 4;   // COLUMN_NAME
constexpr SQLUSMALLINT kKeySequence = 5;  // KEY_SEQ
constexpr SQLUSMALLINT kKeyName = 6;      // PK_NAME
}  // namespace primary_keys_column

namespace columns_column {
constexpr SQLUSMALLINT kTableName = 3;         // TABLE_NAME
constexpr SQLUSMALLINT kColumnName = 4;        // COLUMN_NAME
constexpr SQLUSMALLINT kDataType = 5;          // DATA_TYPE
constexpr SQLUSMALLINT kTypeName = 6;          // TYPE_NAME
constexpr SQLUSMALLINT kColumnSize = 7;        // COLUMN_SIZE
constexpr SQLUSMALLINT kDecimalDigits = 9;     // DECIMAL_DIGITS
constexpr SQLUSMALLINT kNullable = 11;         // NULLABLE
constexpr SQLUSMALLINT kOrdinalPosition = 17;  // ORDINAL_POSITION
}  // namespace columns_column

namespace statistics_column {
constexpr SQLUSMALLINT kNonUnique = 4;        // NON_UNIQUE
constexpr SQLUSMALLINT kIndexName = 6;        // INDEX_NAME
constexpr SQLUSMALLINT kType = 7;             // TYPE
constexpr SQLUSMALLINT kOrdinalPosition = 8;  // ORDINAL_POSITION
constexpr SQLUSMALLINT kColumnName = 9;       // COLUMN_NAME
}  // namespace statistics_column

// The value of the current row's column numbered as ODBC numbers it.
const Value& At(const OdbcCursor& cursor, SQLUSMALLINT column) { return cursor.Get(std::size_t{column} - 1); }

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  const bool less = std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return text::UpperAscii(x) < text::UpperAscii(y);
  });
  if (less || !text::EqualsIgnoreCaseAscii(a, b)) return less;
  return a < b;
}

bool IsSystemSchema(std::string_view schema) {
  return text::EqualsIgnoreCaseAscii(schema, "sys") ||
         text::EqualsIgnoreCaseAscii(schema, "INFORMATION_SCHEMA") ||
         text::EqualsIgnoreCaseAscii(schema, "pg_catalog");
}

}  // namespace

std::vector<std::string> OdbcConnection::Tables() {
  std::vector<std::string> names;
  for (const auto& table : ListTables()) names.push_back(table.name);
  return names;
}

std::vector<ForeignKeyRow> OdbcConnection::ForeignKeys() {
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
      row.PK_TABLE_CATALOG =
          OrDatabase(At(cursor, foreign_keys_column::kPrimaryCatalog).AsString(), database);
      row.PK_TABLE_NAME = At(cursor, foreign_keys_column::kPrimaryTable).AsString();
      row.PK_COLUMN_NAME = At(cursor, foreign_keys_column::kPrimaryColumn).AsString();
      row.FK_TABLE_CATALOG =
          OrDatabase(At(cursor, foreign_keys_column::kForeignCatalog).AsString(), database);
      row.FK_TABLE_NAME = At(cursor, foreign_keys_column::kForeignTable).AsString();
      row.FK_COLUMN_NAME = At(cursor, foreign_keys_column::kForeignColumn).AsString();
      row.FK_NAME = At(cursor, foreign_keys_column::kKeyName).AsString();
      pairs.push_back({std::move(row), At(cursor, foreign_keys_column::kKeySequence).AsInteger()});
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

std::vector<PrimaryKeyRow> OdbcConnection::PrimaryKeys() {
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

std::vector<std::string> OdbcConnection::Catalogs() {
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
    std::string name = At(cursor, tables_column::kCatalog).AsString();
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return names;
}

std::vector<ColumnInfo> OdbcConnection::Columns(std::string_view table_name) {
  const TableEntry table = ResolveTable(table_name);
  CatalogArgument schema(EscapePattern(table.schema));
  CatalogArgument name(EscapePattern(table.name));
  StatementCore core(session_, timeouts_.command_seconds);
  core.Check(SQLColumnsW(core.handle(), nullptr, 0, schema.data(), schema.length(), name.data(),
                         name.length(), nullptr, 0),
             "SQLColumns");
  struct Ordered {
    ColumnInfo info;
    std::int64_t position;
  };
  std::vector<Ordered> columns;
  OdbcCursor cursor(core, nullptr, traits_.postgres);
  const auto auto_increment_column = cursor.FindColumn("AUTO_INCREMENT");
  while (cursor.Next()) {
    if (At(cursor, columns_column::kTableName).AsString() != table.name) continue;
    std::string type_name = At(cursor, columns_column::kTypeName).AsString();
    // psqlodbc tells serial columns in a column of its own.
    const bool auto_unique = IsAutoIncrementTypeName(type_name) ||
                             (auto_increment_column && cursor.Get(*auto_increment_column).AsInteger() != 0);
    const auto nullable = static_cast<SQLSMALLINT>(At(cursor, columns_column::kNullable).IsNull()
                                                       ? SQL_NULLABLE_UNKNOWN
                                                       : At(cursor, columns_column::kNullable).AsInteger());
    ColumnInfo info = MakeColumnInfo(
        At(cursor, columns_column::kColumnName).AsString(),
        static_cast<SQLSMALLINT>(At(cursor, columns_column::kDataType).AsInteger()), std::move(type_name),
        static_cast<SQLULEN>(At(cursor, columns_column::kColumnSize).AsInteger()),
        static_cast<SQLSMALLINT>(At(cursor, columns_column::kDecimalDigits).AsInteger()), nullable,
        auto_unique, traits_.postgres);
    columns.push_back({std::move(info), At(cursor, columns_column::kOrdinalPosition).AsInteger()});
  }
  std::stable_sort(columns.begin(), columns.end(),
                   [](const Ordered& a, const Ordered& b) { return a.position < b.position; });
  std::vector<ColumnInfo> result;
  result.reserve(columns.size());
  for (auto& column : columns) result.push_back(std::move(column.info));
  return result;
}

std::vector<IndexInfo> OdbcConnection::Indexes(std::string_view table_name) {
  const TableEntry table = ResolveTable(table_name);
  const PrimaryKey key = ReadPrimaryKey(table);
  CatalogArgument schema(table.schema);
  CatalogArgument name(table.name);
  StatementCore core(session_, timeouts_.command_seconds);
  core.Check(SQLStatisticsW(core.handle(), nullptr, 0, schema.data(), schema.length(), name.data(),
                            name.length(), SQL_INDEX_ALL, SQL_QUICK),
             "SQLStatistics");
  struct Index {
    std::string name;
    bool unique = false;
    std::vector<std::pair<std::int64_t, std::string>> columns;
  };
  std::vector<Index> indexes;
  OdbcCursor cursor(core, nullptr, traits_.postgres);
  while (cursor.Next()) {
    if (At(cursor, statistics_column::kType).AsInteger() == SQL_TABLE_STAT ||
        At(cursor, statistics_column::kIndexName).IsNull())
      continue;
    const std::string index_name = At(cursor, statistics_column::kIndexName).AsString();
    auto found = std::find_if(indexes.begin(), indexes.end(),
                              [&](const Index& index) { return index.name == index_name; });
    if (found == indexes.end()) {
      indexes.push_back(
          Index{index_name, At(cursor, statistics_column::kNonUnique).AsInteger() == SQL_FALSE, {}});
      found = std::prev(indexes.end());
    }
    found->columns.emplace_back(At(cursor, statistics_column::kOrdinalPosition).AsInteger(),
                                At(cursor, statistics_column::kColumnName).AsString());
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

sqlite::TableConstraints OdbcConnection::SqliteConstraints(const std::string& table) {
  auto statement = Prepare("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?");
  auto cursor = statement->Open({Parameter{"name", FieldType::String, 0, Value::Text(table)}});
  if (!cursor->Next()) return {};
  return sqlite::ParseCreateTable(cursor->Get(0).AsString());
}

void OdbcConnection::NameSqliteForeignKeys(const std::string& table, std::vector<KeyPair>& pairs) {
  if (std::none_of(pairs.begin(), pairs.end(),
                   [](const KeyPair& pair) { return pair.row.FK_NAME.empty(); })) {
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
      const bool has_column = std::any_of(
          clause.columns.begin(), clause.columns.end(),
          [&](const std::string& c) { return text::EqualsIgnoreCaseAscii(c, row.FK_COLUMN_NAME); });
      if (has_column && text::EqualsIgnoreCaseAscii(clause.parent, row.PK_TABLE_NAME)) {
        row.FK_NAME = names[i];
        break;
      }
    }
  }
}

std::string OdbcConnection::OrDatabase(const std::string& catalog, const std::string& database) {
  return catalog.empty() ? database : catalog;
}

bool OdbcConnection::IsAutoIncrementTypeName(std::string_view type_name) {
  const std::string upper = text::UpperCaseAscii(type_name);
  return upper.find("IDENTITY") != std::string::npos || upper == "SERIAL" || upper == "BIGSERIAL";
}

std::string OdbcConnection::EscapePattern(std::string_view value) {
  if (!escape_.has_value()) escape_ = InfoText(SQL_SEARCH_PATTERN_ESCAPE);
  if (escape_->empty()) return std::string(value);
  // Drivers differ in how they read an escaped escape character, so it stands as the one-character
  // wildcard; the callers keep only the rows of the exact name.
  const bool single_escape = escape_->size() == 1;
  std::string result;
  for (const char c : value) {
    if (single_escape && c == escape_->front()) {
      result += '_';
      continue;
    }
    if (c == '_' || c == '%') result += *escape_;
    result += c;
  }
  return result;
}

std::vector<TableEntry> OdbcConnection::ListTables() {
  StatementCore core(session_, timeouts_.command_seconds);
  std::u16string types = u"TABLE,VIEW";
  core.Check(SQLTablesW(core.handle(), nullptr, 0, nullptr, 0, nullptr, 0, Wide(types), SQL_NTS),
             "SQLTables");
  std::vector<TableEntry> tables;
  OdbcCursor cursor(core, nullptr, traits_.postgres);
  while (cursor.Next()) {
    TableEntry entry{At(cursor, tables_column::kSchema).AsString(),
                     At(cursor, tables_column::kName).AsString(),
                     text::EqualsIgnoreCaseAscii(At(cursor, tables_column::kType).AsString(), "VIEW")};
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

TableEntry OdbcConnection::ResolveTable(std::string_view name) {
  const auto tables = ListTables();
  for (const auto& table : tables) {
    if (table.name == name) return table;
  }
  for (const auto& table : tables) {
    if (text::EqualsIgnoreCaseAscii(table.name, name)) return table;
  }
  return TableEntry{{}, std::string(name), false};
}

OdbcConnection::PrimaryKey OdbcConnection::ReadPrimaryKey(const TableEntry& table) {
  CatalogArgument schema(table.schema);
  CatalogArgument name(table.name);
  StatementCore core(session_, timeouts_.command_seconds);
  core.Check(
      SQLPrimaryKeysW(core.handle(), nullptr, 0, schema.data(), schema.length(), name.data(), name.length()),
      "SQLPrimaryKeys");
  PrimaryKey key;
  std::vector<std::pair<std::int64_t, std::string>> columns;
  OdbcCursor cursor(core, nullptr, traits_.postgres);
  while (cursor.Next()) {
    if (key.name.empty()) {
      key.catalog = At(cursor, primary_keys_column::kCatalog).AsString();
      key.name = At(cursor, primary_keys_column::kKeyName).AsString();
    }
    columns.emplace_back(At(cursor, primary_keys_column::kKeySequence).AsInteger(),
                         At(cursor, primary_keys_column::kColumnName).AsString());
  }
  std::stable_sort(columns.begin(), columns.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& column : columns) key.columns.push_back(std::move(column.second));
  if (traits_.sqlite && !key.columns.empty() && key.name.empty()) {
    key.name = SqliteConstraints(table.name).primary_key_name;
    if (key.name.empty()) key.name = "PK_" + table.name;
  }
  return key;
}

}  // namespace tamaril::dbaccess::odbc
