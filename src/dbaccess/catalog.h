#pragma once

#include <string>

namespace tamaril::dbaccess {

/// One column pair of a foreign key, as the foreign-keys schema rowset gives it.
struct ForeignKeyRow {
  std::string PK_TABLE_CATALOG;
  std::string PK_TABLE_NAME;
  std::string PK_COLUMN_NAME;
  std::string FK_TABLE_CATALOG;
  std::string FK_TABLE_NAME;
  std::string FK_COLUMN_NAME;
  std::string FK_NAME;
};

/// One table's primary key, as the primary-keys schema rowset gives it.
struct PrimaryKeyRow {
  std::string TABLE_CATALOG;
  std::string TABLE_NAME;
  std::string PK_NAME;
};

/// One index of a table.
struct IndexInfo {
  std::string name;
  std::string fields;  ///< column names in key order, joined by ";"
  bool primary = false;
  bool unique = false;
};

}  // namespace tamaril::dbaccess
