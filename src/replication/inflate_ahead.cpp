#include "replication/inflate_ahead.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "replication/errors.h"
#include "text/encoding.h"

namespace tamaril::replication {

InflateAheadReader::InflateAheadReader(std::unique_ptr<InflateReader> source)
    : source_(std::move(source)), total_out_(source_->TotalOut()) {
  worker_ = std::thread([this] { Run(); });
}

InflateAheadReader::~InflateAheadReader() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  space_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void InflateAheadReader::Run() {
  try {
    while (InflateBlock()) {
    }
  } catch (...) {
    // Only a block that cannot be had (no memory) gets here; the reader fails where it is.
    const std::lock_guard lock(mutex_);
    error_ = std::current_exception();
    done_ = true;
    queued_.notify_all();
  }
}

bool InflateAheadReader::InflateBlock() {
  Block block;
  {
    const std::lock_guard lock(mutex_);
    if (stop_) return false;
    if (!spare_.empty()) {
      block.bytes = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  if (!block.bytes) block.bytes = std::make_unique<unsigned char[]>(kBlockSize);

  // The block is filled a buffer of the source at a time, so that a failure leaves the bytes
  // inflated before it in the block, ahead of the failure.
  bool end = false;
  std::exception_ptr error;
  try {
    while (block.size < kBlockSize) {
      if (stop_.load(std::memory_order_relaxed)) return false;
      const std::size_t got = source_->ReadSome(block.bytes.get() + block.size, kBlockSize - block.size);
      if (got == 0) {
        end = true;
        break;
      }
      block.size += got;
    }
  } catch (...) {
    error = std::current_exception();
  }
  const bool finished = source_->Finished();
  const bool truncated = source_->Truncated();

  std::unique_lock lock(mutex_);
  if (block.size > 0) {
    space_.wait(lock, [this] { return stop_ || queue_.size() < kMaxQueued; });
    if (stop_) return false;
    queue_.push_back(std::move(block));
  }
  finished_ = finished;
  truncated_ = truncated;
  if (end || error) {
    error_ = error;
    done_ = true;
  }
  queued_.notify_all();
  return !done_;
}

void InflateAheadReader::AwaitWorker(std::unique_lock<std::mutex>& lock) const {
  queued_.wait(lock, [this] { return !queue_.empty() || done_; });
}

bool InflateAheadReader::NextBlock() {
  std::unique_lock lock(mutex_);
  if (current_.bytes) spare_.push_back(std::move(current_.bytes));
  current_.size = 0;
  position_ = 0;
  AwaitWorker(lock);
  if (!queue_.empty()) {
    current_ = std::move(queue_.front());
    queue_.pop_front();
    space_.notify_all();
    return true;
  }
  if (error_) std::rethrow_exception(error_);
  return false;
}

std::size_t InflateAheadReader::Read(void* data, std::size_t size) {
  auto* target = static_cast<unsigned char*>(data);
  std::size_t delivered = 0;
  while (delivered < size) {
    if (position_ < current_.size) {
      const std::size_t chunk = std::min(size - delivered, current_.size - position_);
      std::memcpy(target + delivered, current_.bytes.get() + position_, chunk);
      position_ += chunk;
      delivered += chunk;
      continue;
    }
    if (!NextBlock()) break;
  }
  total_out_ += delivered;
  return delivered;
}

std::size_t InflateAheadReader::ReadTo(std::uint8_t stop, void* data, std::size_t limit) {
  auto* target = static_cast<unsigned char*>(data);
  std::size_t delivered = 0;
  while (delivered < limit) {
    if (position_ < current_.size) {
      const unsigned char* from = current_.bytes.get() + position_;
      const std::size_t window = std::min(limit - delivered, current_.size - position_);
      const void* found = std::memchr(from, stop, window);
      const std::size_t chunk =
          found == nullptr ? window
                           : static_cast<std::size_t>(static_cast<const unsigned char*>(found) - from) + 1;
      std::memcpy(target + delivered, from, chunk);
      position_ += chunk;
      delivered += chunk;
      if (found != nullptr) break;
      continue;
    }
    if (!NextBlock()) break;
  }
  total_out_ += delivered;
  return delivered;
}

void InflateAheadReader::VerifyEnd() {
  std::uint8_t byte = 0;
  if (Read(&byte, 1) != 0) {
    throw ReplicationError(source_->Subject() +
                           text::Utf8ToAnsi(": za koncovou značkou obsahu následují další data"));
  }
  // The read found the worker ended, so the source is this thread's again.
  source_->VerifyEnd();
}

bool InflateAheadReader::Finished() const {
  std::unique_lock lock(mutex_);
  if (position_ == current_.size) AwaitWorker(lock);
  return finished_;
}

bool InflateAheadReader::Truncated() const {
  std::unique_lock lock(mutex_);
  if (position_ < current_.size) return false;
  AwaitWorker(lock);
  return done_ && queue_.empty() && truncated_;
}

}  // namespace tamaril::replication
