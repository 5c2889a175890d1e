#include "dataset/record.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dataset/errors.h"
#include "dataset/memory_table_file.h"
#include "dataset/stream.h"
#include "support/expect_throw_msg.h"

namespace tamaril::dataset {
namespace {

std::string HexOf(std::string_view bytes) {
  std::string hex;
  char buffer[4];
  for (const char c : bytes) {
    std::snprintf(buffer, sizeof buffer, hex.empty() ? "%02x" : " %02x", static_cast<unsigned char>(c));
    hex += buffer;
  }
  return hex;
}

/// Bytes from a hex text such as "01 00 ff".
std::string Bytes(std::string_view hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 3)
    bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  return bytes;
}

struct Table {
  explicit Table(std::string_view layout) {
    TFieldDefs defs;
    ParseFieldLayout(layout, &defs, false);
    BuildFieldDescs(defs, descs);
  }
  TFieldDescs descs;
};

std::string Written(const TQVMRecord& record) {
  MemoryWriter writer;
  record.WriteToStream(writer, false);
  return writer.Take();
}

// 30 December 1899 + 45 356 days = 5 March 2024.
constexpr double k5Mar2024Noon = 45356.5;

TEST(Record, EveryStorableTypeSurvivesTheStream) {
  Table table(
      "s;String;5;0;fc;FixedChar;3;0;ws;WideString;4;0;g;Guid;38;0;si;Smallint;0;0;i;Integer;0;0;w;Word;0;0;"
      "b;Boolean;0;0;f;Float;0;0;c;Currency;0;0;bcd;BCD;0;0;32;d;Date;0;0;t;Time;0;0;dt;DateTime;0;0;"
      "by;Bytes;4;0;vb;VarBytes;4;0;ai;AutoInc;0;0;bl;Blob;0;0;m;Memo;0;0;gr;Graphic;0;0;fm;FmtMemo;0;0;"
      "po;ParadoxOle;0;0;dbo;DBaseOle;0;0;tb;TypedBinary;0;0;cu;Cursor;0;0;li;Largeint;0;0;adt;ADT;0;0;"
      "ar;Array;0;0;rf;Reference;0;0;ds;DataSet;0;0");
  ASSERT_EQ(table.descs.size(), 30u);
  const std::vector<Variant> values = {Variant::String("\x8A\xE8ko"),
                                       Variant::String("abc"),
                                       Variant::String("wide"),
                                       Variant::String("{0-1}"),
                                       Variant::Integer(-32768),
                                       Variant::Integer(-2147483647 - 1),
                                       Variant::Integer(65535),
                                       Variant::Boolean(true),
                                       Variant::Double(0.1),
                                       Variant::Currency(-12.3456),
                                       Variant::CurrencyScaled(-922337203685477580),
                                       Variant::DateTime(-693593.0),
                                       Variant::DateTime(0.75),
                                       Variant::DateTime(k5Mar2024Noon),
                                       Variant::Bytes(std::string("\0\1\2\3", 4)),
                                       Variant::Bytes("x"),
                                       Variant::Integer(7),
                                       Variant::Bytes("blob"),
                                       Variant::Bytes("memo"),
                                       Variant::Bytes("gr"),
                                       Variant::Bytes("fm"),
                                       Variant::Bytes("po"),
                                       Variant::Bytes("do"),
                                       Variant::Bytes("tb"),
                                       Variant::Bytes("cu"),
                                       Variant::Integer(INT64_MIN),
                                       Variant::Bytes("adt"),
                                       Variant::Bytes("ar"),
                                       Variant::Bytes("rf"),
                                       Variant::Bytes("ds")};
  TQVMRecord original(table.descs);
  for (std::size_t i = 0; i < values.size(); ++i) original.SetValue(static_cast<int>(i + 1), values[i]);
  const std::string stream = Written(original);
  TQVMRecord copy(table.descs);
  MemoryReader reader(stream);
  copy.ReadFromStream(reader);
  EXPECT_EQ(reader.Remaining(), 0u);
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(copy.GetValue(static_cast<int>(i + 1)), values[i]) << table.descs[i].Name;
  }
  EXPECT_TRUE(copy.RecordsEqual(original, false, false));
  EXPECT_EQ(std::memcmp(copy.Buffer(), original.Buffer(), 6 + 4 + 5 + 39), 0);  // string slots alike

