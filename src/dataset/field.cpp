#include "dataset/field.h"

#include <cstring>

#include "dataset/dataset.h"
#include "dataset/errors.h"

namespace tamaril::dataset {

std::string TStream::ReadAll() {
  std::string result;
  char chunk[4096];
  for (;;) {
    const auto read = Read(chunk, sizeof chunk);
    if (read <= 0) break;
    result.append(chunk, static_cast<std::size_t>(read));
  }
  return result;
}

TField::TField(TDataSet& dataset, std::string name, FieldType type, int size, TFieldKind kind)
    : Name(std::move(name)), Size(size), dataset_(&dataset), type_(type), kind_(kind) {
  data_size_ = FieldStorageSize(type, size);
}

TField::~TField() = default;

bool TField::IsBlob() const noexcept {
  return KindOfFieldType(type_) == dataset::FieldKind::Blob && type_ != FieldType::Bytes &&
         type_ != FieldType::VarBytes;
}

bool TField::GetData(std::byte* buffer) const { return dataset_->GetFieldData(*this, buffer); }

void TField::SetData(const std::byte* buffer) { dataset_->SetFieldData(*this, buffer); }

void TField::Validate() {
  if (OnValidate) OnValidate(*this);
}

const TFieldDesc& TField::ScratchDesc() const {
  if (!scratch_) {
    TFieldDesc desc;
    desc.FieldNo = 1;
    desc.Name = Name;
    desc.DataType = type_;
    desc.DataSize = static_cast<std::uint16_t>(data_size_);
    desc.Size = Size;
    desc.Kind = KindOfFieldType(type_);
    scratch_descs_.assign(1, desc);
    scratch_ = std::make_unique<TQVMRecord>(scratch_descs_);
    native_.assign(static_cast<std::size_t>(data_size_), std::byte{0});
  }
  return scratch_descs_.front();
}

Variant TField::AsVariant() const {
  const TFieldDesc& desc = ScratchDesc();
  if (desc.Kind == dataset::FieldKind::Blob) {
    std::byte slot[8] = {};
    if (!GetData(slot)) return Variant::Null();
    const std::string* block = blob_slot::Get(slot);
    std::string bytes = block ? *block : std::string();
    blob_slot::Free(slot);
    if (type_ == FieldType::Memo || type_ == FieldType::FmtMemo) return Variant::String(std::move(bytes));
    return Variant::Bytes(std::move(bytes));
  }
  std::fill(native_.begin(), native_.end(), std::byte{0});
  if (!GetData(native_.data())) return Variant::Null();
  // Read as a record holding these bytes would: a text ends within its field.
  if (desc.Kind == dataset::FieldKind::String && !native_.empty()) native_.back() = std::byte{0};
  return TQVMRecord::SlotValue(desc, native_.data());
}

void TField::SetAsVariant(const Variant& value) {
  const TFieldDesc& desc = ScratchDesc();
  if (value.IsNull()) {
    SetData(nullptr);
    return;
  }
  if (desc.Kind == dataset::FieldKind::Blob) {
    std::byte slot[8] = {};
    const std::string bytes = value.kind() == Variant::Kind::Bytes ? value.AsBytes() : value.AsString();
    blob_slot::Set(slot, bytes);
    try {
      SetData(slot);
    } catch (...) {
      blob_slot::Free(slot);
      throw;
    }
    blob_slot::Free(slot);
    return;
  }
  scratch_->SetValue(1, value);
  std::fill(native_.begin(), native_.end(), std::byte{0});
  scratch_->GetFieldData(desc, native_.data());
  SetData(native_.data());
}

std::string TField::AsString() const {
  const Variant value = AsVariant();
  if (value.IsNull()) return {};
  if (value.kind() == Variant::Kind::Bytes) return value.AsBytes();
  return value.AsString();
}

void TField::SetAsString(const std::string& value) { SetAsVariant(Variant::String(value)); }

std::int64_t TField::AsInteger() const {
  const Variant value = AsVariant();
  return value.IsNull() ? 0 : value.AsInteger();
}

double TField::AsFloat() const {
  const Variant value = AsVariant();
  return value.IsNull() ? 0 : value.AsDouble();
}

bool TField::AsBoolean() const {
  const Variant value = AsVariant();
  return value.IsNull() ? false : value.AsBoolean();
}

double TField::AsDateTime() const {
  const Variant value = AsVariant();
  return value.IsNull() ? 0 : value.AsDateTime();
}

std::string TField::Text(bool display) {
  if (OnGetText) {
    std::string text = AsString();
    OnGetText(*this, text, display);
    return text;
  }
  return AsString();
}

void TField::SetText(const std::string& text) {
  if (OnSetText) {
    OnSetText(*this, text);
  } else {
    SetAsString(text);
  }
}

}  // namespace tamaril::dataset
