#include "replication/parallel_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <array>

#include "replication/errors.h"
#include "replication/zlib_text.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

constexpr int kLevel = Z_BEST_COMPRESSION;
constexpr int kRawWindowBits = -15;
constexpr int kMemoryLevel = 8;
/// The zlib header of a level-9 stream with the 32 KiB window: method 8, most compression.
constexpr std::array<unsigned char, 2> kZlibHeader{0x78, 0xDA};

[[noreturn]] void ThrowZlib(const z_stream& z, int code, std::string_view what) {
  throw ReplicationError(text::Utf8ToAnsi(what) + ZlibReasonText(z, code));
}

/// Ends a deflate stream however its block ends.
class DeflateStream {
 public:
  DeflateStream() {
    const int code = deflateInit2(&z_, kLevel, Z_DEFLATED, kRawWindowBits, kMemoryLevel, Z_DEFAULT_STRATEGY);
    if (code != Z_OK) ThrowZlib(z_, code, "Kompresi nelze zahájit: ");
  }
  ~DeflateStream() { deflateEnd(&z_); }
  DeflateStream(const DeflateStream&) = delete;
  DeflateStream& operator=(const DeflateStream&) = delete;
  z_stream& Get() noexcept { return z_; }

 private:
  z_stream z_{};
};

}  // namespace

/// One block on its way through a worker.
struct ParallelDeflateWriter::Job {
  std::string input;
  std::string dictionary;
  bool last = false;
  // Set by the worker before `done`; read by the caller once `done` is seen under the mutex.
  std::string output;
  std::uint32_t adler = 1;
  std::exception_ptr error;
  bool done = false;  ///< guarded by the writer's mutex
};

std::string ParallelDeflateWriter::CompressBlock(std::string_view dictionary, std::string_view input,
                                                 bool last) {
  DeflateStream stream;
  z_stream& z = stream.Get();
  if (!dictionary.empty()) {
    const int code = deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(dictionary.data()),
                                          static_cast<uInt>(dictionary.size()));
    if (code != Z_OK) ThrowZlib(z, code, "Chyba komprese: ");
  }
  // The bound covers the block itself; a sync flush adds its few bytes, and the loop grows the
  // output should zlib need more.
  std::string output(deflateBound(&z, static_cast<uLong>(input.size())) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
  z.avail_in = static_cast<uInt>(input.size());
  const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
  std::size_t produced = 0;
  for (;;) {
    if (produced == output.size()) output.resize(output.size() * 2);
    z.next_out = reinterpret_cast<Bytef*>(output.data() + produced);
    z.avail_out = static_cast<uInt>(output.size() - produced);
    const int code = deflate(&z, flush);
    produced = output.size() - z.avail_out;
    if (code == Z_STREAM_END) break;
    if (code != Z_OK && code != Z_BUF_ERROR) ThrowZlib(z, code, "Chyba komprese: ");
    // A sync flush is complete once deflate leaves output room unused.
    if (!last && z.avail_in == 0 && z.avail_out > 0) break;
  }
  output.resize(produced);
  return output;
}

ParallelDeflateWriter::ParallelDeflateWriter(dataset::ByteWriter& target, unsigned threads,
                                             BlockCompressor compressor)
    : target_(target), compressor_(compressor ? std::move(compressor) : BlockCompressor(&CompressBlock)) {
  if (threads == 0) threads = std::max(1U, std::thread::hardware_concurrency());
  // Enough blocks queued that the workers go on while the caller is busy elsewhere for a while
  // (the pass that counts and measures the next table's rows).
  max_in_flight_ = 4 * static_cast<std::size_t>(threads);
  block_.reserve(kParallelDeflateBlockSize);
  workers_.reserve(threads);
  try {
    for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { RunWorker(); });
  } catch (...) {
    Stop();
    throw;
  }
}

ParallelDeflateWriter::~ParallelDeflateWriter() { Stop(); }

