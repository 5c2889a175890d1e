#include "dbaccess/sqlite_backup.h"

#include <sqlite3.h>

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

Handle OpenHandle(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  Handle handle(raw);
  if (rc != SQLITE_OK) {
    throw DatabaseError(path + ": " + (raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
  }
  return handle;
}

void CopyPages(sqlite3* from, sqlite3* to) {
  sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
  if (backup == nullptr) throw DatabaseError(sqlite3_errmsg(to));
  int rc = SQLITE_OK;
  do {
    rc = sqlite3_backup_step(backup, -1);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) sqlite3_sleep(50);
  } while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) throw DatabaseError(sqlite3_errstr(rc));
}

}  // namespace

void CopySqliteDatabase(const std::string& source, const std::string& target) {
  const std::string temporary = target + ".tmp";
  std::remove(temporary.c_str());
  try {
    Handle from = OpenHandle(source, SQLITE_OPEN_READONLY);
    Handle to = OpenHandle(temporary, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    CopyPages(from.get(), to.get());
    // The copy keeps a rollback journal of its own: it is one self-contained file.
    sqlite3_exec(to.get(), "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    sqlite3* raw = to.release();
    if (sqlite3_close(raw) != SQLITE_OK) {
      const std::string reason = sqlite3_errmsg(raw);
      sqlite3_close_v2(raw);
      throw DatabaseError(temporary + ": " + reason);
    }
  } catch (...) {
    std::remove(temporary.c_str());
    throw;
  }
  if (std::rename(temporary.c_str(), target.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    std::remove(temporary.c_str());
    throw DatabaseError(target + ": " + reason);
  }
}

}  // namespace tamaril::dbaccess
