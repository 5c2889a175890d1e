#pragma once

#include <string>

#include "definitions/questions.h"

namespace tamaril::cli {

/// Answers the rule handling's questions for the command line: Yes when the command was given
/// --yes, else the person's answer at the terminal. Without a terminal the answer is No and
/// the refusal is remembered, so that the command can say how to confirm instead.
class TerminalRuleQuestions : public definitions::tRuleQuestions {
 public:
  /// Questions answered Yes at once when `yes`.
  explicit TerminalRuleQuestions(bool yes) : yes_(yes) {}

  /// Yes with --yes, else asks on the terminal; throws EAbort at the end of the terminal's input.
  bool Ask(definitions::tQuestion question, const std::string& text) override;
  /// True when a question went unasked because there was no terminal.
  bool NoTerminal() const noexcept { return no_terminal_; }

 private:
  bool yes_;
  bool no_terminal_ = false;
};

/// The message for a question that could not be asked without a terminal (UTF-8).
inline constexpr const char* kConfirmWithYes = "Otázku nelze položit bez terminálu; potvrďte ji volbou --yes";

}  // namespace tamaril::cli
