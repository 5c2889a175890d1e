// Times the whole export and import runs on SQLite against the sqlite3 shell doing the same work
// by hand. A client database with a master and a detail table (N rows together) is made ready by
// the setup script, with export rules selecting every row and import rules allowing every change;
// an empty ready center receives its archives. Side by side it times: the export run;
// `sqlite3 client.db .dump | gzip -9`; the import into the empty center; loading the dump into an
// empty database; the import of the same archive again (every row a duplicate); and the export
// and import after 10 % of the rows changed at the client. Each timed step runs in its own child
// process, so its peak memory is its own. The row counts and the import counters are checked: a
// step that fails or counts wrong ends the program with 1; a missed target only prints "over".
//
//   bench_replication_runs [--rows N]... [--folder DIR] [--keep]
//     --rows N      rows of master and detail together (default 200000); given more than once,
//                   each size runs in turn and the time per row of the import into an empty
//                   center at the largest is compared with that at the smallest
//     --folder DIR  where the databases, archives and dump go (default a temporary folder)
//     --keep        leave the folder in place at the end (a given folder is always kept)
//
// Each ratio is printed by wall-clock time and by CPU time (the step's process and the shell
// commands it waited for), which other work on the machine disturbs less. At the end the
// statements the SQL Server form sends per row are printed, as bench_mssql_round_trips (from
// the same folder) counts them on a scripted connection.
//
// Needs /usr/bin/sqlite3 and gzip for the two baselines.

#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "core/login.h"
#include "core/login_cache.h"
#include "core/maindata.h"
#include "core/repl_options.h"
#include "dataset/memory_table.h"
#include "dbaccess/connection.h"
#include "dbstruct/comparison_hook.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "dbstruct/structure_cache.h"
#include "expr/tracking_columns.h"
#include "replication/database_open.h"
#include "replication/export_run.h"
#include "replication/import_run.h"
#include "replication/run_host.h"
#include "replication/setup_script.h"
#include "text/encoding.h"

namespace {

using namespace tamaril;
namespace fs = std::filesystem;
using dbaccess::Connection;
using dbaccess::Value;
using Clock = std::chrono::steady_clock;

constexpr const char* kSignature = "BENCH";
constexpr const char* kClient = "client";
constexpr const char* kCenter = "center";

constexpr const char* kSchema =
    "CREATE TABLE GROUPS ("
    " ID INTEGER IDENTITY(1,1) PRIMARY KEY,"
    " ROW_GUID UNIQUEIDENTIFIER ROWGUIDCOL NOT NULL,"
    " NAME VARCHAR(60) NOT NULL,"
    " CREATED DATETIME NOT NULL,"
    " BUDGET MONEY NOT NULL,"
    " NOTE TEXT);"
    "CREATE TABLE ITEMS ("
    " ID INTEGER IDENTITY(1,1) PRIMARY KEY,"
    " ROW_GUID UNIQUEIDENTIFIER ROWGUIDCOL NOT NULL,"
    " CODE VARCHAR(20) NOT NULL,"
    " NAME VARCHAR(80) NOT NULL,"
    " CHANGED DATETIME NOT NULL,"
    " PRICE MONEY NOT NULL,"
    " GROUP_ID INTEGER NOT NULL,"
    " NOTE TEXT,"
    " CONSTRAINT FK_ITEMS_GROUPS FOREIGN KEY (GROUP_ID) REFERENCES GROUPS (ID));";

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string ConnectionString(const std::string& folder) { return "Provider=SQLite;Data Source=" + folder; }

void OpenDatabase(Connection& db, const std::string& folder, const std::string& name, bool create) {
  db.SetConnectionString(ConnectionString(folder));
  db.Open();
  if (create) db.CreateDatabase(name);
  db.SetDefaultDatabase(name);
}

std::vector<std::string> AnsiWords(std::initializer_list<const char*> utf8) {
  std::vector<std::string> words;
  for (const char* word : utf8) words.push_back(text::Utf8ToAnsi(word));
  return words;
}

std::string RandomGuid(std::mt19937_64& random) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::uint64_t high = random();
  const std::uint64_t low = random();
  std::string guid = "{";
  for (int i = 0; i < 32; ++i) {
    if (i == 8 || i == 12 || i == 16 || i == 20) guid += '-';
    const std::uint64_t half = i < 16 ? high : low;
    guid += kHex[(half >> (4 * (i % 16))) & 0xF];
  }
  return guid + "}";
}

