#include "replication/merger.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>

#include <fmt/format.h>

#include "dataset/field.h"
#include "dbstruct/field_tags.h"
#include "replication/archive.h"
#include "replication/errors.h"
#include "replication/table_names.h"
#include "text/encoding.h"

namespace tamaril::replication {

namespace {

// The next marker byte, or nothing when the content has ended.
std::optional<std::uint8_t> ReadMarker(dataset::ByteReader& stream) {
  std::uint8_t byte = 0;
  if (stream.Read(&byte, 1) != 1) return std::nullopt;
  return byte;
}

bool IsMarker(const std::optional<std::uint8_t>& byte, ArchiveMarker marker) {
  return byte.has_value() && *byte == static_cast<std::uint8_t>(marker);
}

// Where a damaged archive failed, in front of the reason: "Tabulka T, řádek N: " (Windows-1250).
std::string RowPlace(const std::string& table_name, int row_number) {
  return text::Utf8ToAnsi("Tabulka ") + table_name + text::Utf8ToAnsi(", řádek ") +
         std::to_string(row_number) + ": ";
}

bool AnyFieldTagged(const dataset::TDataSet& row) {
  for (const auto& field : row.Fields()) {
    if (dbstruct::IsFieldToWrite(*field)) return true;
  }
  return false;
}

// True when `constraint` names a key from `table` to itself and no key to another table.
bool IsOwnKey(const dbstruct::tTbl_Structure& table, const std::string& constraint) {
  bool own = false;
  const dbstruct::tMastersInfo& masters = table.Masters();
  for (int m = 0; m < masters.Count(); ++m) {
    const dbstruct::tForeignKeysInfo& keys = masters.Items(m);
    if (keys.FindKey(constraint) == nullptr) continue;
    if (keys.MasterTable != &table) return false;
    own = true;
  }
  return own;
}

// Passes the bytes of a source on and keeps a copy of them.
class CopyingReader : public dataset::ByteReader {
 public:
  CopyingReader(dataset::ByteReader& source, std::string& copy) : source_(source), copy_(copy) {}
  std::size_t Read(void* data, std::size_t size) override {
    const std::size_t read = source_.Read(data, size);
    copy_.append(static_cast<const char*>(data), read);
    return read;
  }
  std::size_t ReadTo(std::uint8_t stop, void* data, std::size_t limit) override {
    const std::size_t read = source_.ReadTo(stop, data, limit);
    copy_.append(static_cast<const char*>(data), read);
    return read;
  }

 private:
  dataset::ByteReader& source_;
  std::string& copy_;
};

// Closes a table's data without letting a failure there replace the one being passed on.
void CloseDataAfterFailure(dbstruct::tTbl_Structure& table) noexcept {
  try {
    table.CloseData();
  } catch (...) {
    // The failure that led here is the one to report.
  }
}

// Runs the end of a table's write phase and closes its data on every way out. On the way out
// of a success a failure of either fails the merge; after another failure it is not reported.
class TableWritePhase {
 public:
  /// `table` is read again at the end: the deleted-rows table follows the table of its rows,
  /// and only the last one is closed.
  TableWritePhase(dbstruct::tTbl_Structure*& table, bool write) : table_(table), write_(write) {
    if (table_ == nullptr || !write_) return;
    try {
      table_->BeginWrite();
    } catch (...) {
      CloseDataAfterFailure(*table_);
      throw;
    }
  }
  ~TableWritePhase() {
    if (!open_) return;
    try {
      Finish();
    } catch (...) {
      // Already unwinding from the failure that matters.
    }
  }
  TableWritePhase(const TableWritePhase&) = delete;
  TableWritePhase& operator=(const TableWritePhase&) = delete;

  /// EndWrite (for a written table) and CloseData; throws what they throw, EndWrite's failure
  /// first.
  void Finish() {
    open_ = false;
    if (table_ == nullptr) return;
    try {
      if (write_) table_->EndWrite();
    } catch (...) {
      CloseDataAfterFailure(*table_);
      throw;
    }
    table_->CloseData();
  }

