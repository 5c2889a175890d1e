#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "replication/errors.h"

namespace tamaril::dbaccess {
class Connection;
}

namespace tamaril::dbstruct {
class tDatabase_Structure;
}

namespace tamaril::replication {

/// The failure of CheckDatabaseReady: the database lacks an object of the setup script.
class DatabaseNotReadyError : public ReplicationError {
 public:
  using ReplicationError::ReplicationError;
};

/// Connects `master` to the "master" database of the server `connection_string` leads to;
/// throws what the connection throws.
using MasterConnector = std::function<void(dbaccess::Connection& master, std::string_view connection_string)>;

/// True when the objects of the setup script for the side are present in `database` (scanned):
/// the rep_ tables, for an import on SQL Server the master procedures (asked on `master`, which
/// `connect_master` connects and which is closed again on every path) or on SQLite a writable
/// backup folder beside the database, then the tracking columns and triggers of every table of
/// rep_TBLDESC. Otherwise `missing` names the first missing object. Throws what the queries throw.
bool IsDatabaseReady(dbstruct::tDatabase_Structure& database, bool import, std::string& missing,
                     dbaccess::Connection& master, const MasterConnector& connect_master);

/// IsDatabaseReady; throws DatabaseNotReadyError "Databáze NAME není připravena k replikaci" followed
/// by a carriage return and the quoted missing object with " nenalezeno." when it answers false,
/// or for a SQLite backup folder 'Složku záloh "F" nelze vytvořit.' or 'Do složky záloh "F" nelze
/// zapisovat.'.
void CheckDatabaseReady(dbstruct::tDatabase_Structure& database, bool import, std::string_view database_name,
                        dbaccess::Connection& master, const MasterConnector& connect_master);

/// The backup folder of a SQLite database reached by `connection_string`: "backup" in the
/// folder of the database files (Windows-1250 path); throws DatabaseError for a string that is
/// not a SQLite one.
std::string SQLiteBackupFolder(std::string_view connection_string);

}  // namespace tamaril::replication
