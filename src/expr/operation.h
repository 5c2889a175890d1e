#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "expr/value.h"
#include "text/error.h"

namespace tamaril::expr {

class TCompiledExpression;
struct OperationDef;

/// Computes an operation's result. `result` is null for a procedure (result type None);
/// `args` points at the argument values in argument order (null without arguments).
/// Throws EvaluationFailure to stop the evaluation with a category code.
using OperationFunction = void (*)(Value* result, const OperationDef& def, TCompiledExpression& engine,
                                   const Value* args);

/// The size every definition record declares; registration refuses any other.
inline constexpr std::uint32_t kOperationRecordSize = 51;

/// The largest number of arguments an operation may take.
inline constexpr std::size_t kMaxOperationArgs = 5;

/// How an operation skips the evaluation of an operand.
enum class ShortCircuit : std::uint8_t { None = 0, OrLike = 1, AndLike = 2, IfLike = 3 };

/// The flags byte of a definition: level in bits 0-3, short-circuit kind in bits 4-6, the
/// per-evaluation cache in bit 7.
constexpr std::uint8_t MakeFlags(int level, ShortCircuit kind = ShortCircuit::None, bool cache = false) {
  return static_cast<std::uint8_t>((level & 0x0F) | (static_cast<int>(kind) << 4) | (cache ? 0x80 : 0));
}

/// One operator, function or identifier overload. The record is owned by whoever registers it
/// and must stay alive and unchanged while any list holds it.
struct OperationDef {
  std::uint32_t record_size = kOperationRecordSize;
  std::string_view name;  ///< upper case: an operator symbol or a function/identifier name
  std::uint8_t flags = 0;
  OperationFunction function = nullptr;
  std::string_view category;   ///< group title shown by the expression builder
  std::string_view help_file;  ///< empty for operations without help
  std::uint32_t help_context = 0;
  std::uint16_t arg_count = 0;  ///< 0 .. kMaxOperationArgs
  /// Result type first, then the argument types.
  std::array<TypeCode, kMaxOperationArgs + 1> signature{};
  OperationDef* next = nullptr;  ///< the next definition of the list
  std::uint32_t registration_count = 0;
  void* user_area = nullptr;  ///< free for the registrant
  std::uint32_t hash = 0;     ///< the byte sum of the name, set on the first registration

  int Level() const noexcept { return flags & 0x0F; }
  ShortCircuit ShortCircuitKind() const noexcept { return static_cast<ShortCircuit>((flags >> 4) & 0x07); }
  bool Caches() const noexcept { return (flags & 0x80) != 0; }
  TypeCode ResultType() const noexcept { return signature[0]; }
  TypeCode ArgType(std::size_t index) const noexcept { return signature[index + 1]; }
};

/// A definition list is known by its head; lists share tails, so a copy of another list's
/// head may grow on its own by further registrations.
using DefinitionList = OperationDef*;

/// A definition record refused by the registration.
class OperationDefinitionError : public Error {
 public:
  using Error::Error;
};

/// The byte sum of a name, the first test of every name comparison.
std::uint32_t NameHash(std::string_view name) noexcept;

/// Pushes `def` in front of the list `head` unless it was registered before (in any list),
/// and counts the registration; throws OperationDefinitionError "invalid operation definition
/// record" for a record of another size or with more than kMaxOperationArgs arguments.
void RegisterOperation(DefinitionList& head, OperationDef& def);

/// Sets the two words the compiler reads as boolean literals (upper case, e.g. "ANO", "NE").
void SetBooleanWords(std::string_view true_word, std::string_view false_word);

/// The boolean literal word for `value`.
const std::string& BooleanWord(bool value);

/// Changes whenever a definition is registered; lets the compiler reuse what it derived from a list.
std::uint64_t RegistrationGeneration() noexcept;

}  // namespace tamaril::expr
