#include "replication/archive_protection.h"

#include <fcntl.h>
#include <sodium.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "core/definition_keys.h"
#include "replication/errors.h"
#include "replication/file_problem.h"
#include "text/encoding.h"

namespace tamaril::replication {

namespace {

constexpr std::size_t kStreamKeySize = crypto_secretstream_xchacha20poly1305_KEYBYTES;
constexpr std::size_t kSealedKeySize = crypto_box_SEALBYTES + kStreamKeySize;
constexpr std::size_t kStreamHeaderSize = crypto_secretstream_xchacha20poly1305_HEADERBYTES;
constexpr std::size_t kChunkOverhead = crypto_secretstream_xchacha20poly1305_ABYTES;
constexpr std::size_t kSignatureSize = crypto_sign_BYTES;
/// The size of the archive header (archive.h), repeated here so that this file stays below it.
constexpr std::size_t kArchiveHeaderBytes = 34;

using tX25519Key = std::array<unsigned char, crypto_box_PUBLICKEYBYTES>;

const unsigned char* Bytes(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

[[noreturn]] void Refuse(const std::string& name, const std::string& reason_utf8) {
  throw ReplicationError(text::Utf8ToAnsi("Archiv " + name + " " + reason_utf8));
}

}  // namespace

tArchiveProtection ArchiveProtectionFor(std::string_view signature) {
  tArchiveProtection protection;
  protection.SignWith = LoadSiteKey(SiteKeyPath());
  const std::string seal = core::SealKey(signature);
  if (!seal.empty()) protection.SealTo = PublicKeyFromText(seal);
  return protection;
}

// ---------------------------------------------------------------------------------------------

class tProtectingWriter::State {
 public:
  State(dataset::ByteWriter& target, const tArchiveProtection& protection, std::string_view header)
      : target_(target), sign_with_(protection.SignWith) {
    InitSodium();
    if (sign_with_) {
      crypto_sign_init(&sign_);
      crypto_sign_update(&sign_, Bytes(kSignatureMagic), kSignatureMagic.size());
    }
    if (protection.SealTo) StartSeal(*protection.SealTo, header);
  }
  ~State() { sodium_memzero(&stream_, sizeof stream_); }
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  void Write(const void* data, std::size_t size) {
    if (sign_with_) crypto_sign_update(&sign_, static_cast<const unsigned char*>(data), size);
    Emit(static_cast<const unsigned char*>(data), size);
  }

  void Finish() {
    if (sign_with_) {
      std::array<unsigned char, kSignatureTrailerSize> trailer{};
      const tPublicKey& key = sign_with_->Public();
      std::copy(key.begin(), key.end(), trailer.begin());
      crypto_sign_final_create(&sign_, trailer.data() + key.size(), nullptr, sign_with_->Secret());
      std::memcpy(trailer.data() + key.size() + kSignatureSize, kSignatureMagic.data(),
                  kSignatureMagic.size());
      Emit(trailer.data(), trailer.size());
    }
    if (sealing_) PushChunk(crypto_secretstream_xchacha20poly1305_TAG_FINAL);
  }

 private:
  void StartSeal(const tPublicKey& recipient, std::string_view header_bytes) {
    tX25519Key x25519{};
    if (crypto_sign_ed25519_pk_to_curve25519(x25519.data(), recipient.data()) != 0)
      throw ReplicationError(text::Utf8ToAnsi("Klíč pro šifrování archivu není platný"));
    std::array<unsigned char, kStreamKeySize> key{};
    crypto_secretstream_xchacha20poly1305_keygen(key.data());
    std::array<unsigned char, kSealedKeySize> sealed_key{};
    crypto_box_seal(sealed_key.data(), key.data(), key.size(), x25519.data());
    std::array<unsigned char, kStreamHeaderSize> header{};
    crypto_secretstream_xchacha20poly1305_init_push(&stream_, header.data(), key.data());
    sodium_memzero(key.data(), key.size());
    clear_.assign(kSealMagic);
    clear_.append(header_bytes);
    clear_.append(reinterpret_cast<const char*>(recipient.data()), recipient.size());
    target_.Write(clear_.data(), clear_.size());
    target_.Write(sealed_key.data(), sealed_key.size());
    target_.Write(header.data(), header.size());
    sealing_ = true;
    plain_.reserve(kSealChunkSize);
    cipher_.resize(kSealChunkSize + kChunkOverhead);
  }

