#include "dbaccess/sqlite_backup.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "dbaccess/errors.h"

namespace tamaril::dbaccess {

namespace {

struct HandleCloser {
  void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
using Handle = std::unique_ptr<sqlite3, HandleCloser>;

// The SQLite result code travels as the error's native code, so that callers can name a full
// disk (SQLITE_FULL) in their own words.
Handle OpenHandle(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  Handle handle(raw);
  if (rc != SQLITE_OK) {
    throw DatabaseError(path + ": " + (raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)), {}, rc);
  }
  return handle;
}

void CopyPages(sqlite3* from, sqlite3* to, const std::string& target) {
  sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
  if (backup == nullptr) throw DatabaseError(target + ": " + sqlite3_errmsg(to), {}, sqlite3_errcode(to));
  int rc = SQLITE_OK;
  do {
    rc = sqlite3_backup_step(backup, -1);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) sqlite3_sleep(50);
  } while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) throw DatabaseError(target + ": " + sqlite3_errstr(rc), {}, rc);
}

/// Removes the copy and whatever journal SQLite kept beside it.
void RemoveCopy(const std::string& copy) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::remove((copy + suffix).c_str());
}

/// Makes a rename in the folder of `file` durable; a folder that cannot be synced is left be.
void SyncFolderOf(const std::string& file) {
  const auto slash = file.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

/// Creates the empty file `path` with `mode`, whatever the umask: SQLite would create it with
/// its own default, and gives its journal the mode of the file.
void CreateWithMode(const std::string& path, unsigned mode) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) throw DatabaseError(path + ": " + std::strerror(errno), {}, SQLITE_CANTOPEN);
  const int error = ::fchmod(fd, mode) != 0 ? errno : 0;
  ::close(fd);
  if (error != 0) {
    std::remove(path.c_str());
    throw DatabaseError(path + ": " + std::strerror(error), {}, SQLITE_CANTOPEN);
  }
}

}  // namespace

void CopySqliteDatabase(const std::string& source, const std::string& target, unsigned mode) {
  const std::string temporary = target + ".tmp";
  RemoveCopy(temporary);
  try {
    CreateWithMode(temporary, mode);
    Handle from = OpenHandle(source, SQLITE_OPEN_READONLY);
    Handle to = OpenHandle(temporary, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    CopyPages(from.get(), to.get(), temporary);
    // The copy keeps a rollback journal of its own: it is one self-contained file.
    sqlite3_exec(to.get(), "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    sqlite3* raw = to.release();
    if (sqlite3_close(raw) != SQLITE_OK) {
      const std::string reason = sqlite3_errmsg(raw);
      const int rc = sqlite3_errcode(raw);
      sqlite3_close_v2(raw);
      throw DatabaseError(temporary + ": " + reason, {}, rc);
    }
  } catch (...) {
    // A copy cut short leaves its journal too (a failed write is rolled back through it).
    RemoveCopy(temporary);
    throw;
  }
  if (std::rename(temporary.c_str(), target.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    RemoveCopy(temporary);
    throw DatabaseError(target + ": " + reason);
  }
  SyncFolderOf(target);
}

}  // namespace tamaril::dbaccess
