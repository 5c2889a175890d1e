#include "replication/site_keys.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>
#include <cerrno>

#include "core/paths.h"
#include "core/private_files.h"
#include "replication/errors.h"
#include "replication/file_problem.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::replication {

namespace {

constexpr int kBase64Variant = sodium_base64_VARIANT_URLSAFE_NO_PADDING;
/// The start of the key file's one line; the rest is the 32-byte seed in URL-safe Base64.
constexpr std::string_view kSeedPrefix = "ed25519-seed:";
/// The most bytes a key file of ours holds; anything longer is not one.
constexpr std::size_t kMaxKeyFileSize = 256;

std::string Base64(const unsigned char* bytes, std::size_t size) {
  std::string text(sodium_base64_ENCODED_LEN(size, kBase64Variant), '\0');
  sodium_bin2base64(text.data(), text.size(), bytes, size, kBase64Variant);
  text.resize(text.size() - 1);  // the terminating zero
  return text;
}

/// Decodes exactly `size` bytes of Base64 text; false for anything else.
bool FromBase64(std::string_view text, unsigned char* bytes, std::size_t size) {
  std::size_t decoded = 0;
  const char* end = nullptr;
  if (sodium_base642bin(bytes, size, text.data(), text.size(), nullptr, &decoded, &end, kBase64Variant) != 0)
    return false;
  return decoded == size && end == text.data() + text.size();
}

[[noreturn]] void KeyFileError(const std::string& path, const std::string& reason) {
  throw ReplicationError(text::Utf8ToAnsi("Soubor klíče " + path + " " + reason));
}

}  // namespace

void InitSodium() {
  if (sodium_init() < 0) throw ReplicationError(text::Utf8ToAnsi("Knihovnu libsodium nelze spustit"));
}

std::string PublicKeyText(const tPublicKey& key) {
  InitSodium();
  return std::string(kPublicKeyPrefix) + Base64(key.data(), key.size());
}

std::optional<tPublicKey> ParsePublicKey(std::string_view text) {
  InitSodium();
  text = text::TrimBlanks(text);
  if (text.substr(0, kPublicKeyPrefix.size()) != kPublicKeyPrefix) return std::nullopt;
  tPublicKey key{};
  if (!FromBase64(text.substr(kPublicKeyPrefix.size()), key.data(), key.size())) return std::nullopt;
  // A text that decodes but is no point of the curve would verify nothing and seal to nobody.
  std::array<unsigned char, crypto_scalarmult_curve25519_BYTES> x25519{};
  if (crypto_sign_ed25519_pk_to_curve25519(x25519.data(), key.data()) != 0) return std::nullopt;
  return key;
}

tPublicKey PublicKeyFromText(std::string_view text) {
  if (auto key = ParsePublicKey(text)) return *key;
  std::string shown(text::TrimBlanks(text).substr(0, 60));
  throw ReplicationError(text::Utf8ToAnsi("Klíč „") + shown +
                         text::Utf8ToAnsi("“ není platný veřejný klíč: čekám text „ed25519:…“, jak ho vypíše "
                                          "tamaril-cli keys show"));
}

std::string NotAPublicKeyReason(std::string_view text) {
  return "„" + std::string(text) +
         "“ není veřejný klíč; čekám jeden řádek „ed25519:…“, jak ho u partnera vypíše tamaril-cli keys show "
         "(prázdná hodnota klíč odebere)";
}

tSiteKey tSiteKey::Generate() {
  InitSodium();
  std::array<unsigned char, 32> seed{};
  randombytes_buf(seed.data(), seed.size());
  tSiteKey key = FromSeed(seed);
  sodium_memzero(seed.data(), seed.size());
  return key;
}

tSiteKey tSiteKey::FromSeed(const std::array<unsigned char, 32>& seed) {
  InitSodium();
  tSiteKey key;
  crypto_sign_seed_keypair(key.public_.data(), key.secret_.data(), seed.data());
  return key;
}

tSiteKey::~tSiteKey() { sodium_memzero(secret_.data(), secret_.size()); }

std::string SiteKeyPath() {
  return core::IncludeTrailingDelimiter(core::ProgramFolder()) + std::string(kSiteKeyFile);
}

tSiteKey CreateSiteKey(const std::string& path) {
  tSiteKey key = tSiteKey::Generate();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, core::kPrivateFileMode);
  if (fd < 0) {
    if (errno == EEXIST) {
      KeyFileError(path,
                   "už existuje; nový klíč by partneři neznali. Jeho veřejný klíč vypíše "
                   "tamaril-cli keys show");
    }
    KeyFileError(path, "nelze vytvořit: " + text::AnsiToUtf8(SystemReasonText(errno)));
  }
  std::string line = std::string(kSeedPrefix) + Base64(key.Seed(), 32) + "\n";
  int error = 0;
  if (::fchmod(fd, core::kPrivateFileMode) != 0) error = errno;
  std::size_t written = 0;
  while (error == 0 && written < line.size()) {
    const ssize_t part = ::write(fd, line.data() + written, line.size() - written);
    if (part < 0 && errno == EINTR) continue;
    if (part <= 0) error = part < 0 ? errno : EIO;
    if (part > 0) written += static_cast<std::size_t>(part);
  }
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  sodium_memzero(line.data(), line.size());
  if (error != 0) {
    ::unlink(path.c_str());
    KeyFileError(path, "nelze zapsat: " + text::AnsiToUtf8(SystemReasonText(error)));
  }
  return key;
}

std::optional<tSiteKey> LoadSiteKey(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    KeyFileError(path, "nelze otevřít: " + text::AnsiToUtf8(SystemReasonText(errno)));
  }
  struct stat status {};
  std::string content(kMaxKeyFileSize + 1, '\0');
  ssize_t got = -1;
  const bool stated = ::fstat(fd, &status) == 0;
  if (stated && S_ISREG(status.st_mode) && (status.st_mode & 077) == 0) {
    do {
      got = ::read(fd, content.data(), content.size());
    } while (got < 0 && errno == EINTR);
  }
  const int read_error = errno;
  ::close(fd);
  if (!stated || !S_ISREG(status.st_mode)) KeyFileError(path, "není obyčejný soubor");
  if ((status.st_mode & 077) != 0) {
    KeyFileError(path, fmt::format("smí číst jen jeho vlastník, má ale práva {:04o}; nastavte je příkazem "
                                   "chmod 600 {}",
                                   status.st_mode & 07777, path));
  }
  if (got < 0) KeyFileError(path, "nelze přečíst: " + text::AnsiToUtf8(SystemReasonText(read_error)));
  content.resize(static_cast<std::size_t>(got));
  const std::string_view line = text::TrimBlanks(std::string_view(content));
  std::array<unsigned char, 32> seed{};
  const bool valid = content.size() <= kMaxKeyFileSize && line.substr(0, kSeedPrefix.size()) == kSeedPrefix &&
                     (InitSodium(), FromBase64(line.substr(kSeedPrefix.size()), seed.data(), seed.size()));
  sodium_memzero(content.data(), content.size());
  if (!valid) KeyFileError(path, "neobsahuje klíč místa (vytváří ho tamaril-cli keys create)");
  tSiteKey key = tSiteKey::FromSeed(seed);
  sodium_memzero(seed.data(), seed.size());
  return key;
}

}  // namespace tamaril::replication