dbaccess::DateTime RandomDate(std::mt19937_64& random) {
  return {2021 + static_cast<int>(random() % 5), 1 + static_cast<int>(random() % 12),
          1 + static_cast<int>(random() % 28),   static_cast<int>(random() % 24),
          static_cast<int>(random() % 60),       static_cast<int>(random() % 60),
          static_cast<int>(random() % 1000)};
}

// A memo of a few dozen words, a third of them empty.
Value RandomNote(std::mt19937_64& random, const std::vector<std::string>& words) {
  if (random() % 3 == 0) return Value::Null();
  std::string note = words[random() % words.size()];
  for (int count = static_cast<int>(random() % 30); count > 0; --count)
    note += " " + words[random() % words.size()];
  return Value::Text(note);
}

// Rows that look like a stock list: groups with a budget, items with product codes, names from a
// vocabulary, dates over five years, prices in cents, groups unevenly used, notes often empty.
void FillClient(Connection& db, long groups, long items) {
  const auto kinds = AnsiWords({"Spojovací materiál", "Nářadí", "Elektro", "Barvy", "Zahrada", "Instalace",
                                "Stavebniny", "Dřevo", "Kování", "Osvětlení"});
  const auto nouns = AnsiWords({"Šroub",  "Matice",  "Podložka", "Hmoždinka", "Vrták", "Kladivo", "Pilka",
                                "Kabel",  "Zásuvka", "Vypínač",  "Žárovka",   "Lak",   "Štětec",  "Hadice",
                                "Ventil", "Koleno",  "Trubka",   "Deska",     "Lišta", "Pant"});
  const auto qualifiers = AnsiWords({"pozinkovaný", "nerezový", "černý", "bílý", "mosazný", "plastový",
                                     "zesílený", "univerzální", "venkovní", "vnitřní"});
  const auto note_words =
      AnsiWords({"dodavatel", "změna",  "ceny",   "od",     "ledna",     "skladem",  "objednat",  "minimální",
                 "množství",  "balení", "po",     "kusech", "reklamace", "vyřízena", "nahrazuje", "výrobek",
                 "akce",      "sleva",  "dodání", "týden",  "kontrola",  "kvality",  "v",         "pořádku"});
  std::mt19937_64 random(20261208);
  auto pick = [&](const std::vector<std::string>& list) { return list[random() % list.size()]; };

  dbaccess::TransactionGuard transaction(db);
  auto group_insert = db.Prepare(
      "INSERT INTO GROUPS (ID, ROW_GUID, NAME, CREATED, BUDGET, NOTE) "
      "VALUES (:ID, :ROW_GUID, :NAME, :CREATED, :BUDGET, :NOTE)");
  for (long id = 1; id <= groups; ++id) {
    group_insert->SetParameter(std::size_t{0}, Value::Integer(id));
    group_insert->SetParameter(std::size_t{1}, Value::Guid(RandomGuid(random)));
    group_insert->SetParameter(std::size_t{2}, Value::Text(pick(kinds) + " " + std::to_string(id)));
    group_insert->SetParameter(std::size_t{3}, Value::FromDateTime(RandomDate(random)));
    group_insert->SetParameter(std::size_t{4},
                               Value::Double(static_cast<double>(random() % 90000000) / 100.0));
    group_insert->SetParameter(std::size_t{5}, RandomNote(random, note_words));
    group_insert->Execute();
  }
  auto item_insert = db.Prepare(
      "INSERT INTO ITEMS (ID, ROW_GUID, CODE, NAME, CHANGED, PRICE, GROUP_ID, NOTE) "
      "VALUES (:ID, :ROW_GUID, :CODE, :NAME, :CHANGED, :PRICE, :GROUP_ID, :NOTE)");
  char code[32];
  for (long id = 1; id <= items; ++id) {
    std::snprintf(code, sizeof code, "%c%c-%06lu", static_cast<char>('A' + random() % 26),
                  static_cast<char>('A' + random() % 26), static_cast<unsigned long>(random() % 1000000));
    std::string name = pick(nouns) + " " + pick(qualifiers);
    if (random() % 2 == 0)
      name += " " + std::to_string(3 + random() % 20) + "x" + std::to_string(10 + random() % 190);
    // Skewed towards the first groups, as real catalogues are.
    const auto span = static_cast<std::uint64_t>(groups);
    const long group = 1 + static_cast<long>((random() % span) * (random() % span) / span);
    item_insert->SetParameter(std::size_t{0}, Value::Integer(id));
    item_insert->SetParameter(std::size_t{1}, Value::Guid(RandomGuid(random)));
    item_insert->SetParameter(std::size_t{2}, Value::Text(code));
    item_insert->SetParameter(std::size_t{3}, Value::Text(name));
    item_insert->SetParameter(std::size_t{4}, Value::FromDateTime(RandomDate(random)));
    item_insert->SetParameter(std::size_t{5}, Value::Double(static_cast<double>(random() % 5000000) / 100.0));
    item_insert->SetParameter(std::size_t{6}, Value::Integer(group));
    item_insert->SetParameter(std::size_t{7}, RandomNote(random, note_words));
    item_insert->Execute();
  }
  transaction.Commit();
}

