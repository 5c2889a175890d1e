#pragma once

#include <string>
#include <utility>
#include <vector>

#include "replication/database_open.h"
#include "replication/text_form.h"

namespace tamaril::core {
struct TReplOptions;
}

namespace tamaril::replication {

class tRunHost;

/// The export definition a run works for, as the export list holds it (Windows-1250).
struct tExportDefinition {
  std::string Signature;         ///< as stored, at most 10 characters, blanks kept
  std::string ConnectionString;  ///< the plain (unscrambled) connection string
  std::string DatabaseName;
  std::string CenterName;
  /// How the archive carries texts: Unicode keeps every character, Compatible (Windows-1250) is
  /// what every center reads.
  tTextForm TextForm = tTextForm::Compatible;
};

/// How an export run ended.
enum class tExportOutcome {
  Success,  ///< the archive is in place and the run is logged
  /// As Success, but texts reached the archive with '?' (LossyTables), or a step after the
  /// archive was put in place failed (Notes)
  Warnings,
  TextLossRefused,  ///< stopped before anything was written: texts Windows-1250 cannot carry
  Cancelled,        ///< the person stopped it
  Failed,           ///< an error ended it before the run was logged
  /// The run is logged and its archive complete, but it could not be put in place: it waits
  /// under PendingPath, and the next run of the Signature puts it there
  Unplaced,
};

/// What a run does with texts Windows-1250 cannot carry (each such character would reach the
/// archive as '?').
enum class tTextLoss {
  Refuse,  ///< the run stops before anything is written (TextLossRefused)
  Ask,     ///< the host's AllowTextLoss decides
  Allow,   ///< they travel with '?' and the run ends with Warnings
};

/// Values listed per table in LossyTextReport; the others are only counted.
constexpr int kListedLossyValues = 20;
/// Characters of a value the report shows; a longer value ends with "…".
constexpr int kShownValueChars = 40;

/// A value holding characters Windows-1250 cannot carry.
struct tExportWarning {
  std::string Table;   ///< the table's name
  std::string Key;     ///< the row's primary-key (or RowGuid) values as text
  std::string Column;  ///< the column's name
  /// The value, UTF-8, at most kShownValueChars characters and "…", control characters as
  /// blanks: as the database holds it when Exact, else as the export read it (with '?').
  std::string Value;
  bool Exact = false;  ///< Value was read again from the database
};

/// How many values of one table hold characters Windows-1250 cannot carry.
struct tLossyTable {
  std::string Table;
  long long Count = 0;                                     ///< all of them
  std::vector<std::pair<std::string, long long>> Columns;  ///< per column, in the order found
};

/// What an export run did. A run that failed, was cancelled or refused leaves no archive and no
/// log row, and the archive of an earlier run as it was.
struct tExportResult {
  tExportOutcome Outcome = tExportOutcome::Failed;
  /// "Export úspěšně dokončen", "Export dokončen s varováním", "Export přerušen uživatelem",
  /// the refusal of texts that would lose characters, the error's message, or for Unplaced
  /// what was logged, what failed and where the archive waits.
  std::string Text;
  int ExportNo = 0;  ///< EXPORTNO of a logged run, else 0
  /// Rows written per published table, in the order they were written.
  std::vector<std::pair<std::string, int>> Rows;
  std::string ArchivePath;     ///< the finished archive (UTF-8 path); empty unless completed
  std::string MovedAsidePath;  ///< where the replaced archive of an earlier run went, or empty
  std::string PendingPath;     ///< Unplaced: the complete archive under its temporary name
  /// The public key text of the site that signed the archive; empty when it is not signed.
  std::string SignedBy;
  /// The public key text the archive is sealed to; empty when it is not sealed.
  std::string SealedTo;
  /// Older replaced archives of the Signature removed beyond options.BackupCount (UTF-8).
  std::vector<std::string> RemovedBackups;
  /// What the run did besides (Windows-1250 sentences): the archive of an interrupted logged
  /// run put in place, a step after the archive was in place that failed.
  std::vector<std::string> Notes;
  /// The values Windows-1250 cannot carry: the first kListedLossyValues of each table.
  std::vector<tExportWarning> Warnings;
  /// Every table holding such values, in the order published; empty when there is none.
  std::vector<tLossyTable> LossyTables;
  /// The tables with an export rule whose rows nothing identifies (no RowGuid column, no single
  /// integer key): their deletions are not recorded, so they never travel.
  std::vector<std::string> UntrackedDeletions;
};

/// The list of values Windows-1250 cannot carry (UTF-8, lines ending in "\n"): their number,
/// per table the count per column and the first values with table, key and column, the rest as
/// "a dalších N hodnot", and how to switch the definition to the lossless Unicode form. Empty when
/// the result has no such value.
std::string LossyTextReport(const tExportResult& result);

/// "Archiv podepsán klíčem …" and "Archiv zašifrován pro klíč …" for SignedBy and SealedTo
/// (Windows-1250), the lines of those that are set.
std::vector<std::string> ArchiveProtectionLines(const tExportResult& result);

/// "Výmazy řádků tabulky X se nepřenášejí: …" for UntrackedDeletions (Windows-1250, one
/// sentence, without the remedy, which the program names); empty when there is none.
std::string UntrackedDeletionsNote(const tExportResult& result);

/// "Eport pro CENTER, databáze DATABASE": the caption of the run's window.
std::string ExportCaption(const tExportDefinition& definition);

/// One export run: the rows the export rules of a definition select go into the archive named
/// after its Signature in the export folder, and the run is written to the database's export
/// log so that the next run starts where this one ended. The archive is written and synced
/// under a temporary name ("SIGNATURE.ZR2.XXXXXX") and put in place only once the log is
/// committed; an archive it replaces is renamed to "SIGNATURE-EXPORTNO.ZR2.bak", of which the
/// newest options.BackupCount are kept. A run ended between the commit and the rename leaves
/// its archive under the temporary name: the next run of the Signature puts a logged one in
/// place first and removes any other. Only one run of a Signature at a time: the export
/// folder holds a lock file per archive name while a run lasts. Every text value the database holds that
/// Windows-1250 cannot carry is found while the rows are written; before the archive is put in
/// place the run reads the listed ones again as the database holds them and, unless their loss
/// is allowed, stops there.
class tExportRun {
 public:
  /// A run through `access` into `options.ExportFolder`, talking to `host` (all borrowed);
  /// texts Windows-1250 cannot carry are treated as `text_loss` says.
  tExportRun(const tDatabaseAccess& access, const core::TReplOptions& options, tRunHost& host,
             tTextLoss text_loss = tTextLoss::Refuse);
  ~tExportRun() = default;
  tExportRun(const tExportRun&) = delete;
  tExportRun& operator=(const tExportRun&) = delete;

  /// Runs the export of `definition`, then clears the labels, hides the bars and shows the
  /// result's text. Never throws the run's failures or the cancellation: the result tells;
  /// throws only what the host throws while the result is shown.
  tExportResult Run(const tExportDefinition& definition);

 private:
  class Session;

  const tDatabaseAccess& access_;
  const core::TReplOptions& options_;
  tRunHost& host_;
  tTextLoss text_loss_;
};

}  // namespace tamaril::replication
