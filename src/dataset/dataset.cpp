#include "dataset/dataset.h"

#include <algorithm>
#include <cstring>
#include <iostream>

#include "dataset/errors.h"
#include "text/encoding.h"
#include "text/locale.h"

namespace tamaril::dataset {
namespace {

std::function<void(std::exception_ptr)>& ExceptionHandler() {
  static std::function<void(std::exception_ptr)> handler;
  return handler;
}

std::unique_ptr<std::byte[]> ZeroedBuffer(int size) {
  return std::make_unique<std::byte[]>(static_cast<std::size_t>(std::max(size, 1)));
}

}  // namespace

void ApplicationHandleException(const std::exception_ptr& error) {
  if (ExceptionHandler()) {
    ExceptionHandler()(error);
    return;
  }
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::cerr << text::AnsiToUtf8(e.what()) << '\n';
  } catch (...) {
    std::cerr << "Unknown error\n";
  }
}

void SetApplicationExceptionHandler(std::function<void(std::exception_ptr)> handler) {
  ExceptionHandler() = std::move(handler);
}

bool SameFieldName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && text::UpperChar(a[i]) != text::UpperChar(b[i])) return false;
  }
  return true;
}

// ---- links and sources ----

TDataLink::~TDataLink() {
  if (source_) std::erase(source_->links_, this);
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == source_) return;
  if (source_) std::erase(source_->links_, this);
  source_ = source;
  if (source_) source_->links_.push_back(this);
  ActiveChanged();
}

bool TDataLink::Active() const {
  return source_ && source_->Enabled() && source_->DataSet() && source_->DataSet()->Active();
}

TDataSet* TDataLink::DataSet() const { return source_ ? source_->DataSet() : nullptr; }

TDataSource::TDataSource(TDataSet* dataset) { SetDataSet(dataset); }

TDataSource::~TDataSource() {
  if (dataset_) std::erase(dataset_->sources_, this);
  for (TDataLink* link : links_) link->source_ = nullptr;
}

void TDataSource::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset_) std::erase(dataset_->sources_, this);
  dataset_ = dataset;
  if (dataset_) dataset_->sources_.push_back(this);
  NotifyActiveChanged();
}

void TDataSource::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  NotifyActiveChanged();
}

void TDataSource::NotifyActiveChanged() {
  const std::vector<TDataLink*> links = links_;
  for (TDataLink* link : links) link->ActiveChanged();
}

void TDataSource::NotifyRecordChanged(TField* field) {
  if (!enabled_) return;
  const std::vector<TDataLink*> links = links_;
  for (TDataLink* link : links) link->RecordChanged(field);
}

TMasterDataLink::TMasterDataLink(TDataSet& detail) : detail_(&detail) {}

void TMasterDataLink::SetFieldNames(const std::string& names) {
  field_names_ = names;
  ActiveChanged();
}

void TMasterDataLink::ActiveChanged() {
  fields_.clear();
  if (Active()) fields_ = DataSet()->GetFieldList(field_names_);
  if (!detail_->Active()) return;
  if (Active() && !fields_.empty()) {
    if (OnMasterChange) OnMasterChange();
  } else if (OnMasterDisable) {
    OnMasterDisable();
  }
}

void TMasterDataLink::RecordChanged(TField* field) {
  if (DataSet()->State() == DataSetState::SetKey || !detail_->Active() || fields_.empty()) return;
  if (field && std::find(fields_.begin(), fields_.end(), field) == fields_.end()) return;
  if (OnMasterChange) OnMasterChange();
}

// ---- dataset ----

TDataSet::TDataSet() = default;

TDataSet::~TDataSet() {
  const std::vector<TDataSource*> sources = sources_;
  for (TDataSource* source : sources) {
    source->dataset_ = nullptr;
    try {
      source->NotifyActiveChanged();
    } catch (...) {
      ApplicationHandleException(std::current_exception());
    }
  }
}

void TDataSet::CloseForDestruction() noexcept {
  destroying_ = true;
  try {
    Close();
  } catch (...) {
    state_ = DataSetState::Inactive;
  }
}

