#pragma once

#include <exception>
#include <string>

namespace tamaril::replication {

/// A failure's message as a run reports it (Windows-1250): a full disk or database (SQLite's
/// "database or disk is full", SQL Server's errors 1105 and 9002) and SQLite's "disk I/O error"
/// are named in Czech before the driver's own words; any other failure is its message as it is.
std::string FailureText(const std::exception& error);

/// Makes the renames and removals in `folder` (UTF-8 path) durable: an fsync of the folder.
/// Returns 0, or the errno of the failure.
int SyncFolder(const std::string& folder) noexcept;

/// The folder of a file path (UTF-8): everything before the last '/', "." for a bare name.
std::string FolderOf(const std::string& path);

/// Renames `from` over `to` (UTF-8 paths); throws ReplicationError "Soubor A nelze přejmenovat
/// na B: důvod" (Windows-1250). The folder is not synced: SyncFolder does that.
void RenameFile(const std::string& from, const std::string& to);

/// Removes the file `path` (UTF-8); true when it is gone (also when it was not there).
bool RemoveFile(const std::string& path) noexcept;

}  // namespace tamaril::replication
