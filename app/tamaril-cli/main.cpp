// tamaril-cli: the replication engine for scripts and scheduled transfers.
// Exit status: 0 success, 1 failure, 2 cancelled or refused by the person.

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "core/common_info.h"
#include "core/ini_file.h"
#include "core/login_cache.h"
#include "core/maindata.h"
#include "core/paths.h"
#include "core/repl_options.h"
#include "core/terminal_login.h"
#include "dataset/date_codec.h"
#include "dataset/errors.h"
#include "dataset/memory_table.h"
#include "dataset/memory_table_file.h"
#include "dbstruct/comparison_hook.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "expr/dataset_expression.h"
#include "expr/disassembler.h"
#include "expr/rule_lists.h"
#include "expr/tracking_columns.h"
#include "replication/archive_dump.h"
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

// Prints the header, the tables and with `rows` the rows of a transfer archive; what was read
// before a damage stays printed.
int RunArchiveDump(const std::string& file, bool rows) {
  replication::DumpArchive(file, rows, std::cout);
  return 0;
}

// Scans a database and prints its structure: tables master first, then the foreign keys.
int RunStructure(const std::string& connection_string, const std::string& database) {
  core::TerminalLoginPrompt prompt;
  core::LoginCache logins(prompt);
  dbaccess::Connection connection;
  logins.ConnectDatabase(connection, text::Utf8ToAnsi(connection_string), text::Utf8ToAnsi(database));
  if (connection.Kind() != dbaccess::BackendKind::SQLite) {
    throw CliError("Příkaz structure zatím umí jen databáze SQLite");
  }
  dbstruct::tSQLiteDatabase_Structure structure(&connection);
  structure.Scan();
  std::ostringstream listing;
  dbstruct::WriteStructureListing(structure, listing);
  std::cout << ToTerminal(listing.str());
  return 0;
}

// What the eval command was given.
struct EvalOptions {
  std::string list = "export";
  std::vector<std::string> fields;
  std::vector<std::string> imported;
  std::vector<std::string> deleted;
  std::optional<std::string> signature;
  std::optional<std::string> last_export;
  std::optional<std::string> last_import;
  std::optional<std::string> update_field;
  bool program = false;
  std::string rule;
};

// Reads the digits of `text` from `at` (exactly `width` of them) as a number.
bool ReadDigits(std::string_view text, std::size_t& at, std::size_t width, int& value) {
  if (at + width > text.size()) return false;
  const char* first = text.data() + at;
  const auto [end, error] = std::from_chars(first, first + width, value);
  if (error != std::errc() || end != first + width) return false;
  at += width;
  return true;
}

