#pragma once

#include "expr/operation.h"

namespace tamaril::expr {

/// The help file every built-in operation names.
inline constexpr std::string_view kBuiltinHelpFile = "QLMBASIC.HLP";

/// Registers every built-in operator and function into the list `head`, in the fixed order
/// that makes later definitions win lookups. The records are shared process-wide: a record
/// already registered is not linked again, so call this once and let further lists start
/// from a copy of the head.
void RegisterBuiltins(DefinitionList& head);

/// A list holding only the built-ins, made on the first call (for callers and tests that do
/// not build the start-up lists); valid only when RegisterBuiltins has not been called before.
const OperationDef* BuiltinOperations();

}  // namespace tamaril::expr
