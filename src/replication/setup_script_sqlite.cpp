#include "dbaccess/connection.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "replication/errors.h"
#include "replication/setup_script.h"

namespace tamaril::replication {

std::vector<std::string> SQLiteSetupStatements(const dbstruct::tSQLiteDatabase_Structure&,
                                               const std::vector<std::string>&) {
  throw ReplicationError("The SQLite setup script is not available yet");
}

std::string SQLiteSetupScript(const dbstruct::tSQLiteDatabase_Structure&, const std::vector<std::string>&) {
  throw ReplicationError("The SQLite setup script is not available yet");
}

void ApplySQLiteSetupScript(dbaccess::Connection&, const std::vector<std::string>&) {
  throw ReplicationError("The SQLite setup script is not available yet");
}

}  // namespace tamaril::replication
