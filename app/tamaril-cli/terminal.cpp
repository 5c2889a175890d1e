#include "tamaril-cli/terminal.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "core/input_check.h"
#include "tamaril-cli/cli_error.h"
#include "text/ascii.h"
#include "text/encoding.h"
#include "text/error.h"

namespace tamaril::cli {
namespace {

// The controlling terminal, closed when the question ends.
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

  /// Shows the prompt and reads one line without its line end; at the end of input it throws
  /// EAbort. Without echo, echo is off before the prompt shows, so nothing typed after it is echoed.
  std::string Ask(std::string_view prompt, bool echo) const {
    termios saved{};
    const bool restore = !echo && ::tcgetattr(fd_, &saved) == 0;
    if (restore) {
      termios quiet = saved;
      quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
      ::tcsetattr(fd_, TCSANOW, &quiet);  // keeps what was typed ahead
    }
    Write(prompt);
    std::string line;
    bool ended = false;
    char c = 0;
    for (;;) {
      if (::read(fd_, &c, 1) != 1) break;
      if (c == '\n') {
        ended = true;
        break;
      }
      if (c != '\r') line += c;
    }
    if (restore) {
      ::tcsetattr(fd_, TCSANOW, &saved);
      Write("\n");
    }
    if (!ended) {
      if (!restore) Write("\n");
      throw EAbort();
    }
    return line;
  }

 private:
  int fd_;
};

// Characters of a UTF-8 text.
std::size_t CharacterCount(std::string_view utf8) {
  std::size_t count = 0;
  for (const char c : utf8) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return count;
}

}  // namespace

std::string ToTerminal(std::string_view ansi) {
  // Messages made for the desktop's boxes break their lines with a bare CR; on a terminal the
  // second line would overwrite the first.
  std::string utf8 = text::AnsiToUtf8(ansi);
  std::string shown;
  shown.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if (utf8[i] != '\r') {
      shown += utf8[i];
    } else if (i + 1 >= utf8.size() || utf8[i + 1] != '\n') {
      shown += '\n';
    }
  }
  return shown;
}

bool TerminalLoginPrompt::ShowLoginDialog(core::tLoginObject& login, std::string_view last_error) {
  Terminal terminal;
  if (!terminal.IsOpen()) {
    throw CliError::FromUtf8(
        "Přihlášení k SQL serveru vyžaduje terminál; uveďte User ID, Password a Persist Security Info=True "
        "v připojovacím řetězci");
  }
  if (!last_error.empty()) terminal.Write(text::AnsiToUtf8(last_error) + "\n");
  terminal.Write("Přihlášení k SQL serveru\n");
  // The remembered user name stands in brackets and is kept when the line is left empty.
  std::string prompt = "Uživatelské jméno";
  if (!login.UserName.empty()) prompt += " [" + text::AnsiToUtf8(login.UserName) + "]";
  const std::string entered_user = terminal.Ask(prompt + ": ", true);
  const std::string user =
      entered_user.empty() ? login.UserName : core::CheckedAnsiInput("Uživatelské jméno", entered_user);
  const std::string entered_password = terminal.Ask("Heslo: ", false);
  login.UserName = user;
  login.Password = core::CheckedAnsiInput("Heslo", entered_password);
  return true;
}

std::optional<bool> AskYesNo(std::string_view question) {
  Terminal terminal;
  if (!terminal.IsOpen()) return std::nullopt;
  for (;;) {
    const std::string answer =
        text::UpperCaseAscii(text::TrimBlanks(terminal.Ask(std::string(question) + " [a/n]: ", true)));
    if (answer == "A" || answer == "ANO") return true;
    if (answer == "N" || answer == "NE") return false;
  }
}

std::optional<char> AskLetter(std::string_view question, std::string_view choices, std::string_view letters) {
  Terminal terminal;
  if (!terminal.IsOpen()) return std::nullopt;
  for (;;) {
    const std::string line = terminal.Ask(std::string(question) + std::string(choices), true);
    const std::string_view answer = text::TrimBlanks(line);
    if (answer.empty()) continue;
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(answer.front())));
    if (letters.find(letter) != std::string_view::npos) return letter;
  }
}

std::string ProgressLine(std::string_view caption, long long done, long long total, int width,
                         std::size_t columns) {
  const long long bounded = total <= 0 ? 0 : std::clamp(done, 0LL, total);
  const int percent = total <= 0 ? 0 : static_cast<int>(bounded * 100 / total);
  const int filled = total <= 0 ? 0 : static_cast<int>(bounded * width / total);
  std::string bar = " [";
  for (int i = 0; i < width; ++i) bar += i < filled ? "#" : "·";
  bar += "] " + std::to_string(percent) + " %";
  std::string line(caption);
  const std::size_t bar_columns = static_cast<std::size_t>(width) + 4 + std::to_string(percent).size() + 2;
  if (columns > 0 && CharacterCount(line) + bar_columns > columns) {
    // Cut at a character's start, leaving room for the ellipsis.
    const std::size_t room = columns > bar_columns + 1 ? columns - bar_columns - 1 : 0;
    std::size_t kept = 0;
    std::size_t at = 0;
    for (; at < line.size(); ++at) {
      if ((static_cast<unsigned char>(line[at]) & 0xC0) != 0x80 && kept++ == room) break;
    }
    line = line.substr(0, at) + "…";
  }
  return line + bar;
}

ProgressBar::ProgressBar(std::ostream& out, int fd) : out_(out), fd_(fd), enabled_(::isatty(fd) == 1) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Show(std::string_view caption, long long done, long long total) {
  ShowUtf8(ToTerminal(caption), done, total);
}

void ProgressBar::ShowUtf8(std::string_view caption, long long done, long long total) {
  if (!enabled_) return;
  winsize size{};
  // One column is left free: a line that fills the last one wraps on some terminals.
  const std::size_t columns = ::ioctl(fd_, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col - 1 : 0;
  // "\r" returns to the start of the line, "\033[K" clears what a longer caption left.
  // A narrow terminal gets a shorter bar, so that the caption keeps room.
  const int width = columns == 0 ? 30 : static_cast<int>(std::clamp<std::size_t>(columns / 4, 10, 30));
  out_ << '\r' << ProgressLine(caption, done, total, width, columns) << "\033[K" << std::flush;
  drawn_ = true;
}

void ProgressBar::Finish() {
  if (!drawn_) return;
  out_ << '\n' << std::flush;
  drawn_ = false;
}

}  // namespace tamaril::cli
