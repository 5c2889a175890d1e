#include "replication/import_run.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <system_error>
#include <utility>

#include <fmt/printf.h>

#include "core/errors.h"
#include "core/login_cache.h"
#include "core/private_files.h"
#include "core/repl_options.h"
#include "dataset/dataset.h"
#include "dataset/field.h"
#include "dataset/stream.h"
#include "dataset/variant.h"
#include "dbaccess/connection.h"
#include "dbstruct/keyed_table.h"
#include "dbstruct/structure.h"
#include "expr/rule_lists.h"
#include "replication/archive.h"
#include "replication/archive_dump.h"
#include "replication/database_backup.h"
#include "replication/errors.h"
#include "replication/file_ops.h"
#include "replication/file_problem.h"
#include "replication/import_report.h"
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

/// An archive of the import folder as first read: its header, or why it is no archive.
struct tFoundArchive {
  std::string path;  ///< UTF-8
  std::optional<tArchiveHeader> header;
  std::string reason;  ///< why there is no header (Windows-1250)
};

/// Reads the header of the file at `path`. A file that cannot be read, is not a zlib stream,
/// ends within the header or does not begin with the identification is no transfer archive.
tFoundArchive ReadFound(const std::string& path) {
  tFoundArchive found{path, std::nullopt, {}};
  if (const std::string problem = FileReadProblem(path); !problem.empty()) {
    found.reason = Ansi("Soubor nelze otevřít: ") + problem;
    return found;
  }
  try {
    tArchiveSource file(path);
    InflateReader content(file);
    const std::string bytes = ReadArchiveHeaderBytes(content);
    tArchiveHeader header;
    if (bytes.size() == kArchiveHeaderSize) header = DecodeArchiveHeader(bytes);
    if (header.Identified) {
      found.header = header;
    } else {
      found.reason = Ansi("Soubor není přenosový archiv nebo je poškozený");
    }
  } catch (const Error& error) {
    found.reason = Ansi("Soubor nelze přečíst jako přenosový archiv: ") + error.what();
  }
  return found;
}

/// Puts the archives of each Signature in the order of their EXPORTNO (then of their names),
/// each group in the places its archives held; archives without a header stay where they are.
void OrderByExportNo(std::vector<tFoundArchive>& found) {
  std::map<std::string, std::vector<std::size_t>> places;
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (found[i].header) places[found[i].header->Signature].push_back(i);
  }
  for (const auto& [signature, indexes] : places) {
    std::vector<std::size_t> order = indexes;
    std::stable_sort(order.begin(), order.end(), [&found](std::size_t a, std::size_t b) {
      return found[a].header->ExportNo < found[b].header->ExportNo;
    });
    std::vector<tFoundArchive> group;
    group.reserve(order.size());
    for (const std::size_t i : order) group.push_back(std::move(found[i]));
    for (std::size_t k = 0; k < indexes.size(); ++k) found[indexes[k]] = std::move(group[k]);
  }
}

/// Moves `path` into `folder` (created when missing) under its own name, or "name(n).ext" when
/// that is taken; returns the new path. Throws ReplicationError with the system's reason.
std::string MoveIntoFolder(const std::string& path, const std::string& folder) {
  core::CreatePrivateFolders(folder);
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

/// The import of an export number that rep_IMPORTLOG holds.
struct tLoggedImport {
  int export_no = 0;
  int import_no = 0;
  std::string time;  ///< IMPORTDATE as "d.M.yyyy H:mm:ss"
};

std::string FileNameOf(const std::string& path) { return Ansi(fs::path(path).filename().string()); }

bool IsError(const tImportedArchive& archive) {
  switch (archive.State) {
    case tArchiveState::Damaged:
    case tArchiveState::UnknownClient:
    case tArchiveState::Untrusted:
    case tArchiveState::Failed:
    case tArchiveState::Skipped: return true;
    case tArchiveState::AlreadyImported:
    case tArchiveState::Imported: return false;
  }
  return true;
}

bool IsWarning(const tImportedArchive& archive) {
  return archive.State == tArchiveState::AlreadyImported ||
         (archive.State == tArchiveState::Imported && !archive.Warnings.empty());
}

}  // namespace

