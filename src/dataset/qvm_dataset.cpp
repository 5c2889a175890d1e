#include "dataset/qvm_dataset.h"

#include <algorithm>
#include <cstring>

#include "dataset/errors.h"
#include "dataset/parsed_layout.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::dataset {
namespace {

bool IsBlobDesc(const TFieldDesc& desc) { return desc.Kind == FieldKind::Blob; }

}  // namespace

// ---- cursor base ----

TQVMRecordset::TQVMRecordset(TQVMDataset& dataset) : dataset_(&dataset) {}

void TQVMRecordset::OpenCursor() {
  Open();
  opened_ = true;
}

TQVMRecordset::~TQVMRecordset() = default;

bool TQVMRecordset::GetFieldData(const TFieldDesc&, std::byte*) { return false; }

void TQVMRecordset::SetFieldData(const TFieldDesc&, const std::byte*) {}

bool TQVMRecordset::Locate(const std::string&, const Variant&, TQVMRecord*, bool, int) { return false; }

void TQVMRecordset::SetFilter(const std::string& filter, int) {
  if (!filter.empty()) throw DatasetError(text::Utf8ToAnsi("Vlastnost filtru není podporována"));
}

// ---- dataset ----

TQVMDataset::TQVMDataset() : master_link_(*this) {
  master_link_.OnMasterChange = [this] { MasterChanged(); };
  master_link_.OnMasterDisable = [this] { MasterDisabled(); };
}

TQVMDataset::~TQVMDataset() {
  CloseForDestruction();
  master_link_.SetDataSource(nullptr);
}

void TQVMDataset::SetReadOnly(bool read_only) {
  CheckInactive();
  read_only_ = read_only;
}

void TQVMDataset::SetMasterSource(TDataSource* source) {
  if (source && source->DataSet() == this) throw DatasetError("Self referencing is not allowed");
  if (source && MasterMustBeQVM && source->DataSet() && !dynamic_cast<TQVMDataset*>(source->DataSet())) {
    throw DatasetError("Master can only be tQVMDataset");
  }
  master_link_.SetDataSource(source);
}

void TQVMDataset::SetDetailFields(const std::string& names) {
  if (names == detail_field_names_) return;
  detail_field_list_.clear();
  detail_field_names_ = names;
  if (FieldCount() > 0) ResolveDetailFields();
}

void TQVMDataset::ResolveDetailFields() {
  detail_field_list_.clear();
  detail_field_list_ = GetFieldList(detail_field_names_);
}

void TQVMDataset::CreateRecordset(std::unique_ptr<TQVMRecordset>& recordset, bool open) {
  recordset = GetRecordsetClass()(*this);
  // Opened only once built: a constructor cannot reach the descendant's Open.
  if (open) recordset->OpenCursor();
}

void TQVMDataset::FreeRecordset(std::unique_ptr<TQVMRecordset>& recordset) {
  if (recordset) recordset->Close();
  recordset.reset();
}

void TQVMDataset::InternalInitFieldDefs() {
  if (recordset_) return;
  try {
    std::unique_ptr<TQVMRecordset> temporary;
    CreateRecordset(temporary, true);
    FreeRecordset(temporary);
  } catch (...) {
    FieldDefs().clear();
    throw;
  }
}

void TQVMDataset::InternalOpen() {
  CreateRecordset(recordset_, true);
  InternalInitFieldDefs();
  data_size_ = BuildFieldDescs(FieldDefs(), field_descs_);
  CreateDefaultFieldsIfNeeded();
  BindFields();
  ResolveDetailFields();
  cursor_pos_ = CursorPosition::BeforeFirst;
  const int bookmark_size = recordset_->GetBookmarkSize();
  const int n = static_cast<int>(field_descs_.size());
  calc_offset_ = data_size_;
  flag_offset_ = calc_offset_ + CalcFieldsSize();
  bitmap_size_ = (n - 1) / 8 + 1;
  bitmap_offset_ = flag_offset_ + 1;
  bookmark_offset_ = bitmap_offset_ + bitmap_size_;
  buffer_size_ = bookmark_offset_ + bookmark_size;
  SetBufferLayout(buffer_size_, bookmark_offset_, bookmark_size, flag_offset_);
  InternalLoad();
  InternalFirst();
}

