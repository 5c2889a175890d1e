#include "dataset/memory_table.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "dataset/errors.h"
#include "dataset/memory_table_file.h"
#include "text/ascii.h"
#include "text/encoding.h"
#include "text/locale.h"

namespace tamaril::dataset {
namespace {

std::string TableMessage(const char* text, const std::string& table) {
  std::string message(text);
  message.replace(message.find("%s"), 2, table);
  return message;
}

}  // namespace

// ---- cursor ----

tMemoryRecordset::tMemoryRecordset(TQVMmemDataSet& dataset) : TQVMRecordset(dataset), mem_(&dataset) {}

TQVMRecord& tMemoryRecordset::Scratch() {
  if (!scratch_) scratch_ = std::make_unique<TQVMRecord>(mem_->FieldDescs());
  return *scratch_;
}

bool tMemoryRecordset::IsEmpty() { return mem_->Records().Count() == 0; }

void tMemoryRecordset::First() {
  if (!IsEmpty()) mem_->Records().CurrentIndex = 0;
}

void tMemoryRecordset::Last() {
  if (!IsEmpty()) mem_->Records().CurrentIndex = mem_->Records().Count() - 1;
}

bool tMemoryRecordset::Next() {
  tMemRecords& records = mem_->Records();
  if (records.Count() == 0) return true;
  if (records.CurrentIndex < 0 || records.CurrentIndex + 1 >= records.Count()) return false;
  ++records.CurrentIndex;
  return true;
}

bool tMemoryRecordset::Prior() {
  tMemRecords& records = mem_->Records();
  if (records.Count() == 0) return true;
  if (records.CurrentIndex <= 0 || records.CurrentIndex >= records.Count()) return false;
  --records.CurrentIndex;
  return true;
}

void tMemoryRecordset::Delete() {
  tMemRecords& records = mem_->Records();
  const int index = records.CurrentIndex;
  if (index < 0 || index >= records.Count()) return;
  records.Items.erase(records.Items.begin() + index);
  if (records.Count() == 0) {
    records.CurrentIndex = -1;
  } else if (index >= records.Count()) {
    records.CurrentIndex = records.Count() - 1;
  }
}

void tMemoryRecordset::Insert() { Scratch(); }

void tMemoryRecordset::Post() {
  tMemRecords& records = mem_->Records();
  if (mem_->State() == DataSetState::Insert) {
    TQVMMemRecord* record = mem_->NewRecord();
    records.CurrentIndex = records.Count() - 1;
    record->Assign(Scratch());
  }
  const int index = records.CurrentIndex;
  if (index < 0 || index >= records.Count()) return;
  std::unique_ptr<TQVMMemRecord> placed = std::move(records.Items[static_cast<std::size_t>(index)]);
  records.Items.erase(records.Items.begin() + index);
  int lo = 0;
  int hi = records.Count() - 1;
  while (lo <= hi) {
    const int mid = (lo + hi) / 2;
    if (mem_->CompareRecords(*records.Items[static_cast<std::size_t>(mid)], *placed) < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  records.Items.insert(records.Items.begin() + lo, std::move(placed));
  records.CurrentIndex = lo;
}

std::string tMemoryRecordset::GetBookmark() {
  const auto position = static_cast<std::uint32_t>(mem_->Records().CurrentIndex);
  std::string bookmark(4, '\0');
  for (int i = 0; i < 4; ++i)
    bookmark[static_cast<std::size_t>(i)] = static_cast<char>((position >> (8 * i)) & 0xFF);
  return bookmark;
}

void tMemoryRecordset::GotoBookmark(const std::string& bookmark) {
  std::uint32_t value = 0;
  if (bookmark.size() == 4) {
    for (int i = 0; i < 4; ++i)
      value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bookmark[static_cast<std::size_t>(i)]))
               << (8 * i);
  }
  const auto position = static_cast<std::int32_t>(value);
  if (bookmark.size() != 4 || position < 0 || position >= mem_->Records().Count()) {
    throw DatasetError(text::Utf8ToAnsi("Záložka nenalezena"));
  }
  mem_->Records().CurrentIndex = position;
}

bool tMemoryRecordset::GetFieldData(const TFieldDesc& field, std::byte* slot) {
  const TQVMMemRecord* current = mem_->Records().Current();
  return current && current->GetFieldData(field, slot);
}

void tMemoryRecordset::SetFieldData(const TFieldDesc& field, const std::byte* slot) {
  if (mem_->State() == DataSetState::Insert) {
    Scratch().SetFieldData(field, slot);
  } else if (TQVMMemRecord* current = mem_->Records().Current()) {
    current->SetFieldData(field, slot);
  }
}

bool tMemoryRecordset::Locate(const std::string& key_fields, const Variant& key_values, TQVMRecord* output,
                              bool move, int options) {
  if (IsEmpty()) return false;
  const TFieldDescs& descs = mem_->FieldDescs();
  const std::vector<std::string> names = SplitToList(key_fields, ";");
  std::vector<int> numbers;
  for (const std::string& name : names) {
    const auto desc = std::find_if(descs.begin(), descs.end(),
                                   [&](const TFieldDesc& d) { return SameFieldName(d.Name, name); });
    if (desc == descs.end()) throw DatasetError("Field '" + name + "' not found");
    numbers.push_back(desc->FieldNo);
  }
  TQVMRecord& key = Scratch();
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const Variant& value = numbers.size() > 1     ? key_values.Items().at(i)
                           : key_values.IsArray() ? key_values.Items().at(0)
                                                  : key_values;
    key.SetValue(numbers[i], value);
  }
  const auto& items = mem_->Records().Items;
  const auto compare = [&](int position) {
    for (int number : numbers) {
      const int result = key.CompareField(number, *items[static_cast<std::size_t>(position)], options);
      if (result != 0) return result;
    }
    return 0;
  };
  const int count = static_cast<int>(items.size());
  int found = -1;
  if (LastFound >= 0 && LastFound < count && compare(LastFound) == 0) {
    found = LastFound;
  } else {
    // Binary search only when the keys are exactly the index fields, the order the list is in.
    const auto& index = mem_->IndexFieldList();
    bool by_index = !index.empty() && index.size() == numbers.size();
    for (std::size_t i = 0; by_index && i < numbers.size(); ++i) by_index = index[i].second == numbers[i];
    if (by_index) {
      int lo = 0;
      int hi = count - 1;
      while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        const int result = compare(mid);
        if (result == 0) {
          found = mid;
          break;
        }
        if (result < 0) {
          hi = mid - 1;
        } else {
          lo = mid + 1;
        }
      }
    } else {
      for (int i = 0; i < count && found < 0; ++i) {
        if (compare(i) == 0) found = i;
      }
    }
  }
  LastFound = found;
  if (found < 0) return false;
  if (output) output->Assign(*items[static_cast<std::size_t>(found)]);
  if (move) mem_->Records().CurrentIndex = found;
  return true;
}

