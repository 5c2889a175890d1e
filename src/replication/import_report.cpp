#include "replication/import_report.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include <fmt/format.h>

#include "core/private_files.h"
#include "core/repl_options.h"
#include "dataset/dataset.h"
#include "dataset/field.h"
#include "dataset/memory_table.h"
#include "dbaccess/connection.h"
#include "dbstruct/existing_records.h"
#include "dbstruct/field_tags.h"
#include "dbstruct/structure.h"
#include "expr/tracking_columns.h"
#include "replication/errors.h"
#include "replication/file_ops.h"
#include "replication/file_problem.h"
#include "replication/merge_rules.h"
#include "replication/merger.h"
#include "replication/repl_log.h"
#include "text/encoding.h"

namespace tamaril::replication {

namespace fs = std::filesystem;

namespace {

std::string Utf8(std::string_view ansi) { return text::AnsiToUtf8(ansi); }

/// The most characters of a value the report keeps; longer ones are cut with "…".
constexpr std::size_t kValueLimit = 1000;
/// The most target rows shown beside one conflicting row.
constexpr std::size_t kTargetLimit = 3;

bool IsBinary(dataset::FieldType type) {
  using dataset::FieldType;
  switch (type) {
    case FieldType::Bytes:
    case FieldType::VarBytes:
    case FieldType::Blob:
    case FieldType::Graphic:
    case FieldType::TypedBinary:
    case FieldType::ParadoxOle:
    case FieldType::DBaseOle:
    case FieldType::OraBlob: return true;
    default: return false;
  }
}

/// The first `limit` characters of UTF-8 `text`, with "…" when something was cut.
std::string Cut(std::string text, std::size_t limit) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0U) == 0x80U) continue;
    if (characters++ == limit) {
      text.resize(i);
      return text + "…";
    }
  }
  return text;
}

/// The value of `field` for the report; texts of a row that holds Windows-1250 become UTF-8.
tConflictValue ValueOf(const dataset::TField& field, bool unicode) {
  tConflictValue value;
  value.Present = true;
  if (field.IsNull()) {
    value.Null = true;
    return value;
  }
  const std::string text = field.AsString();
  if (IsBinary(field.DataType())) {
    value.Text = fmt::format("(binární data, {} B)", text.size());
  } else {
    value.Text = Cut(unicode ? text : Utf8(text), kValueLimit);
  }
  return value;
}

/// The number of the fields of `row` tagged to be written, the tracking columns left out.
int ComparedFieldsToWrite(const dataset::TDataSet& row) {
  int count = 0;
  for (const auto& field : row.Fields()) {
    if (dbstruct::IsFieldToWrite(*field) && !expr::IsTrackingColumn(field->Name)) ++count;
  }
  return count;
}

/// The column `name` in `fields`, added at the end when missing; its index.
std::size_t ColumnIndex(std::vector<std::string>& fields, const std::string& name) {
  const auto found = std::find(fields.begin(), fields.end(), name);
  if (found != fields.end()) return static_cast<std::size_t>(found - fields.begin());
  fields.push_back(name);
  return fields.size() - 1;
}

}  // namespace

tImportReportTap::tImportReportTap(tImportResult& result, std::string archive_name,
                                   dbaccess::Connection& connection)
    : result_(result), archive_name_(std::move(archive_name)), connection_(connection) {}

