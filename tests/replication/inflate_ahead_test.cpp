#include "replication/inflate_ahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <thread>
#include <vector>

#include "dataset/errors.h"
#include "replication/errors.h"
#include "support/expect_throw_msg.h"
#include "support/noisy_bytes.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

using Clock = std::chrono::steady_clock;

// The bytes of these tests: noisy, from their own seed.
std::string NoisyBytes(std::size_t size) { return testing::NoisyBytes(size, 777); }

std::string Deflated(std::string_view data) {
  dataset::MemoryWriter target;
  DeflateWriter writer(target);
  writer.Write(data.data(), data.size());
  writer.Finish();
  return target.Take();
}

/// Passes a memory source on, throws DatasetError once `fail_at` bytes were read and counts
/// what was read (from the worker's thread).
class CountingSource : public dataset::ByteReader {
 public:
  explicit CountingSource(std::string_view data, std::size_t fail_at = std::string_view::npos)
      : data_(data), fail_at_(fail_at) {}
  std::size_t Read(void* data, std::size_t size) override {
    if (offset_ >= fail_at_) throw dataset::DatasetError("disk read failed");
    const std::size_t chunk = std::min({size, data_.size() - offset_, fail_at_ - offset_});
    std::memcpy(data, data_.data() + offset_, chunk);
    offset_ += chunk;
    read_.store(offset_);
    return chunk;
  }
  std::size_t BytesRead() const { return read_.load(); }

 private:
  std::string_view data_;
  std::size_t fail_at_;
  std::size_t offset_ = 0;
  std::atomic<std::size_t> read_ = 0;
};

// Where `bytes` stops being a prefix of `expected` (npos: it is one), so that a failure names an
// offset instead of printing megabytes.
std::size_t Mismatch(std::string_view bytes, std::string_view expected) {
  if (bytes.size() > expected.size()) return expected.size();
  const auto at = std::mismatch(bytes.begin(), bytes.end(), expected.begin());
  return at.first == bytes.end() ? std::string_view::npos
                                 : static_cast<std::size_t>(at.first - bytes.begin());
}

/// Everything a reader showed: the bytes of its completed reads, its state at the end and
/// the failure that ended it (type and message), then what VerifyEnd said.
struct Outcome {
  std::string bytes;
  std::uint64_t total_out = 0;
  bool truncated = false;
  bool finished = false;
  std::string error;
  std::string again;  ///< the failure of a read after the first failure
  std::string verify;

  bool operator==(const Outcome& other) const {
    return total_out == other.total_out && truncated == other.truncated && finished == other.finished &&
           error == other.error && again == other.again && verify == other.verify &&
           Mismatch(bytes, other.bytes) == std::string_view::npos && bytes.size() == other.bytes.size();
  }
};

void PrintTo(const Outcome& outcome, std::ostream* out) {
  *out << outcome.bytes.size() << " bytes, TotalOut " << outcome.total_out << ", truncated "
       << outcome.truncated << ", finished " << outcome.finished << ", error '" << outcome.error
       << "', again '" << outcome.again << "', verify '" << outcome.verify << "'";
}

std::string Failure(const std::function<void()>& action) {
  try {
    action();
  } catch (const ReplicationError& error) {
    return std::string("ReplicationError: ") + error.what();
  } catch (const dataset::DatasetError& error) {
    return std::string("DatasetError: ") + error.what();
  }
  return {};
}

/// Odd read sizes: single bytes, primes, a buffer of the source and more than a block.
const std::vector<std::size_t> kOddSizes = {1, 4099, 3, 65536, 7, 300001, 1, 1};
/// Small reads only, so that a failing read loses few bytes.
const std::vector<std::size_t> kSmallSizes = {1, 4099, 3, 7, 1021};

// Reads `content` to its end in pieces of `sizes` in turn.
Outcome ReadAll(InflatedContent& content, const std::vector<std::size_t>& sizes) {
  Outcome outcome;
  std::vector<char> buffer(*std::max_element(sizes.begin(), sizes.end()));
  outcome.error = Failure([&] {
    for (std::size_t i = 0;; ++i) {
      const std::size_t got = content.Read(buffer.data(), sizes[i % sizes.size()]);
      if (got == 0) break;
      outcome.bytes.append(buffer.data(), got);
    }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(content.Read(buffer.data(), buffer.size()), 0U);
  });
  if (!outcome.error.empty()) outcome.again = Failure([&] { content.Read(buffer.data(), 1); });
  outcome.total_out = content.TotalOut();
  outcome.truncated = content.Truncated();
  outcome.finished = content.Finished();
  outcome.verify = Failure([&] { content.VerifyEnd(); });
  return outcome;
}

