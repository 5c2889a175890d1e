#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tamaril::dataset {

/// Field types of the dataset framework. The ordinals are written into field layouts,
/// memory table files and transfer archives, so they never change.
enum class FieldType : std::uint8_t {
  Unknown = 0,
  String = 1,
  Smallint = 2,
  Integer = 3,
  Word = 4,
  Boolean = 5,
  Float = 6,
  Currency = 7,
  BCD = 8,
  Date = 9,
  Time = 10,
  DateTime = 11,
  Bytes = 12,
  VarBytes = 13,
  AutoInc = 14,
  Blob = 15,
  Memo = 16,
  Graphic = 17,
  FmtMemo = 18,
  ParadoxOle = 19,
  DBaseOle = 20,
  TypedBinary = 21,
  Cursor = 22,
  FixedChar = 23,
  WideString = 24,
  Largeint = 25,
  ADT = 26,
  Array = 27,
  Reference = 28,
  DataSet = 29,
  OraBlob = 30,
  OraClob = 31,
  Variant = 32,
  Interface = 33,
  IDispatch = 34,
  Guid = 35,
};

inline constexpr int kFieldTypeCount = 36;

/// The enumeration name with its "ft" prefix, e.g. "ftUnknown"; "ft?" outside the range.
std::string_view FieldTypeEnumName(FieldType type);

/// The layout name: the enumeration name without "ft", e.g. "Integer".
std::string_view FieldTypeName(FieldType type);

/// Looks a type up by its enumeration name ("ftInteger"), ignoring case.
std::optional<FieldType> FindFieldTypeByEnumName(std::string_view name);

/// The type of a given ordinal, or nothing when the ordinal is outside 0..35.
std::optional<FieldType> FieldTypeFromOrdinal(int ordinal);

}  // namespace tamaril::dataset