void TQVMDataset::InternalClose() {
  FreeRecordset(recordset_);
  detail_field_list_.clear();
  DestroyDefaultFields();
  current_bookmark_.clear();
  SetBufferLayout(buffer_size_, bookmark_offset_, 0, flag_offset_);
}

void TQVMDataset::InternalLoad() { DoSetFiltered(Filtered()); }

void TQVMDataset::DoSetFiltered(bool filtered) {
  if (recordset_) recordset_->SetFilter(filtered ? Filter() : std::string(), FilterOptions());
  TDataSet::DoSetFiltered(filtered);
}

void TQVMDataset::CursorFirst() {
  recordset_->AtBOF = recordset_->AtEOF = recordset_->IsEmpty();
  if (!recordset_->AtBOF) {
    recordset_->First();
    recordset_->AtBOF = true;
  }
}

void TQVMDataset::CursorLast() {
  recordset_->AtBOF = recordset_->AtEOF = recordset_->IsEmpty();
  if (!recordset_->AtEOF) {
    recordset_->Last();
    recordset_->AtEOF = true;
  }
}

void TQVMDataset::CursorNext() {
  recordset_->AtBOF = recordset_->AtEOF = recordset_->IsEmpty();
  if (!recordset_->AtEOF) {
    recordset_->AtBOF = false;
    recordset_->AtEOF = !recordset_->Next();
  }
}

void TQVMDataset::CursorPrior() {
  recordset_->AtBOF = recordset_->AtEOF = recordset_->IsEmpty();
  if (!recordset_->AtBOF) {
    recordset_->AtEOF = false;
    recordset_->AtBOF = !recordset_->Prior();
  }
}

void TQVMDataset::SaveCurrentBookmark() {
  if (recordset_->IsEmpty()) {
    current_bookmark_.clear();
    return;
  }
  current_bookmark_ = recordset_->GetBookmark();
  cursor_pos_ = CursorPosition::OnRecord;
}

void TQVMDataset::InternalFirst() {
  if (posting_insert_) return;
  CursorFirst();
  cursor_pos_ = CursorPosition::BeforeFirst;
}

void TQVMDataset::InternalLast() {
  if (posting_insert_) return;
  CursorLast();
  cursor_pos_ = CursorPosition::AfterLast;
}

bool TQVMDataset::SlotIsNull(const std::byte* buffer, int field_no) const {
  const auto byte = std::to_integer<unsigned>(buffer[bitmap_offset_ + (field_no - 1) / 8]);
  return (byte & (1u << ((field_no - 1) % 8))) == 0;
}

void TQVMDataset::SetSlotNull(std::byte* buffer, int field_no, bool null) const {
  std::byte& byte = buffer[bitmap_offset_ + (field_no - 1) / 8];
  const auto bit = static_cast<std::byte>(1u << ((field_no - 1) % 8));
  byte = null ? (byte & ~bit) : (byte | bit);
}

