#include "replication/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "replication/errors.h"
#include "replication/file_problem.h"
#include "text/encoding.h"

namespace tamaril::replication {

namespace {

/// How often a lock on a file its holder removed meanwhile is tried again.
constexpr int kAttempts = 100;

/// True when `fd` is still the file at `path`: its holder did not remove it before letting go.
bool StillAt(int fd, const std::string& path) {
  struct stat opened {};
  struct stat named {};
  if (::fstat(fd, &opened) != 0 || ::stat(path.c_str(), &named) != 0) return false;
  return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

}  // namespace

tRunLock::tRunLock(const std::string& path, const std::string& busy_message) : path_(path) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      const int error = errno;
      throw ReplicationError(text::Utf8ToAnsi("Soubor " + path + " nelze vytvořit: ") +
                             SystemReasonText(error));
    }
    int result = 0;
    do {
      result = ::flock(fd_, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
      const int error = errno;
      ::close(fd_);
      fd_ = -1;
      if (error == EWOULDBLOCK) throw ReplicationError(busy_message);
      throw ReplicationError(text::Utf8ToAnsi("Soubor " + path + " nelze zamknout: ") +
                             SystemReasonText(error));
    }
    // The holder before us may have removed the file between our open and our lock; a lock on
    // the removed file keeps nobody out, so the name is opened again.
    if (StillAt(fd_, path)) return;
    ::close(fd_);
    fd_ = -1;
  }
  throw ReplicationError(busy_message);
}

tRunLock::~tRunLock() {
  if (fd_ < 0) return;
  // Removed while still locked: a run waiting on this file finds it gone and opens a new one.
  ::unlink(path_.c_str());
  ::close(fd_);
}

}  // namespace tamaril::replication