// ---- memory dataset ----

TQVMmemDataSet::TQVMmemDataSet() = default;

TQVMmemDataSet::~TQVMmemDataSet() { CloseForDestruction(); }

TQVMRecordsetClass TQVMmemDataSet::GetRecordsetClass() {
  return [](TQVMDataset& dataset) -> std::unique_ptr<TQVMRecordset> {
    return std::make_unique<tMemoryRecordset>(static_cast<TQVMmemDataSet&>(dataset));
  };
}

int TQVMmemDataSet::RecNo() const { return Active() && records_.Current() ? records_.CurrentIndex : -1; }

void TQVMmemDataSet::SetUniqueField(const std::string& name) {
  unique_field_name_ = name;
  if (Active()) unique_field_ = name.empty() ? nullptr : &FieldByName(name);
}

void TQVMmemDataSet::EmptyTable() {
  if (State() == DataSetState::Edit || State() == DataSetState::Insert) Cancel();
  records_.Clear();
  if (Active()) First();
}

void TQVMmemDataSet::DiscardRecords() {
  records_.Clear();
  records_.LastId = 0;
}

TQVMMemRecord* TQVMmemDataSet::NewRecord() {
  records_.Items.push_back(std::make_unique<TQVMMemRecord>(FieldDescs(), this, ++records_.LastId));
  return records_.Items.back().get();
}

int TQVMmemDataSet::CompareRecords(const TQVMMemRecord& a, const TQVMMemRecord& b) const {
  for (const auto& [name, number] : index_field_list_) {
    const int result = a.CompareField(number, b, 0);
    if (result != 0) return result;
  }
  return a.Id < b.Id ? -1 : (a.Id > b.Id ? 1 : 0);
}

