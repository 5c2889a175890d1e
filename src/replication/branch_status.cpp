#include "replication/branch_status.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <system_error>
#include <utility>

#include <fmt/format.h>

#include "core/login_cache.h"
#include "dbaccess/connection.h"
#include "dbaccess/errors.h"
#include "replication/archive.h"
#include "replication/repl_log.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::replication {

namespace fs = std::filesystem;

namespace {

std::string Ansi(std::string_view utf8) { return text::Utf8ToAnsi(utf8); }

/// A date-time as "d.M.yyyy H:mm:ss", the way the import's log shows times; "?" for a value
/// no calendar day holds.
std::string DateTimeText(double date_time) {
  try {
    return ReplLogTimeText(date_time);
  } catch (const Error&) {
    return "?";
  }
}

/// The export numbers 1 … highest that `imported` (sorted, without repeats) lacks.
std::vector<tExportNoGap> GapsOf(const std::vector<int>& imported) {
  std::vector<tExportNoGap> gaps;
  int expected = 1;
  for (const int number : imported) {
    if (number > expected) gaps.push_back({expected, number - 1});
    expected = std::max(expected, number + 1);
  }
  return gaps;
}

void ReadImportHistory(dbaccess::Connection& connection, tImportStatus& status,
                       const tBranchStatusOptions& options) {
  auto query = connection.Prepare(
      "select IMPORTNO, CLIENTEXPORTNO, IMPORTDATE, CLIENTEXPORTDATE from rep_IMPORTLOG "
      "where Signature=:Signature order by IMPORTNO");
  query->SetParameter("Signature", dbaccess::Value::Text(status.Definition.Signature));
  auto rows = query->Open();
  std::vector<int> imported;
  while (rows->Next()) {
    status.Imported = true;
    status.LastImportNo = static_cast<int>(rows->Get(0).AsInteger());
    status.LastExportNo = static_cast<int>(rows->Get(1).AsInteger());
    status.LastImportTime = dbaccess::DaysOf(rows->Get(2).AsDateTime());
    status.LastExportTime = dbaccess::DaysOf(rows->Get(3).AsDateTime());
    imported.push_back(status.LastExportNo);
  }
  std::sort(imported.begin(), imported.end());
  imported.erase(std::unique(imported.begin(), imported.end()), imported.end());
  status.HighestExportNo = imported.empty() ? 0 : imported.back();
  status.Gaps = GapsOf(imported);
  if (!status.Imported) {
    status.Stale = true;
    return;
  }
  const double age = options.Now - status.LastImportTime;
  status.DaysSince = age > 0 ? static_cast<int>(std::floor(age)) : 0;
  status.Stale = status.SilentLongerThan(options.StaleDays);
}

/// The newest `count` imports of the Signature with the rows each wrote, oldest first. An
/// import whose tables wrote nothing has no detail rows and counts 0.
void ReadRecentRuns(dbaccess::Connection& connection, tImportStatus& status, int count) {
  auto query = connection.Prepare(
      "select l.IMPORTNO, l.CLIENTEXPORTNO, l.IMPORTDATE, "
      "(select sum(cast(d.COUNT_APPENDED as bigint) + d.COUNT_UPDATED + d.COUNT_DELETED) "
      "from rep_IMPORTLOGDETAIL d where d.Signature = l.Signature and d.IMPORTNO = l.IMPORTNO) "
      "from rep_IMPORTLOG l where l.Signature=:Signature order by l.IMPORTNO desc");
  query->SetParameter("Signature", dbaccess::Value::Text(status.Definition.Signature));
  auto rows = query->Open();
  std::vector<tImportRunRows> runs;
  while (static_cast<int>(runs.size()) < count && rows->Next()) {
    tImportRunRows& run = runs.emplace_back();
    run.ImportNo = static_cast<int>(rows->Get(0).AsInteger());
    run.ExportNo = static_cast<int>(rows->Get(1).AsInteger());
    run.ImportTime = dbaccess::DaysOf(rows->Get(2).AsDateTime());
    if (!rows->Get(3).IsNull()) run.Rows = rows->Get(3).AsInteger();
  }
  std::reverse(runs.begin(), runs.end());
  status.RecentRuns = std::move(runs);
}

void ReadExportHistory(dbaccess::Connection& connection, tExportStatus& status) {
  auto last = connection.Prepare(
      "select EXPORTNO, EXPORTDATE from rep_XPORTLOG where Signature=:Signature order by EXPORTNO desc");
  last->SetParameter("Signature", dbaccess::Value::Text(status.Definition.Signature));
  auto rows = last->Open();
  if (!rows->Next()) return;
  status.Exported = true;
  status.LastExportNo = static_cast<int>(rows->Get(0).AsInteger());
  status.LastExportTime = dbaccess::DaysOf(rows->Get(1).AsDateTime());
  rows.reset();
  auto counts = connection.Prepare(
      "select sum(COUNTRECORDS) from rep_XPORTLOGDETAIL where Signature=:Signature and EXPORTNO=:ExportNo");
  counts->SetParameter("Signature", dbaccess::Value::Text(status.Definition.Signature));
  counts->SetParameter("ExportNo", dbaccess::Value::Integer(status.LastExportNo));
  auto sum = counts->Open();
  if (sum->Next() && !sum->Get(0).IsNull()) status.Rows = sum->Get(0).AsInteger();
}

/// Connects to the definition's database and runs `read` on it; a failure becomes `error`.
template <typename Read>
void ReadDatabase(const tStatusDefinition& definition, core::LoginCache& logins, std::string& error,
                  Read read) {
  dbaccess::Connection connection;
  try {
    logins.ConnectDatabase(connection, definition.ConnectionString, definition.DatabaseName);
  } catch (const Error& e) {
    error = e.what();
    return;
  }
  try {
    read(connection);
  } catch (const Error& e) {
    error = Ansi("Historii běhů nelze přečíst (je databáze připravena skriptem setup-script?): ") + e.what();
  }
}

/// "1 den", "3 dny", "8 dní".
std::string Days(int count) {
  if (count == 1) return "1 den";
  if (count >= 2 && count <= 4) return std::to_string(count) + " dny";
  return std::to_string(count) + Ansi(" dní");
}

/// "dnes", "před 1 dnem", "před 8 dny".
std::string DaysAgo(int count) {
  if (count == 0) return "dnes";
  if (count == 1) return Ansi("před 1 dnem");
  return Ansi("před ") + std::to_string(count) + " dny";
}

/// "1 řádek", "3 řádky", "12 řádků".
std::string Rows(std::int64_t count) {
  if (count == 1) return Ansi("1 řádek");
  if (count >= 2 && count <= 4) return std::to_string(count) + Ansi(" řádky");
  return std::to_string(count) + Ansi(" řádků");
}

std::string GapText(const tExportNoGap& gap) {
  if (gap.From == gap.To) return Ansi("chybí přenos č. ") + std::to_string(gap.From);
  return Ansi("chybí přenosy č. ") + std::to_string(gap.From) + Ansi(" až ") + std::to_string(gap.To);
}

/// "SHOP (Centrum), databáze shop".
std::string Heading(const tStatusDefinition& definition) {
  std::string line = "  " + definition.Signature;
  if (!definition.Partner.empty()) line += " (" + definition.Partner + ")";
  return line + Ansi(", databáze ") + definition.DatabaseName + "\n";
}

/// The reason a database could not be read, on one line: a driver's reason may span several.
std::string ErrorLine(std::string reason) {
  std::replace(reason.begin(), reason.end(), '\r', ' ');
  std::replace(reason.begin(), reason.end(), '\n', ' ');
  return Ansi("    CHYBA: ") + reason + "\n";
}

std::string FileName(const std::string& path) { return Ansi(fs::path(path).filename().string()); }

void FormatImport(std::string& text, const tImportStatus& status, const tBranchStatusOptions& options) {
  text += Heading(status.Definition);
  if (!status.Error.empty()) {
    text += ErrorLine(status.Error);
  } else if (status.Imported) {
    text += Ansi("    poslední přenos: č. ") + std::to_string(status.LastExportNo) + Ansi(" z ") +
            DateTimeText(status.LastExportTime) + Ansi(", importován ") +
            DateTimeText(status.LastImportTime) + Ansi(" (import č. ") + std::to_string(status.LastImportNo) +
            ", " + DaysAgo(status.DaysSince) + ")\n";
  } else {
    text += Ansi("    zatím nic neimportováno\n");
  }
  for (const tExportNoGap& gap : status.Gaps) text += "    POZOR: " + GapText(gap) + "\n";
  if (status.Stale) {
    text += status.Imported
                ? Ansi("    POZOR: pobočka ") + status.Definition.Signature + Ansi(" bez přenosu ") +
                      Days(status.DaysSince) + Ansi(" (práh ") + Days(options.StaleDays) + ")\n"
                : Ansi("    POZOR: pobočka ") + status.Definition.Signature + Ansi(" dosud bez přenosu\n");
  }
  for (const tFolderArchive& archive : status.Waiting) {
    text += Ansi("    čeká ve složce importu: ") + FileName(archive.Path) + Ansi(", přenos č. ") +
            std::to_string(archive.ExportNo) + Ansi(" z ") + DateTimeText(archive.ExportTime);
    if (archive.ExportNo <= status.HighestExportNo) text += Ansi(" (už importován, import ho odmítne)");
    text += "\n";
  }
}

void FormatExport(std::string& text, const tExportStatus& status) {
  text += Heading(status.Definition);
  if (!status.Error.empty()) {
    text += ErrorLine(status.Error);
    return;
  }
  if (!status.Exported) {
    text += Ansi("    zatím nic neexportováno\n");
  } else {
    text += Ansi("    poslední export: č. ") + std::to_string(status.LastExportNo) + Ansi(" z ") +
            DateTimeText(status.LastExportTime) + ", " + Rows(status.Rows) + "\n";
  }
  const std::string name = status.Definition.Signature + std::string(kArchiveExtension);
  if (!status.FolderExportNo) {
    if (status.Exported) text += Ansi("    archiv už ve složce exportu není (odvezen)\n");
  } else if (*status.FolderExportNo < 0) {
    text += Ansi("    ve složce exportu je ") + name + Ansi(", ale není to čitelný archiv\n");
  } else if (*status.FolderExportNo == status.LastExportNo) {
    text += Ansi("    archiv ") + name + Ansi(" čeká ve složce exportu\n");
  } else {
    text += Ansi("    ve složce exportu je ") + name + Ansi(" s přenosem č. ") +
            std::to_string(*status.FolderExportNo) + "\n";
  }
}

}  // namespace

