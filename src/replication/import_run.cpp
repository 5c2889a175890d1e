#include "replication/import_run.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

#include <fmt/printf.h>

#include "core/errors.h"
#include "core/login_cache.h"
#include "core/repl_options.h"
#include "dataset/dataset.h"
#include "dataset/date_codec.h"
#include "dataset/field.h"
#include "dataset/stream.h"
#include "dataset/variant.h"
#include "dbaccess/connection.h"
#include "dbstruct/keyed_table.h"
#include "dbstruct/structure.h"
#include "expr/rule_lists.h"
#include "replication/archive.h"
#include "replication/database_backup.h"
#include "replication/errors.h"
#include "replication/merge_rules.h"
#include "replication/merger.h"
#include "replication/readiness.h"
#include "replication/repl_log.h"
#include "replication/run_host.h"
#include "replication/run_lock.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::replication {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLockFileName = "import.lock";

std::string Ansi(std::string_view utf8) { return text::Utf8ToAnsi(utf8); }

/// A date-time as "d.M.yyyy H:mm:ss", the way the log shows times.
std::string DateTimeText(double date_time) {
  const dataset::TimeStamp stamp = dataset::DateTimeToTimeStamp(date_time);
  const dataset::CivilDate date = dataset::CivilFromDayNumber(stamp.date);
  const int seconds = stamp.time / 1000;
  return fmt::format("{}.{}.{} {}:{:02}:{:02}", date.day, date.month, date.year, seconds / 3600,
                     seconds / 60 % 60, seconds % 60);
}

/// A database date-time as days since 30 December 1899.
double DaysOf(const dbaccess::DateTime& value) {
  const auto day = static_cast<std::int32_t>(dataset::DayNumberFromCivil(value.year, value.month, value.day));
  const auto ms = static_cast<std::int32_t>(((value.hour * 60 + value.minute) * 60 + value.second) * 1000 +
                                            value.millisecond);
  return dataset::TimeStampToDateTime({day, ms});
}

/// Whether the file begins as a transfer archive: a zlib stream whose first bytes are the
/// identification. Anything else (another format, a short or unreadable file) is not one.
bool LooksLikeArchive(const std::string& path) {
  try {
    dataset::FileReader file(path);
    InflateReader content(file);
    std::string start(kArchiveIdentification.size(), '\0');
    std::size_t got = 0;
    while (got < start.size()) {
      const std::size_t n = content.Read(start.data() + got, start.size() - got);
      if (n == 0) break;
      got += n;
    }
    return got == start.size() && start == kArchiveIdentification;
  } catch (const Error&) {
    return false;
  }
}

/// Moves `path` into `folder` (created when missing) under its own name, or "name(n).ext" when
/// that is taken; returns the new path. Throws ReplicationError with the system's reason.
std::string MoveIntoFolder(const std::string& path, const std::string& folder) {
  std::error_code error;
  fs::create_directories(folder, error);
  const fs::path source(path);
  fs::path target = fs::path(folder) / source.filename();
  for (int n = 2; fs::exists(target); ++n) {
    target = fs::path(folder) /
             (source.stem().string() + "(" + std::to_string(n) + ")" + source.extension().string());
  }
  if (::rename(path.c_str(), target.c_str()) != 0) {
    throw ReplicationError(
        Ansi("Soubor " + path + " nelze přesunout do " + folder + ": " + std::strerror(errno)));
  }
  return target.string();
}

/// Closes the open table data of a structure when it goes; the structure itself stays cached.
class ClosedData {
 public:
  explicit ClosedData(dbstruct::tDatabase_Structure& structure) : structure_(structure) {}
  ~ClosedData() {
    // A failure here must not replace the archive's own outcome.
    try {
      structure_.CloseData();
    } catch (const std::exception&) {
    }
  }
  ClosedData(const ClosedData&) = delete;
  ClosedData& operator=(const ClosedData&) = delete;

 private:
  dbstruct::tDatabase_Structure& structure_;
};

