#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dataset/memory_table.h"

namespace tamaril::dbstruct {

/// Target rows that match a source row on one unique index.
struct tKeyMatch {
  std::string IndexName;                          ///< the index (constraint) name
  std::shared_ptr<dataset::TQVMmemDataSet> Rows;  ///< the matching target rows (may be RowGuidMatch)
};

/// The result of looking up the target rows that match one source row.
class tExistingRecords {
 public:
  std::string IdentityColumn;  ///< the table's identity column, or empty
  std::string RowGuidColumn;   ///< the column rows are identified by RowGuid with, or empty
  std::shared_ptr<dataset::TQVMmemDataSet> RowGuidMatch;  ///< rows carrying the source's RowGuid, or null
  std::vector<tKeyMatch> KeyMatches;  ///< rows matching per unique index; the primary key first
  bool FoundByIdentity = false;       ///< found by the identifying key

  /// Entries of KeyMatches, plus one when RowGuidMatch is present.
  int MatchCount() const noexcept;
  /// RowGuidMatch when present, else the rows of the first KeyMatches entry; null when none.
  dataset::TQVMmemDataSet* FirstMatch() const noexcept;
  /// True when the matches contradict each other; `conflict` then names the column or index
  /// that conflicts. Never throws for datasets of one table.
  bool IsAmbiguous(std::string& conflict) const;
  /// Compares the first existing row with the first row of `source` and sets the `Tag` change
  /// flag (1 on, 0 off) of every field of `source`; returns the number of differing fields.
  /// Columns the `IgnoreFieldInComparison` hook names are flagged off and not counted. Throws
  /// StructureError "Datasets have different structure" when the field lists do not
  /// correspond, DatasetError "Comparing incompatible fields" for fields of different types.
  int MarkChangedFields(dataset::TQVMmemDataSet* source) const;
};

}  // namespace tamaril::dbstruct