GetResult TQVMDataset::BasicGetRecord(std::byte* buffer, GetMode mode, bool check) {
  try {
    GetResult result = GetResult::Ok;
    bool master_blocks = false;
    if (master_link_.DataSource()) {
      TDataSet* master = master_link_.DataSet();
      master_blocks = MasterFields().empty() || !master || !master->Active() || master->IsEmpty() ||
                      master->State() == DataSetState::Insert;
    }
    if (master_blocks || recordset_->IsEmpty()) {
      result = GetResult::Eof;
    } else if (mode == GetMode::Current) {
      if (cursor_pos_ != CursorPosition::OnRecord) {
        result = GetResult::Error;
      } else {
        recordset_->GotoBookmark(current_bookmark_);
      }
    } else if (mode == GetMode::Next) {
      if (cursor_pos_ == CursorPosition::AfterLast) {
        result = GetResult::Eof;
      } else {
        if (cursor_pos_ == CursorPosition::OnRecord) {
          recordset_->GotoBookmark(current_bookmark_);
          CursorNext();
        }
        if (recordset_->AtEOF) {
          result = GetResult::Eof;
          cursor_pos_ = CursorPosition::AfterLast;
        }
      }
    } else {
      if (cursor_pos_ == CursorPosition::BeforeFirst) {
        result = GetResult::Bof;
      } else {
        if (cursor_pos_ == CursorPosition::OnRecord) {
          recordset_->GotoBookmark(current_bookmark_);
          CursorPrior();
        }
        if (recordset_->AtBOF) {
          result = GetResult::Bof;
          cursor_pos_ = CursorPosition::BeforeFirst;
        }
      }
    }
    if (result != GetResult::Ok) {
      InternalInitRecord(buffer);
      return result;
    }
    current_bookmark_ = recordset_->GetBookmark();
    cursor_pos_ = CursorPosition::OnRecord;
    for (const TFieldDesc& desc : field_descs_) {
      std::byte* slot = buffer + desc.Offset;
      if (IsBlobDesc(desc)) {
        blob_slot::Free(slot);
      } else {
        std::memset(slot, 0, desc.DataSize);
      }
      SetSlotNull(buffer, desc.FieldNo, !recordset_->GetFieldData(desc, slot));
    }
    buffer[flag_offset_] = static_cast<std::byte>(BookmarkFlag::Current);
    std::memcpy(buffer + bookmark_offset_, current_bookmark_.data(),
                std::min<std::size_t>(current_bookmark_.size(), static_cast<std::size_t>(BookmarkSize())));
    GetCalcFields(buffer);
    return GetResult::Ok;
  } catch (...) {
    if (check) throw;
    return GetResult::Error;
  }
}

bool TQVMDataset::MatchesMaster(const std::byte* buffer) {
  const std::vector<TField*>& master_fields = master_link_.Fields();
  for (std::size_t i = 0; i < master_fields.size(); ++i) {
    if (i >= detail_field_list_.size()) return false;
    const TField& master_field = *master_fields[i];
    const TField& detail_field = *detail_field_list_[i];
    if (detail_field.FieldNo() <= 0) return false;
    const TFieldDesc& desc = field_descs_[static_cast<std::size_t>(detail_field.FieldNo() - 1)];
    const bool detail_null = SlotIsNull(buffer, desc.FieldNo);
    std::vector<std::byte> master_value(static_cast<std::size_t>(std::max(master_field.DataSize(), 8)));
    const bool master_null = !master_field.GetData(master_value.data());
    const std::byte* slot = buffer + desc.Offset;
    const FieldKind kind = KindOfFieldType(master_field.DataType());
    bool equal = false;
    if (master_null || detail_null) {
      equal = master_null && detail_null;
    } else if (kind == FieldKind::String) {
      equal = std::strcmp(reinterpret_cast<const char*>(master_value.data()),
                          reinterpret_cast<const char*>(slot)) == 0;
    } else if (kind == FieldKind::Blob) {
      const std::string* a = blob_slot::Get(master_value.data());
      const std::string* b = IsBlobDesc(desc) ? blob_slot::Get(slot) : nullptr;
      equal = (a ? *a : std::string()) == (b ? *b : std::string());
    } else {
      equal = desc.DataSize >= master_field.DataSize() &&
              std::memcmp(master_value.data(), slot, static_cast<std::size_t>(master_field.DataSize())) == 0;
    }
    if (kind == FieldKind::Blob && !master_null) blob_slot::Free(master_value.data());
    if (!equal) return false;
  }
  return true;
}

GetResult TQVMDataset::GetRecord(std::byte* buffer, GetMode mode, bool check) {
  const bool by_event = Filtered() && static_cast<bool>(OnFilterRecord);
  const bool detail = master_link_.DataSource() != nullptr && MasterMustBeQVM;
  if (!by_event && !detail) return BasicGetRecord(buffer, mode, check);
  try {
    for (;;) {
      const GetResult result = BasicGetRecord(buffer, mode, check);
      if (result != GetResult::Ok) return result;
      bool accept = !detail || MatchesMaster(buffer);
      if (accept && by_event) {
        const DataSetState previous = State();
        SetState(DataSetState::Filter);
        filter_buffer_ = buffer;
        try {
          OnFilterRecord(*this, accept);
        } catch (...) {
          InternalHandleException(std::current_exception());
        }
        filter_buffer_ = nullptr;
        SetState(previous);
      }
      if (accept) return GetResult::Ok;
      if (mode == GetMode::Current) return GetResult::Error;
    }
  } catch (...) {
    InternalHandleException(std::current_exception());
    return GetResult::Error;
  }
}

