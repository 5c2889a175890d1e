#include "tamaril-cli/cli.h"

#include <filesystem>
#include <map>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include "core/common_info.h"
#include "core/paths.h"
#include "core/repl_options.h"
#include "replication/start_up.h"
#include "tamaril-cli/commands/commands.h"
#include "tamaril-cli/terminal.h"
#include "text/encoding.h"
#include "text/error.h"

namespace tamaril::cli {
namespace {

constexpr const char* kHelpFlagText = "Vypíše tuto nápovědu a skončí";

// The Czech words of the help's scaffolding and of the value placeholders, by the parser's
// English key. The positional arguments' names are placeholders too (FILE, SIGNATURE, …).
const std::map<std::string, std::string>& CzechLabels() {
  static const std::map<std::string, std::string> labels{{"Usage", "Použití"},
                                                         {"OPTIONS", "VOLBY"},
                                                         {"SUBCOMMAND", "PŘÍKAZ"},
                                                         {"SUBCOMMANDS", "PŘÍKAZY"},
                                                         {"Positionals", "Argumenty"},
                                                         {"REQUIRED", "POVINNÉ"},
                                                         {"Env", "Proměnná"},
                                                         {"Needs", "Vyžaduje"},
                                                         {"Excludes", "Vylučuje"},
                                                         {"TEXT", "HODNOTA"},
                                                         {"INT", "ČÍSLO"},
                                                         {"UINT", "ČÍSLO"},
                                                         {"FLOAT", "ČÍSLO"},
                                                         {"NUMBER", "ČÍSLO"},
                                                         {"BOOLEAN", "ANO/NE"},
                                                         {"FILE", "SOUBOR"},
                                                         {"DIR", "SLOŽKA"},
                                                         {"PATH", "CESTA"},
                                                         {"NONNEGATIVE", "NEZÁPORNÉ"},
                                                         {"POSITIVE", "KLADNÉ"},
                                                         {"SIGNATURE", "IDENTIFIKACE"},
                                                         {"EXPR", "VÝRAZ"}};
  return labels;
}

// The Czech word of a parser key, or the key itself.
std::string CzechLabel(const std::string& key) {
  const auto found = CzechLabels().find(key);
  return found == CzechLabels().end() ? key : found->second;
}

// A value placeholder as the parser names it ("TEXT", "INT:NONNEGATIVE", "TEXT:{ask,yes}") in
// Czech: the set of allowed values alone, otherwise each part translated.
std::string CzechTypeName(const std::string& type_name) {
  const auto colon = type_name.find(':');
  if (colon == std::string::npos) return CzechLabel(type_name);
  std::string check = type_name.substr(colon + 1);
  if (!check.empty() && check.front() == '{') return check;
  return CzechLabel(type_name.substr(0, colon)) + ":" + CzechLabel(check);
}

// The name of a positional argument as help and messages show it.
std::string PositionalName(const CLI::Option& option) { return CzechLabel(option.get_name(true, false)); }

std::string Join(const std::vector<std::string>& items) {
  std::string joined;
  for (const auto& item : items) joined += (joined.empty() ? "" : ", ") + item;
  return joined;
}

// The first word of `text` that looks like an option ("--home", "-h"), without a trailing "," or ":".
std::string OptionIn(const std::string& text) {
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    while (!word.empty() && (word.back() == ',' || word.back() == ':')) word.pop_back();
    if (word.size() > 1 && word[0] == '-') return word;
  }
  return {};
}

// The subcommand the parse reached: the root or the last chosen command under it.
const CLI::App& ReachedCommand(const CLI::App& app) {
  const CLI::App* reached = &app;
  for (;;) {
    const auto chosen = reached->get_subcommands();
    if (chosen.empty()) return *reached;
    reached = chosen.front();
  }
}

bool HasCommands(const CLI::App& app) {
  return !app.get_subcommands([](const CLI::App* command) { return !command->get_name().empty(); }).empty();
}

std::string KnownCommands(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    if (!command->get_name().empty()) names.push_back(command->get_name());
  }
  return Join(names);
}

bool IsOptionWord(const std::string& word) { return word.size() > 1 && word[0] == '-' && word != "--"; }

