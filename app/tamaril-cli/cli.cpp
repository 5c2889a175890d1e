#include "tamaril-cli/cli.h"

#include <filesystem>
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

// The words of a parse error's text after its first ": ", split at blanks.
std::vector<std::string> WordsAfterColon(const std::string& text) {
  std::vector<std::string> words;
  const auto colon = text.find(": ");
  std::istringstream rest(colon == std::string::npos ? std::string() : text.substr(colon + 2));
  for (std::string word; rest >> word;) words.push_back(word);
  return words;
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

std::string Join(const std::vector<std::string>& items) {
  std::string joined;
  for (const auto& item : items) joined += (joined.empty() ? "" : ", ") + item;
  return joined;
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

std::string KnownCommands(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    if (!command->get_name().empty()) names.push_back(command->get_name());
  }
  return Join(names);
}

// Display columns of a UTF-8 text: one per character, not per byte.
std::size_t Columns(std::string_view utf8) {
  std::size_t columns = 0;
  for (const char c : utf8) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return columns;
}

// The help formatter with Czech labels that lines descriptions up by characters, since the
// Czech labels take more bytes than columns.
class CzechFormatter : public CLI::Formatter {
 public:
  CzechFormatter() {
    for (const auto& [key, text] :
         std::initializer_list<std::pair<const char*, const char*>>{{"Usage", "Použití"},
                                                                    {"OPTIONS", "VOLBY"},
                                                                    {"SUBCOMMAND", "PŘÍKAZ"},
                                                                    {"SUBCOMMANDS", "PŘÍKAZY"},
                                                                    {"Positionals", "Argumenty"},
                                                                    {"REQUIRED", "POVINNÉ"},
                                                                    {"Env", "Proměnná"},
                                                                    {"Needs", "Vyžaduje"},
                                                                    {"Excludes", "Vylučuje"}}) {
      label(key, text);
    }
  }

  std::string make_option(const CLI::Option* option, bool is_positional) const override {
    return Line(make_option_name(option, is_positional) + make_option_opts(option), make_option_desc(option));
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
  const std::string text = error.what();
  const CLI::App& reached = ReachedCommand(app);
  const bool has_commands = !reached.get_subcommands([](const CLI::App*) { return true; }).empty();
  const bool missing_command =
      dynamic_cast<const CLI::RequiredError*>(&error) != nullptr && text.rfind("A subcommand", 0) == 0;
  if (has_commands && (missing_command || dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr)) {
    // With fallthrough an unknown word goes up to the root: look at everything left over.
    const std::vector<std::string> left = app.remaining(true);
    if (!left.empty() && !left.front().empty() && left.front()[0] != '-') {
      return "Neznámý příkaz '" + left.front() + "'; známé příkazy: " + KnownCommands(reached);
    }
    if (missing_command) return "Chybí příkaz; známé příkazy: " + KnownCommands(reached);
  }
  if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
    const auto end = text.find(" is required");
    if (end != std::string::npos) {
      const std::string name = text.substr(0, end);
      return (name.rfind('-', 0) == 0 ? "Chybí povinná volba " : "Chybí povinný argument ") + name;
    }
    return "Chybí povinný údaj (" + text + ")";
  }
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
    std::vector<std::string> options;
    std::vector<std::string> arguments;
    for (const std::string& word : WordsAfterColon(text))
      (word.rfind('-', 0) == 0 ? options : arguments).push_back(word);
    std::string message;
    if (!options.empty())
      message = (options.size() == 1 ? "Neznámá volba " : "Neznámé volby ") + Join(options);
    if (!arguments.empty()) {
      message += (message.empty() ? "" : "; ") +
                 std::string(arguments.size() == 1 ? "Nadbytečný argument " : "Nadbytečné argumenty ") +
                 Join(arguments);
    }
    return message.empty() ? "Nadbytečné argumenty" : message;
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    const std::string option = OptionIn(text);
    return option.empty() ? "Chybný počet hodnot (" + text + ")" : "Volba " + option + " očekává hodnotu";
  }
  if (dynamic_cast<const CLI::ConversionError*>(&error) != nullptr ||
      dynamic_cast<const CLI::ValidationError*>(&error) != nullptr) {
    const std::string option = OptionIn(text);
    return option.empty() ? "Chybná hodnota (" + text + ")" : "Chybná hodnota volby " + option;
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
  return "Chybný příkazový řádek (" + text + ")";
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
  app_.add_option("--home", home_, "Složka programu (tamaril.ini, EXPORT.DAT, IMPORT.DAT); musí existovat");
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
