// Import runs end to end on SQLite: a client database exports its archives, a ready center
// imports them from its import folder.

#include "replication/import_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "core/definition_keys.h"
#include "core/login_cache.h"
#include "core/maindata.h"
#include "core/paths.h"
#include "core/repl_options.h"
#include "dataset/memory_table.h"
#include "dbaccess/connection.h"
#include "dbstruct/comparison_hook.h"
#include "dbstruct/mssql/database_structure.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "dbstruct/structure_cache.h"
#include "expr/tracking_columns.h"
#include "mssql_scripted_backend.h"
#include "recording_host.h"
#include "replication/archive.h"
#include "replication/archive_protection.h"
#include "replication/errors.h"
#include "replication/export_run.h"
#include "replication/setup_script.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

namespace fs = std::filesystem;
using dataset::FieldType;
using dbaccess::Value;
using Lines = std::vector<std::string>;

constexpr const char* kSchema =
    "CREATE TABLE Customers (Id INTEGER PRIMARY KEY, Name VARCHAR(40));"
    "CREATE TABLE Orders (Id INTEGER PRIMARY KEY, CustomerId INTEGER REFERENCES Customers(Id), Amount "
    "INTEGER);"
    "CREATE TABLE Invoices (Id INTEGER IDENTITY(1,1) PRIMARY KEY, RG UNIQUEIDENTIFIER ROWGUIDCOL NOT NULL, "
    "Number VARCHAR(12));"
    "CREATE TABLE InvoiceLines (Id INTEGER PRIMARY KEY, InvoiceId INTEGER NOT NULL REFERENCES Invoices(Id), "
    "Qty INTEGER);";

std::string Ansi(const std::string& utf8) { return text::Utf8ToAnsi(utf8); }

struct NoLogin : core::LoginPrompt {
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override { return false; }
};

// One text per row of a query, columns joined by "|".
Lines Rows(dbaccess::Connection& connection, const std::string& sql) {
  Lines rows;
  auto cursor = connection.Query(sql);
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

// A database in its own folder, made ready by the setup script.
struct ReadyDatabase {
  explicit ReadyDatabase(const std::string& name) : name(name) {
    connection.SetConnectionString(ConnectionString());
    connection.Open();
    connection.CreateDatabase(name);
    connection.SetDefaultDatabase(name);
    connection.Execute(kSchema);
    dbstruct::tSQLiteDatabase_Structure structure(&connection);
    structure.Scan();
    ApplySQLiteSetupScript(connection, SQLiteSetupStatements(structure, {}));
  }
  std::string ConnectionString() const { return "Provider=SQLite;Data Source=" + folder.path(); }

  testing::TempDir folder;
  std::string name;
  dbaccess::Connection connection;
};

class ImportRunTest : public ::testing::Test {
 protected:
  void TearDown() override { dbstruct::IgnoreFieldInComparison = nullptr; }
  void SetUp() override {
    // The program compares rows without their tracking columns, as its start-up arranges.
    dbstruct::IgnoreFieldInComparison = expr::IsTrackingColumn;
    client_.connection.Execute(
        "INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule, LISTORDER) VALUES "
        "('CLI', 'Customers', 'ANO', 1), ('CLI', 'Orders', 'ANO', 2), ('OTHER', 'Customers', 'ANO', 1);"
        "INSERT INTO Customers (Id, Name) VALUES (1, 'Alfa'), (2, 'Beta');"
        "INSERT INTO Orders (Id, CustomerId, Amount) VALUES (10, 1, 5);");
    center_.connection.Execute(
        "INSERT INTO rep_DEFIMPORT (Signature, TABLENAME, AppendRule, LISTORDER) VALUES "
        "('CLI', 'Customers', 'ANO', 1), ('CLI', 'Orders', 'ANO', 2)");
    export_options_.ExportFolder = Ansi(exports_.path());
    options_.ImportFolder = Ansi(imports_.path());
    options_.DoLog = true;
    options_.LogFilePath = Ansi(logs_.File("import.log"));
    list_.SetFieldLayout(std::string(core::TMaindata::kImportLayout));
    list_.Open();
    AddDefinition("CLI");
  }

  void AddDefinition(const std::string& signature) {
    list_.Append();
    list_.FieldByName("Signature").SetAsString(signature);
    list_.FieldByName("ClientName").SetAsString(Ansi("Pobočka"));
    list_.FieldByName("ConnectionString")
        .SetAsString(core::TransformConnectionString(center_.ConnectionString(), true));
    list_.FieldByName("DatabaseName").SetAsString("center");
    list_.Post();
  }

  // Exports the client's definition and puts the archive into the import folder as `name`.
  void ExportAs(const std::string& name, const std::string& signature = "CLI") {
    tExportDefinition definition{signature, client_.ConnectionString(), "shop", "Centrum"};
    tExportRun run(client_access_, export_options_, export_host_);
    const tExportResult result = run.Run(definition);
    ASSERT_EQ(result.Outcome, tExportOutcome::Success) << result.Text;
    fs::copy_file(result.ArchivePath, imports_.File(name), fs::copy_options::overwrite_existing);
  }

  // Gives the archive `name` of the import folder the export number `export_no`.
  void Renumber(const std::string& name, int export_no) {
    const std::string path = imports_.File(name);
    std::string content;
    tArchiveHeader header;
    {
      tArchiveReader reader(path);
      header = reader.Header();
      std::string buffer(4096, '\0');
      for (std::size_t n = 0; (n = reader.Stream().Read(buffer.data(), buffer.size())) > 0;)
        content.append(buffer, 0, n);
    }
    header.ExportNo = export_no;
    tArchiveWriter writer(path, header);
    writer.Stream().WriteBytes(content);
    writer.Commit();
  }

  tImportResult Import(tImportRunOptions run_options = {}) {
    center_.connection.Close();
    tImportRun run(access_, options_, list_, host_, std::move(run_options));
    tImportResult result = run.Run();
    center_.connection.Open();
    center_.connection.SetDefaultDatabase("center");
    return result;
  }

  Lines Center(const std::string& sql) { return Rows(center_.connection, sql); }

  // Everything the center holds that an import may change.
  Lines CenterContent() {
    Lines content = Center("SELECT * FROM Customers ORDER BY Id");
    for (const char* table :
         {"Orders", "rep_IMPORTLOG", "rep_IMPORTLOGDETAIL", "rep_DEFIMPORT", "rep_DELETED"}) {
      const Lines rows = Center(std::string("SELECT * FROM ") + table + " ORDER BY 1, 2");
      content.push_back(table);
      content.insert(content.end(), rows.begin(), rows.end());
    }
    return content;
  }

  // The messages of the log file (UTF-8), without their times.
  Lines LogMessages() const {
    Lines lines;
    std::string text = testing::ReadWholeFile(logs_.File("import.log"));
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = text.find("\r\n", start);
      const std::string line = text.substr(start, end - start);
      const std::size_t mark = line.find(" :");
      lines.push_back(text::AnsiToUtf8(line.substr(mark + 2)));
      if (end == std::string::npos) break;
      start = end + 2;
    }
    return lines;
  }

  // The log messages between the last opening and the closing of archive `name`.
  Lines ArchiveLines(const std::string& name) const {
    const Lines all = LogMessages();
    const auto last = std::find(all.rbegin(), all.rend(), "Otvírám archiv " + name);
    const auto open = last == all.rend() ? all.end() : std::prev(last.base());
    const auto close = std::find(open, all.end(), "Zavírám archiv " + name);
    if (open == all.end() || close == all.end()) return {"missing"};
    return Lines(open + 1, close);
  }

  ReadyDatabase client_{"shop"};
  ReadyDatabase center_{"center"};
  testing::TempDir exports_;
  testing::TempDir imports_;
  testing::TempDir logs_;
  core::TReplOptions export_options_;
  core::TReplOptions options_;
  dataset::TQVMMemoryTable list_;
  testing::RecordingHost export_host_;
  testing::RecordingHost host_;
  NoLogin prompt_;
  core::LoginCache logins_{prompt_};
  dbaccess::Connection client_main_;
  dbaccess::Connection main_;
  dbaccess::Connection master_;
  dbstruct::tDBStructureCache client_cache_;
  dbstruct::tDBStructureCache cache_;
  tDatabaseAccess client_access_{logins_, client_main_, master_, client_cache_};
  tDatabaseAccess access_{logins_, main_, master_, cache_};
};

