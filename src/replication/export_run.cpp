#include "replication/export_run.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

#include <fmt/printf.h>

#include "core/repl_options.h"
#include "dataset/field.h"
#include "dbaccess/connection.h"
#include "dbaccess/errors.h"
#include "dbaccess/parameter.h"
#include "dbaccess/query_dataset.h"
#include "dbstruct/keyed_table.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "dbstruct/structure.h"
#include "dbstruct/structure_cache.h"
#include "expr/dataset_expression.h"
#include "expr/rule_lists.h"
#include "replication/archive.h"
#include "replication/errors.h"
#include "replication/file_ops.h"
#include "replication/file_problem.h"
#include "replication/publisher.h"
#include "replication/run_host.h"
#include "replication/run_lock.h"
#include "replication/table_names.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::replication {

namespace fs = std::filesystem;

namespace {

constexpr const char* kDeletedRowsTable = "rep_DELETED";

std::string Ansi(std::string_view utf8) { return text::Utf8ToAnsi(utf8); }

/// Where an archive about to be replaced goes: "SIGNATURE-EXPORTNO.ZR2.bak" with the number
/// from its own header ("SIGNATURE.ZR2.bak" when the header cannot be read), a free name.
std::string MovedAsideName(const std::string& archive, const std::string& folder, const std::string& stem) {
  std::string base = stem;
  // A damaged archive is kept all the same, under the name without a number.
  if (const auto header = ReadArchiveFileHeader(archive)) base += "-" + std::to_string(header->ExportNo);
  std::string prefix = folder;
  if (!prefix.empty() && prefix.back() != '/') prefix += '/';
  std::string candidate = prefix + base + std::string(kArchiveExtension) + ".bak";
  for (int n = 2; fs::exists(candidate); ++n) {
    candidate = prefix + base + "(" + std::to_string(n) + ")" + std::string(kArchiveExtension) + ".bak";
  }
  return candidate;
}

/// The EXPORTNO a name "STEM-EXPORTNO.ZR2.bak" or "STEM-EXPORTNO(n).ZR2.bak" gives, or nothing
/// for another name.
std::optional<int> MovedAsideNumber(std::string_view name, std::string_view stem) {
  const std::string suffix = std::string(kArchiveExtension) + ".bak";
  if (name.size() <= stem.size() + 1 + suffix.size() || name.substr(0, stem.size()) != stem ||
      name[stem.size()] != '-' || name.substr(name.size() - suffix.size()) != suffix) {
    return std::nullopt;
  }
  std::string_view middle = name.substr(stem.size() + 1, name.size() - stem.size() - 1 - suffix.size());
  if (const auto paren = middle.find('('); paren != std::string_view::npos) {
    const std::string_view copy = middle.substr(paren);
    if (copy.size() < 3 || copy.back() != ')' ||
        !std::all_of(copy.begin() + 1, copy.end() - 1, [](char c) { return c >= '0' && c <= '9'; })) {
      return std::nullopt;
    }
    middle = middle.substr(0, paren);
  }
  if (middle.empty() || middle.size() > 9 ||
      !std::all_of(middle.begin(), middle.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  return std::stoi(std::string(middle));
}

/// `count` with the form of "hodnota" its number takes: "1 hodnota", "3 hodnoty", "5 hodnot" (UTF-8).
std::string ValuesText(long long count) {
  const char* noun = count == 1 ? "hodnota" : (count >= 2 && count <= 4) ? "hodnoty" : "hodnot";
  return std::to_string(count) + " " + noun;
}

/// A value as the report shows it (UTF-8): at most kShownValueChars characters, then "…";
/// control characters, which would act on a terminal, become blanks.
std::string ShownValue(std::u16string_view value) {
  std::u16string shown;
  int chars = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (chars == kShownValueChars) {
      shown += u'…';
      break;
    }
    char16_t unit = value[i];
    if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F)) unit = u' ';
    shown += unit;
    const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < value.size() && value[i + 1] >= 0xDC00 &&
                      value[i + 1] <= 0xDFFF;
    if (pair) shown += value[++i];
    ++chars;
  }
  return text::Utf16ToUtf8(shown);
}

/// UTF-16 little-endian bytes (SQL Server's nvarchar as varbinary) as text; an odd last byte
/// is dropped.
std::u16string FromUtf16Bytes(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                  (static_cast<unsigned char>(bytes[i + 1]) << 8U));
  }
  return text;
}

/// The total of values Windows-1250 cannot carry.
long long LossyCount(const tExportResult& result) {
  long long count = 0;
  for (const tLossyTable& table : result.LossyTables) count += table.Count;
  return count;
}