  TQVMRecord nulls(table.descs);
  TQVMRecord filled(table.descs);
  filled.Assign(original);
  const std::string null_stream = Written(nulls);
  MemoryReader null_stream_reader(null_stream);
  filled.ReadFromStream(null_stream_reader);
  for (std::size_t i = 1; i <= values.size(); ++i) EXPECT_TRUE(filled.IsNull(static_cast<int>(i)));
  EXPECT_STREQ(reinterpret_cast<const char*>(filled.Buffer()), "\x8A\xE8ko");  // a null string keeps its slot
}

TEST(Record, GoldenStreamNullsAndEmptyValues) {
  Table table("A;C;3;0;N;N;0;0;B;Blob;0;0");
  TQVMRecord record(table.descs);
  record.SetValue(1, Variant::String("abcdef"));  // cut to the declared size
  record.SetValue(2, Variant::Integer(258));
  record.SetValue(3, Variant::Bytes(""));
  EXPECT_FALSE(record.IsNull(3));
  EXPECT_EQ(HexOf(Written(record)),
            "01 00 04 00 00 00 01 61 62 63 00 02 00 04 00 00 00 01 02 01 00 00 03 00 00 00 00 00 00 00");
  record.SetValue(1, Variant::String(""));
  record.SetValue(2, Variant::Null());
  EXPECT_EQ(HexOf(Written(record)), "01 00 04 00 00 00 01 00 02 00 04 00 00 00 00 03 00 00 00 00 00 00 00");
  TQVMRecord copy(table.descs);
  const std::string stream = Written(record);
  MemoryReader reader(stream);
  copy.ReadFromStream(reader);
  EXPECT_EQ(copy.GetValue(1), Variant::String(""));
  EXPECT_TRUE(copy.IsNull(2));
  EXPECT_TRUE(copy.IsNull(3));  // an empty blob comes back null
  EXPECT_THROW_MSG(copy.SetValue(3, Variant::String("x")), DatasetError, "Unsupported Variant Type");
}

// A record reaches its writer in one write, a large block in a write of its own; the bytes are
// the field-by-field stream either way.
TEST(Record, StreamGoesOutInFewWritesWithTheSameBytes) {
  struct Writes : ByteWriter {
    void Write(const void* data, std::size_t size) override {
      sizes.push_back(size);
      bytes.append(static_cast<const char*>(data), size);
    }
    std::vector<std::size_t> sizes;
    std::string bytes;
  };
  Table table("A;C;3;0;B;Blob;0;0;N;N;0;0");
  TQVMRecord record(table.descs);
  record.SetValue(1, Variant::String("ab"));
  record.SetValue(2, Variant::Bytes("xyz"));
  record.SetValue(3, Variant::Integer(258));
  Writes small;
  record.WriteToStream(small, false);
  EXPECT_EQ(small.sizes.size(), 1u);
  EXPECT_EQ(
      HexOf(small.bytes),
      "01 00 04 00 00 00 01 61 62 00 02 00 03 00 00 00 78 79 7a 03 00 04 00 00 00 01 02 01 00 00 00 00");

  const std::string large(200000, '\x5A');
  record.SetValue(2, Variant::Bytes(large));
  Writes split;
  record.WriteToStream(split, false);
  ASSERT_EQ(split.sizes.size(), 3u);  // before the block, the block, after it
  EXPECT_EQ(split.sizes[1], large.size());
  TQVMRecord copy(table.descs);
  MemoryReader reader(split.bytes);
  copy.ReadFromStream(reader);
  EXPECT_EQ(reader.Remaining(), 0u);
  EXPECT_TRUE(copy.RecordsEqual(record, false, false));
}

