#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace tamaril::dbaccess {

/// A calendar date and time of day with milliseconds, in local time, as databases keep it.
struct DateTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;

  auto operator<=>(const DateTime&) const = default;
};

/// "YYYY-MM-DD HH:MM:SS.mmm", the form SQLite databases keep date-times in.
std::string FormatDateTimeText(const DateTime& value);

/// The date-time as days since 30 December 1899, the time of day as the fraction (the form of
/// the dataset library's date-time fields).
double DaysOf(const DateTime& value);

/// Parses "YYYY-MM-DD[ HH:MM[:SS[.fff]]]" (also with "T" between date and time, and "YYYY/MM/DD");
/// nothing when the text is not such a date or names an impossible day.
std::optional<DateTime> ParseDateTimeText(std::string_view text);

/// A GUID's one text, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, from that form or
/// the one without braces in any letter case; nothing for a text that is no GUID.
std::optional<std::string> NormalizeGuidText(std::string_view text);

/// The kinds of value a parameter or a column can hold.
enum class ValueKind { Null, Text, Integer, Double, Boolean, DateTime, Guid, Bytes };

/// One parameter or column value. Texts are Windows-1250 byte strings, or UTF-8 ones when made
/// by UnicodeText (or read by a statement of a connection with UnicodeText set); a GUID is its
/// text in braces, upper case ("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"); bytes are raw.
class Value {
 public:
  Value() = default;  ///< NULL

  static Value Null() { return {}; }
  static Value Text(std::string ansi) { return Value(ValueKind::Text, std::move(ansi)); }
  /// A text read from a database; `lossy` when a character had no Windows-1250 byte and
  /// became '?' on the way.
  static Value Text(std::string ansi, bool lossy) {
    Value value(ValueKind::Text, std::move(ansi));
    value.lossy_ = lossy;
    return value;
  }
  /// A text held as UTF-8, which reaches the database with every character.
  static Value UnicodeText(std::string utf8) {
    Value value(ValueKind::Text, std::move(utf8));
    value.unicode_ = true;
    return value;
  }
  /// UnicodeText when `unicode`, else Text.
  static Value Text(std::string text, bool lossy, bool unicode) {
    return unicode ? UnicodeText(std::move(text)) : Text(std::move(text), lossy);
  }
  static Value Integer(std::int64_t v) { return Value(ValueKind::Integer, v); }
  static Value Double(double v) { return Value(ValueKind::Double, v); }
  static Value Boolean(bool v) { return Value(ValueKind::Boolean, v); }
  static Value FromDateTime(const DateTime& v) { return Value(ValueKind::DateTime, v); }
  static Value Guid(std::string text) { return Value(ValueKind::Guid, std::move(text)); }
  static Value Bytes(std::string bytes) { return Value(ValueKind::Bytes, std::move(bytes)); }

  ValueKind kind() const noexcept { return kind_; }
  /// True for a text that lost characters when it was converted to Windows-1250.
  bool Lossy() const noexcept { return lossy_; }
  /// True for a text held as UTF-8 (AsString gives UTF-8 bytes).
  bool Unicode() const noexcept { return unicode_; }
  bool IsNull() const noexcept { return kind_ == ValueKind::Null; }
  /// The string a text, GUID or bytes value holds (what AsString gives), without a copy; null
  /// for the other kinds.
  const std::string* HeldString() const noexcept { return std::get_if<std::string>(&storage_); }

  /// The value as text: numbers with a full stop, booleans "1"/"0", date-times in
  /// `FormatDateTimeText` form, bytes as they are; NULL gives the empty text.
  std::string AsString() const;
  /// The value as an integer (doubles truncated, texts parsed); throws DatabaseError when the
  /// value has no integer reading. NULL gives 0.
  std::int64_t AsInteger() const;
  /// The value as a double; throws DatabaseError when it has no numeric reading. NULL gives 0.
  double AsDouble() const;
  /// Non-zero numbers and the texts "1", "true", "T", "Y" (any case) are true. NULL gives false.
  bool AsBoolean() const;
  /// The value as a date-time (texts parsed); throws DatabaseError otherwise. NULL gives the
  /// default `DateTime`.
  DateTime AsDateTime() const;

  bool operator==(const Value&) const = default;

 private:
  using Storage = std::variant<std::monostate, std::string, std::int64_t, double, bool, DateTime>;
  template <typename T>
  Value(ValueKind kind, T v) : kind_(kind), storage_(std::move(v)) {}

  ValueKind kind_ = ValueKind::Null;
  Storage storage_;
  bool lossy_ = false;
  bool unicode_ = false;
};

/// Name of a kind for messages and dumps ("Null", "Text", ...).
std::string_view ValueKindName(ValueKind kind);

}  // namespace tamaril::dbaccess
