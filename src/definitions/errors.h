#pragma once

#include "expr/expression.h"
#include "expr/rule_lists.h"
#include "text/error.h"

namespace tamaril::definitions {

/// A failure of the rule handling of a definition (a described table the structure does not
/// know, a rule table that is not open). The message is Windows-1250 text.
class DefinitionError : public Error {
 public:
  using Error::Error;
};

/// A rule that does not compile, refused before its row is saved: the compiler's message and
/// the kind of the offending rule (so a window can show that rule's editor).
class RuleValidationError : public expr::ExpressionError {
 public:
  /// A refusal of the rule of `kind` with the compiler's `message`.
  RuleValidationError(expr::RuleKind kind, const std::string& message)
      : ExpressionError(message), kind_(kind) {}
  /// The kind of the rule that did not compile.
  expr::RuleKind Kind() const noexcept { return kind_; }

 private:
  expr::RuleKind kind_;
};

}  // namespace tamaril::definitions
