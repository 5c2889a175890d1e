#include "tamaril-cli/rule_questions.h"

#include <optional>

#include "tamaril-cli/terminal.h"

namespace tamaril::cli {

bool TerminalRuleQuestions::Ask(definitions::tQuestion, const std::string& text) {
  if (yes_) return true;
  // The questions break their lines with CR LF (or a lone CR); the terminal wants LF.
  std::string question;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      question += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      question += text[i];
    }
  }
  const std::optional<bool> answer = AskYesNo(ToTerminal(question));
  if (!answer) {
    no_terminal_ = true;
    return false;
  }
  return *answer;
}

}  // namespace tamaril::cli