/// The entry of `backed_up` for the database, or null.
tBackedUpDatabase* FindBackedUp(std::vector<tBackedUpDatabase>& backed_up, const std::string& database_name,
                                const std::string& connection_string) {
  for (tBackedUpDatabase& entry : backed_up) {
    if (entry.DatabaseName == database_name && entry.ConnectionString == connection_string) return &entry;
  }
  return nullptr;
}

void Add(tImportCounters& total, const tImportCounters& part) {
  total.processed += part.processed;
  total.duplicates += part.duplicates;
  total.appended += part.appended;
  total.updated += part.updated;
  total.deleted += part.deleted;
  total.ignored += part.ignored;
  total.conflicts += part.conflicts;
}

}  // namespace

/// The state of one run: the log, the lock and the archive being imported.
class tImportRun::Session {
 public:
  Session(tImportRun& run, tImportResult& result) : run_(run), host_(run.host_), result_(result) {}
  ~Session() = default;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  /// Opens the log; false when the person would rather not run without it.
  bool OpenLog() {
    log_.SetEcho(run_.run_options_.log_echo);
    return log_.Open(run_.options_, host_);
  }
  void Log(const std::string& line) { log_.Write(line); }
  void ImportAll(const std::vector<std::string>& archives);

 private:
  void CheckCancel() { host_.CheckCancel(Ansi("Opravdu chcete ukončit import?")); }
  void ImportArchive(tImportedArchive& archive);
  /// Merges the open archive and writes its log rows in one transaction.
  void MergeArchive(tImportedArchive& archive, tArchiveReader& reader,
                    dbstruct::tDatabase_Structure& structure, const std::string& database_name);
  /// The definition row of `signature` in the import list, or false.
  bool FindDefinition(const std::string& signature);
  bool AlreadyImported(const tArchiveHeader& header);
  int NextImportNo(const std::string& signature);
  void Prepare(dbstruct::tDatabase_Structure& structure, const std::string& signature);
  /// Asks for and makes the backup of the current database, once per database and run.
  void OfferBackup(const std::string& definition_name);
  /// Marks the current database for the restore offer when it was backed up in this run.
  void FlagRestore();
  dbaccess::Connection& Connection() const { return run_.access_.Connection; }

  tImportRun& run_;
  tRunHost& host_;
  tImportResult& result_;
  tReplLog log_;
  std::optional<tRunAnswer> backup_answer_;  ///< the last answer to the backup question
  std::string connection_string_;            ///< of the archive being imported (plain)
};

void tImportRun::Session::OfferBackup(const std::string& definition_name) {
  const std::string database_name = Connection().DefaultDatabase();
  if (FindBackedUp(result_.BackedUp, database_name, connection_string_) != nullptr) return;
  if (!backup_answer_ || *backup_answer_ == tRunAnswer::Yes || *backup_answer_ == tRunAnswer::No) {
    backup_answer_ = host_.AskBackup(fmt::sprintf(
        Ansi("Před provedením importu se doporučuje zálohovat\r\nobsah cílové databáze. Mám nyní "
             "provést zálohování\r\ndatabáze %s ?"),
        database_name));
  }
  switch (*backup_answer_) {
    case tRunAnswer::Abort: throw EAbort();
    case tRunAnswer::No:
    case tRunAnswer::NoToAll:
      Log(fmt::sprintf(Ansi("Zálohování databáze %s nebylo povoleno"), database_name));
      return;
    case tRunAnswer::Yes:
    case tRunAnswer::YesToAll: break;
  }
  try {
    RunDatabaseBackup(
        run_.access_, tBackupAction::Backup, connection_string_, database_name,
        [this](const std::string& line) { Log(line); },
        [this, &definition_name] {
          host_.SetActivity(Ansi("Zálohuji cílovou databázi"));
          host_.SetTableName(definition_name);
          Log(Ansi("Zálohuji cílovou databázi"));
        });
  } catch (const std::exception& error) {
    Log(Ansi("Zálohování databáze neúspěšné: ") + error.what());
    throw;
  }
  Log(Ansi("Zálohování databáze OK"));
  result_.BackedUp.push_back({database_name, connection_string_, false});
}

