#include "tamaril-cli/cli.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/terminal_screen.h"
#include "text/encoding.h"
#include "text/error.h"

namespace tamaril::cli {
namespace {

// One run of the program in this process: what it printed and its exit status.
struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// A program with one extra command "work" whose action is `action`.
Outcome RunWith(const std::function<ExitStatus()>& action, std::vector<const char*> args = {"work"}) {
  std::ostringstream out;
  std::ostringstream err;
  Cli cli(out, err);
  cli.SetAction(cli.AddCommand("work", "Zkušební příkaz"), Need::None, action);
  args.insert(args.begin(), "tamaril-cli");
  const int status = cli.Run(static_cast<int>(args.size()), args.data());
  return {status, out.str(), err.str()};
}

// Each kind of outcome maps to its own exit status and message: a failure's text is converted
// for the terminal, a cancellation is silent, a bug is called an internal error.
TEST(CliOutcome, MapsEachKindOfOutcomeToItsStatusAndMessage) {
  const Outcome done = RunWith([] { return ExitStatus::Success; });
  EXPECT_EQ(done.status, 0);
  EXPECT_EQ(done.err, "");

  const Outcome conflicts = RunWith([] { return ExitStatus::Conflicts; });
  EXPECT_EQ(conflicts.status, 3);
  EXPECT_EQ(conflicts.err, "");

  const Outcome failed =
      RunWith([]() -> ExitStatus { throw Error(text::Utf8ToAnsi("Zadaná databáze neexistuje")); });
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err, "tamaril-cli: Zadaná databáze neexistuje\n");

  const Outcome refused = RunWith([]() -> ExitStatus { throw CliError(text::Utf8ToAnsi("Špatně")); });
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "tamaril-cli: Špatně\n");

  const Outcome cancelled = RunWith([]() -> ExitStatus { throw EAbort(); });
  EXPECT_EQ(cancelled.status, 2);
  EXPECT_EQ(cancelled.out + cancelled.err, "");

  const Outcome bug = RunWith([]() -> ExitStatus { throw std::out_of_range("vector::at"); });
  EXPECT_EQ(bug.status, 1);
  EXPECT_EQ(bug.err, "tamaril-cli: vnitřní chyba: vector::at\n");
}