void MakeReady(Connection& db) {
  dbstruct::tSQLiteDatabase_Structure structure(&db);
  structure.Scan();
  replication::ApplySQLiteSetupScript(db, replication::SQLiteSetupStatements(structure, {}));
}

long Count(Connection& db, const std::string& table) {
  auto cursor = db.Query("SELECT count(*) FROM " + table);
  return cursor->Next() ? static_cast<long>(cursor->Get(0).AsInteger()) : -1;
}

// Logs in to nothing: the benchmark's databases are SQLite files.
struct NoLogin : core::LoginPrompt {
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override { return false; }
};

// The connections and caches a run borrows.
struct RunAccess {
  NoLogin prompt;
  core::LoginCache logins{prompt};
  Connection main;
  Connection master;
  dbstruct::tDBStructureCache cache;
  replication::tDatabaseAccess access{logins, main, master, cache};
};

// What a step reports from its child process (plain data through a pipe).
struct StepReport {
  int ok = 0;
  double seconds = 0;
  std::int64_t rows = 0;
  std::int64_t appended = 0;
  std::int64_t updated = 0;
  std::int64_t duplicates = 0;
  std::int64_t conflicts = 0;
  std::int64_t archive_bytes = 0;
  char text[512] = {};
};

struct StepResult {
  StepReport report;
  double peak_mb = 0;
  double cpu_s = 0;  ///< user and system time of the step's process and what it waited for
};

void SetText(StepReport& report, const std::string& utf8) {
  std::snprintf(report.text, sizeof report.text, "%s", utf8.c_str());
}

// Runs `step` in a child process and returns its report with the child's peak memory. A child
// that dies or reports nothing gives a report that is not ok.
StepResult RunInChild(const std::function<void(StepReport&)>& step) {
  StepResult result;
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) {
    SetText(result.report, "pipe failed");
    return result;
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    close(pipe_ends[0]);
    close(pipe_ends[1]);
    SetText(result.report, "fork failed");
    return result;
  }
  if (child == 0) {
    close(pipe_ends[0]);
    StepReport report;
    try {
      step(report);
    } catch (const std::exception& e) {
      report.ok = 0;
      SetText(report, text::AnsiToUtf8(e.what()));
    }
    const auto* bytes = reinterpret_cast<const char*>(&report);
    std::size_t written = 0;
    while (written < sizeof report) {
      const ssize_t n = write(pipe_ends[1], bytes + written, sizeof report - written);
      if (n <= 0) break;
      written += static_cast<std::size_t>(n);
    }
    std::fflush(nullptr);
    _exit(0);
  }
  close(pipe_ends[1]);
  StepReport report;
  auto* bytes = reinterpret_cast<char*>(&report);
  std::size_t got = 0;
  while (got < sizeof report) {
    const ssize_t n = read(pipe_ends[0], bytes + got, sizeof report - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  close(pipe_ends[0]);
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    report.ok = 0;
    SetText(report, "the step's process died");
  } else if (got != sizeof report) {
    report.ok = 0;
    SetText(report, "the step's process reported nothing");
  }
  result.report = report;
  result.peak_mb = static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  result.cpu_s = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  return result;
}

