#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tamaril::dataset {

/// Where binary data goes: a memory buffer, a file, a compressing stream. All integers are
/// written little-endian. Write failures throw (DatasetError or the sink's own error).
class ByteWriter {
 public:
  virtual ~ByteWriter() = default;
  virtual void Write(const void* data, std::size_t size) = 0;

  void WriteU8(std::uint8_t value) { Write(&value, 1); }
  void WriteU16(std::uint16_t value);
  void WriteI32(std::int32_t value);
  void WriteBytes(std::string_view bytes) { Write(bytes.data(), bytes.size()); }
};

/// Where binary data comes from. A source may be damaged or crafted: every read is checked,
/// and a length read from the data is never trusted for an allocation.
class ByteReader {
 public:
  virtual ~ByteReader() = default;
  /// Reads up to `size` bytes; returns how many were read (0 at the end).
  virtual std::size_t Read(void* data, std::size_t size) = 0;

  /// Reads exactly `size` bytes; throws DatasetError "Unexpected end of stream" when fewer come.
  void ReadExact(void* data, std::size_t size);
  std::uint8_t ReadU8();
  std::uint16_t ReadU16();
  std::int32_t ReadI32();
  /// Reads exactly `size` bytes into a string, growing it as data arrives (a huge count from a
  /// short stream fails at its end without allocating the count); throws as ReadExact.
  std::string ReadBytes(std::size_t size);
  /// Reads bytes up to and including the first `stop` byte, `limit` bytes at most, and nothing
  /// after it; returns how many were read: fewer than `limit` without `stop` last only at the
  /// end. The base reads byte by byte; a reader that holds its bytes in memory finds the stop
  /// byte there.
  virtual std::size_t ReadTo(std::uint8_t stop, void* data, std::size_t limit);
};

/// Writes into a string in memory.
class MemoryWriter : public ByteWriter {
 public:
  void Write(const void* data, std::size_t size) override;
  const std::string& Data() const noexcept { return data_; }
  /// The bytes written so far; the writer is empty afterwards.
  std::string Take() {
    std::string taken = std::move(data_);
    data_.clear();
    return taken;
  }

 private:
  std::string data_;
};

/// Reads from bytes in memory (not owned: they must outlive the reader).
class MemoryReader : public ByteReader {
 public:
  explicit MemoryReader(std::string_view data) : data_(data) {}
  std::size_t Read(void* data, std::size_t size) override;
  std::size_t ReadTo(std::uint8_t stop, void* data, std::size_t limit) override;
  std::size_t Remaining() const noexcept { return data_.size() - position_; }

 private:
  std::string_view data_;
  std::size_t position_ = 0;
};

/// Reads a file (UTF-8 path); throws DatasetError when it cannot be opened or read.
class FileReader : public ByteReader {
 public:
  explicit FileReader(const std::string& path);
  ~FileReader() override;
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;
  std::size_t Read(void* data, std::size_t size) override;

 private:
  int fd_ = -1;
  std::string path_;
};

/// Writes a file so that it is complete or absent: the bytes go to a temporary file beside it,
/// and `Commit` renames that over the target. Without `Commit` the temporary file is removed
/// and the target stays as it was. Throws DatasetError with the system's reason.
class AtomicFileWriter : public ByteWriter {
 public:
  /// Starts a temporary file beside `path` with the mode of the existing target, or with
  /// `new_file_mode` when there is none yet; throws DatasetError when it cannot be created.
  explicit AtomicFileWriter(const std::string& path, unsigned new_file_mode = 0644);
  ~AtomicFileWriter() override;
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
  void Write(const void* data, std::size_t size) override;
  /// Flushes, syncs and renames the temporary file over the target.
  void Commit();

 private:
  int fd_ = -1;
  std::string path_;
  std::string temp_path_;
};

/// Writes a length-prefixed string: signed 32-bit count, then the bytes.
void WriteStreamString(std::string_view text, ByteWriter& stream);
/// Reads a length-prefixed string; a count of 0 or less gives the empty string.
std::string ReadStreamString(ByteReader& stream);

}  // namespace tamaril::dataset
