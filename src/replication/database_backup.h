#pragma once

#include <functional>
#include <string>

#include "replication/database_open.h"

namespace tamaril::replication {

/// What RunDatabaseBackup does.
enum class tBackupAction {
  Backup,   ///< saves the database before an import
  Restore,  ///< puts the saved copy back
};

/// The backup or the restore of the database `database_name` reached by `connection_string`
/// (plain), in the form the string leads to. SQL Server: `access.Master` is connected to
/// "master" with the cached login and the procedure rep_ZRT_dbbackup / rep_ZRT_dbrestore is
/// called with the bound @dbname, @username and @password. SQLite: the database file is copied
/// with the online backup API into SQLiteBackupFolder under its own file name, and a restore
/// copies it back while no connection holds the database (`access.Connection` is closed).
/// `starting` runs once the work can begin. Throws ReplicationError "Nemohu provést zálohování
/// databáze" / "Nemohu provést obnovu databáze" (written to `log` first) when SQL Server has no
/// cached login, and what the connection or the copy throws.
void RunDatabaseBackup(const tDatabaseAccess& access, tBackupAction action,
                       const std::string& connection_string, const std::string& database_name,
                       const std::function<void(const std::string&)>& log,
                       const std::function<void()>& starting = {});

/// The SQL Server form of RunDatabaseBackup: connects `access.Master` to "master" of
/// `connection_string` unless it is connected there already, then calls the procedure with the
/// cached login. Throws as RunDatabaseBackup.
void CallMasterProcedure(const tDatabaseAccess& access, tBackupAction action,
                         const std::string& connection_string, const std::string& database_name,
                         const std::function<void(const std::string&)>& log,
                         const std::function<void()>& starting = {});

/// The file (UTF-8 path) the SQLite form keeps the backup of the database file `database_file`
/// (UTF-8 path) in, for `connection_string`.
std::string SQLiteBackupFile(const std::string& connection_string, const std::string& database_file);

}  // namespace tamaril::replication
