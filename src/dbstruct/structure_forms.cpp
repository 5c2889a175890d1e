#include "dbstruct/structure_forms.h"

#include "dbaccess/connection.h"
#include "dbstruct/mssql/database_structure.h"
#include "dbstruct/sqlite/sqlite_structure.h"

namespace tamaril::dbstruct {

std::unique_ptr<tDatabase_Structure> CreateDatabaseStructure(dbaccess::Connection& connection) {
  if (connection.Kind() == dbaccess::BackendKind::SQLite) {
    return std::make_unique<tSQLiteDatabase_Structure>(&connection);
  }
  return std::make_unique<tADODatabase_Structure>(connection);
}

}  // namespace tamaril::dbstruct
