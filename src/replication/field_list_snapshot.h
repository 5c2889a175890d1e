#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/dataset.h"
#include "dataset/field.h"

namespace tamaril::replication {

/// The field list of a dataset as it was at one moment: the dataset, its field objects and their
/// names. What was found in the list by name then (a field, its position) still holds while
/// Matches answers true, so it need not be searched for again for every row.
class tFieldListSnapshot {
 public:
  /// True when `dataset` is the dataset taken and has the same field objects, in the same order
  /// and under the same names (letter case included); false before Take and after Clear.
  bool Matches(const dataset::TDataSet* dataset) const {
    if (!taken_ || dataset != dataset_) return false;
    if (dataset == nullptr) return true;
    const auto& fields = dataset->Fields();
    if (fields.size() != fields_.size()) return false;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].get() != fields_[i] || std::string_view(fields[i]->Name) != std::string_view(names_[i]))
        return false;
    }
    return true;
  }
  /// The dataset taken (null before Take).
  const dataset::TDataSet* DataSet() const noexcept { return dataset_; }
  /// Remembers the field list of `dataset` (which may be null: no dataset, no fields).
  void Take(const dataset::TDataSet* dataset) {
    Clear();
    taken_ = true;
    dataset_ = dataset;
    if (dataset == nullptr) return;
    for (const auto& field : dataset->Fields()) {
      fields_.push_back(field.get());
      names_.push_back(field->Name);
    }
  }
  /// Forgets the list taken.
  void Clear() noexcept {
    taken_ = false;
    dataset_ = nullptr;
    fields_.clear();
    names_.clear();
  }

 private:
  bool taken_ = false;
  const dataset::TDataSet* dataset_ = nullptr;
  std::vector<const dataset::TField*> fields_;
  std::vector<std::string> names_;
};

}  // namespace tamaril::replication
