#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "core/export_text.h"
#include "core/input_check.h"
#include "core/login.h"
#include "core/maindata.h"
#include "tamaril-cli/cli.h"
#include "tamaril-cli/commands/commands.h"
#include "tamaril-cli/definition_key_options.h"
#include "tamaril-cli/terminal.h"
#include "text/ascii.h"
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
  std::optional<std::string> text;     ///< "unicode" or "1250"
  std::optional<std::string> trust;    ///< the client's public key (import)
  std::optional<std::string> seal_to;  ///< the center's public key (export)
};

// The texts of an export's archive as --text gives them: true for Unicode, nothing when the
// option is absent.
std::optional<bool> TextUnicodeOption(const DefinitionOptions& options) {
  if (!options.text) return std::nullopt;
  if (options.import_list) {
    throw CliError::FromUtf8(
        "Volba --text patří jen k definici exportu: import pozná kódování textů podle archivu sám");
  }
  if (text::EqualsIgnoreCaseAscii(*options.text, "unicode")) return true;
  if (*options.text == "1250") return false;
  throw CliError::FromUtf8("Volba --text má hodnotu unicode nebo 1250, ne " + *options.text);
}

// How `defs show` names the texts of an export's archive: the value --text takes.
std::string TextFormText(bool unicode) { return unicode ? "unicode" : "1250"; }

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
    if (!import) {
      out << "Texty=" << TextFormText(core::ExportTextUnicode(list.FieldByName("Signature").AsString()))
          << '\n';
    }
    ShowDefinitionKey(out, import, list.FieldByName("Signature").AsString());
    return ExitStatus::Success;
  }
  const std::optional<bool> unicode = TextUnicodeOption(options);
  const DefinitionKeyOptions key = CheckDefinitionKeyOptions(import, options.trust, options.seal_to);
  // A change reads the list again under its lock and writes it before the lock goes, so
  // that programs changing the same list at once lose nothing.
  const core::ListFileLock lock = data.LockList(import);
  if (action == "add") {
    list.Append();
    FillDefinition(list, options);
    PostAndStore(list);
    // A new definition starts in Windows-1250 unless told otherwise, whatever a removed one of
    // the same Signature had.
    if (!import)
      core::SetExportTextUnicode(list.FieldByName("Signature").AsString(), unicode.value_or(false));
    StoreDefinitionKey(import, list.FieldByName("Signature").AsString(), key, true);
  } else if (action == "edit") {
    GoToDefinition(list, options.signature);
    list.Edit();
    FillDefinition(list, options);
    PostAndStore(list);
    if (unicode) core::SetExportTextUnicode(list.FieldByName("Signature").AsString(), *unicode);
    StoreDefinitionKey(import, list.FieldByName("Signature").AsString(), key, false);
  } else if (action == "remove") {
    GoToDefinition(list, options.signature);
    const std::string signature = list.FieldByName("Signature").AsString();
    list.Delete();
    list.Store();
    if (!import) core::SetExportTextUnicode(signature, false);
    StoreDefinitionKey(import, signature, {std::string()}, true);
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
      command.add_option("--text", options->text,
                         "Texty v archivu exportu: unicode (beze ztráty znaků, centrum s touto verzí) nebo "
                         "1250 (Windows-1250, čte každé centrum; výchozí)");
      command
          .add_option("--trust", options->trust,
                      "Import: veřejný klíč klienta; archiv bez jeho platného podpisu se odmítne (prázdná "
                      "hodnota klíč odebere)")
          ->option_text("KLÍČ");
      command
          .add_option("--seal-to", options->seal_to,
                      "Export: veřejný klíč centra; archiv se zašifruje tak, že ho otevře jen centrum "
                      "(prázdná hodnota šifrování vypne)")
          ->option_text("KLÍČ");
    }
    cli.SetAction(command, Need::CommonValues | Need::RuleLists | Need::Lists | Need::Settings,
                  [&cli, options, name] { return RunDefs(cli, name, *options); });
  }
}

}  // namespace tamaril::cli
