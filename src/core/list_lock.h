#pragma once

#include <string>

namespace tamaril::core {

/// An exclusive lock on a definition list file, held while the object lives, so that two
/// programs that read, change and write the same list one after the other lose nothing. The
/// lock is taken on the companion file "<list>.lock" (created with mode 0600 and left in
/// place), because writing a list replaces its file and a lock on the old file would not hold.
class ListFileLock {
 public:
  /// Waits for the lock of `list_file` (a UTF-8 path); throws AppError with the system's reason
  /// when the lock file cannot be opened or locked.
  explicit ListFileLock(const std::string& list_file);
  /// Releases the lock.
  ~ListFileLock();
  ListFileLock(ListFileLock&& other) noexcept;
  ListFileLock& operator=(ListFileLock&& other) noexcept;
  ListFileLock(const ListFileLock&) = delete;
  ListFileLock& operator=(const ListFileLock&) = delete;

  /// The companion file the lock is taken on.
  static std::string LockFileName(const std::string& list_file);

 private:
  int fd_ = -1;
};

}  // namespace tamaril::core