// The wrapped reader starts after a header read on the caller's thread, as tArchiveReader does.
std::unique_ptr<InflateReader> AfterHeader(dataset::ByteReader& source) {
  auto reader = std::make_unique<InflateReader>(source, "A.ZR2");
  char header[34];
  std::size_t got = 0;
  while (got < sizeof header) {
    const std::size_t part = reader->Read(header + got, sizeof header - got);
    if (part == 0) break;
    got += part;
  }
  return reader;
}

// The outcome of the plain reader and of the ahead reader over the same bytes.
std::pair<Outcome, Outcome> ReadBoth(std::string_view compressed,
                                     std::size_t fail_at = std::string_view::npos,
                                     const std::vector<std::size_t>& sizes = kOddSizes) {
  CountingSource plain_source(compressed, fail_at);
  std::unique_ptr<InflateReader> plain = AfterHeader(plain_source);
  const Outcome plain_outcome = ReadAll(*plain, sizes);
  CountingSource ahead_source(compressed, fail_at);
  InflateAheadReader ahead(AfterHeader(ahead_source));
  return {plain_outcome, ReadAll(ahead, sizes)};
}

TEST(InflateAhead, GivesThePlainReadersContent) {
  for (const std::size_t size :
       {std::size_t{34}, std::size_t{100}, std::size_t{65536 + 34},
        InflateAheadReader::kBlockSize * (InflateAheadReader::kMaxQueued + 3) + 12345}) {
    const std::string data = NoisyBytes(size);
    const auto [plain, ahead] = ReadBoth(Deflated(data));
    EXPECT_EQ(ahead.bytes.size(), size - 34);
    EXPECT_EQ(Mismatch(ahead.bytes, std::string_view(data).substr(34)), std::string_view::npos) << size;
    EXPECT_EQ(ahead, plain) << size;
    EXPECT_TRUE(ahead.finished) << size;
    EXPECT_FALSE(ahead.truncated) << size;
    EXPECT_EQ(ahead.verify, "") << size;
  }
}

// Reading up to a stop byte gives the pieces the plain reader gives, byte by byte, across the
// ahead reader's blocks and up to the end.
TEST(InflateAhead, ReadsUpToAStopByteAsThePlainReader) {
  const std::string data = NoisyBytes(InflateAheadReader::kBlockSize * 2 + 777);
  const std::string compressed = Deflated(data);
  auto pieces = [](InflatedContent& content) {
    std::vector<std::string> read;
    std::vector<char> buffer(70000);
    for (std::size_t i = 0;; ++i) {
      const std::size_t limit = i % 3 == 0 ? 1 : i % 3 == 1 ? 300 : buffer.size();
      const std::size_t got = content.ReadTo(static_cast<std::uint8_t>(i * 37), buffer.data(), limit);
      if (got == 0) break;
      read.emplace_back(buffer.data(), got);
    }
    return read;
  };
  CountingSource plain_source(compressed);
  const std::vector<std::string> plain = pieces(*AfterHeader(plain_source));
  CountingSource ahead_source(compressed);
  InflateAheadReader ahead(AfterHeader(ahead_source));
  const std::vector<std::string> quick = pieces(ahead);
  EXPECT_EQ(quick, plain);
  EXPECT_EQ(ahead.TotalOut(), data.size());
  std::string joined;
  for (const std::string& piece : quick) joined += piece;
  EXPECT_EQ(Mismatch(joined, std::string_view(data).substr(34)), std::string_view::npos);
}

TEST(InflateAhead, FinishedOnceTheLastByteIsReadWithoutReadingPast) {
  const std::string data = NoisyBytes(700000);
  const std::string compressed = Deflated(data);
  dataset::MemoryReader source(compressed);
  InflateAheadReader ahead(std::make_unique<InflateReader>(source));
  EXPECT_EQ(Mismatch(ahead.ReadBytes(data.size()), data), std::string_view::npos);
  EXPECT_TRUE(ahead.Finished());
  EXPECT_FALSE(ahead.Truncated());
  EXPECT_EQ(ahead.TotalOut(), data.size());
}