std::string Success() { return Ansi("Import úspěšně dokončen"); }

TEST_F(ImportRunTest, NumbersImportsPerSignatureAndJudgesKnownRowsTheSecondTime) {
  ExportAs("A.ZR2");
  const tImportResult first = Import();
  ASSERT_EQ(first.Outcome, tImportOutcome::Success) << first.Text;
  EXPECT_EQ(first.Text, Success());
  ASSERT_EQ(first.Archives.size(), 1U);
  EXPECT_EQ(first.Archives[0].State, tArchiveState::Imported);
  EXPECT_EQ(first.Archives[0].ImportNo, 1);
  EXPECT_EQ(first.Total.appended, 3);
  EXPECT_EQ(first.Total.processed, 3);
  EXPECT_EQ(Center("SELECT Id, Name, rep_Signature_Inserted FROM Customers ORDER BY Id"),
            (Lines{"1|Alfa|CLI", "2|Beta|CLI"}));
  EXPECT_EQ(
      Center("SELECT count(*) FROM Customers c JOIN rep_IMPORTLOG l ON c.rep_Date_Inserted IS NOT NULL"),
      (Lines{"2"}));
  EXPECT_EQ(Center("SELECT TABLENAME, COUNT_APPENDED, COUNT_UPDATED, COUNT_DELETED FROM rep_IMPORTLOGDETAIL "
                   "ORDER BY TABLENAME"),
            (Lines{"Customers|2|0|0", "Orders|1|0|0"}));
  EXPECT_EQ(Center("SELECT count(*) FROM rep_DEFIMPORT d JOIN rep_IMPORTLOG l ON l.Signature = d.Signature "
                   "WHERE d.LastImportDate = l.IMPORTDATE"),
            (Lines{"2"}));

  ExportAs("B.ZR2");
  fs::remove(imports_.File("A.ZR2"));
  const tImportResult second = Import();
  ASSERT_EQ(second.Outcome, tImportOutcome::Success) << second.Text;
  EXPECT_EQ(second.Archives[0].ImportNo, 2);
  EXPECT_EQ(second.Total.duplicates, 3);
  EXPECT_EQ(second.Total.ignored, 0);
  EXPECT_EQ(second.Total.appended + second.Total.updated, 0);
  EXPECT_EQ(Center("SELECT Signature, IMPORTNO, CLIENTEXPORTNO FROM rep_IMPORTLOG ORDER BY IMPORTNO"),
            (Lines{"CLI|1|1", "CLI|2|2"}));
  EXPECT_EQ(host_.messages, (Lines{Success(), Success()}));

  const Lines lines = ArchiveLines("B.ZR2");
  ASSERT_GE(lines.size(), 9U);
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + 5),
            (Lines{"Identifikace přenosu je CLI", "Identifikace přenosu OK", "Klient               : Pobočka",
                   "Cílová databáze      : center", "# přenosu u klienta  : 2"}));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "# přenosu v centru : 2"), lines.end());
  EXPECT_EQ(lines.back(), "Import dokončen");
}

// An empty import folder is no failure, but the run does not claim to have imported anything.
TEST_F(ImportRunTest, EmptyFolderSucceedsAndSaysSo) {
  const tImportResult result = Import();
  EXPECT_EQ(result.Outcome, tImportOutcome::Success);
  EXPECT_EQ(text::AnsiToUtf8(result.Text),
            "Nebylo co importovat: ve složce " + imports_.path() + " není žádný archiv (*.ZR2)");
  EXPECT_EQ(host_.messages, (Lines{result.Text}));
  EXPECT_EQ(LogMessages(), (Lines{"Startuji import", "Nalezeno 0 .ZR2 archivů"}));
}

// A damaged file, an archive without a valid export number and an unknown Signature are errors of
// their own: the run goes on with the others and ends with a failure naming each.
TEST_F(ImportRunTest, RefusesDamagedArchivesAndUnknownSignaturesAndImportsTheRest) {
  testing::WriteWholeFile(imports_.File("A.ZR2"), "not an archive at all");
  ExportAs("B.ZR2", "OTHER");
  fs::create_directory(imports_.File("C.ZR2"));
  ExportAs("D.zr2");
  ExportAs("E.ZR2");
  Renumber("E.ZR2", 0);
  const tImportResult result = Import();
  EXPECT_EQ(result.Outcome, tImportOutcome::Failed) << result.Text;
  EXPECT_EQ(text::AnsiToUtf8(result.Text), "Import dokončen s chybami: neimportováno 3 z 4 archivů");
  const std::string damaged =
      "Soubor nelze přečíst jako přenosový archiv: Chyba dekomprese: chybná hlavička komprimovaných dat";
  ASSERT_EQ(result.Archives.size(), 4U);
  EXPECT_EQ(result.Archives[0].State, tArchiveState::Damaged);
  EXPECT_EQ(result.Archives[1].State, tArchiveState::UnknownClient);
  // E's number goes before D's: E takes D's place, whatever the names say.
  EXPECT_EQ(result.Archives[2].State, tArchiveState::Damaged);
  EXPECT_EQ(result.Archives[3].State, tArchiveState::Imported);
  EXPECT_EQ(ArchiveLines("A.ZR2"), (Lines{"Archiv odmítnut: " + damaged}));
  EXPECT_EQ(ArchiveLines("B.ZR2"),
            (Lines{"Identifikace přenosu je OTHER", "Identifikace přenosu nenalezena"}));
  EXPECT_EQ(ArchiveLines("E.ZR2"),
            (Lines{"Identifikace přenosu je CLI",
                   "Archiv odmítnut: Archiv je poškozený, číslo přenosu 0 není platné"}));
  EXPECT_EQ(LogMessages()[1], "Nalezeno 4 .ZR2 archivů");
  EXPECT_EQ(Center("SELECT count(*) FROM Customers"), (Lines{"2"}));
  const std::string summary =
      "A.ZR2: odmítnut: " + damaged +
      "\r\nB.ZR2: odmítnut: Identifikace přenosu OTHER není v seznamu definic importu\r\n"
      "E.ZR2: odmítnut: Archiv je poškozený, číslo přenosu 0 není platné\r\n"
      "D.zr2: importován (import č. 1)";
  EXPECT_EQ(text::AnsiToUtf8(ImportSummary(result)), summary);
  ASSERT_EQ(host_.messages.size(), 1U);
  EXPECT_EQ(text::AnsiToUtf8(host_.messages[0]), text::AnsiToUtf8(result.Text) + "\r\n\r\n" + summary);
  // The log ends with the outcome and every archive that did not go in.
  const Lines log = LogMessages();
  EXPECT_EQ(Lines(log.end() - 4, log.end()),
            (Lines{text::AnsiToUtf8(result.Text), "A.ZR2: odmítnut: " + damaged,
                   "B.ZR2: odmítnut: Identifikace přenosu OTHER není v seznamu definic importu",
                   "E.ZR2: odmítnut: Archiv je poškozený, číslo přenosu 0 není platné"}));
}

