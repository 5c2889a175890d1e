#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/field_type.h"

namespace tamaril::dataset {

/// Attribute bits of a field in a layout.
enum class FieldAttribute : std::uint8_t {
  Hidden = 1,    ///< bit 0: not visible
  ReadOnly = 2,  ///< bit 1: read-only, calculated or lookup
  Required = 4,  ///< bit 2: a value is required
};

/// One field definition: what a layout says of a field.
struct TFieldDef {
  std::string Name;
  FieldType DataType = FieldType::Unknown;
  int Size = 0;                 ///< declared size (characters for string types)
  std::uint8_t Attributes = 0;  ///< FieldAttribute bits
  int Precision = 0;            ///< BCD only
};
using TFieldDefs = std::vector<TFieldDef>;

/// How a field is kept in a record buffer.
enum class FieldKind : std::uint16_t { Fixed = 0, Blob = 1, String = 2 };

/// A field's place in a record buffer, computed from its definition.
struct TFieldDesc {
  std::uint16_t FieldNo = 0;  ///< 1-based position in the layout
  std::int32_t Offset = 0;    ///< offset of the field's slot in the record buffer
  std::string Name;
  FieldType DataType = FieldType::Unknown;
  std::uint16_t DataSize = 0;  ///< storage size of the slot
  int Size = 0;                ///< declared size
  std::uint8_t Attributes = 0;
  FieldKind Kind = FieldKind::Fixed;
};
using TFieldDescs = std::vector<TFieldDesc>;

/// Storage size of a field of this type and declared size in a record buffer; throws
/// DatasetError "Nepodporovaný typ pole: ftX" for a type that cannot be stored.
std::uint16_t FieldStorageSize(FieldType type, int declared_size);

/// The kind (fixed, blob, string) of a storable type.
FieldKind KindOfFieldType(FieldType type);

/// Parses a layout text ("name;type;size;attributes[;precision];…") into `defs` (cleared first;
/// may be null to only compute) and returns the sum of the storage sizes. With
/// `wide_as_string`, WideString fields are defined as String. Throws DatasetError for a type
/// that cannot be stored or a field area beyond 65 535 bytes.
int ParseFieldLayout(std::string_view layout, TFieldDefs* defs, bool wide_as_string);

/// Writes the layout text of field definitions (the inverse of ParseFieldLayout).
std::string BuildFieldLayout(const TFieldDefs& defs);

/// Rebuilds `descs` from the definitions, in order, and returns the field area size.
int BuildFieldDescs(const TFieldDefs& defs, TFieldDescs& descs);

/// Every maximal run of characters not in `separators`; empty items are never added and
/// nothing is trimmed.
std::vector<std::string> SplitToList(std::string_view text, std::string_view separators = ";");

}  // namespace tamaril::dataset
