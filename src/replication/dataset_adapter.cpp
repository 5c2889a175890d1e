#include "replication/dataset_adapter.h"

#include "dataset/field.h"
#include "replication/errors.h"

namespace tamaril::replication {

tDatasetAdapter::tDatasetAdapter() = default;

tDatasetAdapter::~tDatasetAdapter() = default;

void tDatasetAdapter::SetLayout(const std::string& layout) {
  if (layout == layout_) return;
  passing_.reset();
  table_.Close();
  // Forget the old layout first: a refused one must not leave the table half switched.
  layout_.clear();
  table_.SetFieldLayout(layout);
  layout_ = layout;
}

std::string tDatasetAdapter::LayoutOf(const dataset::TDataSet* dataset) {
  return dataset == nullptr ? std::string() : dataset::BuildFieldLayout(*dataset, false);
}

void tDatasetAdapter::ResetTable() {
  if (!table_.Active()) table_.Open();
  table_.EmptyTable();
  // A fresh table would have fresh fields: no change flags left over from the previous row.
  for (const auto& field : table_.Fields()) field->Tag = 0;
}

void tDatasetAdapter::LoadRow(dataset::TDataSet* dataset) {
  if (dataset == nullptr) return;
  LoadRow(*dataset, LayoutOf(dataset));
}

void tDatasetAdapter::LoadRow(dataset::TDataSet& dataset, const std::string& layout) {
  SetLayout(layout);
  FillRow([&](dataset::TQVMRecord& record) { record.LoadFromDataSet(dataset, true); });
}

void tDatasetAdapter::ReadRow(dataset::ByteReader* stream) {
  if (stream == nullptr) return;
  const bool null_blob_length = form_ == tTextForm::Unicode;
  FillRow([&](dataset::TQVMRecord& record) { record.ReadFromStream(*stream, null_blob_length); });
}

void tDatasetAdapter::FillRow(const std::function<void(dataset::TQVMRecord&)>& fill) {
  ResetTable();
  table_.InternalWrite = true;
  try {
    fill(*table_.NewRecord());
  } catch (...) {
    // A row that could not be filled is not held: nothing may use a half-read row.
    table_.InternalWrite = false;
    table_.EmptyTable();
    throw;
  }
  table_.InternalWrite = false;
  table_.First();
}

void tDatasetAdapter::WriteRow(dataset::ByteWriter* stream) {
  if (stream == nullptr) return;
  const auto& records = table_.Records();
  if (!table_.Active() || records.Count() == 0) {
    throw ReplicationError("DatasetAdapter: Current record not available");
  }
  records.Items.front()->WriteToStream(*stream, false, form_ == tTextForm::Unicode);
}

std::vector<dataset::TField*> tDatasetAdapter::SourceFields(dataset::TDataSet& dataset,
                                                            const std::string& layout) {
  SetLayout(layout);
  if (!passing_) {
    if (!table_.Active()) ResetTable();
    passing_descs_ = table_.FieldDescs();
    passing_ = std::make_unique<dataset::TQVMRecord>(passing_descs_);
  }
  return passing_->SourceFields(dataset);
}

void tDatasetAdapter::WriteRowOf(dataset::TDataSet& dataset, const std::vector<dataset::TField*>& fields,
                                 dataset::ByteWriter* stream) {
  if (stream == nullptr) return;
  if (!passing_) throw ReplicationError("DatasetAdapter: Current record not available");
  passing_->LoadFromFields(dataset, fields, true);
  passing_->WriteToStream(*stream, false, form_ == tTextForm::Unicode);
}

}  // namespace tamaril::replication