TEST_F(ImportRunTest, FailedOrCancelledArchiveLeavesTheCenterAsItWas) {
  center_.connection.Execute("INSERT INTO Customers (Id, Name) VALUES (7, 'Centrum')");
  const Lines before = CenterContent();

  // Cut in the middle of its rows: an error of the archive, never a success.
  ExportAs("A.ZR2");
  const std::string whole = testing::ReadWholeFile(imports_.File("A.ZR2"));
  testing::WriteWholeFile(imports_.File("A.ZR2"), whole.substr(0, whole.size() - 12));
  const tImportResult cut = Import();
  EXPECT_EQ(cut.Outcome, tImportOutcome::Failed) << cut.Text;
  EXPECT_EQ(cut.Archives.at(0).State, tArchiveState::Failed);
  EXPECT_FALSE(cut.Archives.at(0).RollbackUnconfirmed);
  EXPECT_EQ(cut.Archives.at(0).ImportNo, 0);
  EXPECT_EQ(text::AnsiToUtf8(ArchiveOutcomeText(cut.Archives.at(0))),
            "neproveden, databáze ponechána beze změny: Tabulka Orders, řádek 1: Unexpected end of stream");
  EXPECT_EQ(CenterContent(), before);

  // A statement of the log rows failing after every row was merged.
  ExportAs("A.ZR2");
  center_.connection.Execute(
      "CREATE TRIGGER Block BEFORE INSERT ON rep_IMPORTLOGDETAIL BEGIN SELECT RAISE(ABORT, 'blocked'); END");
  const tImportResult failed = Import();
  EXPECT_EQ(failed.Outcome, tImportOutcome::Failed) << failed.Text;
  EXPECT_EQ(failed.Archives.at(0).Reason, "blocked");
  EXPECT_EQ(failed.Archives.at(0).Counters.appended, 0);
  const Lines lines = ArchiveLines("A.ZR2");
  EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
            (Lines{"Výjimka: blocked", "Import vrácen, databáze ponechána beze změny"}));
  center_.connection.Execute("DROP TRIGGER Block");
  EXPECT_EQ(CenterContent(), before);

  // Cancelled at the first row and confirmed.
  host_.on_events = [this] { host_.RequestCancel(); };
  host_.confirm_answers = {true};
  const tImportResult cancelled = Import();
  EXPECT_EQ(cancelled.Outcome, tImportOutcome::Cancelled) << cancelled.Text;
  EXPECT_EQ(CenterContent(), before);

  // The same archive then goes in whole, as the first import.
  host_.on_events = nullptr;
  const tImportResult done = Import();
  ASSERT_EQ(done.Outcome, tImportOutcome::Success) << done.Text;
  EXPECT_EQ(done.Archives.at(0).ImportNo, 1);
}

// The progress option hears of every archive's merge with the rows counted beforehand (when it
// asks for the totals first), of every table section with its own count, and of every row; the
// end comes also after a failure.
TEST_F(ImportRunTest, ProgressCountsTheRowsOfEachArchiveAndTableBeforeTheyAreMerged) {
  ExportAs("A.ZR2");
  client_.connection.Execute("INSERT INTO Customers (Id, Name) VALUES (3, 'Gama')");
  ExportAs("B.ZR2");
  const std::string whole = testing::ReadWholeFile(imports_.File("B.ZR2"));
  testing::WriteWholeFile(imports_.File("B.ZR2"), whole.substr(0, whole.size() - 12));
  Lines steps;
  tImportRunOptions run_options;
  run_options.totals_first = true;
  run_options.progress = [&steps](tImportProgressStep step, const tImportProgress& p) {
    const std::string archive = p.archive + " " + std::to_string(p.archive_number) + "/" +
                                std::to_string(p.archive_count) + " " + std::to_string(p.archive_rows) + "/" +
                                std::to_string(p.archive_total);
    switch (step) {
      case tImportProgressStep::ArchiveStart: steps.push_back("start " + archive); break;
      case tImportProgressStep::TableStart:
        steps.push_back("table " + p.table + " " + std::to_string(p.table_total) + " " + archive);
        break;
      case tImportProgressStep::Row:
        steps.push_back("row " + std::to_string(p.table_rows) + "/" + std::to_string(p.table_total));
        break;
      case tImportProgressStep::ArchiveEnd: steps.push_back("end " + archive); break;
    }
  };
  const tImportResult result = Import(std::move(run_options));
  ASSERT_EQ(result.Archives.size(), 2U);
  EXPECT_EQ(result.Archives[0].State, tArchiveState::Imported);
  EXPECT_EQ(result.Archives[1].State, tArchiveState::Failed);
  ASSERT_GE(steps.size(), 9U);
  EXPECT_EQ(Lines(steps.begin(), steps.begin() + 9),
            (Lines{"start A.ZR2 1/2 0/3", "table Customers 2 A.ZR2 1/2 0/3", "row 1/2", "row 2/2",
                   "table Orders 1 A.ZR2 1/2 2/3", "row 1/1", "end A.ZR2 1/2 3/3", "start B.ZR2 2/2 0/3",
                   "table Customers 3 B.ZR2 2/2 0/3"}))
      << ::testing::PrintToString(steps);
  // The cut archive's count stops where its damage begins; its merge ends all the same.
  EXPECT_EQ(steps.back().rfind("end B.ZR2 2/2 ", 0), 0U) << steps.back();
}

// Counted beside the merge, a total is either not there yet or right, and the end has it.
TEST_F(ImportRunTest, ProgressCountedBesideTheMergeShowsRightTotalsOrNone) {
  client_.connection.Execute("INSERT INTO Customers (Id, Name) VALUES (3, 'Gama')");
  ExportAs("A.ZR2");
  Lines wrong;
  std::string end;
  tImportRunOptions run_options;
  run_options.progress = [&](tImportProgressStep step, const tImportProgress& p) {
    const bool archive_ok = p.archive_total == 0 || p.archive_total == 4;
    const std::int64_t expected = p.table == "Customers" ? 3 : p.table == "Orders" ? 1 : 0;
    const bool table_ok = p.table_total == 0 || p.table_total == expected;
    if (!archive_ok || !table_ok)
      wrong.push_back(p.table + " " + std::to_string(p.table_total) + " " + std::to_string(p.archive_total));
    if (step == tImportProgressStep::ArchiveEnd)
      end = std::to_string(p.archive_rows) + "/" + std::to_string(p.archive_total);
  };
  const tImportResult result = Import(std::move(run_options));
  ASSERT_EQ(result.Outcome, tImportOutcome::Success) << result.Text;
  EXPECT_TRUE(wrong.empty()) << ::testing::PrintToString(wrong);
  EXPECT_EQ(end, "4/4");
}

// A cancellation during the merge is said in Czech, not as an exception's English text.
TEST_F(ImportRunTest, ACancelledMergeIsLoggedInCzech) {
  ExportAs("A.ZR2");
  host_.on_events = [this] { host_.RequestCancel(); };
  host_.confirm_answers = {true};
  const tImportResult cancelled = Import();
  EXPECT_EQ(cancelled.Outcome, tImportOutcome::Cancelled) << cancelled.Text;
  const Lines log = LogMessages();
  for (const std::string& line : log) {
    EXPECT_EQ(line.find("Operation aborted"), std::string::npos) << line;
    EXPECT_EQ(line.find("Výjimka"), std::string::npos) << line;
  }
  EXPECT_NE(std::find(log.begin(), log.end(), "Import přerušen uživatelem"), log.end());
}

TEST_F(ImportRunTest, DoneFolderTakesCommittedArchivesAndLeavesRefusedOnes) {
  ExportAs("A.ZR2");
  testing::TempDir done;
  const tImportResult first = Import({done.path()});
  ASSERT_EQ(first.Outcome, tImportOutcome::Success) << first.Text;
  EXPECT_EQ(first.Archives.at(0).MovedTo, done.File("A.ZR2"));
  EXPECT_TRUE(fs::exists(done.File("A.ZR2")));
  EXPECT_FALSE(fs::exists(imports_.File("A.ZR2")));

  fs::copy_file(done.File("A.ZR2"), imports_.File("A.ZR2"));
  const tImportResult again = Import({done.path()});
  EXPECT_EQ(again.Outcome, tImportOutcome::Warnings) << again.Text;
  EXPECT_EQ(again.Archives.at(0).State, tArchiveState::AlreadyImported);
  EXPECT_TRUE(again.Archives.at(0).MovedTo.empty());
  EXPECT_TRUE(fs::exists(imports_.File("A.ZR2")));
  EXPECT_EQ(Center("SELECT count(*) FROM rep_IMPORTLOG"), (Lines{"1"}));
}