  void Emit(const unsigned char* data, std::size_t size) {
    if (!sealing_) {
      target_.Write(data, size);
      return;
    }
    while (size > 0) {
      const std::size_t part = std::min(size, kSealChunkSize - plain_.size());
      plain_.insert(plain_.end(), data, data + part);
      data += part;
      size -= part;
      if (plain_.size() == kSealChunkSize) PushChunk(0);
    }
  }

  void PushChunk(unsigned char tag) {
    unsigned long long length = 0;
    crypto_secretstream_xchacha20poly1305_push(&stream_, cipher_.data(), &length, plain_.data(),
                                               plain_.size(), Bytes(clear_), clear_.size(), tag);
    clear_.clear();  // only the first chunk carries it
    sodium_memzero(plain_.data(), plain_.size());
    plain_.clear();
    const auto size = static_cast<std::uint32_t>(length);
    const std::array<unsigned char, 4> prefix{
        static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8),
        static_cast<unsigned char>(size >> 16), static_cast<unsigned char>(size >> 24)};
    target_.Write(prefix.data(), prefix.size());
    target_.Write(cipher_.data(), static_cast<std::size_t>(length));
  }

  dataset::ByteWriter& target_;
  std::optional<tSiteKey> sign_with_;  ///< a copy: the protection given may be a temporary
  crypto_sign_state sign_{};
  bool sealing_ = false;
  crypto_secretstream_xchacha20poly1305_state stream_{};
  std::vector<unsigned char> plain_;
  std::vector<unsigned char> cipher_;
  std::string clear_;  ///< the bytes before the sealed key, until the first chunk took them
};

tProtectingWriter::tProtectingWriter(dataset::ByteWriter& target, const tArchiveProtection& protection,
                                     std::string_view header)
    : state_(std::make_unique<State>(target, protection, header)) {}

tProtectingWriter::~tProtectingWriter() = default;

void tProtectingWriter::Write(const void* data, std::size_t size) { state_->Write(data, size); }

void tProtectingWriter::Finish() { state_->Finish(); }

// ---------------------------------------------------------------------------------------------

class tArchiveSource::State {
 public:
  explicit State(const std::string& path) : name_(path), file_(path) {
    InitSodium();
    crypto_sign_init(&sign_);
    crypto_sign_update(&sign_, Bytes(kSignatureMagic), kSignatureMagic.size());
    std::array<char, kSealMagic.size()> magic{};
    const std::size_t got = ReadFile(magic.data(), magic.size());
    if (got == magic.size() && std::string_view(magic.data(), magic.size()) == kSealMagic) {
      OpenSeal();
    } else {
      prefix_.assign(magic.begin(), magic.begin() + static_cast<std::ptrdiff_t>(got));
    }
  }
  ~State() { sodium_memzero(&stream_, sizeof stream_); }
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  std::size_t Read(void* data, std::size_t size) {
    auto* out = static_cast<unsigned char*>(data);
    std::size_t given = 0;
    while (given < size) {
      if (ready_position_ == ready_.size()) {
        if (ended_) break;
        Fill();
        continue;
      }
      const std::size_t part = std::min(size - given, ready_.size() - ready_position_);
      std::memcpy(out + given, ready_.data() + ready_position_, part);
      ready_position_ += part;
      given += part;
    }
    return given;
  }

  bool Sealed() const noexcept { return sealed_; }
  tSignatureState Signature() const noexcept { return signature_; }
  const tPublicKey& Signer() const noexcept { return signer_; }

