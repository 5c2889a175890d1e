#pragma once

#include <ctime>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tamaril::core {
struct TReplOptions;
}

namespace tamaril::replication {

class tRunHost;

/// The question asked when the log file cannot be opened (Windows-1250).
std::string ReplLogOpenQuestion();

/// One line of the log without its line end: the local date and time as "d.M.yyyy H:mm:ss",
/// " :" and the message (Windows-1250, as it stands).
std::string ReplLogLine(const std::tm& local_time, std::string_view message);

/// A date-time (days since 30 December 1899) as "d.M.yyyy H:mm:ss", the way the log shows times;
/// throws DatasetError for a value no calendar day holds.
std::string ReplLogTimeText(double date_time);

/// The import's text log: one time-stamped line per event, appended to the file of the
/// settings, Windows-1250 with CR LF line ends. Closed when destroyed (errors ignored).
class tReplLog {
 public:
  tReplLog() = default;
  ~tReplLog();
  tReplLog(const tReplLog&) = delete;
  tReplLog& operator=(const tReplLog&) = delete;

  /// Makes the log ready: true at once when it is open or `options.DoLog` is off; otherwise
  /// opens `options.LogFilePath` for appending (created when missing). When that fails the
  /// host is asked ReplLogOpenQuestion: Yes gives true with the log closed, Abort false.
  /// Throws what the host throws.
  bool Open(const core::TReplOptions& options, tRunHost& host);
  /// Appends the line of `message` at the current time when the log is open; nothing
  /// otherwise. Throws ReplicationError with the system's reason when writing fails.
  void Write(std::string_view message);
  /// Closes the file when it is open; throws ReplicationError when closing fails (the log is
  /// closed all the same).
  void Close();
  /// True while the file is open.
  bool IsOpen() const noexcept { return fd_ >= 0; }
  /// Hands every line Write makes (without its line end) to `echo` as well, whether the file is
  /// open or not; an empty function stops it. The echo's exceptions reach Write's caller.
  void SetEcho(std::function<void(const std::string& line)> echo) { echo_ = std::move(echo); }

 private:
  int fd_ = -1;
  std::function<void(const std::string& line)> echo_;
  std::string path_;  ///< the file's name as the settings give it, for messages
};

/// Writes the log file at `path` (UTF-8) to `out` as the terminal shows it: UTF-8 with LF line
/// ends (CR LF and a bare CR alike), the last line ended; with `tail` only its last `tail`
/// lines. The file stays as it is. Throws ReplicationError "Log soubor X nelze otevřít: …" or
/// "… nelze přečíst: …" with the reason in Czech.
void WriteReplLogText(const std::string& path, std::optional<std::size_t> tail, std::ostream& out);

/// The process's log: tReplLog::Open with the program's settings (core::ReplOptions).
bool OpenReplLog(tRunHost& host);
/// tReplLog::Write on the process's log.
void WriteReplLog(std::string_view message);
/// tReplLog::Close on the process's log.
void CloseReplLog();
/// The process's log itself.
tReplLog& ProcessReplLog();

}  // namespace tamaril::replication