void tImportRun::Session::FlagRestore() {
  if (!Connection().IsOpen()) return;
  if (tBackedUpDatabase* entry =
          FindBackedUp(result_.BackedUp, Connection().DefaultDatabase(), connection_string_)) {
    entry->RestoreWanted = true;
  }
}

void tImportRun::Session::ImportAll(const std::vector<std::string>& archives) {
  Log(fmt::sprintf(Ansi("Nalezeno %d %s archivů"), static_cast<int>(archives.size()),
                   std::string(kArchiveExtension)));
  const int count = static_cast<int>(archives.size());
  for (int i = 0; i < count; ++i) {
    const std::string name = Ansi(fs::path(archives[static_cast<std::size_t>(i)]).filename().string());
    host_.SetTableName(name);
    Log(Ansi("Otvírám archiv ") + name);
    host_.SetActivity(fmt::sprintf("(%d z %d)", i + 1, count));
    host_.SetRecordCount(0);
    result_.Archives.push_back({archives[static_cast<std::size_t>(i)]});
    tImportedArchive& archive = result_.Archives.back();
    try {
      ImportArchive(archive);
    } catch (...) {
      // An archive whose import committed stays counted when only moving it away failed.
      if (archive.State == tArchiveState::Imported) {
        Add(result_.Total, archive.Counters);
      } else {
        archive.State = tArchiveState::Failed;
        archive.ImportNo = 0;
        archive.Counters = {};
      }
      Log(Ansi("Zavírám archiv ") + name);
      Connection().Close();
      throw;
    }
    Log(Ansi("Zavírám archiv ") + name);
    Connection().Close();
    Add(result_.Total, archive.Counters);
  }
}

bool tImportRun::Session::FindDefinition(const std::string& signature) {
  return run_.import_list_.Locate("Signature", dataset::Variant::String(signature));
}

bool tImportRun::Session::AlreadyImported(const tArchiveHeader& header) {
  auto query = Connection().Prepare(
      "select count(*) from rep_IMPORTLOG where Signature=:Signature and CLIENTEXPORTNO=:ExportNo");
  query->SetParameter("Signature", dbaccess::Value::Text(header.Signature));
  query->SetParameter("ExportNo", dbaccess::Value::Integer(header.ExportNo));
  auto rows = query->Open();
  return rows->Next() && rows->Get(0).AsInteger() > 0;
}

int tImportRun::Session::NextImportNo(const std::string& signature) {
  auto query = Connection().Prepare("select max(IMPORTNO) from rep_IMPORTLOG where signature=:Signature");
  query->SetParameter("Signature", dbaccess::Value::Text(signature));
  auto rows = query->Open();
  const bool found = rows->Next() && !rows->Get(0).IsNull();
  return found ? static_cast<int>(rows->Get(0).AsInteger()) + 1 : 1;
}

void tImportRun::Session::Prepare(dbstruct::tDatabase_Structure& structure, const std::string& signature) {
  auto query = Connection().Prepare(
      "select TABLENAME, IgnoreRowGuidField from rep_DEFIMPORT where signature=:Signature");
  query->SetParameter("Signature", dbaccess::Value::Text(signature));
  auto rows = query->Open();
  while (rows->Next()) {
    const std::string name = rows->Get(0).AsString();
    auto* table = dynamic_cast<dbstruct::tKeyedTbl_Structure*>(structure.FindTable(name));
    if (table == nullptr) continue;
    table->IgnoreRowGuid = !rows->Get(1).IsNull() && rows->Get(1).AsBoolean();
    table->KeepEnabledTriggers.clear();
    if (table->Identifiable) table->KeepEnabledTriggers.push_back("rep_tr_Del_" + table->GetTableName());
  }
}

