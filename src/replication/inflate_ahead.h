#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "replication/archive.h"

namespace tamaril::replication {

/// Inflates a stream ahead of its reader: one worker thread reads the wrapped InflateReader
/// into a bounded queue of blocks while the reader takes bytes from the queue. Bytes, ends, a
/// cut source and failures come in the same order as from the wrapped reader; a failure the
/// worker meets is rethrown by the read that reaches it, and by every read after.
class InflateAheadReader : public InflatedContent {
 public:
  /// Bytes of one queued block.
  static constexpr std::size_t kBlockSize = 256 * 1024;
  /// The most blocks waiting in the queue.
  static constexpr std::size_t kMaxQueued = 4;

  /// Takes over `source` and starts the worker on it; throws std::system_error when no thread
  /// can be started.
  explicit InflateAheadReader(std::unique_ptr<InflateReader> source);
  /// Stops the worker (waiting for at most the buffer it is inflating) and joins it.
  ~InflateAheadReader() override;
  InflateAheadReader(const InflateAheadReader&) = delete;
  InflateAheadReader& operator=(const InflateAheadReader&) = delete;

  /// Throws what the wrapped reader threw (ReplicationError for damage, DatasetError from its
  /// source) once the bytes before it are read.
  std::size_t Read(void* data, std::size_t size) override;
  /// Finds the stop byte in the queued blocks; throws as Read.
  std::size_t ReadTo(std::uint8_t stop, void* data, std::size_t limit) override;
  /// Throws as InflateReader::VerifyEnd.
  void VerifyEnd() override;
  /// May turn true while inflated bytes still wait to be read; waits for the worker when
  /// everything it queued has been read.
  bool Finished() const override;
  /// Waits for the worker when everything it queued has been read.
  bool Truncated() const override;
  /// Bytes handed out so far, those the wrapped reader gave before it was taken over included.
  std::uint64_t TotalOut() const noexcept override { return total_out_; }

 private:
  struct Block {
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t size = 0;
  };

  /// The worker: inflates blocks until the end, a failure or the stop.
  void Run();
  /// Inflates one block; false when the worker ended (end, failure, stop).
  bool InflateBlock();
  /// Makes the next queued block current; false at the end. Rethrows the worker's failure.
  bool NextBlock();
  /// Waits until a block is queued or the worker ended; `lock` holds mutex_.
  void AwaitWorker(std::unique_lock<std::mutex>& lock) const;

  std::unique_ptr<InflateReader> source_;  ///< only the worker touches it until done_

  mutable std::mutex mutex_;
  mutable std::condition_variable queued_;  ///< a block was queued or the worker ended
  std::condition_variable space_;           ///< a block left the queue or the stop came
  std::deque<Block> queue_;
  std::vector<std::unique_ptr<unsigned char[]>> spare_;  ///< read blocks for the worker to reuse
  bool done_ = false;
  std::atomic<bool> stop_ = false;  ///< set under mutex_, also read between buffers
  bool finished_ = false;
  bool truncated_ = false;
  std::exception_ptr error_;

  // The reader's side, touched only by the thread that reads.
  Block current_;
  std::size_t position_ = 0;
  std::uint64_t total_out_ = 0;

  std::thread worker_;  ///< last, so that it starts after and stops before everything above
};

}  // namespace tamaril::replication
