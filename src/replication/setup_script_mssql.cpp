#include "dbstruct/mssql/database_structure.h"
#include "replication/errors.h"
#include "replication/setup_script.h"

namespace tamaril::replication {

std::string MssqlSetupScript(const dbstruct::tADODatabase_Structure&, const std::vector<std::string>&) {
  throw ReplicationError("The SQL Server setup script is not available yet");
}

}  // namespace tamaril::replication