void tImportRun::Session::ImportArchive(tImportedArchive& archive) {
  CheckCancel();
  if (!LooksLikeArchive(archive.Path)) return;
  tArchiveReader reader(archive.Path);
  const tArchiveHeader& header = reader.Header();
  if (!header.Identified) return;
  archive.Signature = header.Signature;
  archive.ExportNo = header.ExportNo;
  Log((Ansi("Identifikace přenosu je ") + header.Signature).substr(0, 34));
  host_.SetActivity(fmt::sprintf(Ansi("%s (pořadí %d)"), DateTimeText(header.ExportTime), header.ExportNo));

  if (!FindDefinition(header.Signature)) {
    archive.State = tArchiveState::UnknownClient;
    Log(Ansi("Identifikace přenosu nenalezena"));
    return;
  }
  expr::RunValues().signature = header.Signature;
  dataset::TDataSet& list = run_.import_list_;
  const std::string connection_string =
      core::TransformConnectionString(list.FieldByName("ConnectionString").AsString(), false);
  const std::string database_name = list.FieldByName("DatabaseName").AsString();
  const std::string client_name = list.FieldByName("ClientName").AsString();

  connection_string_ = connection_string;
  Log(Ansi("Identifikace přenosu OK"));
  Log(Ansi("Klient               : ") + client_name);
  Log(Ansi("Cílová databáze      : ") + database_name);
  Log(fmt::sprintf(Ansi("# přenosu u klienta  : %d"), header.ExportNo));
  Log(Ansi("čas přenosu u klienta: ") + DateTimeText(header.ExportTime));
  host_.SetActivity(Ansi("Analyzuji strukturu tabulky"));
  Log(Ansi("Otvírám datové připojení k databázi ") + database_name);

  dbstruct::tDatabase_Structure* structure = nullptr;
  try {
    const dbstruct::ScanProgressEvent progress = [this](dbstruct::tDatabase_Structure&, int position,
                                                        const std::string& name, int count) {
      CheckCancel();
      host_.ReportTable(position, name, count);
    };
    structure =
        &OpenDatabaseStructure(run_.access_, connection_string, database_name, tReadyFor::Import, progress);
  } catch (const DatabaseNotReadyError&) {
    Log(Ansi("Datové připojení navázáno"));
    Log(Ansi("Cílová databáze není připravena pro import"));
    throw;
  } catch (const Error&) {
    Log(Connection().IsOpen() ? Ansi("Datové připojení navázáno") : Ansi("Datové připojení nelze navázat"));
    throw;
  }
  Log(Ansi("Datové připojení navázáno"));

  const ClosedData close_data(*structure);

  {
    auto query = Connection().Prepare("select * from rep_DEFIMPORT where Signature=:Signature");
    query->SetParameter("Signature", dbaccess::Value::Text(header.Signature));
    if (!query->Open()->Next()) {
      Log(Ansi("Cílová databáze nemá pro klienta založenu definici importu"));
      throw ReplicationError(fmt::sprintf(Ansi("Databáze %s nemá pro klienta %s založenou definici importu. "
                                               "Definici založte volbou Informace o položce v hlavním menu"),
                                          database_name, client_name));
    }
  }
  if (run_.run_options_.skip_imported && AlreadyImported(header)) {
    archive.State = tArchiveState::AlreadyDone;
    Log(fmt::sprintf(Ansi("Přenos č. %d klienta už byl importován, archiv přeskočen"), header.ExportNo));
    return;
  }
  host_.ShowProgress(false, false);
  MergeArchive(archive, reader, *structure, database_name);
  host_.ClearLabels();

  if (!run_.run_options_.done_folder.empty()) {
    archive.MovedTo = MoveIntoFolder(archive.Path, run_.run_options_.done_folder);
  }
}