void tImportReportTap::Install(tQVMMerger& merger, tMergeRules& rules) {
  rules.OnLog = [this, log = std::move(rules.OnLog)](const std::string& line) {
    if (listening_) line_ = line;
    if (log) log(line);
  };
  merger.OnUpdateRow = [this, decide = std::move(merger.OnUpdateRow)](tQVMMerger& m, dataset::TDataSet& row,
                                                                      bool& allow,
                                                                      dbstruct::tExistingRecords& existing) {
    const int differing = ComparedFieldsToWrite(row);
    if (decide) decide(m, row, allow, existing);
    narrowed_ = allow && ComparedFieldsToWrite(row) < differing;
  };
  merger.OnRowUpdated = [this, updated = std::move(merger.OnRowUpdated)](tQVMMerger& m,
                                                                         dataset::TDataSet& row) {
    if (updated) updated(m, row);
    if (narrowed_ && m.CurrentTable != nullptr) ++field_updated_[m.CurrentTable->GetTableName()];
    narrowed_ = false;
  };
  merger.OnConflict = [this, conflict = std::move(merger.OnConflict)](tQVMMerger& m, dataset::TDataSet& row,
                                                                      tConflictKind kind,
                                                                      const std::string& detail) {
    listening_ = true;
    line_.clear();
    try {
      if (conflict) conflict(m, row, kind, detail);
    } catch (...) {
      listening_ = false;
      throw;
    }
    listening_ = false;
    // A deleted-rows row belongs to the table it deletes from.
    const bool deleted_row = m.IsDeletedRowsTable != 0;
    const std::string table =
        deleted_row && m.CurrentTable != nullptr ? m.CurrentTable->GetTableName() : m.TableName;
    ++conflicts_[table];
    Note(m, row, kind, table);
  };
}

void tImportReportTap::Note(tQVMMerger& merger, dataset::TDataSet& row, tConflictKind kind,
                            const std::string& table_name) {
  if (result_.ConflictRows.size() >= kReportedConflictLimit) {
    ++result_.ConflictRowsLeftOut;
    return;
  }
  const bool unicode = connection_.UnicodeText();
  tConflictRows conflict;
  conflict.Archive = archive_name_;
  conflict.Table = table_name;
  conflict.Message = line_;
  for (const auto& field : row.Fields()) {
    conflict.Fields.push_back(field->Name);
    conflict.Source.push_back(ValueOf(*field, unicode));
  }
  // The target rows are looked up again; after a failed statement the database is left alone.
  dbstruct::tTbl_Structure* table = merger.CurrentTable;
  if (kind != tConflictKind::StatementFailed && table != nullptr) {
    try {
      std::unique_ptr<dbstruct::tExistingRecords> existing;
      if (merger.IsDeletedRowsTable != 0) {
        const dataset::TField* guid = row.FindField("RECORDGUID");
        const dataset::TField* id = row.FindField("RECORDID");
        const std::int64_t record_id = id != nullptr ? id->AsInteger() : 0;
        if (record_id >= INT32_MIN && record_id <= INT32_MAX) {
          table->TryFindExistingByKey(guid != nullptr ? guid->AsString() : std::string(),
                                      static_cast<std::int32_t>(record_id), existing);
        }
      } else {
        table->TryFindExistingRecords(row, existing);
      }
      std::vector<std::pair<std::string, dataset::TQVMmemDataSet*>> matches;
      if (existing) {
        if (existing->RowGuidMatch)
          matches.emplace_back(existing->RowGuidColumn, existing->RowGuidMatch.get());
        for (const dbstruct::tKeyMatch& match : existing->KeyMatches) {
          matches.emplace_back(match.IndexName, match.Rows.get());
        }
      }
      for (const auto& [match, rows] : matches) {
        if (conflict.Targets.size() >= kTargetLimit) break;
        if (rows == nullptr || !rows->Active()) continue;
        rows->First();
        if (rows->Eof()) continue;
        tConflictTarget target;
        target.Match = match;
        target.Values.resize(conflict.Fields.size());
        for (const auto& field : rows->Fields()) {
          const std::size_t index = ColumnIndex(conflict.Fields, field->Name);
          if (index >= target.Values.size()) target.Values.resize(index + 1);
          target.Values[index] = ValueOf(*field, unicode);
        }
        conflict.Targets.push_back(std::move(target));
      }
    } catch (const std::exception&) {
      // The report shows the archive's row alone; the import goes on as it would without it.
      conflict.Targets.clear();
    }
  }
  conflict.Source.resize(conflict.Fields.size());
  for (tConflictTarget& target : conflict.Targets) target.Values.resize(conflict.Fields.size());
  result_.ConflictRows.push_back(std::move(conflict));
}

