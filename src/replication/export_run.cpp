#include "replication/export_run.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>

#include <fmt/printf.h>

#include "core/repl_options.h"
#include "dataset/date_codec.h"
#include "dataset/field.h"
#include "dbaccess/connection.h"
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

/// The local date and time now as days since 30 December 1899.
double LocalNow() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::tm local{};
  ::localtime_r(&now.tv_sec, &local);
  const auto day = static_cast<std::int32_t>(
      dataset::DayNumberFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday));
  const auto ms = static_cast<std::int32_t>(((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 +
                                            now.tv_nsec / 1000000);
  return dataset::TimeStampToDateTime({day, ms});
}

/// Where an archive about to be replaced goes: "SIGNATURE-EXPORTNO.ZR2.bak" with the number
/// from its own header ("SIGNATURE.ZR2.bak" when the header cannot be read), a free name.
std::string MovedAsideName(const std::string& archive, const std::string& folder, const std::string& stem) {
  std::string base = stem;
  try {
    tArchiveReader old(archive);
    if (old.Header().Identified) base += "-" + std::to_string(old.Header().ExportNo);
  } catch (const Error&) {
    // A damaged archive is kept all the same, under the name without a number.
  }
  std::string prefix = folder;
  if (!prefix.empty() && prefix.back() != '/') prefix += '/';
  std::string candidate = prefix + base + std::string(kArchiveExtension) + ".bak";
  for (int n = 2; fs::exists(candidate); ++n) {
    candidate = prefix + base + "(" + std::to_string(n) + ")" + std::string(kArchiveExtension) + ".bak";
  }
  return candidate;
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

void RenameFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    throw ReplicationError(
        Ansi("Soubor " + from + " nelze přejmenovat na " + to + ": " + std::strerror(errno)));
  }
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
  report += "Bez ztráty znaků je přenese až připravovaný přenos v Unicode.\n";
  return report;
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

  /// Writes the archive and the log; false when texts Windows-1250 cannot carry stopped the
  /// run before either.
  bool Export();

 private:
  /// A listed value to read again once the rows are written: the key condition of its table
  /// and the row's values for it.
  struct tPendingValue {
    std::size_t Warning = 0;  ///< position in result_.Warnings
    const dbstruct::tKeyedTbl_Structure* Table = nullptr;
    std::string Condition;
    std::vector<dbaccess::Value> Key;
  };

  void CheckCancel() { host_.CheckCancel(Ansi("Opravdu chcete ukončit export?")); }
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
  void WriteLog(double export_time);
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

  std::vector<tPendingValue> pending_;  ///< at most kListedLossyValues per table
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

  auto query = Connection().Prepare("select max(EXPORTNO) from rep_XPORTLOG where signature=:Signature");
  query->SetParameter("Signature", dbaccess::Value::Text(definition_.Signature));
  auto rows = query->Open();
  const bool found = rows->Next() && !rows->Get(0).IsNull();
  result_.ExportNo = found ? static_cast<int>(rows->Get(0).AsInteger()) + 1 : 1;
  host_.SetActivity(Ansi("Exportuji tabulku ") +
                    fmt::sprintf(Ansi("(Pořadí exportu: %d)"), result_.ExportNo));
}

void tExportRun::Session::ForgetRule() noexcept {
  rule_.reset();
  expr::FreeFieldDefinitions(fields_);
  rule_list_ = nullptr;
  rule_text_.clear();
  compiled_ = false;
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
    rule_->Compile(rule_text_, rule_list_);
    compiled_ = true;
  }
  const expr::Value value = rule_->Evaluate();
  accept = value.kind() == expr::Value::Kind::Boolean && value.AsBoolean();
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
      "přenese až připravovaný přenos v Unicode.\n\nPřenést je přesto se ztrátou znaků?");
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

void tExportRun::Session::WriteLog(double export_time) {
  std::vector<std::pair<std::string, int>> counts;
  for (int i = 0; i < structure_->TableCount(); ++i) {
    const int rows = counters_[static_cast<std::size_t>(i)];
    if (rows > 0) counts.emplace_back(structure_->Table(i).GetTableName(), rows);
  }
  const std::vector<std::string> batch =
      structure_->ExportLogBatch(definition_.Signature, result_.ExportNo, export_time, counts);
  dbaccess::TransactionGuard transaction(Connection());
  for (const std::string& statement : batch) Connection().Execute(statement);
  transaction.Commit();
}

bool tExportRun::Session::Export() {
  host_.SetRecordCount(0);
  OpenStructure();
  CheckDefinition();

  const std::string folder = text::AnsiToUtf8(run_.options_.ExportFolder);
  const std::string stem = text::AnsiToUtf8(text::TrimBlanks(definition_.Signature));
  const std::string archive_path = ArchiveFileName(folder, stem);
  const tRunLock lock(archive_path + ".lock", Ansi("Export pro ") +
                                                  std::string(text::TrimBlanks(definition_.Signature)) +
                                                  Ansi(" už probíhá v jiném programu. Počkejte, až skončí."));

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
  header.Signature = definition_.Signature.substr(0, kMaxSignatureLength);
  header.ExportNo = result_.ExportNo;
  header.ExportTime = LocalNow();
  expr::RunValues().signature = header.Signature;

  // Until Commit the archive is a temporary file beside its name, removed on every way out.
  tArchiveWriter writer(archive_path, header);
  publisher_.Stream = &writer.Stream();
  publisher_.Publish();
  writer.Finish();
  // Texts that would lose characters stop the run here, unless their loss is allowed; the
  // unfinished archive goes with the writer.
  if (!result_.LossyTables.empty()) {
    ReadListedValues();
    if (!TextLossAllowed()) return false;
  }

  // The archive of an earlier run is kept under a name of its own; it comes back when the log
  // cannot be written.
  std::string moved_aside;
  if (fs::exists(archive_path)) {
    moved_aside = MovedAsideName(archive_path, folder, stem);
    RenameFile(archive_path, moved_aside);
  }
  try {
    WriteLog(header.ExportTime);
  } catch (...) {
    if (!moved_aside.empty()) ::rename(moved_aside.c_str(), archive_path.c_str());
    throw;
  }
  writer.Commit();
  result_.ArchivePath = archive_path;
  result_.MovedAsidePath = moved_aside;
  return true;
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
    if (!session.Export()) {
      result.Outcome = tExportOutcome::TextLossRefused;
      result.Text = Ansi(
                        "Export neproveden: textové hodnoty obsahují znaky, které kódování Windows-1250 "
                        "nepřenese (počet: ") +
                    std::to_string(LossyCount(result)) + ")";
    } else if (result.LossyTables.empty()) {
      result.Outcome = tExportOutcome::Success;
      result.Text = Ansi("Export úspěšně dokončen");
    } else {
      result.Outcome = tExportOutcome::Warnings;
      result.Text = Ansi("Export dokončen s varováním");
    }
  } catch (const EAbort&) {
    result.Outcome = tExportOutcome::Cancelled;
    result.Text = Ansi("Export přerušen uživatelem");
  } catch (const std::exception& error) {
    result.Outcome = tExportOutcome::Failed;
    result.Text = error.what();
  }
  if (result.Outcome != tExportOutcome::Success && result.Outcome != tExportOutcome::Warnings) {
    result.ExportNo = 0;
    result.ArchivePath.clear();
    result.MovedAsidePath.clear();
  }
  host_.ClearLabels();
  host_.ShowProgress(false, false);
  host_.ShowMessage(result.Text);
  return result;
}

}  // namespace tamaril::replication