// Archives of one Signature go in by their export numbers, whatever their names say, and one
// that is not newer than the last import is refused: it would take back newer changes.
TEST_F(ImportRunTest, TakesArchivesByExportNumberAndRefusesOlderOnes) {
  center_.connection.Execute("UPDATE rep_DEFIMPORT SET UpdateRule = 'ANO'");
  ExportAs("CLI-2.ZR2");  // EXPORTNO 1, after EXPORTNO 2 by its name
  client_.connection.Execute("UPDATE Customers SET Name = 'Alfa 2' WHERE Id = 1");
  ExportAs("CLI-10.ZR2");  // EXPORTNO 2
  const tImportResult both = Import();
  ASSERT_EQ(both.Outcome, tImportOutcome::Success) << both.Text;
  ASSERT_EQ(both.Archives.size(), 2U);
  EXPECT_EQ(fs::path(both.Archives[0].Path).filename(), "CLI-2.ZR2");
  EXPECT_EQ(Center("SELECT IMPORTNO, CLIENTEXPORTNO FROM rep_IMPORTLOG ORDER BY IMPORTNO"),
            (Lines{"1|1", "2|2"}));
  EXPECT_EQ(Center("SELECT Name FROM Customers WHERE Id = 1"), (Lines{"Alfa 2"}));

  // The older archive comes again (a late mail): refused, logged, left where it is.
  fs::remove(imports_.File("CLI-10.ZR2"));
  const Lines after_second = CenterContent();
  const tImportResult older = Import();
  EXPECT_EQ(older.Outcome, tImportOutcome::Warnings) << older.Text;
  EXPECT_EQ(older.Text, Ansi("Import dokončen s upozorněními"));
  const tImportedArchive& refused = older.Archives.at(0);
  EXPECT_EQ(refused.State, tArchiveState::AlreadyImported);
  const std::string reason = text::AnsiToUtf8(refused.Reason);
  EXPECT_TRUE(std::regex_match(
      reason, std::regex("Přenos č\\. 1 už byl importován [0-9]{1,2}\\.[0-9]{1,2}\\.[0-9]{4} "
                         "[0-9:]+ \\(import č\\. 1\\), archiv ponechán neimportován, "
                         "aby nevrátil novější změny")))
      << reason;
  EXPECT_EQ(ArchiveLines("CLI-2.ZR2").back(), "Archiv odmítnut: " + reason);
  EXPECT_TRUE(fs::exists(imports_.File("CLI-2.ZR2")));
  EXPECT_EQ(CenterContent(), after_second);
  EXPECT_TRUE(host_.questions.empty());

  // A desktop run asks; No refuses as above, Yes merges it knowingly.
  host_.confirm_answers = {false};
  tImportRunOptions asked;
  asked.confirm_reimport = true;
  EXPECT_EQ(Import(asked).Archives.at(0).State, tArchiveState::AlreadyImported);
  ASSERT_EQ(host_.questions.size(), 1U);
  EXPECT_EQ(text::AnsiToUtf8(host_.questions[0]),
            reason.substr(0, reason.find(", archiv")) +
                ".\r\nOpětovný import může vrátit novější změny a obnovit smazané řádky.\r\n"
                "Mám archiv CLI-2.ZR2 přesto importovat?");
  host_.confirm_answers = {true};
  const tImportResult confirmed = Import(asked);
  ASSERT_EQ(confirmed.Outcome, tImportOutcome::Success) << confirmed.Text;
  EXPECT_EQ(confirmed.Archives.at(0).ImportNo, 3);
  EXPECT_EQ(Center("SELECT Name FROM Customers WHERE Id = 1"), (Lines{"Alfa"}));

  // An unattended run merges it only when told to.
  tImportRunOptions reimport;
  reimport.reimport = true;
  const tImportResult told = Import(reimport);
  ASSERT_EQ(told.Outcome, tImportOutcome::Success) << told.Text;
  EXPECT_EQ(told.Archives.at(0).ImportNo, 4);
  EXPECT_EQ(host_.questions.size(), 2U);
}

TEST_F(ImportRunTest, AGapInTheExportNumbersIsMergedWithAWarning) {
  ExportAs("A.ZR2");
  ExportAs("B.ZR2");
  Renumber("B.ZR2", 3);
  const tImportResult result = Import();
  EXPECT_EQ(result.Outcome, tImportOutcome::Warnings) << result.Text;
  ASSERT_EQ(result.Archives.size(), 2U);
  EXPECT_EQ(result.Archives[0].State, tArchiveState::Imported);
  EXPECT_TRUE(result.Archives[0].Warnings.empty());
  EXPECT_EQ(result.Archives[1].State, tArchiveState::Imported);
  EXPECT_EQ(result.Archives[1].Warnings,
            (Lines{Ansi("Chybí přenos č. 2 (naposledy importován přenos č. 1)")}));
  const Lines lines = ArchiveLines("B.ZR2");
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "Upozornění: Chybí přenos č. 2 (naposledy importován přenos č. 1)"),
            lines.end());
  EXPECT_EQ(text::AnsiToUtf8(ImportSummary(result)),
            "A.ZR2: importován (import č. 1)\r\n"
            "B.ZR2: importován (import č. 2); Chybí přenos č. 2 (naposledy importován přenos č. 1)");

  // The missing one arriving later is older than the last import: refused.
  fs::remove(imports_.File("A.ZR2"));
  fs::remove(imports_.File("B.ZR2"));
  ExportAs("C.ZR2");
  Renumber("C.ZR2", 2);
  const tImportResult late = Import();
  EXPECT_EQ(late.Archives.at(0).State, tArchiveState::AlreadyImported);
  EXPECT_EQ(text::AnsiToUtf8(late.Archives.at(0).Reason)
                .rfind("Přenos č. 2 je starší než přenos č. 3 importovaný ", 0),
            0U);
}

// After an archive of a Signature fails, its later archives would leave a gap that the failed one
// could never fill: they wait. Other Signatures go on.
TEST_F(ImportRunTest, AFailedArchiveHoldsBackTheLaterOnesOfItsSignature) {
  client_.connection.Execute(
      "INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule, LISTORDER) VALUES ('SECOND', 'Orders', "
      "'ANO', 1)");
  center_.connection.Execute(
      "INSERT INTO rep_DEFIMPORT (Signature, TABLENAME, AppendRule, LISTORDER) VALUES ('SECOND', "
      "'Customers', "
      "'ANO', 1), ('SECOND', 'Orders', 'ANO', 2)");
  AddDefinition("SECOND");
  ExportAs("A.ZR2");
  const std::string whole = testing::ReadWholeFile(imports_.File("A.ZR2"));
  testing::WriteWholeFile(imports_.File("A.ZR2"), whole.substr(0, whole.size() - 12));
  ExportAs("B.ZR2");
  ExportAs("C.ZR2", "SECOND");
  const tImportResult result = Import();
  EXPECT_EQ(result.Outcome, tImportOutcome::Failed) << result.Text;
  ASSERT_EQ(result.Archives.size(), 3U);
  EXPECT_EQ(result.Archives[0].State, tArchiveState::Failed);
  EXPECT_EQ(result.Archives[1].State, tArchiveState::Skipped);
  EXPECT_EQ(result.Archives[1].Reason, Ansi("Archiv přenosu CLI s nižším číslem nebyl importován"));
  EXPECT_EQ(result.Archives[2].State, tArchiveState::Imported);
  EXPECT_EQ(Center("SELECT Signature, CLIENTEXPORTNO FROM rep_IMPORTLOG"), (Lines{"SECOND|1"}));
  EXPECT_TRUE(fs::exists(imports_.File("B.ZR2")));
}

// Rows of a table the center does not have are not lost without a word: counted and named.
TEST_F(ImportRunTest, RowsOfATableTheCenterLacksAreCountedAsRefused) {
  center_.connection.Execute(
      "DROP TABLE Orders; DELETE FROM rep_DEFIMPORT WHERE TABLENAME = 'Orders'; "
      "DELETE FROM rep_TBLDESC WHERE TABLENAME = 'Orders'");
  ExportAs("A.ZR2");
  const tImportResult result = Import();
  EXPECT_EQ(result.Outcome, tImportOutcome::Warnings) << result.Text;
  const tImportedArchive& archive = result.Archives.at(0);
  ASSERT_EQ(archive.State, tArchiveState::Imported) << archive.Reason;
  EXPECT_EQ(archive.Counters.refused, 1);
  EXPECT_EQ(archive.Counters.appended, 2);
  EXPECT_EQ(result.Total.refused, 1);
  EXPECT_EQ(archive.RefusedTables, (std::vector<std::pair<std::string, std::int64_t>>{{"Orders", 1}}));
  EXPECT_EQ(archive.Warnings,
            (Lines{Ansi("Odmítnuto řádků tabulek, které cílová databáze nemá: 1 (Orders: 1)")}));
  const Lines lines = ArchiveLines("A.ZR2");
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "Tabulka Orders v cílové databázi není, její řádky jsou odmítnuty"),
            lines.end());
}

