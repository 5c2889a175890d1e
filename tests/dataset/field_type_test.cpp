#include "dataset/field_type.h"

#include <gtest/gtest.h>

namespace tamaril::dataset {
namespace {

TEST(FieldType, OrdinalsAndNamesMatchTheStoredForms) {
  // Ordinals are written into layouts and archives: spot-check both ends and the gaps.
  struct Case {
    FieldType type;
    int ordinal;
    std::string_view enum_name;
  };
  for (const Case& c : {Case{FieldType::Unknown, 0, "ftUnknown"}, Case{FieldType::String, 1, "ftString"},
                        Case{FieldType::BCD, 8, "ftBCD"}, Case{FieldType::AutoInc, 14, "ftAutoInc"},
                        Case{FieldType::Memo, 16, "ftMemo"}, Case{FieldType::FixedChar, 23, "ftFixedChar"},
                        Case{FieldType::Largeint, 25, "ftLargeint"},
                        Case{FieldType::IDispatch, 34, "ftIDispatch"}, Case{FieldType::Guid, 35, "ftGuid"}}) {
    EXPECT_EQ(static_cast<int>(c.type), c.ordinal) << c.enum_name;
    EXPECT_EQ(FieldTypeEnumName(c.type), c.enum_name);
    EXPECT_EQ(FieldTypeName(c.type), c.enum_name.substr(2));
    EXPECT_EQ(FieldTypeFromOrdinal(c.ordinal), c.type);
  }
}

TEST(FieldType, LookupByEnumNameIgnoresCaseAndRejectsStrangers) {
  EXPECT_EQ(FindFieldTypeByEnumName("FTDATETIME"), FieldType::DateTime);
  EXPECT_EQ(FindFieldTypeByEnumName("ftwidestring"), FieldType::WideString);
  EXPECT_EQ(FindFieldTypeByEnumName("DateTime"), std::nullopt);
  EXPECT_EQ(FindFieldTypeByEnumName("ftFixedWideChar"), std::nullopt);
  EXPECT_EQ(FieldTypeFromOrdinal(36), std::nullopt);
  EXPECT_EQ(FieldTypeFromOrdinal(-1), std::nullopt);
}

}  // namespace
}  // namespace tamaril::dataset
