#include "replication/archive.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <algorithm>
#include <bit>
#include <filesystem>
#include <system_error>
#include <thread>

#include "core/private_files.h"
#include "replication/errors.h"
#include "replication/file_ops.h"
#include "replication/file_problem.h"
#include "replication/inflate_ahead.h"
#include "replication/parallel_deflate.h"
#include "replication/zlib_text.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

/// Size of the compressed-data buffers of DeflateWriter and InflateReader.
constexpr std::size_t kBufferSize = 64 * 1024;
/// The most bytes handed to zlib in one call (its counters are 32-bit).
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

constexpr std::size_t kSignatureOffset = 11;
constexpr std::size_t kExportNoOffset = 22;
constexpr std::size_t kExportTimeOffset = 26;

[[noreturn]] void ThrowZlib(const z_stream& z, int code, std::string_view what) {
  throw ReplicationError(text::Utf8ToAnsi(what) + ZlibReasonText(z, code));
}

/// A length-prefixed string of at most `limit` bytes; `what` (UTF-8) names it in the refusal.
std::string ReadBoundedString(dataset::ByteReader& content, std::size_t limit, std::string_view what) {
  const std::int32_t count = content.ReadI32();
  if (count <= 0) return {};
  const auto size = static_cast<std::size_t>(count);
  if (size > limit) {
    throw ReplicationError(text::Utf8ToAnsi(std::string(what) + " má " + std::to_string(size) +
                                            " bajtů, smí mít nejvýše " + std::to_string(limit)));
  }
  return content.ReadBytes(size);
}

void PutLittleEndian(std::string& bytes, std::size_t offset, std::uint64_t value, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint64_t GetLittleEndian(std::string_view bytes, std::size_t offset, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) {
    value |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[offset + i])) << (8 * i);
  }
  return value;
}

}  // namespace

std::string EncodeArchiveHeader(const tArchiveHeader& header) {
  if (header.Signature.size() > kMaxSignatureLength) {
    throw ReplicationError(text::Utf8ToAnsi("Identifikace exportu je delší než 10 znaků: ") +
                           header.Signature);
  }
  std::string bytes(kArchiveHeaderSize, '\0');
  const std::string_view identification =
      header.Form == tTextForm::Unicode ? kUnicodeArchiveIdentification : kArchiveIdentification;
  std::copy(identification.begin(), identification.end(), bytes.begin());
  bytes[kSignatureOffset] = static_cast<char>(header.Signature.size());
  std::copy(header.Signature.begin(), header.Signature.end(), bytes.begin() + kSignatureOffset + 1);
  PutLittleEndian(bytes, kExportNoOffset, static_cast<std::uint32_t>(header.ExportNo), 4);
  PutLittleEndian(bytes, kExportTimeOffset, std::bit_cast<std::uint64_t>(header.ExportTime), 8);
  return bytes;
}

tArchiveHeader DecodeArchiveHeader(std::string_view bytes) {
  if (bytes.size() != kArchiveHeaderSize) {
    throw ReplicationError(text::Utf8ToAnsi("Hlavička archivu nemá 34 bajtů, ale ") +
                           std::to_string(bytes.size()));
  }
  tArchiveHeader header;
  const std::string_view identification = bytes.substr(0, kArchiveIdentification.size());
  header.Identified =
      identification == kArchiveIdentification || identification == kUnicodeArchiveIdentification;
  if (identification == kUnicodeArchiveIdentification) header.Form = tTextForm::Unicode;
  const auto length = static_cast<unsigned char>(bytes[kSignatureOffset]);
  if (length > kMaxSignatureLength) {
    header.Identified = false;
  } else {
    header.Signature = std::string(bytes.substr(kSignatureOffset + 1, length));
  }
  header.ExportNo =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(GetLittleEndian(bytes, kExportNoOffset, 4)));
  header.ExportTime = std::bit_cast<double>(GetLittleEndian(bytes, kExportTimeOffset, 8));
  return header;
}

