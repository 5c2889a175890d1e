#include "replication/file_ops.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "dbaccess/errors.h"
#include "replication/errors.h"
#include "replication/file_problem.h"
#include "text/encoding.h"

namespace tamaril::replication {

std::string FailureText(const std::exception& error) {
  const auto* database = dynamic_cast<const dbaccess::DatabaseError*>(&error);
  if (database == nullptr) return error.what();
  // SQLite's texts for these are fixed; SQL Server tells them by number.
  constexpr int kMssqlFilegroupFull = 1105;
  constexpr int kMssqlLogFull = 9002;
  const std::string_view message = error.what();
  const int code = database->native_code();
  const char* reason = nullptr;
  if (code == kMssqlFilegroupFull || code == kMssqlLogFull ||
      message.find("database or disk is full") != std::string_view::npos) {
    reason = "na disku nebo v databázi není místo";
  } else if (message.find("disk I/O error") != std::string_view::npos) {
    reason = "chyba vstupu/výstupu disku";
  }
  if (reason == nullptr) return error.what();
  return text::Utf8ToAnsi(reason) + " (" + error.what() + ")";
}

int SyncFolder(const std::string& folder) noexcept {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = 0;
  // Some file systems cannot sync a folder at all; their renames are as durable as they get.
  if (::fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP) error = errno;
  ::close(fd);
  return error;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void RenameFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    const int error = errno;
    throw ReplicationError(text::Utf8ToAnsi("Soubor " + from + " nelze přejmenovat na " + to + ": ") +
                           SystemReasonText(error));
  }
}

bool RemoveFile(const std::string& path) noexcept { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

}  // namespace tamaril::replication
