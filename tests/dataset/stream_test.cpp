#include "dataset/stream.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "dataset/errors.h"
#include "dataset/memory_table_file.h"
#include "support/expect_throw_msg.h"
#include "support/temp_dir.h"

namespace tamaril::dataset {
namespace {

TEST(Stream, ReadStreamStringTrustsNoCount) {
  MemoryWriter writer;
  WriteStreamString("abc", writer);
  writer.WriteI32(-5);
  MemoryReader reader(writer.Data());
  EXPECT_EQ(ReadStreamString(reader), "abc");
  EXPECT_EQ(ReadStreamString(reader), "");

  const std::string hostile = std::string("\x00\x94\x35\x77", 4) + "abcdef";  // count 2 000 000 000
  MemoryReader short_reader(hostile);
  EXPECT_THROW_MSG(ReadStreamString(short_reader), DatasetError, "Unexpected end of stream");
}

// Reading up to a stop byte from memory takes what the byte-by-byte way takes: the stop byte
// included, nothing after it, at most the limit, and what is left at the end.
TEST(Stream, ReadToStopsAfterTheStopByteAsByteByByte) {
  struct OneByOne : ByteReader {
    explicit OneByOne(std::string_view data) : memory(data) {}
    std::size_t Read(void* data, std::size_t size) override { return memory.Read(data, size); }
    MemoryReader memory;
  };
  const std::string data("ab\0cd\0\0efgh", 11);
  for (const std::size_t limit : {0, 1, 2, 3, 5, 20}) {
    MemoryReader memory(data);
    OneByOne slow(data);
    for (int round = 0; round < 8; ++round) {
      char quick[32] = {};
      char plain[32] = {};
      const std::size_t got = memory.ReadTo(0, quick, limit);
      ASSERT_EQ(got, slow.ReadTo(0, plain, limit)) << limit << " " << round;
      EXPECT_EQ(std::string(quick, got), std::string(plain, got));
    }
    EXPECT_EQ(memory.Remaining(), slow.memory.Remaining());
  }
}

TEST(MemoryTableFile, HeaderBytesAndMagicCheck) {
  MemoryWriter writer;
  WriteMemoryTableHeader(writer, "A;C;3;0", 7, 1);
  EXPECT_EQ(writer.Data(), std::string("Memtbl\x07\0\0\0A;C;3;0\x07\0\0\0\x01\0\0\0", 25));
  MemoryReader reader(writer.Data());
  const MemoryTableHeader header = ReadMemoryTableHeader(reader, "T");
  EXPECT_EQ(header.layout, "A;C;3;0");
  EXPECT_EQ(header.auto_inc_value, 7);
  EXPECT_EQ(header.record_count, 1);

  for (const std::string& bad : {"memtbl" + writer.Data().substr(6), std::string("Memt"),
                                 std::string("Memtbl\0\0\0\0\0\0\0\0\xff\xff\xff\xff", 18)}) {
    MemoryReader bad_reader(bad);
    EXPECT_THROW_MSG(
        ReadMemoryTableHeader(bad_reader, "EXPORT"), DatasetError,
        bad.size() == 18 ? "Invalid record count -1 (table EXPORT)" : "Invalid table stream (table EXPORT)");
  }
}

TEST(MemoryTableFile, DumpShowsEveryRecordAndStopsAtDamage) {
  testing::TempDir dir;
  TFieldDefs defs;
  const std::string layout = "Sig;String;5;0;N;Float;0;0;Ok;Boolean;0;0;Pozn;Memo;0;0;Raw;Blob;0;0";
  ParseFieldLayout(layout, &defs, false);
  TFieldDescs descs;
  BuildFieldDescs(defs, descs);
  TQVMRecord record(descs);
  record.SetValue(1, Variant::String("P\xF8\x22"));  // "Př\""
  record.SetValue(2, Variant::Double(0.1));
  record.SetValue(3, Variant::Boolean(true));
  record.SetValue(4, Variant::Bytes("a\nb"));
  record.SetValue(5, Variant::Bytes("abc"));
  MemoryWriter writer;
  WriteMemoryTableHeader(writer, layout, 3, 2);
  record.WriteToStream(writer, false);
  record.Clear();
  record.WriteToStream(writer, false);
  const std::string path = dir.File("t.dat");
  testing::WriteWholeFile(path, writer.Data());
  const std::string expected_head = "layout: " + layout + "\nAutoIncValue: 3\nrecords: 2\nrecord 1\n";
  EXPECT_EQ(DumpMemoryTableFile(path),
            expected_head +
                "  Sig=\"P\xC5\x99\\\"\"\n  N=0.1\n  Ok=true\n  Pozn=\"a\\x0ab\"\n"
                "  Raw=3 bytes: 61 62 63\nrecord 2\n  Sig=NULL\n  N=NULL\n  Ok=NULL\n"
                "  Pozn=NULL\n  Raw=NULL\n");

  testing::WriteWholeFile(path, writer.Data().substr(0, writer.Data().size() - 3));
  std::string partial;
  EXPECT_THROW_MSG(DumpMemoryTableFile(path, &partial), DatasetError, "Record 2: Unexpected end of stream");
  EXPECT_EQ(partial.substr(0, expected_head.size()), expected_head);
  EXPECT_TRUE(partial.ends_with("record 2\n"));
}

TEST(AtomicFileWriter, ReplacesOnlyOnCommit) {
  testing::TempDir dir;
  const std::string path = dir.File("table.dat");
  testing::WriteWholeFile(path, "old");
  {
    AtomicFileWriter writer(path);
    writer.WriteBytes("new content");
  }
  EXPECT_EQ(testing::ReadWholeFile(path), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // no temporary left
  {
    AtomicFileWriter writer(path);
    writer.WriteBytes("new content");
    writer.Commit();
  }
  EXPECT_EQ(testing::ReadWholeFile(path), "new content");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
  EXPECT_THROW_MSG(FileReader reader(dir.File("missing")), DatasetError,
                   "Cannot open file " + dir.File("missing") + ": No such file or directory");
}

}  // namespace
}  // namespace tamaril::dataset
