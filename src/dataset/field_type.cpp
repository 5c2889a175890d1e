#include "dataset/field_type.h"

#include <array>

#include "text/ascii.h"

namespace tamaril::dataset {
namespace {

constexpr std::array<std::string_view, kFieldTypeCount> kEnumNames = {
    "ftUnknown",    "ftString",     "ftSmallint", "ftInteger",     "ftWord",      "ftBoolean",
    "ftFloat",      "ftCurrency",   "ftBCD",      "ftDate",        "ftTime",      "ftDateTime",
    "ftBytes",      "ftVarBytes",   "ftAutoInc",  "ftBlob",        "ftMemo",      "ftGraphic",
    "ftFmtMemo",    "ftParadoxOle", "ftDBaseOle", "ftTypedBinary", "ftCursor",    "ftFixedChar",
    "ftWideString", "ftLargeint",   "ftADT",      "ftArray",       "ftReference", "ftDataSet",
    "ftOraBlob",    "ftOraClob",    "ftVariant",  "ftInterface",   "ftIDispatch", "ftGuid",
};

}  // namespace

std::string_view FieldTypeEnumName(FieldType type) {
  const auto ordinal = static_cast<std::size_t>(type);
  return ordinal < kEnumNames.size() ? kEnumNames[ordinal] : std::string_view("ft?");
}

std::string_view FieldTypeName(FieldType type) { return FieldTypeEnumName(type).substr(2); }

std::optional<FieldType> FindFieldTypeByEnumName(std::string_view name) {
  for (std::size_t i = 0; i < kEnumNames.size(); ++i) {
    if (text::EqualsIgnoreCaseAscii(kEnumNames[i], name)) return static_cast<FieldType>(i);
  }
  return std::nullopt;
}

std::optional<FieldType> FieldTypeFromOrdinal(int ordinal) {
  if (ordinal < 0 || ordinal >= kFieldTypeCount) return std::nullopt;
  return static_cast<FieldType>(ordinal);
}

}  // namespace tamaril::dataset
