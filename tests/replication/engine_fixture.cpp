#include "engine_fixture.h"

#include "dataset/field.h"
#include "dataset/stream.h"

namespace tamaril::replication::fixtures {

std::string MergeLog::Joined() const {
  std::string text;
  for (const auto& event : events) text += (text.empty() ? "" : "; ") + event;
  return text;
}

EngineTest::EngineTest() = default;

void EngineTest::SetUp() {
  dbstruct::IgnoreFieldInComparison = expr::IsTrackingColumn;
  for (auto* connection : {&client_, &center_}) {
    connection->SetConnectionString("Provider=SQLite;Data Source=" + folder_.path());
    connection->Open();
  }
  client_.CreateDatabase("client");
  client_.SetDefaultDatabase("client");
  center_.CreateDatabase("center");
  center_.SetDefaultDatabase("center");
}

void EngineTest::ExecuteBoth(const std::string& sql) {
  client_.Execute(sql);
  center_.Execute(sql);
}

void EngineTest::ScanBoth() {
  client_structure_.Scan();
  center_structure_.Scan();
}

std::string EngineTest::Publish(std::vector<std::string> tables, const std::string& main_table,
                                std::function<bool(dataset::TDataSet&)> filter) {
  dataset::MemoryWriter out;
  tQVMPublisher publisher;
  publisher.TableList = std::move(tables);
  publisher.MainTable = main_table;
  publisher.Stream = &out;
  publisher.Structure = &client_structure_;
  publisher.OnRowFilter = [&](tQVMPublisher&, dataset::TDataSet& row, bool& accept) {
    accept = filter ? filter(row) : true;
  };
  publisher.Publish();
  published_tables_ = publisher.TableList;
  return out.Take();
}

bool EngineTest::Merge(const std::string& content, MergeLog& log) {
  dataset::MemoryReader in(content);
  tQVMMerger merger;
  merger.Stream = &in;
  merger.Structure = merge_target_ != nullptr ? merge_target_ : &center_structure_;
  auto note = [&](std::string text) { log.events.push_back(std::move(text)); };
  merger.OnAppendRow = [&](tQVMMerger&, dataset::TDataSet&, bool& allow) { allow = allow_append_; };
  merger.OnUpdateRow = [&](tQVMMerger&, dataset::TDataSet& row, bool& allow, dbstruct::tExistingRecords&) {
    if (on_update_) on_update_(row);
    allow = allow_update_;
  };
  merger.OnDeleteRow = [&](tQVMMerger&, dataset::TDataSet&, bool& allow, dbstruct::tExistingRecords&) {
    allow = allow_delete_;
  };
  merger.OnRowAppended = [&](tQVMMerger& m, dataset::TDataSet&) { note("append " + m.TableName); };
  merger.OnRowUpdated = [&](tQVMMerger& m, dataset::TDataSet& row) {
    std::string changed;
    for (const auto& field : row.Fields()) {
      if (field->Tag != 0) changed += (changed.empty() ? "" : ",") + field->Name;
    }
    note("update " + m.TableName + " " + changed);
  };
  merger.OnRowDeleted = [&](tQVMMerger& m, dataset::TDataSet&, std::int64_t count) {
    note("delete " + m.CurrentTable->GetTableName() + " " + std::to_string(count));
  };
  merger.OnDuplicate = [&](tQVMMerger& m, dataset::TDataSet&) { note("duplicate " + m.TableName); };
  merger.OnConflict = [&](tQVMMerger&, dataset::TDataSet&, tConflictKind kind, const std::string& text) {
    note("conflict " + std::to_string(static_cast<int>(kind)) + " " + text);
  };
  if (configure_merger_) configure_merger_(merger);
  dbaccess::TransactionGuard transaction(center_);
  const bool complete = merger.Merge();
  transaction.Commit();
  return complete;
}

std::string EngineTest::Rows(dbaccess::Connection& connection, const std::string& select) {
  std::string text;
  for (auto rows = connection.Query(select); rows->Next();) {
    for (std::size_t i = 0; i < rows->Columns().size(); ++i) {
      const dbaccess::Value value = rows->Get(i);
      text += (i ? "|" : "") + (value.IsNull() ? std::string("NULL") : value.AsString());
    }
    text += "\n";
  }
  return text;
}

}  // namespace tamaril::replication::fixtures
