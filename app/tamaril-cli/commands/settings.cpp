#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "core/ini_file.h"
#include "core/input_check.h"
#include "core/repl_options.h"
#include "tamaril-cli/cli.h"
#include "tamaril-cli/commands/commands.h"
#include "tamaril-cli/terminal.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::cli {
namespace {

void PrintSettings(std::ostream& out) {
  const core::TReplOptions& options = core::ReplOptions();
  out << "EXPFLDR=" << ToTerminal(options.ExportFolder) << '\n'
      << "IMPFLDR=" << ToTerminal(options.ImportFolder) << '\n'
      << "LOGFILE=" << ToTerminal(options.LogFilePath) << '\n'
      << "DOLOG=" << (options.DoLog ? 1 : 0) << '\n'
      << "BAKCOUNT=" << options.BackupCount << '\n';
  if (!options.DoneFolder.empty()) out << "DONEFLDR=" << ToTerminal(options.DoneFolder) << '\n';
}

bool ParseSwitch(std::string_view value, bool& result) {
  for (const char* yes : {"1", "true", "yes"}) {
    if (text::EqualsIgnoreCaseAscii(value, yes)) return result = true;
  }
  for (const char* no : {"0", "false", "no"}) {
    if (text::EqualsIgnoreCaseAscii(value, no)) {
      result = false;
      return true;
    }
  }
  return false;
}

// The most replaced archives a Signature may keep: far beyond any use, well inside an int.
constexpr int kMaxBackupCount = 100000;

// A count of kept archives: decimal digits only, 0 to kMaxBackupCount.
bool ParseCount(std::string_view value, int& result) {
  if (value.empty() || value.size() > 6) return false;
  int count = 0;
  for (const char c : value) {
    if (c < '0' || c > '9') return false;
    count = count * 10 + (c - '0');
  }
  if (count > kMaxBackupCount) return false;
  result = count;
  return true;
}

// A folder setting that names no folder would only fail at the next run, far from the typo:
// refused here. `folder` is UTF-8; empty stands for the current folder.
void CheckFolderExists(const std::string& key, const std::string& folder) {
  std::error_code error;
  if (folder.empty() || std::filesystem::is_directory(folder, error)) return;
  throw CliError::FromUtf8(key + ": adresář " + folder +
                           " neexistuje; vytvořte jej, nebo zadejte jiný. Nic nebylo změněno");
}

// Applies "KEY=VALUE" (a settings key of the ini file) to the settings record.
void ApplySetting(const std::string& assignment) {
  const auto equals = assignment.find('=');
  if (equals == std::string::npos) throw CliError::FromUtf8("Očekávám KLÍČ=HODNOTA, ne '" + assignment + "'");
  const std::string key = text::UpperCaseAscii(assignment.substr(0, equals));
  core::TReplOptions& options = core::ReplOptions();
  std::string* text_setting = nullptr;
  if (key == "EXPFLDR") {
    text_setting = &options.ExportFolder;
  } else if (key == "IMPFLDR") {
    text_setting = &options.ImportFolder;
  } else if (key == "LOGFILE") {
    text_setting = &options.LogFilePath;
  } else if (key == "DONEFLDR") {
    text_setting = &options.DoneFolder;
  } else if (key != "DOLOG" && key != "BAKCOUNT") {
    throw CliError::FromUtf8("Neznámé nastavení '" + assignment.substr(0, equals) +
                             "' (EXPFLDR, IMPFLDR, LOGFILE, DONEFLDR, DOLOG, BAKCOUNT)");
  }
  const std::string value = core::CheckedAnsiInput(key, assignment.substr(equals + 1));
  if (text_setting != nullptr) {
    CheckFolderExists(key, text_setting == &options.LogFilePath
                               ? std::filesystem::path(text::AnsiToUtf8(value)).parent_path().string()
                               : text::AnsiToUtf8(value));
    *text_setting = value;
  } else if (key == "BAKCOUNT") {
    if (!ParseCount(value, options.BackupCount)) {
      throw CliError::FromUtf8("BAKCOUNT je počet archivů 0 až " + std::to_string(kMaxBackupCount) +
                               ", ne '" + assignment.substr(equals + 1) + "'");
    }
  } else if (!ParseSwitch(value, options.DoLog)) {
    throw CliError::FromUtf8("DOLOG je 1 nebo 0, ne '" + assignment.substr(equals + 1) + "'");
  }
}

ExitStatus RunSettings(std::ostream& out, const std::vector<std::string>& assignments) {
  if (!assignments.empty()) {
    {
      const core::TQVMIniFile ini(core::ReplOptionsFileName());
      if (ini.ReadOnly()) {
        throw CliError::FromUtf8("Soubor nastavení " + core::ReplOptionsFileName() +
                                 " je jen pro čtení; nic nebylo změněno");
      }
    }
    for (const auto& assignment : assignments) ApplySetting(assignment);
    core::SaveReplOptions();
  }
  PrintSettings(out);
  return ExitStatus::Success;
}

}  // namespace

void AddSettingsCommands(Cli& cli) {
  CLI::App& settings = cli.AddCommand("settings", "Vypíše nastavení programu, nebo je s --set změní");
  auto assignments = std::make_shared<std::vector<std::string>>();
  settings.add_option("--set", *assignments,
                      "KLÍČ=HODNOTA: EXPFLDR, IMPFLDR, LOGFILE, DONEFLDR (složka zpracovaných archivů, "
                      "prázdná: archivy zůstávají), DOLOG nebo BAKCOUNT");
  cli.SetAction(settings, Need::CommonValues | Need::RuleLists | Need::Settings,
                [&cli, assignments] { return RunSettings(cli.Out(), *assignments); });
}

}  // namespace tamaril::cli