std::vector<std::string> ReadTableList(dataset::ByteReader& content) {
  const std::string list = ReadBoundedString(content, kMaxTableListLength, "Seznam tabulek");
  // Names are split as they are checked, so a list of countless tiny names is refused before
  // it has been stored.
  constexpr std::string_view kBreaks = "\r\n";
  std::vector<std::string> names;
  std::size_t position = 0;
  while (position < list.size()) {
    const std::size_t start = list.find_first_not_of(kBreaks, position);
    if (start == std::string::npos) break;
    const std::size_t end = std::min(list.find_first_of(kBreaks, start), list.size());
    if (end - start > kMaxTableNameLength) {
      throw ReplicationError(text::Utf8ToAnsi("Název v seznamu tabulek má " + std::to_string(end - start) +
                                              " bajtů, smí mít nejvýše " +
                                              std::to_string(kMaxTableNameLength)));
    }
    if (names.size() == kMaxTableCount) {
      throw ReplicationError(
          text::Utf8ToAnsi("Seznam tabulek má více než " + std::to_string(kMaxTableCount) + " názvů"));
    }
    names.push_back(list.substr(start, end - start));
    position = end;
  }
  return names;
}

std::string ReadTableName(dataset::ByteReader& content) {
  return ReadBoundedString(content, kMaxTableNameLength, "Název tabulky");
}

std::string ReadTableLayout(dataset::ByteReader& content) {
  return ReadBoundedString(content, kMaxLayoutLength, "Popis polí tabulky");
}

void VerifyContentEnd(dataset::ByteReader& content) {
  if (auto* reader = dynamic_cast<ContentReader*>(&content)) {
    reader->VerifyEnd();
    return;
  }
  std::uint8_t byte = 0;
  if (content.Read(&byte, 1) != 0) {
    throw ReplicationError(text::Utf8ToAnsi("Za koncovou značkou archivu následují další data"));
  }
}

std::string ArchiveFileName(const std::string& folder, std::string_view signature) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  path += text::TrimBlanks(signature);
  path += kArchiveExtension;
  return path;
}

DeflateWriter::DeflateWriter(dataset::ByteWriter& target, int level)
    : target_(target),
      buffer_(std::make_unique<unsigned char[]>(kBufferSize)),
      input_(std::make_unique<unsigned char[]>(kBufferSize)) {
  const int code = deflateInit(&z_, level);
  if (code != Z_OK) ThrowZlib(z_, code, "Kompresi nelze zahájit: ");
  z_.next_out = buffer_.get();
  z_.avail_out = kBufferSize;
}

DeflateWriter::~DeflateWriter() { deflateEnd(&z_); }

void DeflateWriter::Write(const void* data, std::size_t size) {
  if (finished_) throw ReplicationError(text::Utf8ToAnsi("Zápis do ukončeného komprimovaného proudu"));
  // Small writes (a marker byte, a field) are gathered: deflate is called per buffer, not per write.
  const auto* bytes = static_cast<const unsigned char*>(data);
  total_in_ += size;
  while (size > 0) {
    const std::size_t room = kBufferSize - pending_in_;
    const std::size_t chunk = std::min(size, room);
    std::memcpy(input_.get() + pending_in_, bytes, chunk);
    pending_in_ += chunk;
    bytes += chunk;
    size -= chunk;
    if (pending_in_ == kBufferSize) CompressInput(Z_NO_FLUSH);
  }
}

void DeflateWriter::Finish() {
  if (finished_) return;
  CompressInput(Z_FINISH);
  finished_ = true;
}

void DeflateWriter::CompressInput(int flush) {
  z_.next_in = input_.get();
  z_.avail_in = static_cast<uInt>(pending_in_);
  pending_in_ = 0;
  Pump(flush);
}

void DeflateWriter::Pump(int flush) {
  for (;;) {
    if (z_.avail_out == 0) {
      target_.Write(buffer_.get(), kBufferSize);
      z_.next_out = buffer_.get();
      z_.avail_out = kBufferSize;
    }
    const int code = deflate(&z_, flush);
    if (code == Z_STREAM_END) break;
    if (code != Z_OK && code != Z_BUF_ERROR) ThrowZlib(z_, code, "Chyba komprese: ");
    if (flush == Z_NO_FLUSH && z_.avail_in == 0) return;
  }
  const std::size_t pending = kBufferSize - z_.avail_out;
  if (pending > 0) target_.Write(buffer_.get(), pending);
  z_.next_out = buffer_.get();
  z_.avail_out = kBufferSize;
}

