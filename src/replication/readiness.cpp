#include "replication/readiness.h"

#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

#include "core/private_files.h"
#include "dataset/dataset.h"
#include "dataset/field.h"
#include "dbaccess/connection.h"
#include "dbaccess/connection_string.h"
#include "dbstruct/mssql/database_structure.h"
#include "dbstruct/mssql/prop_accessor.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "dbstruct/structure.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::replication {

namespace fs = std::filesystem;

namespace {

constexpr std::array<const char*, 3> kCommonTables = {"rep_USERFK", "rep_DELETED", "rep_TBLDESC"};
constexpr std::array<const char*, 3> kExportTables = {"rep_DEFEXPORT", "rep_XPORTLOG", "rep_XPORTLOGDETAIL"};
constexpr std::array<const char*, 3> kImportTables = {"rep_DEFIMPORT", "rep_IMPORTLOG",
                                                      "rep_IMPORTLOGDETAIL"};
constexpr std::array<const char*, 3> kMasterProcedures = {"rep_ZRT_getSQLregistry", "rep_ZRT_dbbackup",
                                                          "rep_ZRT_dbrestore"};
constexpr std::array<const char*, 4> kTrackingColumns = {"rep_Date_Inserted", "rep_Signature_Inserted",
                                                         "rep_Date_Updated", "rep_Signature_Updated"};

// Closes the master connection however the questions on it end.
class MasterSession {
 public:
  explicit MasterSession(dbaccess::Connection& master) noexcept : master_(master) { master_.Close(); }
  ~MasterSession() { master_.Close(); }
  MasterSession(const MasterSession&) = delete;
  MasterSession& operator=(const MasterSession&) = delete;

 private:
  dbaccess::Connection& master_;
};

// The first master procedure the server lacks, as "master.NAME"; empty when all are there.
std::string MissingMasterProcedure(const dbstruct::tADODatabase_Structure& database,
                                   dbaccess::Connection& master, const MasterConnector& connect_master) {
  const MasterSession session(master);
  connect_master(master, database.Connection()->ConnectionString());
  dbstruct::tMSSQLPropAccessor accessor(master, database.ServerVersionCode);
  for (const char* procedure : kMasterProcedures) {
    if (accessor.ObjectProperty(procedure, "IsProcedure") == 0) return std::string("master.") + procedure;
  }
  return {};
}

// True when a file can be created and written in `folder`.
bool CanWriteIn(const fs::path& folder) {
  const fs::path probe = folder / (".tamaril-write-test-" + std::to_string(::getpid()));
  bool written = false;
  {
    std::ofstream out(probe, std::ios::binary | std::ios::trunc);
    written = out.is_open() && static_cast<bool>(out << "ok") && static_cast<bool>(out.flush());
  }
  std::error_code ignored;
  fs::remove(probe, ignored);
  return written;
}

// What IsDatabaseReady found missing.
enum class tMissingKind {
  Object,             ///< a table, column, trigger or procedure
  BackupFolderMade,   ///< the backup folder is missing and cannot be made
  BackupFolderWrite,  ///< the backup folder cannot be written
};

// The backup folder of the SQLite database when it is missing and cannot be made, or cannot be
// written, with `kind` saying which; empty when backups can be written there.
std::string UnusableBackupFolder(const dbstruct::tDatabase_Structure& database, tMissingKind& kind) {
  std::string folder_ansi = SQLiteBackupFolder(database.Connection()->ConnectionString());
  const fs::path folder(text::AnsiToUtf8(folder_ansi));
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    core::CreatePrivateFolders(folder.string());
    if (!fs::is_directory(folder, error)) {
      kind = tMissingKind::BackupFolderMade;
      return folder_ansi;
    }
  }
  if (CanWriteIn(folder)) return {};
  kind = tMissingKind::BackupFolderWrite;
  return folder_ansi;
}

