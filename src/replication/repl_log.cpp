#include "replication/repl_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/printf.h>

#include "core/repl_options.h"
#include "replication/errors.h"
#include "replication/run_host.h"
#include "text/encoding.h"

namespace tamaril::replication {

namespace {

std::string SystemReason(int error) { return text::Utf8ToAnsi(std::strerror(error)); }

}  // namespace

std::string ReplLogOpenQuestion() { return text::Utf8ToAnsi("Chyba při otvírání log souboru. Pokračovat?"); }

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
  const int fd = path.empty() ? -1 : ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
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
                             text::Utf8ToAnsi(" nelze zapsat: ") + SystemReason(error));
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
                           SystemReason(errno));
  }
}

tReplLog& ProcessReplLog() {
  static tReplLog log;
  return log;
}

bool OpenReplLog(tRunHost& host) { return ProcessReplLog().Open(core::ReplOptions(), host); }

void WriteReplLog(std::string_view message) { ProcessReplLog().Write(message); }

void CloseReplLog() { ProcessReplLog().Close(); }

}  // namespace tamaril::replication