std::string ArchiveOutcomeText(const tImportedArchive& archive) {
  std::string text;
  switch (archive.State) {
    case tArchiveState::Imported:
      text = fmt::sprintf(Ansi("importován (import č. %d)"), archive.ImportNo);
      break;
    case tArchiveState::Damaged:
    case tArchiveState::UnknownClient:
    case tArchiveState::Untrusted:
    case tArchiveState::AlreadyImported: text = Ansi("odmítnut: ") + archive.Reason; break;
    case tArchiveState::Failed:
      text = archive.RollbackUnconfirmed
                 ? Ansi("neproveden, vrácení nelze potvrdit, databáze může obsahovat část archivu: ")
                 : Ansi("neproveden, databáze ponechána beze změny: ");
      text += archive.Reason;
      break;
    case tArchiveState::Skipped: text = Ansi("přeskočen: ") + archive.Reason; break;
  }
  for (const std::string& warning : archive.Warnings) text += "; " + warning;
  return text;
}

std::string ImportSummary(const tImportResult& result) {
  std::string summary;
  for (const tImportedArchive& archive : result.Archives) {
    if (!summary.empty()) summary += "\r\n";
    summary += FileNameOf(archive.Path) + ": " + ArchiveOutcomeText(archive);
  }
  return summary;
}

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
  /// Log for lines whose failure must not replace the outcome being reported.
  void LogQuietly(const std::string& line) noexcept {
    try {
      log_.Write(line);
    } catch (const std::exception&) {
    }
  }
  /// Imports every archive, each with its own outcome. Throws EAbort when the person stopped
  /// the run (the archives not reached are recorded as skipped), and what the first log line
  /// throws.
  void ImportAll(const std::vector<std::string>& archives);

 private:
  // Asked on every row: the question is made only when a request waits.
  void CheckCancel() {
    if (host_.CancelRequested()) host_.CheckCancel(Ansi("Opravdu chcete ukončit import?"));
  }
  void ImportArchive(tImportedArchive& archive, const tFoundArchive& found);
  /// Refuses an archive that is not newer than the last import of its Signature unless the
  /// person wants it merged; notes a gap in the export numbers. True when it is to be merged.
  bool JudgeExportNo(tImportedArchive& archive, const tArchiveHeader& header);
  /// Merges the open archive (the file `reader_path`, UTF-8) and writes its log rows in one
  /// transaction; rolls it back on a failure.
  void MergeArchive(tImportedArchive& archive, tArchiveReader& reader, const std::string& reader_path,
                    dbstruct::tDatabase_Structure& structure, const std::string& database_name);
  /// The merge and the log rows, inside the archive's transaction.
  void MergeInTransaction(tImportedArchive& archive, tArchiveReader& reader,
                          dbstruct::tDatabase_Structure& structure, const tMergeRunContext& context,
                          int import_no);
  /// Rolls the archive's transaction back; false when that failed or cannot be confirmed.
  bool RollBack(dbstruct::tDatabase_Structure& structure) noexcept;
  /// Runs a step after the commit; its failure becomes a warning of the imported archive.
  void AfterCommit(tImportedArchive& archive, const std::function<void()>& step);
  /// The definition row of `signature` in the import list, or false.
  bool FindDefinition(const std::string& signature);
  /// The import of `signature` with the highest CLIENTEXPORTNO, or with CLIENTEXPORTNO `export_no`.
  std::optional<tLoggedImport> LoggedImport(const std::string& signature, std::optional<int> export_no);
  int NextImportNo(const std::string& signature);
  void Prepare(dbstruct::tDatabase_Structure& structure, const std::string& signature);
  /// Asks for and makes the backup of the current database, once per database and run.
  void OfferBackup(const std::string& definition_name);
  /// Tells the run's progress option where the merge stands.
  void Progress(tImportProgressStep step) {
    if (run_.run_options_.progress) run_.run_options_.progress(step, progress_);
  }
  /// Tells the run's archive option which archive is taken up.
  void ArchiveBegun() {
    if (run_.run_options_.archive_begun) run_.run_options_.archive_begun(progress_);
  }
  /// Copies the archive's counters so far into the progress.
  void NoteCounters(const tImportCounters& archive, const tMergeCounters& merged) {
    tImportCounters& counters = progress_.counters;
    counters.processed = archive.processed;
    counters.refused = archive.refused;
    counters.duplicates = merged.duplicates;
    counters.appended = merged.appended;
    counters.updated = merged.updated;
    counters.deleted = merged.deleted;
    counters.ignored = merged.ignored;
    counters.conflicts = merged.conflicts;
  }
  /// Starts the progress of the archive at `path` and, for a progress option, the count of its
  /// rows.
  void StartMergeProgress(const std::string& path);
  /// Takes the count's totals once it is done (waiting for it when `wait`).
  void TakeCount(bool wait);
  /// The counted rows of section `index` when that section is `name`, else 0.
  std::int64_t SectionTotal(std::size_t index, const std::string& name) const;
  /// Ends the archive's progress; its count is finished first.
  void EndMergeProgress();
  /// A table section of the archive begins.
  void StartSection(const std::string& name, bool deleted_rows);
  /// Marks the current database for the restore offer when it was backed up in this run: it may
  /// hold part of the archive `file_name`.
  void FlagRestore(const std::string& file_name);
  /// Notes the committed archive `file_name` at the current database's backup, if it has one.
  void NoteCommitted(const std::string& file_name);
  dbaccess::Connection& Connection() const { return run_.access_.Connection; }

  tImportRun& run_;
  tRunHost& host_;
  tImportResult& result_;
  tReplLog log_;
  std::optional<tRunAnswer> backup_answer_;               ///< the last answer to the backup question
  std::string connection_string_;                         ///< of the archive being imported (plain)
  std::set<std::string> failed_signatures_;               ///< Signatures whose later archives are skipped
  tImportProgress progress_;                              ///< of the archive being imported
  bool merging_ = false;                                  ///< its merge began and its end is not yet reported
  std::future<std::vector<tArchiveTableRows>> counting_;  ///< its rows being counted
  bool counted_ = false;                                  ///< the count's totals are taken
  std::vector<tArchiveTableRows> sections_;               ///< its table sections as counted
  std::size_t next_section_ = 0;                          ///< the index of the section that begins next
};