 private:
  dbstruct::tTbl_Structure*& table_;
  bool write_;
  bool open_ = true;
};

}  // namespace

tQVMMerger::tQVMMerger() = default;

tQVMMerger::~tQVMMerger() = default;

bool tQVMMerger::Listed(const std::string& name) const { return ContainsTableName(TableList, name); }

bool tQVMMerger::Merge() {
  TableList.clear();
  kept_rows_.clear();
  kept_bytes_ = 0;
  if (Stream == nullptr) return false;
  if (!IsMarker(ReadMarker(*Stream), ArchiveMarker::TableList)) return false;
  try {
    TableList = ReadTableList(*Stream);
  } catch (const ReplicationError&) {
    throw;
  } catch (const Error& error) {
    throw ReplicationError(text::Utf8ToAnsi("Seznam tabulek: ") + error.what());
  }

  bool complete = true;
  for (;;) {
    const std::optional<std::uint8_t> marker = ReadMarker(*Stream);
    if (!IsMarker(marker, ArchiveMarker::Table)) {
      if (!IsMarker(marker, ArchiveMarker::End)) return false;
      // Nothing may follow the end byte, and an archive's check value must hold, before the
      // content counts as merged whole.
      VerifyContentEnd(*Stream);
      return complete;
    }
    TableName.clear();
    RowNumber = 0;
    std::string layout;
    try {
      IsDeletedRowsTable = static_cast<std::int16_t>(Stream->ReadU16());
      TableName = ReadTableName(*Stream);
    } catch (const Error& error) {
      throw ReplicationError(text::Utf8ToAnsi("Hlavička tabulky: ") + error.what());
    }
    if (IsDeletedRowsTable == 0 && !Listed(TableName)) throw ReplicationError("Merger error");
    try {
      layout = ReadTableLayout(*Stream);
    } catch (const Error& error) {
      throw ReplicationError(text::Utf8ToAnsi("Hlavička tabulky ") + TableName + ": " + error.what());
    }
    try {
      Adapter.SetLayout(layout);
    } catch (const Error& error) {
      throw ReplicationError(text::Utf8ToAnsi("Tabulka ") + TableName + ": " + error.what());
    }
    PreviousTable = nullptr;
    CurrentTable = nullptr;
    if (IsDeletedRowsTable == 0 && Structure != nullptr) CurrentTable = Structure->FindTable(TableName);

    const bool ordinary = IsDeletedRowsTable == 0;
    self_referencing_ =
        CurrentTable != nullptr && CurrentTable->Masters().FindByMaster(CurrentTable) != nullptr;
    if (CurrentTable != nullptr && ordinary && OnTableStart) OnTableStart(*this, TableName);
    TableWritePhase phase(CurrentTable, ordinary);
    if (OnBeforeTable) OnBeforeTable(*this);
    complete = MergeRows() && complete;
    // The rows read in full are merged even when the table ended early.
    MergeKeptRows();
    if (OnAfterTable) OnAfterTable(*this);
    phase.Finish();
  }
}

bool tQVMMerger::MergeRows() {
  for (;;) {
    const std::optional<std::uint8_t> marker = ReadMarker(*Stream);
    if (!IsMarker(marker, ArchiveMarker::Row)) return IsMarker(marker, ArchiveMarker::TableEnd);
    ++RowNumber;
    try {
      if (self_referencing_) {
        // The record as the archive carries it is what a later pass merges again.
        row_record_.clear();
        CopyingReader copying(*Stream, row_record_);
        Adapter.ReadRow(&copying);
      } else {
        Adapter.ReadRow(Stream);
      }
    } catch (const Error& error) {
      throw ReplicationError(RowPlace(TableName, RowNumber) + error.what());
    }
    // A row is applied only when its end byte follows it.
    if (!IsMarker(ReadMarker(*Stream), ArchiveMarker::RowEnd)) return false;
    MergeRow();
  }
}

void tQVMMerger::MergeRow() {
  dataset::TDataSet& row = Adapter.DataSet();
  if (OnBeforeRow) OnBeforeRow(*this, row);
  if (IsDeletedRowsTable != 0) {
    MergeDeletedRow(row);
  } else if (CurrentTable != nullptr) {
    may_wait_ = self_referencing_ && kept_bytes_ + row_record_.size() + sizeof(tKeptRow) <= KeptRowBytesLimit;
    row_waits_ = false;
    MergeTableRow(row);
    may_wait_ = false;
    if (row_waits_) {
      kept_bytes_ += row_record_.size() + sizeof(tKeptRow);
      kept_rows_.push_back({row_record_, RowNumber});
    }
  }
  if (OnAfterRow) OnAfterRow(*this, row);
}

bool tQVMMerger::KeepForLaterPass(const std::string& constraint) {
  if (!may_wait_ || !IsOwnKey(*CurrentTable, constraint)) return false;
  row_waits_ = true;
  return true;
}

void tQVMMerger::MergeKeptRows() {
  std::vector<tKeptRow> waiting;
  waiting.swap(kept_rows_);
  kept_bytes_ = 0;
  std::string().swap(row_record_);
  if (waiting.empty()) return;
  const int last_row = RowNumber;
  // A pass runs from the last kept row back to the first: a kept row whose master was kept as
  // well mostly has it later in the archive, so a chain in reverse order takes one pass.
  for (bool progress = true; progress && !waiting.empty();) {
    std::vector<tKeptRow> still_waiting;
    for (auto kept = waiting.rbegin(); kept != waiting.rend(); ++kept) {
      if (MergeKeptRow(kept->Record, kept->RowNumber, true)) still_waiting.push_back(std::move(*kept));
    }
    progress = still_waiting.size() < waiting.size();
    std::reverse(still_waiting.begin(), still_waiting.end());
    waiting = std::move(still_waiting);
  }
  // No pass adds a master any more: the rest are refused as rows without their master.
  for (const tKeptRow& kept : waiting) MergeKeptRow(kept.Record, kept.RowNumber, false);
  RowNumber = last_row;
}

bool tQVMMerger::MergeKeptRow(const std::string& record, int row_number, bool may_wait) {
  RowNumber = row_number;
  dataset::MemoryReader in(record);
  Adapter.ReadRow(&in);
  may_wait_ = may_wait;
  row_waits_ = false;
  MergeTableRow(Adapter.DataSet());
  may_wait_ = false;
  return row_waits_;
}

void tQVMMerger::Conflict(dataset::TDataSet& row, tConflictKind kind, const std::string& text) {
  if (OnConflict) OnConflict(*this, row, kind, text);
}

void tQVMMerger::RunStatement(dataset::TDataSet& row, const std::function<void()>& statement) {
  try {
    statement();
  } catch (const Error& error) {
    try {
      Conflict(row, tConflictKind::StatementFailed, error.what());
    } catch (...) {
      // A handler that fails while it reports must not put its error in place of the
      // statement's, which says what went wrong in the database.
    }
    throw;
  }
}

void tQVMMerger::MergeDeletedRow(dataset::TDataSet& row) {
  auto field = [&](const char* name) -> const dataset::TField& {
    const dataset::TField* found = row.FindField(name);
    if (found == nullptr) {
      throw ReplicationError(RowPlace(TableName, RowNumber) + text::Utf8ToAnsi("chybí pole ") + name);
    }
    return *found;
  };
  // Table names are Windows-1250 in the structure, whatever form the row's texts have.
  const std::string table_name = Adapter.TextForm() == tTextForm::Unicode
                                     ? text::Utf8ToAnsi(field("TABLENAME").AsString())
                                     : field("TABLENAME").AsString();
  const std::int64_t record_id = field("RECORDID").AsInteger();
  const std::string record_guid = field("RECORDGUID").AsString();

  PreviousTable = CurrentTable;
  CurrentTable = Structure != nullptr ? Structure->FindTable(table_name) : nullptr;
  if (CurrentTable == nullptr) return;
  if (CurrentTable != PreviousTable && OnTableStart) OnTableStart(*this, CurrentTable->GetTableName());

  // An id beyond the 32-bit keys cannot name a row (it must not be cut down to another id).
  if (record_id < INT32_MIN || record_id > INT32_MAX) return;
  const auto id = static_cast<std::int32_t>(record_id);
  std::unique_ptr<dbstruct::tExistingRecords> existing;
  if (!CurrentTable->TryFindExistingByKey(record_guid, id, existing)) return;

  bool allow = false;
  if (OnDeleteRow) OnDeleteRow(*this, row, allow, *existing);
  if (!allow) return;
  std::string conflict;
  if (existing->IsAmbiguous(conflict)) {
    Conflict(row, tConflictKind::AmbiguousDelete, conflict);
    return;
  }
  // AfterDelete undoes what BeforeDelete prepared: it runs whatever happens from here on.
  std::int64_t deleted = 0;
  try {
    CurrentTable->BeforeDelete();
    RunStatement(row, [&] { deleted = CurrentTable->DeleteRecord(record_guid, id); });
    if (deleted > 0 && OnRowDeleted) {
      if (dataset::TQVMmemDataSet* first = existing->FirstMatch()) OnRowDeleted(*this, *first, deleted);
    }
  } catch (...) {
    try {
      CurrentTable->AfterDelete();
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
  CurrentTable->AfterDelete();
}

void tQVMMerger::MergeTableRow(dataset::TDataSet& row) {
  std::unique_ptr<dbstruct::tExistingRecords> existing;
  CurrentTable->TryFindExistingRecords(row, existing);
  std::string conflict;

  if (existing && existing->FoundByIdentity) {
    if (existing->MarkChangedFields(&Adapter.DataSet()) == 0) {
      if (OnDuplicate) OnDuplicate(*this, row);
      return;
    }
    bool allow = false;
    if (OnUpdateRow) OnUpdateRow(*this, row, allow, *existing);
    // The handler may have cleared the change flags of fields it does not want written.
    if (!allow || !AnyFieldTagged(row)) return;
    if (existing->IsAmbiguous(conflict)) {
      Conflict(row, tConflictKind::AmbiguousWrite, conflict);
    } else if (!CurrentTable->ValuesFit(row, true, conflict)) {
      Conflict(row, tConflictKind::ValueMismatch, conflict);
    } else if (CurrentTable->MastersExist(row, true, conflict)) {
      RunStatement(row, [&] { CurrentTable->UpdateRecord(row); });
      if (OnRowUpdated) OnRowUpdated(*this, row);
    } else if (!KeepForLaterPass(conflict)) {
      Conflict(row, tConflictKind::UpdateMasterMissing, conflict);
    }
    return;
  }

  bool allow = false;
  if (OnAppendRow) OnAppendRow(*this, row, allow);
  if (!allow) return;
  if (existing && existing->IsAmbiguous(conflict)) {
    Conflict(row, tConflictKind::AmbiguousWrite, conflict);
  } else if (!CurrentTable->ValuesFit(row, false, conflict)) {
    Conflict(row, tConflictKind::ValueMismatch, conflict);
  } else if (CurrentTable->MastersExist(row, false, conflict)) {
    RunStatement(row, [&] { CurrentTable->InsertRecord(row); });
    if (OnRowAppended) OnRowAppended(*this, row);
  } else if (!KeepForLaterPass(conflict)) {
    Conflict(row, tConflictKind::AppendMasterMissing, conflict);
  }
}

}  // namespace tamaril::replication