InflateReader::InflateReader(dataset::ByteReader& source, std::string name)
    : source_(source),
      name_(std::move(name)),
      buffer_(std::make_unique<unsigned char[]>(kBufferSize)),
      output_(std::make_unique<unsigned char[]>(kBufferSize)) {
  const int code = inflateInit(&z_);
  if (code != Z_OK) ThrowZlib(z_, code, "Dekompresi nelze zahájit: ");
}

std::string InflateReader::Subject() const {
  return text::Utf8ToAnsi(name_.empty() ? "Archiv" : "Archiv " + name_);
}

InflateReader::~InflateReader() { inflateEnd(&z_); }

std::size_t InflateReader::Inflate(unsigned char* data, std::size_t size) {
  if (!error_.empty()) throw ReplicationError(error_);
  if (size == 0 || finished_ || truncated_) return 0;
  const std::size_t wanted = std::min(size, kMaxChunk);
  z_.next_out = data;
  z_.avail_out = static_cast<uInt>(wanted);
  while (z_.avail_out > 0) {
    if (z_.avail_in == 0) {
      const std::size_t got = source_.Read(buffer_.get(), kBufferSize);
      if (got == 0) {
        truncated_ = true;
        break;
      }
      z_.next_in = buffer_.get();
      z_.avail_in = static_cast<uInt>(got);
    }
    const int code = inflate(&z_, Z_NO_FLUSH);
    if (code == Z_STREAM_END) {
      finished_ = true;
      break;
    }
    if (code != Z_OK && code != Z_BUF_ERROR) {
      // The bytes decoded before the damage are handed out first; the error comes with the
      // next read, so a reader fails where the damage is, not a buffer earlier.
      const std::string reason = ZlibReasonText(z_, code);
      error_ = text::Utf8ToAnsi(name_.empty() ? "Chyba dekomprese: "
                                              : "Chyba dekomprese archivu " + name_ + ": ") +
               reason;
      if (z_.avail_out == wanted) throw ReplicationError(error_);
      break;
    }
  }
  return wanted - z_.avail_out;
}

std::size_t InflateReader::Read(void* data, std::size_t size) {
  auto* target = static_cast<unsigned char*>(data);
  std::size_t delivered = 0;
  // Small reads (a marker byte, a field) are served from a buffer filled a block at a time.
  while (delivered < size) {
    if (output_position_ < output_size_) {
      const std::size_t chunk = std::min(size - delivered, output_size_ - output_position_);
      std::memcpy(target + delivered, output_.get() + output_position_, chunk);
      output_position_ += chunk;
      delivered += chunk;
      continue;
    }
    const std::size_t rest = size - delivered;
    if (rest >= kBufferSize) {
      const std::size_t got = Inflate(target + delivered, rest);
      if (got == 0) break;
      delivered += got;
      continue;
    }
    RefillOutput();
    if (output_size_ == 0) break;
  }
  total_out_ += delivered;
  return delivered;
}

void InflateReader::RefillOutput() {
  // Emptied first: when inflating throws, a later read must not hand out the old bytes again.
  output_position_ = 0;
  output_size_ = 0;
  output_size_ = Inflate(output_.get(), kBufferSize);
}

std::size_t InflateReader::ReadSome(void* data, std::size_t size) {
  if (size == 0) return 0;
  if (output_position_ == output_size_) {
    RefillOutput();
    if (output_size_ == 0) return 0;
  }
  const std::size_t chunk = std::min(size, output_size_ - output_position_);
  std::memcpy(data, output_.get() + output_position_, chunk);
  output_position_ += chunk;
  total_out_ += chunk;
  return chunk;
}

