#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <utility>
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
  Success,    ///< every archive was merged without a warning
  Conflicts,  ///< every archive was merged, some rows ended as conflicts; nothing else to warn of
  Warnings,   ///< nothing failed, but an archive was refused as imported already or merged with a warning
  Cancelled,  ///< the person stopped it (or refused to run without the log)
  Failed,     ///< an archive failed or was refused as damaged or unknown, or the run could not start
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
  std::int64_t refused = 0;  ///< rows (and deletions) of tables the target database does not have

  /// Adds every counter of `part`.
  tImportCounters& operator+=(const tImportCounters& part) {
    processed += part.processed;
    duplicates += part.duplicates;
    appended += part.appended;
    updated += part.updated;
    deleted += part.deleted;
    ignored += part.ignored;
    conflicts += part.conflicts;
    refused += part.refused;
    return *this;
  }
};

/// What happened to one archive of the import folder.
enum class tArchiveState {
  Damaged,          ///< not readable as a transfer archive, or its EXPORTNO is below 1: refused (an error)
  UnknownClient,    ///< its Signature has no import definition: refused (an error)
  Untrusted,        ///< not signed by the key its import definition trusts: refused (an error)
  AlreadyImported,  ///< its EXPORTNO is not above the last one imported: refused, left in place (a warning)
  Imported,         ///< merged and logged; Warnings may hold what went wrong after the commit
  Failed,           ///< an error (or the cancellation) stopped it; RollbackUnconfirmed tells what stays
  Skipped,          ///< not tried: the run was cancelled, or an archive of its Signature before it failed
};

/// What one target table received from an archive.
struct tImportedTable {
  std::string Name;  ///< as the structure names it (Windows-1250)
  std::int64_t Appended = 0;
  std::int64_t Updated = 0;
  /// Of the updated rows, those the update-field rule let through only in part.
  std::int64_t FieldUpdated = 0;
  std::int64_t Deleted = 0;  ///< deletions, as rep_IMPORTLOGDETAIL counts them
  std::int64_t Conflicts = 0;
};

/// One archive of a run.
struct tImportedArchive {
  std::string Path;  ///< as found (UTF-8)
  tArchiveState State = tArchiveState::Skipped;
  std::string Signature;  ///< from the header (Windows-1250), when it was read
  int ExportNo = 0;       ///< from the header
  double ExportTime = 0;  ///< from the header (days since 30 December 1899)
  int ImportNo = 0;       ///< the IMPORTNO it was logged under; 0 unless imported
  std::string Client;     ///< ClientName of its import definition (Windows-1250), once found
  std::string Database;   ///< DatabaseName of its import definition (Windows-1250), once found
  /// The verdict on its signature (Windows-1250) once judged; Verified tells whether the key its
  /// definition trusts checked it or it was accepted without a check.
  std::string Trust;
  bool Verified = false;
  /// Why it was a second delivery (its EXPORTNO not above the last one imported) when it was
  /// merged all the same on request; empty otherwise.
  std::string Redelivered;
  /// The target tables that received rows or conflicts, in the structure's order; empty unless
  /// imported.
  std::vector<tImportedTable> Tables;
  tImportCounters Counters;
  std::string MovedTo;  ///< where the done folder option moved it, or empty
  /// Why it was refused, failed or skipped (Windows-1250); empty for an imported archive.
  std::string Reason;
  /// What the person should know of an archive that went on (Windows-1250): a gap in the export
  /// numbers, rows of tables the database does not have, a step after the commit that failed.
  std::vector<std::string> Warnings;
  /// The tables of the rows counted as refused, each with its count, in the order met.
  std::vector<std::pair<std::string, std::int64_t>> RefusedTables;
  /// For a failed archive: the rollback of its transaction failed or could not be confirmed, so
  /// the database may hold part of it. False when it left the database as it was.
  bool RollbackUnconfirmed = false;
};

/// A database the run backed up before merging into it.
struct tBackedUpDatabase {
  std::string DatabaseName;      ///< the data connection's default database (Windows-1250)
  std::string ConnectionString;  ///< plain
  /// The database may hold part of an archive: its rollback failed or could not be confirmed.
  bool RestoreWanted = false;
  std::string PartialArchive;  ///< the file name of that archive (Windows-1250)
  /// The file names (Windows-1250) of the archives committed into it since the backup: a restore
  /// takes them back as well.
  std::vector<std::string> CommittedSince;
};

/// A value of a conflicting row.
struct tConflictValue {
  bool Present = false;  ///< the row has the column
  bool Null = false;
  std::string Text;  ///< UTF-8; binary data by its size
};

/// A target row a conflicting row met, with what found it.
struct tConflictTarget {
  std::string Match;                   ///< the index (constraint) or column that matched (Windows-1250)
  std::vector<tConflictValue> Values;  ///< one per tConflictRows::Fields
};

/// A conflict with its rows: the archive's row beside the target rows it met.
struct tConflictRows {
  std::string Archive;              ///< the archive's file name (Windows-1250)
  std::string Table;                ///< the target table (Windows-1250)
  std::string Message;              ///< the conflict line (Windows-1250)
  std::vector<std::string> Fields;  ///< the columns of the rows (Windows-1250)
  std::vector<tConflictValue> Source;
  std::vector<tConflictTarget> Targets;  ///< none when the target holds no such row
};

