#include "core/private_files.h"

#include <sys/stat.h>

#include <cerrno>

namespace tamaril::core {

unsigned PrivateFileModeFor(const std::string& path) {
  struct stat existing {};
  if (::stat(path.c_str(), &existing) != 0 || !S_ISREG(existing.st_mode)) return kPrivateFileMode;
  return static_cast<unsigned>(existing.st_mode) & kPrivateFileMode;
}

int CreatePrivateFolders(const std::string& folder) {
  if (folder.empty()) return ENOENT;
  // Each level from the top, so that every folder made on the way gets the private mode.
  std::string::size_type end = folder.find('/', 1);
  for (;;) {
    const std::string level = folder.substr(0, end);
    if (!level.empty() && ::mkdir(level.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST) return errno;
    if (end == std::string::npos) break;
    end = folder.find('/', end + 1);
  }
  struct stat made {};
  if (::stat(folder.c_str(), &made) != 0) return errno;
  return S_ISDIR(made.st_mode) ? 0 : ENOTDIR;
}

}  // namespace tamaril::core
