#include "tamaril-cli/demo_run.h"

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "core/login_cache.h"
#include "core/maindata.h"
#include "core/paths.h"
#include "core/repl_options.h"
#include "dataset/field.h"
#include "dbaccess/connection.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "dbstruct/structure_cache.h"
#include "replication/export_run.h"
#include "replication/import_report.h"
#include "replication/import_run.h"
#include "replication/run_host.h"
#include "replication/setup_script.h"
#include "tamaril-cli/cli_error.h"
#include "tamaril-cli/demo_data.h"
#include "tamaril-cli/terminal.h"
#include "tamaril-cli/terminal_run_host.h"
#include "text/encoding.h"

namespace tamaril::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSignature = "DEMO";
constexpr const char* kClient = "klient";
constexpr const char* kCenter = "centrum";

std::string Ansi(const std::string& utf8) { return text::Utf8ToAnsi(utf8); }

// The word as the shell reads it back: as it stands when it holds only safe characters, else in
// single quotes.
std::string ShellWord(const std::string& word) {
  const bool safe = !word.empty() && word.find_first_not_of(
                                         "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                         "0123456789/._-+=:,@%") == std::string::npos;
  if (safe) return word;
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

std::string PrepareDemoFolder(const std::string& given, std::ostream& out) {
  if (given.empty()) {
    std::string pattern = (fs::temp_directory_path() / "tamaril-demo-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
      throw CliError::FromUtf8("Dočasnou složku pro ukázku nelze vytvořit: " + pattern);
    out << "Ukázka se vytvoří v nové složce " << pattern << '\n';
    return pattern;
  }
  const fs::path dir = fs::absolute(given);
  std::error_code error;
  if (fs::exists(dir, error)) {
    if (!fs::is_directory(dir, error)) throw CliError::FromUtf8("Cesta " + given + " není složka");
    if (!fs::is_empty(dir, error) || error) {
      throw CliError::FromUtf8(
          "Složka " + given +
          " není prázdná; ukázka do ní nic nezapíše. Zadejte novou nebo prázdnou složku.");
    }
  } else if (!fs::create_directories(dir, error) || error) {
    throw CliError::FromUtf8("Složku " + given + " nelze vytvořit: " + error.message());
  }
  out << "Ukázka se vytvoří ve složce " << dir.string() << '\n';
  return dir.string();
}

namespace {

/// One of the two SQLite databases of the demo, each in its own folder.
struct DemoDatabase {
  std::string folder;  ///< UTF-8
  std::string name;

  std::string ConnectionString() const { return "Provider=SQLite;Data Source=" + folder; }

  // An open connection with the database as its default.
  std::unique_ptr<dbaccess::Connection> Open() const {
    auto connection = std::make_unique<dbaccess::Connection>();
    connection->SetConnectionString(ConnectionString());
    connection->Open();
    connection->SetDefaultDatabase(name);
    return connection;
  }

  // Creates the database with the sample schema and makes it ready for replication.
  void Create() const {
    fs::create_directories(folder);
    dbaccess::Connection connection;
    connection.SetConnectionString(ConnectionString());
    connection.Open();
    connection.CreateDatabase(name);
    connection.SetDefaultDatabase(name);
    connection.Execute(Ansi(demo::SchemaSql()));
    dbstruct::tSQLiteDatabase_Structure structure(&connection);
    structure.Scan();
    replication::ApplySQLiteSetupScript(connection, replication::SQLiteSetupStatements(structure, {}));
  }

  void Execute(const std::string& utf8) const { Open()->Execute(Ansi(utf8)); }

  // The rows of a query, columns joined by "|".
  std::vector<std::string> Rows(const std::string& sql) const {
    auto connection = Open();
    std::vector<std::string> rows;
    auto cursor = connection->Query(Ansi(sql));
    while (cursor->Next()) {
      std::string row;
      for (std::size_t i = 0; i < cursor->Columns().size(); ++i) {
        if (i > 0) row += "|";
        row += cursor->Get(i).IsNull() ? "NULL" : cursor->Get(i).AsString();
      }
      rows.push_back(row);
    }
    return rows;
  }
};

class Demo {
 public:
  Demo(const DemoServices& services, std::string dir)
      : services_(services),
        out_(services.out),
        dir_(std::move(dir)),
        client_{dir_ + "/klient", kClient},
        center_{dir_ + "/centrum", kCenter} {}

  void Run() {
    SetUpHome();
    out_ << Text("Klient: databáze ") << client_.folder << "/klient.db\n"
         << Text("Centrum: databáze ") << center_.folder << "/centrum.db\n";
    client_.Create();
    center_.Create();
    client_.Execute(demo::InitialDataSql());
    WriteRules();
    WriteLists();
    out_ << Text("Ukázka nedělá zálohy databází: nabídky zálohy i obnovy odmítá.\n");

    Round(1, "první data klienta (odběratelé, zboží, faktury s položkami)");
    ExpectImport(replication::tImportOutcome::Success);
    Verify(false);

    client_.Execute(demo::SecondRoundSql());
    Round(2,
          "klient změnil dva odběratele, tři ceny zboží a položku, smazal dvě položky a fakturu 29 s "
          "položkami");
    ExpectImport(replication::tImportOutcome::Success);
    Verify(false);

    center_.Execute(
        "UPDATE rep_DEFIMPORT SET AppendRule = 'KATEGORIE <> \"X\"' WHERE Signature = 'DEMO' AND TABLENAME = "
        "'ODBERATELE'");
    out_ << Text("Centrum nově nepřijímá odběratele kategorie X (pravidlo připojení KATEGORIE <> \"X\").\n");
    client_.Execute(demo::ThirdRoundSql());
    Round(3, "klient přidal odběratele kategorie X s fakturou 31 a změnil město odběratele 5");
    ExpectImport(replication::tImportOutcome::Conflicts);
    ShowConflicts();
    Verify(true);

    ShowNextCommands();
  }

 private:
  static std::string Text(const std::string& utf8) { return ToTerminal(Ansi(utf8)); }

  // The settings of the program in DIR: its own export and import folders and log file.
  void SetUpHome() {
    core::SetProgramFolder(dir_);
    core::LoadReplOptions();
    core::TReplOptions& options = core::ReplOptions();
    options.ExportFolder = Ansi(dir_ + "/EXPORTS");
    options.ImportFolder = Ansi(dir_ + "/IMPORTS");
    options.LogFilePath = Ansi(dir_ + "/tamaril.log");
    options.DoLog = true;
    fs::create_directories(dir_ + "/EXPORTS");
    fs::create_directories(dir_ + "/IMPORTS");
    fs::create_directories(dir_ + "/PREVZATE");
    core::SaveReplOptions();
  }

  // The export rules at the client and the import rules at the center, one row per table.
  void WriteRules() const {
    // The deleted rows travel as a table of their own, ahead of the data.
    std::string exports = "('DEMO', 'rep_DELETED', 'ANO', 0)";
    std::string imports = "('DEMO', 'rep_DELETED', 'ANO', 'ANO', 'ANO', 'ANO', 0)";
    int order = 1;
    for (const demo::DemoTable& table : demo::Tables()) {
      const std::string separator = ", ";
      const std::string position = std::to_string(order++);
      exports += separator + "('DEMO', '" + table.name + "', 'ANO', " + position + ")";
      imports += separator + "('DEMO', '" + table.name + "', 'ANO', 'ANO', 'ANO', 'ANO', " + position + ")";
    }
    client_.Execute("INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule, LISTORDER) VALUES " +
                    exports);
    center_.Execute(
        "INSERT INTO rep_DEFIMPORT (Signature, TABLENAME, AppendRule, UpdateRule, UpdateFieldRule, "
        "DeleteRule, "
        "LISTORDER) VALUES " +
        imports);
  }

  // EXPORT.DAT and IMPORT.DAT in DIR, one definition each.
  void WriteLists() {
    data_ = std::make_unique<core::TMaindata>(services_.prompt);
    auto add = [](dataset::TQVMStoredMemoryDataSet& list, const char* partner,
                  const std::string& partner_name, const DemoDatabase& database) {
      list.Append();
      list.FieldByName("Signature").SetAsString(kSignature);
      list.FieldByName(partner).SetAsString(Ansi(partner_name));
      list.FieldByName("ConnectionString")
          .SetAsString(core::TransformConnectionString(database.ConnectionString(), true));
      list.FieldByName("DatabaseName").SetAsString(database.name);
      list.Post();
    };
    add(data_->DefinitionList(false), "CenterName", "Centrum", client_);
    add(data_->DefinitionList(true), "ClientName", "Pobočka Brno", center_);
    data_->StoreLists();
  }

  // Exports the client, carries the archive into the import folder and imports it at the center.
  void Round(int number, const std::string& what) {
    out_ << '\n' << Text("== Kolo " + std::to_string(number) + ": " + what + " ==") << '\n';
    core::LoginCache logins(services_.prompt);
    dbaccess::Connection connection;
    dbaccess::Connection master;
    const replication::tDatabaseAccess access{logins, connection, master, services_.structures};
    // The demo makes no backups: the silent host declines every backup and restore offer.
    replication::tSilentRunHost host;

    replication::tExportResult exported;
    {
      replication::tExportRun run(access, core::ReplOptions(), host);
      exported = run.Run({kSignature, client_.ConnectionString(), client_.name, "Centrum"});
    }
    if (exported.Outcome != replication::tExportOutcome::Success) throw CliError(exported.Text);
    out_ << Text("Export č. ") << exported.ExportNo << ": " << ToTerminal(exported.Text) << '\n';
    for (const auto& [table, rows] : exported.Rows) out_ << "  " << ToTerminal(table) << ": " << rows << '\n';

    const fs::path carried = fs::path(dir_) / "IMPORTS" / ("DEMO-" + std::to_string(number) + ".ZR2");
    fs::copy_file(exported.ArchivePath, carried, fs::copy_options::overwrite_existing);
    out_ << Text("Archiv přenesen do ") << carried.string() << '\n';

    connection.Close();
    replication::tImportRun run(access, core::ReplOptions(), data_->DefinitionList(true), host,
                                {dir_ + "/PREVZATE", false});
    imported_ = run.Run();
    out_ << "Import: " << ToTerminal(imported_.Text) << '\n';
    out_ << "  " << ImportCountersText(imported_.Total) << '\n';
    // The round's report beside the log, as an import of the program leaves it; the demo goes
    // on without it.
    try {
      const std::string report = replication::WriteImportReportBesideLog(imported_, core::ReplOptions());
      out_ << Text("Přehled importu: ") << report << '\n';
    } catch (const std::exception& error) {
      out_ << Text("Upozornění: ") << ToTerminal(error.what()) << '\n';
    }
  }

  void ExpectImport(replication::tImportOutcome expected) const {
    if (imported_.Outcome == expected) return;
    throw CliError(Ansi("Ukázka selhala: import skončil jinak, než měl: ") + imported_.Text);
  }

  // The conflict groups of the last import, each with its rows.
  void ShowConflicts() const {
    out_ << Text("Konflikty:") << '\n';
    for (const auto& group : imported_.Conflicts->Groups()) {
      out_ << "  " << ToTerminal(group->message) << '\n';
      if (!group->rows) continue;
      dataset::TQVMMemoryTable& rows = *group->rows;
      for (rows.First(); !rows.Eof(); rows.Next()) {
        std::string line;
        for (const auto& field : rows.Fields()) {
          if (!line.empty()) line += ", ";
          line += field->Name + "=" + (field->IsNull() ? "NULL" : field->Text());
        }
        out_ << "    " << ToTerminal(line) << '\n';
      }
    }
  }

  // Compares each table of the center with the client's: equal, or after the refusal of
  // category "X" equal to what the center keeps of the client's rows. A difference fails the demo.
  void Verify(bool refused) const {
    std::string counts;
    for (const demo::DemoTable& table : demo::Tables()) {
      const std::string select = "SELECT " + table.columns + " FROM " + table.name;
      const std::vector<std::string> expected =
          client_.Rows(select + (refused ? " WHERE " + table.kept_by_center : "") + " ORDER BY ID");
      const std::vector<std::string> found = center_.Rows(select + " ORDER BY ID");
      if (found != expected) {
        throw CliError::FromUtf8("Ukázka selhala: tabulka " + table.name + " v centru má " +
                                 std::to_string(found.size()) + " řádků, čekáno " +
                                 std::to_string(expected.size()) + " shodných s klientem");
      }
      counts += (counts.empty() ? "" : ", ") + std::to_string(found.size()) + " " + table.plural;
    }
    if (refused) {
      const std::vector<std::string> customer = center_.Rows("SELECT count(*) FROM ODBERATELE WHERE ID = 13");
      if (customer != std::vector<std::string>{"0"} || imported_.Total.conflicts < 1)
        throw CliError::FromUtf8("Ukázka selhala: odmítnutý odběratel nebo jeho faktura je v centru");
    }
    out_ << Text("Ověřeno: centrum obsahuje " + counts +
                 (refused ? "; odmítnutý odběratel a jeho faktura chybí" : "") + ".")
         << '\n';
  }

  void ShowNextCommands() const {
    // This program's own path, so that the commands run without a PATH entry.
    const std::string program = core::ExecutablePath();
    const std::string home =
        ShellWord(program.empty() ? "tamaril-cli" : program) + " --home " + ShellWord(dir_);
    out_ << '\n'
         << Text("Ukázka skončila. Můžete pokračovat:") << '\n'
         << "  " << home << " settings\n"
         << "  " << home << " defs list --export\n"
         << "  " << home << " rules --import DEMO\n"
         << "  " << home << " history --import DEMO\n"
         << "  " << home << " export DEMO\n"
         << "  " << home << " archive dump " << ShellWord(dir_ + "/PREVZATE/DEMO-1.ZR2") << '\n'
         << "  sqlite3 " << ShellWord(center_.folder + "/centrum.db") << " 'SELECT * FROM FAKTURY'\n";
  }

  const DemoServices& services_;
  std::ostream& out_;
  std::string dir_;
  DemoDatabase client_;
  DemoDatabase center_;
  std::unique_ptr<core::TMaindata> data_;
  replication::tImportResult imported_;
};

}  // namespace

void RunDemo(const DemoServices& services, const std::string& dir) { Demo(services, dir).Run(); }

}  // namespace tamaril::cli