// "HH:MM:SS[.mmm]" from `at` to the end, as a fraction of a day.
std::optional<double> ParseTimeOfDay(std::string_view text, std::size_t at) {
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  if (!ReadDigits(text, at, 2, hour) || at >= text.size() || text[at++] != ':' || !ReadDigits(text, at, 2, minute) ||
      at >= text.size() || text[at++] != ':' || !ReadDigits(text, at, 2, second)) {
    return std::nullopt;
  }
  if (at < text.size() && (text[at++] != '.' || !ReadDigits(text, at, 3, millisecond))) return std::nullopt;
  if (at != text.size() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  return ((hour * 60 + minute) * 60 + second + millisecond / 1000.0) / 86400.0;
}

// "YYYY-MM-DD[THH:MM:SS[.mmm]]" as days since 30 December 1899.
double ParseDateTime(std::string_view text, const std::string& what) {
  std::size_t at = 0;
  int year = 0, month = 0, day = 0;
  const bool date_read = ReadDigits(text, at, 4, year) && at < text.size() && text[at++] == '-' &&
                         ReadDigits(text, at, 2, month) && at < text.size() && text[at++] == '-' &&
                         ReadDigits(text, at, 2, day);
  std::optional<double> time = 0.0;
  if (date_read && at < text.size()) time = text[at] == 'T' ? ParseTimeOfDay(text, at + 1) : std::nullopt;
  const std::int64_t day_number = dataset::DayNumberFromCivil(year, month, day);
  const dataset::CivilDate check = dataset::CivilFromDayNumber(day_number);
  if (!date_read || !time || month < 1 || month > 12 || check.month != month || check.day != day) {
    throw CliError(what + ": očekávám RRRR-MM-DD[THH:MM:SS[.mmm]], ne '" + std::string(text) + "'");
  }
  return static_cast<double>(day_number - dataset::kDayNumberOf30Dec1899) + *time;
}

// A value typed on the command line for a field of `type` (never empty: that is NULL).
dataset::Variant ParseFieldValue(dataset::FieldType type, const std::string& utf8, const std::string& what) {
  using dataset::FieldType;
  using dataset::Variant;
  switch (type) {
    case FieldType::String: case FieldType::FixedChar: case FieldType::WideString: case FieldType::Guid:
    case FieldType::Memo: case FieldType::FmtMemo:
      return Variant::String(text::Utf8ToAnsi(utf8));
    case FieldType::Smallint: case FieldType::Integer: case FieldType::Word: case FieldType::AutoInc:
    case FieldType::Largeint: {
      std::int64_t value = 0;
      const auto [end, error] = std::from_chars(utf8.data(), utf8.data() + utf8.size(), value);
      if (error != std::errc() || end != utf8.data() + utf8.size()) throw CliError(what + ": očekávám celé číslo");
      return Variant::Integer(value);
    }
    case FieldType::Float: case FieldType::Currency: case FieldType::BCD: {
      double value = 0;
      const auto [end, error] = std::from_chars(utf8.data(), utf8.data() + utf8.size(), value);
      if (error != std::errc() || end != utf8.data() + utf8.size() || !std::isfinite(value)) {
        throw CliError(what + ": očekávám číslo s desetinnou tečkou");
      }
      return type == FieldType::Currency ? Variant::Currency(value) : Variant::Double(value);
    }
    case FieldType::Boolean:
      if (utf8 != "true" && utf8 != "false") throw CliError(what + ": očekávám true nebo false");
      return Variant::Boolean(utf8 == "true");
    case FieldType::Date: case FieldType::DateTime:
      return Variant::DateTime(ParseDateTime(utf8, what));
    case FieldType::Time:
      if (const auto time = ParseTimeOfDay(utf8, 0)) return Variant::DateTime(*time);
      throw CliError(what + ": očekávám HH:MM:SS[.mmm]");
    default:
      throw CliError(what + ": pole typu " + std::string(dataset::FieldTypeName(type)) + " nemůže mít hodnotu");
  }
}

// Opens `table` with one row holding the fields of "NAME:TYPE=VALUE" items; a table without
// items stays closed.
void FillOneRowTable(dataset::TQVMMemoryTable& table, const std::vector<std::string>& items) {
  if (items.empty()) return;
  dataset::TFieldDefs defs;
  std::vector<std::optional<dataset::Variant>> values;
  for (const std::string& item : items) {
    const auto equals = item.find('=');
    const auto colon = item.rfind(':', equals);
    if (equals == std::string::npos || colon == std::string::npos || colon == 0) {
      throw CliError("Očekávám JMÉNO:TYP=HODNOTA, ne '" + item + "'");
    }
    const std::string type_name = item.substr(colon + 1, equals - colon - 1);
    const auto type = dataset::FindFieldTypeByEnumName("ft" + type_name);
    if (!type) throw CliError("Neznámý typ pole '" + type_name + "'");
    dataset::TFieldDef def;
    def.Name = text::Utf8ToAnsi(item.substr(0, colon));
    if (def.Name.find(';') != std::string::npos) throw CliError("Jméno pole nesmí obsahovat ';': " + item);
    def.DataType = *type;
    const std::string value = item.substr(equals + 1);
    values.push_back(value.empty() ? std::nullopt : std::optional(ParseFieldValue(*type, value, item)));
    if (*type == dataset::FieldType::String || *type == dataset::FieldType::FixedChar ||
        *type == dataset::FieldType::WideString) {
      def.Size = std::max<int>(1, static_cast<int>(values.back() ? values.back()->AsString().size() : 1));
    } else if (*type == dataset::FieldType::Guid) {
      def.Size = 38;
    }
    defs.push_back(std::move(def));
  }
  table.SetFieldLayout(dataset::BuildFieldLayout(defs));
  table.Open();
  table.Append();
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i]) table.Field(static_cast<int>(i)).SetAsVariant(*values[i]);
  }
  table.Post();
}

// The value as the one line eval prints; the compiled type decides the word.
std::string ResultLine(expr::TypeCode type, const expr::Value& value) {
  if (value.IsNull()) return "null";
  switch (type) {
    case expr::TypeCode::Number: {
      char buffer[64];
      const auto end = std::to_chars(buffer, buffer + sizeof buffer, value.raw_number()).ptr;
      return "number " + std::string(buffer, end);
    }
    case expr::TypeCode::String: {
      std::string quoted;
      for (const char c : ToTerminal(value.raw_text())) {
        quoted += c;
        if (c == '"') quoted += '"';
      }
      return "string \"" + quoted + '"';
    }
    case expr::TypeCode::Date:
      return "date " + dataset::IsoDateTimeText(dataset::DateTimeToTimeStamp(value.raw_number()));
    case expr::TypeCode::Boolean: return value.raw_number() != 0 ? "boolean true" : "boolean false";
    case expr::TypeCode::None: break;
  }
  return "null";
}

