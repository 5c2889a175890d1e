#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/dataset.h"
#include "dataset/memory_table.h"
#include "dataset/record.h"
#include "dataset/stream.h"
#include "replication/text_form.h"

namespace tamaril::replication {

/// Holds one row in a one-row memory table and moves it between a database row, the record
/// stream form and a dataset the rules read. The table stays open while the layout does not
/// change, so a row costs one record, not a reopened table.
class tDatasetAdapter {
 public:
  tDatasetAdapter();
  ~tDatasetAdapter();
  tDatasetAdapter(const tDatasetAdapter&) = delete;
  tDatasetAdapter& operator=(const tDatasetAdapter&) = delete;

  /// The one-row table.
  dataset::TQVMMemoryTable& DataSet() noexcept { return table_; }
  /// The text form of the record streams ReadRow and WriteRow read and write (Compatible
  /// unless set): the Unicode form writes a null blob field with the length -1, an empty one
  /// with 0.
  void SetTextForm(tTextForm form) noexcept { form_ = form; }
  tTextForm TextForm() const noexcept { return form_; }
  /// The layout text last applied.
  const std::string& Layout() const noexcept { return layout_; }
  /// Applies a layout that differs (case-sensitive) from Layout: closes the table and sets it;
  /// throws DatasetError for a layout that cannot be stored.
  void SetLayout(const std::string& layout);
  /// The layout text of all fields of `dataset`; empty for none.
  static std::string LayoutOf(const dataset::TDataSet* dataset);
  /// Makes the current row of `dataset` the held row, under the layout of `dataset`; nothing
  /// without a dataset. Throws DatasetError.
  void LoadRow(dataset::TDataSet* dataset);
  /// LoadRow with the layout of `dataset` already known (the publisher computes it once per
  /// table).
  void LoadRow(dataset::TDataSet& dataset, const std::string& layout);
  /// Reads the held row from the record stream form under the current layout; nothing without
  /// a stream. Throws DatasetError for a row that does not fit the layout or is cut short.
  void ReadRow(dataset::ByteReader* stream);
  /// Writes the held row in the record stream form (all fields); nothing without a stream.
  /// Throws ReplicationError "DatasetAdapter: Current record not available" when no row is held.
  void WriteRow(dataset::ByteWriter* stream);

  /// Prepares WriteRowOf for the rows of `dataset` under `layout` (its LayoutOf): applies the
  /// layout as SetLayout does and returns the fields of `dataset` the layout's fields come from,
  /// valid while `dataset` keeps its fields. Throws DatasetError as SetLayout.
  std::vector<dataset::TField*> SourceFields(dataset::TDataSet& dataset, const std::string& layout);
  /// Writes the current row of `dataset` in the record stream form: the bytes LoadRow and
  /// WriteRow write, without making it the held row (the one-row table keeps what it held).
  /// `fields` are what SourceFields returned for it; nothing without a stream.
  void WriteRowOf(dataset::TDataSet& dataset, const std::vector<dataset::TField*>& fields,
                  dataset::ByteWriter* stream);

 private:
  /// Opens the table when closed and leaves it empty.
  void ResetTable();
  /// Makes the table hold one record filled by `fill` (none when `fill` throws).
  void FillRow(const std::function<void(dataset::TQVMRecord&)>& fill);

  std::string layout_;
  tTextForm form_ = tTextForm::Compatible;
  dataset::TQVMMemoryTable table_;
  /// WriteRowOf's record, over a copy of the table's field descriptions of the current layout.
  dataset::TFieldDescs passing_descs_;
  std::unique_ptr<dataset::TQVMRecord> passing_;
};

}  // namespace tamaril::replication
