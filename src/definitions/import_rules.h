#pragma once

#include "definitions/definition_rules.h"

namespace tamaril::definitions {

/// The merge rules of one import definition (rep_DEFIMPORT: IgnoreRowGuidField, AppendRule,
/// UpdateRule, UpdateFieldRule, DeleteRule, LastImportDate) and its import runs (rep_IMPORTLOG
/// with rep_IMPORTLOGDETAIL). DeleteRule is read-only on a table that is not Identifiable.
class TData_DBImport : public tDefinitionRules {
 public:
  /// Closed import rules; Open reads them.
  TData_DBImport();
};

}  // namespace tamaril::definitions