// The log failing at the line after the commit does not make an imported archive look rolled back.
TEST_F(ImportRunTest, AFailureAfterTheCommitKeepsTheArchiveImportedWithItsCounters) {
  ExportAs("A.ZR2");
  tImportRunOptions options;
  options.log_echo = [](const std::string& line) {
    if (line.find(" :Import dokon") != std::string::npos) throw ReplicationError("disk full");
  };
  const tImportResult result = Import(std::move(options));
  EXPECT_EQ(result.Outcome, tImportOutcome::Warnings) << result.Text;
  const tImportedArchive& archive = result.Archives.at(0);
  EXPECT_EQ(archive.State, tArchiveState::Imported);
  EXPECT_EQ(archive.ImportNo, 1);
  EXPECT_EQ(archive.Counters.appended, 3);
  EXPECT_EQ(result.Total.appended, 3);
  EXPECT_EQ(archive.Warnings, (Lines{Ansi("Po potvrzení importu selhalo: disk full")}));
  EXPECT_EQ(text::AnsiToUtf8(ArchiveOutcomeText(archive)),
            "importován (import č. 1); Po potvrzení importu selhalo: disk full");
  EXPECT_EQ(Center("SELECT count(*) FROM Customers"), (Lines{"2"}));
}

TEST_F(ImportRunTest, ConflictsDoNotEndTheRunAndAreListed) {
  center_.connection.Execute("UPDATE rep_DEFIMPORT SET AppendRule = NULL WHERE TABLENAME = 'Customers'");
  ExportAs("A.ZR2");
  const tImportResult result = Import();
  EXPECT_EQ(result.Outcome, tImportOutcome::Conflicts) << result.Text;
  EXPECT_EQ(result.Text, Ansi("Při importu se vyskytly chyby"));
  EXPECT_EQ(result.Total.conflicts, 1);
  EXPECT_EQ(result.Total.ignored, 2);
  EXPECT_FALSE(result.Conflicts->Empty());
  EXPECT_EQ(result.Archives.at(0).ImportNo, 1);
  EXPECT_EQ(Center("SELECT count(*) FROM Orders"), (Lines{"0"}));
  EXPECT_EQ(host_.messages, (Lines{result.Text}));
}

TEST_F(ImportRunTest, AMoveThatFailsIsAWarningOfTheCommittedImport) {
  ExportAs("A.ZR2");
  testing::WriteWholeFile(logs_.File("blocker"), "a file, not a folder");
  const tImportResult result = Import({logs_.File("blocker")});
  EXPECT_EQ(result.Outcome, tImportOutcome::Warnings) << result.Text;
  ASSERT_EQ(result.Archives.size(), 1U);
  EXPECT_EQ(result.Archives[0].State, tArchiveState::Imported);
  EXPECT_EQ(result.Archives[0].ImportNo, 1);
  ASSERT_EQ(result.Archives[0].Warnings.size(), 1U);
  EXPECT_EQ(
      text::AnsiToUtf8(result.Archives[0].Warnings[0]).rfind("Po potvrzení importu selhalo: Soubor ", 0), 0U);
  EXPECT_EQ(result.Total.appended, 3);
  EXPECT_EQ(Center("SELECT count(*) FROM rep_IMPORTLOG"), (Lines{"1"}));
  EXPECT_TRUE(fs::exists(imports_.File("A.ZR2")));
}

