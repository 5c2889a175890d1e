#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "dataset/stream.h"

namespace tamaril::replication {

/// The uncompressed bytes of one block of ParallelDeflateWriter.
inline constexpr std::size_t kParallelDeflateBlockSize = 128 * 1024;
/// The bytes of the previous block that prime the compression of the next one.
inline constexpr std::size_t kParallelDeflateDictionarySize = 32 * 1024;

/// Compresses into another writer (not owned) as one zlib stream at level 9, deflating blocks of
/// the content on worker threads. Each block is primed with the end of the previous one, so the
/// stream stays within a few bytes per block of what a single deflate writes. The target is
/// written only on the caller's thread, in order; `Finish` ends the stream, without it the target
/// holds an unfinished stream.
class ParallelDeflateWriter : public dataset::ByteWriter {
 public:
  /// Deflates `input` as raw deflate data primed with `dictionary`, ended by a sync flush or,
  /// when `last`, as the end of the stream; throws ReplicationError for a zlib failure. Workers
  /// call it at the same time.
  using BlockCompressor =
      std::function<std::string(std::string_view dictionary, std::string_view input, bool last)>;

  /// `threads` 0 takes one worker per core; `compressor` empty takes CompressBlock. Throws
  /// std::system_error when a worker cannot start.
  explicit ParallelDeflateWriter(dataset::ByteWriter& target, unsigned threads = 0,
                                 BlockCompressor compressor = {});
  /// Stops the workers: blocks not yet started are dropped, running ones end first.
  ~ParallelDeflateWriter() override;
  ParallelDeflateWriter(const ParallelDeflateWriter&) = delete;
  ParallelDeflateWriter& operator=(const ParallelDeflateWriter&) = delete;

  /// Throws ReplicationError after Finish, what a block's compression threw and what the target
  /// throws; after such a failure every further call throws it again.
  void Write(const void* data, std::size_t size) override;
  /// Compresses the rest, writes it and the check value; throws as Write.
  void Finish();
  /// Uncompressed bytes written so far.
  std::uint64_t TotalIn() const noexcept { return total_in_; }
  /// The worker threads in use.
  std::size_t Threads() const noexcept { return workers_.size(); }

  /// The default BlockCompressor: level 9, 15-bit window, memory level 8, default strategy.
  static std::string CompressBlock(std::string_view dictionary, std::string_view input, bool last);

 private:
  struct Job;

  /// Hands the current block to the workers and starts the next one.
  void Submit(bool last);
  /// Waits for the oldest block in flight and writes its compressed bytes.
  void WriteOldest();
  /// True when the oldest block in flight is compressed.
  bool OldestDone();
  void RunWorker();
  /// Ends the workers and drops blocks not yet started.
  void Stop() noexcept;
  /// A buffer of `spares` (its room kept), or a new one when there is none.
  static std::string TakeSpare(std::vector<std::string>& spares);
  /// Keeps the emptied `buffer` in `spares` for a later block, unless enough are kept.
  void Recycle(std::string&& buffer, std::vector<std::string>& spares);

  dataset::ByteWriter& target_;
  BlockCompressor compressor_;
  std::size_t max_in_flight_ = 0;
  bool finished_ = false;
  bool header_written_ = false;
  std::exception_ptr failure_;
  std::uint64_t total_in_ = 0;
  std::uint32_t adler_ = 1;
  std::string block_;       ///< written bytes not yet handed to a worker
  std::string dictionary_;  ///< the end of the block handed over last
  /// Buffers of blocks written out, kept for the next blocks: a block's memory is taken from
  /// the system once rather than for every block (caller's thread).
  std::vector<std::string> spare_blocks_;
  std::vector<std::string> spare_dictionaries_;

  std::deque<std::unique_ptr<Job>> in_flight_;  ///< handed-over blocks, oldest first (caller's thread)
  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable job_done_;
  std::deque<Job*> queue_;  ///< blocks no worker has started (guarded by mutex_)
  bool stopping_ = false;   ///< guarded by mutex_
  std::vector<std::thread> workers_;
};

}  // namespace tamaril::replication