// What the parse left over, said in Czech: unknown options, an unknown command where the
// reached command expects one (its arguments are not named), extra arguments.
std::string LeftOverMessage(const CLI::App& app, bool command_missing) {
  const CLI::App& reached = ReachedCommand(app);
  const bool expects_command = HasCommands(reached);
  std::vector<std::string> options;
  std::vector<std::string> arguments;
  std::string unknown_command;
  for (const std::string& word : app.remaining(true)) {
    if (word == "--") continue;
    if (IsOptionWord(word)) {
      if (unknown_command.empty()) options.push_back(word);
    } else if (expects_command && unknown_command.empty()) {
      unknown_command = word;
    } else if (!expects_command) {
      arguments.push_back(word);
    }
  }
  std::vector<std::string> parts;
  if (!options.empty())
    parts.push_back((options.size() == 1 ? "Neznámá volba " : "Neznámé volby ") + Join(options));
  if (!unknown_command.empty()) {
    parts.push_back("Neznámý příkaz '" + unknown_command + "'; známé příkazy: " + KnownCommands(reached));
  } else if (command_missing && expects_command) {
    parts.push_back("Chybí příkaz; známé příkazy: " + KnownCommands(reached));
  }
  if (!arguments.empty()) {
    parts.push_back((arguments.size() == 1 ? "Nadbytečný argument " : "Nadbytečné argumenty ") +
                    Join(arguments));
  }
  if (parts.empty()) return command_missing ? "Chybí příkaz" : "Nadbytečné argumenty";
  std::string message;
  for (const std::string& part : parts) message += (message.empty() ? "" : "; ") + part;
  return message;
}

// The option of the reached command (or of a command above it) named `name`, or null.
const CLI::Option* FindOption(const CLI::App& app, const std::string& name) {
  for (const CLI::App* command = &ReachedCommand(app); command != nullptr; command = command->get_parent()) {
    for (const CLI::Option* option : command->get_options()) {
      if (option->check_name(name)) return option;
    }
  }
  return nullptr;
}

// "Chybná hodnota volby --backup 'maybe'; povolené hodnoty: ask, yes, no" from what the option holds.
std::string BadValueMessage(const CLI::App& app, const std::string& name) {
  const CLI::Option* option = FindOption(app, name);
  std::string message = "Chybná hodnota volby " + name;
  if (option == nullptr) return message;
  if (option->get_positional()) message = "Chybná hodnota argumentu " + PositionalName(*option);
  if (!option->results().empty()) message += " '" + option->results().back() + "'";
  const std::string type_name = option->get_type_name();
  const auto set = type_name.find(":{");
  if (set != std::string::npos && type_name.back() == '}') {
    std::string values = type_name.substr(set + 2, type_name.size() - set - 3);
    for (std::size_t at = values.find(','); at != std::string::npos; at = values.find(',', at + 2))
      values.replace(at, 1, ", ");
    message += "; povolené hodnoty: " + values;
  } else if (type_name.rfind("INT", 0) == 0 || type_name.rfind("UINT", 0) == 0) {
    message += type_name.find("NONNEGATIVE") != std::string::npos ? "; čeká se celé číslo 0 nebo větší"
                                                                  : "; čeká se celé číslo";
  }
  return message;
}

// Display columns of a UTF-8 text: one per character, not per byte.
std::size_t Columns(std::string_view utf8) {
  std::size_t columns = 0;
  for (const char c : utf8) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return columns;
}

// The help formatter in Czech: the scaffolding, the value placeholders and the positional
// arguments' names; it lines descriptions up by characters, since the Czech labels take more
// bytes than columns.
class CzechFormatter : public CLI::Formatter {
 public:
  CzechFormatter() {
    for (const auto& [key, text] : CzechLabels()) label(key, text);
  }

  std::string make_description(const CLI::App* app) const override {
    const std::string description = app->get_description();
    return description.empty() ? std::string() : description + "\n";
  }

  std::string make_option(const CLI::Option* option, bool is_positional) const override {
    return Line(make_option_name(option, is_positional) + make_option_opts(option), make_option_desc(option));
  }

  std::string make_option_name(const CLI::Option* option, bool is_positional) const override {
    return is_positional ? PositionalName(*option) : option->get_name(false, true);
  }

  // The value placeholder, "..." for a repeatable option, POVINNÉ, and the options it needs
  // or excludes; a positional argument's name says what it holds, so it gets no placeholder.
  std::string make_option_opts(const CLI::Option* option) const override {
    std::string opts;
    if (!option->get_option_text().empty()) {
      opts += " " + option->get_option_text();
    } else if (option->get_type_size() != 0) {
      if (!option->get_positional() && !option->get_type_name().empty())
        opts += " " + CzechTypeName(option->get_type_name());
      if (!option->get_default_str().empty()) opts += "=" + option->get_default_str();
      if (option->get_expected_max() == CLI::detail::expected_max_vector_size) opts += " ...";
      if (option->get_required()) opts += " " + get_label("REQUIRED");
    }
    if (!option->get_needs().empty()) {
      opts += " " + get_label("Needs") + ":";
      for (const CLI::Option* other : option->get_needs()) opts += " " + other->get_name();
    }
    if (!option->get_excludes().empty()) {
      opts += " " + get_label("Excludes") + ":";
      for (const CLI::Option* other : option->get_excludes()) opts += " " + other->get_name();
    }
    return opts;
  }