TEST_F(ImportRunTest, WrongCheckValueAndASecondRunOfTheFolderAreRefused) {
  const Lines before = CenterContent();
  ExportAs("A.ZR2");
  std::string bytes = testing::ReadWholeFile(imports_.File("A.ZR2"));
  bytes.back() = static_cast<char>(bytes.back() ^ 0x5A);
  testing::WriteWholeFile(imports_.File("A.ZR2"), bytes);
  const tImportResult damaged = Import();
  EXPECT_EQ(damaged.Outcome, tImportOutcome::Failed) << damaged.Text;
  EXPECT_EQ(CenterContent(), before);

  const int fd = ::open(imports_.File("import.lock").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  const tImportResult refused = Import();
  ::close(fd);
  EXPECT_EQ(refused.Outcome, tImportOutcome::Failed);
  EXPECT_EQ(text::AnsiToUtf8(refused.Text),
            "Import ze složky " + imports_.path() + " už probíhá v jiném programu. Počkejte, až skončí.");
  EXPECT_TRUE(refused.Archives.empty());
}

// An invoice carries both a RowGuid and an identity; deleted at the client with its lines, it goes
// at the center too, lines first, with nothing left as a conflict.
TEST_F(ImportRunTest, DeletesAnInvoiceKnownByRowGuidAndIdentityWithItsLines) {
  client_.connection.Execute(
      "INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule, LISTORDER) VALUES "
      "('CLI', 'rep_DELETED', 'ANO', 0), ('CLI', 'Invoices', 'ANO', 3), ('CLI', 'InvoiceLines', 'ANO', 4);"
      "INSERT INTO Invoices (Id, RG, Number) VALUES (1, '{00000001-0000-0000-0000-0000000000AA}', 'F1'), "
      "(2, '{00000002-0000-0000-0000-0000000000AA}', 'F2');"
      "INSERT INTO InvoiceLines (Id, InvoiceId, Qty) VALUES (11, 1, 1), (21, 2, 1), (22, 2, 2);");
  center_.connection.Execute(
      "INSERT INTO rep_DEFIMPORT (Signature, TABLENAME, AppendRule, DeleteRule, LISTORDER) VALUES "
      "('CLI', 'rep_DELETED', 'ANO', 'ANO', 0), ('CLI', 'Invoices', 'ANO', 'ANO', 3), "
      "('CLI', 'InvoiceLines', 'ANO', 'ANO', 4)");
  ExportAs("A.ZR2");
  const tImportResult first = Import();
  ASSERT_EQ(first.Outcome, tImportOutcome::Success) << first.Text;
  ASSERT_EQ(Center("SELECT count(*) FROM InvoiceLines"), (Lines{"3"}));

  client_.connection.Execute(
      "DELETE FROM InvoiceLines WHERE InvoiceId = 2; DELETE FROM Invoices WHERE Id = 2;");
  ExportAs("B.ZR2");
  fs::remove(imports_.File("A.ZR2"));
  const tImportResult second = Import();
  ASSERT_EQ(second.Outcome, tImportOutcome::Success) << second.Text;
  EXPECT_EQ(second.Total.deleted, 3);
  EXPECT_EQ(second.Total.conflicts, 0);
  EXPECT_EQ(Center("SELECT Id, Number FROM Invoices"), (Lines{"1|F1"}));
  EXPECT_EQ(Center("SELECT Id FROM InvoiceLines"), (Lines{"11"}));
  EXPECT_EQ(Center("SELECT TABLENAME, COUNT_DELETED FROM rep_IMPORTLOGDETAIL d JOIN rep_IMPORTLOG l ON "
                   "l.IMPORTNO = d.IMPORTNO AND l.Signature = d.Signature WHERE l.IMPORTNO = 2 AND "
                   "COUNT_DELETED > 0 ORDER BY TABLENAME"),
            (Lines{"InvoiceLines|2", "Invoices|1"}));
}

// The log file of a whole run of one archive: every line in its order, each "date time :message"
// in Windows-1250 with CR LF, no byte-order mark.
TEST_F(ImportRunTest, LogFileOfAWholeRunKeepsItsLinesInOrder) {
  ExportAs("A.ZR2");
  const tImportResult result = Import();
  ASSERT_EQ(result.Outcome, tImportOutcome::Success) << result.Text;

  const std::string bytes = testing::ReadWholeFile(logs_.File("import.log"));
  ASSERT_GE(bytes.size(), 2U);
  EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  EXPECT_NE(bytes.find("Klient               : Pobo\xE8ka\r\n"), std::string::npos);  // č in Windows-1250
  std::size_t line_start = 0;
  for (std::size_t at = bytes.find('\n'); at != std::string::npos; at = bytes.find('\n', at + 1)) {
    ASSERT_GT(at, line_start);
    EXPECT_EQ(bytes[at - 1], '\r') << "a line without CR at byte " << at;
    const std::string line = bytes.substr(line_start, at - 1 - line_start);
    EXPECT_TRUE(std::regex_search(
        line, std::regex("^[0-9]{1,2}\\.[0-9]{1,2}\\.[0-9]{4} [0-9]{1,2}:[0-9]{2}:[0-9]{2} :[^ ]")))
        << line;
    line_start = at + 1;
  }

  Lines messages = LogMessages();
  ASSERT_EQ(messages.size(), 24U);
  const std::string time_line = messages[8];
  EXPECT_TRUE(std::regex_match(time_line, std::regex("čas přenosu u klienta: [0-9.]+ [0-9:]+"))) << time_line;
  messages[8] = "(time)";
  EXPECT_EQ(messages, (Lines{"Startuji import",
                             "Nalezeno 1 .ZR2 archivů",
                             "Otvírám archiv A.ZR2",
                             "Identifikace přenosu je CLI",
                             "Identifikace přenosu OK",
                             "Klient               : Pobočka",
                             "Cílová databáze      : center",
                             "# přenosu u klienta  : 1",
                             "(time)",
                             "Archiv nebyl ověřen: definice importu nemá klíč klienta (defs edit --trust)",
                             "Otvírám datové připojení k databázi center",
                             "Datové připojení navázáno",
                             "Připravuji import",
                             "Import připraven",
                             "# přenosu v centru : 1",
                             "Zálohování databáze center nebylo povoleno",
                             "Cílová tabulka je nyní Customers",
                             "záznam přidán(Id=1)",
                             "záznam přidán(Id=2)",
                             "Cílová tabulka je nyní Orders",
                             "záznam přidán(Id=10)",
                             "Dokončuji import",
                             "Import dokončen",
                             "Zavírám archiv A.ZR2"}));
}

// The SQL Server form keeps the batch of the import log to the letter, quotes doubled.
// The backup and restore offers of a run, on two center databases.
class ImportBackupTest : public ImportRunTest {
 protected:
  void SetUp() override {
    ImportRunTest::SetUp();
    client_.connection.Execute(
        "INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule, LISTORDER) VALUES "
        "('CLI2', 'Customers', 'ANO', 1)");
    other_.connection.Execute(
        "INSERT INTO rep_DEFIMPORT (Signature, TABLENAME, AppendRule, LISTORDER) VALUES "
        "('CLI2', 'Customers', 'ANO', 1)");
    list_.Append();
    list_.FieldByName("Signature").SetAsString("CLI2");
    list_.FieldByName("ClientName").SetAsString("Druha");
    list_.FieldByName("ConnectionString")
        .SetAsString(core::TransformConnectionString(other_.ConnectionString(), true));
    list_.FieldByName("DatabaseName").SetAsString("other");
    list_.Post();
    center_.connection.Execute("INSERT INTO Customers (Id, Name) VALUES (7, 'Centrum')");
  }

  // The run stays for the restore offers; the test's own connection lets go of the center.
  tImportResult RunKeeping() {
    center_.connection.Close();
    run_ = std::make_unique<tImportRun>(access_, options_, list_, host_);
    return run_->Run();
  }

  void Reopen() {
    center_.connection.Open();
    center_.connection.SetDefaultDatabase("center");
  }

  std::string BackupOf(const ReadyDatabase& database) const {
    return (fs::path(database.folder.path()) / "backup" / (database.name + ".db")).string();
  }

  Lines CustomersIn(const std::string& file) {
    dbaccess::Connection copy("Provider=SQLite;Data Source=" + fs::path(file).parent_path().string());
    copy.Open();
    copy.SetDefaultDatabase(fs::path(file).stem().string());
    return Rows(copy, "SELECT Id, Name FROM Customers ORDER BY Id");
  }

  std::string Question(const std::string& name) const {
    return Ansi(
        "Před provedením importu se doporučuje zálohovat\r\nobsah cílové databáze. Mám nyní provést "
        "zálohování\r\ndatabáze " +
        name + " ?");
  }

  ReadyDatabase other_{"other"};
  std::unique_ptr<tImportRun> run_;
};

TEST_F(ImportBackupTest, AsksOncePerDatabaseAndAllAnswersCoverLaterDatabases) {
  ExportAs("A.ZR2");
  ExportAs("B.ZR2");
  ExportAs("C.ZR2", "CLI2");
  host_.backup_answers = {tRunAnswer::Yes, tRunAnswer::YesToAll};
  const tImportResult result = RunKeeping();
  Reopen();
  ASSERT_EQ(result.Outcome, tImportOutcome::Success) << result.Text;
  // Yes is remembered only for the database it was given for: the second database is asked
  // again, the second archive of the first one is not.
  EXPECT_EQ(host_.backup_questions, (Lines{Question("center"), Question("other")}));
  host_.backup_questions.clear();
  ASSERT_EQ(result.BackedUp.size(), 2U);
  EXPECT_EQ(result.BackedUp[0].DatabaseName, "center");
  EXPECT_EQ(result.BackedUp[0].ConnectionString, center_.ConnectionString());
  EXPECT_EQ(result.BackedUp[1].DatabaseName, "other");
  EXPECT_FALSE(result.BackedUp[0].RestoreWanted || result.BackedUp[1].RestoreWanted);
  // Each copy holds its database as it stood before its first archive.
  EXPECT_EQ(CustomersIn(BackupOf(center_)), (Lines{"7|Centrum"}));
  EXPECT_EQ(CustomersIn(BackupOf(other_)), Lines{});
  EXPECT_FALSE(fs::exists(BackupOf(center_) + ".tmp"));
  const Lines lines = ArchiveLines("A.ZR2");
  const auto backup = std::find(lines.begin(), lines.end(), "Zálohuji cílovou databázi");
  ASSERT_NE(backup, lines.end());
  EXPECT_EQ(*(backup - 1), "# přenosu v centru : 1");
  EXPECT_EQ(*(backup + 1), "Zálohování databáze OK");
  const Lines second = ArchiveLines("B.ZR2");
  EXPECT_EQ(std::count(second.begin(), second.end(), "Zálohuji cílovou databázi"), 0);

  // No to all answers every database of a later run without a question.
  for (const char* name : {"A.ZR2", "B.ZR2", "C.ZR2"}) fs::remove(imports_.File(name));
  ExportAs("D.ZR2");
  ExportAs("E.ZR2", "CLI2");
  host_.backup_answers = {tRunAnswer::NoToAll};
  const tImportResult declined = RunKeeping();
  Reopen();
  ASSERT_EQ(declined.Outcome, tImportOutcome::Success) << declined.Text;
  EXPECT_EQ(host_.backup_questions.size(), 1U);
  EXPECT_TRUE(declined.BackedUp.empty());
  const Lines other = ArchiveLines("E.ZR2");
  EXPECT_NE(std::find(other.begin(), other.end(), "Zálohování databáze other nebylo povoleno"), other.end());
}

TEST_F(ImportBackupTest, AbortCancelsBeforeAnythingChanged) {
  const Lines before = CenterContent();
  ExportAs("A.ZR2");
  host_.backup_answers = {tRunAnswer::Abort};
  const tImportResult result = RunKeeping();
  Reopen();
  EXPECT_EQ(result.Outcome, tImportOutcome::Cancelled);
  EXPECT_EQ(result.Text, Ansi("Import přerušen uživatelem"));
  EXPECT_TRUE(result.BackedUp.empty());
  EXPECT_EQ(CenterContent(), before);
}

// A rolled-back archive leaves nothing to restore: the good archive before it stays, and neither
// a failure nor conflicts bring up the restore question.
TEST_F(ImportBackupTest, ARolledBackArchiveAfterAGoodOneNeedsNoRestore) {
  center_.connection.Execute("UPDATE rep_DEFIMPORT SET AppendRule = NULL WHERE TABLENAME = 'Customers'");
  ExportAs("A.ZR2");
  ExportAs("B.ZR2", "CLI2");
  ExportAs("C.ZR2");
  const std::string whole = testing::ReadWholeFile(imports_.File("C.ZR2"));
  testing::WriteWholeFile(imports_.File("C.ZR2"), whole.substr(0, whole.size() - 12));
  host_.backup_answers = {tRunAnswer::Yes, tRunAnswer::No};
  tImportResult result = RunKeeping();
  Reopen();
  ASSERT_EQ(result.Outcome, tImportOutcome::Failed) << result.Text;
  EXPECT_EQ(result.Archives.at(0).State, tArchiveState::Imported);
  EXPECT_GT(result.Archives.at(0).Counters.conflicts, 0);
  EXPECT_EQ(result.Archives.at(2).State, tArchiveState::Failed);
  ASSERT_EQ(result.BackedUp.size(), 1U);
  EXPECT_FALSE(result.BackedUp[0].RestoreWanted);
  EXPECT_EQ(result.BackedUp[0].CommittedSince, Lines{"A.ZR2"});
  EXPECT_TRUE(run_->OfferRestores(result));
  EXPECT_TRUE(host_.restore_questions.empty());
  EXPECT_EQ(Center("SELECT Signature, CLIENTEXPORTNO FROM rep_IMPORTLOG"), (Lines{"CLI|1"}));
}

// A transaction SQLite ended itself (a trigger's RAISE(ROLLBACK), a full disk) is rolled back: the
// database holds nothing of the archive and needs no restore. Where a rollback cannot be
// confirmed, the restore is offered, naming the archives committed since the backup that it
// would take back as well.
TEST_F(ImportBackupTest, AnUnconfirmedRollbackOffersTheRestoreUntilAnswered) {
  const Lines before = CenterContent();
  ExportAs("A.ZR2");
  ExportAs("B.ZR2", "CLI2");
  ExportAs("C.ZR2");
  center_.connection.Execute(
      "CREATE TRIGGER Lost BEFORE INSERT ON rep_IMPORTLOG WHEN NEW.CLIENTEXPORTNO = 2 "
      "BEGIN SELECT RAISE(ROLLBACK, 'lost'); END");
  host_.backup_answers = {tRunAnswer::Yes, tRunAnswer::No};
  tImportResult result = RunKeeping();
  ASSERT_EQ(result.Outcome, tImportOutcome::Failed) << result.Text;
  const tImportedArchive& failed = result.Archives.at(2);
  EXPECT_EQ(failed.State, tArchiveState::Failed);
  EXPECT_FALSE(failed.RollbackUnconfirmed);
  EXPECT_EQ(text::AnsiToUtf8(ArchiveOutcomeText(failed)), "neproveden, databáze ponechána beze změny: lost");
  ASSERT_EQ(result.BackedUp.size(), 1U);
  EXPECT_FALSE(result.BackedUp[0].RestoreWanted);
  EXPECT_TRUE(run_->OfferRestores(result));
  EXPECT_TRUE(host_.restore_questions.empty());

  // The same run had the rollback failed.
  result.BackedUp[0].RestoreWanted = true;
  result.BackedUp[0].PartialArchive = "C.ZR2";
  // Abort refuses the close and changes nothing; the next close asks again.
  host_.restore_answers = {tRunAnswer::Abort};
  EXPECT_FALSE(run_->OfferRestores(result));
  host_.restore_answers = {tRunAnswer::Yes};
  EXPECT_TRUE(run_->OfferRestores(result));
  const std::string question = Ansi(
      "Import archivu C.ZR2 do databáze center nelze potvrzeně vrátit, databáze může obsahovat jeho část."
      "\r\nObnova ze zálohy vrátí i archivy importované po záloze: A.ZR2.\r\nMám databázi obnovit ze "
      "zálohy?");
  EXPECT_EQ(host_.restore_questions, (Lines{question, question}));
  EXPECT_FALSE(result.BackedUp[0].RestoreWanted);
  // The restore takes A back as well. The database never backed up keeps its import.
  Reopen();
  EXPECT_EQ(CenterContent(), before);
  EXPECT_EQ(Rows(other_.connection, "SELECT count(*) FROM Customers"), (Lines{"2"}));
  const Lines log = LogMessages();
  EXPECT_EQ(Lines(log.end() - 3, log.end()), (Lines{"Při importu do databáze center došlo k chybě.",
                                                    "Startuji obnovu databáze", "Obnova databáze OK"}));

  EXPECT_TRUE(run_->OfferRestores(result));
  EXPECT_EQ(host_.restore_questions.size(), 2U);
}

// Cancelled inside an archive's transaction: rolled back, the rest not tried, no restore asked.
TEST_F(ImportBackupTest, CancelRollsBackTheCurrentArchiveWithoutARestore) {
  const Lines before = CenterContent();
  ExportAs("A.ZR2");
  ExportAs("B.ZR2");
  host_.backup_answers = {tRunAnswer::Yes};
  // Stopped at the first row, once the backup was made.
  host_.on_events = [this] {
    if (!host_.backup_questions.empty()) host_.RequestCancel();
  };
  host_.confirm_answers = {true};
  tImportResult result = RunKeeping();
  Reopen();
  EXPECT_EQ(result.Outcome, tImportOutcome::Cancelled) << result.Text;
  EXPECT_EQ(result.Text, Ansi("Import přerušen uživatelem"));
  ASSERT_EQ(result.Archives.size(), 2U);
  EXPECT_EQ(result.Archives[0].State, tArchiveState::Failed);
  EXPECT_FALSE(result.Archives[0].RollbackUnconfirmed);
  EXPECT_EQ(result.Archives[1].State, tArchiveState::Skipped);
  EXPECT_EQ(result.Archives[1].Reason, Ansi("Import byl přerušen"));
  ASSERT_EQ(result.BackedUp.size(), 1U);
  EXPECT_FALSE(result.BackedUp[0].RestoreWanted);
  EXPECT_TRUE(run_->OfferRestores(result));
  EXPECT_TRUE(host_.restore_questions.empty());
  EXPECT_EQ(CenterContent(), before);
  EXPECT_EQ(host_.messages, (Lines{result.Text}));
}

TEST_F(ImportBackupTest, FailedBackupMergesNothingAndKeepsTheOlderCopy) {
  const Lines before = CenterContent();
  ExportAs("A.ZR2");
  fs::create_directories(fs::path(center_.folder.path()) / "backup");
  testing::WriteWholeFile(BackupOf(center_), "older copy");
  // A folder where the temporary copy goes makes the copy fail.
  fs::create_directory(BackupOf(center_) + ".tmp");
  testing::WriteWholeFile(BackupOf(center_) + ".tmp/inside", "x");
  host_.backup_answers = {tRunAnswer::Yes};
  const tImportResult result = RunKeeping();
  Reopen();
  EXPECT_EQ(result.Outcome, tImportOutcome::Failed);
  EXPECT_TRUE(result.BackedUp.empty());
  EXPECT_EQ(CenterContent(), before);
  EXPECT_EQ(testing::ReadWholeFile(BackupOf(center_)), "older copy");
  const Lines lines = ArchiveLines("A.ZR2");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("Zálohování databáze neúspěšné: ", 0), 0U) << lines.back();
}