void TQVMmemDataSet::SortRecords() {
  std::sort(records_.Items.begin(), records_.Items.end(),
            [this](const auto& a, const auto& b) { return CompareRecords(*a, *b) < 0; });
}

void TQVMmemDataSet::InternalLoad() {
  if (!index_fields_.empty()) SortRecords();
  TQVMDataset::InternalLoad();
}

void TQVMmemDataSet::DoAfterOpen() {
  TDataSet::DoAfterOpen();
  auto_inc_field_ = nullptr;
  for (const auto& field : Fields()) {
    if (field->DataType() == FieldType::AutoInc) {
      auto_inc_field_ = field.get();
      break;
    }
  }
  unique_field_ = unique_field_name_.empty() ? nullptr : FindField(unique_field_name_);
}

void TQVMmemDataSet::InternalClose() {
  auto_inc_field_ = nullptr;
  unique_field_ = nullptr;
  TQVMDataset::InternalClose();
}

void TQVMmemDataSet::DoBeforePost() {
  if (State() == DataSetState::Insert && auto_inc_field_ && auto_inc_field_->IsNull()) {
    ++AutoIncValue;
    const bool previous = InternalWrite;
    InternalWrite = true;
    try {
      auto_inc_field_->SetAsInteger(AutoIncValue);
    } catch (...) {
      InternalWrite = previous;
      throw;
    }
    InternalWrite = previous;
  }
  TDataSet::DoBeforePost();
  if (unique_field_ && records_.Count() > 0 && unique_field_->FieldNo() > 0) {
    const int number = unique_field_->FieldNo();
    TQVMRecord value(FieldDescs());
    value.SetValue(number, unique_field_->AsVariant());
    const bool editing = State() == DataSetState::Edit;
    for (int i = 0; i < records_.Count(); ++i) {
      if (editing && i == records_.CurrentIndex) continue;
      if (value.FieldsEqual(number, *records_.Items[static_cast<std::size_t>(i)], number)) {
        throw DatasetError(TableMessage("Duplicated field value in field %s", unique_field_->Name));
      }
    }
  }
}

void TQVMmemDataSet::DoSetFieldLayout(const std::string& layout) {
  const std::string trimmed(text::TrimBlanks(layout));
  if (records_.Count() > 0 && text::UpperCase(trimmed) != text::UpperCase(FieldLayout())) {
    CheckInactive();
    DiscardRecords();
  }
  TFldlayoutDataSet::DoSetFieldLayout(layout);
}

void TQVMmemDataSet::SetIndexFieldsText(const std::string& fields) {
  if (fields == index_fields_) return;
  if (Active()) CheckBrowseMode();
  std::vector<std::pair<std::string, int>> list;
  if (!fields.empty()) {
    const TFieldDescs& descs = FieldDescs();
    for (const std::string& name : SplitToList(fields, ";")) {
      const auto desc = std::find_if(descs.begin(), descs.end(),
                                     [&](const TFieldDesc& d) { return SameFieldName(d.Name, name); });
      if (desc == descs.end()) throw DatasetError("Invalid index fields");
      list.emplace_back(name, desc->FieldNo);
    }
  }
  // The position number kept is the shown row's, wherever the cursor was left (BookmarkValid
  // moves it).
  if (Active() && HasRecord()) InternalSetToRecord(ActiveBuffer());
  index_field_list_ = std::move(list);
  index_fields_ = fields;
  SortRecords();
  if (Active()) {
    if (!HasRecord()) return;
    SaveCurrentBookmark();
    Resync(false);
    DataEvent(nullptr);
  }
}

// ---- client memory dataset ----

TQVMClientMemoryDataSet::TQVMClientMemoryDataSet() = default;

TQVMClientMemoryDataSet::~TQVMClientMemoryDataSet() { CloseForDestruction(); }

void TQVMClientMemoryDataSet::SetSourceDataset(TDataSet* source) {
  if (source == this) throw DatasetError("Self referencing is not allowed");
  source_.SetDataSet(source);
}