int RunEval(const EvalOptions& options) {
  static const std::map<std::string, expr::RuleKind> kinds = {
      {"export", expr::RuleKind::Export}, {"append", expr::RuleKind::Append}, {"update", expr::RuleKind::Update},
      {"updatefield", expr::RuleKind::UpdateField}, {"delete", expr::RuleKind::Delete}};
  const auto kind = kinds.find(options.list);
  if (kind == kinds.end()) throw CliError("Neznámý seznam '" + options.list + "' (export, append, update, updatefield, delete)");
  const bool two_rows = kind->second == expr::RuleKind::Update || kind->second == expr::RuleKind::UpdateField ||
                        kind->second == expr::RuleKind::Delete;
  const bool deleting = kind->second == expr::RuleKind::Delete;
  if (!options.imported.empty() && (!two_rows || deleting)) throw CliError("--imp patří k seznamům update a updatefield");
  if (!options.deleted.empty() && !deleting) throw CliError("--del patří k seznamu delete");

  expr::ReplicationValues& run = expr::RunValues();
  if (options.signature) run.signature = text::Utf8ToAnsi(*options.signature);
  if (options.last_export) run.last_export_date = ParseDateTime(*options.last_export, "--lastexport");
  if (options.last_import) run.last_import_date = ParseDateTime(*options.last_import, "--lastimport");
  if (options.update_field) run.update_field = text::Utf8ToAnsi(*options.update_field);

  dataset::TQVMMemoryTable row, prefixed_row;
  FillOneRowTable(row, options.fields);
  FillOneRowTable(prefixed_row, deleting ? options.deleted : options.imported);
  expr::FieldRegistry registry;
  expr::DefinitionList list = const_cast<expr::OperationDef*>(expr::RuleList(kind->second));
  std::unique_ptr<expr::TExpression> expression;
  if (two_rows) {
    const std::string prefix = deleting ? "@DEL_" : "@IMP_";
    expr::RegisterTwoDatasetFields(false, registry, prefix, list, "", "", row, prefixed_row);
    expression = std::make_unique<expr::tTwoDatasetExpression>(&prefixed_row, &row, prefix);
  } else {
    expr::RegisterDatasetFields(false, registry, list, "", row);
    expression = std::make_unique<expr::tDatasetExpression>(&row);
  }

  expr::TCompiledExpression& engine = expression->Engine();
  const int compile_code = engine.Compile(text::Utf8ToAnsi(options.rule), list);
  if (options.program) std::cout << ToTerminal(expr::Disassemble(engine));
  if (compile_code != 0) {
    std::string message = ToTerminal(expr::CompileErrorMessage(compile_code, engine.ErrorText()));
    for (char& c : message) {
      if (c == '\r') c = '\n';
    }
    std::cout << "error " << compile_code << ": " << message << '\n';
    return kFailure;
  }
  expr::Value value;
  expression->Prepare();
  if (const int code = expression->EvaluateWithCode(value); code != 0) {
    std::cout << "error " << code << ": " << expr::EvaluationErrorMessage(code) << '\n';
    return kFailure;
  }
  std::cout << ResultLine(expression->ResultType(), value) << '\n';
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

  auto* archive = app.add_subcommand("archive", "Přenosové archivy");
  archive->require_subcommand(1);
  std::string archive_file;
  bool archive_rows = false;
  auto* archive_dump = archive->add_subcommand("dump", "Vypíše hlavičku, tabulky a řádky přenosového archivu");
  archive_dump->add_option("FILE", archive_file, "Soubor")->required();
  archive_dump->add_flag("--rows", archive_rows, "Vypíše i řádky");

  auto* structure = app.add_subcommand("structure", "Načte strukturu databáze a vypíše tabulky a cizí klíče");
  std::string structure_connection;
  std::string structure_database;
  structure->add_option("--connection", structure_connection, "Připojovací řetězec")->required();
  structure->add_option("--database", structure_database, "Databáze")->required();

  auto* eval = app.add_subcommand("eval", "Přeloží a vyhodnotí pravidlo nad jedním řádkem zadaným na příkazové řádce");
  EvalOptions eval_options;
  eval->add_option("--list", eval_options.list, "Seznam definic: export, append, update, updatefield nebo delete");
  eval->add_option("--field", eval_options.fields, "JMÉNO:TYP=HODNOTA pole řádku (prázdná hodnota je NULL)");
  eval->add_option("--imp", eval_options.imported, "JMÉNO:TYP=HODNOTA pole importovaného řádku (@IMP_)");
  eval->add_option("--del", eval_options.deleted, "JMÉNO:TYP=HODNOTA pole smazaného řádku (@DEL_)");
  eval->add_option("--signature", eval_options.signature, "Hodnota @SIGNATURE");
  eval->add_option("--lastexport", eval_options.last_export, "Hodnota @LASTXPRT (RRRR-MM-DD[THH:MM:SS[.mmm]])");
  eval->add_option("--lastimport", eval_options.last_import, "Hodnota @LASTIMPRT (RRRR-MM-DD[THH:MM:SS[.mmm]])");
  eval->add_option("--updfld", eval_options.update_field, "Hodnota @UPDFLD");
  eval->add_flag("--program", eval_options.program, "Vypíše nejdřív přeložený program");
  eval->add_option("EXPR", eval_options.rule, "Pravidlo")->required();

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
    // The rule lists, and the tracking columns left out whenever rows are compared.
    expr::InitRuleLists();
    dbstruct::IgnoreFieldInComparison = expr::IsTrackingColumn;
    if (eval->parsed()) return RunEval(eval_options);
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
    if (archive_dump->parsed()) return RunArchiveDump(archive_file, archive_rows);
    if (structure->parsed()) return RunStructure(structure_connection, structure_database);
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