void tImportRun::Session::MergeArchive(tImportedArchive& archive, tArchiveReader& reader,
                                       dbstruct::tDatabase_Structure& structure,
                                       const std::string& database_name) {
  const tArchiveHeader& header = reader.Header();
  int import_no = 0;
  double import_time = 0;
  try {
    Log(Ansi("Připravuji import"));
    import_no = NextImportNo(header.Signature);
    {
      auto rows = Connection().Query(structure.CurrentTimeQuery());
      if (!rows->Next()) throw ReplicationError("The server time cannot be read");
      import_time = DaysOf(rows->Get(0).AsDateTime());
    }
    Prepare(structure, header.Signature);
    Log(Ansi("Import připraven"));
    Log(fmt::sprintf(Ansi("# přenosu v centru : %d"), import_no));
  } catch (const Error& error) {
    Log(error.what());
    throw;
  }
  // The backup copies the database as it stands before this archive's transaction begins.
  OfferBackup(database_name);

  // Everything the archive changes, and its log rows, commit together or not at all.
  dbaccess::TransactionGuard transaction(Connection());
  const ClosedData close_before_rollback(structure);
  tMergeRules rules(
      Connection(), structure,
      {header.Signature, import_time, Ansi(fs::path(archive.Path).filename().string()), database_name});
  rules.OnLog = [this](const std::string& line) { Log(line); };
  rules.CheckCancel = [this] { CheckCancel(); };
  rules.OnTableShown = [this](const std::string& name) { host_.SetTableName(name); };
  rules.Conflicts = result_.Conflicts.get();
  tQVMMerger merger;
  merger.Structure = &structure;
  merger.Stream = &reader.Stream();
  rules.Install(merger);
  merger.OnAfterRow = [this, &archive](tQVMMerger&, dataset::TDataSet&) {
    CheckCancel();
    ++archive.Counters.processed;
    host_.SetRecordCount(archive.Counters.processed);
    host_.ProcessEvents();
  };

  host_.SetTableName({});
  host_.SetActivity(Ansi("Importuji tabulku"));
  try {
    if (!merger.Merge()) {
      throw ReplicationError(Ansi("Archiv ") + Ansi(fs::path(archive.Path).filename().string()) +
                             Ansi(" je neúplný nebo poškozený"));
    }
  } catch (const EAbort& abort) {
    Log(Ansi("Výjimka při importu dat ") + abort.what());
    FlagRestore();
    throw;
  } catch (const std::exception& error) {
    Log(Ansi("Výjimka při importu dat ") + error.what());
    FlagRestore();
    throw;
  }

  const tMergeCounters& counters = rules.Counters();
  archive.Counters.duplicates = counters.duplicates;
  archive.Counters.appended = counters.appended;
  archive.Counters.updated = counters.updated;
  archive.Counters.deleted = counters.deleted;
  archive.Counters.ignored = counters.ignored;
  archive.Counters.conflicts = counters.conflicts;
  if (counters.conflicts > 0) FlagRestore();
  try {
    Log(Ansi("Dokončuji import"));
    std::vector<dbstruct::tDatabase_Structure::ImportCounts> counts;
    for (int i = 0; i < structure.TableCount(); ++i) {
      const std::string& name = structure.Table(i).GetTableName();
      const tTableCounters table = rules.TableCounters(name);
      if (table.appended + table.updated + table.deleted > 0) {
        counts.push_back({name, table.appended, table.updated, table.deleted});
      }
    }
    for (const std::string& statement :
         structure.ImportLogBatch(header.Signature, import_no, header.ExportNo, header.ExportTime, counts)) {
      Connection().Execute(statement);
    }
    transaction.Commit();
  } catch (const std::exception& error) {
    Log(Ansi("Výjimka: ") + error.what());
    throw;
  }
  Log(Ansi("Import dokončen"));
  archive.ImportNo = import_no;
  archive.State = tArchiveState::Imported;
}

tImportRun::tImportRun(const tDatabaseAccess& access, const core::TReplOptions& options,
                       dataset::TDataSet& import_list, tRunHost& host, tImportRunOptions run_options)
    : access_(access),
      options_(options),
      import_list_(import_list),
      host_(host),
      run_options_(std::move(run_options)) {}