std::vector<tImportedTable> tImportReportTap::Tables(dbstruct::tDatabase_Structure& structure,
                                                     const tMergeRules& rules) const {
  const auto count = [](const std::map<std::string, std::int64_t>& counts, const std::string& name) {
    const auto found = counts.find(name);
    return found == counts.end() ? std::int64_t{0} : found->second;
  };
  std::vector<tImportedTable> tables;
  for (int i = 0; i < structure.TableCount(); ++i) {
    const std::string& name = structure.Table(i).GetTableName();
    const tTableCounters counters = rules.TableCounters(name);
    tImportedTable table{name,
                         counters.appended,
                         counters.updated,
                         count(field_updated_, name),
                         counters.deleted,
                         count(conflicts_, name)};
    if (table.Appended + table.Updated + table.Deleted + table.Conflicts > 0)
      tables.push_back(std::move(table));
  }
  return tables;
}

// ---------------------------------------------------------------------------------------------
// Collecting

namespace {

std::string TimeText(double date_time) {
  try {
    return ReplLogTimeText(date_time);
  } catch (const std::exception&) {
    return "?";
  }
}

std::string LocalTimeText(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  return fmt::format("{}.{}.{} {}:{:02}:{:02}", local.tm_mday, local.tm_mon + 1, local.tm_year + 1900,
                     local.tm_hour, local.tm_min, local.tm_sec);
}

tReportOutcome OutcomeOf(tArchiveState state) {
  switch (state) {
    case tArchiveState::Imported: return tReportOutcome::Merged;
    case tArchiveState::Failed: return tReportOutcome::RolledBack;
    case tArchiveState::Damaged:
    case tArchiveState::UnknownClient:
    case tArchiveState::Untrusted:
    case tArchiveState::AlreadyImported: return tReportOutcome::Refused;
    case tArchiveState::Skipped: return tReportOutcome::Skipped;
  }
  return tReportOutcome::Skipped;
}

}  // namespace

tImportReport CollectImportReport(const tImportResult& result) {
  tImportReport report;
  report.Started = LocalTimeText(result.Started);
  report.Seconds = result.Seconds;
  report.Outcome = result.Outcome;
  report.Text = Utf8(result.Text);
  report.Total = result.Total;
  report.ConflictsLeftOut = result.ConflictRowsLeftOut;

  std::vector<std::string> rolled_back;  // file names (Windows-1250) whose rows are not in the database
  for (const tImportedArchive& archive : result.Archives) {
    tReportArchive shown;
    const std::string file = fs::path(archive.Path).filename().string();
    shown.File = file;
    shown.Signature = Utf8(archive.Signature);
    shown.Branch = Utf8(archive.Client);
    shown.Database = Utf8(archive.Database);
    shown.ExportNo = archive.ExportNo;
    if (!archive.Signature.empty()) shown.ExportTime = TimeText(archive.ExportTime);
    shown.ImportNo = archive.ImportNo;
    shown.Outcome = OutcomeOf(archive.State);
    shown.Counters = archive.Counters;
    if (archive.State == tArchiveState::Failed && archive.RollbackUnconfirmed) {
      shown.Reason = "vrácení nelze potvrdit, databáze může obsahovat část archivu: " + Utf8(archive.Reason);
    } else {
      shown.Reason = Utf8(archive.Reason);
    }
    if (archive.State == tArchiveState::Failed && !archive.RollbackUnconfirmed) {
      rolled_back.push_back(text::Utf8ToAnsi(file));
    }
    for (tImportedTable table : archive.Tables) {
      table.Name = Utf8(table.Name);
      shown.Tables.push_back(std::move(table));
    }

    const std::string prefix = "Archiv " + file + ": ";
    if (archive.State == tArchiveState::AlreadyImported) {
      report.Warnings.push_back(prefix + "doručen znovu, " + Utf8(archive.Reason));
    }
    if (!archive.Redelivered.empty() && archive.State == tArchiveState::Imported) {
      report.Warnings.push_back(prefix +
                                "doručen znovu a na žádost importován znovu: " + Utf8(archive.Redelivered));
    }
    if (!archive.Trust.empty() && !archive.Verified && archive.State != tArchiveState::Untrusted) {
      report.Warnings.push_back(prefix + Utf8(archive.Trust));
    }
    for (const std::string& warning : archive.Warnings) report.Warnings.push_back(prefix + Utf8(warning));
    report.Archives.push_back(std::move(shown));
  }

  for (const tConflictRows& rows : result.ConflictRows) {
    tReportConflict conflict;
    conflict.Archive = Utf8(rows.Archive);
    conflict.Table = Utf8(rows.Table);
    conflict.Message = Utf8(rows.Message);
    conflict.RolledBack =
        std::find(rolled_back.begin(), rolled_back.end(), rows.Archive) != rolled_back.end();
    for (const std::string& field : rows.Fields) conflict.Fields.push_back(Utf8(field));
    conflict.Source = rows.Source;
    for (tConflictTarget target : rows.Targets) {
      target.Match = Utf8(target.Match);
      conflict.Targets.push_back(std::move(target));
    }
    report.Conflicts.push_back(std::move(conflict));
  }
  return report;
}