// `text` as one word of a shell command line.
std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs `command` through the shell in the child; ok when it exits with 0.
void RunShell(StepReport& report, const std::string& command, std::int64_t rows) {
  const auto start = Clock::now();
  const int status = std::system(command.c_str());
  report.seconds = SecondsSince(start);
  report.rows = rows;
  report.ok = status == 0 ? 1 : 0;
  if (status != 0) SetText(report, "command failed: " + command);
}

struct Bench {
  long rows = 0;
  std::string folder;
  std::string export_folder;
  std::string import_folder;

  void Export(StepReport& report) const {
    RunAccess access;
    core::TReplOptions options;
    options.ExportFolder = text::Utf8ToAnsi(export_folder);
    replication::tSilentRunHost host;
    replication::tExportRun run(access.access, options, host);
    const auto start = Clock::now();
    const replication::tExportResult result =
        run.Run({kSignature, ConnectionString(folder), kClient, text::Utf8ToAnsi("Centrála")});
    report.seconds = SecondsSince(start);
    SetText(report, text::AnsiToUtf8(result.Text));
    if (result.Outcome != replication::tExportOutcome::Success) return;
    for (const auto& [table, count] : result.Rows) report.rows += count;
    // The import folder holds this archive alone.
    const fs::path target = fs::path(import_folder) / fs::path(result.ArchivePath).filename();
    fs::copy_file(result.ArchivePath, target, fs::copy_options::overwrite_existing);
    report.archive_bytes = static_cast<std::int64_t>(fs::file_size(target));
    report.ok = 1;
  }

  /// `again`: the archive was imported before and is merged once more on purpose.
  void Import(StepReport& report, bool again = false) const {
    RunAccess access;
    core::TReplOptions options;
    options.ImportFolder = text::Utf8ToAnsi(import_folder);
    dataset::TQVMMemoryTable list;
    list.SetFieldLayout(std::string(core::TMaindata::kImportLayout));
    list.Open();
    list.Append();
    list.FieldByName("Signature").SetAsString(kSignature);
    list.FieldByName("ClientName").SetAsString(text::Utf8ToAnsi("Pobočka"));
    list.FieldByName("ConnectionString")
        .SetAsString(core::TransformConnectionString(ConnectionString(folder), true));
    list.FieldByName("DatabaseName").SetAsString(kCenter);
    list.Post();
    replication::tSilentRunHost host;
    replication::tImportRunOptions run_options;
    run_options.reimport = again;
    replication::tImportRun run(access.access, options, list, host, run_options);
    const auto start = Clock::now();
    const replication::tImportResult result = run.Run();
    report.seconds = SecondsSince(start);
    SetText(report, text::AnsiToUtf8(result.Text));
    report.rows = result.Total.processed;
    report.appended = result.Total.appended;
    report.updated = result.Total.updated;
    report.duplicates = result.Total.duplicates;
    report.conflicts = result.Total.conflicts;
    // An archive merged once more is said to be one: a warning, not a failure.
    const bool outcome_ok = result.Outcome == replication::tImportOutcome::Success ||
                            (again && result.Outcome == replication::tImportOutcome::Warnings);
    report.ok = outcome_ok && result.Archives.size() == 1 &&
                        result.Archives[0].State == replication::tArchiveState::Imported
                    ? 1
                    : 0;
  }

