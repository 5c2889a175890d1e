#pragma once

#include <string>

namespace tamaril::replication {

/// Keeps a second run of the same work out while the object lives: an flock on `path` (a
/// UTF-8 path, created when missing), so the lock ends with the process that held it however
/// that process ends. The holder removes the file when it lets go, so lock files do not stay
/// behind; a run that locked a file meanwhile removed tries again on the new one, so two runs
/// never hold the same path at once. A killed run leaves its file, which the next run takes.
class tRunLock {
 public:
  /// Takes the lock at once; throws ReplicationError `busy_message` (Windows-1250) when another
  /// process holds it, and ReplicationError with the system's reason when the file cannot be
  /// created or locked.
  tRunLock(const std::string& path, const std::string& busy_message);
  /// Removes the file, then lets go of the lock.
  ~tRunLock();
  tRunLock(const tRunLock&) = delete;
  tRunLock& operator=(const tRunLock&) = delete;

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace tamaril::replication