/// "Name: 2, Note: 5": the values per column of a table.
std::string ColumnCounts(const tLossyTable& table) {
  std::string text;
  for (const auto& [column, count] : table.Columns) {
    if (!text.empty()) text += ", ";
    text += column + ": " + std::to_string(count);
  }
  return text;
}

}  // namespace

std::string LossyTextReport(const tExportResult& result) {
  if (result.LossyTables.empty()) return {};
  const bool carried = result.Outcome == tExportOutcome::Warnings;
  std::string report =
      "Textové hodnoty se znaky, které kódování Windows-1250 nepřenese: " +
      std::to_string(LossyCount(result)) +
      (carried ? " (v archivu je nahradil znak '?')\n" : " (v archivu by je nahradil znak '?')\n");
  for (const tLossyTable& table : result.LossyTables) {
    report += "  " + text::AnsiToUtf8(table.Table) + ": " + ValuesText(table.Count) + " (" +
              text::AnsiToUtf8(ColumnCounts(table)) + ")\n";
    long long listed = 0;
    for (const tExportWarning& warning : result.Warnings) {
      if (warning.Table != table.Table) continue;
      ++listed;
      report += "    [" + (warning.Key.empty() ? std::string("bez klíče") : text::AnsiToUtf8(warning.Key)) +
                "] " + text::AnsiToUtf8(warning.Column) + ": \"" + warning.Value + "\"" +
                (warning.Exact ? "" : " (původní text nelze znovu přečíst)") + "\n";
    }
    const long long more = table.Count - listed;
    if (more > 0)
      report += std::string(more <= 4 ? "    a další " : "    a dalších ") + ValuesText(more) + "\n";
  }
  report +=
      "Bez ztráty znaků je přenese přenos v Unicode: tamaril-cli defs edit --export IDENTIFIKACE "
      "--text unicode (v programu volba Texty v archivu u definice exportu).\n";
  return report;
}

std::vector<std::string> ArchiveProtectionLines(const tExportResult& result) {
  std::vector<std::string> lines;
  if (!result.SignedBy.empty()) lines.push_back(Ansi("Archiv podepsán klíčem ") + result.SignedBy);
  if (!result.SealedTo.empty()) lines.push_back(Ansi("Archiv zašifrován pro klíč ") + result.SealedTo);
  return lines;
}

std::string UntrackedDeletionsNote(const tExportResult& result) {
  const std::vector<std::string>& tables = result.UntrackedDeletions;
  if (tables.empty()) return {};
  std::string names;
  for (const std::string& name : tables) names += (names.empty() ? "" : ", ") + name;
  const bool one = tables.size() == 1;
  return Ansi(one ? "Výmazy řádků tabulky " : "Výmazy řádků tabulek ") + names +
         Ansi(one ? " se nepřenášejí: její řádky neidentifikuje sloupec RowGuid ani jednoduchý celočíselný "
                    "klíč."
                  : " se nepřenášejí: jejich řádky neidentifikuje sloupec RowGuid ani jednoduchý celočíselný "
                    "klíč.");
}

std::string ExportCaption(const tExportDefinition& definition) {
  return Ansi("Eport pro ") + definition.CenterName + Ansi(", databáze ") + definition.DatabaseName;
}

/// The state of one run: the structure, the publisher and its callbacks, the current table's
/// rule and the counters.
class tExportRun::Session {
 public:
  Session(tExportRun& run, const tExportDefinition& definition, tExportResult& result)
      : run_(run), host_(run.host_), definition_(definition), result_(result) {}

