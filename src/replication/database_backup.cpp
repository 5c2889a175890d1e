#include "replication/database_backup.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "core/login_cache.h"
#include "core/private_files.h"
#include "dbaccess/connection.h"
#include "dbaccess/connection_string.h"
#include "dbaccess/cursor.h"
#include "dbaccess/parameter.h"
#include "dbaccess/sqlite_backup.h"
#include "replication/errors.h"
#include "replication/file_ops.h"
#include "replication/file_problem.h"
#include "replication/readiness.h"
#include "text/encoding.h"

namespace tamaril::replication {

namespace fs = std::filesystem;

namespace {

constexpr int kProcedureTimeoutSeconds = 300;

/// The file of the database the connection is on (UTF-8 path).
std::string MainDatabaseFile(dbaccess::Connection& connection) {
  auto rows = connection.Query("PRAGMA database_list");
  while (rows->Next()) {
    if (rows->Get(1).AsString() == "main") return text::AnsiToUtf8(rows->Get(2).AsString());
  }
  throw ReplicationError("The database file cannot be found");
}

void RemoveIfPresent(const fs::path& path) {
  std::error_code error;
  fs::remove(path, error);
}

/// Copies a database file as CopySqliteDatabase does; a failure becomes ReplicationError naming
/// `what` (UTF-8), the file written and the reason in Czech where it has one. The copy gets the
/// permission bits `mode`.
void CopyDatabaseFile(const std::string& source, const std::string& target, const std::string& what,
                      unsigned mode) {
  try {
    dbaccess::CopySqliteDatabase(source, target, mode);
  } catch (const Error& error) {
    throw ReplicationError(text::Utf8ToAnsi(what + " " + target + " selhal: ") + FailureText(error));
  }
}

void RunSqliteCopy(const tDatabaseAccess& access, tBackupAction action, const std::string& connection_string,
                   const std::string& database_name, const std::function<void()>& starting) {
  dbaccess::Connection& connection = access.Connection;
  // A backup runs on the data connection the import has just opened on this database.
  if (action == tBackupAction::Restore || !connection.IsOpen()) {
    connection.Close();
    access.Logins.ConnectDatabase(connection, connection_string, database_name);
  }
  const std::string database_file = MainDatabaseFile(connection);
  const std::string backup_file = SQLiteBackupFile(connection_string, database_file);
  if (starting) starting();
  if (action == tBackupAction::Backup) {
    if (connection.InTransaction()) throw ReplicationError("A backup cannot run inside a transaction");
    const fs::path folder = fs::path(backup_file).parent_path();
    if (const int error = core::CreatePrivateFolders(folder.string()); error != 0) {
      throw ReplicationError(text::Utf8ToAnsi("Složku zálohy " + folder.string() + " nelze vytvořit: ") +
                             SystemReasonText(error));
    }
    // A backup is a full copy of the database: private, or as strict as the one it replaces.
    CopyDatabaseFile(database_file, backup_file, "Zápis zálohy databáze do",
                     core::PrivateFileModeFor(backup_file));
    return;
  }
  if (!fs::is_regular_file(backup_file))
    throw ReplicationError(text::Utf8ToAnsi("Záloha " + backup_file + " neexistuje"));
  // No connection of ours may hold the file while it is replaced. Whatever a journal or a
  // write-ahead log of the old file holds belongs to the state being discarded, and would be
  // applied to the restored file if left beside it.
  connection.Close();
  const std::string restored = database_file + ".restore";
  // The restored database keeps the mode of the file it replaces.
  std::error_code status_error;
  const auto permissions = fs::status(database_file, status_error).permissions();
  const unsigned database_mode =
      status_error ? core::kPrivateFileMode : static_cast<unsigned>(permissions) & 07777U;
  CopyDatabaseFile(backup_file, restored, "Zápis obnovované databáze do", database_mode);
  for (const char* suffix : {"-wal", "-shm", "-journal"}) RemoveIfPresent(database_file + suffix);
  std::error_code error;
  fs::rename(restored, database_file, error);
  if (error) {
    RemoveIfPresent(restored);
    throw ReplicationError(
        text::Utf8ToAnsi("Obnovenou databázi " + restored + " nelze přejmenovat na " + database_file + ": ") +
        SystemReasonText(error.value()));
  }
  SyncFolder(FolderOf(database_file));
}

}  // namespace

void CallMasterProcedure(const tDatabaseAccess& access, tBackupAction action,
                         const std::string& connection_string, const std::string& database_name,
                         const std::function<void(const std::string&)>& log,
                         const std::function<void()>& starting) {
  const bool backup = action == tBackupAction::Backup;
  // The master connection may still be on the server of an earlier database.
  if (!access.Master.IsOpen() || access.Master.ConnectionString() != connection_string) {
    access.Master.Close();
    access.Logins.ConnectDatabase(access.Master, connection_string, "master");
  }
  std::string user_name;
  std::string password;
  if (!access.Logins.GetConnectionLogin(access.Master, user_name, password)) {
    const std::string message =
        text::Utf8ToAnsi(backup ? "Nemohu provést zálohování databáze" : "Nemohu provést obnovu databáze");
    if (log) log(message);
    throw ReplicationError(message);
  }
  if (starting) starting();
  access.Master.SetCommandTimeout(kProcedureTimeoutSeconds);
  const std::vector<dbaccess::Parameter> parameters{
      {"@dbname", dataset::FieldType::String, 128, dbaccess::Value::Text(database_name)},
      {"@username", dataset::FieldType::String, 128, dbaccess::Value::Text(user_name)},
      {"@password", dataset::FieldType::String, 128, dbaccess::Value::Text(password)},
  };
  access.Master.CallProcedure(backup ? "rep_ZRT_dbbackup" : "rep_ZRT_dbrestore", parameters, false);
}

std::string SQLiteBackupFile(const std::string& connection_string, const std::string& database_file) {
  return (fs::path(text::AnsiToUtf8(SQLiteBackupFolder(connection_string))) /
          fs::path(database_file).filename())
      .string();
}

void RunDatabaseBackup(const tDatabaseAccess& access, tBackupAction action,
                       const std::string& connection_string, const std::string& database_name,
                       const std::function<void(const std::string&)>& log,
                       const std::function<void()>& starting) {
  if (dbaccess::ResolveConnectionString(connection_string).kind == dbaccess::BackendKind::SQLite) {
    RunSqliteCopy(access, action, connection_string, database_name, starting);
  } else {
    CallMasterProcedure(access, action, connection_string, database_name, log, starting);
  }
}

}  // namespace tamaril::replication
