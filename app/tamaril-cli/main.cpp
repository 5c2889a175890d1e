// tamaril-cli: the replication engine for scripts and scheduled transfers.
// Exit status: 0 success, 1 failure, 2 cancelled or refused by the person.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>

#include "core/common_info.h"
#include "core/ini_file.h"
#include "core/maindata.h"
#include "core/paths.h"
#include "core/repl_options.h"
#include "core/terminal_login.h"
#include "dataset/errors.h"
#include "dataset/memory_table_file.h"
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

// What the defs commands were given.
struct DefinitionOptions {
  bool export_list = false;
  bool import_list = false;
  std::string signature;
  std::optional<std::string> partner;
  std::optional<std::string> connection;
  std::optional<std::string> database;
  std::optional<std::string> note;
};

dataset::TQVMStoredMemoryDataSet& ChosenList(core::TMaindata& data, const DefinitionOptions& options) {
  if (options.export_list == options.import_list) throw CliError("Uveďte právě jedno z --export a --import");
  return data.DefinitionList(options.import_list);
}

std::string PartnerField(const DefinitionOptions& options) {
  return options.import_list ? "ClientName" : "CenterName";
}

// Moves the list to the definition of the signature; an error when there is none.
void GoToDefinition(dataset::TQVMStoredMemoryDataSet& list, const std::string& signature) {
  const std::string key = text::Utf8ToAnsi(signature);
  if (!list.Locate("Signature", dataset::Variant::String(key))) {
    throw CliError("Definice " + signature + " v seznamu není");
  }
}

// Writes a value typed on the command line into a text field of the row being edited,
// refusing what the field cannot hold rather than cutting it.
void SetTextField(dataset::TQVMStoredMemoryDataSet& list, const std::string& name, const std::string& utf8,
                  bool through_text_handler) {
  dataset::TField& field = list.FieldByName(name);
  const std::string value = text::Utf8ToAnsi(utf8);
  if (field.DataType() != dataset::FieldType::Memo && static_cast<int>(value.size()) > field.Size) {
    throw CliError("Hodnota pole " + name + " je delší než " + std::to_string(field.Size) + " znaků");
  }
  if (value.empty()) {
    field.Clear();  // an empty text is no value: a required field then refuses the post
  } else if (through_text_handler) {
    field.SetText(value);
  } else {
    field.SetAsString(value);
  }
}

void FillDefinition(dataset::TQVMStoredMemoryDataSet& list, const DefinitionOptions& options) {
  SetTextField(list, "Signature", options.signature, false);
  if (options.partner) SetTextField(list, PartnerField(options), *options.partner, false);
  if (options.connection) SetTextField(list, "ConnectionString", *options.connection, true);
  if (options.database) SetTextField(list, "DatabaseName", *options.database, false);
  if (options.note) SetTextField(list, "Pozn", *options.note, false);
}

// Posts the edited row and writes the list's file; a refused post leaves the file alone.
void PostAndStore(dataset::TQVMStoredMemoryDataSet& list) {
  try {
    list.Post();
  } catch (...) {
    list.Cancel();
    throw;
  }
  list.Store();
}

int RunDefs(const std::string& action, const DefinitionOptions& options) {
  core::TerminalLoginPrompt prompt;
  core::TMaindata data(prompt);
  auto& list = ChosenList(data, options);
  const std::string partner = PartnerField(options);
  if (action == "list") {
    for (list.First(); !list.Eof(); list.Next()) {
      std::cout << ToTerminal(list.FieldByName("Signature").AsString()) << '\t'
                << ToTerminal(list.FieldByName(partner).AsString()) << '\t'
                << ToTerminal(list.FieldByName("DatabaseName").AsString()) << '\n';
    }
  } else if (action == "show") {
    GoToDefinition(list, options.signature);
    for (const char* name : {"Signature", partner.c_str(), "ConnectionString", "DatabaseName", "Pozn"}) {
      std::cout << name << '=' << ToTerminal(list.FieldByName(name).Text()) << '\n';
    }
  } else if (action == "add") {
    list.Append();
    FillDefinition(list, options);
    PostAndStore(list);
  } else if (action == "edit") {
    GoToDefinition(list, options.signature);
    list.Edit();
    FillDefinition(list, options);
    PostAndStore(list);
  } else if (action == "remove") {
    GoToDefinition(list, options.signature);
    list.Delete();
    list.Store();
  }
  return 0;
}

int RunMemtableDump(const std::string& file) {
  std::string partial;
  try {
    std::cout << dataset::DumpMemoryTableFile(file, &partial);
  } catch (...) {
    std::cout << partial;
    throw;
  }
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

  auto* defs = app.add_subcommand("defs", "Seznamy definic exportů a importů (EXPORT.DAT, IMPORT.DAT)");
  defs->require_subcommand(1);
  DefinitionOptions definition;
  std::string defs_action;
  const auto add_list_flags = [&](CLI::App* command) {
    command->add_flag("--export", definition.export_list, "Seznam definic exportů");
    command->add_flag("--import", definition.import_list, "Seznam definic importů");
  };
  const auto add_signature = [&](CLI::App* command) {
    command->add_option("--signature", definition.signature, "Identifikace přenosu")->required();
  };
  const auto add_values = [&](CLI::App* command) {
    command->add_option("--partner", definition.partner, "Název centra (export) nebo klienta (import)");
    command->add_option("--connection", definition.connection, "Připojovací řetězec");
    command->add_option("--database", definition.database, "Databáze");
    command->add_option("--note", definition.note, "Poznámka");
  };
  for (const char* name : {"list", "show", "add", "edit", "remove"}) {
    static const std::map<std::string, std::string> help = {
        {"list", "Vypíše definice: identifikace, partner, databáze"},
        {"show", "Vypíše všechna pole jedné definice"},
        {"add", "Přidá definici"},
        {"edit", "Změní definici vybranou podle --signature"},
        {"remove", "Odstraní definici"}};
    auto* command = defs->add_subcommand(name, help.at(name));
    add_list_flags(command);
    if (std::string(name) != "list") add_signature(command);
    if (std::string(name) == "add" || std::string(name) == "edit") add_values(command);
    command->callback([&defs_action, name] { defs_action = name; });
  }
  auto* add_command = defs->get_subcommand("add");
  for (const char* required : {"--partner", "--connection", "--database"}) add_command->get_option(required)->required();

  auto* memtable = app.add_subcommand("memtable", "Soubory paměťových tabulek");
  memtable->require_subcommand(1);
  std::string memtable_file;
  auto* dump = memtable->add_subcommand("dump", "Vypíše obsah souboru paměťové tabulky");
  dump->add_option("FILE", memtable_file, "Soubor")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version are successes; every other parse error is a failure of the call.
    return app.exit(e) == 0 ? 0 : kFailure;
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
    if (defs->parsed()) return RunDefs(defs_action, definition);
    if (dump->parsed()) return RunMemtableDump(memtable_file);
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
