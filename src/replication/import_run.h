#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "replication/conflict_list.h"
#include "replication/database_open.h"

namespace tamaril::core {
struct TReplOptions;
}

namespace tamaril::dataset {
class TDataSet;
}

namespace tamaril::replication {

class tRunHost;

/// How an import run ended.
enum class tImportOutcome {
  Success,    ///< every archive was imported without a conflict
  Conflicts,  ///< every archive was imported, some rows ended as conflicts
  Cancelled,  ///< the person stopped it (or refused to run without the log)
  Failed,     ///< an error ended it
};

/// The counters shown for one archive and for the whole run.
struct tImportCounters {
  std::int64_t processed = 0;
  std::int64_t duplicates = 0;
  std::int64_t appended = 0;
  std::int64_t updated = 0;
  std::int64_t deleted = 0;
  std::int64_t ignored = 0;
  std::int64_t conflicts = 0;
};

/// What happened to one archive of the import folder.
enum class tArchiveState {
  NotArchive,     ///< not a transfer archive: skipped without a log line
  UnknownClient,  ///< its Signature has no import definition: skipped
  AlreadyDone,    ///< skipped because its export number stands in the import log already
  Imported,       ///< merged and logged
  Failed,         ///< an error (or the cancellation) ended the run here; nothing of it stays
};

/// One archive of a run.
struct tImportedArchive {
  std::string Path;  ///< as found (UTF-8)
  tArchiveState State = tArchiveState::NotArchive;
  std::string Signature;  ///< from the header (Windows-1250), when it was read
  int ExportNo = 0;       ///< from the header
  int ImportNo = 0;       ///< the IMPORTNO it was logged under; 0 unless imported
  tImportCounters Counters;
  std::string MovedTo;  ///< where the done folder option moved it, or empty
};

/// A database the run backed up before merging into it.
struct tBackedUpDatabase {
  std::string DatabaseName;      ///< the data connection's default database (Windows-1250)
  std::string ConnectionString;  ///< plain
  bool RestoreWanted = false;    ///< an error or a conflict happened in it after the backup
};

/// What an import run did. An archive whose import failed leaves its database as it was.
struct tImportResult {
  tImportOutcome Outcome = tImportOutcome::Failed;
  /// "Import úspěšně dokončen", "Při importu se vyskytly chyby", "Import přerušen uživatelem"
  /// or the error's message.
  std::string Text;
  std::vector<tImportedArchive> Archives;  ///< in the order they were run
  tImportCounters Total;                   ///< over the archives that were imported
  std::unique_ptr<tConflictList> Conflicts = std::make_unique<tConflictList>();
  std::vector<tBackedUpDatabase> BackedUp;  ///< in the order they were backed up
};

/// Options of unattended runs.
struct tImportRunOptions {
  /// Folder (UTF-8) each archive whose import committed is moved into; empty: they stay. A
  /// move that fails ends the run, the archive staying imported.
  std::string done_folder;
  /// Skip an archive whose Signature and EXPORTNO stand in rep_IMPORTLOG as CLIENTEXPORTNO.
  bool skip_imported = false;
  /// Receives every line the run writes to its log (time-stamped, Windows-1250, without the line
  /// end), also when the log file is off; empty: none.
  std::function<void(const std::string& line)> log_echo;
};

/// One import run: every *.ZR2 file of the import folder, in the order of the names, is
/// identified by its header's Signature, looked up in the import list and merged into the
/// definition's database under its import rules. The merge of an archive and its import log
/// rows are one transaction: an archive that fails leaves the database as it was, and the run
/// ends there. Only one run of a folder at a time: the folder holds a lock file.
class tImportRun {
 public:
  /// A run through `access` over `options.ImportFolder`, with the definitions of `import_list`
  /// (fields Signature, ClientName, ConnectionString as stored, DatabaseName), talking to
  /// `host`; all borrowed. The run writes its lines to the log file of `options`.
  tImportRun(const tDatabaseAccess& access, const core::TReplOptions& options, dataset::TDataSet& import_list,
             tRunHost& host, tImportRunOptions run_options = {});
  ~tImportRun();
  tImportRun(const tImportRun&) = delete;
  tImportRun& operator=(const tImportRun&) = delete;

  /// The archives of the import folder (UTF-8 paths), sorted by name; files only.
  std::vector<std::string> FindArchives() const;

  /// Runs every archive, then clears the labels, hides the bars and shows the result's text.
  /// Never throws the run's failures or the cancellation: the result tells; throws only what
  /// the host throws while the result is shown.
  tImportResult Run();

  /// The offers when the run is closed: for every database of `result.BackedUp` whose restore
  /// is wanted, in order, asks the host's restore question; Yes restores it from the run's
  /// backup. False when the person answered Abort (the close is refused; a later call asks
  /// again). Throws the restore's error.
  bool OfferRestores(tImportResult& result);

 private:
  class Session;

  const tDatabaseAccess& access_;
  const core::TReplOptions& options_;
  dataset::TDataSet& import_list_;
  tRunHost& host_;
  tImportRunOptions run_options_;
};

}  // namespace tamaril::replication
