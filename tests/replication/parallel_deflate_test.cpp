#include "replication/parallel_deflate.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <new>
#include <thread>

#include "replication/archive.h"
#include "replication/errors.h"
#include "support/expect_throw_msg.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

constexpr std::size_t kBlock = kParallelDeflateBlockSize;

// Rows of text with repeating names and growing numbers, as an export's content looks, with a
// stretch of noise now and then that deflate cannot shrink.
std::string MixedBytes(std::size_t size, bool with_noise) {
  std::string bytes;
  bytes.reserve(size + 256);
  std::uint32_t state = 2463534242U;
  for (std::size_t row = 0; bytes.size() < size; ++row) {
    if (with_noise && row % 5000 == 4999) {
      for (int i = 0; i < 20000; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes.push_back(static_cast<char>(state));
      }
      continue;
    }
    bytes += "\x03\x01 ZAKAZNIK;";
    bytes += std::to_string(row * 7919 % 100003);
    bytes += ";Nov\xe1k Jan;Praha ";
    bytes += std::to_string(row % 97);
    bytes += ";\xf3";
  }
  bytes.resize(size);
  return bytes;
}

std::string Ansi(std::string_view utf8) { return text::Utf8ToAnsi(utf8); }

// Writes `data` in pieces that fall on both sides of the block boundary.
std::string ParallelDeflated(std::string_view data, unsigned threads) {
  dataset::MemoryWriter target;
  ParallelDeflateWriter writer(target, threads);
  EXPECT_EQ(writer.Threads(), threads);
  std::size_t at = 0;
  for (const std::size_t piece : {1UL, 1UL, kBlock - 3, 1UL, 5UL, kBlock, 2 * kBlock + 1}) {
    const std::size_t size = std::min(piece, data.size() - at);
    writer.Write(data.data() + at, size);
    at += size;
  }
  writer.Write(data.data() + at, data.size() - at);
  writer.Finish();
  EXPECT_EQ(writer.TotalIn(), data.size());
  return target.Take();
}

std::string SingleDeflated(std::string_view data) {
  dataset::MemoryWriter target;
  DeflateWriter writer(target);
  writer.WriteBytes(data);
  writer.Finish();
  return target.Take();
}

// What zlib's inflate makes of `compressed`; fails the test unless it is one whole stream or,
// when not `whole`, the start of one.
std::string ZlibInflated(std::string_view compressed, bool whole = true) {
  z_stream z{};
  EXPECT_EQ(inflateInit(&z), Z_OK);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  z.avail_in = static_cast<uInt>(compressed.size());
  std::string result;
  char buffer[65536];
  int code = Z_OK;
  while (code == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    code = inflate(&z, Z_NO_FLUSH);
    result.append(buffer, sizeof buffer - z.avail_out);
  }
  if (whole) {
    EXPECT_EQ(code, Z_STREAM_END) << (z.msg != nullptr ? z.msg : "");
  } else {
    EXPECT_EQ(code, Z_BUF_ERROR) << (z.msg != nullptr ? z.msg : "");
  }
  EXPECT_EQ(z.avail_in, 0U) << "bytes follow the stream";
  inflateEnd(&z);
  return result;
}

// True when Python's zlib module reads `compressed` as `original`.
bool PythonAgrees(const testing::TempDir& dir, std::string_view compressed, std::string_view original) {
  const std::string stream = dir.File("stream.z");
  const std::string expected = dir.File("expected.bin");
  testing::WriteWholeFile(stream, compressed);
  testing::WriteWholeFile(expected, original);
  const std::string command =
      "python3 -c \"import zlib,sys; d=zlib.decompress(open(sys.argv[1],'rb').read()); "
      "sys.exit(0 if d==open(sys.argv[2],'rb').read() else 1)\" '" +
      stream + "' '" + expected + "'";
  return std::system(command.c_str()) == 0;
}

std::uint32_t TrailingAdler(std::string_view compressed) {
  std::uint32_t value = 0;
  for (const char c : compressed.substr(compressed.size() - 4)) {
    value = (value << 8) | static_cast<unsigned char>(c);
  }
  return value;
}

TEST(ParallelDeflate, WritesOneZlibStreamThatEveryInflateReads) {
  testing::TempDir dir;
  const std::string many = MixedBytes(2 * 1024 * 1024 + 12345, true);
  struct Case {
    const char* name;
    std::string content;
  };
  const Case cases[] = {{"empty", ""},
                        {"one byte", "x"},
                        {"one block", MixedBytes(kBlock, false)},
                        {"one block and a byte", MixedBytes(kBlock + 1, false)},
                        {"many blocks", many}};
  for (const unsigned threads : {1U, 2U, 8U}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", threads " + std::to_string(threads));
      const std::string compressed = ParallelDeflated(c.content, threads);
      ASSERT_GE(compressed.size(), 6U);
      EXPECT_EQ(static_cast<unsigned char>(compressed[0]), 0x78);
      EXPECT_EQ(static_cast<unsigned char>(compressed[1]), 0xDA);
      EXPECT_EQ(TrailingAdler(compressed),
                adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(c.content.data()),
                        static_cast<uInt>(c.content.size())));
      EXPECT_TRUE(ZlibInflated(compressed) == c.content);
      EXPECT_TRUE(PythonAgrees(dir, compressed, c.content));
    }
  }
}