void InflateReader::VerifyEnd() {
  std::uint8_t byte = 0;
  // Reading on drives zlib to the end of its stream, where it compares the check value.
  if (Read(&byte, 1) != 0) {
    throw ReplicationError(Subject() + text::Utf8ToAnsi(": za koncovou značkou obsahu následují další data"));
  }
  if (!finished_)
    throw ReplicationError(Subject() + text::Utf8ToAnsi(" je useknutý: komprimovaný proud nekončí"));
  if (z_.avail_in > 0 || source_.Read(&byte, 1) != 0) {
    throw ReplicationError(Subject() + text::Utf8ToAnsi(": za komprimovaným proudem následují další bajty"));
  }
}

/// The temporary file of an archive: created beside the archive with a unique suffix, removed
/// when it goes unless it was renamed into place or kept.
class tArchiveWriter::TemporaryFile : public dataset::ByteWriter {
 public:
  explicit TemporaryFile(const std::string& path) : path_(path), temporary_(path + ".XXXXXX") {
    fd_ = ::mkstemp(temporary_.data());
    if (fd_ < 0) Fail("Archiv " + path_ + " nelze vytvořit: ", errno);
    // An archive holds customer rows: private, or stricter when the one it replaces was made so.
    ::fchmod(fd_, core::PrivateFileModeFor(path_));
  }
  ~TemporaryFile() override {
    if (fd_ >= 0) ::close(fd_);
    if (!placed_ && !kept_) ::unlink(temporary_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  void Write(const void* data, std::size_t size) override {
    if (fd_ < 0) throw ReplicationError(text::Utf8ToAnsi("Archiv " + path_ + " je už uzavřen"));
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t written = ::write(fd_, bytes, size);
      if (written < 0) {
        if (errno == EINTR) continue;
        WriteFailed(errno);
      }
      bytes += written;
      size -= static_cast<std::size_t>(written);
    }
  }

  /// Syncs and closes the file, then syncs its folder: its bytes and its name are on the disk.
  void Close() {
    if (::fsync(fd_) != 0) WriteFailed(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) WriteFailed(errno);
    if (const int error = SyncFolder(FolderOf(path_)); error != 0) WriteFailed(error);
  }

  /// Renames the closed file over the archive's path and syncs the folder.
  void Place() {
    RenameFile(temporary_, path_);
    placed_ = true;
    if (const int error = SyncFolder(FolderOf(path_)); error != 0) WriteFailed(error);
  }

  void Keep() noexcept { kept_ = true; }
  const std::string& TemporaryPath() const noexcept { return temporary_; }

 private:
  [[noreturn]] void WriteFailed(int error) { Fail("Zápis archivu " + path_ + " selhal: ", error); }
  [[noreturn]] static void Fail(const std::string& what, int error) {
    throw ReplicationError(text::Utf8ToAnsi(what) + SystemReasonText(error));
  }

  int fd_ = -1;
  std::string path_;
  std::string temporary_;
  bool placed_ = false;
  bool kept_ = false;
};

/// Passes bytes on and counts them.
class tArchiveWriter::CountingWriter : public dataset::ByteWriter {
 public:
  explicit CountingWriter(dataset::ByteWriter& target) : target_(target) {}
  void Write(const void* data, std::size_t size) override {
    target_.Write(data, size);
    count_ += size;
  }
  std::uint64_t Count() const noexcept { return count_; }

