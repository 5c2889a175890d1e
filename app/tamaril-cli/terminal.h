#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "core/login.h"

namespace tamaril::cli {

// What the command-line program shows and asks on the terminal. The engine's texts are
// Windows-1250; the terminal gets UTF-8.

/// An engine text (Windows-1250) as the terminal shows it (UTF-8).
std::string ToTerminal(std::string_view ansi);

/// Asks for a login on the controlling terminal (/dev/tty), the password without echo. The end
/// of input (Ctrl-D) at either question is the person's cancellation and throws EAbort; without
/// a terminal it throws CliError saying how to give the login instead, and an entry
/// Windows-1250 cannot hold throws core::InputError.
class TerminalLoginPrompt : public core::LoginPrompt {
 public:
  bool ShowLoginDialog(core::tLoginObject& login, std::string_view last_error) override;
};

/// Asks a yes/no question (UTF-8) on the controlling terminal until the answer is "a"/"ano" or
/// "n"/"ne" (any case); nothing when there is no terminal. The end of input throws EAbort.
std::optional<bool> AskYesNo(std::string_view question);

/// Asks `question` (UTF-8) followed by `choices` (e.g. " [a]no / [n]e: ") on the controlling
/// terminal until the answer's first letter, in lower case, is one of `letters` (ASCII), and
/// returns it; nothing when there is no terminal. The end of input throws EAbort.
std::optional<char> AskLetter(std::string_view question, std::string_view choices, std::string_view letters);

/// One line of a progress bar: "caption [####······] 40 %" with `width` cells (UTF-8). Within
/// `columns` characters when given: a longer caption is cut and ends with "…".
std::string ProgressLine(std::string_view caption, long long done, long long total, int width = 30,
                         std::size_t columns = 0);

/// A progress bar redrawn in place on a terminal, within the terminal's width; on anything else
/// it shows nothing, so that logs and pipes get only the results.
class ProgressBar {
 public:
  /// Draws on `out` when `fd` (the stream's descriptor) is a terminal.
  ProgressBar(std::ostream& out, int fd);
  /// Ends the line of a bar that was drawn.
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  /// Redraws the bar with `caption` (Windows-1250) at `done` of `total`.
  void Show(std::string_view caption, long long done, long long total);
  /// Redraws the bar with `caption` already in UTF-8.
  void ShowUtf8(std::string_view caption, long long done, long long total);
  /// Ends the bar's line; a later Show starts a new one.
  void Finish();
  /// True when the bar draws: its descriptor is a terminal.
  bool Enabled() const noexcept { return enabled_; }

 private:
  std::ostream& out_;
  int fd_;
  bool enabled_;
  bool drawn_ = false;
};

}  // namespace tamaril::cli
