#include "tamaril-cli/rule_questions.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "support/terminal_screen.h"
#include "text/encoding.h"

namespace tamaril::cli {
namespace {

using definitions::tQuestion;

// The outcome of one question asked in a child process: its exit code (1 Yes, 0 No, 2 No
// because there was no terminal) and what the terminal showed.
struct Asked {
  int code = -1;
  std::string screen;
};

// Asks the set-as-default question in a child, on a pseudo-terminal answered with `answer`,
// or without any terminal when `answer` is null.
Asked AskInChild(const char* answer) {
  const std::string question = text::Utf8ToAnsi("Nastavit jako \r\nvýchozí?");
  int master = -1;
  const pid_t child = answer != nullptr ? forkpty(&master, nullptr, nullptr, nullptr) : ::fork();
  if (child == 0) {
    ::alarm(20);
    if (answer == nullptr) ::setsid();  // a new session has no controlling terminal
    TerminalRuleQuestions questions(false);
    const bool yes = questions.Ask(tQuestion::SetAsDefault, question);
    _exit(yes ? 1 : questions.NoTerminal() ? 2 : 0);
  }
  Asked asked;
  if (child < 0) return asked;
  if (answer != nullptr) {
    test_support::ReadUntil(master, "[a/n]: ", asked.screen);
    const std::string line = std::string(answer) + "\n";
    if (::write(master, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return asked;
  }
  int status = 0;
  if (::waitpid(child, &status, 0) == child && WIFEXITED(status)) asked.code = WEXITSTATUS(status);
  if (master >= 0) ::close(master);
  return asked;
}

// The question shows on the terminal with its line breaks and takes a or n in any spelling;
// after a word it does not know it asks again.
TEST(TerminalRuleQuestions, AsksOnTheTerminal) {
  const Asked yes = AskInChild("Ano");
  EXPECT_EQ(yes.code, 1);
  EXPECT_NE(yes.screen.find("Nastavit jako \r\nvýchozí? [a/n]: "), std::string::npos) << yes.screen;
  EXPECT_EQ(AskInChild("n").code, 0);
  EXPECT_EQ(AskInChild("snad\nne").code, 0);
}

// Without a terminal the answer is No and the command learns why; --yes answers at once.
TEST(TerminalRuleQuestions, NoTerminalIsNoUnlessYesWasGiven) {
  EXPECT_EQ(AskInChild(nullptr).code, 2);
  TerminalRuleQuestions questions(true);
  EXPECT_TRUE(questions.Ask(tQuestion::DeleteLogRow, "?"));
  EXPECT_FALSE(questions.NoTerminal());
}

}  // namespace
}  // namespace tamaril::cli