bool tImportStatus::SilentLongerThan(int stale_days) const {
  // Whole days, as they are shown: a branch 7 days and some hours silent is not flagged at 7.
  return !Imported || DaysSince > stale_days;
}

bool tBranchStatus::NeedsAttention() const {
  return std::any_of(Imports.begin(), Imports.end(), [](const tImportStatus& status) {
    return status.Error.empty() && (status.Stale || !status.Gaps.empty());
  });
}

bool tBranchStatus::HasErrors() const {
  return std::any_of(Imports.begin(), Imports.end(),
                     [](const auto& status) { return !status.Error.empty(); }) ||
         std::any_of(Exports.begin(), Exports.end(),
                     [](const auto& status) { return !status.Error.empty(); });
}

tBranchStatus ReadBranchStatus(const std::vector<tStatusDefinition>& imports,
                               const std::vector<tStatusDefinition>& exports,
                               const tBranchStatusOptions& options, core::LoginCache& logins) {
  tBranchStatus result;
  std::map<std::string, std::vector<tFolderArchive>> waiting;
  for (const std::string& path : ArchivesInFolder(options.ImportFolder)) {
    const std::optional<tArchiveHeader> header = ReadArchiveFileHeader(path);
    if (!header) {
      result.Unreadable.push_back({path});
      continue;
    }
    waiting[header->Signature].push_back({path, header->Signature, header->ExportNo, header->ExportTime});
  }
  for (auto& [signature, archives] : waiting) {
    std::stable_sort(archives.begin(), archives.end(), [](const tFolderArchive& a, const tFolderArchive& b) {
      return a.ExportNo < b.ExportNo;
    });
  }

  for (const tStatusDefinition& definition : imports) {
    tImportStatus& status = result.Imports.emplace_back();
    status.Definition = definition;
    ReadDatabase(definition, logins, status.Error, [&](dbaccess::Connection& connection) {
      ReadImportHistory(connection, status, options);
      if (options.RecentRuns > 0) ReadRecentRuns(connection, status, options.RecentRuns);
    });
    if (const auto found = waiting.find(definition.Signature); found != waiting.end()) {
      status.Waiting = std::move(found->second);
      waiting.erase(found);
    }
  }
  for (auto& [signature, archives] : waiting) {
    result.Unassigned.insert(result.Unassigned.end(), archives.begin(), archives.end());
  }

  for (const tStatusDefinition& definition : exports) {
    tExportStatus& status = result.Exports.emplace_back();
    status.Definition = definition;
    ReadDatabase(definition, logins, status.Error,
                 [&](dbaccess::Connection& connection) { ReadExportHistory(connection, status); });
    if (options.ExportFolder.empty()) continue;
    const std::string archive =
        text::AnsiToUtf8(ArchiveFileName(text::Utf8ToAnsi(options.ExportFolder), definition.Signature));
    std::error_code error;
    if (!fs::is_regular_file(archive, error)) continue;
    const std::optional<tArchiveHeader> header = ReadArchiveFileHeader(archive);
    status.FolderExportNo = header && header->Signature == definition.Signature ? header->ExportNo : -1;
  }
  return result;
}