// The first tracking column or trigger the table named in rep_TBLDESC lacks; empty when none.
std::string MissingTableObject(dbstruct::tDatabase_Structure& database, const std::string& table_name) {
  const dbstruct::tTbl_Structure* table = database.FindTable(table_name);
  for (const char* column : kTrackingColumns) {
    if (table == nullptr) return table_name;
    if (!table->HasField(column)) return table_name + "." + column;
  }
  dbstruct::tPropAccessor& accessor = database.PropAccessor();
  if (table->Identifiable) {
    const std::string trigger = "rep_tr_Del_" + table->GetTableName();
    if (accessor.ObjectProperty(trigger, "ExecIsDeleteTrigger") == 0) return table_name + "." + trigger;
  }
  const std::string trigger = "rep_tr_Ins_" + table->GetTableName();
  if (accessor.ObjectProperty(trigger, "ExecIsInsertTrigger") == 0) return table_name + "." + trigger;
  return {};
}

}  // namespace

std::string SQLiteBackupFolder(std::string_view connection_string) {
  const dbaccess::ResolvedConnection target = dbaccess::ResolveConnectionString(connection_string);
  if (target.kind != dbaccess::BackendKind::SQLite)
    throw dbaccess::DatabaseError("Not a SQLite connection string");
  return text::Utf8ToAnsi((fs::path(text::AnsiToUtf8(target.folder)) / "backup").string());
}

namespace {

// IsDatabaseReady, with `kind` telling what `missing` names.
bool FindMissing(dbstruct::tDatabase_Structure& database, bool import, std::string& missing,
                 tMissingKind& kind, dbaccess::Connection& master, const MasterConnector& connect_master) {
  missing.clear();
  kind = tMissingKind::Object;
  for (const auto& group : {kCommonTables, import ? kImportTables : kExportTables}) {
    for (const char* name : group) {
      if (database.FindTable(name) == nullptr) {
        missing = name;
        return false;
      }
    }
  }

  if (import) {
    if (const auto* sqlite = dynamic_cast<const dbstruct::tSQLiteDatabase_Structure*>(&database)) {
      missing = UnusableBackupFolder(*sqlite, kind);
    } else if (const auto* server = dynamic_cast<const dbstruct::tADODatabase_Structure*>(&database)) {
      missing = MissingMasterProcedure(*server, master, connect_master);
    }
    if (!missing.empty()) return false;
  }

  int row_count = 0;
  const std::unique_ptr<dataset::TDataSet> rows =
      database.FindTable("rep_TBLDESC")->OpenTableData("", "", row_count);
  rows->Open();
  for (; !rows->Eof(); rows->Next()) {
    const std::string table_name = rows->FieldByName("TABLENAME").AsString();
    if (text::EqualsIgnoreCaseAscii(table_name, "rep_DELETED")) continue;
    missing = MissingTableObject(database, table_name);
    if (!missing.empty()) return false;
  }
  return true;
}

}  // namespace

bool IsDatabaseReady(dbstruct::tDatabase_Structure& database, bool import, std::string& missing,
                     dbaccess::Connection& master, const MasterConnector& connect_master) {
  tMissingKind kind = tMissingKind::Object;
  return FindMissing(database, import, missing, kind, master, connect_master);
}

void CheckDatabaseReady(dbstruct::tDatabase_Structure& database, bool import, std::string_view database_name,
                        dbaccess::Connection& master, const MasterConnector& connect_master) {
  std::string missing;
  tMissingKind kind = tMissingKind::Object;
  if (FindMissing(database, import, missing, kind, master, connect_master)) return;
  std::string reason;
  switch (kind) {
    case tMissingKind::Object: reason = "\"" + missing + "\"" + text::Utf8ToAnsi(" nenalezeno."); break;
    case tMissingKind::BackupFolderMade:
      reason = text::Utf8ToAnsi("Složku záloh \"") + missing + text::Utf8ToAnsi("\" nelze vytvořit.");
      break;
    case tMissingKind::BackupFolderWrite:
      reason = text::Utf8ToAnsi("Do složky záloh \"") + missing + text::Utf8ToAnsi("\" nelze zapisovat.");
      break;
  }
  throw DatabaseNotReadyError(text::Utf8ToAnsi("Databáze ") + std::string(database_name) +
                              text::Utf8ToAnsi(" není připravena k replikaci") + "\r" + reason);
}

}  // namespace tamaril::replication