void TQVMClientMemoryDataSet::CreateRecordset(std::unique_ptr<TQVMRecordset>& recordset, bool open) {
  Records().Clear();
  if (TDataSet* source = SourceDataset()) {
    source_was_active_ = source->Active();
    source->Open();
    SetFieldLayout(BuildFieldLayout(*source, false));
  }
  TQVMmemDataSet::CreateRecordset(recordset, open);
}

void TQVMClientMemoryDataSet::InternalLoad() {
  if (TDataSet* source = SourceDataset()) {
    InternalWrite = true;
    try {
      if (!source->Bof()) source->First();
      while (!source->Eof()) {
        NewRecord()->LoadFromDataSet(*source, true);
        source->Next();
      }
    } catch (...) {
      InternalWrite = false;
      Records().Clear();
      if (!source_was_active_) source->Close();
      throw;
    }
    InternalWrite = false;
    if (!source_was_active_) source->Close();
  }
  TQVMmemDataSet::InternalLoad();
}

// ---- streamed memory dataset ----

void TQVMCustomStreamedMemoryDataSet::CreateRecordset(std::unique_ptr<TQVMRecordset>& recordset, bool open) {
  Records().Clear();
  AutoIncValue = 0;
  if (std::unique_ptr<ByteReader> stream = CreateReadStream()) {
    SetFieldLayout(ReadMemoryTableHeader(*stream, Name).layout);
  }
  TQVMmemDataSet::CreateRecordset(recordset, open);
}

void TQVMCustomStreamedMemoryDataSet::InternalLoad() {
  if (std::unique_ptr<ByteReader> stream = CreateReadStream()) {
    InternalWrite = true;
    try {
      const MemoryTableHeader header = ReadMemoryTableHeader(*stream, Name);
      if (header.layout != FieldLayout()) {
        throw DatasetError(TableMessage("Mismatch in table structure (table %s)", Name));
      }
      AutoIncValue = header.auto_inc_value;
      for (std::int32_t i = 0; i < header.record_count; ++i) NewRecord()->ReadFromStream(*stream);
    } catch (...) {
      // The rows read before the damage must not stay behind a table that did not open: a
      // later Store would write them over the file.
      InternalWrite = false;
      Records().Clear();
      throw;
    }
    InternalWrite = false;
  }
  TQVMmemDataSet::InternalLoad();
}

void TQVMCustomStreamedMemoryDataSet::Store() {
  DoBeforeStore();
  std::unique_ptr<ByteWriter> stream = CreateWriteStream();
  if (!stream) throw DatasetError(TableMessage("Cannot create stream (table %s)", Name));
  SaveToStream(*stream);
  CommitStream(*stream);
  stream.reset();
  DoAfterStore();
}

void TQVMCustomStreamedMemoryDataSet::SaveToStream(ByteWriter& stream) {
  std::vector<const TQVMMemRecord*> ordered;
  ordered.reserve(Records().Items.size());
  for (const auto& record : Records().Items) ordered.push_back(record.get());
  std::sort(ordered.begin(), ordered.end(), [](const auto* a, const auto* b) { return a->Id < b->Id; });
  WriteMemoryTableHeader(stream, FieldLayout(), AutoIncValue, static_cast<std::int32_t>(ordered.size()));
  for (const TQVMMemRecord* record : ordered) record->WriteToStream(stream, false);
}

void TQVMCustomStreamedMemoryDataSet::DoBeforeStore() {
  if (BeforeStore) BeforeStore(*this);
}

void TQVMCustomStreamedMemoryDataSet::DoAfterStore() {
  if (AfterStore) AfterStore(*this);
}

// ---- stored memory dataset ----

std::unique_ptr<ByteReader> TQVMStoredMemoryDataSet::CreateReadStream() {
  if (filename_.empty()) return nullptr;
  std::error_code error;
  if (!std::filesystem::exists(filename_, error)) return nullptr;
  return std::make_unique<FileReader>(filename_);
}

std::unique_ptr<ByteWriter> TQVMStoredMemoryDataSet::CreateWriteStream() {
  if (filename_.empty()) return nullptr;
  return std::make_unique<AtomicFileWriter>(filename_, new_file_mode_);
}

void TQVMStoredMemoryDataSet::CommitStream(ByteWriter& stream) {
  static_cast<AtomicFileWriter&>(stream).Commit();
}

}  // namespace tamaril::dataset