void TDataSet::Open() {
  if (Active()) return;
  DoBeforeOpen();
  try {
    InternalOpen();
    active_ = ZeroedBuffer(buffer_size_);
    temp_ = ZeroedBuffer(buffer_size_);
    spare_ = ZeroedBuffer(buffer_size_);
    saved_ = ZeroedBuffer(buffer_size_);
    state_ = DataSetState::Browse;
    modified_ = false;
    cursor_synced_ = true;
    FetchFirst();
  } catch (...) {
    state_ = DataSetState::Inactive;
    try {
      if (IsCursorOpen()) InternalClose();
    } catch (...) {
    }
    FreeBuffers();
    throw;
  }
  DoAfterOpen();
  NotifyActiveChanged();
}

void TDataSet::Close() {
  if (!Active()) return;
  if (!destroying_) DoBeforeClose();
  state_ = DataSetState::Inactive;
  try {
    InternalClose();
  } catch (...) {
    FreeBuffers();
    throw;
  }
  FreeBuffers();
  if (!destroying_) {
    DoAfterClose();
    NotifyActiveChanged();
  }
}

void TDataSet::FreeBuffers() {
  for (auto* buffer : {&active_, &temp_, &spare_, &saved_}) {
    if (*buffer) FreeRecordBufferContent(buffer->get());
    buffer->reset();
  }
  calc_buffer_ = nullptr;
  has_record_ = false;
  saved_has_record_ = false;
  bof_ = eof_ = true;
  modified_ = false;
}

void TDataSet::CheckInactive() const {
  if (Active()) throw DatasetError("Cannot perform this operation on an open dataset");
}

void TDataSet::CheckActive() const {
  if (!Active()) throw DatasetError("Cannot perform this operation on a closed dataset");
}

void TDataSet::CheckCanModify() const {
  if (!GetCanModify()) throw DatasetError("Cannot modify a read-only dataset");
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) {
    if (modified_) {
      Post();
    } else {
      Cancel();
    }
  } else if (state_ == DataSetState::SetKey) {
    Post();
  }
}

TField& TDataSet::AddField(const std::string& name, FieldType type, int size, TFieldKind kind) {
  CheckInactive();
  fields_.push_back(std::make_unique<TField>(*this, name, type, size, kind));
  return *fields_.back();
}

void TDataSet::ClearFields() {
  CheckInactive();
  fields_.clear();
}

TField* TDataSet::FindField(std::string_view name) const {
  for (const auto& field : fields_) {
    if (SameFieldName(field->Name, name)) return field.get();
  }
  return nullptr;
}

TField& TDataSet::FieldByName(std::string_view name) const {
  TField* field = FindField(name);
  if (!field) throw DatasetError("Field '" + std::string(name) + "' not found");
  return *field;
}

std::vector<TField*> TDataSet::GetFieldList(std::string_view names) const {
  std::vector<TField*> result;
  for (const std::string& name : SplitToList(names, ";")) result.push_back(&FieldByName(name));
  return result;
}

void TDataSet::CreateFields() {
  for (std::size_t i = 0; i < field_defs_.size(); ++i) {
    const TFieldDef& def = field_defs_[i];
    auto field = std::make_unique<TField>(*this, def.Name, def.DataType, def.Size);
    field->field_no_ = static_cast<int>(i) + 1;
    field->Precision = def.Precision;
    field->Visible = (def.Attributes & static_cast<std::uint8_t>(FieldAttribute::Hidden)) == 0;
    field->ReadOnly = (def.Attributes & static_cast<std::uint8_t>(FieldAttribute::ReadOnly)) != 0;
    field->Required = (def.Attributes & static_cast<std::uint8_t>(FieldAttribute::Required)) != 0;
    fields_.push_back(std::move(field));
  }
}

void TDataSet::CreateDefaultFieldsIfNeeded() {
  default_fields_ = fields_.empty();
  if (default_fields_) CreateFields();
}

void TDataSet::DestroyDefaultFields() {
  if (default_fields_) fields_.clear();
  default_fields_ = false;
}

