#include "replication/export_run.h"

#include <unistd.h>

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
#include "dbaccess/query_dataset.h"
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

void RenameFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    throw ReplicationError(
        Ansi("Soubor " + from + " nelze přejmenovat na " + to + ": " + std::strerror(errno)));
  }
}

}  // namespace

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

  void Export();

 private:
  void CheckCancel() { host_.CheckCancel(Ansi("Opravdu chcete ukončit export?")); }
  void OpenStructure();
  void CheckDefinition();
  void BuildTableList();
  void TableStart(const std::string& table_name, dbstruct::tTbl_Structure* table);
  void RowFilter(dataset::TDataSet& row, bool& accept);
  void RowWritten(dataset::TDataSet& row);
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
      if (!lossy.empty()) {
        const std::string key = current_table_->GetKeyValuesText(row);
        for (const std::string& column : lossy) {
          result_.Warnings.push_back({current_table_->GetTableName(), key, column});
        }
      }
    }
  }
  host_.ProcessEvents();
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

void tExportRun::Session::Export() {
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
}

tExportRun::tExportRun(const tDatabaseAccess& access, const core::TReplOptions& options, tRunHost& host)
    : access_(access), options_(options), host_(host) {}

tExportResult tExportRun::Run(const tExportDefinition& definition) {
  host_.ClearCancel();
  expr::InitRuleLists();
  tExportResult result;
  try {
    Session session(*this, definition, result);
    session.Export();
    result.Outcome = tExportOutcome::Success;
    result.Text = Ansi("Export úspěšně dokončen");
  } catch (const EAbort&) {
    result.Outcome = tExportOutcome::Cancelled;
    result.Text = Ansi("Export přerušen uživatelem");
  } catch (const std::exception& error) {
    result.Outcome = tExportOutcome::Failed;
    result.Text = error.what();
  }
  if (result.Outcome != tExportOutcome::Success) {
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
