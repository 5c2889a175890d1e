#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "core/input_check.h"
#include "core/login.h"
#include "core/maindata.h"
#include "tamaril-cli/cli.h"
#include "tamaril-cli/commands/commands.h"
#include "tamaril-cli/terminal.h"
#include "text/encoding.h"

namespace tamaril::cli {
namespace {

// What the defs commands were given.
struct DefinitionOptions {
  bool export_list = false;
  bool import_list = false;
  bool show_password = false;
  std::string signature;
  std::optional<std::string> partner;
  std::optional<std::string> connection;
  std::optional<std::string> database;
  std::optional<std::string> note;
};

bool ImportListChosen(const DefinitionOptions& options) {
  if (options.export_list == options.import_list)
    throw CliError::FromUtf8("Uveďte právě jedno z --export a --import");
  return options.import_list;
}

std::string PartnerField(const DefinitionOptions& options) {
  return options.import_list ? "ClientName" : "CenterName";
}

// Moves the list to the definition of the signature; an error when there is none.
void GoToDefinition(dataset::TQVMStoredMemoryDataSet& list, const std::string& signature) {
  const std::string key = core::CheckedAnsiInput("Signature", signature);
  if (!list.Locate("Signature", dataset::Variant::String(key))) {
    throw CliError::FromUtf8("Definice " + signature + " v seznamu není");
  }
}

// Writes a value typed on the command line into a text field of the row being edited,
// refusing what the field cannot hold rather than cutting or altering it.
void SetTextField(dataset::TQVMStoredMemoryDataSet& list, const std::string& name, const std::string& utf8,
                  bool through_text_handler) {
  dataset::TField& field = list.FieldByName(name);
  const bool memo = field.DataType() == dataset::FieldType::Memo;
  const std::string value =
      core::CheckedAnsiInput(name, utf8, memo ? core::TextLines::Multiple : core::TextLines::Single);
  if (!memo && static_cast<int>(value.size()) > field.Size) {
    throw CliError::FromUtf8("Hodnota pole " + name + " je delší než " + std::to_string(field.Size) +
                             " znaků");
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

ExitStatus RunDefs(Cli& cli, const std::string& action, const DefinitionOptions& options) {
  const bool import = ImportListChosen(options);
  core::TMaindata& data = cli.Maindata();
  auto& list = data.DefinitionList(import);
  const std::string partner = PartnerField(options);
  std::ostream& out = cli.Out();
  if (action == "list") {
    for (list.First(); !list.Eof(); list.Next()) {
      out << ToTerminal(list.FieldByName("Signature").AsString()) << '\t'
          << ToTerminal(list.FieldByName(partner).AsString()) << '\t'
          << ToTerminal(list.FieldByName("DatabaseName").AsString()) << '\n';
    }
    return ExitStatus::Success;
  }
  if (action == "show") {
    GoToDefinition(list, options.signature);
    for (const char* name : {"Signature", partner.c_str(), "ConnectionString", "DatabaseName", "Pozn"}) {
      std::string value = list.FieldByName(name).Text();
      if (std::string_view(name) == "ConnectionString" && !options.show_password) {
        value = core::MaskConnectionPassword(value);
      }
      out << name << '=' << ToTerminal(value) << '\n';
    }
    return ExitStatus::Success;
  }
  // A change reads the list again under its lock and writes it before the lock goes, so
  // that programs changing the same list at once lose nothing.
  const core::ListFileLock lock = data.LockList(import);
  if (action == "add") {
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
  return ExitStatus::Success;
}

}  // namespace

void AddDefsCommands(Cli& cli) {
  CLI::App& defs = cli.AddCommand("defs", "Seznamy definic exportů a importů (EXPORT.DAT, IMPORT.DAT)");
  defs.require_subcommand(1);
  auto options = std::make_shared<DefinitionOptions>();
  static const std::map<std::string, std::string> help = {
      {"list", "Vypíše definice: identifikace, partner, databáze"},
      {"show", "Vypíše všechna pole jedné definice (heslo připojovacího řetězce skryté)"},
      {"add", "Přidá definici"},
      {"edit", "Změní definici vybranou podle --signature"},
      {"remove", "Odstraní definici"}};
  for (const std::string name : {"list", "show", "add", "edit", "remove"}) {
    CLI::App& command = cli.AddCommand(name, help.at(name), &defs);
    command.add_flag("--export", options->export_list, "Seznam definic exportů");
    command.add_flag("--import", options->import_list, "Seznam definic importů");
    if (name != "list")
      command.add_option("--signature", options->signature, "Identifikace přenosu")->required();
    if (name == "show") command.add_flag("--show-password", options->show_password, "Vypíše i heslo");
    if (name == "add" || name == "edit") {
      const bool required = name == "add";
      command.add_option("--partner", options->partner, "Název centra (export) nebo klienta (import)")
          ->required(required);
      command.add_option("--connection", options->connection, "Připojovací řetězec")->required(required);
      command.add_option("--database", options->database, "Databáze")->required(required);
      command.add_option("--note", options->note, "Poznámka");
    }
    cli.SetAction(command, Need::CommonValues | Need::RuleLists | Need::Lists | Need::Settings,
                  [&cli, options, name] { return RunDefs(cli, name, *options); });
  }
}

}  // namespace tamaril::cli