  std::string DumpCommand() const {
    return "/usr/bin/sqlite3 " + ShellQuoted((fs::path(folder) / "client.db").string()) +
           " .dump | gzip -9 > " + ShellQuoted((fs::path(folder) / "dump.sql.gz").string());
  }
  std::string LoadCommand() const {
    return "gzip -dc " + ShellQuoted((fs::path(folder) / "dump.sql.gz").string()) + " | /usr/bin/sqlite3 " +
           ShellQuoted((fs::path(folder) / "load.db").string());
  }
};

void PrintStep(const char* name, const StepResult& step) {
  const StepReport& r = step.report;
  std::printf("%-26s %8.3f s  %10.0f rows/s  peak %7.1f MB  cpu %7.3f s  %s\n", name, r.seconds,
              r.seconds > 0 ? static_cast<double>(r.rows) / r.seconds : 0.0, step.peak_mb, step.cpu_s,
              r.ok ? "" : "FAILED");
  if (!r.ok) std::fprintf(stderr, "  %s: %s\n", name, r.text);
}

bool Expect(const char* what, std::int64_t actual, std::int64_t expected) {
  if (actual == expected) return true;
  std::fprintf(stderr, "error: %s %lld, expected %lld\n", what, static_cast<long long>(actual),
               static_cast<long long>(expected));
  return false;
}

double Ratio(double a, double b) { return b > 0 ? a / b : 0.0; }

// The ratio of two steps by wall-clock and by CPU time.
void PrintRatio(const char* name, const StepResult& step, const StepResult& baseline, double target) {
  const double wall = Ratio(step.report.seconds, baseline.report.seconds);
  const double cpu = Ratio(step.cpu_s, baseline.cpu_s);
  std::printf("%-30s %7.2f  cpu %5.2f  (target %.2f)  %s\n", name, wall, cpu, target,
              wall <= target  ? "OK"
              : cpu <= target ? "over by wall-clock time only"
                              : "over");
}

// What one size's run gives for the comparison between sizes.
struct SizeSummary {
  long rows = 0;
  double import_s = 0;  ///< wall-clock time of the import into the empty center
  double import_cpu_s = 0;
};