void TQVMDataset::InternalInitRecord(std::byte* buffer) {
  FreeRecordBufferContent(buffer);
  std::memset(buffer, 0, static_cast<std::size_t>(buffer_size_));
}

void TQVMDataset::FreeRecordBufferContent(std::byte* buffer) {
  for (const TFieldDesc& desc : field_descs_) {
    if (IsBlobDesc(desc)) blob_slot::Free(buffer + desc.Offset);
  }
}

void TQVMDataset::ClearCalcFields(std::byte* buffer) {
  std::memset(buffer + calc_offset_, 0, static_cast<std::size_t>(CalcFieldsSize()));
}

void TQVMDataset::InternalEdit() { recordset_->Edit(); }
void TQVMDataset::InternalInsert() { recordset_->Insert(); }
void TQVMDataset::InternalCancel() { recordset_->Cancel(); }

void TQVMDataset::InternalPost() {
  posting_insert_ = false;
  const std::byte* buffer = ActiveBuffer();
  for (const TFieldDesc& desc : field_descs_) {
    recordset_->SetFieldData(desc, SlotIsNull(buffer, desc.FieldNo) ? nullptr : buffer + desc.Offset);
  }
  recordset_->Post();
  if (State() == DataSetState::Insert) {
    recordset_->AtBOF = false;
    recordset_->AtEOF = true;
  }
  SaveCurrentBookmark();
}

void TQVMDataset::InternalDelete() {
  recordset_->Delete();
  recordset_->AtBOF = recordset_->AtEOF = recordset_->IsEmpty();
  SaveCurrentBookmark();
  CursorPosChanged();
}

void TQVMDataset::InternalSetToRecord(const std::byte* buffer) {
  if (posting_insert_) return;
  InternalGotoBookmark(std::string(reinterpret_cast<const char*>(buffer + bookmark_offset_),
                                   static_cast<std::size_t>(BookmarkSize())));
}

void TQVMDataset::InternalGotoBookmark(const std::string& bookmark) {
  recordset_->GotoBookmark(bookmark);
  SaveCurrentBookmark();
}

void TQVMDataset::Post() {
  posting_insert_ = State() == DataSetState::Insert;
  try {
    TDataSet::Post();
  } catch (...) {
    posting_insert_ = false;
    throw;
  }
  posting_insert_ = false;
}

void TQVMDataset::Refresh() {
  CheckBrowseMode();
  try {
    recordset_->Refresh();
    if (HasRecord()) CursorPosChanged();
    Resync(false);
  } catch (...) {
    Close();
    throw;
  }
  DataEvent(nullptr);
}

std::byte* TQVMDataset::CurrentBuffer() {
  switch (State()) {
    case DataSetState::Inactive: return recordset_ ? ActiveBuffer() : nullptr;
    case DataSetState::Browse: return recordset_->IsEmpty() ? nullptr : ActiveBuffer();
    case DataSetState::Edit:
    case DataSetState::Insert: return ActiveBuffer();
    case DataSetState::CalcFields: return CalcBuffer();
    case DataSetState::Filter: return filter_buffer_ ? filter_buffer_ : TempBuffer();
    default: return nullptr;
  }
}

bool TQVMDataset::GetFieldData(const TField& field, std::byte* destination) {
  std::byte* buffer = CurrentBuffer();
  if (!buffer) return false;
  if (field.FieldKind() != TFieldKind::Data) {
    const std::byte* flag = buffer + calc_offset_ + field.Offset();
    const bool has_value = *flag != std::byte{0};
    if (has_value && destination)
      std::memcpy(destination, flag + 1, static_cast<std::size_t>(field.DataSize()));
    return has_value;
  }
  if (field.FieldNo() <= 0 || field.FieldNo() > static_cast<int>(field_descs_.size())) return false;
  const TFieldDesc& desc = field_descs_[static_cast<std::size_t>(field.FieldNo() - 1)];
  const bool has_value = !SlotIsNull(buffer, desc.FieldNo);
  if (destination) {
    const std::byte* slot = buffer + desc.Offset;
    if (IsBlobDesc(desc)) {
      std::memset(destination, 0, 8);
      if (has_value) blob_slot::Copy(destination, slot);
    } else {
      std::memset(destination, 0, static_cast<std::size_t>(field.DataSize()));
      if (has_value) std::memcpy(destination, slot, std::min<std::size_t>(desc.DataSize, field.DataSize()));
    }
  }
  return has_value;
}