void tImportRun::Session::StartMergeProgress(const std::string& path) {
  sections_.clear();
  counted_ = false;
  next_section_ = 0;
  progress_.archive_rows = 0;
  progress_.archive_total = 0;
  progress_.table.clear();
  progress_.deleted_rows = false;
  progress_.table_rows = 0;
  progress_.table_total = 0;
  merging_ = true;
  // The count reads the whole archive once more: only for someone who shows it, and beside the
  // merge unless the totals are wanted before it begins.
  if (run_.run_options_.progress) {
    counting_ = std::async(std::launch::async, [path] { return CountArchiveRows(path); });
    if (run_.run_options_.totals_first) TakeCount(true);
  }
  Progress(tImportProgressStep::ArchiveStart);
}

void tImportRun::Session::TakeCount(bool wait) {
  if (!counting_.valid()) return;
  if (!wait && counting_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return;
  sections_ = counting_.get();
  counted_ = true;
  for (const tArchiveTableRows& section : sections_) progress_.archive_total += section.rows;
  // A section begun before the count came gets its total now.
  if (next_section_ > 0) progress_.table_total = SectionTotal(next_section_ - 1, progress_.table);
}

std::int64_t tImportRun::Session::SectionTotal(std::size_t index, const std::string& name) const {
  // The merge meets the sections in the order they were counted; one the count did not reach
  // (it stopped at a damage) has no total.
  return index < sections_.size() && sections_[index].name == name ? sections_[index].rows : 0;
}

void tImportRun::Session::EndMergeProgress() {
  merging_ = false;
  // No count outlives its archive's merge; the end tells the totals.
  TakeCount(true);
  Progress(tImportProgressStep::ArchiveEnd);
}

void tImportRun::Session::StartSection(const std::string& name, bool deleted_rows) {
  progress_.table = name;
  progress_.deleted_rows = deleted_rows;
  progress_.table_rows = 0;
  progress_.table_total = SectionTotal(next_section_, name);
  ++next_section_;
  if (!counted_) TakeCount(false);
  Progress(tImportProgressStep::TableStart);
}

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
  } catch (const EAbort&) {
    throw;  // the run says it was cancelled
  } catch (const std::exception& error) {
    Log(Ansi("Zálohování databáze neúspěšné: ") + error.what());
    throw;
  }
  Log(Ansi("Zálohování databáze OK"));
  result_.BackedUp.push_back({database_name, connection_string_, false, {}, {}});
}

void tImportRun::Session::FlagRestore(const std::string& file_name) {
  if (!Connection().IsOpen()) return;
  if (tBackedUpDatabase* entry =
          FindBackedUp(result_.BackedUp, Connection().DefaultDatabase(), connection_string_)) {
    if (!entry->RestoreWanted) entry->PartialArchive = file_name;
    entry->RestoreWanted = true;
  }
}