TEST(Record, BcdAndDateEncodings) {
  Table table("b;BCD;0;0;32;d;Date;0;0;dt;DateTime;0;0;t;Time;0;0");
  TQVMRecord record(table.descs);
  record.SetValue(1, Variant::Currency(12.5));
  EXPECT_EQ(HexOf({reinterpret_cast<const char*>(record.Buffer()), 34}),
            "20 04 00 00 00 00 00 00 00 00 00 00 00 00 00 12 50 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
            "00 00");
  record.SetValue(1, Variant::Currency(-0.0001));
  EXPECT_EQ(HexOf({reinterpret_cast<const char*>(record.Buffer()), 34}),
            "20 84 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
            "00 00");
  auto int32_at = [&](int offset) {
    std::int32_t value;
    std::memcpy(&value, record.Buffer() + offset, 4);
    return value;
  };
  record.SetValue(2, Variant::DateTime(-693593.0));  // 1 January 0001
  EXPECT_EQ(int32_at(34), 1);
  record.SetValue(2, Variant::DateTime(0.0));
  EXPECT_EQ(int32_at(34), 693594);
  record.SetValue(3, Variant::DateTime(k5Mar2024Noon + 250.4 / 86400000));
  double stored;
  std::memcpy(&stored, record.Buffer() + 38, 8);
  EXPECT_EQ(stored, 738950.0 * 86400000 + 43200250);
  record.SetValue(4, Variant::DateTime(-1.25));  // 29 December 1899 6:00: the fraction counts forward
  EXPECT_EQ(int32_at(46), 6 * 3600000);
  EXPECT_EQ(DumpRecord(record),
            "  b=-0.0001\n  d=1899-12-30\n  dt=2024-03-05T12:00:00.250\n  t=06:00:00.000\n");

  // A slot of another precision and scale reads as its currency amount, rounded to 4 decimals.
  std::byte slot[34] = {std::byte{6}, std::byte{0x85}, std::byte{0x12}, std::byte{0x34}, std::byte{0x56}};
  record.SetFieldData(table.descs[0], slot);
  EXPECT_EQ(record.GetValue(1), Variant::CurrencyScaled(-12346));  // -1.23456
}

TEST(Record, ComparisonsAndTolerances) {
  Table table("s;C;10;0;dt;D;0;0;t;Time;0;0;li;Largeint;0;0;bl;Blob;0;0");
  TQVMRecord a(table.descs);
  TQVMRecord b(table.descs);
  EXPECT_TRUE(a.RecordsEqual(b, false, false));
  a.SetValue(1, Variant::String("ABC"));
  b.SetValue(1, Variant::String("abcdef"));
  EXPECT_EQ(a.CompareField(1, b, 3), 0);
  EXPECT_LT(a.CompareField(1, b, 1), 0);
  EXPECT_NE(a.CompareField(1, b, 2), 0);
  EXPECT_GT(b.CompareField(1, a, 3), 0);  // partial on the longer value's length
  EXPECT_EQ(a.CompareField(2, b), 0);     // both null
  a.SetValue(2, Variant::DateTime(k5Mar2024Noon));
  EXPECT_EQ(a.CompareField(2, b), 1);
  EXPECT_FALSE(a.FieldsEqual(2, b, 2));
  b.SetValue(2, Variant::DateTime(k5Mar2024Noon + 4.0 / 86400000));
  EXPECT_TRUE(a.FieldsEqual(2, b, 2));
  EXPECT_EQ(a.CompareField(2, b), -1);
  b.SetValue(2, Variant::DateTime(k5Mar2024Noon + 5.0 / 86400000));
  EXPECT_FALSE(a.FieldsEqual(2, b, 2));
  a.SetValue(2, Variant::DateTime(45356.0 - 2.0 / 86400000));  // across midnight
  b.SetValue(2, Variant::DateTime(45356.0 + 1.0 / 86400000));
  EXPECT_FALSE(a.FieldsEqual(2, b, 2));
  a.SetValue(3, Variant::DateTime(0.5));
  b.SetValue(3, Variant::DateTime(0.5 + 4.0 / 86400000));
  EXPECT_TRUE(a.FieldsEqual(3, b, 3));
  a.SetValue(4, Variant::Integer(256));
  b.SetValue(4, Variant::Integer(-1));
  EXPECT_EQ(a.CompareField(4, b), 1);
  a.SetValue(5, Variant::Bytes("ab"));
  b.SetValue(5, Variant::Bytes("b"));
  EXPECT_GT(a.CompareField(5, b), 0);  // longer first
  b.SetValue(5, Variant::Bytes("ac"));
  EXPECT_EQ(a.CompareField(5, b), -1);
  EXPECT_THROW_MSG(a.FieldsEqual(1, b, 4), DatasetError, "Comparing incompatible fields");
}