bool TQVMDataset::GetFieldData(int field_no, std::byte* buffer) {
  for (const auto& field : Fields()) {
    if (field->FieldNo() == field_no) return GetFieldData(*field, buffer);
  }
  return false;
}

void TQVMDataset::SetFieldData(TField& field, const std::byte* value) {
  const DataSetState state = State();
  if (state != DataSetState::Edit && state != DataSetState::Insert && state != DataSetState::SetKey &&
      state != DataSetState::CalcFields && state != DataSetState::Filter && state != DataSetState::NewValue &&
      state != DataSetState::InternalCalc) {
    throw DatasetError("Dataset not in edit or insert mode");
  }
  std::byte* buffer = CurrentBuffer();
  if (!buffer) throw DatasetError("Dataset not in edit or insert mode");
  if (field.FieldKind() != TFieldKind::Data) {
    std::byte* flag = buffer + calc_offset_ + field.Offset();
    *flag = std::byte{value != nullptr};
    if (value) std::memcpy(flag + 1, value, static_cast<std::size_t>(field.DataSize()));
  } else {
    if (state == DataSetState::CalcFields) throw DatasetError("Dataset not in edit or insert mode");
    if (field.ReadOnly && state != DataSetState::SetKey && state != DataSetState::Filter && !InternalWrite) {
      throw DatasetError("Field '" + field.DisplayName() + "' cannot be modified");
    }
    if (field.FieldNo() <= 0) return;
    const TFieldDesc& desc = field_descs_[static_cast<std::size_t>(field.FieldNo() - 1)];
    std::byte* slot = buffer + desc.Offset;
    // Keep the old value so that a failed validation leaves the field as it was.
    const bool was_null = SlotIsNull(buffer, desc.FieldNo);
    std::vector<std::byte> old_value(desc.DataSize);
    std::memcpy(old_value.data(), slot, desc.DataSize);
    if (IsBlobDesc(desc)) {
      std::memset(slot, 0, desc.DataSize);
      if (value) blob_slot::Copy(slot, value);
    } else {
      std::memset(slot, 0, desc.DataSize);
      if (value) std::memcpy(slot, value, std::min<std::size_t>(desc.DataSize, field.DataSize()));
    }
    SetSlotNull(buffer, desc.FieldNo, value == nullptr);
    try {
      field.Validate();
    } catch (...) {
      if (IsBlobDesc(desc)) blob_slot::Free(slot);
      std::memcpy(slot, old_value.data(), desc.DataSize);
      SetSlotNull(buffer, desc.FieldNo, was_null);
      throw;
    }
    if (IsBlobDesc(desc)) blob_slot::Free(old_value.data());
  }
  if (state != DataSetState::CalcFields) FieldChanged(field);
}

bool TQVMDataset::LocateRecord(const std::string& key_fields, const Variant& key_values, TQVMRecord* output,
                               bool move, int options) {
  CheckBrowseMode();
  CursorPosChanged();
  if (recordset_->IsEmpty()) return false;
  return recordset_->Locate(key_fields, key_values, output, move, options);
}

bool TQVMDataset::Locate(const std::string& key_fields, const Variant& key_values, int options) {
  DoBeforeScroll();
  const bool found = LocateRecord(key_fields, key_values, nullptr, true, options);
  if (found) {
    SaveCurrentBookmark();
    // A row that OnFilterRecord or the master hides is not found: the cursor goes back to the
    // row shown instead of failing with "Record not found".
    const bool screened = (Filtered() && static_cast<bool>(OnFilterRecord)) ||
                          (master_link_.DataSource() != nullptr && MasterMustBeQVM);
    if (screened && GetRecord(TempBuffer(), GetMode::Current, false) != GetResult::Ok) {
      if (HasRecord()) InternalSetToRecord(ActiveBuffer());
      return false;
    }
    Resync(true);
    DoAfterScroll();
    DataEvent(nullptr);
  }
  return found;
}