std::string FormatBranchStatus(const tBranchStatus& status, const tBranchStatusOptions& options) {
  std::string text;
  text += Ansi("Definice importu:\n");
  if (status.Imports.empty()) text += Ansi("  žádné\n");
  for (const tImportStatus& import : status.Imports) FormatImport(text, import, options);
  text += Ansi("Definice exportu:\n");
  if (status.Exports.empty()) text += Ansi("  žádné\n");
  for (const tExportStatus& exported : status.Exports) FormatExport(text, exported);
  if (!status.Unassigned.empty()) {
    text += Ansi("Archivy ve složce importu bez definice importu:\n");
    for (const tFolderArchive& archive : status.Unassigned) {
      text += "  " + FileName(archive.Path) + ": Signature " + archive.Signature + Ansi(", přenos č. ") +
              std::to_string(archive.ExportNo) + "\n";
    }
  }
  if (!status.Unreadable.empty()) {
    text += Ansi("Soubory ve složce importu, které nejsou čitelné přenosové archivy:\n");
    for (const tUnreadableArchive& file : status.Unreadable) text += "  " + FileName(file.Path) + "\n";
  }
  return text;
}

std::string StatusDaysText(int count) { return Days(count); }

std::string StatusDaysAgoText(int count) { return DaysAgo(count); }

std::string StatusRowsText(std::int64_t count) { return Rows(count); }

std::string StatusGapText(const tExportNoGap& gap) { return GapText(gap); }

std::string StatusTimeText(double date_time) { return DateTimeText(date_time); }

}  // namespace tamaril::replication
