#pragma once

#include <memory>
#include <optional>
#include <string>

#include "dataset/dataset.h"
#include "dbaccess/connection.h"
#include "dbstruct/structure.h"
#include "expr/dataset_expression.h"
#include "expr/rule_lists.h"

namespace tamaril::definitions {

/// How a kind of rule is stored and how its identifiers bind.
struct tRuleKindInfo {
  const char* column;  ///< the memo column of the rule table ("ExportRule", "AppendRule", …)
  const char* prefix;  ///< prefix of the second row's identifiers ("@IMP_", "@DEL_"; "" for one row)
  expr::RuleKind kind;
  bool two_rows;  ///< compiled as a tTwoDatasetExpression (else a tDatasetExpression)
};

/// The description of a rule kind; throws std::logic_error for a value outside the enumeration.
const tRuleKindInfo& RuleKindInfo(expr::RuleKind kind);

/// The builder's group titles of a rule's field identifiers (Windows-1250).
struct tRuleCategories {
  std::string fields;    ///< the table's own fields (unprefixed)
  std::string prefixed;  ///< the fields of the imported or deleted row; empty for one-row rules
};

/// The group titles for a rule of `kind` on the table described as `table_desc`.
tRuleCategories RuleCategories(expr::RuleKind kind, const std::string& table_desc);

/// The TABLEDESC rep_TBLDESC holds for `table_name`, or nothing when the table is not
/// described. Throws DatabaseError.
std::optional<std::string> ReadTableDescription(dbaccess::Connection& connection,
                                                const std::string& table_name);

/// One rule of one table made ready to compile or to build: the table's empty data (and that
/// of rep_DELETED for a delete rule), a private copy of the rule's definition list with the
/// fields registered into it, and the expression of the rule's class bound to that data.
class tRuleContext {
 public:
  /// Prepares a rule of `kind` on `table_name` of `structure`; throws DefinitionError when the
  /// structure has no such table, DatabaseError from reading its layout.
  tRuleContext(dbstruct::tDatabase_Structure& structure, expr::RuleKind kind, const std::string& table_name,
               const std::string& table_desc);
  ~tRuleContext();
  tRuleContext(const tRuleContext&) = delete;
  tRuleContext& operator=(const tRuleContext&) = delete;

  /// Compiles `text` (one line); throws RuleValidationError with the compiler's message.
  void Compile(const std::string& text);
  /// The definition list the rule compiles against (globals plus the table's fields).
  expr::DefinitionList List() const noexcept { return list_; }
  /// The expression of the rule's class.
  expr::TExpression& Expression() noexcept { return *expression_; }
  /// The field identifiers registered for the rule.
  const expr::FieldRegistry& Registry() const noexcept { return registry_; }
  /// The kind of the rule.
  expr::RuleKind Kind() const noexcept { return kind_; }

 private:
  expr::RuleKind kind_;
  std::unique_ptr<dataset::TDataSet> table_data_;
  std::unique_ptr<dataset::TDataSet> deleted_data_;
  expr::FieldRegistry registry_;
  expr::DefinitionList list_ = nullptr;
  std::unique_ptr<expr::TExpression> expression_;
};

}  // namespace tamaril::definitions
