#include "replication/archive.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <filesystem>

#include "replication/errors.h"
#include "support/expect_throw_msg.h"
#include "support/noisy_bytes.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

using testing::NoisyBytes;

std::string Deflated(std::string_view data) {
  dataset::MemoryWriter target;
  DeflateWriter writer(target);
  // Odd pieces: single bytes, sizes around the 64 KiB buffer, and the rest at once.
  std::size_t at = 0;
  for (const std::size_t piece : {1U, 1U, 7U, 65535U, 65537U, 3U}) {
    const std::size_t size = std::min(piece, data.size() - at);
    writer.Write(data.data() + at, size);
    at += size;
  }
  writer.Write(data.data() + at, data.size() - at);
  writer.Finish();
  EXPECT_EQ(writer.TotalIn(), data.size());
  return target.Take();
}

// Everything an InflateReader yields from `compressed`, read in pieces of 1 and 4099 bytes.
std::string Inflated(std::string_view compressed, bool* truncated = nullptr) {
  dataset::MemoryReader source(compressed);
  InflateReader reader(source);
  std::string result;
  char buffer[4099];
  for (bool small = true;; small = !small) {
    const std::size_t got = reader.Read(buffer, small ? 1 : sizeof buffer);
    if (got == 0) break;
    result.append(buffer, got);
  }
  EXPECT_EQ(reader.Read(buffer, sizeof buffer), 0U);
  EXPECT_EQ(reader.TotalOut(), result.size());
  if (truncated != nullptr) *truncated = reader.Truncated();
  return result;
}

std::string Uncompressed(std::string_view compressed, std::size_t size) {
  std::string result(size + 1, '\0');
  uLongf length = result.size();
  EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(result.data()), &length,
                       reinterpret_cast<const Bytef*>(compressed.data()), compressed.size()),
            Z_OK);
  result.resize(length);
  return result;
}

std::string Ansi(std::string_view utf8) { return text::Utf8ToAnsi(utf8); }

TEST(Deflate, RoundTripsAtLevelNine) {
  for (const std::size_t size : {std::size_t{0}, std::size_t{5}, std::size_t{3} * 1024 * 1024 + 17}) {
    const std::string data = NoisyBytes(size);
    const std::string compressed = Deflated(data);
    ASSERT_GE(compressed.size(), 2U);
    EXPECT_EQ(static_cast<unsigned char>(compressed[0]), 0x78);
    EXPECT_EQ(static_cast<unsigned char>(compressed[1]), 0xDA);
    EXPECT_EQ(Uncompressed(compressed, size), data) << size;
    bool truncated = true;
    EXPECT_EQ(Inflated(compressed, &truncated), data) << size;
    EXPECT_FALSE(truncated);
  }
}

TEST(Deflate, RefusesWritesAfterFinish) {
  dataset::MemoryWriter target;
  DeflateWriter writer(target);
  writer.WriteU8(1);
  writer.Finish();
  const std::size_t size = target.Data().size();
  writer.Finish();
  EXPECT_EQ(target.Data().size(), size);
  EXPECT_THROW_MSG(writer.WriteU8(2), ReplicationError, Ansi("Zápis do ukončeného komprimovaného proudu"));
  EXPECT_EQ(Uncompressed(target.Data(), 1), "\x01");
}

TEST(Inflate, ReadsStreamsOfOtherWriters) {
  const std::string data = NoisyBytes(200000) + std::string(100000, 'x');
  std::string compressed(compressBound(data.size()), '\0');
  uLongf length = compressed.size();
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(compressed.data()), &length,
                      reinterpret_cast<const Bytef*>(data.data()), data.size(), 1),
            Z_OK);
  compressed.resize(length);
  EXPECT_EQ(Inflated(compressed + "trailing bytes"), data);
}

TEST(Inflate, CutStreamYieldsOnlyTheDecodedPrefix) {
  const std::string data = NoisyBytes(300000);
  const std::string compressed = Deflated(data);
  for (const std::size_t cut :
       {std::size_t{0}, std::size_t{1}, compressed.size() / 2, compressed.size() - 1}) {
    bool truncated = false;
    const std::string prefix = Inflated(compressed.substr(0, cut), &truncated);
    EXPECT_TRUE(truncated) << cut;
    if (cut < compressed.size() - 4) {
      EXPECT_LT(prefix.size(), data.size()) << cut;
    }
    EXPECT_EQ(prefix, data.substr(0, prefix.size())) << cut;
  }
}

TEST(Inflate, DamagedDataFailsWithZlibsMessage) {
  std::string compressed = Deflated("some content worth checking");
  std::string bad_header = compressed;
  bad_header[1] = static_cast<char>(bad_header[1] ^ 1);
  EXPECT_THROW_MSG(Inflated(bad_header), ReplicationError,
                   Ansi("Chyba dekomprese: chybná hlavička komprimovaných dat"));
  compressed.back() = static_cast<char>(compressed.back() ^ 0x40);
  EXPECT_THROW_MSG(Inflated(compressed), ReplicationError,
                   Ansi("Chyba dekomprese: nesouhlasí kontrolní součet dat"));
}

