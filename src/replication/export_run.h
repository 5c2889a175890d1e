#pragma once

#include <string>
#include <utility>
#include <vector>

#include "replication/database_open.h"

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
};

/// How an export run ended.
enum class tExportOutcome {
  Success,    ///< the archive is in place and the run is logged
  Cancelled,  ///< the person stopped it
  Failed,     ///< an error ended it
};

/// A value that reached the archive with '?' in place of characters Windows-1250 cannot hold.
struct tExportWarning {
  std::string Table;   ///< the table's name
  std::string Key;     ///< the row's primary-key values as text
  std::string Column;  ///< the column's name
};

/// What an export run did. A run that did not succeed leaves no archive and no log row, and
/// the archive of an earlier run as it was.
struct tExportResult {
  tExportOutcome Outcome = tExportOutcome::Failed;
  /// "Export úspěšně dokončen", "Export přerušen uživatelem" or the error's message.
  std::string Text;
  int ExportNo = 0;  ///< EXPORTNO of a successful run, else 0
  /// Rows written per published table, in the order they were written.
  std::vector<std::pair<std::string, int>> Rows;
  std::string ArchivePath;     ///< the finished archive (UTF-8 path); empty unless successful
  std::string MovedAsidePath;  ///< where the replaced archive of an earlier run went, or empty
  std::vector<tExportWarning> Warnings;
};

/// "Eport pro CENTER, databáze DATABASE": the caption of the run's window.
std::string ExportCaption(const tExportDefinition& definition);

/// One export run: the rows the export rules of a definition select go into the archive named
/// after its Signature in the export folder, and the run is written to the database's export
/// log so that the next run starts where this one ended. The archive is finished under a
/// temporary name and put in place only once the log is committed; an archive it replaces is
/// first renamed to "SIGNATURE-EXPORTNO.ZR2.bak". Only one run of a Signature at a time: the
/// export folder holds a lock file per archive name.
class tExportRun {
 public:
  /// A run through `access` into `options.ExportFolder`, talking to `host`; all borrowed.
  tExportRun(const tDatabaseAccess& access, const core::TReplOptions& options, tRunHost& host);
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
};

}  // namespace tamaril::replication