 private:
  /// Reads up to `size` bytes of the file; fewer only at its end.
  std::size_t ReadFile(void* data, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
      const std::size_t part = file_.Read(static_cast<char*>(data) + got, size - got);
      if (part == 0) break;
      got += part;
    }
    return got;
  }

  void OpenSeal() {
    sealed_ = true;
    clear_.assign(kSealMagic);
    clear_.resize(kSealMagic.size() + kArchiveHeaderBytes);
    if (ReadFile(clear_.data() + kSealMagic.size(), kArchiveHeaderBytes) != kArchiveHeaderBytes)
      Refuse(name_, "je zašifrovaný, ale useknutý");
    tPublicKey recipient{};
    std::array<unsigned char, kSealedKeySize> sealed_key{};
    std::array<unsigned char, kStreamHeaderSize> header{};
    if (ReadFile(recipient.data(), recipient.size()) != recipient.size() ||
        ReadFile(sealed_key.data(), sealed_key.size()) != sealed_key.size() ||
        ReadFile(header.data(), header.size()) != header.size()) {
      Refuse(name_, "je zašifrovaný, ale useknutý");
    }
    const std::optional<tSiteKey> site = LoadSiteKey(SiteKeyPath());
    if (!site) {
      Refuse(name_, "je zašifrovaný a toto místo nemá klíč, který by ho otevřel (tamaril-cli keys create)");
    }
    if (site->Public() != recipient) {
      Refuse(name_,
             "je zašifrovaný pro jiný klíč (" + PublicKeyText(recipient) + "), ne pro klíč tohoto místa");
    }
    tX25519Key x_public{};
    std::array<unsigned char, crypto_box_SECRETKEYBYTES> x_secret{};
    const bool converted =
        crypto_sign_ed25519_pk_to_curve25519(x_public.data(), site->Public().data()) == 0 &&
        crypto_sign_ed25519_sk_to_curve25519(x_secret.data(), site->Secret()) == 0;
    std::array<unsigned char, kStreamKeySize> key{};
    const bool opened = converted && crypto_box_seal_open(key.data(), sealed_key.data(), sealed_key.size(),
                                                          x_public.data(), x_secret.data()) == 0;
    sodium_memzero(x_secret.data(), x_secret.size());
    const bool started =
        opened && crypto_secretstream_xchacha20poly1305_init_pull(&stream_, header.data(), key.data()) == 0;
    sodium_memzero(key.data(), key.size());
    if (!started) Refuse(name_, "je zašifrovaný, ale klíčem tohoto místa ho nelze otevřít (je poškozený)");
    clear_.append(reinterpret_cast<const char*>(recipient.data()), recipient.size());
    cipher_.resize(kSealChunkSize + kChunkOverhead);
  }

  /// The next plain bytes of the file into `plain`; false at the end.
  bool ReadPlain(std::vector<unsigned char>& plain) {
    plain.clear();
    if (!sealed_) {
      if (!prefix_.empty()) {
        plain.swap(prefix_);
        return true;
      }
      plain.resize(kSealChunkSize);
      plain.resize(ReadFile(plain.data(), plain.size()));
      return !plain.empty();
    }
    if (final_) {
      unsigned char byte = 0;
      if (file_.Read(&byte, 1) != 0) Refuse(name_, "má za koncem zašifrovaných dat další bajty");
      return false;
    }
    std::array<unsigned char, 4> prefix{};
    const std::size_t got = ReadFile(prefix.data(), prefix.size());
    if (got == 0) Refuse(name_, "je useknutý: zašifrovaná data nekončí");
    const std::size_t length = prefix[0] | (std::size_t{prefix[1]} << 8) | (std::size_t{prefix[2]} << 16) |
                               (std::size_t{prefix[3]} << 24);
    if (got < prefix.size() || length < kChunkOverhead || length > cipher_.size())
      Refuse(name_, "je poškozený: chybná délka zašifrovaného bloku");
    if (ReadFile(cipher_.data(), length) != length) Refuse(name_, "je useknutý: zašifrovaná data nekončí");
    plain.resize(length - kChunkOverhead);
    unsigned long long plain_length = 0;
    unsigned char tag = 0;
    const bool first = !clear_.empty();
    if (crypto_secretstream_xchacha20poly1305_pull(&stream_, plain.data(), &plain_length, &tag,
                                                   cipher_.data(), length, first ? Bytes(clear_) : nullptr,
                                                   clear_.size()) != 0) {
      Refuse(name_, "je poškozený nebo pozměněný: zašifrovaný blok neprošel kontrolou");
    }
    clear_.clear();
    plain.resize(static_cast<std::size_t>(plain_length));
    final_ = tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL;
    return true;
  }