// Reads `content.size()` bytes of the stream and then asks whether it ended there.
void ReadAllAndVerify(std::string_view compressed, std::size_t content_size) {
  dataset::MemoryReader source(compressed);
  InflateReader reader(source, "A.ZR2");
  EXPECT_EQ(reader.ReadBytes(content_size).size(), content_size);
  reader.VerifyEnd();
}

TEST(Inflate, VerifyEndRefusesAStreamThatDoesNotEndCleanly) {
  const std::string content = "content ending in its end byte \xf1";
  const std::string compressed = Deflated(content);
  ReadAllAndVerify(compressed, content.size());

  struct Case {
    std::string compressed;
    std::size_t read;
    std::string message;
  };
  std::string flipped = compressed;
  flipped.back() = static_cast<char>(flipped.back() ^ 0x01);
  const std::vector<Case> cases = {
      {flipped, content.size(), "Chyba dekomprese archivu A.ZR2: nesouhlasí kontrolní součet dat"},
      {compressed.substr(0, compressed.size() - 4), content.size(),
       "Archiv A.ZR2 je useknutý: komprimovaný proud nekončí"},
      {compressed + "x", content.size(), "Archiv A.ZR2: za komprimovaným proudem následují další bajty"},
      {compressed, content.size() - 1, "Archiv A.ZR2: za koncovou značkou obsahu následují další data"},
  };
  for (const Case& c : cases) {
    EXPECT_THROW_MSG(ReadAllAndVerify(c.compressed, c.read), ReplicationError, Ansi(c.message));
  }
}

TEST(Inflate, VerifyEndFindsTheCheckValueBeyondTheFirstBuffers) {
  // The check value lies many compressed buffers after the bytes read so far.
  const std::string content = NoisyBytes(1024 * 1024);
  std::string compressed = Deflated(content);
  compressed[compressed.size() - 2] = static_cast<char>(compressed[compressed.size() - 2] ^ 0x10);
  dataset::MemoryReader source(compressed);
  InflateReader reader(source, "B.ZR2");
  EXPECT_EQ(reader.ReadBytes(100).size(), 100U);
  EXPECT_THROW_MSG(reader.VerifyEnd(), ReplicationError,
                   Ansi("Archiv B.ZR2: za koncovou značkou obsahu následují další data"));
  dataset::MemoryReader again(compressed);
  InflateReader whole(again, "B.ZR2");
  EXPECT_EQ(whole.ReadBytes(content.size()), content);
  EXPECT_THROW_MSG(whole.VerifyEnd(), ReplicationError,
                   Ansi("Chyba dekomprese archivu B.ZR2: nesouhlasí kontrolní součet dat"));
}

TEST(ArchiveHeader, GoldenBytes) {
  tArchiveHeader header;
  header.Signature = "ABCDEFGHIJ";
  header.ExportNo = -2;
  header.ExportTime = 1.5;
  EXPECT_EQ(EncodeArchiveHeader(header), std::string("\x0a^SQLKELM^Z"
                                                     "\x0a"
                                                     "ABCDEFGHIJ"
                                                     "\xfe\xff\xff\xff"
                                                     "\0\0\0\0\0\0\xf8\x3f",
                                                     34));
  header.Signature = "K\x9a";  // "Kš" in Windows-1250
  header.ExportNo = 0x01020304;
  EXPECT_EQ(EncodeArchiveHeader(header), std::string("\x0a^SQLKELM^Z"
                                                     "\x02K\x9a\0\0\0\0\0\0\0\0"
                                                     "\x04\x03\x02\x01"
                                                     "\0\0\0\0\0\0\xf8\x3f",
                                                     34));
  header.Signature = "ABCDEFGHIJK";
  EXPECT_THROW_MSG(EncodeArchiveHeader(header), ReplicationError,
                   Ansi("Identifikace exportu je delší než 10 znaků: ABCDEFGHIJK"));
}

TEST(ArchiveHeader, DecodesAndRecognizesArchives) {
  tArchiveHeader header;
  header.Signature = "POBOCKA";
  header.ExportNo = 77;
  header.ExportTime = 45000.25;
  const std::string bytes = EncodeArchiveHeader(header);
  const tArchiveHeader decoded = DecodeArchiveHeader(bytes);
  EXPECT_TRUE(decoded.Identified);
  EXPECT_EQ(decoded.Signature, "POBOCKA");
  EXPECT_EQ(decoded.ExportNo, 77);
  EXPECT_EQ(decoded.ExportTime, 45000.25);

  std::string other = bytes;
  other[3] = 'q';
  EXPECT_FALSE(DecodeArchiveHeader(other).Identified);
  other = bytes;
  other[0] = 9;
  EXPECT_FALSE(DecodeArchiveHeader(other).Identified);
  other = bytes;
  other[11] = 11;
  EXPECT_FALSE(DecodeArchiveHeader(other).Identified);
  EXPECT_THROW_MSG(DecodeArchiveHeader(bytes.substr(0, 33)), ReplicationError,
                   Ansi("Hlavička archivu nemá 34 bajtů, ale 33"));
}

