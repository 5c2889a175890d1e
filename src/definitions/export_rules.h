#pragma once

#include "definitions/definition_rules.h"

namespace tamaril::definitions {

/// The export rules of one export definition (rep_DEFEXPORT: ExportRule, LastExportDate) and
/// its export runs (rep_XPORTLOG with rep_XPORTLOGDETAIL).
class TData_DBExport : public tDefinitionRules {
 public:
  /// Closed export rules; Open reads them.
  TData_DBExport();
};

}  // namespace tamaril::definitions
