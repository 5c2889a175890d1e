#pragma once

#include <string>

#include "dataset/field.h"
#include "expr/operation.h"

namespace tamaril::expr {

/// The values the replication identifiers read when a rule is evaluated; one set for the
/// whole process, written by the runs before they test rules.
struct ReplicationValues {
  std::string signature;        ///< @SIGNATURE: the running export or import definition
  double last_export_date = 0;  ///< @LASTXPRT: LastExportDate of the table's export rule row
  double last_import_date = 0;  ///< @LASTIMPRT: LastImportDate of the table's import rule row
  std::string update_field;     ///< @UPDFLD (and upper-cased @UPDFLDUPPER): the field being decided
};

/// The process-wide values of the replication identifiers.
ReplicationValues& RunValues();

/// The five kinds of table rules, each compiled against its own definition list.
enum class RuleKind { Export, Append, Update, UpdateField, Delete };

/// Builds the five definition lists (built-ins plus the replication identifiers), sets the
/// boolean words to "ANO"/"NE". Later calls do nothing. (The programs' start-up also installs
/// IsTrackingColumn as the structure layer's IgnoreFieldInComparison.)
void InitRuleLists();

/// The head of the global list of a rule kind. Callers copy it and register their field
/// identifiers into the copy. Throws std::logic_error before InitRuleLists.
const OperationDef* RuleList(RuleKind kind);

/// The rule text of a memo column: empty for a missing or NULL field, else its lines trimmed
/// and joined by single blanks, the whole trimmed. Throws what reading the field throws.
std::string RuleText(const dataset::TField* field);

}  // namespace tamaril::expr
