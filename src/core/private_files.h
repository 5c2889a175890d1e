#pragma once

#include <string>

namespace tamaril::core {

// The files a run writes (archives, database backups, the log) hold customer rows, so they are
// readable by their owner only, whatever the umask; the folders the program makes for them too.
// A file someone made stricter by hand stays so when the program replaces it.

/// The mode of a new private file.
inline constexpr unsigned kPrivateFileMode = 0600;
/// The mode of a folder the program creates.
inline constexpr unsigned kPrivateFolderMode = 0700;

/// The mode a file written to `path` (UTF-8) gets: 0600, or less when the file that is there now
/// allows less (its bits within 0600 are kept).
unsigned PrivateFileModeFor(const std::string& path);

/// Creates `folder` (UTF-8) and its missing parents with mode 0700; folders that exist are left
/// as they are. Returns 0 when the folder is there afterwards, else the errno of the failure.
int CreatePrivateFolders(const std::string& folder);

}  // namespace tamaril::core