// ---------------------------------------------------------------------------------------------
// Rendering

namespace {

/// The code point of the UTF-8 sequence at `text[i]` and its length; length 0 for bytes that
/// are no well-formed sequence (an overlong form, a surrogate, beyond U+10FFFF, cut off).
std::pair<char32_t, std::size_t> DecodeUtf8(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return {lead, 1};
  std::size_t length = 0;
  char32_t code = 0;
  char32_t least = 0;
  if ((lead & 0xE0U) == 0xC0U) {
    length = 2, code = lead & 0x1FU, least = 0x80;
  } else if ((lead & 0xF0U) == 0xE0U) {
    length = 3, code = lead & 0x0FU, least = 0x800;
  } else if ((lead & 0xF8U) == 0xF0U) {
    length = 4, code = lead & 0x07U, least = 0x10000;
  } else {
    return {0, 0};
  }
  if (i + length > text.size()) return {0, 0};
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0U) != 0x80U) return {0, 0};
    code = (code << 6U) | (byte(i + k) & 0x3FU);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {0, 0};
  return {code, length};
}

/// A character HTML must not carry as it is: controls other than tab and line end, and the
/// non-characters.
bool Unshowable(char32_t code) {
  if (code < 0x20) return code != '\t' && code != '\n';
  if (code >= 0x7F && code <= 0x9F) return true;
  if (code >= 0xFDD0 && code <= 0xFDEF) return true;
  return (code & 0xFFFEU) == 0xFFFEU;
}

std::string Escaped(std::string_view text) { return HtmlText(text); }

std::string Number(std::int64_t value) { return std::to_string(value); }

/// A decimal with a Czech comma.
std::string Decimal(double value, int places) {
  std::string text = fmt::format("{:.{}f}", value, places);
  std::replace(text.begin(), text.end(), '.', ',');
  return text;
}

std::string DurationText(double seconds) {
  if (seconds < 60) return Decimal(seconds, 2) + " s";
  const auto whole = static_cast<std::int64_t>(std::llround(seconds));
  if (whole < 3600) return fmt::format("{} min {} s", whole / 60, whole % 60);
  return fmt::format("{} h {} min {} s", whole / 3600, whole / 60 % 60, whole % 60);
}

const char* OutcomeClass(tImportOutcome outcome) {
  switch (outcome) {
    case tImportOutcome::Success: return "ok";
    case tImportOutcome::Conflicts:
    case tImportOutcome::Warnings: return "warn";
    case tImportOutcome::Cancelled:
    case tImportOutcome::Failed: return "fail";
  }
  return "fail";
}

const char* ArchiveOutcomeWord(tReportOutcome outcome) {
  switch (outcome) {
    case tReportOutcome::Merged: return "sloučen";
    case tReportOutcome::RolledBack: return "vrácen";
    case tReportOutcome::Refused: return "odmítnut";
    case tReportOutcome::Skipped: return "přeskočen";
  }
  return "přeskočen";
}

