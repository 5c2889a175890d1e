#include "dataset/field_layout.h"

#include <gtest/gtest.h>

#include "dataset/errors.h"
#include "dataset/parsed_layout.h"
#include "dataset/record.h"
#include "support/expect_throw_msg.h"
#include "text/encoding.h"

namespace tamaril::dataset {
namespace {

TEST(FieldLayout, ParsesShortTypesSizesAndRecordGeometry) {
  TFieldDefs defs;
  EXPECT_EQ(ParseFieldLayout("A;C;10;0;B;N;0;0", &defs, false), 15);
  ASSERT_EQ(defs.size(), 2u);
  EXPECT_EQ(defs[0].Name, "A");
  EXPECT_EQ(defs[0].DataType, FieldType::String);
  EXPECT_EQ(defs[0].Size, 10);
  EXPECT_EQ(defs[1].DataType, FieldType::Integer);
  TFieldDescs descs;
  EXPECT_EQ(BuildFieldDescs(defs, descs), 15);
  EXPECT_EQ(descs[0].DataSize, 11);
  EXPECT_EQ(descs[1].Offset, 11);
  EXPECT_EQ(descs[1].DataSize, 4);
  TQVMRecord record(descs);
  EXPECT_EQ(record.DataSize(), 15);
  EXPECT_EQ(record.BufferSize(), 16);
}

TEST(FieldLayout, TokenRulesNamesAndBcdPrecision) {
  TFieldDefs defs;
  ParseFieldLayout(" A ;\tmemo ;5;7;;Integer;0;258;;BCD;0;2;18;D;L;0", &defs, true);
  ASSERT_EQ(defs.size(), 3u);  // the incomplete fourth field is not defined
  EXPECT_EQ(defs[0].Name, "A ");
  EXPECT_EQ(defs[0].DataType, FieldType::Memo);
  EXPECT_EQ(defs[0].Attributes, 7);
  EXPECT_EQ(defs[1].Name, "FIELD2");
  EXPECT_EQ(defs[1].Attributes, 2);  // low 8 bits
  EXPECT_EQ(defs[2].Name, "FIELD3");
  EXPECT_EQ(defs[2].Precision, 18);
  EXPECT_EQ(BuildFieldLayout(defs), "A ;Memo;5;7;FIELD2;Integer;0;2;FIELD3;BCD;0;2;18");

  ParseFieldLayout("W;WideString;4;0", &defs, true);
  EXPECT_EQ(defs[0].DataType, FieldType::String);
  ParseFieldLayout("W;WideString;4;0", &defs, false);
  EXPECT_EQ(defs[0].DataType, FieldType::WideString);
}

TEST(FieldLayout, RejectsUnsupportedTypesJunkNumbersAndOversizedRecords) {
  EXPECT_THROW_MSG(ParseFieldLayout("A;ftMemo;0;0", nullptr, false), DatasetError,
                   text::Utf8ToAnsi("Nepodporovaný typ pole: ftUnknown"));
  EXPECT_THROW_MSG(ParseFieldLayout("A;Variant;0;0", nullptr, false), DatasetError,
                   text::Utf8ToAnsi("Nepodporovaný typ pole: ftVariant"));
  EXPECT_THROW_MSG(ParseFieldLayout("A;X;0;0", nullptr, false), DatasetError,
                   text::Utf8ToAnsi("Nepodporovaný typ pole: ftUnknown"));
  EXPECT_THROW_MSG(ParseFieldLayout("A;C;10 ;0", nullptr, false), DatasetError,
                   "'10 ' is not a valid integer value");
  EXPECT_THROW_MSG(ParseFieldLayout("A;C;1x;0", nullptr, false), DatasetError,
                   "'1x' is not a valid integer value");
  EXPECT_THROW_MSG(ParseFieldLayout("A;C;99999999999;0", nullptr, false), DatasetError,
                   "'99999999999' is not a valid integer value");
  EXPECT_THROW_MSG(ParseFieldLayout("A;C;-1;0", nullptr, false), DatasetError,
                   "Invalid size -1 of a ftString field");
  EXPECT_THROW_MSG(ParseFieldLayout("A;C;65535;0", nullptr, false), DatasetError,
                   "Invalid size 65535 of a ftString field");
  EXPECT_THROW_MSG(ParseFieldLayout("A;C;40000;0;B;C;25533;0", nullptr, false), DatasetError,
                   "Field layout too large: a record may hold at most 65535 bytes");
  EXPECT_NO_THROW(ParseFieldLayout("A;C;40000;0;B;C;25532;0", nullptr, false));
  // A second field of a name (letter case ignored) would be read through the first one's slot.
  EXPECT_THROW_MSG(ParseFieldLayout("ID;Integer;0;0;NOTE;String;10;0;note;Memo;0;0", nullptr, false),
                   DatasetError, "Duplicate field name note in a field layout");
}

TEST(FieldLayout, DuplicateNamesAmongManyFieldsIgnoreCase) {
  std::string layout;
  for (int i = 0; i < 300; ++i) layout += "F" + std::to_string(i) + ";N;0;0;";
  EXPECT_NO_THROW(ParseFieldLayout(layout, nullptr, false));
  EXPECT_THROW_MSG(ParseFieldLayout(layout + "f150;C;5;0", nullptr, false), DatasetError,
                   "Duplicate field name f150 in a field layout");
  // Unnamed fields are numbered and the numbers may meet a name given.
  EXPECT_THROW_MSG(ParseFieldLayout("field2;N;0;0;;N;0;0", nullptr, false), DatasetError,
                   "Duplicate field name FIELD2 in a field layout");
}

TEST(FieldLayout, ParsedOnceMatchesAParseAndKeepsNoFailure) {
  const std::string layout = "ID;Integer;0;4;W;WideString;12;0;AMOUNT;BCD;0;0;18";
  TFieldDefs defs;
  ParseFieldLayout(layout, &defs, true);
  TFieldDescs descs;
  BuildFieldDescs(defs, descs);
  for (int pass = 0; pass < 2; ++pass) {
    const TParsedFieldLayout& parsed = ParseFieldLayoutOnce(layout, true);
    ASSERT_EQ(parsed.Defs.size(), defs.size());
    ASSERT_EQ(parsed.Descs.size(), descs.size());
    for (std::size_t i = 0; i < defs.size(); ++i) {
      EXPECT_EQ(parsed.Defs[i].Name, defs[i].Name);
      EXPECT_EQ(parsed.Defs[i].DataType, defs[i].DataType);
      EXPECT_EQ(parsed.Defs[i].Precision, defs[i].Precision);
      EXPECT_EQ(parsed.Defs[i].Attributes, defs[i].Attributes);
      EXPECT_EQ(parsed.Descs[i].Offset, descs[i].Offset);
      EXPECT_EQ(parsed.Descs[i].DataSize, descs[i].DataSize);
    }
  }
  // Wide strings stay wide when the caller asks so, whatever was parsed before.
  EXPECT_EQ(ParseFieldLayoutOnce(layout, false).Defs[1].DataType, FieldType::WideString);
  EXPECT_EQ(ParseFieldLayoutOnce(layout, true).Defs[1].DataType, FieldType::String);
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_THROW_MSG(ParseFieldLayoutOnce("A;C;10;0;a;C;5;0", true), DatasetError,
                     "Duplicate field name a in a field layout");
  }
}

TEST(FieldLayout, NineFieldsUseTwoBitmapBytes) {
  TFieldDefs defs;
  ParseFieldLayout("a;N;0;0;b;N;0;0;c;N;0;0;d;N;0;0;e;N;0;0;f;N;0;0;g;N;0;0;h;N;0;0;i;N;0;0", &defs, false);
  TFieldDescs descs;
  BuildFieldDescs(defs, descs);
  TQVMRecord record(descs);
  EXPECT_EQ(record.BufferSize(), 36 + 2);
  record.SetNull(9, false);
  EXPECT_EQ(record.Buffer()[36], std::byte{0});
  EXPECT_EQ(record.Buffer()[37], std::byte{1});
  EXPECT_FALSE(record.IsNull(9));
  EXPECT_TRUE(record.IsNull(8));
}

TEST(SplitToList, DropsEmptyItemsAndKeepsBlanks) {
  EXPECT_EQ(SplitToList(";;a; b ;;c;"), (std::vector<std::string>{"a", " b ", "c"}));
  EXPECT_EQ(SplitToList("x,y;z", ",;"), (std::vector<std::string>{"x", "y", "z"}));
  EXPECT_TRUE(SplitToList(";;").empty());
}

}  // namespace
}  // namespace tamaril::dataset
