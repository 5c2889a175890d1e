#pragma once

#include <string_view>

#include "dbstruct/structure.h"

namespace tamaril::core {
class LoginCache;
}

namespace tamaril::dbstruct {
class tDBStructureCache;
}

namespace tamaril::replication {

/// What OpenDatabaseStructure works with: the login cache, the main and master connections
/// (not owned) and the structure cache.
struct tDatabaseAccess {
  core::LoginCache& Logins;            ///< asks for and remembers the logins
  dbaccess::Connection& Connection;    ///< the connection the structure reads through
  dbaccess::Connection& Master;        ///< the SQL Server form's master connection for an import
  dbstruct::tDBStructureCache& Cache;  ///< the structures scanned so far
};

/// The side a database is checked for once its structure is at hand.
enum class tReadyFor {
  Nothing,  ///< no readiness check (the structure is only looked at)
  Export,   ///< the objects an export needs
  Import,   ///< the objects an import needs
};

/// Connects `access.Connection` to the database, takes its structure from the cache (or scans
/// it in the form the connection leads to, telling `progress` about every table, adds the
/// user-declared foreign keys and caches it) and checks that the database is ready for
/// `side`. Returns the structure, owned by the cache. Throws AppError when the connection fails,
/// DatabaseNotReadyError when the database is not ready, and what the scan throws.
dbstruct::tDatabase_Structure& OpenDatabaseStructure(const tDatabaseAccess& access,
                                                     std::string_view connection_string,
                                                     std::string_view database_name, tReadyFor side,
                                                     const dbstruct::ScanProgressEvent& progress = {});

}  // namespace tamaril::replication
