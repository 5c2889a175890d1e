#include "core/list_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "core/errors.h"
#include "text/encoding.h"

namespace tamaril::core {

std::string ListFileLock::LockFileName(const std::string& list_file) { return list_file + ".lock"; }

ListFileLock::ListFileLock(const std::string& list_file) {
  const std::string lock_file = LockFileName(list_file);
  fd_ = ::open(lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  int result = fd_ < 0 ? -1 : 0;
  if (fd_ >= 0) {
    do {
      result = ::flock(fd_, LOCK_EX);
    } while (result != 0 && errno == EINTR);
  }
  if (result != 0) {
    const std::string reason = std::strerror(errno);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    throw AppError(
        text::Utf8ToAnsi("Seznam " + list_file + " nelze zamknout (" + lock_file + "): " + reason));
  }
}

ListFileLock::~ListFileLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the last descriptor releases the lock
}

ListFileLock::ListFileLock(ListFileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

ListFileLock& ListFileLock::operator=(ListFileLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

}  // namespace tamaril::core