/// What an import run did. A failed archive whose rollback was confirmed leaves its database as
/// it was.
struct tImportResult {
  tImportOutcome Outcome = tImportOutcome::Failed;
  /// "Import úspěšně dokončen", "Při importu se vyskytly chyby", "Import dokončen s upozorněními",
  /// "Import dokončen s chybami…", "Import přerušen uživatelem" or the error that stopped the run.
  std::string Text;
  std::vector<tImportedArchive> Archives;  ///< in the order they were run
  tImportCounters Total;                   ///< over the archives that were imported
  std::unique_ptr<tConflictList> Conflicts = std::make_unique<tConflictList>();
  std::vector<tBackedUpDatabase> BackedUp;  ///< in the order they were backed up
  /// The first conflicts of the run with their rows, kept for the import report.
  std::vector<tConflictRows> ConflictRows;
  std::int64_t ConflictRowsLeftOut = 0;  ///< conflicts beyond those kept
  std::time_t Started = 0;               ///< when the run began
  double Seconds = 0;                    ///< how long it took
};

/// The outcome of one archive as one line (Windows-1250): "importován (import č. 3)",
/// "odmítnut: …", "vrácen, databáze ponechána beze změny: …", with its warnings after "; ".
std::string ArchiveOutcomeText(const tImportedArchive& archive);

/// Every archive of the run as "file name: outcome" (ArchiveOutcomeText), lines joined with CR LF.
std::string ImportSummary(const tImportResult& result);

/// Where the merge of an import run stands, for a display of its progress.
struct tImportProgress {
  std::string archive;             ///< the archive's file name (Windows-1250)
  int archive_number = 0;          ///< from 1, in the order the run takes the archives
  int archive_count = 0;           ///< archives of the run
  std::int64_t archive_rows = 0;   ///< rows of the archive read so far, whatever became of them
  std::int64_t archive_total = 0;  ///< rows the archive holds; 0 until they are counted
  std::string table;               ///< the table section being read (Windows-1250); empty before the first
  bool deleted_rows = false;       ///< the section holds the deleted rows
  std::int64_t table_rows = 0;     ///< rows of the section read so far
  std::int64_t table_total =
      0;  ///< rows the section holds; 0 until counted, or when damage kept them from it
  /// ClientName of the archive's definition; empty until it is found.
  std::string client;
  /// DatabaseName of that definition; empty until it is found.
  std::string database;
  /// The archive's counters so far, as the merge decided its rows.
  tImportCounters counters;
  /// The counters of the archives imported before it in this run.
  tImportCounters run_counters;
};

/// What moved the progress of an import run.
enum class tImportProgressStep {
  ArchiveStart,  ///< an archive's merge begins (its rows are being counted)
  TableStart,    ///< a table section of the archive begins
  Row,           ///< a row was read
  ArchiveEnd,    ///< the archive's merge ended, whatever its outcome
};

/// Options of unattended runs.
struct tImportRunOptions {
  /// Folder (UTF-8) each archive whose import committed is moved into; empty: they stay. A
  /// move that fails is a warning of the archive, which stays imported.
  std::string done_folder;
  /// Merge an archive whose EXPORTNO is not above the last one imported for its Signature as
  /// well (knowingly: it may take back newer changes and deletions); otherwise it is refused.
  bool reimport = false;
  /// Receives every line the run writes to its log (time-stamped, Windows-1250, without the line
  /// end), also when the log file is off; empty: none.
  std::function<void(const std::string& line)> log_echo;
  /// Unless `reimport` is set, asks the host's Confirm whether such an archive is to be merged.
  bool confirm_reimport = false;
  /// Told every step of every archive's merge, at every row too; empty: none. While it is set,
  /// each archive's rows are counted beside its merge, and the totals appear in the progress once
  /// known.
  std::function<void(tImportProgressStep step, const tImportProgress& progress)> progress;
  /// The progress wants the totals from the archive's start on: the count runs before the merge.
  bool totals_first = false;
  /// Told when the run takes up an archive (name, number, count and the run's counters so far)
  /// and again once its definition is found (client and database); empty: none.
  std::function<void(const tImportProgress& progress)> archive_begun;
};

/// One import run: every *.ZR2 file of the import folder is identified by its header's
/// Signature, looked up in the import list and merged into the definition's database under its
/// import rules; the archives of one Signature in the order of their EXPORTNO, each only when it
/// is newer than the last one imported. The merge of an archive and its import log rows are one
/// transaction: an archive that fails is rolled back, the later archives of its Signature are
/// skipped and the others go on. Only one run of a folder at a time: the folder holds a lock file.
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

  /// The archives of the import folder (UTF-8 paths), sorted by name; files only. Run takes the
  /// archives of each Signature in the order of their EXPORTNO in the places they hold here.
  std::vector<std::string> FindArchives() const;

  /// Runs every archive, then clears the labels, hides the bars and shows the result's text.
  /// Never throws the run's failures or the cancellation: the result tells; throws only what
  /// the host throws while the result is shown.
  tImportResult Run();

  /// The offers when the run is closed: for every database of `result.BackedUp` that may hold
  /// part of an archive, in order, asks the host's restore question, which names the archives a
  /// restore takes back as well; Yes restores it from the run's backup. False when the person
  /// answered Abort (the close is refused; a later call asks again). Throws the restore's error.
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