  std::string make_option_usage(const CLI::Option* option) const override {
    std::string usage = PositionalName(*option);
    if (option->get_expected_max() >= CLI::detail::expected_max_vector_size) usage += "...";
    return option->get_required() ? usage : "[" + usage + "]";
  }

  std::string make_subcommand(const CLI::App* command) const override {
    return Line(command->get_display_name(true), command->get_description());
  }

 private:
  std::string Line(const std::string& name, const std::string& description) const {
    const std::size_t width = get_column_width();
    std::string line = "  " + name;
    const std::size_t used = Columns(line);
    if (!description.empty()) {
      if (used >= width) {
        line += '\n' + std::string(width, ' ');
      } else {
        line += std::string(width - used, ' ');
      }
      for (const char c : description) {
        line += c;
        if (c == '\n') line += std::string(width, ' ');
      }
    }
    return line + '\n';
  }
};

}  // namespace

std::string VersionText() {
  return "tamaril-cli " + std::to_string(core::AppVersionMajor) + "." +
         std::to_string(core::AppVersionMinor) + "." + std::to_string(core::AppVersionRelease) + "." +
         std::to_string(core::AppVersionBuild);
}

std::string CzechParseMessage(const CLI::App& app, const CLI::Error& error) {
  // The parser's own texts are English: only the kind of error and the option names are taken
  // from them; the words left over come from the parser's record of them.
  const std::string text = error.what();
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) return LeftOverMessage(app, false);
  if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
    if (text.rfind("A subcommand", 0) == 0 || text.find(" subcommands") != std::string::npos)
      return LeftOverMessage(app, true);
    for (const CLI::Option* option : ReachedCommand(app).get_options()) {
      if (!option->get_required() || option->count() > 0) continue;
      return option->get_positional() ? "Chybí povinný argument " + PositionalName(*option)
                                      : "Chybí povinná volba " + option->get_name();
    }
    const std::string option = OptionIn(text);
    return option.empty() ? "Chybí povinná volba" : "Chybí povinná volba " + option;
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    const std::string option = OptionIn(text);
    return option.empty() ? "Chybný počet hodnot" : "Volba " + option + " očekává hodnotu";
  }
  if (dynamic_cast<const CLI::ConversionError*>(&error) != nullptr ||
      dynamic_cast<const CLI::ValidationError*>(&error) != nullptr) {
    const std::string option = OptionIn(text);
    return option.empty() ? "Chybná hodnota" : BadValueMessage(app, option);
  }
  if (dynamic_cast<const CLI::RequiresError*>(&error) != nullptr) {
    const auto at = text.find(" requires ");
    if (at != std::string::npos) return "Volba " + text.substr(0, at) + " vyžaduje " + text.substr(at + 10);
  }
  if (dynamic_cast<const CLI::ExcludesError*>(&error) != nullptr) {
    const auto at = text.find(" excludes ");
    if (at != std::string::npos)
      return "Volbu " + text.substr(0, at) + " nelze spojit s " + text.substr(at + 10);
  }
  const CLI::App& reached = ReachedCommand(app);
  std::string command = reached.get_name();
  for (const CLI::App* parent = reached.get_parent(); parent != nullptr; parent = parent->get_parent())
    command = parent->get_name() + (command.empty() ? "" : " " + command);
  return "Chybný příkazový řádek; nápovědu vypíše " + command + " --help";
}

Cli::Cli(std::ostream& out, std::ostream& err)
    : out_(out),
      err_(err),
      app_("Tamaril – replikace databází mezi místy bez trvalého spojení", "tamaril-cli"),
      prompt_(std::make_unique<TerminalLoginPrompt>()) {
  app_.formatter(std::make_shared<CzechFormatter>());
  app_.option_defaults()->group("Volby");
  app_.group("Příkazy");
  app_.set_help_flag("-h,--help", kHelpFlagText);
  app_.set_version_flag("--version", VersionText(), "Vypíše název a verzi programu a skončí");
  app_.add_option("--home", home_,
                  "Složka programu (tamaril.ini, EXPORT.DAT, IMPORT.DAT, výchozí složky EXPORTS a IMPORTS "
                  "a log kelmlog.txt); musí existovat");
  app_.add_option("--common", common_, "Soubor společných hodnot (jinak /etc/ZRT/common.ini)");
  app_.require_subcommand(1);
  app_.fallthrough();

  AddSettingsCommands(*this);
  AddDefsCommands(*this);
  AddMemtableCommands(*this);
  AddArchiveCommands(*this);
  AddStructureCommands(*this);
  AddCheckCommands(*this);
  AddSetupScriptCommands(*this);
  AddEvalCommands(*this);
  AddRulesCommands(*this);
  AddHistoryCommands(*this);
  AddFunctionsCommands(*this);
  AddExportCommands(*this);
  AddImportCommands(*this);
  AddLogCommands(*this);
  AddStatusCommands(*this);
  AddKeysCommands(*this);
  AddDemoCommands(*this);
}

