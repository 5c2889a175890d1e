// Prints how fast rows travel between two SQLite databases through a transfer archive: a client
// database with a master table and N detail rows is published into an archive, merged into an
// empty center copy, merged again (all duplicates), then 10 % of the rows change at the client
// and are published and merged once more. Each step prints rows, seconds, rows/s and the peak
// memory of the process; the counts of appended, duplicate and updated rows are checked.
//   bench_transfer [rows [folder]]   (default 200000 rows in a temporary folder removed at exit)

#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "dbaccess/connection.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "replication/archive.h"
#include "replication/merger.h"
#include "replication/publisher.h"
#include "replication/setup_script.h"
#include "text/encoding.h"

namespace {

using namespace tamaril;
using dbaccess::Connection;
using dbaccess::Value;
using Clock = std::chrono::steady_clock;

constexpr int kGroups = 100;
constexpr const char* kMaster = "GROUPS";
constexpr const char* kDetail = "ITEMS";

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

void CreateSchema(Connection& db) {
  db.Execute(
      "CREATE TABLE GROUPS (ID INTEGER PRIMARY KEY, NAME VARCHAR(40) NOT NULL);"
      "CREATE TABLE ITEMS ("
      " ID INTEGER IDENTITY(1,1) PRIMARY KEY,"
      " ROW_GUID UNIQUEIDENTIFIER ROWGUIDCOL NOT NULL,"
      " CODE VARCHAR(20) NOT NULL,"
      " NAME VARCHAR(80) NOT NULL,"
      " CHANGED DATETIME NOT NULL,"
      " PRICE MONEY NOT NULL,"
      " GROUP_ID INTEGER NOT NULL,"
      " NOTE TEXT,"
      " CONSTRAINT FK_ITEMS_GROUPS FOREIGN KEY (GROUP_ID) REFERENCES GROUPS (ID));");
}

// Makes the database ready as a user would: the setup script adds the tracking columns, the
// triggers and the indexes of the lookups the merge makes per row (none is made by hand here).
void MakeReady(Connection& db) {
  dbstruct::tSQLiteDatabase_Structure structure(&db);
  structure.Scan();
  replication::ApplySQLiteSetupScript(db, replication::SQLiteSetupStatements(structure, {}));
}

std::vector<std::string> AnsiWords(std::initializer_list<const char*> utf8) {
  std::vector<std::string> words;
  for (const char* word : utf8) words.push_back(text::Utf8ToAnsi(word));
  return words;
}

void FillGroups(Connection& db) {
  const auto kinds = AnsiWords({"Spojovací materiál", "Nářadí", "Elektro", "Barvy", "Zahrada", "Instalace",
                                "Stavebniny", "Dřevo", "Kování", "Osvětlení"});
  auto insert = db.Prepare("INSERT INTO GROUPS (ID, NAME) VALUES (:ID, :NAME)");
  dbaccess::TransactionGuard transaction(db);
  for (int id = 1; id <= kGroups; ++id) {
    insert->SetParameter(std::size_t{0}, Value::Integer(id));
    insert->SetParameter(std::size_t{1}, Value::Text(kinds[static_cast<std::size_t>(id) % kinds.size()] +
                                                     " " + std::to_string(id / 10 + 1)));
    insert->Execute();
  }
  transaction.Commit();
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

// Rows that look like a stock list: product codes, names from a vocabulary, dates spread over
// five years, prices in cents, groups unevenly used and notes that are often empty.
void FillItems(Connection& db, long rows) {
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

  auto insert = db.Prepare(
      "INSERT INTO ITEMS (ID, ROW_GUID, CODE, NAME, CHANGED, PRICE, GROUP_ID, NOTE) "
      "VALUES (:ID, :ROW_GUID, :CODE, :NAME, :CHANGED, :PRICE, :GROUP_ID, :NOTE)");
  dbaccess::TransactionGuard transaction(db);
  char code[32];
  for (long id = 1; id <= rows; ++id) {
    std::snprintf(code, sizeof code, "%c%c-%06lu", static_cast<char>('A' + random() % 26),
                  static_cast<char>('A' + random() % 26), static_cast<unsigned long>(random() % 1000000));
    std::string name = pick(nouns) + " " + pick(qualifiers);
    if (random() % 2 == 0)
      name += " " + std::to_string(3 + random() % 20) + "x" + std::to_string(10 + random() % 190);
    const dbaccess::DateTime changed{
        2021 + static_cast<int>(random() % 5), 1 + static_cast<int>(random() % 12),
        1 + static_cast<int>(random() % 28),   static_cast<int>(random() % 24),
        static_cast<int>(random() % 60),       static_cast<int>(random() % 60),
        static_cast<int>(random() % 1000)};
    // Skewed towards the first groups, as real catalogues are.
    const int group = 1 + static_cast<int>((random() % kGroups) * (random() % kGroups) / kGroups);
    insert->SetParameter(std::size_t{0}, Value::Integer(id));
    insert->SetParameter(std::size_t{1}, Value::Guid(RandomGuid(random)));
    insert->SetParameter(std::size_t{2}, Value::Text(code));
    insert->SetParameter(std::size_t{3}, Value::Text(name));
    insert->SetParameter(std::size_t{4}, Value::FromDateTime(changed));
    insert->SetParameter(std::size_t{5}, Value::Double(static_cast<double>(random() % 5000000) / 100.0));
    insert->SetParameter(std::size_t{6}, Value::Integer(group));
    if (random() % 3 == 0) {
      insert->SetParameter(std::size_t{7}, Value::Null());
    } else {
      std::string note = pick(note_words);
      for (int words = static_cast<int>(random() % 30); words > 0; --words) note += " " + pick(note_words);
      insert->SetParameter(std::size_t{7}, Value::Text(note));
    }
    insert->Execute();
  }
  transaction.Commit();
}

void OpenDatabase(Connection& db, const std::string& folder, const std::string& name) {
  db.SetConnectionString("Provider=SQLite;Data Source=" + folder);
  db.Open();
  db.CreateDatabase(name);
  db.SetDefaultDatabase(name);
}

struct StepResult {
  long rows = 0;
  double seconds = 0;
};

void PrintStep(const char* name, const StepResult& step) {
  std::printf("%-28s %9ld rows  %8.3f s  %9.0f rows/s  peak %7.1f MB\n", name, step.rows, step.seconds,
              step.seconds > 0 ? static_cast<double>(step.rows) / step.seconds : 0.0, PeakMegabytes());
}

StepResult Publish(dbstruct::tSQLiteDatabase_Structure& structure, const std::string& path, int export_no,
                   std::uint64_t& archive_size) {
  StepResult step;
  const auto start = Clock::now();
  replication::tArchiveHeader header;
  header.Signature = "BENCH";
  header.ExportNo = export_no;
  header.ExportTime = 46000.5;
  replication::tArchiveWriter writer(path, header);
  replication::tQVMPublisher publisher;
  publisher.TableList = {kMaster, kDetail};
  publisher.Stream = &writer.Stream();
  publisher.Structure = &structure;
  publisher.OnRowFilter = [&](replication::tQVMPublisher&, dataset::TDataSet&, bool& accept) {
    accept = true;
  };
  publisher.OnRowWritten = [&](replication::tQVMPublisher& p, dataset::TDataSet&) {
    if (p.CurrentTableName == kDetail) ++step.rows;
  };
  publisher.Publish();
  writer.Commit();
  step.seconds = SecondsSince(start);
  archive_size = writer.CompressedSize();
  return step;
}

struct MergeCounts {
  long appended = 0;
  long updated = 0;
  long duplicates = 0;
  long conflicts = 0;
};

StepResult Merge(Connection& db, dbstruct::tSQLiteDatabase_Structure& structure, const std::string& path,
                 MergeCounts& counts) {
  StepResult step;
  const auto start = Clock::now();
  replication::tArchiveReader reader(path);
  replication::tQVMMerger merger;
  merger.Stream = &reader.Stream();
  merger.Structure = &structure;
  auto detail = [&](replication::tQVMMerger& m) { return m.TableName == kDetail; };
  merger.OnAppendRow = [](replication::tQVMMerger&, dataset::TDataSet&, bool& allow) { allow = true; };
  merger.OnUpdateRow = [](replication::tQVMMerger&, dataset::TDataSet&, bool& allow,
                          dbstruct::tExistingRecords&) { allow = true; };
  merger.OnDeleteRow = [](replication::tQVMMerger&, dataset::TDataSet&, bool& allow,
                          dbstruct::tExistingRecords&) { allow = true; };
  merger.OnAfterRow = [&](replication::tQVMMerger& m, dataset::TDataSet&) {
    if (detail(m)) ++step.rows;
  };
  merger.OnRowAppended = [&](replication::tQVMMerger& m, dataset::TDataSet&) {
    if (detail(m)) ++counts.appended;
  };
  merger.OnRowUpdated = [&](replication::tQVMMerger& m, dataset::TDataSet&) {
    if (detail(m)) ++counts.updated;
  };
  merger.OnDuplicate = [&](replication::tQVMMerger& m, dataset::TDataSet&) {
    if (detail(m)) ++counts.duplicates;
  };
  merger.OnConflict = [&](replication::tQVMMerger& m, dataset::TDataSet&, replication::tConflictKind kind,
                          const std::string& text) {
    if (++counts.conflicts <= 5) {
      std::fprintf(stderr, "conflict in %s row %d: kind %d %s\n", m.TableName.c_str(), m.RowNumber,
                   static_cast<int>(kind), text::AnsiToUtf8(text).c_str());
    }
  };
  dbaccess::TransactionGuard transaction(db);
  if (!merger.Merge()) std::fprintf(stderr, "the archive ended early\n");
  transaction.Commit();
  structure.CloseData();
  step.seconds = SecondsSince(start);
  return step;
}

bool Expect(const char* what, long actual, long expected) {
  if (actual == expected) return true;
  std::fprintf(stderr, "error: %s %ld, expected %ld\n", what, actual, expected);
  return false;
}

int Run(long rows, const std::string& folder) {
  const std::string archive = (std::filesystem::path(folder) / "BENCH.ZR2").string();
  for (const char* file : {"client.db", "center.db", "BENCH.ZR2"})
    std::filesystem::remove(std::filesystem::path(folder) / file);

  Connection client;
  OpenDatabase(client, folder, "client");
  CreateSchema(client);
  MakeReady(client);
  auto start = Clock::now();
  FillGroups(client);
  FillItems(client, rows);
  PrintStep("fill client database", {rows, SecondsSince(start)});

  Connection center;
  OpenDatabase(center, folder, "center");
  CreateSchema(center);
  MakeReady(center);
  FillGroups(center);

  dbstruct::tSQLiteDatabase_Structure client_structure(&client);
  client_structure.Scan();
  dbstruct::tSQLiteDatabase_Structure center_structure(&center);
  center_structure.Scan();
  center_structure.CreateIdentityTriggers();

  bool ok = true;
  std::uint64_t archive_size = 0;
  const StepResult publish = Publish(client_structure, archive, 1, archive_size);
  PrintStep("1 publish", publish);
  std::printf("%-28s %9llu bytes (%.2f MB, %.1f bytes/row)\n", "  archive",
              static_cast<unsigned long long>(archive_size),
              static_cast<double>(archive_size) / (1024.0 * 1024.0),
              static_cast<double>(archive_size) / static_cast<double>(rows));
  ok &= Expect("published rows", publish.rows, rows);

  MergeCounts first;
  PrintStep("2 merge into empty table", Merge(center, center_structure, archive, first));
  std::printf("  appended %ld, updated %ld, duplicates %ld, conflicts %ld\n", first.appended, first.updated,
              first.duplicates, first.conflicts);
  ok &= Expect("appended rows", first.appended, rows);

  MergeCounts again;
  PrintStep("3 merge again (duplicates)", Merge(center, center_structure, archive, again));
  std::printf("  appended %ld, updated %ld, duplicates %ld, conflicts %ld\n", again.appended, again.updated,
              again.duplicates, again.conflicts);
  ok &= Expect("duplicate rows", again.duplicates, rows);

  start = Clock::now();
  const long changed = static_cast<long>(
      client.Execute(text::Utf8ToAnsi("UPDATE ITEMS SET NAME = NAME || ' (nová cena)', PRICE = ROUND(PRICE * "
                                      "1.1 + 0.5, 2) WHERE ID % 10 = 0")));
  PrintStep("4 change 10 % at client", {changed, SecondsSince(start)});
  const StepResult republish = Publish(client_structure, archive, 2, archive_size);
  PrintStep("4 publish again", republish);
  MergeCounts changes;
  PrintStep("4 merge changes", Merge(center, center_structure, archive, changes));
  std::printf("  appended %ld, updated %ld, duplicates %ld, conflicts %ld\n", changes.appended,
              changes.updated, changes.duplicates, changes.conflicts);
  ok &= Expect("updated rows", changes.updated, rows / 10);
  ok &= Expect("unchanged rows", changes.duplicates, rows - rows / 10);

  std::printf("%-28s %7.1f MB\n", "peak memory", PeakMegabytes());
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Each step shows as soon as it ends, also when the output goes to a file.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const long rows = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 200000;
  if (rows <= 0) {
    std::fprintf(stderr, "usage: bench_transfer [rows [folder]]\n");
    return 1;
  }
  const bool temporary = argc <= 2;
  std::string folder;
  if (temporary) {
    folder = (std::filesystem::temp_directory_path() / "tamaril-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) return 1;
  } else {
    folder = argv[2];
    std::filesystem::create_directories(folder);
  }
  int result = 1;
  try {
    std::printf("rows %ld, folder %s\n", rows, folder.c_str());
    result = Run(rows, folder);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_transfer: %s\n", text::AnsiToUtf8(e.what()).c_str());
  }
  if (temporary) std::filesystem::remove_all(folder);
  return result;
}
