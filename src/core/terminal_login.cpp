#include "core/terminal_login.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "text/encoding.h"

namespace tamaril::core {
namespace {

// The controlling terminal, closed when the prompt ends.
class Terminal {
 public:
  Terminal() : fd_(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~Terminal() {
    if (fd_ >= 0) ::close(fd_);
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  bool IsOpen() const { return fd_ >= 0; }

  void Write(std::string_view utf8) const {
    while (!utf8.empty()) {
      const ssize_t n = ::write(fd_, utf8.data(), utf8.size());
      if (n <= 0) return;
      utf8.remove_prefix(static_cast<std::size_t>(n));
    }
  }

  /// Shows the prompt and reads one line without its line end; nothing at the end of input.
  /// Without echo, echo is off before the prompt shows, so nothing typed after it is echoed.
  std::optional<std::string> Ask(std::string_view prompt, bool echo) const {
    termios saved{};
    const bool restore = !echo && ::tcgetattr(fd_, &saved) == 0;
    if (restore) {
      termios quiet = saved;
      quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
      ::tcsetattr(fd_, TCSANOW, &quiet);  // keeps what was typed ahead
    }
    Write(prompt);
    std::string line;
    bool got_any = false;
    char c = 0;
    while (::read(fd_, &c, 1) == 1) {
      got_any = true;
      if (c == '\n') break;
      if (c != '\r') line += c;
    }
    if (restore) {
      ::tcsetattr(fd_, TCSANOW, &saved);
      Write("\n");
    }
    if (!got_any) return std::nullopt;
    return line;
  }

 private:
  int fd_;
};

}  // namespace

bool TerminalLoginPrompt::ShowLoginDialog(tLoginObject& login, std::string_view last_error) {
  Terminal terminal;
  if (!terminal.IsOpen()) {
    throw std::runtime_error(text::Utf8ToAnsi(
        "Přihlášení k SQL serveru vyžaduje terminál; uveďte User ID, Password a Persist Security Info=True "
        "v připojovacím řetězci"));
  }
  if (!last_error.empty()) terminal.Write(text::AnsiToUtf8(last_error) + "\n");
  terminal.Write("SQL server login\n");
  // The remembered user name stands in brackets and is kept when the line is left empty.
  std::string prompt = "Uživatelské jméno";
  if (!login.UserName.empty()) prompt += " [" + text::AnsiToUtf8(login.UserName) + "]";
  const auto entered_user = terminal.Ask(prompt + ": ", true);
  if (!entered_user) return false;
  const std::string user = entered_user->empty() ? login.UserName : text::Utf8ToAnsi(*entered_user);
  const auto entered_password = terminal.Ask("Heslo: ", false);
  if (!entered_password) return false;
  login.UserName = user;
  login.Password = text::Utf8ToAnsi(*entered_password);
  return true;
}

}  // namespace tamaril::core
