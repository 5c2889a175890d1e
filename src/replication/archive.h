#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <zlib.h>

#include "dataset/stream.h"
#include "replication/archive_protection.h"
#include "replication/text_form.h"

namespace tamaril::replication {

class ParallelDeflateWriter;

// A transfer archive is one zlib stream. Its content: the 34-byte header, the byte 1 and the
// table list, then per table the byte 2, a 16-bit flag (−1 for the deleted-rows table), the
// name, the layout and rows (3, record, 243) ended by 242; the byte 241 ends the content.

/// Marker bytes of the archive content.
enum class ArchiveMarker : std::uint8_t {
  TableList = 1,
  Table = 2,
  Row = 3,
  End = 0xF1,
  TableEnd = 0xF2,
  RowEnd = 0xF3,
};

inline constexpr std::size_t kArchiveHeaderSize = 34;
/// The first 11 bytes of every archive of the compatible form: the length byte 10 and
/// "^SQLKELM^Z".
inline constexpr std::string_view kArchiveIdentification{"\x0a^SQLKELM^Z", 11};
/// The first 11 bytes of an archive of the Unicode form: the length byte 10 and "^SQLKELM^U".
/// A reader that knows only the compatible form does not take it for an archive.
inline constexpr std::string_view kUnicodeArchiveIdentification{"\x0a^SQLKELM^U", 11};
/// The extension of archive files.
inline constexpr std::string_view kArchiveExtension = ".ZR2";
/// The most characters of a Signature.
inline constexpr std::size_t kMaxSignatureLength = 10;
/// The header flag of the deleted-rows table.
inline constexpr std::int16_t kDeletedRowsFlag = -1;

// Bounds of what an archive may carry. Table names are identifiers of at most 128 characters
// (qualified and quoted they stay far below 1 KiB); a layout has one short entry per column;
// the table list names the tables of one export and their masters.
/// The most bytes of a table name.
inline constexpr std::size_t kMaxTableNameLength = 1024;
/// The most bytes of a table's field layout.
inline constexpr std::size_t kMaxLayoutLength = std::size_t{1} << 20;
/// The most bytes of the table list text.
inline constexpr std::size_t kMaxTableListLength = std::size_t{16} << 20;
/// The most names in the table list.
inline constexpr std::size_t kMaxTableCount = 100000;

/// The 34-byte archive header.
struct tArchiveHeader {
  bool Identified = false;  ///< the first 11 bytes equal one of the identifications
  /// Which identification: Unicode for kUnicodeArchiveIdentification.
  tTextForm Form = tTextForm::Compatible;
  std::string Signature;      ///< Windows-1250, at most 10 characters
  std::int32_t ExportNo = 0;  ///< EXPORTNO of the run
  double ExportTime = 0;      ///< days since 30 December 1899, time of day as the fraction
};

/// The 34 header bytes: identification (of the header's Form), Signature (length byte,
/// characters, zeros), EXPORTNO, export time; throws ReplicationError for a Signature of more
/// than 10 characters.
std::string EncodeArchiveHeader(const tArchiveHeader& header);
/// Decodes 34 header bytes (Identified tells whether they are an archive's, Form of which form);
/// a Signature length byte above 10 makes the header unidentified. Throws ReplicationError for
/// another size.
tArchiveHeader DecodeArchiveHeader(std::string_view bytes);
/// The header of the archive file at `path` (UTF-8): a sealed file's from the part it carries in
/// the clear, another one's from the start of its zlib stream. Nothing when the file cannot be
/// read or does not begin with an archive header.
std::optional<tArchiveHeader> ReadArchiveFileHeader(const std::string& path);

/// The first kArchiveHeaderSize bytes of the inflated content `content`; fewer when it ends
/// before them. Throws what the reader throws.
std::string ReadArchiveHeaderBytes(dataset::ByteReader& content);

/// The archives (regular files *.ZR2, the extension in any letter case) of `folder` (UTF-8),
/// sorted by name; none when it cannot be listed.
std::vector<std::string> ArchivesInFolder(const std::string& folder);

/// The archive path of a Signature: the folder with a trailing delimiter, the Signature without
/// leading and trailing blanks, ".ZR2".
std::string ArchiveFileName(const std::string& folder, std::string_view signature);

/// Reads the table list text (after its marker) and splits it into its names (CR LF between
/// them); throws ReplicationError for a list, a name or a count beyond the bounds above and
/// DatasetError for a cut string.
std::vector<std::string> ReadTableList(dataset::ByteReader& content);
/// Reads a table name of a table header; throws ReplicationError beyond kMaxTableNameLength
/// and DatasetError for a cut string.
std::string ReadTableName(dataset::ByteReader& content);
/// Reads the field layout of a table header; throws ReplicationError beyond kMaxLayoutLength
/// and DatasetError for a cut string.
std::string ReadTableLayout(dataset::ByteReader& content);

/// Archive content that can tell whether it ended cleanly where its end byte stands.
class ContentReader : public dataset::ByteReader {
 public:
  /// Throws ReplicationError unless the content ends here and its container is whole.
  virtual void VerifyEnd() = 0;
};

/// Content inflated from a compressed stream, with what reading it found.
class InflatedContent : public ContentReader {
 public:
  /// True once the zlib stream ended with a valid check value.
  virtual bool Finished() const = 0;
  /// True when the source ended before the zlib stream did and every byte before was read.
  virtual bool Truncated() const = 0;
  /// Uncompressed bytes read so far.
  virtual std::uint64_t TotalOut() const = 0;
};

/// Called after the end byte: VerifyEnd of a ContentReader; any other reader must hold no
/// more bytes. Throws ReplicationError.
void VerifyContentEnd(dataset::ByteReader& content);

/// Compresses into another writer (not owned) as one zlib stream at level 9. `Finish` ends the
/// stream; without it the target holds an unfinished stream.
class DeflateWriter : public dataset::ByteWriter {
 public:
  /// Throws ReplicationError when zlib cannot start.
  explicit DeflateWriter(dataset::ByteWriter& target, int level = Z_BEST_COMPRESSION);
  ~DeflateWriter() override;
  DeflateWriter(const DeflateWriter&) = delete;
  DeflateWriter& operator=(const DeflateWriter&) = delete;

