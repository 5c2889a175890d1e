#include "replication/repl_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ostream>

#include <fmt/format.h>
#include <fmt/printf.h>

#include "core/private_files.h"
#include "core/repl_options.h"
#include "dataset/date_codec.h"
#include "replication/errors.h"
#include "replication/file_problem.h"
#include "replication/run_host.h"
#include "text/encoding.h"

namespace tamaril::replication {

std::string ReplLogOpenQuestion() { return text::Utf8ToAnsi("Chyba při otvírání log souboru. Pokračovat?"); }

std::string ReplLogTimeText(double date_time) {
  const dataset::TimeStamp stamp = dataset::DateTimeToTimeStamp(date_time);
  const dataset::CivilDate date = dataset::CivilFromDayNumber(stamp.date);
  const int seconds = stamp.time / 1000;
  return fmt::format("{}.{}.{} {}:{:02}:{:02}", date.day, date.month, date.year, seconds / 3600,
                     seconds / 60 % 60, seconds % 60);
}

std::string ReplLogLine(const std::tm& local_time, std::string_view message) {
  std::string line =
      fmt::sprintf("%d.%d.%d %d:%.2d:%.2d :", local_time.tm_mday, local_time.tm_mon + 1,
                   local_time.tm_year + 1900, local_time.tm_hour, local_time.tm_min, local_time.tm_sec);
  line += message;
  return line;
}

tReplLog::~tReplLog() {
  if (fd_ >= 0) ::close(fd_);
}

bool tReplLog::Open(const core::TReplOptions& options, tRunHost& host) {
  if (IsOpen() || !options.DoLog) return true;
  const std::string path = text::AnsiToUtf8(options.LogFilePath);
  const int fd =
      path.empty() ? -1
                   : ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, core::kPrivateFileMode);
  if (fd < 0) return host.ContinueAfterError(ReplLogOpenQuestion());
  fd_ = fd;
  path_ = options.LogFilePath;
  return true;
}

void tReplLog::Write(std::string_view message) {
  if (!IsOpen() && !echo_) return;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  std::string line = ReplLogLine(local, message);
  if (echo_) echo_(line);
  if (!IsOpen()) return;
  line += "\r\n";
  // The whole line goes to one write call where the system takes it at once, so that the lines of
  // another program appending to the same file do not cut into it.
  std::size_t written = 0;
  while (written < line.size()) {
    const ssize_t part = ::write(fd_, line.data() + written, line.size() - written);
    if (part < 0 && errno == EINTR) continue;
    if (part <= 0) {
      const int error = part < 0 ? errno : EIO;
      throw ReplicationError(text::Utf8ToAnsi("Do log souboru ") + path_ +
                             text::Utf8ToAnsi(" nelze zapsat: ") + SystemReasonText(error));
    }
    written += static_cast<std::size_t>(part);
  }
}

void tReplLog::Close() {
  if (!IsOpen()) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) {
    throw ReplicationError(text::Utf8ToAnsi("Log soubor ") + path_ + text::Utf8ToAnsi(" nelze zavřít: ") +
                           SystemReasonText(errno));
  }
}

namespace {

/// The log file opened for reading, closed when it goes.
class LogFile {
 public:
  explicit LogFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~LogFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  int Fd() const noexcept { return fd_; }

  /// Up to `size` bytes at `offset`; fewer only at the end. Throws ReplicationError with the reason.
  std::string ReadAt(off_t offset, std::size_t size, const std::string& path) const {
    std::string bytes(size, '\0');
    std::size_t got = 0;
    while (got < size) {
      const ssize_t part = ::pread(fd_, bytes.data() + got, size - got, offset + static_cast<off_t>(got));
      if (part < 0 && errno == EINTR) continue;
      if (part < 0) {
        throw ReplicationError(text::Utf8ToAnsi("Log soubor " + path + " nelze přečíst: ") +
                               SystemReasonText(errno));
      }
      if (part == 0) break;
      got += static_cast<std::size_t>(part);
    }
    bytes.resize(got);
    return bytes;
  }

 private:
  int fd_;
};

constexpr std::size_t kLogChunk = 64 * 1024;

/// Where the last `lines` lines of the file begin: after the LF that ends the line before them.
off_t TailStart(const LogFile& file, off_t size, std::size_t lines, const std::string& path) {
  if (lines == 0) return size;
  off_t end = size;
  // A final line end closes the last line; it does not begin another.
  if (end > 0 && file.ReadAt(end - 1, 1, path) == "\n") --end;
  std::size_t found = 0;
  while (end > 0) {
    const off_t begin = std::max<off_t>(0, end - static_cast<off_t>(kLogChunk));
    const std::string chunk = file.ReadAt(begin, static_cast<std::size_t>(end - begin), path);
    for (std::size_t i = chunk.size(); i-- > 0;) {
      if (chunk[i] == '\n' && ++found == lines) return begin + static_cast<off_t>(i) + 1;
    }
    end = begin;
  }
  return 0;
}

}  // namespace

void WriteReplLogText(const std::string& path, std::optional<std::size_t> tail, std::ostream& out) {
  const LogFile file(path);
  struct stat status {};
  if (file.Fd() < 0 || ::fstat(file.Fd(), &status) != 0 || S_ISDIR(status.st_mode)) {
    const int error = file.Fd() < 0 ? errno : EISDIR;
    throw ReplicationError(text::Utf8ToAnsi("Log soubor " + path + " nelze otevřít: ") +
                           SystemReasonText(error));
  }
  const off_t size = status.st_size;
  off_t offset = tail ? TailStart(file, size, *tail, path) : 0;
  // CR LF and a bare CR both end a line; a CR at the end of a chunk waits for the next one.
  bool carriage_return = false;
  char last = '\n';
  for (;;) {
    const std::string chunk = file.ReadAt(offset, kLogChunk, path);
    if (chunk.empty()) break;
    offset += static_cast<off_t>(chunk.size());
    std::string lines;
    lines.reserve(chunk.size());
    for (const char c : chunk) {
      if (carriage_return && c != '\n') lines += '\n';
      carriage_return = c == '\r';
      if (!carriage_return) lines += c;
    }
    if (!lines.empty()) last = lines.back();
    out << text::AnsiToUtf8(lines);
  }
  if (carriage_return) last = '\n';
  if (carriage_return || last != '\n') out << '\n';
  out.flush();
}

tReplLog& ProcessReplLog() {
  static tReplLog log;
  return log;
}

bool OpenReplLog(tRunHost& host) { return ProcessReplLog().Open(core::ReplOptions(), host); }

void WriteReplLog(std::string_view message) { ProcessReplLog().Write(message); }

void CloseReplLog() { ProcessReplLog().Close(); }

}  // namespace tamaril::replication
