#pragma once

#include <string>
#include <vector>

#include "expr/dataset_expression.h"
#include "expr/operation.h"

namespace tamaril::expr {

// What the expression builder offers for a definition list, without widgets: the groups of
// operations, the entries of each group with the text they insert, their signatures, their
// help topics and a short description. The desktop builder and `tamaril-cli functions` both
// show this. Every text is Windows-1250.

/// The longest group title the builder shows; a longer category is cut to this length.
inline constexpr std::size_t kMaxCategoryTitle = 80;

/// One entry of a group: the text it inserts and the definitions behind it.
struct BuilderEntry {
  std::string text;  ///< "ROUND( , )", "+", "@SIGNATURE"; the builder inserts it followed by a blank
  /// Every definition of the group that shares this entry, in list order; the first is the one
  /// the entry is bound to (its help topic).
  std::vector<const OperationDef*> overloads;
  std::string description;  ///< one line; empty when nothing is known about the entry

  /// The definition the entry is bound to.
  const OperationDef& Bound() const { return *overloads.front(); }
};

/// One group of the builder: its title and its entries, sorted as the builder lists them.
struct BuilderCategory {
  std::string title;
  std::vector<BuilderEntry> entries;
};

/// The entry text of a definition: the name, and for a function with n > 0 arguments the name
/// followed by "(", " ," n-1 times and " )" (ROUND gives "ROUND( , )").
std::string EntryText(const OperationDef& def);

/// The groups of the list `head` as the builder shows them: one per distinct category of a
/// definition that has a name and a category, each with one entry per distinct entry text;
/// groups and entries are sorted by the locale ignoring case. `fields` names the field
/// identifiers registered into the list, so that their entries describe the field.
std::vector<BuilderCategory> BuilderCatalog(const OperationDef* head, const FieldRegistry* fields = nullptr);

/// How a definition is written with the types of its operands and its result: "N + N -> N",
/// "NOT B -> B", "ROUND(N, N) -> N", "@SIGNATURE -> S"; a procedure ends in "-> -".
std::string UsageText(const OperationDef& def);

/// A one-line description of a built-in operation or a replication identifier by its name;
/// empty for any other name.
std::string OperationDescription(const OperationDef& def);

}  // namespace tamaril::expr
