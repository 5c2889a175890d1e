// tamaril-cli: the replication engine for scripts and scheduled transfers.
// Exit status: 0 success, 1 failure, 2 cancelled or refused by the person.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "core/common_info.h"
#include "core/ini_file.h"
#include "core/paths.h"
#include "core/repl_options.h"
#include "text/encoding.h"

namespace {

using namespace tamaril;

constexpr int kFailure = 1;

// A failure the user caused or must act on: its text is printed and the program ends with 1.
class CliError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string ToTerminal(std::string_view ansi) { return text::AnsiToUtf8(ansi); }

void PrintSettings() {
  const core::TReplOptions& options = core::ReplOptions();
  std::cout << "EXPFLDR=" << ToTerminal(options.ExportFolder) << '\n'
            << "IMPFLDR=" << ToTerminal(options.ImportFolder) << '\n'
            << "LOGFILE=" << ToTerminal(options.LogFilePath) << '\n'
            << "DOLOG=" << (options.DoLog ? 1 : 0) << '\n';
}

bool ParseSwitch(std::string_view value, bool& result) {
  std::string lower;
  for (const char c : value) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "1" || lower == "true" || lower == "yes") {
    result = true;
  } else if (lower == "0" || lower == "false" || lower == "no") {
    result = false;
  } else {
    return false;
  }
  return true;
}

// Applies "KEY=VALUE" (a settings key of the ini file) to the settings record.
void ApplySetting(const std::string& assignment) {
  const auto equals = assignment.find('=');
  if (equals == std::string::npos) throw CliError("Očekávám KLÍČ=HODNOTA, ne '" + assignment + "'");
  std::string key = assignment.substr(0, equals);
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string value = text::Utf8ToAnsi(assignment.substr(equals + 1));
  core::TReplOptions& options = core::ReplOptions();
  if (key == "EXPFLDR") {
    options.ExportFolder = value;
  } else if (key == "IMPFLDR") {
    options.ImportFolder = value;
  } else if (key == "LOGFILE") {
    options.LogFilePath = value;
  } else if (key == "DOLOG") {
    if (!ParseSwitch(value, options.DoLog)) throw CliError("DOLOG je 1 nebo 0, ne '" + assignment.substr(equals + 1) + "'");
  } else {
    throw CliError("Neznámé nastavení '" + assignment.substr(0, equals) + "' (EXPFLDR, IMPFLDR, LOGFILE, DOLOG)");
  }
}

int RunSettings(const std::vector<std::string>& assignments) {
  if (!assignments.empty()) {
    {
      const core::TQVMIniFile ini(core::ReplOptionsFileName());
      if (ini.ReadOnly()) {
        throw CliError("Soubor nastavení " + core::ReplOptionsFileName() + " je jen pro čtení; nic nebylo změněno");
      }
    }
    for (const auto& assignment : assignments) ApplySetting(assignment);
    core::SaveReplOptions();
  }
  PrintSettings();
  return 0;
}

int Run(int argc, char** argv) {
  CLI::App app{"Tamaril – replikace databází mezi místy bez trvalého spojení", "tamaril-cli"};
  app.set_version_flag("--version",
                       std::to_string(core::AppVersionMajor) + "." + std::to_string(core::AppVersionMinor) + "." +
                           std::to_string(core::AppVersionRelease) + "." + std::to_string(core::AppVersionBuild));
  std::string home;
  std::string common;
  app.add_option("--home", home, "Složka programu (tamaril.ini, EXPORT.DAT, IMPORT.DAT)");
  app.add_option("--common", common, "Soubor společných hodnot (jinak /etc/ZRT/common.ini)");
  app.require_subcommand(1);
  app.fallthrough();

  auto* settings = app.add_subcommand("settings", "Vypíše nastavení programu, nebo je s --set změní");
  std::vector<std::string> assignments;
  settings->add_option("--set", assignments, "KLÍČ=HODNOTA: EXPFLDR, IMPFLDR, LOGFILE nebo DOLOG");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }

  try {
    if (!home.empty()) {
      std::error_code error;
      std::filesystem::create_directories(home, error);
      if (error || !std::filesystem::is_directory(home)) {
        throw CliError("Složku programu " + home + " nelze vytvořit: " + error.message());
      }
      core::SetProgramFolder(home);
    }
    if (!common.empty()) {
      if (!std::filesystem::is_regular_file(common)) {
        throw CliError("Soubor společných hodnot " + common + " neexistuje");
      }
      core::SetCommonInfoFileName(common);
    }
    core::ReadCommonInfo();
    core::InitializeReplOptions();

    if (settings->parsed()) return RunSettings(assignments);
    return kFailure;
  } catch (const CliError& e) {
    std::cerr << "tamaril-cli: " << e.what() << '\n';
    return kFailure;
  } catch (const std::exception& e) {
    std::cerr << "tamaril-cli: " << ToTerminal(e.what()) << '\n';
    return kFailure;
  }
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tamaril-cli: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "tamaril-cli: unexpected failure\n");
  }
  return kFailure;
}
