#pragma once

#include <functional>
#include <string_view>

namespace tamaril::dbstruct {

/// A question about a column name (true = the column is to be left out).
using FieldNamePredicate = std::function<bool(std::string_view)>;

/// Process-wide hook asked by `tExistingRecords::MarkChangedFields` for every compared column:
/// a column for which it answers true is never compared nor flagged as changed. Empty by
/// default; the application installs its tracking-column test at start-up.
extern FieldNamePredicate IgnoreFieldInComparison;

}  // namespace tamaril::dbstruct