TEST(Record, CurrencyEqualsToFourDecimals) {
  Table table("m;Currency;0;0");
  TQVMRecord a(table.descs);
  TQVMRecord b(table.descs);
  a.SetValue(1, Variant::Double(12.345678));
  b.SetValue(1, Variant::Double(12.3457));
  EXPECT_TRUE(a.FieldsEqual(1, b, 1));
  b.SetValue(1, Variant::Double(12.3456));
  EXPECT_FALSE(a.FieldsEqual(1, b, 1));
  a.SetValue(1, Variant::Double(-0.00004));
  b.SetValue(1, Variant::Double(0));
  EXPECT_TRUE(a.FieldsEqual(1, b, 1));
  a.SetValue(1, Variant::Double(1e300));
  EXPECT_FALSE(a.FieldsEqual(1, b, 1));
}

TEST(Record, AssignDeepCopiesBlobs) {
  Table table("n;N;0;0;bl;Blob;0;0");
  auto source = std::make_unique<TQVMRecord>(table.descs);
  source->SetValue(1, Variant::Integer(5));
  source->SetValue(2, Variant::Bytes("payload"));
  TQVMRecord copy(table.descs);
  copy.SetValue(2, Variant::Bytes("old"));
  copy.Assign(*source);
  EXPECT_NE(blob_slot::Get(copy.Buffer() + 4), blob_slot::Get(source->Buffer() + 4));
  source.reset();
  EXPECT_EQ(copy.GetValue(2), Variant::Bytes("payload"));
  copy.Clear();
  EXPECT_TRUE(copy.IsNull(1));
  EXPECT_EQ(blob_slot::Get(copy.Buffer() + 4), nullptr);
}

TEST(Record, HostileStreamsFailCleanly) {
  Table table("A;C;3;0;N;N;0;0;B;Blob;0;0");
  struct Case {
    const char* hex;
    const char* message;
  };
  for (const Case& c : {
           Case{"04 00", "Field number 4 in the record stream is outside the layout (1..3)"},
           Case{"ff ff", "Field number 65535 in the record stream is outside the layout (1..3)"},
           Case{"01 00 04 00 00 00 01 61 62 63 64 00 00 00", "String value of field A is too long"},
           Case{"02 00 08 00 00 00 01 00 00 00 00 00 00 00 00 00 00", "Size of field N does not match"},
           Case{"03 00 ff ff ff ff 00 00", "Invalid length -1 of field B"},
           Case{"03 00 ff ff ff 7f 61 62 63", "Unexpected end of stream"},
           Case{"01 00 04 00", "Unexpected end of stream"},
           Case{"01 00 04 00 00 00 01 61 62", "Unexpected end of stream"},
           Case{"02 00 04 00 00 00 01 01 00 00 00", "Unexpected end of stream"},
       }) {
    TQVMRecord record(table.descs);
    record.SetValue(1, Variant::String("xyz"));
    const std::string stream = Bytes(c.hex);
    MemoryReader reader(stream);
    SCOPED_TRACE(c.hex);
    EXPECT_THROW_MSG(record.ReadFromStream(reader), DatasetError, c.message);
    EXPECT_EQ(record.GetValue(1), Variant::String("xyz"));  // a rejected string leaves the slot
  }
}

TEST(Record, StreamOfALayoutWithAnotherSizeIsRejected) {
  Table narrow("A;C;3;0");
  Table wide("A;C;4;0");
  TQVMRecord record(narrow.descs);
  record.SetValue(1, Variant::String("abc"));
  const std::string stream = Written(record);
  TQVMRecord other(wide.descs);
  MemoryReader reader(stream);
  EXPECT_THROW_MSG(other.ReadFromStream(reader), DatasetError, "Size of field A does not match");
}

}  // namespace
}  // namespace tamaril::dataset
