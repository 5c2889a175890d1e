#pragma once

#include <memory>

#include "dbstruct/structure.h"

namespace tamaril::dbaccess {
class Connection;
}

namespace tamaril::dbstruct {

/// A new, unscanned structure of the form `connection` (open, not owned) leads to: the SQLite
/// form for the embedded database, the SQL Server form otherwise; throws what the SQL Server
/// form's creation throws ("Cannot determine SQL server version", …).
std::unique_ptr<tDatabase_Structure> CreateDatabaseStructure(dbaccess::Connection& connection);

}  // namespace tamaril::dbstruct