TEST(ImportLogBatch, SqlServerFormIsOneTransactionBatch) {
  dbstruct::testing::ScriptedServer server;
  auto& backend = *server.backend;
  backend.answers = {{"select @@LANGID", dbstruct::testing::Scalar(0)}};
  backend.procedures["sp_helplanguage"] =
      dbstruct::testing::MakeRows({{"langid", FieldType::Integer}, {"dateformat", FieldType::String}},
                                  {{Value::Integer(0), Value::Text("dmy")}});
  server.connection.SetConnectionString("Provider=SQLOLEDB;Data Source=srv");
  dbstruct::tADODatabase_Structure structure(server.connection, [](const std::string&, std::uint8_t& code) {
    code = 16;
    return true;
  });
  structure.Scan();
  const std::vector<std::string> batch =
      structure.ImportLogBatch("O'K ", 4, 3, 37979.75, {{"Orders", 2, 1, 0}, {"Ord'rs", 0, 0, 5}});
  ASSERT_EQ(batch.size(), 1U);
  EXPECT_EQ(
      batch[0],
      "BEGIN TRANSACTION "
      "Insert Into rep_IMPORTLOG  (Signature, IMPORTNO, CLIENTEXPORTNO, CLIENTEXPORTDATE)  VALUES  "
      "('O''K ',4, 3, '24/12/2003 18:00:00.000')  "
      " Insert Into rep_IMPORTLOGDETAIL  (Signature, IMPORTNO, TABLENAME, COUNT_APPENDED, COUNT_UPDATED, "
      "COUNT_DELETED)  VALUES  ('O''K ',4, 'Orders', 2, 1, 0)  "
      " Insert Into rep_IMPORTLOGDETAIL  (Signature, IMPORTNO, TABLENAME, COUNT_APPENDED, COUNT_UPDATED, "
      "COUNT_DELETED)  VALUES  ('O''K ',4, 'Ord''rs', 0, 0, 5)  "
      "Update f set f.LastImportDate=a.IMPORTDATE From rep_DEFIMPORT f "
      "join (select b.Signature, b.TABLENAME, b.IMPORTNO, c.IMPORTDATE "
      "      from rep_IMPORTLOGDETAIL b join rep_IMPORTLOG c ON "
      "      c.Signature=b.Signature and c.IMPORTNO=b.IMPORTNO "
      "      where c.Signature='O''K ' and c.IMPORTNO=4) a "
      "on a.Signature=f.Signature and a.TABLENAME=f.TABLENAME "
      " COMMIT TRANSACTION ");
  EXPECT_EQ(structure.CurrentTimeQuery(), "select GetDate()");
}