  ~Session() {
    ForgetRule();
    rule_query_.reset();
    // The structure stays cached; its open table data goes on every way out. A failure here
    // must not replace the run's own outcome.
    try {
      if (structure_ != nullptr) structure_->CloseData();
    } catch (const std::exception&) {
    }
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  /// Writes the archive and the log and puts the archive in place: Success; TextLossRefused
  /// when texts Windows-1250 cannot carry stopped the run before either; Unplaced when the
  /// run is logged but its archive could not be put in place (result_.Text says so).
  tExportOutcome Export();
  /// True when a step after the archive was put in place failed (result_.Notes tells).
  bool LateFailure() const noexcept { return late_failure_; }

 private:
  /// A listed value to read again once the rows are written: the key condition of its table
  /// and the row's values for it.
  struct tPendingValue {
    std::size_t Warning = 0;  ///< position in result_.Warnings
    const dbstruct::tKeyedTbl_Structure* Table = nullptr;
    std::string Condition;
    std::vector<dbaccess::Value> Key;
  };

  // Asked on every row: the question is made only when a request waits.
  void CheckCancel() {
    if (host_.CancelRequested()) host_.CheckCancel(Ansi("Opravdu chcete ukončit export?"));
  }
  void OpenStructure();
  void CheckDefinition();
  void BuildTableList();
  void TableStart(const std::string& table_name, dbstruct::tTbl_Structure* table);
  void RowFilter(dataset::TDataSet& row, bool& accept);
  void RowWritten(dataset::TDataSet& row);
  void NoteLossyValues(dataset::TDataSet& row, const std::vector<std::string>& columns);
  void ReadListedValues();
  bool TextLossAllowed();
  std::string TextLossQuestion() const;
  /// The highest EXPORTNO of the Signature's log, 0 when it has none.
  int LastExportNo();
  /// Puts the archive of a run that ended after its log was committed in place, and removes
  /// every other temporary archive of this name.
  void FinishInterruptedRuns();
  /// Whether the log holds the run `export_no` of `export_time`; nothing when it cannot be read.
  std::optional<bool> Logged(int export_no, double export_time);
  /// As Logged; throws what the query throws.
  bool IsLogged(int export_no, double export_time);
  /// Writes the run's log rows in one transaction; throws "Export neproveden: …" when they
  /// are not committed, and keeps the writer's file when that cannot be told.
  void WriteLog(tArchiveWriter& writer, double export_time);
  /// Renames the archive in place to "SIGNATURE-EXPORTNO.ZR2.bak"; its new path, or empty.
  std::string MoveAside();
  /// Moves the earlier archive aside and renames `temporary` in place; throws what was logged
  /// and where the archive waits when a rename fails.
  void PlaceArchive(const std::string& temporary);
  /// Removes replaced archives of the Signature beyond the options' BackupCount, oldest first.
  void RemoveOldBackups();
  void ForgetRule() noexcept;
  dbaccess::Connection& Connection() const { return run_.access_.Connection; }

  tExportRun& run_;
  tRunHost& host_;
  const tExportDefinition& definition_;
  tExportResult& result_;

  dbstruct::tDatabase_Structure* structure_ = nullptr;
  tQVMPublisher publisher_;
  std::unique_ptr<dbaccess::TQueryDataSet> rule_query_;
  std::vector<int> counters_;  ///< rows written per table of the structure, by position
  long long written_ = 0;      ///< rows written in the whole run

  dbstruct::tTbl_Structure* current_table_ = nullptr;
  std::string rule_text_;
  std::unique_ptr<expr::tDatasetExpression> rule_;
  expr::FieldRegistry fields_;
  expr::DefinitionList rule_list_ = nullptr;
  bool compiled_ = false;
  /// A rule of one constant value (such as ANO) decides every row alike: its answer, once known.
  std::optional<bool> constant_answer_;

  std::vector<tPendingValue> pending_;  ///< at most kListedLossyValues per table

  std::string folder_;        ///< the export folder (UTF-8)
  std::string stem_;          ///< the Signature without blanks around (UTF-8)
  std::string archive_path_;  ///< the archive's final name (UTF-8)
  bool late_failure_ = false;
};

void tExportRun::Session::OpenStructure() {
  host_.SetActivity(Ansi("Analyzuji strukturu tabulky"));
  const bool cached =
      run_.access_.Cache.Find(definition_.ConnectionString, definition_.DatabaseName) != nullptr;
  host_.ShowProgress(!cached, false);
  if (!cached) host_.SetRunProgress(0);
  const dbstruct::ScanProgressEvent progress = [this](dbstruct::tDatabase_Structure&, int position,
                                                      const std::string& name, int count) {
    CheckCancel();
    host_.ReportTable(position, name, count);
  };
  structure_ = &OpenDatabaseStructure(run_.access_, definition_.ConnectionString, definition_.DatabaseName,
                                      tReadyFor::Export, progress);
}

void tExportRun::Session::CheckDefinition() {
  auto query = Connection().Prepare("select * from rep_DEFEXPORT where Signature=:Signature");
  query->SetParameter("Signature", dbaccess::Value::Text(definition_.Signature));
  if (!query->Open()->Next()) {
    throw ReplicationError(fmt::sprintf(Ansi("Databáze %s nemá pro centrum %s založenou definici exportu. "
                                             "Definici založte volbou Informace o položce v hlavním menu"),
                                        definition_.DatabaseName, definition_.CenterName));
  }
}

void tExportRun::Session::BuildTableList() {
  host_.SetActivity(Ansi("Exportuji tabulku"));
  {
    auto query =
        Connection().Prepare("select TABLENAME,ExportRule from rep_DEFEXPORT where signature=:Signature");
    query->SetParameter("Signature", dbaccess::Value::Text(definition_.Signature));
    auto rows = query->Open();
    while (rows->Next()) {
      if (rows->Get(1).IsNull()) continue;
      const std::string name = rows->Get(0).AsString();
      if (SameTableName(name, kDeletedRowsTable)) {
        publisher_.MainTable = kDeletedRowsTable;
      } else {
        publisher_.TableList.push_back(name);
      }
    }
  }
  counters_.assign(static_cast<std::size_t>(structure_->TableCount()), 0);
  for (const std::string& name : publisher_.TableList) {
    const dbstruct::tTbl_Structure* table = structure_->FindTable(name);
    if (table != nullptr && !table->Identifiable) result_.UntrackedDeletions.push_back(table->GetTableName());
  }

  result_.ExportNo = LastExportNo() + 1;
  host_.SetActivity(Ansi("Exportuji tabulku ") +
                    fmt::sprintf(Ansi("(Pořadí exportu: %d)"), result_.ExportNo));
}

void tExportRun::Session::ForgetRule() noexcept {
  rule_.reset();
  expr::FreeFieldDefinitions(fields_);
  rule_list_ = nullptr;
  rule_text_.clear();
  compiled_ = false;
  constant_answer_.reset();
}

void tExportRun::Session::TableStart(const std::string& table_name, dbstruct::tTbl_Structure* table) {
  ForgetRule();
  current_table_ = table;
  result_.Rows.emplace_back(table_name, 0);
  if (!rule_query_) {
    rule_query_ = std::make_unique<dbaccess::TQueryDataSet>(
        Connection(), "select LastExportDate,ExportRule from rep_DEFEXPORT where Signature=? and TABLENAME=?",
        dbaccess::ParameterStyle::Positional);
    rule_query_->DeclareParameter("Signature", dataset::FieldType::String, 10);
    rule_query_->DeclareParameter("TABLENAME", dataset::FieldType::String, 20);
  }
  rule_query_->SetParameter(std::size_t{0}, dbaccess::Value::Text(definition_.Signature));
  rule_query_->SetParameter(std::size_t{1}, dbaccess::Value::Text(table_name));
  rule_query_->Open();
  double last_export = 0;
  if (!rule_query_->Eof()) {
    rule_text_ = expr::RuleText(rule_query_->FindField("ExportRule"));
    const dataset::TField& date = rule_query_->FieldByName("LastExportDate");
    if (!date.IsNull()) last_export = date.AsDateTime();
  }
  rule_query_->Close();
  expr::RunValues().last_export_date = last_export;
}

void tExportRun::Session::RowFilter(dataset::TDataSet& row, bool& accept) {
  CheckCancel();
  if (rule_text_.empty()) return;
  if (constant_answer_) {
    accept = *constant_answer_;
    return;
  }
  if (!rule_) {
    rule_ = std::make_unique<expr::tDatasetExpression>(&row);
  } else {
    rule_->SetDataSet(&row);
  }
  if (fields_.Empty()) {
    rule_list_ = const_cast<expr::OperationDef*>(expr::RuleList(expr::RuleKind::Export));
    expr::RegisterDatasetFields(false, fields_, rule_list_, {}, row);
  }
  if (!compiled_) {
    rule_->Engine().SetUnicodeText(definition_.TextForm == tTextForm::Unicode);
    rule_->Compile(rule_text_, rule_list_);
    compiled_ = true;
  }
  const expr::Value value = rule_->Evaluate();
  accept = value.kind() == expr::Value::Kind::Boolean && value.AsBoolean();
  if (rule_->Engine().IsConstant()) constant_answer_ = accept;
}

void tExportRun::Session::RowWritten(dataset::TDataSet& row) {
  ++written_;
  host_.SetRecordCount(written_);
  if (!result_.Rows.empty()) ++result_.Rows.back().second;
  if (current_table_ != nullptr) {
    const int index = structure_->IndexOf(current_table_);
    if (index >= 0) ++counters_[static_cast<std::size_t>(index)];
    if (const auto* query = dynamic_cast<const dbaccess::TQueryDataSet*>(&row)) {
      const std::vector<std::string> lossy = query->UnmappableFields();
      if (!lossy.empty()) NoteLossyValues(row, lossy);
    }
  }
  host_.ProcessEvents();
}

void tExportRun::Session::NoteLossyValues(dataset::TDataSet& row, const std::vector<std::string>& columns) {
  const std::string table_name = current_table_->GetTableName();
  if (result_.LossyTables.empty() || result_.LossyTables.back().Table != table_name) {
    result_.LossyTables.push_back({table_name, 0, {}});
  }
  tLossyTable& table = result_.LossyTables.back();
  const auto* keyed = dynamic_cast<const dbstruct::tKeyedTbl_Structure*>(current_table_);
  // A key column that lost characters itself cannot find its row again.
  bool key_intact = keyed != nullptr;
  for (const std::string& column : columns) {
    if (keyed == nullptr) break;
    const auto same = [&column](const std::string& name) {
      return text::EqualsIgnoreCaseAscii(name, column);
    };
    if (std::any_of(keyed->PrimaryKeyFields.begin(), keyed->PrimaryKeyFields.end(), same) ||
        same(keyed->RowGuidColumn)) {
      key_intact = false;
    }
  }
  std::string key;
  bool key_read = false;
  for (const std::string& column : columns) {
    ++table.Count;
    auto counted = std::find_if(table.Columns.begin(), table.Columns.end(),
                                [&column](const auto& entry) { return entry.first == column; });
    if (counted == table.Columns.end()) counted = table.Columns.insert(counted, {column, 0});
    ++counted->second;
    if (table.Count > kListedLossyValues) continue;

    if (!key_read) {
      key = current_table_->GetKeyValuesText(row);
      if (key.empty() && keyed != nullptr && !keyed->RowGuidColumn.empty()) {
        if (const dataset::TField* guid = row.FindField(keyed->RowGuidColumn))
          key = keyed->RowGuidColumn + "=" + guid->AsString();
      }
      key_read = true;
    }
    const dataset::TField* field = row.FindField(column);
    const std::string read = field != nullptr ? field->AsString() : std::string();
    result_.Warnings.push_back({table_name, key, column, ShownValue(text::AnsiToUtf16(read)), false});

    const std::string condition = key_intact ? keyed->RecordKeyCondition() : std::string();
    if (condition.empty()) continue;
    std::vector<dbaccess::Parameter> parameters;
    for (std::string& name : dbaccess::ParseNamedParameters(condition).names) {
      parameters.push_back({std::move(name), dataset::FieldType::Unknown, 0, {}});
    }
    pending_.push_back(
        {result_.Warnings.size() - 1, keyed, condition, keyed->ParameterValues(&row, parameters)});
  }
}

void tExportRun::Session::ReadListedValues() {
  // The access layer hands texts over in Windows-1250, so the value comes as its bytes: UTF-8
  // from SQLite, UTF-16 from SQL Server.
  const bool sqlite = dynamic_cast<const dbstruct::tSQLiteDatabase_Structure*>(structure_) != nullptr;
  for (const tPendingValue& pending : pending_) {
    tExportWarning& warning = result_.Warnings[pending.Warning];
    const std::string column = pending.Table->QuoteIdentifier(warning.Column);
    const std::string bytes = sqlite ? "CAST(" + column + " AS BLOB)"
                                     : "CAST(CAST(" + column + " AS nvarchar(max)) AS varbinary(max))";
    try {
      auto statement = Connection().Prepare("select " + bytes + " from " +
                                            pending.Table->QuoteIdentifier(pending.Table->TableName) +
                                            " where " + pending.Condition);
      for (std::size_t i = 0; i < pending.Key.size(); ++i) statement->SetParameter(i, pending.Key[i]);
      auto rows = statement->Open();
      if (!rows->Next() || rows->Get(0).kind() != dbaccess::ValueKind::Bytes) continue;
      const std::string value = rows->Get(0).AsString();
      warning.Value = ShownValue(sqlite ? text::Utf8ToUtf16(value) : FromUtf16Bytes(value));
      warning.Exact = true;
    } catch (const Error&) {
      // The report then shows the value as the export read it.
    }
  }
  pending_.clear();
}

std::string tExportRun::Session::TextLossQuestion() const {
  constexpr std::size_t kTablesShown = 10;
  std::string question = Ansi("Počet textových hodnot se znaky, které kódování Windows-1250 nepřenese: ") +
                         std::to_string(LossyCount(result_)) + "\n";
  for (std::size_t i = 0; i < result_.LossyTables.size() && i < kTablesShown; ++i) {
    const tLossyTable& table = result_.LossyTables[i];
    question += "  " + table.Table + ": " + std::to_string(table.Count) + " (" + ColumnCounts(table) + ")\n";
  }
  if (result_.LossyTables.size() > kTablesShown) {
    question += Ansi("  další tabulky: ") + std::to_string(result_.LossyTables.size() - kTablesShown) + "\n";
  }
  question += Ansi(
      "\nV archivu by tyto znaky nahradil znak '?' a příjemce by dostal pozměněné texty. Bez ztráty je "
      "přenese přenos v Unicode, volba Texty v archivu u definice exportu.\n\nPřenést je přesto se ztrátou "
      "znaků?");
  return question;
}

bool tExportRun::Session::TextLossAllowed() {
  switch (run_.text_loss_) {
    case tTextLoss::Allow: return true;
    case tTextLoss::Refuse: return false;
    case tTextLoss::Ask: CheckCancel(); return host_.AllowTextLoss(TextLossQuestion());
  }
  return false;
}

int tExportRun::Session::LastExportNo() {
  auto query = Connection().Prepare("select max(EXPORTNO) from rep_XPORTLOG where signature=:Signature");
  query->SetParameter("Signature", dbaccess::Value::Text(definition_.Signature));
  auto rows = query->Open();
  return rows->Next() && !rows->Get(0).IsNull() ? static_cast<int>(rows->Get(0).AsInteger()) : 0;
}

std::optional<bool> tExportRun::Session::Logged(int export_no, double export_time) {
  try {
    return IsLogged(export_no, export_time);
  } catch (const Error&) {
    return std::nullopt;
  }
}

bool tExportRun::Session::IsLogged(int export_no, double export_time) {
  auto query = Connection().Prepare(
      "select EXPORTDATE from rep_XPORTLOG where Signature=:Signature and EXPORTNO=:ExportNo");
  query->SetParameter("Signature", dbaccess::Value::Text(definition_.Signature));
  query->SetParameter("ExportNo", dbaccess::Value::Integer(export_no));
  auto rows = query->Open();
  if (!rows->Next()) return false;
  // The row is the run's own when it holds the archive's export time (SQL Server's datetime
  // keeps it to a few milliseconds); a row of another run with this number is not.
  const dbaccess::Value logged = rows->Get(0);
  if (logged.IsNull()) return true;
  constexpr double kSameTime = 10.0 / 86400000.0;
  return std::abs(dbaccess::DaysOf(logged.AsDateTime()) - export_time) <= kSameTime;
}

void tExportRun::Session::FinishInterruptedRuns() {
  // Under the lock every temporary archive of this name was left by a run that ended before
  // putting it in place. Only the last logged run can be one of them: a run puts such an
  // archive in place before it takes a number of its own. That archive is complete (it was
  // synced before the log was committed) and goes in place now; any other is removed.
  const int last_logged = LastExportNo();
  const std::string archive_name = stem_ + std::string(kArchiveExtension);
  const std::string signature = definition_.Signature.substr(0, kMaxSignatureLength);
  std::vector<std::string> left;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder_, error)) {
    if (IsTemporaryArchiveName(entry.path().filename().string(), archive_name))
      left.push_back(entry.path().string());
  }
  std::sort(left.begin(), left.end());
  bool placed = false;
  for (const std::string& path : left) {
    const std::optional<tArchiveHeader> header = ReadArchiveFileHeader(path);
    if (!placed && header && header->Signature == signature && header->ExportNo == last_logged &&
        last_logged > 0 && IsLogged(header->ExportNo, header->ExportTime)) {
      const std::string moved = MoveAside();
      RenameFile(path, archive_path_);
      if (const int failed = SyncFolder(folder_); failed != 0) {
        throw ReplicationError(Ansi("Zápis složky " + folder_ + " selhal: ") + SystemReasonText(failed));
      }
      placed = true;
      std::string note = fmt::sprintf(Ansi("Archiv exportu %d, zapsaného do protokolu před přerušením běhu, "
                                           "dán na místo: "),
                                      header->ExportNo) +
                         Ansi(archive_path_);
      if (!moved.empty()) note += Ansi(" (předchozí archiv přejmenován na ") + Ansi(moved) + ")";
      result_.Notes.push_back(note);
    } else if (!RemoveFile(path)) {
      const int reason = errno;
      throw ReplicationError(Ansi("Nedokončený archiv " + path + " přerušeného exportu nelze odstranit: ") +
                             SystemReasonText(reason));
    }
  }
}

