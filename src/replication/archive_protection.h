#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "dataset/stream.h"
#include "replication/site_keys.h"

namespace tamaril::replication {

// An archive file may be signed, sealed, both or neither.
//
// Signed: the zlib stream, then a 104-byte trailer: the signer's Ed25519 public key (32 bytes),
// the Ed25519ph signature (64 bytes, libsodium's crypto_sign_final_create) of kSignatureMagic
// followed by every byte of the zlib stream, and kSignatureMagic (8 bytes). A reader that stops
// at the end of the zlib stream never sees the trailer; an unsigned archive is the zlib stream
// alone.
//
// Sealed: kSealMagic (8 bytes), the 34-byte archive header in the clear (so that the exporting
// site, which cannot open its own sealed archive, still knows it by its EXPORTNO), the
// recipient's Ed25519 public key (32 bytes), the 32-byte key of
// the stream sealed to the recipient's X25519 key (crypto_box_seal, 80 bytes), the
// crypto_secretstream_xchacha20poly1305 header (24 bytes), then chunks: a 32-bit little-endian
// length and that many bytes of ciphertext, each of at most kSealChunkSize plain bytes; the
// last chunk carries the FINAL tag and nothing follows it. The first chunk authenticates the
// 74 bytes before the sealed key as its additional data. The plain bytes are the whole archive
// as it would be unsealed, trailer included.

/// The last 8 bytes of a signed archive.
inline constexpr std::string_view kSignatureMagic{"TMRSIGN1", 8};
/// The first 8 bytes of a sealed archive.
inline constexpr std::string_view kSealMagic{"TMRSEAL1", 8};
/// The size of the signature trailer.
inline constexpr std::size_t kSignatureTrailerSize = 32 + 64 + kSignatureMagic.size();
/// The most plain bytes of one sealed chunk.
inline constexpr std::size_t kSealChunkSize = std::size_t{64} << 10;

/// What an archive being written gets: a signature by the site's key, a seal to a partner's key.
struct tArchiveProtection {
  std::optional<tSiteKey> SignWith;  ///< the exporting site's key pair
  std::optional<tPublicKey> SealTo;  ///< the center's public key
  bool Any() const noexcept { return SignWith.has_value() || SealTo.has_value(); }
};

/// What the export definition of `signature` (Windows-1250) asks for: the site's key when it
/// has one, the seal key of the definition. Throws ReplicationError for an unusable key file or
/// seal key, IniFileError for an unreadable keys file.
tArchiveProtection ArchiveProtectionFor(std::string_view signature);

/// Signs and seals the bytes of a zlib stream on their way into `target` (not owned).
class tProtectingWriter : public dataset::ByteWriter {
 public:
  /// `header` is the archive's 34-byte header, which a sealed file repeats in the clear. Throws
  /// ReplicationError when libsodium cannot start.
  tProtectingWriter(dataset::ByteWriter& target, const tArchiveProtection& protection,
                    std::string_view header);
  ~tProtectingWriter() override;
  tProtectingWriter(const tProtectingWriter&) = delete;
  tProtectingWriter& operator=(const tProtectingWriter&) = delete;

  void Write(const void* data, std::size_t size) override;
  /// Writes the trailer and the final chunk; throws what the target throws.
  void Finish();

 private:
  class State;
  std::unique_ptr<State> state_;
};

/// Whether an archive carries a signature, and whose.
enum class tSignatureState {
  Unsigned,  ///< no trailer
  Valid,     ///< a trailer whose signature holds for the content and its key
  Invalid,   ///< a trailer whose signature does not hold: the file was altered after signing
};

/// The zlib stream of an archive file: a sealed one opened with the site's key, the signature
/// trailer held back and checked at the end.
class tArchiveSource : public dataset::ByteReader {
 public:
  /// Opens the file `path` (UTF-8). A sealed file needs the site's key (SiteKeyPath); throws
  /// ReplicationError naming the file when there is none or it was sealed to another key, and
  /// DatasetError when the file cannot be opened.
  explicit tArchiveSource(const std::string& path);
  ~tArchiveSource() override;
  tArchiveSource(const tArchiveSource&) = delete;
  tArchiveSource& operator=(const tArchiveSource&) = delete;

  /// The bytes of the zlib stream; 0 at its end. Throws ReplicationError for sealed data that
  /// fails its check or ends before its final chunk.
  std::size_t Read(void* data, std::size_t size) override;
  /// True for a sealed file.
  bool Sealed() const noexcept;
  /// The signature, known once Read returned 0.
  tSignatureState Signature() const noexcept;
  /// The key in the trailer (Valid or Invalid).
  const tPublicKey& Signer() const noexcept;

 private:
  class State;
  std::unique_ptr<State> state_;
};

/// What reading an archive file through told about its signature.
struct tArchiveCheck {
  bool Sealed = false;
  tSignatureState Signature = tSignatureState::Unsigned;
  tPublicKey Signer{};
};

/// The header bytes a sealed archive file carries in the clear; nothing for a file that is not
/// sealed or too short.
std::optional<std::string> SealedArchiveHeader(const std::string& path);

/// Reads the archive file `path` (UTF-8) through and checks its signature; throws as
/// tArchiveSource does.
tArchiveCheck CheckArchiveFile(const std::string& path);

/// A copy of an archive file that only this process's user can read or change (mode 0600, in
/// the system's temporary folder), removed again with the object.
class tArchiveCopy {
 public:
  /// Copies the file `path` (UTF-8); throws ReplicationError (Czech, Windows-1250) naming the
  /// file when it cannot be read or the copy cannot be written.
  explicit tArchiveCopy(const std::string& path);
  ~tArchiveCopy();
  tArchiveCopy(const tArchiveCopy&) = delete;
  tArchiveCopy& operator=(const tArchiveCopy&) = delete;
  /// The copy's path (UTF-8).
  const std::string& Path() const noexcept { return path_; }

 private:
  std::string path_;
};

/// What the import makes of an archive's signature.
struct tTrustVerdict {
  bool Refused = false;
  std::string Text;  ///< the reason of a refusal, else the line for the log (Windows-1250)
  /// With a trusted key, the private copy whose bytes were checked: the merge reads it, so that
  /// the file in the import folder cannot be swapped or changed between the check and the merge.
  std::unique_ptr<tArchiveCopy> Checked;
};

/// Judges the archive file `path` (UTF-8) for the import definition of `signature`
/// (Windows-1250): with a trusted key a private copy of it must be signed by that key and
/// unaltered; without one it is accepted as not verified. Reading problems and an unusable
/// stored key refuse it.
tTrustVerdict JudgeArchiveTrust(const std::string& path, std::string_view signature);

/// Why an archive is not accepted under the trusted key `trusted` (Windows-1250), or empty
/// when it is signed by that key.
std::string TrustProblem(const tArchiveCheck& check, const tPublicKey& trusted);

}  // namespace tamaril::replication