void tImportRun::Session::NoteCommitted(const std::string& file_name) {
  if (tBackedUpDatabase* entry =
          FindBackedUp(result_.BackedUp, Connection().DefaultDatabase(), connection_string_)) {
    entry->CommittedSince.push_back(file_name);
  }
}

void tImportRun::Session::ImportAll(const std::vector<std::string>& archives) {
  Log(fmt::sprintf(Ansi("Nalezeno %d %s archivů"), static_cast<int>(archives.size()),
                   std::string(kArchiveExtension)));
  std::vector<tFoundArchive> found;
  found.reserve(archives.size());
  for (const std::string& path : archives) found.push_back(ReadFound(path));
  OrderByExportNo(found);

  const int count = static_cast<int>(found.size());
  bool cancelled = false;
  for (int i = 0; i < count; ++i) {
    const tFoundArchive& next = found[static_cast<std::size_t>(i)];
    result_.Archives.push_back({next.path});
    tImportedArchive& archive = result_.Archives.back();
    if (cancelled) {
      archive.Reason = Ansi("Import byl přerušen");
      continue;
    }
    const std::string name = FileNameOf(archive.Path);
    progress_.archive = name;
    progress_.archive_number = i + 1;
    progress_.archive_count = count;
    progress_.client.clear();
    progress_.database.clear();
    progress_.counters = {};
    progress_.run_counters = result_.Total;
    ArchiveBegun();
    host_.SetTableName(name);
    host_.SetActivity(fmt::sprintf("(%d z %d)", i + 1, count));
    host_.SetRecordCount(0);
    try {
      Log(Ansi("Otvírám archiv ") + name);
      ImportArchive(archive, next);
    } catch (const EAbort&) {
      archive.State = tArchiveState::Failed;
      archive.Reason = Ansi("Import přerušen uživatelem");
      cancelled = true;
    } catch (const std::exception& error) {
      if (archive.State == tArchiveState::Imported) {
        archive.Warnings.push_back(Ansi("Po potvrzení importu selhalo: ") + error.what());
      } else {
        archive.State = tArchiveState::Failed;
        archive.Reason = FailureText(error);
        if (next.header) failed_signatures_.insert(next.header->Signature);
      }
    }
    if (merging_) EndMergeProgress();
    if (archive.State != tArchiveState::Imported) {
      // Nothing of it stays (or what may stay is unknown): no counters, no warnings of its merge.
      archive.ImportNo = 0;
      archive.Counters = {};
      archive.Warnings.clear();
      archive.RefusedTables.clear();
      archive.Tables.clear();
    }
    if (archive.State == tArchiveState::Imported) {
      AfterCommit(archive, [&] { Log(Ansi("Zavírám archiv ") + name); });
      result_.Total += archive.Counters;
    } else {
      LogQuietly(Ansi("Zavírám archiv ") + name);
    }
    host_.ClearLabels();
    Connection().Close();
  }
  if (cancelled) throw EAbort();
}

bool tImportRun::Session::FindDefinition(const std::string& signature) {
  return run_.import_list_.Locate("Signature", dataset::Variant::String(signature));
}