  /// Throws ReplicationError after Finish and what the target throws.
  void Write(const void* data, std::size_t size) override;
  /// Writes the rest of the stream and its check value; throws as Write.
  void Finish();
  /// Uncompressed bytes written so far.
  std::uint64_t TotalIn() const noexcept { return total_in_; }

 private:
  /// Compresses the gathered input with `flush`.
  void CompressInput(int flush);
  void Pump(int flush);

  dataset::ByteWriter& target_;
  z_stream z_{};
  bool finished_ = false;
  std::uint64_t total_in_ = 0;
  std::unique_ptr<unsigned char[]> buffer_;  ///< compressed bytes on their way to the target
  std::unique_ptr<unsigned char[]> input_;   ///< written bytes not yet compressed
  std::size_t pending_in_ = 0;
};

/// Decompresses one zlib stream read from another reader (not owned). Reading past the end of
/// the stream yields no bytes. A source that ends before the stream does also yields no more
/// bytes and sets Truncated. Damaged data throws ReplicationError with zlib's message and the
/// archive's name.
class InflateReader : public InflatedContent {
 public:
  /// `name` stands for the source in messages (empty: none). Throws ReplicationError when zlib
  /// cannot start.
  explicit InflateReader(dataset::ByteReader& source, std::string name = {});
  ~InflateReader() override;
  InflateReader(const InflateReader&) = delete;
  InflateReader& operator=(const InflateReader&) = delete;

  std::size_t Read(void* data, std::size_t size) override;
  /// Reads up to `size` bytes from at most one inflated buffer, so that the bytes before damage
  /// or a failing source are handed out before the failure; 0 at the end. Throws as Read.
  std::size_t ReadSome(void* data, std::size_t size);
  /// Throws ReplicationError when content follows, when the stream does not end here with a
  /// right check value (zlib's message) or is cut off, and when bytes follow it in the source.
  void VerifyEnd() override;
  bool Finished() const noexcept override { return finished_; }
  bool Truncated() const noexcept override { return truncated_ && output_position_ == output_size_; }
  std::uint64_t TotalOut() const noexcept override { return total_out_; }
  /// "Archiv NAME" (or "Archiv" without a name), Windows-1250.
  std::string Subject() const;

 private:
  /// Inflates up to `size` bytes into `data`; 0 at the end of the stream or of the source.
  std::size_t Inflate(unsigned char* data, std::size_t size);
  /// Inflates the next buffer of output_; throws as Inflate, leaving it empty.
  void RefillOutput();