void TDataSet::BindFields() {
  int calc_offset = 0;
  for (const auto& field : fields_) {
    if (field->FieldKind() == TFieldKind::Data) {
      const auto def = std::find_if(field_defs_.begin(), field_defs_.end(),
                                    [&](const TFieldDef& d) { return SameFieldName(d.Name, field->Name); });
      if (def == field_defs_.end()) throw DatasetError("Field '" + field->Name + "' not found");
      field->field_no_ = static_cast<int>(def - field_defs_.begin()) + 1;
    } else {
      field->field_no_ = 0;
      field->offset_ = calc_offset;
      calc_offset += 1 + field->DataSize();
    }
  }
  calc_fields_size_ = calc_offset;
}

void TDataSet::SetBufferLayout(int buffer_size, int bookmark_offset, int bookmark_size, int flag_offset) {
  buffer_size_ = buffer_size;
  bookmark_offset_ = bookmark_offset;
  bookmark_size_ = bookmark_size;
  flag_offset_ = flag_offset;
}

void TDataSet::GetCalcFields(std::byte* buffer) {
  if (!HasCalcFields()) return;
  const DataSetState previous = state_;
  std::byte* previous_buffer = calc_buffer_;
  state_ = DataSetState::CalcFields;
  calc_buffer_ = buffer;
  try {
    ClearCalcFields(buffer);
    if (OnCalcFields) OnCalcFields(*this);
  } catch (...) {
    state_ = previous;
    calc_buffer_ = previous_buffer;
    throw;
  }
  state_ = previous;
  calc_buffer_ = previous_buffer;
}

std::byte* TDataSet::BufferOfState() noexcept {
  switch (state_) {
    case DataSetState::Browse: return has_record_ ? active_.get() : nullptr;
    case DataSetState::Edit:
    case DataSetState::Insert: return active_.get();
    case DataSetState::CalcFields: return calc_buffer_;
    case DataSetState::Filter: return temp_.get();
    default: return nullptr;
  }
}

bool TDataSet::FetchInto(GetMode mode) {
  if (GetRecord(spare_.get(), mode, true) == GetResult::Ok) {
    std::swap(active_, spare_);
    cursor_synced_ = true;
    return true;
  }
  cursor_synced_ = false;
  return false;
}

void TDataSet::UpdateCursorPos() {
  if (!cursor_synced_ && has_record_) {
    InternalSetToRecord(active_.get());
    cursor_synced_ = true;
  }
}

void TDataSet::ClearBuffers() {
  has_record_ = false;
  bof_ = eof_ = true;
  InternalInitRecord(active_.get());
}

void TDataSet::FetchFirst() {
  has_record_ = FetchInto(GetMode::Next);
  if (!has_record_) InternalInitRecord(active_.get());
  bof_ = true;
  eof_ = !has_record_;
}

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  InternalFirst();
  FetchFirst();
  DoAfterScroll();
  DataEvent(nullptr);
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  InternalLast();
  has_record_ = FetchInto(GetMode::Prior);
  if (!has_record_) InternalInitRecord(active_.get());
  eof_ = true;
  bof_ = !has_record_;
  DoAfterScroll();
  DataEvent(nullptr);
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int moved = 0;
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    bof_ = eof_ = false;
    DoBeforeScroll();
    UpdateCursorPos();
    while (distance > 0) {
      if (!FetchInto(GetMode::Next)) {
        eof_ = true;
        break;
      }
      ++moved;
      --distance;
    }
    while (distance < 0) {
      if (!FetchInto(GetMode::Prior)) {
        bof_ = true;
        break;
      }
      --moved;
      ++distance;
    }
    DoAfterScroll();
    DataEvent(nullptr);
  }
  return moved;
}

