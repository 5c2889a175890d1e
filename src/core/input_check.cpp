#include "core/input_check.h"

#include <charconv>
#include <cstdio>
#include <limits>
#include <optional>

#include "text/encoding.h"

namespace tamaril::core {
namespace {

std::string CodePointName(char32_t c) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(c));
  return buffer;
}

[[noreturn]] void Refuse(std::string_view field, const std::string& utf8_reason) {
  throw InputError(text::Utf8ToAnsi("Hodnota pole " + std::string(field) + ' ' + utf8_reason));
}

struct IntegerRange {
  std::int64_t low;
  std::int64_t high;
};

std::optional<IntegerRange> RangeOf(dataset::FieldType type) {
  using dataset::FieldType;
  switch (type) {
    case FieldType::Smallint:
      return IntegerRange{std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()};
    case FieldType::Word: return IntegerRange{0, std::numeric_limits<std::uint16_t>::max()};
    case FieldType::Integer:
    case FieldType::AutoInc:
      return IntegerRange{std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()};
    case FieldType::Largeint:
      return IntegerRange{std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()};
    default: return std::nullopt;
  }
}

}  // namespace

std::string CheckedAnsiInput(std::string_view field, std::string_view utf8, TextLines lines) {
  char32_t unmappable = 0;
  std::optional<std::string> ansi = text::Utf8ToAnsiExact(utf8, &unmappable);
  if (!ansi)
    Refuse(field, "obsahuje znak " + CodePointName(unmappable) + ", který kódování Windows-1250 nemá");
  for (const char c : *ansi) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) continue;
    if (lines == TextLines::Multiple && (c == '\t' || c == '\n' || c == '\r')) continue;
    std::string what = "řídicí znak " + CodePointName(byte);
    if (c == '\t') what = "tabulátor";
    if (c == '\n' || c == '\r') what = "konec řádku";
    Refuse(field, "nesmí obsahovat " + what);
  }
  return std::move(*ansi);
}

bool IsIntegerFieldType(dataset::FieldType type) { return RangeOf(type).has_value(); }

std::int64_t CheckedIntegerInput(std::string_view field, dataset::FieldType type, std::string_view text) {
  const std::optional<IntegerRange> range = RangeOf(type);
  if (!range) Refuse(field, "není celočíselného typu");
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range || (error == std::errc() && end == text.data() + text.size() &&
                                                  (value < range->low || value > range->high))) {
    Refuse(field, "je mimo rozsah typu " + std::string(dataset::FieldTypeName(type)) + " (" +
                      std::to_string(range->low) + " až " + std::to_string(range->high) + ")");
  }
  if (error != std::errc() || end != text.data() + text.size()) Refuse(field, "není celé číslo");
  return value;
}

}  // namespace tamaril::core
