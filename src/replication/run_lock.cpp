#include "replication/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "replication/errors.h"
#include "text/encoding.h"

namespace tamaril::replication {

tRunLock::tRunLock(const std::string& path, const std::string& busy_message) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    throw ReplicationError(text::Utf8ToAnsi("Soubor " + path + " nelze vytvořit: " + std::strerror(errno)));
  }
  int result = 0;
  do {
    result = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int error = errno;
    ::close(fd_);
    if (error == EWOULDBLOCK) throw ReplicationError(busy_message);
    throw ReplicationError(text::Utf8ToAnsi("Soubor " + path + " nelze zamknout: " + std::strerror(error)));
  }
}

tRunLock::~tRunLock() { ::close(fd_); }

}  // namespace tamaril::replication