int Run(long rows, const std::string& folder, SizeSummary& summary) {
  Bench bench;
  bench.rows = rows;
  bench.folder = folder;
  bench.export_folder = (fs::path(folder) / "export").string();
  bench.import_folder = (fs::path(folder) / "import").string();
  for (const char* file : {"client.db", "center.db", "load.db", "dump.sql.gz"})
    fs::remove(fs::path(folder) / file);
  fs::remove_all(bench.export_folder);
  fs::remove_all(bench.import_folder);
  fs::create_directories(bench.export_folder);
  fs::create_directories(bench.import_folder);

  const long groups = std::max(1L, rows / 10);
  const long items = rows - groups;
  // Built in a child as well, so that the memory of the build does not count in the steps'.
  const StepResult built = RunInChild([&](StepReport& report) {
    const auto start = Clock::now();
    Connection client;
    OpenDatabase(client, folder, kClient, true);
    client.Execute(kSchema);
    FillClient(client, groups, items);
    MakeReady(client);
    client.Execute(
        "INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule, LISTORDER) VALUES "
        "('BENCH', 'GROUPS', 'ANO', 1), ('BENCH', 'ITEMS', 'ANO', 2)");
    Connection center;
    OpenDatabase(center, folder, kCenter, true);
    center.Execute(kSchema);
    MakeReady(center);
    center.Execute(
        "INSERT INTO rep_DEFIMPORT (Signature, TABLENAME, AppendRule, UpdateRule, DeleteRule, LISTORDER) "
        "VALUES "
        "('BENCH', 'GROUPS', 'ANO', 'ANO', 'ANO', 1), ('BENCH', 'ITEMS', 'ANO', 'ANO', 'ANO', 2)");
    report.seconds = SecondsSince(start);
    report.rows = rows;
    report.ok = 1;
  });
  std::printf("%-26s %8.3f s  (%ld master + %ld detail rows)\n", "build client and center",
              built.report.seconds, groups, items);
  if (!built.report.ok) {
    std::fprintf(stderr, "error: %s\n", built.report.text);
    return 1;
  }

  bool ok = true;
  const StepResult exported = RunInChild([&](StepReport& r) { bench.Export(r); });
  PrintStep("export run", exported);
  ok &= exported.report.ok && Expect("exported rows", exported.report.rows, rows);

  const StepResult dump = RunInChild([&](StepReport& r) { RunShell(r, bench.DumpCommand(), rows); });
  PrintStep("sqlite3 .dump | gzip -9", dump);
  ok &= dump.report.ok != 0;

  const StepResult first = RunInChild([&](StepReport& r) { bench.Import(r); });
  PrintStep("import into empty center", first);
  ok &= first.report.ok && Expect("appended rows", first.report.appended, rows);
  {
    Connection client;
    OpenDatabase(client, folder, kClient, false);
    Connection center;
    OpenDatabase(center, folder, kCenter, false);
    for (const char* table : {"GROUPS", "ITEMS"}) {
      const std::string what = std::string("center rows of ") + table;
      ok &= Expect(what.c_str(), Count(center, table), Count(client, table));
    }
  }

  const StepResult load = RunInChild([&](StepReport& r) { RunShell(r, bench.LoadCommand(), rows); });
  PrintStep("gzip -dc | sqlite3 (load)", load);
  ok &= load.report.ok != 0;

  const StepResult again = RunInChild([&](StepReport& r) { bench.Import(r, true); });
  PrintStep("import again (duplicates)", again);
  ok &= again.report.ok && Expect("duplicate rows", again.report.duplicates, rows) &&
        Expect("changed rows of a duplicate import", again.report.appended + again.report.updated, 0);

  long changed = 0;
  {
    Connection client;
    OpenDatabase(client, folder, kClient, false);
    dbaccess::TransactionGuard transaction(client);
    changed += static_cast<long>(client.Execute(
        text::Utf8ToAnsi("UPDATE GROUPS SET NAME = NAME || ' (přejmenováno)', BUDGET = BUDGET + 1000 "
                         "WHERE ID % 10 = 0")));
    changed += static_cast<long>(
        client.Execute(text::Utf8ToAnsi("UPDATE ITEMS SET NAME = NAME || ' (nová cena)', PRICE = ROUND(PRICE "
                                        "* 1.1 + 0.5, 2) WHERE ID % 10 = 0")));
    transaction.Commit();
  }
  for (const auto& entry : fs::directory_iterator(bench.import_folder)) fs::remove(entry.path());
  const StepResult reexported = RunInChild([&](StepReport& r) { bench.Export(r); });
  PrintStep("export after 10 % changed", reexported);
  ok &= reexported.report.ok != 0;
  const StepResult changes = RunInChild([&](StepReport& r) { bench.Import(r); });
  PrintStep("import of 10 % changed", changes);
  ok &= changes.report.ok && Expect("updated rows", changes.report.updated, changed);
  std::printf(
      "  changed %ld rows; the import: appended %lld, updated %lld, duplicates %lld, conflicts %lld\n",
      changed, static_cast<long long>(changes.report.appended),
      static_cast<long long>(changes.report.updated), static_cast<long long>(changes.report.duplicates),
      static_cast<long long>(changes.report.conflicts));

  std::error_code error;
  const auto dump_bytes = fs::file_size(fs::path(folder) / "dump.sql.gz", error);
  std::printf("archive %lld bytes, dump.sql.gz %lld bytes\n",
              static_cast<long long>(exported.report.archive_bytes),
              error ? -1LL : static_cast<long long>(dump_bytes));
  PrintRatio("export / (dump+gzip)", exported, dump, 0.75);
  PrintRatio("import / load", first, load, 1.5);
  PrintRatio("duplicates / load", again, load, 1.2);
  PrintRatio("10 % / load", changes, load, 1.5);
  const double bytes_ratio = Ratio(static_cast<double>(exported.report.archive_bytes),
                                   error ? 0.0 : static_cast<double>(dump_bytes));
  std::printf("%-30s %7.2f  (target 1.00)  %s\n", "archive bytes / dump.gz bytes", bytes_ratio,
              bytes_ratio > 0 && bytes_ratio <= 1.0 ? "OK" : "over");
  summary.rows = rows;
  summary.import_s = first.report.seconds;
  summary.import_cpu_s = first.cpu_s;
  double peak = 0;
  for (const StepResult* step : {&exported, &dump, &first, &load, &again, &reexported, &changes})
    peak = std::max(peak, step->peak_mb);
  std::printf("%-30s %7.1f MB  (target 100)  %s\n", "peak memory of a step", peak,
              peak < 100.0 ? "OK" : "over");
  return ok ? 0 : 1;
}

}  // namespace