void ParallelDeflateWriter::Stop() noexcept {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  work_ready_.notify_all();
  for (std::thread& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
}

void ParallelDeflateWriter::RunWorker() {
  for (;;) {
    Job* job = nullptr;
    {
      std::unique_lock lock(mutex_);
      work_ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      job = queue_.front();
      queue_.pop_front();
    }
    try {
      job->output = compressor_(job->dictionary, job->input, job->last);
      job->adler = static_cast<std::uint32_t>(adler32(adler32(0, nullptr, 0),
                                                      reinterpret_cast<const Bytef*>(job->input.data()),
                                                      static_cast<uInt>(job->input.size())));
    } catch (...) {
      job->error = std::current_exception();
    }
    {
      const std::lock_guard lock(mutex_);
      job->done = true;
    }
    job_done_.notify_all();
  }
}

void ParallelDeflateWriter::Write(const void* data, std::size_t size) {
  if (failure_) std::rethrow_exception(failure_);
  if (finished_) throw ReplicationError(text::Utf8ToAnsi("Zápis do ukončeného komprimovaného proudu"));
  try {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
      // A full block waits for the next byte, so that the content's last block is the one
      // Finish ends the stream with.
      if (block_.size() == kParallelDeflateBlockSize) Submit(false);
      const std::size_t chunk = std::min(size, kParallelDeflateBlockSize - block_.size());
      block_.append(bytes, chunk);
      bytes += chunk;
      size -= chunk;
      total_in_ += chunk;
    }
  } catch (...) {
    failure_ = std::current_exception();
    throw;
  }
}

void ParallelDeflateWriter::Finish() {
  if (failure_) std::rethrow_exception(failure_);
  if (finished_) return;
  try {
    Submit(true);
    while (!in_flight_.empty()) WriteOldest();
    const std::array<unsigned char, 4> check{
        static_cast<unsigned char>(adler_ >> 24), static_cast<unsigned char>(adler_ >> 16),
        static_cast<unsigned char>(adler_ >> 8), static_cast<unsigned char>(adler_)};
    target_.Write(check.data(), check.size());
    finished_ = true;
  } catch (...) {
    failure_ = std::current_exception();
    throw;
  }
}

void ParallelDeflateWriter::Submit(bool last) {
  while (in_flight_.size() >= max_in_flight_) WriteOldest();
  auto job = std::make_unique<Job>();
  job->input = std::move(block_);
  job->dictionary = std::move(dictionary_);
  job->last = last;
  const std::size_t keep = std::min(job->input.size(), kParallelDeflateDictionarySize);
  dictionary_ = TakeSpare(spare_dictionaries_);
  dictionary_.assign(job->input, job->input.size() - keep, keep);
  block_ = TakeSpare(spare_blocks_);
  block_.reserve(kParallelDeflateBlockSize);
  Job* queued = job.get();
  in_flight_.push_back(std::move(job));
  {
    const std::lock_guard lock(mutex_);
    queue_.push_back(queued);
  }
  work_ready_.notify_one();
  // Blocks finished meanwhile go out now rather than piling up until the queue is full.
  while (!in_flight_.empty() && OldestDone()) WriteOldest();
}

bool ParallelDeflateWriter::OldestDone() {
  const std::lock_guard lock(mutex_);
  return in_flight_.front()->done;
}

void ParallelDeflateWriter::WriteOldest() {
  {
    std::unique_lock lock(mutex_);
    job_done_.wait(lock, [this] { return in_flight_.front()->done; });
  }
  const std::unique_ptr<Job> job = std::move(in_flight_.front());
  in_flight_.pop_front();
  if (job->error) std::rethrow_exception(job->error);
  if (!header_written_) {
    target_.Write(kZlibHeader.data(), kZlibHeader.size());
    header_written_ = true;
  }
  target_.Write(job->output.data(), job->output.size());
  adler_ = static_cast<std::uint32_t>(
      adler32_combine(adler_, job->adler, static_cast<z_off_t>(job->input.size())));
  Recycle(std::move(job->input), spare_blocks_);
  Recycle(std::move(job->dictionary), spare_dictionaries_);
}

std::string ParallelDeflateWriter::TakeSpare(std::vector<std::string>& spares) {
  if (spares.empty()) return {};
  std::string spare = std::move(spares.back());
  spares.pop_back();
  return spare;
}

void ParallelDeflateWriter::Recycle(std::string&& buffer, std::vector<std::string>& spares) {
  if (spares.size() > max_in_flight_) return;
  buffer.clear();
  spares.push_back(std::move(buffer));
}

}  // namespace tamaril::replication