  dataset::ByteReader& source_;
  std::string name_;
  z_stream z_{};
  bool finished_ = false;
  bool truncated_ = false;
  std::uint64_t total_out_ = 0;
  std::unique_ptr<unsigned char[]> buffer_;  ///< compressed bytes read from the source
  std::unique_ptr<unsigned char[]> output_;  ///< inflated bytes not yet read
  std::size_t output_position_ = 0;
  std::size_t output_size_ = 0;
  std::string error_;  ///< damage found after bytes still to be handed out
};

/// Writes an archive file so that it is complete or absent: the bytes go to a temporary file
/// beside `path`, named as TemporaryArchiveName says, that only `Commit` renames over `path`.
/// `Finish` alone leaves it complete and synced under its temporary name, for a caller that
/// puts it in place itself. The temporary file goes with the writer unless it was committed or
/// kept. With more than one core the stream is compressed on worker threads. Failures are
/// ReplicationError "Zápis archivu PATH selhal: důvod" (Windows-1250, the reason in Czech).
class tArchiveWriter {
 public:
  /// Creates the temporary file and writes the header; throws ReplicationError (a long
  /// Signature, a file that cannot be created). `protection` signs or seals the file
  /// (archive_protection.h); without it the file is the zlib stream alone.
  tArchiveWriter(const std::string& path, const tArchiveHeader& header,
                 const tArchiveProtection& protection = {});
  ~tArchiveWriter();
  tArchiveWriter(const tArchiveWriter&) = delete;
  tArchiveWriter& operator=(const tArchiveWriter&) = delete;

  /// The compressing stream the publisher writes into.
  dataset::ByteWriter& Stream() noexcept { return *stream_; }
  /// Ends the zlib stream, syncs and closes the temporary file: the archive is then complete on
  /// the disk under TemporaryPath. Throws what writing throws.
  void Finish();
  /// Finishes (unless Finish did) and renames the temporary file over the path, then syncs the
  /// folder; throws what writing and renaming throw.
  void Commit();
  /// The temporary file stays when the writer goes: a later run decides about it.
  void Keep() noexcept;
  /// The temporary file's path (UTF-8).
  const std::string& TemporaryPath() const noexcept;
  /// Compressed bytes written (complete after Finish).
  std::uint64_t CompressedSize() const noexcept;

 private:
  class TemporaryFile;
  class CountingWriter;
  std::unique_ptr<TemporaryFile> file_;
  std::unique_ptr<tProtectingWriter> protecting_;  ///< between the counter and the file when protected
  std::unique_ptr<CountingWriter> counter_;
  std::unique_ptr<DeflateWriter> deflate_;           ///< the stream with a single core
  std::unique_ptr<ParallelDeflateWriter> parallel_;  ///< the stream with more cores
  dataset::ByteWriter* stream_ = nullptr;            ///< whichever of the two is in use
  bool finished_ = false;
};

/// True when `file_name` is the name of a temporary file tArchiveWriter makes for the archive
/// named `archive_file_name` (both without a folder): that name, a dot and six letters or digits.
bool IsTemporaryArchiveName(std::string_view file_name, std::string_view archive_file_name);

/// Opens an archive file and reads its header; the merger reads the rest from Stream and
/// verifies its end there. With more than one core the rest is inflated ahead on a worker
/// thread while the merger works.
class tArchiveReader {
 public:
  /// Throws DatasetError when the file cannot be opened, ReplicationError (naming the file)
  /// for damaged compressed data or a file too short for the header.
  explicit tArchiveReader(const std::string& path);
  /// Reads an archive from another source (owned), such as bytes in memory; `name` stands for
  /// it in messages. Throws ReplicationError as above.
  tArchiveReader(std::unique_ptr<dataset::ByteReader> source, const std::string& name);
  ~tArchiveReader();
  tArchiveReader(const tArchiveReader&) = delete;
  tArchiveReader& operator=(const tArchiveReader&) = delete;

  const tArchiveHeader& Header() const noexcept { return header_; }
  /// The decompressed content after the header.
  InflatedContent& Stream() noexcept { return *content_; }

 private:
  void ReadHeader(const std::string& name);

  std::unique_ptr<dataset::ByteReader> file_;
  std::unique_ptr<InflatedContent> content_;  ///< reads file_, so it goes first
  tArchiveHeader header_;
};

}  // namespace tamaril::replication
