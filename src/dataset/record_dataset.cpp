// Copying between a record and the current row of a dataset.
#include <algorithm>
#include <cstring>

#include "dataset/dataset.h"
#include "dataset/record.h"

namespace tamaril::dataset {
namespace {

bool SameNativeForm(const TField& field, const TFieldDesc& desc) {
  return field.DataType() == desc.DataType && field.DataSize() == desc.DataSize;
}

}  // namespace

std::vector<TField*> TQVMRecord::SourceFields(TDataSet& dataset) const {
  std::vector<TField*> fields;
  fields.reserve(Fields().size());
  for (const TFieldDesc& desc : Fields()) fields.push_back(dataset.FindField(desc.Name));
  return fields;
}

void TQVMRecord::LoadFromDataSet(TDataSet& dataset, bool clear_first) {
  LoadFromFields(dataset, SourceFields(dataset), clear_first);
}

void TQVMRecord::LoadFromFields(TDataSet& dataset, const std::vector<TField*>& fields, bool clear_first) {
  if (clear_first) Clear();
  const std::size_t count = std::min(fields.size(), Fields().size());
  for (std::size_t i = 0; i < count; ++i) {
    const TFieldDesc& desc = Fields()[i];
    TField* field = fields[i];
    if (!field || (!clear_first && !IsNull(desc.FieldNo))) continue;
    std::byte* slot = Buffer() + desc.Offset;
    if (desc.Kind == FieldKind::Blob) {
      if (field->IsBlob()) {
        std::unique_ptr<TStream> stream = dataset.CreateBlobStream(*field, BlobStreamMode::Read);
        const std::string content = stream ? stream->ReadAll() : std::string();
        blob_slot::Set(slot, content);
        // An empty text or block stays apart from NULL; the compatible stream form writes both
        // alike.
        SetNull(desc.FieldNo, content.empty() && field->IsNull());
      } else if (field->DataType() == FieldType::Bytes || field->DataType() == FieldType::VarBytes) {
        if (field->IsNull()) {
          blob_slot::Free(slot);
          SetNull(desc.FieldNo, true);
        } else {
          std::string bytes = field->AsVariant().AsBytes();
          // Fixed-size bytes are padded to their size; varying ones keep their length.
          if (field->DataType() == FieldType::Bytes)
            bytes.resize(static_cast<std::size_t>(std::max(field->Size, 0)), '\0');
          blob_slot::Set(slot, bytes);
          SetNull(desc.FieldNo, bytes.empty());
        }
      }
      continue;
    }
    const bool wide_to_string = field->DataType() == FieldType::WideString && desc.Kind == FieldKind::String;
    if (!wide_to_string && SameNativeForm(*field, desc)) {
      // The field's bytes as they are; a null one leaves the slot zeroed.
      std::memset(slot, 0, desc.DataSize);
      SetNull(desc.FieldNo, !field->GetData(slot));
    } else if (field->IsNull()) {
      SetFieldData(desc, nullptr);
    } else if (wide_to_string) {
      const std::string value = field->AsString();
      std::memset(slot, 0, desc.DataSize);
      std::memcpy(slot, value.data(), std::min<std::size_t>(value.size(), desc.DataSize - 1u));
      SetNull(desc.FieldNo, false);
    } else {
      // A field of another type or size: convert the value instead of copying a buffer that
      // does not fit the slot.
      SetValue(desc.FieldNo, field->AsVariant());
    }
  }
}

void TQVMRecord::StoreToDataSet(TDataSet& dataset, const std::vector<std::string>& leave_out) const {
  const DataSetState state = dataset.State();
  const bool inserting = state == DataSetState::Insert;
  for (const TFieldDesc& desc : Fields()) {
    TField* field = dataset.FindField(desc.Name);
    if (!field || field->FieldKind() != TFieldKind::Data) continue;
    if (std::any_of(leave_out.begin(), leave_out.end(),
                    [&](const std::string& name) { return SameFieldName(name, desc.Name); })) {
      continue;
    }
    if (field->ReadOnly && state != DataSetState::SetKey && state != DataSetState::Filter) continue;
    const std::byte* slot = Buffer() + desc.Offset;
    const bool null = IsNull(desc.FieldNo);
    if (desc.Kind == FieldKind::Blob) {
      const std::string* block = null ? nullptr : blob_slot::Get(slot);
      if (!block || block->empty()) {
        if (!inserting) field->Clear();
      } else if (field->IsBlob()) {
        std::unique_ptr<TStream> stream = dataset.CreateBlobStream(*field, BlobStreamMode::Write);
        if (stream) stream->Write(block->data(), static_cast<std::int64_t>(block->size()));
      } else if (field->DataType() == FieldType::Bytes || field->DataType() == FieldType::VarBytes) {
        field->SetAsVariant(Variant::Bytes(*block));
      }
      continue;
    }
    if (null) {
      if (!inserting) field->Clear();
    } else if (field->DataType() == FieldType::WideString) {
      field->SetAsString(GetValue(desc.FieldNo).AsString());
    } else if (SameNativeForm(*field, desc)) {
      field->SetData(slot);
    } else {
      field->SetAsVariant(GetValue(desc.FieldNo));
    }
  }
}

}  // namespace tamaril::dataset
