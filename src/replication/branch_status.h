#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tamaril::core {
class LoginCache;
}

namespace tamaril::replication {

/// One definition of the export or the import list as the status reads it. Texts are
/// Windows-1250; the connection string is the plain one.
struct tStatusDefinition {
  std::string Signature;
  std::string Partner;  ///< ClientName of an import definition, CenterName of an export one
  std::string ConnectionString;
  std::string DatabaseName;
};

/// Export numbers missing from an import history: From to To, both included.
struct tExportNoGap {
  int From = 0;
  int To = 0;

  bool operator==(const tExportNoGap&) const = default;
};

/// An archive of a folder as its header tells it.
struct tFolderArchive {
  std::string Path;       ///< UTF-8
  std::string Signature;  ///< Windows-1250
  int ExportNo = 0;
  double ExportTime = 0;  ///< days since 30 December 1899
};

/// A file of the import folder that holds no readable archive header.
struct tUnreadableArchive {
  std::string Path;  ///< UTF-8
};

/// One import of a branch and the rows it wrote.
struct tImportRunRows {
  int ImportNo = 0;
  int ExportNo = 0;       ///< CLIENTEXPORTNO
  double ImportTime = 0;  ///< IMPORTDATE, days since 30 December 1899
  std::int64_t Rows = 0;  ///< rows appended, updated and deleted over all its tables

  bool operator==(const tImportRunRows&) const = default;
};

/// The state of one import definition: its branch's last archive imported and what waits.
struct tImportStatus {
  tStatusDefinition Definition;
  /// Why its database could not be read (Windows-1250); empty when it was.
  std::string Error;
  bool Imported = false;      ///< the history holds an import of the Signature
  int LastExportNo = 0;       ///< CLIENTEXPORTNO of the newest import (highest IMPORTNO)
  int LastImportNo = 0;       ///< its IMPORTNO
  double LastExportTime = 0;  ///< its CLIENTEXPORTDATE, days since 30 December 1899
  double LastImportTime = 0;  ///< its IMPORTDATE
  int HighestExportNo = 0;    ///< the highest CLIENTEXPORTNO ever imported
  int DaysSince = 0;          ///< whole days from the newest import to now, 0 for one in the future
  /// The export numbers from 1 up to HighestExportNo that were never imported, in order.
  std::vector<tExportNoGap> Gaps;
  /// The archives of the Signature in the import folder, by EXPORTNO; those not above
  /// HighestExportNo an import refuses.
  std::vector<tFolderArchive> Waiting;
  /// Never imported, or its newest import is older than the threshold.
  bool Stale = false;
  /// The newest imports with their rows, oldest first, as many as tBranchStatusOptions::RecentRuns.
  std::vector<tImportRunRows> RecentRuns;

  /// Never imported, or silent more whole days than `stale_days`: what Stale tells for that threshold.
  bool SilentLongerThan(int stale_days) const;
};

/// The state of one export definition: its last run and whether its archive was taken away.
struct tExportStatus {
  tStatusDefinition Definition;
  /// Why its database could not be read (Windows-1250); empty when it was.
  std::string Error;
  bool Exported = false;      ///< the history holds an export of the Signature
  int LastExportNo = 0;       ///< the highest EXPORTNO
  double LastExportTime = 0;  ///< its EXPORTDATE, days since 30 December 1899
  std::int64_t Rows = 0;      ///< the sum of its rep_XPORTLOGDETAIL counts
  /// EXPORTNO of the Signature's archive in the export folder; nothing when there is none, -1
  /// when the file is there but its header cannot be read.
  std::optional<int> FolderExportNo;
};

/// What the status found over every definition of both lists.
struct tBranchStatus {
  std::vector<tImportStatus> Imports;
  std::vector<tExportStatus> Exports;
  /// Archives of the import folder whose Signature no import definition has.
  std::vector<tFolderArchive> Unassigned;
  /// Files of the import folder named as archives that hold no archive header.
  std::vector<tUnreadableArchive> Unreadable;

  /// Some branch is stale or misses export numbers.
  bool NeedsAttention() const;
  /// Some definition's database could not be read.
  bool HasErrors() const;
};

/// Where the status looks and what it judges by.
struct tBranchStatusOptions {
  std::string ImportFolder;  ///< UTF-8
  std::string ExportFolder;  ///< UTF-8
  int StaleDays = 7;         ///< a branch whose newest import lies more whole days back than this is stale
  double Now = 0;            ///< the local time the ages are counted to, days since 30 December 1899
  int RecentRuns = 0;        ///< how many of each branch's newest imports to read with their rows
};

/// Reads the history of every definition from its database (connected through `logins`, one
/// connection at a time) and the archives of both folders. A database that cannot be connected
/// or read gives its definition an Error and the others go on; only a cancelled login (EAbort)
/// stops it.
tBranchStatus ReadBranchStatus(const std::vector<tStatusDefinition>& imports,
                               const std::vector<tStatusDefinition>& exports,
                               const tBranchStatusOptions& options, core::LoginCache& logins);

/// The status as Czech text (Windows-1250, lines ended with LF): the import definitions, then
/// the export ones, then the archives of the import folder no definition takes.
std::string FormatBranchStatus(const tBranchStatus& status, const tBranchStatusOptions& options);

/// The pieces of the status text, for other presentations of it (Windows-1250):
/// "1 den", "3 dny", "8 dní".
std::string StatusDaysText(int count);
/// "dnes", "před 1 dnem", "před 8 dny".
std::string StatusDaysAgoText(int count);
/// "1 řádek", "3 řádky", "12 řádků".
std::string StatusRowsText(std::int64_t count);
/// "chybí přenos č. 2", "chybí přenosy č. 5 až 7".
std::string StatusGapText(const tExportNoGap& gap);
/// "9.12.2026 10:00:00"; "?" for a value no calendar day holds.
std::string StatusTimeText(double date_time);

}  // namespace tamaril::replication