const char* ArchiveOutcomeClass(tReportOutcome outcome) {
  switch (outcome) {
    case tReportOutcome::Merged: return "ok";
    case tReportOutcome::RolledBack: return "fail";
    case tReportOutcome::Refused:
    case tReportOutcome::Skipped: return "warn";
  }
  return "warn";
}

constexpr const char* kStyle =
    R"(body{font-family:"DejaVu Sans",Arial,sans-serif;font-size:14px;color:#222;margin:1.5em;max-width:75em}
h1{font-size:1.5em;margin-bottom:.2em}h2{font-size:1.2em;margin-top:1.6em;border-bottom:1px solid #ccc}
h3{font-size:1em;margin:1.2em 0 .4em}
table{border-collapse:collapse;margin:.4em 0}th,td{border:1px solid #ccc;padding:2px 6px;text-align:left;vertical-align:top}
th{background:#f2f2f2}td.n{text-align:right;font-variant-numeric:tabular-nums}
td.v{white-space:pre-wrap;word-break:break-word;max-width:30em}
.ok{color:#1b5e20}.warn{color:#8a5300}.fail{color:#b71c1c}
p.outcome{font-size:1.1em;font-weight:bold;white-space:pre-wrap}
dl.run{display:grid;grid-template-columns:max-content auto;gap:2px 12px}dl.run dt{font-weight:bold}dl.run dd{margin:0}
tr.diff td,tr.diff th{background:#fff3cd}td.null,td.absent{color:#888;font-style:italic}
.legend span{display:inline-block;margin-right:1em}.legend i{display:inline-block;width:10px;height:10px;margin-right:4px}
section.conflict{border-left:4px solid #c62828;padding-left:10px;margin:1em 0}
)";

// Colours of the bars and the legend: appended, updated, deleted, conflicts.
constexpr const char* kBarColours[] = {"#2e7d32", "#1565c0", "#757575", "#c62828"};
constexpr int kBarWidth = 160;
constexpr int kBarHeight = 12;

/// A horizontal bar of the table's appended, updated, deleted and conflicting rows, scaled so
/// that `most` fills the width.
std::string BarChart(const tImportedTable& table, std::int64_t most) {
  const std::int64_t parts[] = {table.Appended, table.Updated, table.Deleted, table.Conflicts};
  std::string svg =
      fmt::format(R"(<svg class="bar" width="{0}" height="{1}" viewBox="0 0 {0} {1}" role="img"><title>)"
                  R"(přidáno {2}, opraveno {3}, smazáno {4}, konflikty {5}</title>)",
                  kBarWidth, kBarHeight, table.Appended, table.Updated, table.Deleted, table.Conflicts);
  svg += fmt::format(R"(<rect x="0" y="0" width="{}" height="{}" fill="#eeeeee"/>)", kBarWidth, kBarHeight);
  double x = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    if (parts[i] <= 0 || most <= 0) continue;
    // Every part that is there gets at least a pixel.
    const double width = std::max(
        1.0, static_cast<double>(kBarWidth) * static_cast<double>(parts[i]) / static_cast<double>(most));
    svg += fmt::format(R"(<rect class="p{}" x="{:.1f}" y="0" width="{:.1f}" height="{}" fill="{}"/>)", i, x,
                       std::min(width, kBarWidth - x), kBarHeight, kBarColours[i]);
    x = std::min(static_cast<double>(kBarWidth), x + width);
  }
  return svg + "</svg>";
}

std::string Legend() {
  const char* names[] = {"přidáno", "opraveno", "smazáno", "konflikty"};
  std::string html = R"(<p class="legend">)";
  for (std::size_t i = 0; i < 4; ++i) {
    html += fmt::format(R"(<span><i style="background:{}"></i>{}</span>)", kBarColours[i], names[i]);
  }
  return html + "</p>\n";
}

std::string ValueCell(const tConflictValue& value) {
  if (!value.Present) return R"(<td class="absent">—</td>)";
  if (value.Null) return R"(<td class="null">NULL</td>)";
  return R"(<td class="v">)" + Escaped(value.Text) + "</td>";
}

void RenderArchives(std::string& html, const tImportReport& report) {
  html += "<h2>Archivy</h2>\n";
  if (report.Archives.empty()) {
    html += "<p>Ve složce importu nebyl žádný archiv.</p>\n";
    return;
  }
  html += R"(<table class="archives"><thead><tr><th>Archiv</th><th>Signature</th><th>Pobočka</th>)"
          R"(<th>Databáze</th><th>EXPORTNO</th><th>Čas exportu</th><th>IMPORTNO</th><th>Výsledek</th>)"
          R"(<th>Důvod</th></tr></thead><tbody>)"
          "\n";
  for (const tReportArchive& archive : report.Archives) {
    html += "<tr><td>" + Escaped(archive.File) + "</td><td>" + Escaped(archive.Signature) + "</td><td>" +
            Escaped(archive.Branch) + "</td><td>" + Escaped(archive.Database) + R"(</td><td class="n">)" +
            (archive.Signature.empty() ? std::string() : Number(archive.ExportNo)) + "</td><td>" +
            Escaped(archive.ExportTime) + R"(</td><td class="n">)" +
            (archive.ImportNo > 0 ? Number(archive.ImportNo) : std::string()) +
            R"(</td><td class="outcome )" + ArchiveOutcomeClass(archive.Outcome) + R"(">)" +
            ArchiveOutcomeWord(archive.Outcome) + "</td><td>" + Escaped(archive.Reason) + "</td></tr>\n";
  }
  html += "</tbody></table>\n";
}

void RenderTables(std::string& html, const tImportReport& report) {
  html += "<h2>Tabulky</h2>\n";
  bool any = false;
  for (const tReportArchive& archive : report.Archives) {
    if (archive.Outcome != tReportOutcome::Merged) continue;
    any = true;
    html += "<h3>" + Escaped(archive.File) + " – import č. " + Number(archive.ImportNo) + "</h3>\n";
    const tImportCounters& c = archive.Counters;
    html += fmt::format("<p>Zpracováno řádků {}, duplicitních {}, ignorováno {}, odmítnuto {}.</p>\n",
                        c.processed, c.duplicates, c.ignored, c.refused);
    if (archive.Tables.empty()) {
      html += "<p>Do žádné tabulky se nic nezapsalo.</p>\n";
      continue;
    }
    std::int64_t most = 0;
    for (const tImportedTable& table : archive.Tables) {
      most = std::max(most, table.Appended + table.Updated + table.Deleted + table.Conflicts);
    }
    html += Legend();
    html +=
        R"(<table class="counts" data-archive=")" + Escaped(archive.File) + R"(" data-importno=")" +
        Number(archive.ImportNo) +
        R"("><thead><tr><th>Tabulka</th><th>Přidáno</th><th>Opraveno</th><th>z toho jen některá pole</th>)"
        R"(<th>Smazáno</th><th>Konflikty</th><th>Graf</th></tr></thead><tbody>)"
        "\n";
    for (const tImportedTable& table : archive.Tables) {
      html += R"(<tr><th class="table">)" + Escaped(table.Name) + R"(</th><td class="n appended">)" +
              Number(table.Appended) + R"(</td><td class="n updated">)" + Number(table.Updated) +
              R"(</td><td class="n field-updated">)" + Number(table.FieldUpdated) +
              R"(</td><td class="n deleted">)" + Number(table.Deleted) + R"(</td><td class="n conflicts">)" +
              Number(table.Conflicts) + "</td><td>" + BarChart(table, most) + "</td></tr>\n";
    }
    html += "</tbody></table>\n";
  }
  if (!any) html += "<p>Žádný archiv nebyl sloučen.</p>\n";
}

void RenderConflict(std::string& html, const tReportConflict& conflict) {
  html += R"(<section class="conflict"><h3>)" + Escaped(conflict.Message) + "</h3>\n<p>Archiv " +
          Escaped(conflict.Archive) + ", tabulka " + Escaped(conflict.Table);
  if (conflict.RolledBack) html += " (import archivu vrácen, řádky nejsou v databázi)";
  html += "</p>\n";
  if (conflict.Targets.empty()) html += "<p>V cílové databázi není žádný řádek, který by mu odpovídal.</p>\n";
  html += R"(<table class="rows"><thead><tr><th>Sloupec</th><th>Archiv</th>)";
  for (const tConflictTarget& target : conflict.Targets) {
    html += "<th>Cílová databáze";
    if (!target.Match.empty()) html += " (" + Escaped(target.Match) + ")";
    html += "</th>";
  }
  html += "</tr></thead><tbody>\n";
  for (std::size_t i = 0; i < conflict.Fields.size(); ++i) {
    const tConflictValue& source = i < conflict.Source.size() ? conflict.Source[i] : tConflictValue{};
    // The tracking columns are stamped by each site and never compared.
    bool differs = false;
    if (!expr::IsTrackingColumn(text::Utf8ToAnsi(conflict.Fields[i]))) {
      for (const tConflictTarget& target : conflict.Targets) {
        if (i < target.Values.size() && ValuesDiffer(source, target.Values[i])) differs = true;
      }
    }
    html += differs ? R"(<tr class="diff"><th>≠ )" : "<tr><th>";
    html += Escaped(conflict.Fields[i]) + "</th>" + ValueCell(source);
    for (const tConflictTarget& target : conflict.Targets) {
      html += ValueCell(i < target.Values.size() ? target.Values[i] : tConflictValue{});
    }
    html += "</tr>\n";
  }
  html += "</tbody></table></section>\n";
}

void RenderConflicts(std::string& html, const tImportReport& report) {
  html += "<h2>Konflikty</h2>\n";
  if (report.Conflicts.empty() && report.ConflictsLeftOut == 0) {
    html += "<p>Žádné konflikty.</p>\n";
    return;
  }
  for (const tReportConflict& conflict : report.Conflicts) RenderConflict(html, conflict);
  if (report.ConflictsLeftOut > 0) {
    html += fmt::format("<p>Dalších {} konfliktů se do přehledu nevešlo; všechny jsou v logu importu.</p>\n",
                        report.ConflictsLeftOut);
  }
}

void RenderWarnings(std::string& html, const tImportReport& report) {
  html += "<h2>Upozornění</h2>\n";
  if (report.Warnings.empty()) {
    html += "<p>Žádná upozornění.</p>\n";
    return;
  }
  html += R"(<ul class="warnings">)"
          "\n";
  for (const std::string& warning : report.Warnings) html += "<li>" + Escaped(warning) + "</li>\n";
  html += "</ul>\n";
}

}  // namespace

bool ValuesDiffer(const tConflictValue& a, const tConflictValue& b) {
  return a.Present && b.Present && (a.Null != b.Null || a.Text != b.Text);
}

std::string HtmlText(std::string_view text) {
  std::string html;
  html.reserve(text.size() + text.size() / 8);
  for (std::size_t i = 0; i < text.size();) {
    const auto [code, length] = DecodeUtf8(text, i);
    if (length == 0) {
      html += "\xEF\xBF\xBD";  // U+FFFD
      ++i;
      continue;
    }
    switch (code) {
      case '&': html += "&amp;"; break;
      case '<': html += "&lt;"; break;
      case '>': html += "&gt;"; break;
      case '"': html += "&quot;"; break;
      case '\'': html += "&#39;"; break;
      case '\r':
        // CR LF and a lone CR are one line end.
        if (i + 1 >= text.size() || text[i + 1] != '\n') html += '\n';
        break;
      default:
        if (!Unshowable(code)) {
          html.append(text.substr(i, length));
        } else if (code <= 0xFF) {
          html += fmt::format("\\x{:02X}", static_cast<unsigned>(code));
        } else {
          html += fmt::format("\\u{:04X}", static_cast<unsigned>(code));
        }
    }
    i += length;
  }
  return html;
}

std::string RenderImportReport(const tImportReport& report) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"cs\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>Přehled importu " +
      Escaped(report.Started) + "</title>\n<style>\n" + kStyle +
      "</style>\n</head>\n<body>\n<h1>Přehled importu</h1>\n";
  html += R"(<p class="outcome )" + std::string(OutcomeClass(report.Outcome)) + R"(">)" +
          Escaped(report.Text) + "</p>\n";
  const std::int64_t rows = report.Total.processed;
  html += "<dl class=\"run\"><dt>Začátek</dt><dd>" + Escaped(report.Started) + "</dd><dt>Trvání</dt><dd>" +
          DurationText(report.Seconds) + "</dd><dt>Archivů</dt><dd>" +
          Number(static_cast<std::int64_t>(report.Archives.size())) + "</dd><dt>Zpracováno řádků</dt><dd>" +
          Number(rows) + "</dd><dt>Řádků za sekundu</dt><dd>" +
          (report.Seconds > 0 && rows > 0 ? Number(std::llround(static_cast<double>(rows) / report.Seconds))
                                          : "–") +
          "</dd><dt>Přidáno / opraveno / smazáno</dt><dd>" + Number(report.Total.appended) + " / " +
          Number(report.Total.updated) + " / " + Number(report.Total.deleted) +
          "</dd><dt>Konflikty</dt><dd>" + Number(report.Total.conflicts) + "</dd></dl>\n";
  RenderArchives(html, report);
  RenderTables(html, report);
  RenderConflicts(html, report);
  RenderWarnings(html, report);
  html += "</body>\n</html>\n";
  return html;
}

std::string DefaultImportReportPath(const std::string& log_file, std::time_t started) {
  std::tm local{};
  localtime_r(&started, &local);
  const std::string name =
      fmt::format("import-{:04}{:02}{:02}-{:02}{:02}{:02}.html", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return FolderOf(log_file) + "/reports/" + name;
}

bool LeavesImportReport(const tImportResult& result) {
  return !result.Archives.empty() || result.Outcome != tImportOutcome::Success;
}

std::string WriteImportReportBesideLog(const tImportResult& result, const core::TReplOptions& options) {
  return WriteImportReport(
      result, DefaultImportReportPath(text::AnsiToUtf8(options.LogFilePath), result.Started), false);
}

namespace {

[[noreturn]] void ThrowNotWritten(const std::string& path, int error) {
  throw ReplicationError(text::Utf8ToAnsi("Přehled importu nelze zapsat do " + path + ": ") +
                         SystemReasonText(error));
}

/// `path` when it is free, else the first free "name-N.html" beside it.
std::string FreePath(const std::string& path) {
  std::error_code error;
  if (!fs::exists(path, error)) return path;
  const fs::path original(path);
  for (int n = 2;; ++n) {
    const fs::path candidate = original.parent_path() / (original.stem().string() + "-" + std::to_string(n) +
                                                         original.extension().string());
    if (!fs::exists(candidate, error)) return candidate.string();
  }
}

}  // namespace

std::string WriteImportReport(const tImportResult& result, const std::string& path, bool replace) {
  const std::string html = RenderImportReport(CollectImportReport(result));
  const std::string folder = FolderOf(path);
  if (const int error = core::CreatePrivateFolders(folder); error != 0) ThrowNotWritten(path, error);
  std::string target = replace ? path : FreePath(path);

  // Complete or absent: a temporary file beside the target, renamed over it once written.
  std::string temporary = target + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) ThrowNotWritten(target, errno);
  int error = 0;
  if (::fchmod(fd, static_cast<mode_t>(core::PrivateFileModeFor(target))) != 0) error = errno;
  for (std::size_t done = 0; error == 0 && done < html.size();) {
    const ssize_t written = ::write(fd, html.data() + done, html.size() - done);
    if (written < 0) {
      if (errno != EINTR) error = errno;
      continue;
    }
    done += static_cast<std::size_t>(written);
  }
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    ThrowNotWritten(target, error);
  }
  SyncFolder(folder);
  return target;
}

}  // namespace tamaril::replication
