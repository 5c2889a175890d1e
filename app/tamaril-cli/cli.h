#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "core/login.h"
#include "core/maindata.h"
#include "dbstruct/structure_cache.h"
#include "tamaril-cli/cli_error.h"

namespace tamaril::cli {

/// How a run of the program ends: the exit status scripts read.
enum class ExitStatus : int {
  Success = 0,    ///< the command did its work
  Failure = 1,    ///< an error, printed on stderr (a refused command line too)
  Cancelled = 2,  ///< the person cancelled or refused: nothing printed, or why on stderr
  Conflicts = 3,  ///< the work finished, but with conflicts to look at
  Warnings = 3,   ///< the work finished, but with warnings to look at (texts exported with '?')
};

/// The start-up steps a command needs before it runs; they run in this order.
enum class Need : unsigned {
  None = 0,
  StructureCache = 1,  ///< the cache of scanned database structures
  CommonValues = 2,    ///< the shared values of common.ini
  RuleLists = 4,       ///< the rule lists and the comparison hook that skips the tracking columns
  Lists = 8,           ///< the definition lists (EXPORT.DAT, IMPORT.DAT)
  Settings = 16,       ///< the settings, with the default folders and tamaril.ini made on the first start
};

/// Both sets of steps.
constexpr Need operator|(Need a, Need b) {
  return static_cast<Need>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
/// True when `set` holds the step `step`.
constexpr bool Has(Need set, Need step) {
  return (static_cast<unsigned>(set) & static_cast<unsigned>(step)) != 0;
}

/// The command-line program: its global options, the start-up a command asks for, the
/// command that was chosen and the exit status of its outcome. The command groups register
/// themselves with AddCommand and SetAction; what they print goes to Out().
class Cli {
 public:
  /// A program printing on `out` and `err` with every command group registered.
  Cli(std::ostream& out, std::ostream& err);
  ~Cli();
  Cli(const Cli&) = delete;
  Cli& operator=(const Cli&) = delete;

  /// Parses the arguments, starts up and runs the chosen command; returns the exit status.
  /// Never throws: errors are printed as "tamaril-cli: <message>" on the error stream.
  int Run(int argc, const char* const* argv);

  /// Adds a command (or, with `parent`, a subcommand of it) with Czech help texts.
  CLI::App& AddCommand(const std::string& name, const std::string& description, CLI::App* parent = nullptr);
  /// Makes `command` runnable: when it is chosen, the steps of `needs` run, then `action`.
  void SetAction(CLI::App& command, Need needs, std::function<ExitStatus()> action);

  /// Where the commands print their results.
  std::ostream& Out() { return out_; }
  /// Where the commands print notes that are not results, such as why they stopped.
  std::ostream& Err() { return err_; }
  /// The definition lists; only after the start-up step Need::Lists, else throws std::logic_error.
  core::TMaindata& Maindata();
  /// The structure cache; only after the start-up step Need::StructureCache, else throws std::logic_error.
  dbstruct::tDBStructureCache& StructureCache();
  /// The login prompt of the terminal.
  core::LoginPrompt& LoginPrompt() { return *prompt_; }

 private:
  struct Action {
    CLI::App* command;
    Need needs;
    std::function<ExitStatus()> run;
  };

  int Execute(int argc, const char* const* argv);
  void StartUp(Need needs);
  int ParseFailure(const CLI::ParseError& error);

  std::ostream& out_;
  std::ostream& err_;
  CLI::App app_;
  std::string home_;
  std::string common_;
  std::vector<Action> actions_;
  std::unique_ptr<core::LoginPrompt> prompt_;
  std::unique_ptr<dbstruct::tDBStructureCache> structure_cache_;
  std::unique_ptr<core::TMaindata> maindata_;
};

/// The Czech text of a command-line parse error of `app` (UTF-8), as the program prints it: the
/// kind of error and the options it names come from the parser, the words it left over from its
/// record of them (never from its English message).
std::string CzechParseMessage(const CLI::App& app, const CLI::Error& error);

/// "tamaril-cli 1.0.0.0": the program's name and full version.
std::string VersionText();

}  // namespace tamaril::cli