TEST(ParallelDeflate, StaysWithinOnePercentOfASingleStream) {
  const std::string content = MixedBytes(3 * 1024 * 1024, false);
  const std::string single = SingleDeflated(content);
  const std::string parallel = ParallelDeflated(content, 2);
  std::cout << "3 MiB of rows: single stream " << single.size() << " bytes, parallel " << parallel.size()
            << " bytes\n";
  EXPECT_LE(static_cast<double>(parallel.size()), 1.01 * static_cast<double>(single.size()));
  // The stream does not depend on how many workers made it.
  EXPECT_TRUE(ParallelDeflated(content, 1) == parallel);
  EXPECT_TRUE(ParallelDeflated(content, 8) == parallel);
}

TEST(ParallelDeflate, RefusesWritesAfterFinish) {
  dataset::MemoryWriter target;
  ParallelDeflateWriter writer(target, 2);
  writer.WriteBytes("abc");
  writer.Finish();
  writer.Finish();
  EXPECT_THROW_MSG(writer.WriteBytes("d"), ReplicationError,
                   Ansi("Zápis do ukončeného komprimovaného proudu"));
  EXPECT_EQ(ZlibInflated(target.Data()), "abc");
}

// Compresses as usual but throws `failure` for the block whose first byte is `failing_block`.
template <typename Failure>
ParallelDeflateWriter::BlockCompressor FailingAt(unsigned char failing_block, Failure failure) {
  return [=](std::string_view dictionary, std::string_view input, bool last) {
    if (!input.empty() && static_cast<unsigned char>(input[0]) == failing_block) throw failure;
    return ParallelDeflateWriter::CompressBlock(dictionary, input, last);
  };
}

// Blocks whose first byte is their number, so that a compressor knows which one it has.
std::string NumberedBlocks(std::size_t count) {
  std::string content = MixedBytes(count * kBlock, false);
  for (std::size_t i = 0; i < count; ++i) content[i * kBlock] = static_cast<char>(i);
  return content;
}

TEST(ParallelDeflate, AWorkersFailureReachesTheCaller) {
  const std::string content = NumberedBlocks(12);
  for (const unsigned threads : {1U, 3U}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    {
      dataset::MemoryWriter target;
      ParallelDeflateWriter writer(
          target, threads, FailingAt(5, ReplicationError(Ansi("Chyba komprese: insufficient memory"))));
      const auto write_all = [&] {
        writer.WriteBytes(content);
        writer.Finish();
      };
      EXPECT_THROW_MSG(write_all(), ReplicationError, Ansi("Chyba komprese: insufficient memory"));
      // The blocks before the failing one went out whole and in order, nothing after them.
      EXPECT_TRUE(ZlibInflated(target.Data(), false) == content.substr(0, 5 * kBlock));
      EXPECT_THROW_MSG(writer.Finish(), ReplicationError, Ansi("Chyba komprese: insufficient memory"));
      EXPECT_THROW_MSG(writer.WriteBytes("x"), ReplicationError, Ansi("Chyba komprese: insufficient memory"));
    }
    {
      dataset::MemoryWriter target;
      ParallelDeflateWriter writer(target, threads, FailingAt(11, std::bad_alloc()));
      writer.WriteBytes(content);
      EXPECT_THROW(writer.Finish(), std::bad_alloc);
    }
  }
}

TEST(ParallelDeflate, ATargetsFailureIsKept) {
  class FailingTarget : public dataset::ByteWriter {
   public:
    void Write(const void*, std::size_t) override { throw ReplicationError("disk full"); }
  };
  FailingTarget target;
  ParallelDeflateWriter writer(target, 2);
  writer.WriteBytes("abc");
  EXPECT_THROW_MSG(writer.Finish(), ReplicationError, "disk full");
  EXPECT_THROW_MSG(writer.Finish(), ReplicationError, "disk full");
}

TEST(ParallelDeflate, DestructionDropsQueuedBlocks) {
  auto calls = std::make_shared<std::atomic<int>>(0);
  const auto slow = [calls](std::string_view dictionary, std::string_view input, bool last) {
    calls->fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return ParallelDeflateWriter::CompressBlock(dictionary, input, last);
  };
  const std::string content = NumberedBlocks(5);
  dataset::MemoryWriter target;
  auto writer = std::make_unique<ParallelDeflateWriter>(target, 2, slow);
  // Four blocks are handed over (the fifth waits for Finish): two run, two wait in the queue.
  writer->WriteBytes(content);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (calls->load() < 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(calls->load(), 2);
  const auto start = std::chrono::steady_clock::now();
  writer.reset();
  // Only the two running blocks are waited for, and nothing reaches the target.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(550));
  EXPECT_EQ(calls->load(), 2);
  EXPECT_EQ(target.Data(), "");
}

TEST(ParallelDeflate, ArchiveWriterLeavesAFileOnlyOnCommit) {
  testing::TempDir dir;
  const std::string path = dir.File("B.ZR2");
  tArchiveHeader header;
  header.Signature = "B";
  header.ExportNo = 9;
  const std::string content = MixedBytes(3 * 1024 * 1024, true);
  {
    tArchiveWriter writer(path, header);
    writer.Stream().WriteBytes(content);
  }
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

  {
    tArchiveWriter writer(path, header);
    writer.Stream().WriteBytes(content);
    writer.Commit();
    EXPECT_EQ(std::filesystem::file_size(path), writer.CompressedSize());
  }
  const std::string file = testing::ReadWholeFile(path);
  EXPECT_TRUE(ZlibInflated(file) == EncodeArchiveHeader(header) + content);
  EXPECT_TRUE(PythonAgrees(dir, file, EncodeArchiveHeader(header) + content));
}

}  // namespace
}  // namespace tamaril::replication
