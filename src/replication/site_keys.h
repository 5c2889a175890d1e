#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tamaril::replication {

// A site's key pair signs the archives it exports and opens the archives sealed to it. The
// public key, handed to the partner as one line of text, serves both: Ed25519 for signatures,
// and the X25519 key libsodium derives from it for sealing.

/// The secret key file in the program's folder.
inline constexpr std::string_view kSiteKeyFile = "SITE.KEY";
/// The start of a public key's text; the rest is its 32 bytes in URL-safe Base64.
inline constexpr std::string_view kPublicKeyPrefix = "ed25519:";

/// The bytes of an Ed25519 public key.
using tPublicKey = std::array<unsigned char, 32>;

/// The one-line text of a public key: "ed25519:" and 43 Base64 characters.
std::string PublicKeyText(const tPublicKey& key);
/// The key a text names (blanks around it ignored); nothing when it is not a key's text.
std::optional<tPublicKey> ParsePublicKey(std::string_view text);
/// ParsePublicKey that throws ReplicationError "Klíč „…“ není platný veřejný klíč …" (Windows-1250).
tPublicKey PublicKeyFromText(std::string_view text);
/// Why `text` cannot be kept as a partner's key of a definition (UTF-8), to follow the name of
/// the option or field that gave it: "„…“ není veřejný klíč; čekám …".
std::string NotAPublicKeyReason(std::string_view text);

/// The site's key pair. The secret never leaves this object except into libsodium's calls; it is
/// wiped when the object goes.
class tSiteKey {
 public:
  /// A new random key pair; throws ReplicationError when libsodium cannot start.
  static tSiteKey Generate();
  /// The key pair of a 32-byte seed.
  static tSiteKey FromSeed(const std::array<unsigned char, 32>& seed);
  ~tSiteKey();
  tSiteKey(const tSiteKey& other) = default;
  tSiteKey& operator=(const tSiteKey& other) = default;

  const tPublicKey& Public() const noexcept { return public_; }
  /// The Ed25519 secret key (seed and public key) as libsodium takes it.
  const unsigned char* Secret() const noexcept { return secret_.data(); }
  /// The seed the key pair comes from, as the key file keeps it.
  const unsigned char* Seed() const noexcept { return secret_.data(); }

 private:
  tSiteKey() = default;
  tPublicKey public_{};
  std::array<unsigned char, 64> secret_{};
};

/// The path (UTF-8) of the site's key file in the program's folder.
std::string SiteKeyPath();

/// Makes a new key pair and writes it to `path` (UTF-8), readable by the owner only. Throws
/// ReplicationError when the file exists already (the partners know its public key) or cannot
/// be written.
tSiteKey CreateSiteKey(const std::string& path);

/// The key pair kept in `path`; nothing when there is no such file. Throws ReplicationError
/// naming the file when it cannot be read, is readable by others than its owner, or does not
/// hold a key.
std::optional<tSiteKey> LoadSiteKey(const std::string& path);

/// Makes libsodium ready; throws ReplicationError when it cannot start.
void InitSodium();

}  // namespace tamaril::replication