  /// Moves the next bytes known to be content into ready_; the last kSignatureTrailerSize bytes
  /// seen stay in window_ until the end tells whether they are a trailer.
  void Fill() {
    ready_.clear();
    ready_position_ = 0;
    if (!ReadPlain(plain_)) {
      Finish();
      return;
    }
    window_.insert(window_.end(), plain_.begin(), plain_.end());
    if (window_.size() > kSignatureTrailerSize) {
      const auto cut = window_.end() - static_cast<std::ptrdiff_t>(kSignatureTrailerSize);
      ready_.assign(window_.begin(), cut);
      window_.erase(window_.begin(), cut);
      crypto_sign_update(&sign_, ready_.data(), ready_.size());
    }
  }

  void Finish() {
    ended_ = true;
    const bool trailer =
        window_.size() == kSignatureTrailerSize &&
        std::equal(kSignatureMagic.begin(), kSignatureMagic.end(), window_.end() - kSignatureMagic.size(),
                   [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; });
    if (!trailer) {
      ready_.swap(window_);
      return;
    }
    std::copy_n(window_.begin(), signer_.size(), signer_.begin());
    signature_ = crypto_sign_final_verify(&sign_, window_.data() + signer_.size(), signer_.data()) == 0
                     ? tSignatureState::Valid
                     : tSignatureState::Invalid;
    window_.clear();
  }

  std::string name_;
  dataset::FileReader file_;
  crypto_sign_state sign_{};
  bool sealed_ = false;
  bool final_ = false;
  bool ended_ = false;
  crypto_secretstream_xchacha20poly1305_state stream_{};
  std::vector<unsigned char> prefix_;  ///< the bytes read to tell a sealed file
  std::string clear_;                  ///< the bytes before the sealed key, checked with the first chunk
  std::vector<unsigned char> cipher_;
  std::vector<unsigned char> plain_;
  std::vector<unsigned char> window_;  ///< the last bytes read, which may be the trailer
  std::vector<unsigned char> ready_;   ///< content bytes to hand out
  std::size_t ready_position_ = 0;
  tSignatureState signature_ = tSignatureState::Unsigned;
  tPublicKey signer_{};
};

tArchiveSource::tArchiveSource(const std::string& path) : state_(std::make_unique<State>(path)) {}

tArchiveSource::~tArchiveSource() = default;

std::size_t tArchiveSource::Read(void* data, std::size_t size) { return state_->Read(data, size); }

bool tArchiveSource::Sealed() const noexcept { return state_->Sealed(); }

tSignatureState tArchiveSource::Signature() const noexcept { return state_->Signature(); }

const tPublicKey& tArchiveSource::Signer() const noexcept { return state_->Signer(); }

std::optional<std::string> SealedArchiveHeader(const std::string& path) {
  try {
    dataset::FileReader file(path);
    std::string bytes(kSealMagic.size() + kArchiveHeaderBytes, '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
      const std::size_t part = file.Read(bytes.data() + got, bytes.size() - got);
      if (part == 0) break;
      got += part;
    }
    if (got < bytes.size() || bytes.compare(0, kSealMagic.size(), kSealMagic) != 0) return std::nullopt;
    return bytes.substr(kSealMagic.size());
  } catch (const Error&) {
    return std::nullopt;
  }
}

