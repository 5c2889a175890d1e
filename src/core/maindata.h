#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/list_lock.h"
#include "core/login_cache.h"
#include "dataset/memory_table.h"
#include "dbaccess/connection.h"

namespace tamaril::core {

/// The two definition lists and the program's database connections: what the programs hold
/// from start-up to exit. The lists are the memory tables EXPORT.DAT and IMPORT.DAT in the
/// program's folder, read at creation and written by `StoreLists`; a list file is created with
/// mode 0600, since connection strings may carry logins.
class TMaindata {
 public:
  /// Layout of EXPORT.DAT.
  static constexpr std::string_view kExportLayout =
      "Signature;String;10;0;CenterName;String;25;0;ConnectionString;String;250;0;DatabaseName;String;25;0;"
      "Pozn;Memo;20;0";
  /// Layout of IMPORT.DAT.
  static constexpr std::string_view kImportLayout =
      "Signature;String;10;0;ClientName;String;25;0;ConnectionString;String;250;0;DatabaseName;String;25;0;"
      "Pozn;Memo;20;0";

  /// Opens both lists from the program's folder (a missing file gives an empty list); throws
  /// the list's DatasetError for a damaged file. `prompt` asks for SQL Server logins.
  explicit TMaindata(LoginPrompt& prompt);
  ~TMaindata();
  TMaindata(const TMaindata&) = delete;
  TMaindata& operator=(const TMaindata&) = delete;

  dataset::TQVMStoredMemoryDataSet ExportDefTbl;
  dataset::TQVMStoredMemoryDataSet ImportDefTbl;
  dbaccess::Connection ADOConnection;
  dbaccess::Connection MASTERConnection;

  /// The list of the given kind.
  dataset::TQVMStoredMemoryDataSet& DefinitionList(bool import) {
    return import ? ImportDefTbl : ExportDefTbl;
  }

  /// Writes IMPORT.DAT, then EXPORT.DAT (each replaced whole); throws when a file cannot be written.
  /// Then drops what the side files keep for the definitions ForgetRemovedDefinition named, unless
  /// a list holds a definition of that Signature again.
  void StoreLists();

  /// Notes that the definition of `signature` (Windows-1250) was removed from the list of the
  /// given kind. Its partner's key and text form go once the lists are stored without it: a
  /// definition still in the list file keeps the key its imports are checked against.
  void ForgetRemovedDefinition(bool import, std::string signature);

  /// Locks the list file of the given kind and reads the list again under the lock, so that a
  /// change made and stored while the lock is held starts from what other programs wrote. A
  /// pending edit of the list is lost. Throws AppError when the lock cannot be taken and the
  /// list's DatasetError for a damaged file.
  [[nodiscard]] ListFileLock LockList(bool import);

  /// See LoginCache::ConnectDatabase.
  void ConnectDatabase(dbaccess::Connection& connection, std::string_view connection_string,
                       std::string_view database_name) {
    logins_.ConnectDatabase(connection, connection_string, database_name);
  }
  bool GetConnectionLogin(const dbaccess::Connection& connection, std::string& user_name,
                          std::string& password) const {
    return logins_.GetConnectionLogin(connection, user_name, password);
  }
  const tLoginInfo* FindLoginInfo(std::string_view connection_string) const {
    return logins_.FindLoginInfo(connection_string);
  }
  /// The logins remembered since start-up, for the runs that connect by themselves.
  LoginCache& Logins() noexcept { return logins_; }

 private:
  void OpenList(bool import);

  LoginCache logins_;
  std::vector<std::pair<bool, std::string>> removed_;  ///< (import, Signature) not dropped yet
};

}  // namespace tamaril::core