tImportRun::~tImportRun() = default;

std::vector<std::string> tImportRun::FindArchives() const {
  std::vector<std::string> archives;
  const std::string folder = text::AnsiToUtf8(options_.ImportFolder);
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code kind_error;
    if (!it->is_regular_file(kind_error)) continue;
    const std::string extension = it->path().extension().string();
    if (text::EqualsIgnoreCaseAscii(extension, kArchiveExtension)) archives.push_back(it->path().string());
  }
  std::sort(archives.begin(), archives.end());
  return archives;
}

tImportResult tImportRun::Run() {
  host_.ClearCancel();
  expr::InitRuleLists();
  tImportResult result;
  const std::vector<std::string> archives = FindArchives();
  Session session(*this, result);
  bool logged = false;
  try {
    if (!session.OpenLog()) {
      result.Outcome = tImportOutcome::Cancelled;
      result.Text = Ansi("Import přerušen uživatelem");
      return result;
    }
    logged = true;
    const std::string folder = text::AnsiToUtf8(options_.ImportFolder);
    const tRunLock lock(
        (fs::path(folder) / kLockFileName).string(),
        Ansi("Import ze složky " + folder + " už probíhá v jiném programu. Počkejte, až skončí."));
    session.Log(Ansi("Startuji import"));
    session.ImportAll(archives);
    if (result.Total.conflicts == 0) {
      result.Outcome = tImportOutcome::Success;
      result.Text = Ansi("Import úspěšně dokončen");
    } else {
      result.Outcome = tImportOutcome::Conflicts;
      result.Text = Ansi("Při importu se vyskytly chyby");
    }
  } catch (const EAbort&) {
    result.Outcome = tImportOutcome::Cancelled;
    result.Text = Ansi("Import přerušen uživatelem");
  } catch (const std::exception& error) {
    result.Outcome = tImportOutcome::Failed;
    result.Text = error.what();
  }
  if (logged && result.Outcome != tImportOutcome::Success && result.Outcome != tImportOutcome::Conflicts) {
    try {
      session.Log(result.Text);
    } catch (const std::exception&) {
    }
  }
  host_.ClearLabels();
  host_.ShowProgress(false, false);
  host_.ShowMessage(result.Text);
  return result;
}

bool tImportRun::OfferRestores(tImportResult& result) {
  tReplLog log;
  bool log_tried = false;
  // The run's log was closed with the run: it is opened again at the first line, asked once.
  const auto write = [&](const std::string& line) {
    if (!log_tried) {
      log_tried = true;
      log.Open(options_, host_);
    }
    log.Write(line);
  };
  for (tBackedUpDatabase& entry : result.BackedUp) {
    if (!entry.RestoreWanted) continue;
    const std::string error_line =
        fmt::sprintf(Ansi("Při importu do databáze %s došlo k chybě."), entry.DatabaseName);
    const tRunAnswer answer = host_.AskRestore(
        fmt::sprintf(Ansi("Při importu do databáze %s došlo k chybě. \r\nMám databázi obnovit ze zálohy?"),
                     entry.DatabaseName));
    if (answer == tRunAnswer::Abort) return false;
    write(error_line);
    if (answer != tRunAnswer::Yes && answer != tRunAnswer::YesToAll) {
      entry.RestoreWanted = false;
      write(Ansi("Obnova databáze nebyla povolena"));
      continue;
    }
    write(Ansi("Startuji obnovu databáze"));
    try {
      RunDatabaseBackup(access_, tBackupAction::Restore, entry.ConnectionString, entry.DatabaseName, write);
    } catch (const std::exception& error) {
      write(Ansi("Obnova databáze neúspěšná: ") + error.what());
      throw;
    }
    // A restore that failed stays wanted: the next close offers it again.
    entry.RestoreWanted = false;
    write(Ansi("Obnova databáze OK"));
  }
  return true;
}

}  // namespace tamaril::replication
