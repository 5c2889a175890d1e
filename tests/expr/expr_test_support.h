#pragma once

#include <string>
#include <string_view>

#include "expr/operation.h"

namespace tamaril::expr::testing {

/// The built-ins plus a few identifiers: T, F (booleans), X (5), X1E (10), NN, NS, NB (Null
/// number, string, boolean) and CNT (a caching number that counts its calls).
const OperationDef* TestList();

/// How many times CNT was computed.
int& CounterCalls();

/// The outcome of compiling and evaluating `ansi` against `list`, as text: "C<code>:<error text>",
/// "E<code>", "NULL", or a type letter, ":" and the value (numbers in the shortest form, texts in UTF-8).
std::string Outcome(std::string_view ansi, const OperationDef* list = TestList());

/// Czech locale and the ANO/NE boolean words, as the program sets them at start-up.
void UseProgramSettings();

}  // namespace tamaril::expr::testing