TEST(InflateAhead, CutStreamGivesThePlainReadersPrefixThenTruncated) {
  const std::string data = NoisyBytes(InflateAheadReader::kBlockSize * 3 + 999);
  const std::string compressed = Deflated(data);
  for (const std::size_t cut : {std::size_t{40}, std::size_t{65536}, InflateAheadReader::kBlockSize + 1,
                                compressed.size() / 2, compressed.size() - 4, compressed.size() - 1}) {
    const auto [plain, ahead] = ReadBoth(compressed.substr(0, cut));
    EXPECT_EQ(ahead, plain) << cut;
    EXPECT_TRUE(ahead.truncated) << cut;
    EXPECT_FALSE(ahead.finished) << cut;
    EXPECT_EQ(Mismatch(ahead.bytes, std::string_view(data).substr(34)), std::string_view::npos) << cut;
    EXPECT_EQ(ahead.verify,
              "ReplicationError: " + text::Utf8ToAnsi("Archiv A.ZR2 je useknutý: komprimovaný proud nekončí"))
        << cut;
  }
}

TEST(InflateAhead, FailuresComeAfterTheBytesBeforeThemAndStay) {
  const std::string data = NoisyBytes(InflateAheadReader::kBlockSize * 3);
  const std::string compressed = Deflated(data);
  std::string damaged = compressed;
  for (std::size_t i = damaged.size() / 2; i < damaged.size() / 2 + 64; ++i) damaged[i] = '\xff';
  std::string bad_check = compressed;
  bad_check.back() = static_cast<char>(bad_check.back() ^ 0x20);

  struct Case {
    std::string compressed;
    std::size_t fail_at;
    std::string error_start;
    std::size_t intact;  ///< content bytes that must come unchanged
  };
  const std::vector<Case> cases = {
      {damaged, std::string_view::npos,
       "ReplicationError: " + text::Utf8ToAnsi("Chyba dekomprese archivu A.ZR2: "), data.size() / 2 - 8192},
      {bad_check, std::string_view::npos,
       "ReplicationError: " +
           text::Utf8ToAnsi("Chyba dekomprese archivu A.ZR2: nesouhlasí kontrolní součet dat"),
       data.size() - 34 - 4099},
      // The buffer being inflated when the source fails is lost, as with the plain reader.
      {compressed, compressed.size() / 3, "DatasetError: disk read failed",
       compressed.size() / 3 - 65536 - 4099},
  };
  for (const Case& c : cases) {
    const auto [plain, ahead] = ReadBoth(c.compressed, c.fail_at, kSmallSizes);
    EXPECT_EQ(ahead, plain) << c.error_start;
    EXPECT_EQ(ahead.error.substr(0, c.error_start.size()), c.error_start);
    EXPECT_EQ(ahead.again, ahead.error);
    EXPECT_GE(ahead.bytes.size(), c.intact) << c.error_start;
    EXPECT_GE(Mismatch(ahead.bytes, std::string_view(data).substr(34)), c.intact) << c.error_start;
  }
}

TEST(InflateAhead, VerifyEndRefusesContentLeftToRead) {
  const std::string data = NoisyBytes(InflateAheadReader::kBlockSize * 2);
  const std::string compressed = Deflated(data);
  dataset::MemoryReader source(compressed);
  InflateAheadReader ahead(std::make_unique<InflateReader>(source, "B.ZR2"));
  EXPECT_EQ(ahead.ReadBytes(10), data.substr(0, 10));
  EXPECT_THROW_MSG(ahead.VerifyEnd(), ReplicationError,
                   text::Utf8ToAnsi("Archiv B.ZR2: za koncovou značkou obsahu následují další data"));
  EXPECT_EQ(ahead.TotalOut(), 11U);
}

TEST(InflateAhead, DestroyingStopsABlockedWorkerPromptly) {
  // Far more than the queue holds: a worker that does not wait for room reads it all.
  const std::string compressed = Deflated(NoisyBytes(InflateAheadReader::kBlockSize * 40));
  CountingSource source(compressed);
  {
    auto ahead = std::make_unique<InflateAheadReader>(std::make_unique<InflateReader>(source));
    char buffer[5];
    EXPECT_EQ(ahead->Read(buffer, sizeof buffer), sizeof buffer);
    const std::size_t queued_bytes = InflateAheadReader::kBlockSize * InflateAheadReader::kMaxQueued;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (source.BytesRead() < queued_bytes && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_LT(source.BytesRead(), compressed.size() / 4);
    const auto start = Clock::now();
    ahead.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  }
  // Right after the start, with the worker inflating its first buffers.
  CountingSource fresh(compressed);
  const auto start = Clock::now();
  { InflateAheadReader ahead(std::make_unique<InflateReader>(fresh)); }
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
}  // namespace tamaril::replication