std::string tExportRun::Session::MoveAside() {
  std::error_code error;
  if (!fs::exists(archive_path_, error)) return {};
  std::string moved = MovedAsideName(archive_path_, folder_, stem_);
  RenameFile(archive_path_, moved);
  return moved;
}

void tExportRun::Session::WriteLog(tArchiveWriter& writer, double export_time) {
  std::vector<std::pair<std::string, int>> counts;
  for (int i = 0; i < structure_->TableCount(); ++i) {
    const int rows = counters_[static_cast<std::size_t>(i)];
    if (rows > 0) counts.emplace_back(structure_->Table(i).GetTableName(), rows);
  }
  const std::vector<std::string> batch =
      structure_->ExportLogBatch(definition_.Signature, result_.ExportNo, export_time, counts);
  dbaccess::TransactionGuard transaction(Connection());
  try {
    for (const std::string& statement : batch) Connection().Execute(statement);
  } catch (const Error& error) {
    throw ReplicationError(Ansi("Export neproveden: zápis do protokolu exportu v databázi selhal: ") +
                           FailureText(error));
  }
  try {
    transaction.Commit();
  } catch (const Error& error) {
    // A commit that reports a failure may have happened all the same: the log says which.
    const std::string reason = FailureText(error);
    try {
      if (Connection().InTransaction()) Connection().Rollback();
    } catch (const Error&) {
      // The database rolls an unconfirmed transaction back itself.
    }
    const std::optional<bool> logged = Logged(result_.ExportNo, export_time);
    if (logged == true) return;
    if (logged == false) {
      throw ReplicationError(
          Ansi("Export neproveden: potvrzení zápisu do protokolu exportu v databázi selhalo: ") + reason);
    }
    writer.Keep();
    throw ReplicationError(
        fmt::sprintf(Ansi("Nelze zjistit, zda je export %d zapsán v protokolu databáze (%s). Úplný archiv "
                          "zůstal jako %s; příští export jej podle protokolu dá na místo, nebo odstraní."),
                     result_.ExportNo, reason, Ansi(writer.TemporaryPath())));
  }
}

