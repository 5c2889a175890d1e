#include "dbstruct/existing_records.h"

#include "dbstruct/comparison_hook.h"
#include "dbstruct/errors.h"

namespace tamaril::dbstruct {

FieldNamePredicate IgnoreFieldInComparison;

namespace {

const dataset::TQVMMemRecord* FirstRow(dataset::TQVMmemDataSet& rows) {
  return rows.Records().Count() > 0 ? rows.Records().Items.front().get() : nullptr;
}

bool SameRow(const dataset::TQVMMemRecord* a, const dataset::TQVMMemRecord* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return a->RecordsEqual(*b, false, false);
}

}  // namespace

int tExistingRecords::MatchCount() const noexcept {
  return static_cast<int>(KeyMatches.size()) + (RowGuidMatch ? 1 : 0);
}

dataset::TQVMmemDataSet* tExistingRecords::FirstMatch() const noexcept {
  if (RowGuidMatch) return RowGuidMatch.get();
  return KeyMatches.empty() ? nullptr : KeyMatches.front().Rows.get();
}

bool tExistingRecords::IsAmbiguous(std::string& conflict) const {
  conflict.clear();
  if (!KeyMatches.empty() && !FoundByIdentity) {
    conflict = KeyMatches.front().IndexName;
    return true;
  }
  if (RowGuidMatch && RowGuidMatch->Records().Count() > 1) {
    conflict = RowGuidColumn;
    return true;
  }
  if (RowGuidMatch && !IdentityColumn.empty() && KeyMatches.empty()) {
    conflict = IdentityColumn;
    return true;
  }
  if (MatchCount() > 1) {
    const dataset::TQVMMemRecord* reference =
        RowGuidMatch ? FirstRow(*RowGuidMatch) : FirstRow(*KeyMatches.front().Rows);
    for (std::size_t i = RowGuidMatch ? 0 : 1; i < KeyMatches.size(); ++i) {
      if (!SameRow(reference, FirstRow(*KeyMatches[i].Rows))) {
        conflict = KeyMatches[i].IndexName;
        return true;
      }
    }
  }
  return false;
}

int tExistingRecords::MarkChangedFields(dataset::TQVMmemDataSet* source) const {
  dataset::TQVMmemDataSet* existing = FirstMatch();
  if (existing == nullptr || source == nullptr) return 0;
  if (existing->FieldCount() != source->FieldCount())
    throw StructureError("Datasets have different structure");
  const dataset::TQVMMemRecord* existing_row = FirstRow(*existing);
  const dataset::TQVMMemRecord* source_row = FirstRow(*source);
  int changed = 0;
  for (const auto& field : existing->Fields()) {
    dataset::TField* source_field = source->FindField(field->Name);
    if (source_field == nullptr) throw StructureError("Datasets have different structure");
    if ((IgnoreFieldInComparison && IgnoreFieldInComparison(field->Name)) || existing_row == nullptr ||
        source_row == nullptr || field->FieldNo() == 0 || source_field->FieldNo() == 0) {
      source_field->Tag = 0;
      continue;
    }
    const bool equal = existing_row->FieldsEqual(field->FieldNo(), *source_row, source_field->FieldNo());
    source_field->Tag = equal ? 0 : 1;
    if (!equal) ++changed;
  }
  return changed;
}

}  // namespace tamaril::dbstruct