TEST(CliOutcome, AMissingProgramFolderStopsBeforeTheCommandRuns) {
  const testing::TempDir work;
  bool ran = false;
  const std::string missing = work.File("překlep日");
  const Outcome outcome = RunWith(
      [&ran] {
        ran = true;
        return ExitStatus::Success;
      },
      {"--home", missing.c_str(), "work"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "tamaril-cli: Složka programu " + missing + " neexistuje\n");
  EXPECT_FALSE(ran);

  const std::string file = work.File("soubor");
  testing::WriteWholeFile(file, "x");
  EXPECT_EQ(RunWith([] { return ExitStatus::Success; }, {"--home", file.c_str(), "work"}).err,
            "tamaril-cli: Složka programu " + file + " není složka\n");
}

TEST(CliOutcome, HelpAndVersionAreSuccesses) {
  const Outcome version = RunWith([] { return ExitStatus::Failure; }, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, VersionText() + "\n");
  EXPECT_EQ(VersionText().rfind("tamaril-cli ", 0), 0u);

  const Outcome help = RunWith([] { return ExitStatus::Failure; }, {"work", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Použití: tamaril-cli work [VOLBY]"), std::string::npos) << help.out;
}

// The parser's errors in Czech, named from what it left over or found wrong, never from its
// English text: an unknown command with an unknown option after it stays one clear message.
TEST(CliParseErrors, AreCzechAndNameWhatWasWrong) {
  const auto fails = [](std::vector<const char*> args) {
    const Outcome outcome = RunWith([] { return ExitStatus::Success; }, std::move(args));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    return outcome.err;
  };
  const std::string commands =
      "settings, defs, memtable, archive, structure, check, setup-script, eval, "
      "rules, history, functions, export, import, log, status, keys, demo, work";
  EXPECT_EQ(fails({"klice", "--bogus"}),
            "tamaril-cli: Neznámý příkaz 'klice'; známé příkazy: " + commands + "\n");
  EXPECT_EQ(fails({"--bogus", "klice"}),
            "tamaril-cli: Neznámá volba --bogus; Neznámý příkaz 'klice'; známé příkazy: " + commands + "\n");
  EXPECT_EQ(fails({"--home"}), "tamaril-cli: Volba --home očekává hodnotu\n");
  EXPECT_EQ(fails({"import", "--bogus", "-x"}), "tamaril-cli: Neznámé volby --bogus, -x\n");
  EXPECT_EQ(fails({"import", "x", "y"}), "tamaril-cli: Nadbytečné argumenty x, y\n");
  EXPECT_EQ(
      fails({"import", "--backup", "maybe"}),
      "tamaril-cli: Chybná hodnota volby --backup 'maybe'; povolené hodnoty: ask, yes, no, all, none\n");
  EXPECT_EQ(fails({"import", "--reimport", "--skip-imported"}).rfind("tamaril-cli: Volbu --", 0), 0U);
  EXPECT_EQ(fails({"log", "--tail", "pět"}),
            "tamaril-cli: Chybná hodnota volby --tail 'pět'; čeká se celé číslo 0 nebo větší\n");
  EXPECT_EQ(fails({"archive"}), "tamaril-cli: Chybí příkaz; známé příkazy: dump\n");
  EXPECT_EQ(fails({"archive", "keys", "--rows"}),
            "tamaril-cli: Neznámý příkaz 'keys'; známé příkazy: dump\n");
  EXPECT_EQ(fails({"archive", "dump"}), "tamaril-cli: Chybí povinný argument SOUBOR\n");
  EXPECT_EQ(fails({"defs", "add", "--export"}), "tamaril-cli: Chybí povinná volba --signature\n");
}

// The help's scaffolding, placeholders and argument names are Czech, lined up by characters.
TEST(CliHelp, IsCzechThroughout) {
  const Outcome check = RunWith([] { return ExitStatus::Failure; }, {"check", "--help"});
  EXPECT_EQ(check.status, 0);
  EXPECT_NE(check.out.find("Použití: tamaril-cli check [VOLBY] IDENTIFIKACE\n\nArgumenty:\n"
                           "  IDENTIFIKACE POVINNÉ        Identifikace definice\n"),
            std::string::npos)
      << check.out;
  const Outcome rules = RunWith([] { return ExitStatus::Failure; }, {"rules", "--help"});
  EXPECT_NE(rules.out.find("  --from HODNOTA Vyžaduje: --apply-last\n"), std::string::npos) << rules.out;
  EXPECT_NE(rules.out.find("  --set HODNOTA ... Vylučuje:"), std::string::npos) << rules.out;
  const Outcome log = RunWith([] { return ExitStatus::Failure; }, {"log", "--help"});
  EXPECT_NE(log.out.find("  --tail N                    Vypíše jen posledních N řádků\n"), std::string::npos)
      << log.out;
  for (const Outcome* help : {&check, &rules, &log}) {
    // (TEXT stays out: the rules' own help writes KLÍČ=TEXT, which is Czech.)
    for (const char* english :
         {"Usage", "OPTIONS", "Options", "Positionals", "REQUIRED", "INT", "Needs", "Excludes", "SIGNATURE"})
      EXPECT_EQ(help->out.find(english), std::string::npos) << english << " in\n" << help->out;
  }
}

using test_support::ReadUntil;

// The person ends the login prompt of a server connection with Ctrl-D: the program stops with
// status 2 and prints nothing about it, neither on the terminal nor on stderr.
TEST(CliCancellation, CtrlDAtTheLoginPromptExitsTwoWithoutAMessage) {
  const testing::TempDir work;
  const std::string home = work.File("home");
  ASSERT_EQ(::mkdir(home.c_str(), 0700), 0);
  const std::string error_file = work.File("stderr");
  int master = -1;
  const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::alarm(20);
    ::setenv("HOME", work.path().c_str(), 1);
    if (std::freopen(error_file.c_str(), "w", stderr) == nullptr) _exit(99);
    ::execl(TAMARIL_CLI_PROGRAM, "tamaril-cli", "--home", home.c_str(), "structure", "--connection",
            "Provider=SQLOLEDB;Data Source=nowhere", "--database", "shop", static_cast<char*>(nullptr));
    _exit(98);
  }
  std::string screen;
  ReadUntil(master, "Uživatelské jméno: ", screen);
  ASSERT_EQ(::write(master, "\x04", 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ReadUntil(master, "\x01", screen);
  ::close(master);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2) << screen;
  EXPECT_EQ(testing::ReadWholeFile(error_file), "");
  EXPECT_EQ(screen.find("tamaril-cli"), std::string::npos) << screen;
  EXPECT_NE(screen.find("Přihlášení k SQL serveru"), std::string::npos) << screen;
}

}  // namespace
}  // namespace tamaril::cli