Cli::~Cli() {
  // The cached structures go before the connections of the lists they may have used.
  if (structure_cache_) structure_cache_->Clear();
}

CLI::App& Cli::AddCommand(const std::string& name, const std::string& description, CLI::App* parent) {
  CLI::App* command = (parent != nullptr ? parent : &app_)->add_subcommand(name, description);
  // A subcommand copies the help flag before it copies the option group: make it again.
  command->set_help_flag("-h,--help", kHelpFlagText);
  return *command;
}

void Cli::SetAction(CLI::App& command, Need needs, std::function<ExitStatus()> action) {
  actions_.push_back({&command, needs, std::move(action)});
}

core::TMaindata& Cli::Maindata() {
  if (!maindata_) throw std::logic_error("the command did not ask for the definition lists");
  return *maindata_;
}

dbstruct::tDBStructureCache& Cli::StructureCache() {
  if (!structure_cache_) throw std::logic_error("the command did not ask for the structure cache");
  return *structure_cache_;
}

int Cli::Run(int argc, const char* const* argv) {
  try {
    return Execute(argc, argv);
  } catch (const EAbort&) {
    return static_cast<int>(ExitStatus::Cancelled);
  } catch (const CliError& e) {
    err_ << "tamaril-cli: " << e.TerminalText() << '\n';
  } catch (const Error& e) {
    err_ << "tamaril-cli: " << ToTerminal(e.what()) << '\n';
  } catch (const std::exception& e) {
    err_ << "tamaril-cli: vnitřní chyba: " << ToTerminal(e.what()) << '\n';
  } catch (...) {
    err_ << "tamaril-cli: vnitřní chyba\n";
  }
  return static_cast<int>(ExitStatus::Failure);
}

int Cli::Execute(int argc, const char* const* argv) {
  try {
    app_.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return ParseFailure(e);
  }
  const Action* chosen = nullptr;
  for (const Action& action : actions_) {
    if (action.command->parsed()) chosen = &action;
  }
  if (chosen == nullptr) throw CliError::FromUtf8("Chybí příkaz; známé příkazy: " + KnownCommands(app_));

  if (!home_.empty()) {
    std::error_code error;
    if (!std::filesystem::is_directory(home_, error)) {
      const bool exists = std::filesystem::exists(home_, error);
      throw CliError::FromUtf8("Složka programu " + home_ + (exists ? " není složka" : " neexistuje"));
    }
    core::SetProgramFolder(home_);
  }
  if (!common_.empty()) {
    if (!std::filesystem::is_regular_file(common_)) {
      throw CliError::FromUtf8("Soubor společných hodnot " + common_ + " neexistuje");
    }
    core::SetCommonInfoFileName(common_);
  }
  StartUp(chosen->needs);
  return static_cast<int>(chosen->run());
}

void Cli::StartUp(Need needs) {
  if (Has(needs, Need::StructureCache) && !structure_cache_) {
    structure_cache_ = std::make_unique<dbstruct::tDBStructureCache>();
  }
  if (Has(needs, Need::CommonValues)) core::ReadCommonInfo();
  if (Has(needs, Need::RuleLists)) {
    replication::InitRuleLanguage();
  }
  if (Has(needs, Need::Lists) && !maindata_) maindata_ = std::make_unique<core::TMaindata>(*prompt_);
  if (Has(needs, Need::Settings)) core::InitializeReplOptions();
}

int Cli::ParseFailure(const CLI::ParseError& error) {
  if (dynamic_cast<const CLI::Success*>(&error) != nullptr) {
    app_.exit(error, out_, err_);  // help and version
    return static_cast<int>(ExitStatus::Success);
  }
  err_ << "tamaril-cli: " << CzechParseMessage(app_, error) << '\n';
  return static_cast<int>(ExitStatus::Failure);
}

}  // namespace tamaril::cli
