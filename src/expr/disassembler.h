#pragma once

#include <string>

#include "expr/compiled_expression.h"

namespace tamaril::expr {

/// The compiled program as text, one factor per line: its index, then "CONST" with the type
/// letter and value or "OP" with the name and signature, and any jump. Strings stay
/// Windows-1250; numbers use "." and the shortest exact form.
std::string Disassemble(const TCompiledExpression& expression);

/// A signature written as result letter, "<-(", argument letters, ")", e.g. "N<-(N,N)".
std::string SignatureText(const OperationDef& def);

}  // namespace tamaril::expr