Variant TQVMDataset::Lookup(const std::string& key_fields, const Variant& key_values,
                            const std::string& result_fields) {
  TQVMRecord found(field_descs_);
  if (!LocateRecord(key_fields, key_values, &found, false, 0)) return Variant::Null();
  const DataSetState previous = State();
  SetState(DataSetState::Filter);
  try {
    std::byte* buffer = TempBuffer();
    InternalInitRecord(buffer);
    for (const TFieldDesc& desc : field_descs_) {
      SetSlotNull(buffer, desc.FieldNo, !found.GetFieldData(desc, buffer + desc.Offset));
    }
    GetCalcFields(buffer);
    const std::vector<TField*> fields = GetFieldList(result_fields);
    Variant result;
    if (fields.size() == 1) {
      result = fields.front()->AsVariant();
    } else {
      std::vector<Variant> values;
      values.reserve(fields.size());
      for (TField* field : fields) values.push_back(field->AsVariant());
      result = Variant::Array(std::move(values));
    }
    SetState(previous);
    return result;
  } catch (...) {
    SetState(previous);
    throw;
  }
}

bool TQVMDataset::BookmarkValid(const std::string& bookmark) {
  if (!recordset_ || bookmark.empty()) return false;
  CursorPosChanged();
  try {
    recordset_->GotoBookmark(bookmark);
    return true;
  } catch (...) {
    try {
      if (!current_bookmark_.empty()) recordset_->GotoBookmark(current_bookmark_);
    } catch (...) {
    }
    return false;
  }
}