void TDataSet::Resync(bool exact) {
  if (exact) {
    if (GetRecord(spare_.get(), GetMode::Current, true) != GetResult::Ok) {
      throw DatasetError("Record not found");
    }
  } else if (GetRecord(spare_.get(), GetMode::Current, false) != GetResult::Ok &&
             GetRecord(spare_.get(), GetMode::Next, false) != GetResult::Ok &&
             GetRecord(spare_.get(), GetMode::Prior, false) != GetResult::Ok) {
    ClearBuffers();
    cursor_synced_ = true;
    return;
  }
  std::swap(active_, spare_);
  has_record_ = true;
  cursor_synced_ = true;
  bof_ = eof_ = false;
}

void TDataSet::Edit() {
  if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) return;
  CheckActive();
  if (!has_record_) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeEdit();
  UpdateCursorPos();
  InternalEdit();
  state_ = DataSetState::Edit;
  modified_ = false;
  DataEvent(nullptr);
  DoAfterEdit();
}

void TDataSet::Insert() { BeginInsert(false); }

void TDataSet::Append() { BeginInsert(true); }

void TDataSet::BeginInsert(bool at_end) {
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeInsert();
  DoBeforeScroll();
  UpdateCursorPos();
  if (at_end) {
    InternalLast();
    cursor_synced_ = false;
  }
  InternalInsert();
  std::swap(active_, saved_);
  saved_has_record_ = has_record_;
  InternalInitRecord(active_.get());
  active_[static_cast<std::size_t>(flag_offset_)] =
      static_cast<std::byte>(at_end ? BookmarkFlag::Eof : BookmarkFlag::Inserted);
  state_ = DataSetState::Insert;
  if (at_end) eof_ = true;
  try {
    DoOnNewRecord();
  } catch (...) {
    Cancel();
    throw;
  }
  modified_ = false;
  DataEvent(nullptr);
  DoAfterInsert();
  DoAfterScroll();
}

void TDataSet::CheckRequiredFields() {
  for (const auto& field : fields_) {
    if (field->Required && !field->ReadOnly && field->FieldKind() == TFieldKind::Data && field->IsNull()) {
      throw DatasetError("Field '" + field->DisplayName() + "' must have a value");
    }
  }
}

void TDataSet::Post() {
  if (state_ == DataSetState::SetKey) {
    state_ = DataSetState::Browse;
    return;
  }
  if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
  DoBeforePost();
  CheckRequiredFields();
  InternalPost();
  const bool was_insert = state_ == DataSetState::Insert;
  state_ = DataSetState::Browse;
  if (was_insert) {
    InternalInitRecord(saved_.get());
    saved_has_record_ = false;
  }
  Resync(false);
  modified_ = false;
  DoAfterPost();
  DataEvent(nullptr);
}

void TDataSet::Cancel() {
  if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
  DoBeforeCancel();
  const bool was_insert = state_ == DataSetState::Insert;
  InternalCancel();
  state_ = DataSetState::Browse;
  modified_ = false;
  if (was_insert) {
    std::swap(active_, saved_);
    InternalInitRecord(saved_.get());
    has_record_ = saved_has_record_;
    saved_has_record_ = false;
    cursor_synced_ = false;
    if (has_record_) {
      UpdateCursorPos();
      Resync(false);
    } else {
      ClearBuffers();
    }
  } else {
    Resync(false);
  }
  DoAfterCancel();
  DataEvent(nullptr);
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == DataSetState::Insert || state_ == DataSetState::SetKey) {
    Cancel();
    return;
  }
  if (!has_record_) throw DatasetError("Cannot perform this operation on an empty dataset");
  CheckCanModify();
  DoBeforeDelete();
  DoBeforeScroll();
  if (state_ == DataSetState::Edit) {
    InternalCancel();
    state_ = DataSetState::Browse;
  }
  UpdateCursorPos();
  InternalDelete();
  state_ = DataSetState::Browse;
  modified_ = false;
  Resync(false);
  DoAfterDelete();
  DoAfterScroll();
  DataEvent(nullptr);
}

void TDataSet::DoSetFiltered(bool filtered) {
  if (!Active()) {
    filtered_ = filtered;
    return;
  }
  CheckBrowseMode();
  if (filtered_ != filtered) {
    filtered_ = filtered;
    First();
  }
}