std::optional<tLoggedImport> tImportRun::Session::LoggedImport(const std::string& signature,
                                                               std::optional<int> export_no) {
  auto query = Connection().Prepare(
      export_no ? "select CLIENTEXPORTNO, IMPORTNO, IMPORTDATE from rep_IMPORTLOG where Signature=:Signature "
                  "and CLIENTEXPORTNO=:ExportNo order by IMPORTNO desc"
                : "select CLIENTEXPORTNO, IMPORTNO, IMPORTDATE from rep_IMPORTLOG where Signature=:Signature "
                  "order by CLIENTEXPORTNO desc, IMPORTNO desc");
  query->SetParameter("Signature", dbaccess::Value::Text(signature));
  if (export_no) query->SetParameter("ExportNo", dbaccess::Value::Integer(*export_no));
  auto rows = query->Open();
  if (!rows->Next()) return std::nullopt;
  tLoggedImport logged;
  logged.export_no = static_cast<int>(rows->Get(0).AsInteger());
  logged.import_no = static_cast<int>(rows->Get(1).AsInteger());
  try {
    logged.time = ReplLogTimeText(dbaccess::DaysOf(rows->Get(2).AsDateTime()));
  } catch (const Error&) {
    logged.time = rows->Get(2).AsString();
  }
  return logged;
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

void tImportRun::Session::ImportArchive(tImportedArchive& archive, const tFoundArchive& found) {
  CheckCancel();
  if (!found.header) {
    archive.State = tArchiveState::Damaged;
    archive.Reason = found.reason;
    Log(Ansi("Archiv odmítnut: ") + found.reason);
    return;
  }
  if (failed_signatures_.count(found.header->Signature) > 0) {
    archive.Signature = found.header->Signature;
    archive.ExportNo = found.header->ExportNo;
    archive.ExportTime = found.header->ExportTime;
    archive.Reason =
        fmt::sprintf(Ansi("Archiv přenosu %s s nižším číslem nebyl importován"), archive.Signature);
    Log(Ansi("Archiv přeskočen: ") + archive.Reason);
    return;
  }
  if (const std::string problem = FileReadProblem(archive.Path); !problem.empty())
    throw ReplicationError(Ansi("Archiv nelze otevřít: ") + problem);
  tArchiveReader reader(archive.Path);
  const tArchiveHeader& header = reader.Header();
  if (!header.Identified) throw ReplicationError(Ansi("Soubor není přenosový archiv"));
  archive.Signature = header.Signature;
  archive.ExportNo = header.ExportNo;
  archive.ExportTime = header.ExportTime;
  Log((Ansi("Identifikace přenosu je ") + header.Signature).substr(0, 34));
  host_.SetActivity(
      fmt::sprintf(Ansi("%s (pořadí %d)"), ReplLogTimeText(header.ExportTime), header.ExportNo));
  if (header.ExportNo < 1) {
    archive.State = tArchiveState::Damaged;
    archive.Reason = fmt::sprintf(Ansi("Archiv je poškozený, číslo přenosu %d není platné"), header.ExportNo);
    Log(Ansi("Archiv odmítnut: ") + archive.Reason);
    return;
  }

  if (!FindDefinition(header.Signature)) {
    archive.State = tArchiveState::UnknownClient;
    archive.Reason =
        fmt::sprintf(Ansi("Identifikace přenosu %s není v seznamu definic importu"), header.Signature);
    Log(Ansi("Identifikace přenosu nenalezena"));
    return;
  }
  expr::RunValues().signature = header.Signature;
  dataset::TDataSet& list = run_.import_list_;
  const std::string connection_string =
      core::TransformConnectionString(list.FieldByName("ConnectionString").AsString(), false);
  const std::string database_name = list.FieldByName("DatabaseName").AsString();
  const std::string client_name = list.FieldByName("ClientName").AsString();
  archive.Client = client_name;
  archive.Database = database_name;

  connection_string_ = connection_string;
  progress_.client = client_name;
  progress_.database = database_name;
  ArchiveBegun();
  Log(Ansi("Identifikace přenosu OK"));
  Log(Ansi("Klient               : ") + client_name);
  Log(Ansi("Cílová databáze      : ") + database_name);
  Log(fmt::sprintf(Ansi("# přenosu u klienta  : %d"), header.ExportNo));
  Log(Ansi("čas přenosu u klienta: ") + ReplLogTimeText(header.ExportTime));
  // Before the database is touched: an archive its definition does not trust is left alone.
  tTrustVerdict trust = JudgeArchiveTrust(archive.Path, header.Signature);
  std::unique_ptr<tArchiveReader> checked;
  if (!trust.Refused && trust.Checked) {
    // What is merged is the copy whose signature was checked; it must be the archive whose
    // header the decisions so far were made on.
    checked = std::make_unique<tArchiveReader>(trust.Checked->Path());
    const tArchiveHeader& copied = checked->Header();
    if (copied.Signature != header.Signature || copied.ExportNo != header.ExportNo ||
        copied.ExportTime != header.ExportTime || copied.Form != header.Form) {
      trust.Refused = true;
      trust.Text = Ansi("archiv se během importu změnil");
    }
  }
  archive.Trust = trust.Text;
  archive.Verified = !trust.Refused && trust.Checked != nullptr;
  if (trust.Refused) {
    archive.State = tArchiveState::Untrusted;
    archive.Reason = std::move(trust.Text);
    Log(Ansi("Archiv odmítnut: ") + archive.Reason);
    return;
  }
  Log(trust.Text);
  // The table label names the tables the analysis reaches, not the archive.
  host_.ClearLabels();
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
  if (!JudgeExportNo(archive, header)) return;
  host_.ShowProgress(false, false);
  MergeArchive(archive, checked ? *checked : reader, checked ? trust.Checked->Path() : archive.Path,
               *structure, database_name);
  host_.ClearLabels();

  if (!run_.run_options_.done_folder.empty()) {
    AfterCommit(archive,
                [&] { archive.MovedTo = MoveIntoFolder(archive.Path, run_.run_options_.done_folder); });
  }
}

bool tImportRun::Session::JudgeExportNo(tImportedArchive& archive, const tArchiveHeader& header) {
  const std::optional<tLoggedImport> last = LoggedImport(header.Signature, std::nullopt);
  if (!last) return true;
  if (header.ExportNo > last->export_no + 1) {
    const std::string gap =
        header.ExportNo == last->export_no + 2
            ? fmt::sprintf(Ansi("Chybí přenos č. %d (naposledy importován přenos č. %d)"),
                           last->export_no + 1, last->export_no)
            : fmt::sprintf(Ansi("Chybí přenosy č. %d až %d (naposledy importován přenos č. %d)"),
                           last->export_no + 1, header.ExportNo - 1, last->export_no);
    Log(Ansi("Upozornění: ") + gap);
    archive.Warnings.push_back(gap);
    return true;
  }
  if (header.ExportNo > last->export_no) return true;

  // An older archive (a late copy, a second delivery) would take back newer changes and deletions.
  const std::optional<tLoggedImport> same = LoggedImport(header.Signature, header.ExportNo);
  const std::string what =
      same ? fmt::sprintf(Ansi("Přenos č. %d už byl importován %s (import č. %d)"), header.ExportNo,
                          same->time, same->import_no)
           : fmt::sprintf(Ansi("Přenos č. %d je starší než přenos č. %d importovaný %s (import č. %d)"),
                          header.ExportNo, last->export_no, last->time, last->import_no);
  const std::string name = FileNameOf(archive.Path);
  bool merge = run_.run_options_.reimport;
  if (!merge && run_.run_options_.confirm_reimport) {
    merge = host_.Confirm(
        what + Ansi(".\r\nOpětovný import může vrátit novější změny a obnovit smazané řádky.\r\n") +
        fmt::sprintf(Ansi("Mám archiv %s přesto importovat?"), name));
  }
  if (merge) {
    archive.Redelivered = what;
    Log(Ansi("Upozornění: ") + what + Ansi(", archiv se importuje znovu na žádost uživatele"));
    return true;
  }
  archive.State = tArchiveState::AlreadyImported;
  archive.Reason = what + Ansi(", archiv ponechán neimportován, aby nevrátil novější změny");
  Log(Ansi("Archiv odmítnut: ") + archive.Reason);
  return false;
}

void tImportRun::Session::MergeArchive(tImportedArchive& archive, tArchiveReader& reader,
                                       const std::string& reader_path,
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
      if (!rows->Next()) throw ReplicationError(Ansi("Čas serveru nelze přečíst"));
      import_time = dbaccess::DaysOf(rows->Get(0).AsDateTime());
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

  const std::string file_name = FileNameOf(archive.Path);
  StartMergeProgress(reader_path);
  // Everything the archive changes, and its log rows, commit together or not at all.
  {
    dbaccess::TransactionGuard transaction(Connection());
    try {
      MergeInTransaction(archive, reader, structure,
                         {header.Signature, import_time, file_name, database_name}, import_no);
      transaction.Commit();
    } catch (...) {
      archive.RollbackUnconfirmed = !RollBack(structure);
      if (archive.RollbackUnconfirmed) {
        FlagRestore(file_name);
        LogQuietly(Ansi("Vrácení importu nelze potvrdit, databáze může obsahovat část archivu"));
      } else {
        LogQuietly(Ansi("Import vrácen, databáze ponechána beze změny"));
      }
      throw;
    }
  }
  // Committed: what follows can no longer take the archive back.
  archive.ImportNo = import_no;
  archive.State = tArchiveState::Imported;
  NoteCommitted(file_name);
  AfterCommit(archive, [this] { Log(Ansi("Import dokončen")); });
}

void tImportRun::Session::MergeInTransaction(tImportedArchive& archive, tArchiveReader& reader,
                                             dbstruct::tDatabase_Structure& structure,
                                             const tMergeRunContext& context, int import_no) {
  const tArchiveHeader& header = reader.Header();
  const ClosedData close_before_rollback(structure);
  tMergeRules rules(Connection(), structure, context);
  rules.OnLog = [this](const std::string& line) { Log(line); };
  rules.CheckCancel = [this] { CheckCancel(); };
  rules.OnTableShown = [this](const std::string& name) { host_.SetTableName(name); };
  rules.Conflicts = result_.Conflicts.get();
  tImportReportTap report_tap(result_, context.archive_name, Connection());
  // The rows of a Unicode archive are UTF-8 from the archive to the database and back.
  const dbaccess::UnicodeTextScope text_form(Connection(), header.Form == tTextForm::Unicode);
  tQVMMerger merger;
  merger.Adapter.SetTextForm(header.Form);
  merger.Structure = &structure;
  merger.Stream = &reader.Stream();
  rules.Install(merger);
  merger.OnBeforeTable = [this, rules_before = merger.OnBeforeTable](tQVMMerger& m) {
    if (rules_before) rules_before(m);
    StartSection(m.TableName, m.IsDeletedRowsTable != 0);
  };
  report_tap.Install(merger, rules);
  merger.OnAfterRow = [this, &archive, &rules](tQVMMerger& m, dataset::TDataSet& row) {
    CheckCancel();
    // The merger reads the rows of a table the database does not have through without effect.
    if (m.CurrentTable == nullptr) {
      const dataset::TField* named = m.IsDeletedRowsTable != 0 ? row.FindField("TABLENAME") : nullptr;
      const std::string table = named != nullptr ? named->AsString() : m.TableName;
      auto& refused = archive.RefusedTables;
      auto entry =
          std::find_if(refused.begin(), refused.end(), [&](const auto& e) { return e.first == table; });
      if (entry == refused.end()) {
        Log(fmt::sprintf(Ansi("Tabulka %s v cílové databázi není, její řádky jsou odmítnuty"), table));
        refused.emplace_back(table, 0);
        entry = std::prev(refused.end());
      }
      ++entry->second;
      ++archive.Counters.refused;
    }
    ++archive.Counters.processed;
    host_.SetRecordCount(archive.Counters.processed);
    ++progress_.table_rows;
    ++progress_.archive_rows;
    if (!counted_ && (progress_.archive_rows & 1023) == 0) TakeCount(false);
    if (run_.run_options_.progress) NoteCounters(archive.Counters, rules.Counters());
    Progress(tImportProgressStep::Row);
    host_.ProcessEvents();
  };

  host_.SetTableName({});
  host_.SetActivity(Ansi("Importuji tabulku"));
  try {
    if (!merger.Merge()) {
      throw ReplicationError(Ansi("Archiv ") + context.archive_name + Ansi(" je neúplný nebo poškozený"));
    }
  } catch (const EAbort&) {
    throw;  // the run says it was cancelled
  } catch (const std::exception& error) {
    Log(Ansi("Výjimka při importu dat ") + error.what());
    throw;
  }

  const tMergeCounters& counters = rules.Counters();
  archive.Counters.duplicates = counters.duplicates;
  archive.Counters.appended = counters.appended;
  archive.Counters.updated = counters.updated;
  archive.Counters.deleted = counters.deleted;
  archive.Counters.ignored = counters.ignored;
  archive.Counters.conflicts = counters.conflicts;
  archive.Tables = report_tap.Tables(structure, rules);
  if (archive.Counters.refused > 0) {
    std::string tables;
    for (const auto& [table, count] : archive.RefusedTables) {
      tables += (tables.empty() ? "" : ", ") + fmt::sprintf("%s: %d", table, count);
    }
    archive.Warnings.push_back(
        fmt::sprintf(Ansi("Odmítnuto řádků tabulek, které cílová databáze nemá: %d (%s)"),
                     archive.Counters.refused, tables));
  }
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
  } catch (const std::exception& error) {
    Log(Ansi("Výjimka: ") + error.what());
    throw;
  }
}