void tExportRun::Session::PlaceArchive(const std::string& temporary) {
  try {
    result_.MovedAsidePath = MoveAside();
    RenameFile(temporary, archive_path_);
  } catch (const std::exception& error) {
    std::string moved;
    if (!result_.MovedAsidePath.empty())
      moved = Ansi("; předchozí archiv byl přejmenován na ") + Ansi(result_.MovedAsidePath);
    throw ReplicationError(
        fmt::sprintf(Ansi("Export %d je zapsán v protokolu databáze, archiv však nelze dát na místo: %s%s. "
                          "Úplný archiv zůstal jako %s; příští export jej přejmenuje na %s."),
                     result_.ExportNo, error.what(), moved, Ansi(temporary), Ansi(archive_path_)));
  }
  result_.ArchivePath = archive_path_;
  if (const int error = SyncFolder(folder_); error != 0) {
    late_failure_ = true;
    result_.Notes.push_back(Ansi("Přejmenování archivu nelze potvrdit zápisem složky " + folder_ + ": ") +
                            SystemReasonText(error) +
                            Ansi("; po výpadku napájení jej dokončí příští export."));
  }
}

void tExportRun::Session::RemoveOldBackups() {
  // The replaced archives of this Signature, the newest first; damaged ones, which have no
  // number in their name, are not counted and stay.
  struct tBackup {
    double ExportTime;
    int ExportNo;
    std::string Path;
  };
  std::vector<tBackup> backups;
  const std::string signature = definition_.Signature.substr(0, kMaxSignatureLength);
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder_, error)) {
    const std::string name = entry.path().filename().string();
    const std::optional<int> number = MovedAsideNumber(name, stem_);
    if (!number) continue;
    const std::string path = entry.path().string();
    const std::optional<tArchiveHeader> header = ReadArchiveFileHeader(path);
    if (!header || header->Signature != signature || header->ExportNo != *number) continue;
    backups.push_back({header->ExportTime, header->ExportNo, path});
  }
  std::sort(backups.begin(), backups.end(), [](const tBackup& a, const tBackup& b) {
    if (a.ExportTime != b.ExportTime) return a.ExportTime > b.ExportTime;
    if (a.ExportNo != b.ExportNo) return a.ExportNo > b.ExportNo;
    return a.Path > b.Path;
  });
  const auto keep = static_cast<std::size_t>(std::max(run_.options_.BackupCount, 0));
  for (std::size_t i = keep; i < backups.size(); ++i) {
    const std::string& path = backups[i].Path;
    if (RemoveFile(path)) {
      result_.RemovedBackups.push_back(path);
      if (path == result_.MovedAsidePath) result_.MovedAsidePath.clear();
    } else {
      const int reason = errno;
      late_failure_ = true;
      result_.Notes.push_back(Ansi("Starší archiv " + path + " nelze odstranit: ") +
                              SystemReasonText(reason));
    }
  }
}

