#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tamaril::dataset {

/// A value as datasets pass it around: what a field gives and takes, what `Locate` and
/// `Lookup` search for, what rules compute. Strings are Windows-1250 bytes; date-times are days
/// since 30 December 1899 with the time of day as the fraction; bytes are raw; an array holds
/// several values (the keys of a multi-field search).
class Variant {
 public:
  enum class Kind { Empty, Null, Integer, Double, Currency, Boolean, String, DateTime, Bytes, Array };

  Variant() = default;  ///< Empty (unassigned), which counts as null wherever a value is stored
  static Variant Null();
  static Variant Integer(std::int64_t value);
  static Variant Double(double value);
  /// A currency amount: the value rounded to 4 decimals (kept as a scaled integer); throws DatasetError for
  /// NaN or an amount beyond the currency range.
  static Variant Currency(double value);
  /// A currency amount given as value × 10 000.
  static Variant CurrencyScaled(std::int64_t scaled);
  static Variant Boolean(bool value);
  static Variant String(std::string ansi);
  static Variant DateTime(double days);
  static Variant Bytes(std::string bytes);
  static Variant Array(std::vector<Variant> items);

  Kind kind() const noexcept { return kind_; }
  /// Empty or Null.
  bool IsNull() const noexcept { return kind_ == Kind::Empty || kind_ == Kind::Null; }
  bool IsArray() const noexcept { return kind_ == Kind::Array; }

  /// The value as text (numbers with the locale's decimal separator as the platform's variant
  /// conversion writes them; dates in the short date format with the time when it is not
  /// midnight; booleans "True"/"False"); throws DatasetError for arrays and bytes.
  std::string AsString() const;
  /// Integer reading (doubles rounded half to even, strings parsed, booleans −1/0 as the
  /// platform converts them); throws DatasetError when there is none.
  std::int64_t AsInteger() const;
  /// Numeric reading; throws DatasetError when there is none.
  double AsDouble() const;
  /// Currency reading: rounded to 4 decimals, as a scaled integer (value × 10 000).
  std::int64_t AsCurrencyScaled() const;
  /// Boolean reading (numbers non-zero, strings "True"/"False" ignoring case); throws
  /// DatasetError when there is none.
  bool AsBoolean() const;
  /// Date-time reading in days since 30 December 1899 (numbers as they are, strings parsed in
  /// the locale's short date format with an optional time); throws DatasetError when there is none.
  double AsDateTime() const;
  /// The raw bytes of a Bytes value; throws DatasetError "Unsupported Variant Type" otherwise.
  const std::string& AsBytes() const;
  /// The text of a String value without a copy; null for every other kind.
  const std::string* Text() const noexcept { return kind_ == Kind::String ? &text_ : nullptr; }
  /// The items of an array; throws DatasetError otherwise.
  const std::vector<Variant>& Items() const;

  bool operator==(const Variant& other) const;

 private:
  Kind kind_ = Kind::Empty;
  std::int64_t integer_ = 0;  ///< Integer, Currency (scaled by 10 000), Boolean (0/1)
  double number_ = 0;         ///< Double, DateTime
  std::string text_;          ///< String, Bytes
  std::vector<Variant> items_;
};

}  // namespace tamaril::dataset