bool tImportRun::Session::RollBack(dbstruct::tDatabase_Structure& structure) noexcept {
  // Open statements of the tables must not keep the rollback from running.
  try {
    structure.CloseData();
  } catch (...) {
  }
  try {
    if (!Connection().IsOpen() || !Connection().InTransaction()) return false;
    Connection().Rollback();
    return true;
  } catch (...) {
    return false;
  }
}

void tImportRun::Session::AfterCommit(tImportedArchive& archive, const std::function<void()>& step) {
  try {
    step();
  } catch (const std::exception& error) {
    const std::string warning = Ansi("Po potvrzení importu selhalo: ") + error.what();
    // A log that cannot be written fails every later line alike: it is said once.
    if (std::find(archive.Warnings.begin(), archive.Warnings.end(), warning) != archive.Warnings.end())
      return;
    archive.Warnings.push_back(warning);
    LogQuietly(Ansi("Upozornění: ") + warning);
  }
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
  return ArchivesInFolder(text::AnsiToUtf8(options_.ImportFolder));
}

namespace {

/// The outcome of a run whose archives all had their turn, and its text; `folder` is the import
/// folder (UTF-8).
void JudgeRun(tImportResult& result, const std::string& folder) {
  if (result.Archives.empty()) {
    // Nothing failed, and nothing was imported either: the person is told which folder was empty.
    result.Outcome = tImportOutcome::Success;
    result.Text = Ansi("Nebylo co importovat: ve složce " + folder + " není žádný archiv (*.ZR2)");
    return;
  }
  int errors = 0;
  bool warnings = false;
  for (const tImportedArchive& archive : result.Archives) {
    if (IsError(archive)) ++errors;
    warnings = warnings || IsWarning(archive);
  }
  if (errors > 0) {
    result.Outcome = tImportOutcome::Failed;
    result.Text = fmt::sprintf(Ansi("Import dokončen s chybami: neimportováno %d z %d archivů"), errors,
                               static_cast<int>(result.Archives.size()));
  } else if (warnings) {
    result.Outcome = tImportOutcome::Warnings;
    result.Text = Ansi("Import dokončen s upozorněními");
  } else if (result.Total.conflicts > 0) {
    result.Outcome = tImportOutcome::Conflicts;
    result.Text = Ansi("Při importu se vyskytly chyby");
  } else {
    result.Outcome = tImportOutcome::Success;
    result.Text = Ansi("Import úspěšně dokončen");
  }
}

}  // namespace

