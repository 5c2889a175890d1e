#include "dataset/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "dataset/errors.h"

namespace tamaril::dataset {
namespace {

/// Bytes ReadBytes asks for at a time, so a count read from the data never sizes an allocation.
constexpr std::size_t kReadChunk = 64 * 1024;

std::string SystemReason() { return std::strerror(errno); }

}  // namespace

void ByteWriter::WriteU16(std::uint16_t value) {
  const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
  Write(bytes, sizeof bytes);
}

void ByteWriter::WriteI32(std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                                 static_cast<std::uint8_t>(bits >> 16),
                                 static_cast<std::uint8_t>(bits >> 24)};
  Write(bytes, sizeof bytes);
}

void ByteReader::ReadExact(void* data, std::size_t size) {
  auto* target = static_cast<std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < size) {
    const std::size_t got = Read(target + done, size - done);
    if (got == 0) throw DatasetError("Unexpected end of stream");
    done += got;
  }
}

std::uint8_t ByteReader::ReadU8() {
  std::uint8_t value = 0;
  ReadExact(&value, 1);
  return value;
}

std::uint16_t ByteReader::ReadU16() {
  std::uint8_t bytes[2];
  ReadExact(bytes, sizeof bytes);
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::int32_t ByteReader::ReadI32() {
  std::uint8_t bytes[4];
  ReadExact(bytes, sizeof bytes);
  const std::uint32_t bits =
      static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
      (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
  return static_cast<std::int32_t>(bits);
}

std::string ByteReader::ReadBytes(std::size_t size) {
  std::string result;
  while (result.size() < size) {
    const std::size_t chunk = std::min(kReadChunk, size - result.size());
    const std::size_t old_size = result.size();
    result.resize(old_size + chunk);
    ReadExact(result.data() + old_size, chunk);
  }
  return result;
}

std::size_t ByteReader::ReadTo(std::uint8_t stop, void* data, std::size_t limit) {
  auto* target = static_cast<std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < limit && Read(target + done, 1) == 1) {
    if (target[done++] == stop) break;
  }
  return done;
}

void MemoryWriter::Write(const void* data, std::size_t size) {
  data_.append(static_cast<const char*>(data), size);
}

std::size_t MemoryReader::Read(void* data, std::size_t size) {
  const std::size_t count = std::min(size, Remaining());
  if (count > 0) std::memcpy(data, data_.data() + position_, count);
  position_ += count;
  return count;
}

std::size_t MemoryReader::ReadTo(std::uint8_t stop, void* data, std::size_t limit) {
  const std::size_t window = std::min(limit, Remaining());
  const void* found = window > 0 ? std::memchr(data_.data() + position_, stop, window) : nullptr;
  const std::size_t count =
      found == nullptr
          ? window
          : static_cast<std::size_t>(static_cast<const char*>(found) - (data_.data() + position_)) + 1;
  return Read(data, count);
}

FileReader::FileReader(const std::string& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw DatasetError("Cannot open file " + path + ": " + SystemReason());
}

FileReader::~FileReader() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t FileReader::Read(void* data, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(fd_, data, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) throw DatasetError("Cannot read file " + path_ + ": " + SystemReason());
  }
}

AtomicFileWriter::AtomicFileWriter(const std::string& path, unsigned new_file_mode)
    : path_(path), temp_path_(path + ".XXXXXX") {
  fd_ = ::mkstemp(temp_path_.data());
  if (fd_ < 0) throw DatasetError("Cannot create file " + path + ": " + SystemReason());
  // mkstemp creates the file private; give it the target's mode, or the one asked for a new file.
  struct stat target_stat {};
  const mode_t mode = ::stat(path.c_str(), &target_stat) == 0 ? (target_stat.st_mode & 07777)
                                                              : static_cast<mode_t>(new_file_mode & 07777);
  ::fchmod(fd_, mode);
}

AtomicFileWriter::~AtomicFileWriter() {
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(temp_path_.c_str());
  }
}

void AtomicFileWriter::Write(const void* data, std::size_t size) {
  if (fd_ < 0) throw DatasetError("File " + path_ + " is already committed");
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd_, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      throw DatasetError("Cannot write file " + path_ + ": " + SystemReason());
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
}

void AtomicFileWriter::Commit() {
  if (fd_ < 0) throw DatasetError("File " + path_ + " is already committed");
  if (::fsync(fd_) != 0) throw DatasetError("Cannot write file " + path_ + ": " + SystemReason());
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    const std::string reason = SystemReason();
    ::unlink(temp_path_.c_str());
    throw DatasetError("Cannot write file " + path_ + ": " + reason);
  }
  if (::rename(temp_path_.c_str(), path_.c_str()) != 0) {
    const std::string reason = SystemReason();
    ::unlink(temp_path_.c_str());
    throw DatasetError("Cannot replace file " + path_ + ": " + reason);
  }
}

void WriteStreamString(std::string_view text, ByteWriter& stream) {
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    throw DatasetError("String too long for a stream");
  }
  stream.WriteI32(static_cast<std::int32_t>(text.size()));
  stream.WriteBytes(text);
}

std::string ReadStreamString(ByteReader& stream) {
  const std::int32_t count = stream.ReadI32();
  if (count <= 0) return {};
  return stream.ReadBytes(static_cast<std::size_t>(count));
}

}  // namespace tamaril::dataset