 private:
  dataset::ByteWriter& target_;
  std::uint64_t count_ = 0;
};

tArchiveWriter::tArchiveWriter(const std::string& path, const tArchiveHeader& header,
                               const tArchiveProtection& protection) {
  const std::string header_bytes = EncodeArchiveHeader(header);
  file_ = std::make_unique<TemporaryFile>(path);
  if (protection.Any()) protecting_ = std::make_unique<tProtectingWriter>(*file_, protection, header_bytes);
  counter_ =
      protecting_ ? std::make_unique<CountingWriter>(*protecting_) : std::make_unique<CountingWriter>(*file_);
  if (std::thread::hardware_concurrency() > 1) {
    try {
      parallel_ = std::make_unique<ParallelDeflateWriter>(*counter_);
      stream_ = parallel_.get();
    } catch (const std::system_error&) {
      // No threads to be had: the archive is written on this one alone.
    }
  }
  if (stream_ == nullptr) {
    deflate_ = std::make_unique<DeflateWriter>(*counter_);
    stream_ = deflate_.get();
  }
  stream_->WriteBytes(header_bytes);
}

tArchiveWriter::~tArchiveWriter() = default;

void tArchiveWriter::Finish() {
  if (finished_) return;
  if (parallel_) {
    parallel_->Finish();
  } else {
    deflate_->Finish();
  }
  if (protecting_) protecting_->Finish();
  file_->Close();
  finished_ = true;
}

void tArchiveWriter::Commit() {
  Finish();
  file_->Place();
}

void tArchiveWriter::Keep() noexcept { file_->Keep(); }

const std::string& tArchiveWriter::TemporaryPath() const noexcept { return file_->TemporaryPath(); }

std::uint64_t tArchiveWriter::CompressedSize() const noexcept { return counter_->Count(); }

bool IsTemporaryArchiveName(std::string_view file_name, std::string_view archive_file_name) {
  constexpr std::size_t kSuffixLength = 6;
  if (file_name.size() != archive_file_name.size() + 1 + kSuffixLength) return false;
  if (file_name.substr(0, archive_file_name.size()) != archive_file_name) return false;
  if (file_name[archive_file_name.size()] != '.') return false;
  const std::string_view suffix = file_name.substr(archive_file_name.size() + 1);
  return std::all_of(suffix.begin(), suffix.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

tArchiveReader::tArchiveReader(const std::string& path) : file_(std::make_unique<tArchiveSource>(path)) {
  ReadHeader(path);
}

tArchiveReader::tArchiveReader(std::unique_ptr<dataset::ByteReader> source, const std::string& name)
    : file_(std::move(source)) {
  ReadHeader(name);
}

tArchiveReader::~tArchiveReader() = default;

void tArchiveReader::ReadHeader(const std::string& name) {
  auto inflate = std::make_unique<InflateReader>(*file_, name);
  const std::string bytes = ReadArchiveHeaderBytes(*inflate);
  if (bytes.size() < kArchiveHeaderSize)
    throw ReplicationError(text::Utf8ToAnsi("Soubor " + name + " není úplný archiv"));
  header_ = DecodeArchiveHeader(bytes);
  // A single core gains nothing from a second thread; the merger then inflates as it reads.
  if (std::thread::hardware_concurrency() > 1) {
    content_ = std::make_unique<InflateAheadReader>(std::move(inflate));
  } else {
    content_ = std::move(inflate);
  }
}

std::optional<tArchiveHeader> ReadArchiveFileHeader(const std::string& path) {
  // A sealed archive only the center opens; its header is in the clear for this.
  if (const auto sealed = SealedArchiveHeader(path)) {
    tArchiveHeader header = DecodeArchiveHeader(*sealed);
    if (!header.Identified) return std::nullopt;
    return header;
  }
  try {
    dataset::FileReader file(path);
    InflateReader content(file);
    const std::string bytes = ReadArchiveHeaderBytes(content);
    if (bytes.size() < kArchiveHeaderSize) return std::nullopt;
    tArchiveHeader header = DecodeArchiveHeader(bytes);
    if (!header.Identified) return std::nullopt;
    return header;
  } catch (const Error&) {
    return std::nullopt;
  }
}

std::string ReadArchiveHeaderBytes(dataset::ByteReader& content) {
  std::string bytes(kArchiveHeaderSize, '\0');
  std::size_t got = 0;
  while (got < bytes.size()) {
    const std::size_t part = content.Read(bytes.data() + got, bytes.size() - got);
    if (part == 0) break;
    got += part;
  }
  bytes.resize(got);
  return bytes;
}

std::vector<std::string> ArchivesInFolder(const std::string& folder) {
  std::vector<std::string> archives;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code kind_error;
    if (!it->is_regular_file(kind_error)) continue;
    if (text::EqualsIgnoreCaseAscii(it->path().extension().string(), kArchiveExtension))
      archives.push_back(it->path().string());
  }
  std::sort(archives.begin(), archives.end());
  return archives;
}

}  // namespace tamaril::replication