tImportResult tImportRun::Run() {
  host_.ClearCancel();
  expr::InitRuleLists();
  tImportResult result;
  result.Started = std::time(nullptr);
  const auto started = std::chrono::steady_clock::now();
  const auto stop_clock = [&result, started] {
    result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  };
  const std::vector<std::string> archives = FindArchives();
  Session session(*this, result);
  bool logged = false;
  try {
    if (!session.OpenLog()) {
      result.Outcome = tImportOutcome::Cancelled;
      result.Text = Ansi("Import přerušen uživatelem");
      stop_clock();
      return result;
    }
    logged = true;
    const std::string folder = text::AnsiToUtf8(options_.ImportFolder);
    const tRunLock lock(
        (fs::path(folder) / kLockFileName).string(),
        Ansi("Import ze složky " + folder + " už probíhá v jiném programu. Počkejte, až skončí."));
    session.Log(Ansi("Startuji import"));
    session.ImportAll(archives);
    JudgeRun(result, folder);
  } catch (const EAbort&) {
    result.Outcome = tImportOutcome::Cancelled;
    result.Text = Ansi("Import přerušen uživatelem");
  } catch (const std::exception& error) {
    result.Outcome = tImportOutcome::Failed;
    result.Text = error.what();
  }
  stop_clock();
  // Every archive that did not simply go in is named with its outcome, in the log and the message.
  std::string message = result.Text;
  if (result.Outcome == tImportOutcome::Warnings ||
      (result.Outcome == tImportOutcome::Failed && !result.Archives.empty())) {
    message += "\r\n\r\n" + ImportSummary(result);
  }
  if (logged && result.Outcome != tImportOutcome::Success && result.Outcome != tImportOutcome::Conflicts) {
    session.LogQuietly(result.Text);
    for (const tImportedArchive& archive : result.Archives) {
      if (IsError(archive) || IsWarning(archive)) {
        session.LogQuietly(FileNameOf(archive.Path) + ": " + ArchiveOutcomeText(archive));
      }
    }
  }
  host_.ClearLabels();
  host_.ShowProgress(false, false);
  host_.ShowMessage(message);
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
    std::string question =
        fmt::sprintf(Ansi("Import archivu %s do databáze %s nelze potvrzeně vrátit, databáze může obsahovat "
                          "jeho část."),
                     entry.PartialArchive, entry.DatabaseName);
    if (!entry.CommittedSince.empty()) {
      std::string names;
      for (const std::string& name : entry.CommittedSince) names += (names.empty() ? "" : ", ") + name;
      question += Ansi("\r\nObnova ze zálohy vrátí i archivy importované po záloze: ") + names + ".";
    }
    question += Ansi("\r\nMám databázi obnovit ze zálohy?");
    const tRunAnswer answer = host_.AskRestore(question);
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
    entry.CommittedSince.clear();
    write(Ansi("Obnova databáze OK"));
  }
  return true;
}

}  // namespace tamaril::replication