tArchiveCheck CheckArchiveFile(const std::string& path) {
  tArchiveSource source(path);
  std::vector<unsigned char> buffer(kSealChunkSize);
  while (source.Read(buffer.data(), buffer.size()) != 0) {
  }
  return {source.Sealed(), source.Signature(), source.Signer()};
}

std::string TrustProblem(const tArchiveCheck& check, const tPublicKey& trusted) {
  switch (check.Signature) {
    case tSignatureState::Unsigned:
      return text::Utf8ToAnsi(
          "archiv není podepsaný, definice importu ale vyžaduje podpis klientovým klíčem");
    case tSignatureState::Invalid:
      return text::Utf8ToAnsi("podpis archivu neplatí: archiv byl po podpisu změněn nebo poškozen");
    case tSignatureState::Valid: break;
  }
  if (check.Signer != trusted) {
    return text::Utf8ToAnsi("archiv je podepsán jiným klíčem (" + PublicKeyText(check.Signer) +
                            ") než klíčem, kterému definice importu důvěřuje");
  }
  return {};
}

tTrustVerdict JudgeArchiveTrust(const std::string& path, std::string_view signature) {
  const std::string trusted_text = core::TrustedKey(signature);
  if (trusted_text.empty()) {
    return {false,
            text::Utf8ToAnsi("Archiv nebyl ověřen: definice importu nemá klíč klienta (defs edit --trust)")};
  }
  const std::optional<tPublicKey> trusted = ParsePublicKey(trusted_text);
  if (!trusted)
    return {true, text::Utf8ToAnsi("klíč klienta uložený u definice importu není platný veřejný klíč")};
  tArchiveCheck check;
  std::unique_ptr<tArchiveCopy> copy;
  try {
    copy = std::make_unique<tArchiveCopy>(path);
    check = CheckArchiveFile(copy->Path());
  } catch (const Error& error) {
    return {true, error.what(), nullptr};
  }
  if (std::string problem = TrustProblem(check, *trusted); !problem.empty())
    return {true, std::move(problem), nullptr};
  return {false, text::Utf8ToAnsi("Podpis archivu je platný: klíč klienta " + PublicKeyText(check.Signer)),
          std::move(copy)};
}

tArchiveCopy::tArchiveCopy(const std::string& path) {
  const auto fail = [&path](const std::string& what, int error) {
    return ReplicationError(
        text::Utf8ToAnsi("Soukromou kopii archivu " + path + " nelze vytvořit: " + what + ": ") +
        SystemReasonText(error));
  };
  std::error_code ignored;
  std::string pattern = (std::filesystem::temp_directory_path(ignored) / "tamaril-archive-XXXXXX").string();
  // mkstemp makes the file 0600 and opens it for this process alone.
  const int target = ::mkstemp(pattern.data());
  if (target < 0) throw fail("soubor v dočasné složce", errno);
  path_ = pattern;
  const int source = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  int error = source < 0 ? errno : 0;
  std::vector<char> buffer(1 << 16);
  while (error == 0) {
    const ssize_t got = ::read(source, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got < 0) error = errno;
      break;
    }
    for (ssize_t put = 0; put < got && error == 0;) {
      const ssize_t n = ::write(target, buffer.data() + put, static_cast<std::size_t>(got - put));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0)
        error = n < 0 ? errno : EIO;
      else
        put += n;
    }
  }
  if (source >= 0) ::close(source);
  if (::close(target) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(path_.c_str());
    throw fail("čtení nebo zápis selhal", error);
  }
}

tArchiveCopy::~tArchiveCopy() { ::unlink(path_.c_str()); }

}  // namespace tamaril::replication
