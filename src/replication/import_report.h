#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "replication/import_run.h"

namespace tamaril::dbaccess {
class Connection;
}

namespace tamaril::dbstruct {
class tDatabase_Structure;
}

namespace tamaril::replication {

class tMergeRules;
class tQVMMerger;
enum class tConflictKind : int;

/// The most conflicts of one run kept with their rows; the rest are only counted.
inline constexpr std::size_t kReportedConflictLimit = 200;

/// Watches the merge of one archive for what the import report shows beyond the run's
/// counters: the rows of each conflict beside the target rows they met, and per table the
/// conflicts and the updates the update-field rule let through only in part.
class tImportReportTap {
 public:
  /// Keeps the conflicts of the archive `archive_name` (Windows-1250) in `result`; reads the
  /// target rows through `connection`. All borrowed.
  tImportReportTap(tImportResult& result, std::string archive_name, dbaccess::Connection& connection);

  /// Wraps the handlers `rules` installed on `merger`, and the rules' log; call after
  /// rules.Install. Both must not outlive this object.
  void Install(tQVMMerger& merger, tMergeRules& rules);

  /// The tables of `structure` that received rows or conflicts, in its order, with the counters
  /// of `rules` beside those of the tap.
  std::vector<tImportedTable> Tables(dbstruct::tDatabase_Structure& structure,
                                     const tMergeRules& rules) const;

 private:
  void Note(tQVMMerger& merger, dataset::TDataSet& row, tConflictKind kind, const std::string& table_name);

  tImportResult& result_;
  std::string archive_name_;
  dbaccess::Connection& connection_;
  bool listening_ = false;  ///< a conflict is being reported: its log line is the conflict's
  std::string line_;        ///< that line
  bool narrowed_ = false;   ///< the update being written lost fields to the update-field rule
  std::map<std::string, std::int64_t> field_updated_;
  std::map<std::string, std::int64_t> conflicts_;
};

/// How an archive of the report ended.
enum class tReportOutcome {
  Merged,      ///< imported and committed
  RolledBack,  ///< failed; its transaction was rolled back (or that could not be confirmed)
  Refused,     ///< not merged: damaged, unknown, untrusted or delivered again
  Skipped,     ///< not tried
};

/// An archive as the report lists it; texts UTF-8.
struct tReportArchive {
  std::string File;
  std::string Signature;
  std::string Branch;  ///< the client of its import definition
  std::string Database;
  int ExportNo = 0;
  std::string ExportTime;  ///< empty when the header was not read
  int ImportNo = 0;
  tReportOutcome Outcome = tReportOutcome::Skipped;
  std::string Reason;                  ///< why it was not merged; for a merged one empty
  std::vector<tImportedTable> Tables;  ///< names UTF-8
  tImportCounters Counters;
};

/// A conflict as the report shows it; texts UTF-8.
struct tReportConflict {
  std::string Archive;
  std::string Table;
  std::string Message;
  bool RolledBack = false;  ///< its archive was rolled back: the row is not in the database
  std::vector<std::string> Fields;
  std::vector<tConflictValue> Source;
  std::vector<tConflictTarget> Targets;  ///< Match UTF-8
};

/// Everything one import report shows; texts UTF-8.
struct tImportReport {
  std::string Started;  ///< the run's start as local "d.M.yyyy H:mm:ss"
  double Seconds = 0;
  tImportOutcome Outcome = tImportOutcome::Failed;
  std::string Text;  ///< the run's result text: what failed, when something did
  std::vector<tReportArchive> Archives;
  tImportCounters Total;
  std::vector<tReportConflict> Conflicts;
  std::int64_t ConflictsLeftOut = 0;
  std::vector<std::string> Warnings;  ///< gaps, second deliveries, unverified archives, the archives' own
};

/// Whether two values of a conflict's rows differ; a value a row lacks differs from none.
bool ValuesDiffer(const tConflictValue& a, const tConflictValue& b);

/// The report of a finished run.
tImportReport CollectImportReport(const tImportResult& result);

/// The report as one self-contained HTML5 page (UTF-8; inline style and SVG, no scripts and no
/// outside files). Every text is escaped; bytes that are no UTF-8 become U+FFFD and control
/// characters are shown by their code.
std::string RenderImportReport(const tImportReport& report);

/// `text` (UTF-8) as HTML text or attribute value: markup characters as references, invalid
/// UTF-8 as U+FFFD, control characters and non-characters as a visible "\xNN" / "\uNNNN" and
/// CR LF as LF.
std::string HtmlText(std::string_view text);

/// Where a run that began at `started` puts its report by default: "reports/import-
/// YYYYMMDD-HHMMSS.html" in the folder of the log file `log_file` (UTF-8).
std::string DefaultImportReportPath(const std::string& log_file, std::time_t started);

/// Whether a run leaves a report without being asked for one by path: it found an archive or
/// failed in something (a run with nothing to do leaves none).
bool LeavesImportReport(const tImportResult& result);

/// Writes the report of `result` where `options` keep their log file, at its
/// DefaultImportReportPath (a taken name gets "-2", "-3" …). Returns the path written; throws
/// as WriteImportReport.
std::string WriteImportReportBesideLog(const tImportResult& result, const core::TReplOptions& options);

/// Writes the report of `result` to `path` (UTF-8), complete or absent, readable by its owner
/// only; creates the folder when missing. A default path (`replace` false) that is taken gets
/// "-2", "-3" … before ".html". Returns the path written. Throws ReplicationError "Přehled
/// importu nelze zapsat do …: důvod" (Windows-1250).
std::string WriteImportReport(const tImportResult& result, const std::string& path, bool replace);

}  // namespace tamaril::replication
