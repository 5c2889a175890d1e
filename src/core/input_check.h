#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/errors.h"
#include "dataset/field_type.h"

namespace tamaril::core {

// Checks of the values a person types (command-line options, dialog entries) before they
// reach the engine. Field names and typed values come in UTF-8; the messages are Windows-1250
// like every message of the engine.

/// A typed value the program refuses; the message names the field.
class InputError : public AppError {
 public:
  using AppError::AppError;
};

/// Whether a field holds one line (names, signatures, connection strings, settings) or free text.
enum class TextLines { Single, Multiple };

/// The Windows-1250 form of a typed value. Throws InputError naming `field` and the first
/// character that Windows-1250 cannot hold, and the first control character: in a single-line
/// field every one (tab and line breaks included), in free text all but tab and line breaks.
std::string CheckedAnsiInput(std::string_view field, std::string_view utf8,
                             TextLines lines = TextLines::Single);

/// Whether `type` is one of the integer field types (Smallint, Integer, Word, AutoInc, Largeint).
bool IsIntegerFieldType(dataset::FieldType type);

/// A typed decimal integer for a field of an integer `type`; throws InputError naming `field`
/// when the text is no integer or the value lies outside the type's range.
std::int64_t CheckedIntegerInput(std::string_view field, dataset::FieldType type, std::string_view text);

}  // namespace tamaril::core
