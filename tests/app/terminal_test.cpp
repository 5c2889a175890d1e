#include "tamaril-cli/terminal.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>

#include "core/input_check.h"
#include "support/terminal_screen.h"
#include "tamaril-cli/cli_error.h"
#include "tamaril-cli/terminal_run_host.h"
#include "text/encoding.h"
#include "text/error.h"

namespace tamaril::cli {
namespace {

using test_support::ReadUntil;

// Runs `child` in a process whose controlling terminal is a pseudo-terminal; `person` types
// on it. Returns the child's exit status; `screen` gets what the terminal showed.
int OnTerminal(const std::function<int()>& child, const std::function<void(int, std::string&)>& person,
               std::string& screen) {
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return -1;
  if (pid == 0) {
    ::alarm(20);  // a question that waits for ever fails the test instead of hanging it
    _exit(child());
  }
  person(master, screen);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ReadUntil(master, "\x01", screen);  // whatever is left, until the terminal closes
  ::close(master);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Type(int master, std::string& screen, std::string_view question, std::string_view text) {
  ReadUntil(master, question, screen);
  ASSERT_EQ(::write(master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

TEST(ToTerminal, ABareCarriageReturnBreaksTheLineInsteadOfOverwritingIt) {
  EXPECT_EQ(ToTerminal(text::Utf8ToAnsi("Databáze x není připravena\r\"T\" nenalezeno.")),
            "Databáze x není připravena\n\"T\" nenalezeno.");
  EXPECT_EQ(ToTerminal("a\r\nb\r"), "a\nb\n");
  EXPECT_EQ(ToTerminal("plain"), "plain");
}

TEST(TerminalLoginPrompt, AsksOnTheTerminalWithoutEchoingThePassword) {
  std::string screen;
  const int status = OnTerminal(
      [] {
        TerminalLoginPrompt prompt;
        core::tLoginObject login{"sa", "old"};
        const bool confirmed = prompt.ShowLoginDialog(login, text::Utf8ToAnsi("Přihlášení selhalo"));
        return confirmed && login.UserName == "jan" && login.Password == text::Utf8ToAnsi("tajné") ? 0 : 1;
      },
      [](int master, std::string& shown) {
        // Each answer goes when its question is on the screen, as a person types.
        Type(master, shown, "Uživatelské jméno [sa]: ", "jan\n");
        Type(master, shown, "Heslo: ", "tajné\n");
      },
      screen);
  EXPECT_EQ(status, 0) << screen;
  EXPECT_NE(screen.find("Přihlášení selhalo"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("tajné"), std::string::npos) << "the password was echoed:\n" << screen;
}

// Ctrl-D at either question ends the input: the person cancelled, which is EAbort, not a failed login.
TEST(TerminalLoginPrompt, EndOfInputAtEitherQuestionCancels) {
  for (const char* question : {"Uživatelské jméno: ", "Heslo: "}) {
    std::string screen;
    const int status = OnTerminal(
        [] {
          TerminalLoginPrompt prompt;
          core::tLoginObject login;
          try {
            prompt.ShowLoginDialog(login, "");
          } catch (const EAbort&) {
            return 4;
          }
          return 0;
        },
        [question](int master, std::string& shown) {
          if (std::string_view(question) == "Heslo: ") Type(master, shown, "Uživatelské jméno: ", "jan\n");
          Type(master, shown, question, "\x04");
        },
        screen);
    EXPECT_EQ(status, 4) << question << '\n' << screen;
  }
}

// A password Windows-1250 cannot hold would reach the server as "?": it is refused instead.
TEST(TerminalLoginPrompt, RefusesAnEntryWindows1250CannotHold) {
  std::string screen;
  const int status = OnTerminal(
      [] {
        TerminalLoginPrompt prompt;
        core::tLoginObject login;
        try {
          prompt.ShowLoginDialog(login, "");
        } catch (const core::InputError& e) {
          return text::AnsiToUtf8(e.what()) ==
                         "Hodnota pole Heslo obsahuje znak U+65E5, který kódování Windows-1250 nemá"
                     ? 5
                     : 6;
        }
        return 0;
      },
      [](int master, std::string& shown) {
        Type(master, shown, "Uživatelské jméno: ", "jan\n");
        Type(master, shown, "Heslo: ", "heslo日\n");
      },
      screen);
  EXPECT_EQ(status, 5) << screen;
}

TEST(TerminalLoginPromptDeathTest, WithoutATerminalSaysHowToGiveTheLogin) {
  EXPECT_EXIT(
      {
        ::setsid();  // no controlling terminal from here on
        TerminalLoginPrompt prompt;
        core::tLoginObject login;
        try {
          prompt.ShowLoginDialog(login, "");
        } catch (const CliError& e) {
          std::cerr << text::AnsiToUtf8(e.what());
          std::exit(3);
        }
        std::exit(0);
      },
      ::testing::ExitedWithCode(3),
      "vyžaduje terminál; uveďte User ID, Password a Persist Security Info=True");
}

TEST(AskYesNo, RepeatsTheQuestionUntilTheAnswerIsYesOrNo) {
  std::string screen;
  const int status = OnTerminal(
      [] {
        const auto answer = AskYesNo("Obnovit databázi?");
        return answer.has_value() ? (*answer ? 10 : 11) : 12;
      },
      [](int master, std::string& shown) {
        Type(master, shown, "Obnovit databázi? [a/n]: ", "možná\n");
        shown.clear();
        Type(master, shown, "Obnovit databázi? [a/n]: ", " Ano \n");
      },
      screen);
  EXPECT_EQ(status, 10) << screen;
}

TEST(ProgressLine, FillsCellsInProportionAndKeepsToTheBounds) {
  EXPECT_EQ(ProgressLine("Tabulka A", 2, 5, 10), "Tabulka A [####······] 40 %");
  EXPECT_EQ(ProgressLine("x", 7, 5, 4), "x [####] 100 %");
  EXPECT_EQ(ProgressLine("x", -3, 5, 4), "x [····] 0 %");
  EXPECT_EQ(ProgressLine("x", 1, 0, 4), "x [····] 0 %");  // nothing to do yet: no division by zero
}

TEST(ProgressLine, ACaptionTooLongForTheTerminalIsCutWithAnEllipsis) {
  const std::string line = ProgressLine("Archiv ŽLUŤOUČKÝ-KŮŇ.ZR2 (1 z 2): 40/100", 40, 100, 10, 30);
  EXPECT_EQ(line, "Archiv ŽLUŤ… [####······] 40 %");
  EXPECT_EQ(ProgressLine("krátký", 1, 2, 4, 80), "krátký [##··] 50 %");
}

TEST(RowsText, TakesTheCzechFormOfItsNumber) {
  EXPECT_EQ(RowsText(0), "0 řádků");
  EXPECT_EQ(RowsText(1), "1 řádek");
  EXPECT_EQ(RowsText(4), "4 řádky");
  EXPECT_EQ(RowsText(5), "5 řádků");
  EXPECT_EQ(RowsText(22), "22 řádků");
}

replication::tImportProgress Merge(std::string table, long long table_rows, long long table_total) {
  replication::tImportProgress progress;
  progress.archive = text::Utf8ToAnsi("POBOČKA.ZR2");
  progress.archive_number = 1;
  progress.archive_count = 2;
  progress.archive_rows = 40;
  progress.archive_total = 100;
  progress.table = text::Utf8ToAnsi(table);
  progress.table_rows = table_rows;
  progress.table_total = table_total;
  return progress;
}

TEST(ImportProgressCaption, NamesTheArchiveAndTheTableWithTheirCounts) {
  EXPECT_EQ(ImportProgressCaption(Merge("", 0, 0)), "POBOČKA.ZR2 (1 z 2): 40/100");
  EXPECT_EQ(ImportProgressCaption(Merge("Zboží", 12, 30)), "POBOČKA.ZR2 (1 z 2): 40/100, Zboží: 12/30");
  // A section the count did not reach (a damaged archive) shows its rows alone.
  EXPECT_EQ(ImportProgressCaption(Merge("Zboží", 12, 0)), "POBOČKA.ZR2 (1 z 2): 40/100, Zboží: 12");
}

// Without a terminal the merge gives one plain line per archive and table: no carriage return,
// nothing per row.
TEST(TerminalRunHost, WithoutATerminalWritesAPlainLinePerArchiveAndTable) {
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  std::ostringstream err;
  {
    TerminalRunHost host(err, AnswerMode::No, AnswerMode::No, pipe_ends[1]);
    using Step = replication::tImportProgressStep;
    replication::tImportProgress progress = Merge("", 0, 0);
    host.ShowImportProgress(Step::ArchiveStart, progress);
    progress = Merge("rep_DELETED", 0, 1);
    progress.deleted_rows = true;
    host.ShowImportProgress(Step::TableStart, progress);
    host.ShowImportProgress(Step::Row, progress);
    progress = Merge("Zboží", 0, 3);
    host.ShowImportProgress(Step::TableStart, progress);
    for (int row = 1; row <= 3; ++row) host.ShowImportProgress(Step::Row, Merge("Zboží", row, 3));
    host.ShowImportProgress(Step::ArchiveEnd, Merge("Zboží", 3, 3));
    host.SetActivity("Importuji");
  }
  ::close(pipe_ends[0]);
  ::close(pipe_ends[1]);
  EXPECT_EQ(err.str(),
            "Archiv 1 z 2: POBOČKA.ZR2, 100 řádků\n"
            "  rep_DELETED (smazané řádky): 1 řádek\n"
            "  Zboží: 3 řádky\n");
}

// On a terminal the bar moves with the rows, redrawn at most ten times a second however many
// rows come, and within the terminal's width.
TEST(TerminalRunHost, OnATerminalRedrawsTheBarAtMostTenTimesASecond) {
  int master = -1;
  int slave = -1;
  winsize size{};
  size.ws_col = 60;
  size.ws_row = 24;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, &size), 0);
  std::ostringstream err;
  const auto start = std::chrono::steady_clock::now();
  {
    TerminalRunHost host(err, AnswerMode::No, AnswerMode::No, slave);
    using Step = replication::tImportProgressStep;
    host.ShowImportProgress(Step::ArchiveStart, Merge("", 0, 0));
    host.ShowImportProgress(Step::TableStart, Merge("Zboží", 0, 200000));
    for (int row = 1; row <= 200000; ++row) host.ShowImportProgress(Step::Row, Merge("Zboží", row, 200000));
    host.ShowImportProgress(Step::ArchiveEnd, Merge("Zboží", 200000, 200000));
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ::close(master);
  ::close(slave);
  const std::string shown = err.str();
  const auto draws = std::count(shown.begin(), shown.end(), '\r');
  EXPECT_GE(draws, 1);
  EXPECT_LE(draws, 2 + std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() / 100) << shown;
  EXPECT_NE(shown.find("POBOČKA.ZR2 (1 z 2): 40/100"), std::string::npos) << shown;
  // Every drawn line fits the 60 columns (one is left free).
  std::size_t at = 0;
  while ((at = shown.find('\r', at)) != std::string::npos) {
    const std::size_t end = shown.find("\033[K", at);
    const std::string line = shown.substr(at + 1, end - at - 1);
    std::size_t columns = 0;
    for (const char c : line) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    EXPECT_LE(columns, 59U) << line;
    at = end;
  }
}

TEST(ProgressBar, DrawsNothingWhereTheOutputIsNoTerminal) {
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  std::ostringstream out;
  {
    ProgressBar bar(out, pipe_ends[1]);
    bar.Show("Export", 1, 2);
  }
  ::close(pipe_ends[0]);
  ::close(pipe_ends[1]);
  EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace tamaril::cli
