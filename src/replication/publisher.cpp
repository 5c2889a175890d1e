#include "replication/publisher.h"

#include "replication/archive.h"
#include "replication/table_names.h"

namespace tamaril::replication {

namespace {

// Closes a table's data after a failure without putting its own failure in that one's place.
void CloseDataAfterFailure(dbstruct::tTbl_Structure& table) noexcept {
  try {
    table.CloseData();
  } catch (...) {
    // The failure that led here is the one to report.
  }
}

}  // namespace

tQVMPublisher::tQVMPublisher() = default;

tQVMPublisher::~tQVMPublisher() = default;

bool tQVMPublisher::Listed(const std::string& name) const { return ContainsTableName(TableList, name); }

void tQVMPublisher::AddMasterTables() {
  // One master at a time, and the pass starts again from the end of the list, so that the
  // masters of a newly added master are added before the next master of the first table.
  bool added = true;
  while (added) {
    added = false;
    for (std::size_t i = TableList.size(); i-- > 0 && !added;) {
      const dbstruct::tTbl_Structure* table = Structure->FindTable(TableList[i]);
      if (table == nullptr) continue;
      const int position = Structure->IndexOf(table);
      for (int j = 0; j < position; ++j) {
        const dbstruct::tTbl_Structure& master = Structure->Table(j);
        if (table->DependsOn(master, false) && !Listed(master.GetTableName())) {
          TableList.push_back(master.GetTableName());
          added = true;
          break;
        }
      }
    }
  }
}

void tQVMPublisher::Publish() {
  if (Stream == nullptr || Structure == nullptr) return;
  AddMasterTables();

  Stream->WriteU8(static_cast<std::uint8_t>(ArchiveMarker::TableList));
  std::string list;
  for (const auto& name : TableList) list += name + "\r\n";
  dataset::WriteStreamString(list, *Stream);

  const int count = Structure->TableCount();
  if (!MainTable.empty()) {
    if (dbstruct::tTbl_Structure* main = Structure->FindTable(MainTable)) {
      CurrentTable = main;
      CurrentTableName = main->GetTableName();
      if (OnTableProgress) OnTableProgress(*this, 0, CurrentTableName, count);
      if (OnTableStart) OnTableStart(*this, CurrentTableName);
      PublishAndClose(*main, true);
    }
  }
  for (int i = 0; i < count; ++i) {
    dbstruct::tTbl_Structure& table = Structure->Table(i);
    const std::string name = table.GetTableName();
    if (OnTableProgress) OnTableProgress(*this, i + 1, name, count);
    if (!Listed(name) || (!MainTable.empty() && SameTableName(name, MainTable))) continue;
    CurrentTable = &table;
    CurrentTableName = name;
    if (OnTableStart) OnTableStart(*this, name);
    PublishAndClose(table, false);
  }
  Stream->WriteU8(static_cast<std::uint8_t>(ArchiveMarker::End));
}

void tQVMPublisher::PublishAndClose(dbstruct::tTbl_Structure& table, bool main_table) {
  try {
    PublishTable(table, main_table);
  } catch (...) {
    CloseDataAfterFailure(table);
    throw;
  }
  table.CloseData();
}

void tQVMPublisher::PublishTable(dbstruct::tTbl_Structure& table, bool main_table) {
  int row_count = 0;
  std::unique_ptr<dataset::TDataSet> data = table.OpenTableData("", main_table ? "SUCCNO" : "", row_count);
  data->Open();

  Stream->WriteU8(static_cast<std::uint8_t>(ArchiveMarker::Table));
  Stream->WriteU16(static_cast<std::uint16_t>(main_table ? kDeletedRowsFlag : 0));
  dataset::WriteStreamString(table.GetTableName(), *Stream);
  // The layout is the same for every row of the table: built once here.
  const std::string layout = tDatasetAdapter::LayoutOf(data.get());
  dataset::WriteStreamString(layout, *Stream);
  const std::vector<dataset::TField*> fields = Adapter.SourceFields(*data, layout);

  int position = 0;
  for (; !data->Eof(); data->Next()) {
    ++position;
    if (OnRowProgress) OnRowProgress(*this, position, row_count);
    bool accept = false;
    if (OnRowFilter) OnRowFilter(*this, *data, accept);
    if (!accept) continue;
    Stream->WriteU8(static_cast<std::uint8_t>(ArchiveMarker::Row));
    Adapter.WriteRowOf(*data, fields, Stream);
    Stream->WriteU8(static_cast<std::uint8_t>(ArchiveMarker::RowEnd));
    if (OnRowWritten) OnRowWritten(*this, *data);
  }
  Stream->WriteU8(static_cast<std::uint8_t>(ArchiveMarker::TableEnd));
}

}  // namespace tamaril::replication