TEST(ArchiveFile, NameOfSignature) {
  EXPECT_EQ(ArchiveFileName("/data/export", "  POB1 \t"), "/data/export/POB1.ZR2");
  EXPECT_EQ(ArchiveFileName("/data/export/", "POB1"), "/data/export/POB1.ZR2");
  EXPECT_EQ(ArchiveFileName("", "POB1"), "POB1.ZR2");
}

TEST(ArchiveFile, WrittenWholeOrNotAtAll) {
  testing::TempDir dir;
  const std::string path = dir.File("A.ZR2");
  tArchiveHeader header;
  header.Signature = "A";
  header.ExportNo = 3;
  {
    tArchiveWriter writer(path, header);
    writer.Stream().WriteBytes("content");
  }
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()),
      0);

  testing::WriteWholeFile(path, "older archive");
  {
    tArchiveWriter writer(path, header);
    writer.Stream().WriteBytes("content");
  }
  EXPECT_EQ(testing::ReadWholeFile(path), "older archive");

  std::uint64_t size = 0;
  {
    tArchiveWriter writer(path, header);
    writer.Stream().WriteBytes("content");
    writer.Commit();
    size = writer.CompressedSize();
  }
  EXPECT_EQ(std::filesystem::file_size(path), size);
  EXPECT_EQ(Uncompressed(testing::ReadWholeFile(path), 100), EncodeArchiveHeader(header) + "content");

  tArchiveReader reader(path);
  EXPECT_TRUE(reader.Header().Identified);
  EXPECT_EQ(reader.Header().Signature, "A");
  EXPECT_EQ(reader.Header().ExportNo, 3);
  char buffer[16];
  EXPECT_EQ(reader.Stream().Read(buffer, sizeof buffer), 7U);
  EXPECT_EQ(std::string(buffer, 7), "content");
  EXPECT_TRUE(reader.Stream().Finished());
}

TEST(ArchiveFile, FinishedAndKeptItStaysCompleteUnderItsTemporaryName) {
  testing::TempDir dir;
  const std::string path = dir.File("A.ZR2");
  tArchiveHeader header;
  header.Signature = "A";
  header.ExportNo = 4;
  std::string temporary;
  {
    tArchiveWriter writer(path, header);
    writer.Stream().WriteBytes("content");
    writer.Finish();
    temporary = writer.TemporaryPath();
  }
  EXPECT_FALSE(std::filesystem::exists(temporary)) << "finished but not kept";
  {
    tArchiveWriter writer(path, header);
    writer.Stream().WriteBytes("content");
    writer.Finish();
    writer.Keep();
    temporary = writer.TemporaryPath();
  }
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(IsTemporaryArchiveName(std::filesystem::path(temporary).filename().string(), "A.ZR2"));
  EXPECT_EQ(std::filesystem::status(temporary).permissions(),
            std::filesystem::perms(0600) & std::filesystem::perms::all);
  EXPECT_EQ(Uncompressed(testing::ReadWholeFile(temporary), 100), EncodeArchiveHeader(header) + "content");
}

TEST(ArchiveFile, AFileThatCannotBeCreatedIsNamedWithTheReasonInCzech) {
  testing::TempDir dir;
  tArchiveHeader header;
  header.Signature = "A";
  const std::string path = dir.File("gone/A.ZR2");
  EXPECT_THROW_MSG(tArchiveWriter writer(path, header), ReplicationError,
                   Ansi("Archiv " + path + " nelze vytvořit: soubor neexistuje"));
}

TEST(ArchiveFile, TemporaryNamesAreTheArchiveNameADotAndSixLettersOrDigits) {
  for (const char* name : {"SHOP.ZR2.aB3xYz", "SHOP.ZR2.000000"})
    EXPECT_TRUE(IsTemporaryArchiveName(name, "SHOP.ZR2"));
  for (const char* name : {"SHOP.ZR2", "SHOP.ZR2.lock", "SHOP.ZR2.abcdefg", "SHOP.ZR2.ab-def",
                           "SHOP-1.ZR2.bak", "SHOPX.ZR2.abcdef", "XSHOP.ZR2.abcde", "SHOP.ZR2Xabcdef"}) {
    EXPECT_FALSE(IsTemporaryArchiveName(name, "SHOP.ZR2")) << name;
  }
}

TEST(ArchiveFile, ShortFileIsNoArchive) {
  testing::TempDir dir;
  const std::string path = dir.File("short.ZR2");
  testing::WriteWholeFile(path, Deflated(std::string(33, 'x')));
  EXPECT_THROW_MSG(tArchiveReader reader(path), ReplicationError,
                   Ansi("Soubor " + path + " není úplný archiv"));
  tArchiveHeader header;
  header.Signature = "ABCDEFGHIJK";
  EXPECT_THROW_MSG(tArchiveWriter writer(dir.File("long.ZR2"), header), ReplicationError,
                   Ansi("Identifikace exportu je delší než 10 znaků: ABCDEFGHIJK"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("long.ZR2")));
}

}  // namespace
}  // namespace tamaril::replication
