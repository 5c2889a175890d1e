#pragma once

#include <string>

namespace tamaril::definitions {

/// The questions the rule handling asks the person.
enum class tQuestion {
  DeleteLogRow,            ///< delete the selected log row (warning, Yes / Abort)
  SetAsDefault,            ///< make the definition's rules the defaults (confirmation, Yes / Abort)
  CloseWithoutMasterRule,  ///< close although a master table has no rule (warning, Yes / Abort)
};

/// Asks the person a question; the desktop windows show a message box, the CLI asks on the
/// terminal or takes the answer from its options.
class tRuleQuestions {
 public:
  virtual ~tRuleQuestions() = default;
  /// True when the person answered Yes to `text` (Windows-1250, CR LF line breaks).
  virtual bool Ask(tQuestion question, const std::string& text) = 0;
};

}  // namespace tamaril::definitions