// The client and the center each have their own program folder, with their own key.
class ProtectedImportTest : public ImportRunTest {
 protected:
  void TearDown() override { core::SetProgramFolder(""); }

  void AtClient() { core::SetProgramFolder(client_home_.path()); }
  void AtCenter() { core::SetProgramFolder(center_home_.path()); }

  tImportedArchive ImportOne() {
    AtCenter();
    const tImportResult result = Import();
    EXPECT_EQ(result.Archives.size(), 1U);
    return result.Archives.empty() ? tImportedArchive{} : result.Archives[0];
  }

  testing::TempDir client_home_;
  testing::TempDir center_home_;
  testing::TempDir other_home_;
};

TEST_F(ProtectedImportTest, TrustedKeyRefusesAlteredForeignAndUnsignedArchivesBeforeMerging) {
  const auto take = [&](const std::string& name) {
    ExportAs(name);
    std::string bytes = testing::ReadWholeFile(imports_.File(name));
    fs::remove(imports_.File(name));
    return bytes;
  };
  AtClient();
  const std::string unsigned_bytes = take("A.ZR2");
  const tSiteKey client = CreateSiteKey(SiteKeyPath());
  const std::string signed_bytes = take("A.ZR2");
  ASSERT_EQ(signed_bytes.substr(signed_bytes.size() - kSignatureMagic.size()), kSignatureMagic);
  core::SetProgramFolder(other_home_.path());
  CreateSiteKey(SiteKeyPath());
  const std::string foreign_bytes = take("A.ZR2");
  AtCenter();
  core::SetTrustedKey("CLI", PublicKeyText(client.Public()));
  const Lines before = CenterContent();

  const auto refused = [&](const std::string& bytes, const std::string& reason) {
    const std::string path = imports_.File("A.ZR2");
    testing::WriteWholeFile(path, bytes);
    const tImportedArchive archive = ImportOne();
    EXPECT_EQ(archive.State, tArchiveState::Untrusted) << reason;
    EXPECT_NE(text::AnsiToUtf8(archive.Reason).find(reason), std::string::npos)
        << text::AnsiToUtf8(archive.Reason);
    EXPECT_TRUE(fs::exists(path)) << "a refused archive stays where it was";
    EXPECT_EQ(CenterContent(), before);
    EXPECT_EQ(ArchiveLines("A.ZR2").back(), "Archiv odmítnut: " + text::AnsiToUtf8(archive.Reason));
    fs::remove(path);
  };
  refused(unsigned_bytes, "není podepsaný");
  refused(foreign_bytes, "podepsán jiným klíčem");
  // One byte changed in the signature, in the signer's key, in the last compressed bytes.
  for (const std::size_t from_end : {std::size_t{20}, std::size_t{100}, kSignatureTrailerSize + 2}) {
    std::string altered = signed_bytes;
    altered[altered.size() - from_end] = static_cast<char>(altered[altered.size() - from_end] ^ 0x01);
    refused(altered, "podpis archivu neplatí");
  }

  testing::WriteWholeFile(imports_.File("A.ZR2"), signed_bytes);
  const tImportedArchive imported = ImportOne();
  EXPECT_EQ(imported.State, tArchiveState::Imported) << text::AnsiToUtf8(imported.Reason);
  const Lines lines = ArchiveLines("A.ZR2");
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "Podpis archivu je platný: klíč klienta " + PublicKeyText(client.Public())),
            lines.end());
}

// The file in the import folder is swapped after the import opened it: the rows merged are
// never those of a file whose signature was not the one checked.
TEST_F(ProtectedImportTest, AnArchiveSwappedDuringTheImportIsNotMerged) {
  AtClient();
  const tSiteKey client = CreateSiteKey(SiteKeyPath());
  ExportAs("A.ZR2");
  const std::string path = imports_.File("A.ZR2");
  const std::string signed_bytes = testing::ReadWholeFile(path);
  fs::remove(SiteKeyPath());
  client_.connection.Execute("UPDATE Customers SET Name = 'Mallory'");
  ExportAs("A.ZR2");  // archive 2, unsigned, other rows
  const std::string forged_bytes = testing::ReadWholeFile(path);
  AtCenter();
  core::SetTrustedKey("CLI", PublicKeyText(client.Public()));
  const Lines before = CenterContent();
  bool swapped = false;
  // The import names the archive's export time and number once it has opened the file.
  host_.on_activity = [&] {
    if (swapped || text::AnsiToUtf8(host_.activities.back()).find("pořadí") == std::string::npos) return;
    swapped = true;
    testing::WriteWholeFile(path + ".new", signed_bytes);
    fs::rename(path + ".new", path);
  };
  const tImportedArchive archive = ImportOne();
  EXPECT_TRUE(swapped);
  // What was opened was archive 2, what was checked is archive 1: neither is merged.
  EXPECT_EQ(archive.State, tArchiveState::Untrusted) << text::AnsiToUtf8(archive.Reason);
  EXPECT_EQ(text::AnsiToUtf8(archive.Reason), "archiv se během importu změnil");
  EXPECT_EQ(CenterContent(), before);

  // A forged archive with the signed one's very header: the checked copy is what is merged.
  testing::WriteWholeFile(path, signed_bytes);
  tArchiveHeader signed_header;
  {
    tArchiveReader reader(path);
    signed_header = reader.Header();
  }
  testing::WriteWholeFile(path, forged_bytes);
  {
    std::string content;
    {
      tArchiveReader reader(path);
      std::string buffer(4096, '\0');
      for (std::size_t n = 0; (n = reader.Stream().Read(buffer.data(), buffer.size())) > 0;)
        content.append(buffer, 0, n);
    }
    tArchiveWriter writer(path, signed_header);
    writer.Stream().WriteBytes(content);
    writer.Commit();
  }
  swapped = false;
  const tImportedArchive again = ImportOne();
  EXPECT_TRUE(swapped);
  EXPECT_EQ(again.State, tArchiveState::Imported) << text::AnsiToUtf8(again.Reason);
  EXPECT_EQ(Center("SELECT Id, Name FROM Customers ORDER BY Id"), (Lines{"1|Alfa", "2|Beta"}));
}

TEST_F(ProtectedImportTest, SealedArchiveHidesItsRowsAndOpensOnlyWithTheCentersKey) {
  AtCenter();
  const tSiteKey center = CreateSiteKey(SiteKeyPath());
  AtClient();
  core::SetSealKey("CLI", PublicKeyText(center.Public()));
  ExportAs("A.ZR2");
  const std::string sealed = testing::ReadWholeFile(imports_.File("A.ZR2"));
  EXPECT_EQ(sealed.substr(0, kSealMagic.size()), kSealMagic);
  EXPECT_EQ(sealed.find("Alfa"), std::string::npos);
  EXPECT_EQ(sealed.find("Customers"), std::string::npos);

  // Elsewhere it is no archive at all.
  core::SetProgramFolder(other_home_.path());
  CreateSiteKey(SiteKeyPath());
  const tImportResult elsewhere = Import();
  ASSERT_EQ(elsewhere.Archives.size(), 1U);
  EXPECT_EQ(elsewhere.Archives[0].State, tArchiveState::Damaged);
  EXPECT_NE(text::AnsiToUtf8(elsewhere.Archives[0].Reason).find("pro jiný klíč"), std::string::npos);
  EXPECT_EQ(Center("SELECT count(*) FROM Customers"), (Lines{"0"}));

  const tImportedArchive imported = ImportOne();
  EXPECT_EQ(imported.State, tArchiveState::Imported) << text::AnsiToUtf8(imported.Reason);
  EXPECT_EQ(Center("SELECT Id, Name FROM Customers ORDER BY Id"), (Lines{"1|Alfa", "2|Beta"}));
}

}  // namespace
}  // namespace tamaril::replication