int TQVMDataset::CompareBookmarks(const std::string& first, const std::string& second) const {
  if (first.empty() && second.empty()) return 0;
  if (second.empty()) return -1;
  if (first.empty()) return 1;
  const std::size_t size = std::min(first.size(), second.size());
  for (std::size_t i = size; i-- > 0;) {
    const auto a = static_cast<unsigned char>(first[i]);
    const auto b = static_cast<unsigned char>(second[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  if (first.size() != second.size()) return first.size() < second.size() ? -1 : 1;
  return 0;
}

std::unique_ptr<TStream> TQVMDataset::CreateBlobStream(TField& field, BlobStreamMode mode) {
  if (mode != BlobStreamMode::Read) {
    // A writing stream empties the slot at once: it needs the same rights as SetFieldData, or
    // the row shown in browse mode would lose its value without the record changing.
    const DataSetState state = State();
    if (state != DataSetState::Edit && state != DataSetState::Insert && state != DataSetState::SetKey &&
        state != DataSetState::Filter && state != DataSetState::NewValue &&
        state != DataSetState::InternalCalc) {
      throw DatasetError("Dataset not in edit or insert mode");
    }
    if (field.FieldKind() == TFieldKind::Data && field.ReadOnly && state != DataSetState::SetKey &&
        state != DataSetState::Filter && !InternalWrite) {
      throw DatasetError("Field '" + field.DisplayName() + "' cannot be modified");
    }
  }
  return std::make_unique<TMyBlobStream>(*this, field, CurrentBuffer(), mode);
}

void TQVMDataset::DoOnNewRecord() {
  if (master_link_.Active() && !master_link_.Fields().empty()) {
    const std::vector<TField*>& master_fields = master_link_.Fields();
    for (std::size_t i = 0; i < detail_field_list_.size() && i < master_fields.size(); ++i) {
      detail_field_list_[i]->SetAsVariant(master_fields[i]->AsVariant());
    }
  }
  TDataSet::DoOnNewRecord();
}

void TQVMDataset::MasterChanged() {
  if (master_link_.Fields().empty()) return;
  if (MasterMustBeQVM && detail_field_list_.size() < master_link_.Fields().size()) {
    throw DatasetError("Invalid detail fields setting");
  }
  CheckBrowseMode();
  First();
}

void TQVMDataset::MasterDisabled() { First(); }

// ---- layout dataset ----

void TFldlayoutDataSet::DoSetFieldLayout(const std::string& layout) {
  const std::string trimmed(text::TrimBlanks(layout));
  if (trimmed == field_layout_) return;
  CheckInactive();
  const TParsedFieldLayout& parsed = ParseFieldLayoutOnce(trimmed, true);
  TFieldDefs defs = parsed.Defs;
  bool flagged = false;
  for (TFieldDef& def : defs) {
    if (const TField* field = FindField(def.Name)) {
      const std::uint8_t attributes = def.Attributes | FieldFlags(*field);
      flagged = flagged || attributes != def.Attributes;
      def.Attributes = attributes;
    }
  }
  field_layout_ = trimmed;
  FieldDefs() = std::move(defs);
  if (flagged) {
    BuildFieldDescs(FieldDefs(), MutableFieldDescs());
  } else {
    MutableFieldDescs() = parsed.Descs;
  }
}

// ---- blob stream ----

TMyBlobStream::TMyBlobStream(TQVMDataset& dataset, TField& field, std::byte* buffer, BlobStreamMode mode)
    : field_(&field), slot_(nullptr), mode_(mode), buffer_(buffer), dataset_(&dataset) {
  if (buffer_ && field.FieldKind() == TFieldKind::Data && field.FieldNo() > 0) {
    slot_ = buffer_ + dataset.FieldDescs()[static_cast<std::size_t>(field.FieldNo() - 1)].Offset;
  }
  if (!slot_) return;
  if (mode_ == BlobStreamMode::Read) {
    const std::string* block = blob_slot::Get(slot_);
    size_ = block ? static_cast<std::int64_t>(block->size()) : 0;
  } else if (mode_ == BlobStreamMode::Write) {
    blob_slot::Free(slot_);
    dataset_->SetSlotNull(buffer_, field.FieldNo(), true);
    modified_ = true;
  }
}

TMyBlobStream::~TMyBlobStream() {
  if (!modified_) return;
  try {
    dataset_->FieldChanged(*field_);
  } catch (...) {
    ApplicationHandleException(std::current_exception());
  }
}

std::int64_t TMyBlobStream::Read(void* buffer, std::int64_t count) {
  if (count < 0) throw DatasetError("TMyBlobStream.Read can't read negative byte count");
  if (count == 0 || !slot_ || position_ < 0) return 0;
  const std::string* block = blob_slot::Get(slot_);
  if (!block || position_ >= static_cast<std::int64_t>(block->size())) return 0;
  const std::int64_t available = static_cast<std::int64_t>(block->size()) - position_;
  const std::int64_t read = std::min(count, available);
  std::memcpy(buffer, block->data() + position_, static_cast<std::size_t>(read));
  position_ += read;
  return read;
}

std::int64_t TMyBlobStream::Write(const void* buffer, std::int64_t count) {
  if (count < 0) throw DatasetError("TMyBlobStream.Write can't write negative byte count");
  if (count == 0) return 0;
  if (!slot_) throw DatasetError("Dataset not in edit or insert mode");
  // A position before the start (a seek back past it) writes nothing, as a memory stream does.
  if (position_ < 0) return 0;
  const std::string* block = blob_slot::Get(slot_);
  std::string bytes = block ? *block : std::string();
  if (static_cast<std::int64_t>(bytes.size()) < position_ + count)
    bytes.resize(static_cast<std::size_t>(position_ + count));
  std::memcpy(bytes.data() + position_, buffer, static_cast<std::size_t>(count));
  blob_slot::Set(slot_, bytes);
  position_ += count;
  size_ = std::max(size_, position_);
  modified_ = true;
  dataset_->SetSlotNull(buffer_, field_->FieldNo(), false);
  return count;
}

std::int64_t TMyBlobStream::Seek(std::int64_t offset, SeekOrigin origin) {
  switch (origin) {
    case SeekOrigin::Beginning: position_ = offset; break;
    case SeekOrigin::Current: position_ += offset; break;
    case SeekOrigin::End: position_ = size_ - offset; break;
    default: throw DatasetError("Invalid seek origin");
  }
  return position_;
}

}  // namespace tamaril::dataset