bool TDataSet::Locate(const std::string&, const Variant&, int) { return false; }

Variant TDataSet::Lookup(const std::string&, const Variant&, const std::string&) { return Variant::Null(); }

std::string TDataSet::GetBookmark() const {
  if (!has_record_ || bookmark_size_ == 0) return {};
  return std::string(reinterpret_cast<const char*>(active_.get() + bookmark_offset_),
                     static_cast<std::size_t>(bookmark_size_));
}

void TDataSet::GotoBookmark(const std::string& bookmark) {
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(bookmark);
  Resync(true);
  DoAfterScroll();
  DataEvent(nullptr);
}

bool TDataSet::BookmarkValid(const std::string&) { return false; }

int TDataSet::CompareBookmarks(const std::string&, const std::string&) const { return 0; }

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField&, BlobStreamMode) { return nullptr; }

void TDataSet::DataEvent(TField* field) {
  const std::vector<TDataSource*> sources = sources_;
  for (TDataSource* source : sources) source->NotifyRecordChanged(field);
}

void TDataSet::NotifyActiveChanged() {
  const std::vector<TDataSource*> sources = sources_;
  for (TDataSource* source : sources) source->NotifyActiveChanged();
}

void TDataSet::FieldChanged(TField& field) {
  if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) {
    modified_ = true;
    DataEvent(&field);
  }
}

void TDataSet::DoBeforeOpen() {
  if (BeforeOpen) BeforeOpen(*this);
}
void TDataSet::DoAfterOpen() {
  if (AfterOpen) AfterOpen(*this);
}
void TDataSet::DoBeforeClose() {
  if (BeforeClose) BeforeClose(*this);
}
void TDataSet::DoAfterClose() {
  if (AfterClose) AfterClose(*this);
}
void TDataSet::DoBeforeInsert() {
  if (BeforeInsert) BeforeInsert(*this);
}
void TDataSet::DoAfterInsert() {
  if (AfterInsert) AfterInsert(*this);
}
void TDataSet::DoBeforeEdit() {
  if (BeforeEdit) BeforeEdit(*this);
}
void TDataSet::DoAfterEdit() {
  if (AfterEdit) AfterEdit(*this);
}
void TDataSet::DoBeforePost() {
  if (BeforePost) BeforePost(*this);
}
void TDataSet::DoAfterPost() {
  if (AfterPost) AfterPost(*this);
}
void TDataSet::DoBeforeCancel() {
  if (BeforeCancel) BeforeCancel(*this);
}
void TDataSet::DoAfterCancel() {
  if (AfterCancel) AfterCancel(*this);
}
void TDataSet::DoBeforeDelete() {
  if (BeforeDelete) BeforeDelete(*this);
}
void TDataSet::DoAfterDelete() {
  if (AfterDelete) AfterDelete(*this);
}
void TDataSet::DoBeforeScroll() {
  if (BeforeScroll) BeforeScroll(*this);
}
void TDataSet::DoAfterScroll() {
  if (AfterScroll) AfterScroll(*this);
}
void TDataSet::DoOnNewRecord() {
  if (OnNewRecord) OnNewRecord(*this);
}

std::uint8_t FieldFlags(const TField& field) {
  std::uint8_t flags = 0;
  if (!field.Visible) flags |= 1;
  if (field.FieldKind() != TFieldKind::Data || field.ReadOnly) flags |= 2;
  if (field.Required) flags |= 4;
  return flags;
}

std::string BuildFieldLayout(const TDataSet& dataset, bool tagged_only) {
  std::string layout;
  for (const auto& field : dataset.Fields()) {
    if (tagged_only && field->Tag == 0) continue;
    if (!layout.empty()) layout += ';';
    layout += field->Name;
    layout += ';';
    layout += FieldTypeName(field->DataType());
    layout += ';' + std::to_string(field->Size) + ';' + std::to_string(FieldFlags(*field));
    if (field->DataType() == FieldType::BCD) layout += ';' + std::to_string(field->Precision);
  }
  return layout;
}

}  // namespace tamaril::dataset