tExportOutcome tExportRun::Session::Export() {
  host_.SetRecordCount(0);
  OpenStructure();
  CheckDefinition();

  folder_ = text::AnsiToUtf8(run_.options_.ExportFolder);
  stem_ = text::AnsiToUtf8(text::TrimBlanks(definition_.Signature));
  archive_path_ = ArchiveFileName(folder_, stem_);
  const tRunLock lock(archive_path_ + ".lock",
                      Ansi("Export pro ") + std::string(text::TrimBlanks(definition_.Signature)) +
                          Ansi(" už probíhá v jiném programu. Počkejte, až skončí."));
  FinishInterruptedRuns();

  publisher_.Structure = structure_;
  publisher_.OnTableProgress = [this](tQVMPublisher&, int position, const std::string& name, int count) {
    CheckCancel();
    host_.ReportTable(position, name, count);
  };
  publisher_.OnRowProgress = [this](tQVMPublisher&, int position, int count) {
    CheckCancel();
    host_.ReportRow(position, count);
  };
  publisher_.OnTableStart = [this](tQVMPublisher& publisher, const std::string& name) {
    TableStart(name, publisher.CurrentTable);
  };
  publisher_.OnRowFilter = [this](tQVMPublisher&, dataset::TDataSet& row, bool& accept) {
    RowFilter(row, accept);
  };
  publisher_.OnRowWritten = [this](tQVMPublisher&, dataset::TDataSet& row) { RowWritten(row); };
  BuildTableList();

  host_.ShowProgress(true, true);
  host_.SetRunProgress(0);
  host_.SetTableProgress(0);
  tArchiveHeader header;
  header.Identified = true;
  header.Form = definition_.TextForm;
  header.Signature = definition_.Signature.substr(0, kMaxSignatureLength);
  header.ExportNo = result_.ExportNo;
  header.ExportTime = dbstruct::NowAsDateTime();
  expr::RunValues().signature = header.Signature;

  // The archive is written and synced under a temporary name beside its own. Until the log
  // commits, every way out removes it and leaves the earlier archive where it was. Once the
  // log holds the run, the archive replaces the earlier one; a run that ends between the two
  // leaves it complete under the temporary name, and the next run puts it in place
  // (FinishInterruptedRuns), so no logged run is ever without its archive.
  // Signed when the site has a key, sealed when the definition names the center's key.
  const tArchiveProtection protection = ArchiveProtectionFor(definition_.Signature);
  tArchiveWriter writer(archive_path_, header, protection);
  if (protection.SignWith) result_.SignedBy = PublicKeyText(protection.SignWith->Public());
  if (protection.SealTo) result_.SealedTo = PublicKeyText(*protection.SealTo);
  publisher_.Stream = &writer.Stream();
  publisher_.Adapter.SetTextForm(definition_.TextForm);
  try {
    // The Unicode form reads the rows' texts, and the rules with their constants, as UTF-8.
    const dbaccess::UnicodeTextScope text_form(Connection(), definition_.TextForm == tTextForm::Unicode);
    publisher_.Publish();
  } catch (const dbaccess::DatabaseError& error) {
    throw ReplicationError(Ansi("Export neproveden: čtení dat z databáze selhalo: ") + FailureText(error));
  }
  writer.Finish();
  // Texts that would lose characters stop the run here, unless their loss is allowed; the
  // unfinished archive goes with the writer.
  if (!result_.LossyTables.empty()) {
    ReadListedValues();
    if (!TextLossAllowed()) return tExportOutcome::TextLossRefused;
  }

  WriteLog(writer, header.ExportTime);
  // Logged: from here the archive is kept whatever happens.
  writer.Keep();
  try {
    PlaceArchive(writer.TemporaryPath());
  } catch (const std::exception& error) {
    result_.Text = error.what();
    result_.PendingPath = writer.TemporaryPath();
    return tExportOutcome::Unplaced;
  }
  RemoveOldBackups();
  return tExportOutcome::Success;
}