// Compares the time per row of the import into an empty center between the smallest and the
// largest size.
void PrintSizes(const std::vector<SizeSummary>& sizes) {
  if (sizes.size() < 2) return;
  const auto [smallest, largest] = std::minmax_element(
      sizes.begin(), sizes.end(), [](const SizeSummary& a, const SizeSummary& b) { return a.rows < b.rows; });
  const auto per_row = [](double seconds, long rows) {
    return rows > 0 ? seconds / static_cast<double>(rows) : 0.0;
  };
  const double wall =
      Ratio(per_row(largest->import_s, largest->rows), per_row(smallest->import_s, smallest->rows));
  const double cpu =
      Ratio(per_row(largest->import_cpu_s, largest->rows), per_row(smallest->import_cpu_s, smallest->rows));
  std::printf("\nimport into empty, time per row at %ld / at %ld rows: %.2f  cpu %.2f  (target 1.20)  %s\n",
              largest->rows, smallest->rows, wall, cpu,
              wall <= 1.2  ? "OK"
              : cpu <= 1.2 ? "over by wall-clock time only"
                           : "over");
}

// Runs bench_mssql_round_trips from the folder of this program, so that the statements the SQL
// Server form sends per row stand beside the figures.
void PrintRoundTrips() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  const fs::path program = self.parent_path() / "bench_mssql_round_trips";
  std::printf("\nSQL Server form, statements per row on the scripted connection:\n");
  if (error || !fs::exists(program)) {
    std::printf("  (bench_mssql_round_trips not found beside this program)\n");
    return;
  }
  std::fflush(nullptr);
  if (std::system((ShellQuoted(program.string()) + " 1000").c_str()) != 0)
    std::printf("  (bench_mssql_round_trips failed)\n");
}

int main(int argc, char** argv) {
  // Each step shows as soon as it ends, also when the output goes to a file.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::vector<long> sizes;
  std::string folder;
  bool keep = false;
  bool usage = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--rows" && i + 1 < argc) {
      sizes.push_back(std::strtol(argv[++i], nullptr, 10));
    } else if (arg == "--folder" && i + 1 < argc) {
      folder = argv[++i];
    } else if (arg == "--keep") {
      keep = true;
    } else {
      usage = true;
      break;
    }
  }
  if (sizes.empty()) sizes.push_back(200000);
  if (usage || std::any_of(sizes.begin(), sizes.end(), [](long rows) { return rows < 2; })) {
    std::fprintf(stderr,
                 "usage: bench_replication_runs [--rows N]... [--folder DIR] [--keep]   (N at least 2)\n");
    return 1;
  }
  const bool temporary = folder.empty();
  if (temporary) {
    folder = (fs::temp_directory_path() / "tamaril-runs-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) return 1;
  } else {
    fs::create_directories(folder);
  }
  // The runs compare rows without their tracking columns, as the program's start-up arranges.
  dbstruct::IgnoreFieldInComparison = expr::IsTrackingColumn;
  int result = 0;
  std::vector<SizeSummary> summaries;
  try {
    for (const long rows : sizes) {
      std::printf("%srows %ld, folder %s\n", summaries.empty() ? "" : "\n", rows, folder.c_str());
      SizeSummary summary;
      if (Run(rows, folder, summary) != 0) result = 1;
      summaries.push_back(summary);
    }
    PrintSizes(summaries);
    PrintRoundTrips();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_replication_runs: %s\n", text::AnsiToUtf8(e.what()).c_str());
    result = 1;
  }
  if (temporary && !keep) std::filesystem::remove_all(folder);
  return result;
}
