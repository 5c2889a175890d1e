#include <memory>
#include <optional>
#include <string>

#include "core/repl_options.h"
#include "replication/file_problem.h"
#include "replication/repl_log.h"
#include "tamaril-cli/cli.h"
#include "tamaril-cli/cli_error.h"
#include "tamaril-cli/commands/commands.h"
#include "text/encoding.h"

namespace tamaril::cli {
namespace {

struct LogOptions {
  int tail = -1;  ///< the last lines to print; negative: all
};

// Prints the import's log file of the settings as the terminal shows text; the file stays as
// the import writes it (Windows-1250, CR LF).
ExitStatus RunLog(Cli& cli, const LogOptions& options) {
  const core::TReplOptions& settings = core::ReplOptions();
  const std::string path = text::AnsiToUtf8(settings.LogFilePath);
  if (path.empty()) throw CliError::FromUtf8("Log soubor není v nastavení určen (LOGFILE)");
  const std::string problem = replication::FileReadProblem(path);
  if (!problem.empty()) {
    std::string message = "Log soubor " + path + " nelze otevřít: " + text::AnsiToUtf8(problem);
    if (!settings.DoLog) message += "; import do logu nezapisuje (DOLOG=0)";
    throw CliError::FromUtf8(message);
  }
  std::optional<std::size_t> tail;
  if (options.tail >= 0) tail = static_cast<std::size_t>(options.tail);
  replication::WriteReplLogText(path, tail, cli.Out());
  return ExitStatus::Success;
}

}  // namespace

void AddLogCommands(Cli& cli) {
  CLI::App& command = cli.AddCommand("log", "Vypíše log importu (soubor LOGFILE z nastavení)");
  auto options = std::make_shared<LogOptions>();
  command.add_option("--tail", options->tail, "Vypíše jen posledních N řádků")
      ->check(CLI::NonNegativeNumber)
      ->option_text("N");
  cli.SetAction(command, Need::CommonValues | Need::Settings,
                [&cli, options] { return RunLog(cli, *options); });
}

}  // namespace tamaril::cli