tExportRun::tExportRun(const tDatabaseAccess& access, const core::TReplOptions& options, tRunHost& host,
                       tTextLoss text_loss)
    : access_(access), options_(options), host_(host), text_loss_(text_loss) {}

tExportResult tExportRun::Run(const tExportDefinition& definition) {
  host_.ClearCancel();
  expr::InitRuleLists();
  tExportResult result;
  try {
    Session session(*this, definition, result);
    result.Outcome = session.Export();
    if (result.Outcome == tExportOutcome::TextLossRefused) {
      result.Text = Ansi(
                        "Export neproveden: textové hodnoty obsahují znaky, které kódování Windows-1250 "
                        "nepřenese (počet: ") +
                    std::to_string(LossyCount(result)) + ")";
    } else if (result.Outcome == tExportOutcome::Success) {
      if (!result.LossyTables.empty() || session.LateFailure()) result.Outcome = tExportOutcome::Warnings;
      result.Text = Ansi(result.Outcome == tExportOutcome::Success ? "Export úspěšně dokončen"
                                                                   : "Export dokončen s varováním");
    }
  } catch (const EAbort&) {
    result.Outcome = tExportOutcome::Cancelled;
    result.Text = Ansi("Export přerušen uživatelem");
  } catch (const std::exception& error) {
    result.Outcome = tExportOutcome::Failed;
    result.Text = FailureText(error);
  }
  if (result.Outcome != tExportOutcome::Success && result.Outcome != tExportOutcome::Warnings) {
    if (result.Outcome != tExportOutcome::Unplaced) {
      result.ExportNo = 0;
      result.MovedAsidePath.clear();
    }
    result.ArchivePath.clear();
    result.SignedBy.clear();
    result.SealedTo.clear();
  }
  host_.ClearLabels();
  host_.ShowProgress(false, false);
  host_.ShowMessage(result.Text);
  return result;
}

}  // namespace tamaril::replication
