// Signed and sealed archive files read back as the zlib stream they carry, and refuse damage.

#include "replication/archive_protection.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>

#include "core/paths.h"
#include "replication/archive.h"
#include "replication/errors.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

class ArchiveProtection : public ::testing::Test {
 protected:
  void SetUp() override { core::SetProgramFolder(home_.path()); }
  void TearDown() override { core::SetProgramFolder(""); }

  // An archive whose content is `content` after the header, written with `protection`.
  std::string Write(const std::string& name, const std::string& content,
                    const tArchiveProtection& protection) {
    tArchiveHeader header;
    header.Signature = "POBOCKA";
    header.ExportNo = 3;
    const std::string path = home_.File(name);
    tArchiveWriter writer(path, header, protection);
    writer.Stream().WriteBytes(content);
    writer.Commit();
    return path;
  }

  static std::string ReadAll(dataset::ByteReader& reader) {
    std::string bytes;
    std::string buffer(70000, '\0');
    for (std::size_t n = 0; (n = reader.Read(buffer.data(), buffer.size())) > 0;) bytes.append(buffer, 0, n);
    return bytes;
  }

  testing::TempDir home_;
};

TEST_F(ArchiveProtection, SignedArchiveIsTheSameZlibStreamWithATrailerAPlainReaderIgnores) {
  const std::string content = "rows";
  const std::string plain = testing::ReadWholeFile(Write("plain.ZR2", content, {}));
  tArchiveProtection protection;
  protection.SignWith = tSiteKey::Generate();
  const std::string path = Write("signed.ZR2", content, protection);
  const std::string signed_bytes = testing::ReadWholeFile(path);
  ASSERT_EQ(signed_bytes.size(), plain.size() + kSignatureTrailerSize);
  EXPECT_EQ(signed_bytes.substr(0, plain.size()), plain);
  // zlib's own one-shot reader stops at the end of the stream.
  std::string out(200, '\0');
  uLongf out_size = out.size();
  uLong in_size = signed_bytes.size();
  ASSERT_EQ(uncompress2(reinterpret_cast<Bytef*>(out.data()), &out_size,
                        reinterpret_cast<const Bytef*>(signed_bytes.data()), &in_size),
            Z_OK);
  EXPECT_EQ(in_size, plain.size());
  const tArchiveCheck check = CheckArchiveFile(path);
  EXPECT_EQ(check.Signature, tSignatureState::Valid);
  EXPECT_EQ(check.Signer, protection.SignWith->Public());
  EXPECT_EQ(CheckArchiveFile(home_.File("plain.ZR2")).Signature, tSignatureState::Unsigned);
  // The reader of the program verifies the end of the stream, the trailer left out.
  tArchiveReader reader(path);
  EXPECT_EQ(ReadAll(reader.Stream()), content);
  EXPECT_NO_THROW(reader.Stream().VerifyEnd());
}

TEST_F(ArchiveProtection, SealedArchiveStreamsInChunksAndRefusesDamageCutsAndOtherKeys) {
  const tSiteKey center = CreateSiteKey(SiteKeyPath());
  // Random bytes do not compress: the sealed file spans many chunks.
  std::string content(300000, '\0');
  std::mt19937 random(7);
  for (char& c : content) c = static_cast<char>(random());
  tArchiveProtection protection;
  protection.SignWith = tSiteKey::Generate();
  protection.SealTo = center.Public();
  const std::string path = Write("sealed.ZR2", content, protection);
  const std::string sealed = testing::ReadWholeFile(path);
  ASSERT_EQ(sealed.substr(0, kSealMagic.size()), kSealMagic);
  ASSERT_GT(sealed.size(), content.size());
  {
    tArchiveReader reader(path);
    EXPECT_EQ(reader.Header().ExportNo, 3);
    EXPECT_EQ(ReadAll(reader.Stream()), content);
  }
  EXPECT_EQ(CheckArchiveFile(path).Signature, tSignatureState::Valid);
  ASSERT_TRUE(SealedArchiveHeader(path).has_value());
  EXPECT_EQ(DecodeArchiveHeader(*SealedArchiveHeader(path)).ExportNo, 3);

  const auto refused = [&](const std::string& bytes, const std::string& reason) {
    testing::WriteWholeFile(home_.File("bad.ZR2"), bytes);
    try {
      CheckArchiveFile(home_.File("bad.ZR2"));
      ADD_FAILURE() << "accepted: " << reason;
    } catch (const ReplicationError& error) {
      EXPECT_NE(text::AnsiToUtf8(error.what()).find(reason), std::string::npos)
          << text::AnsiToUtf8(error.what());
    }
  };
  std::string altered = sealed;
  altered[sealed.size() / 2] = static_cast<char>(altered[sealed.size() / 2] ^ 0x10);
  refused(altered, "neprošel kontrolou");
  // The clear header is checked with the first chunk.
  altered = sealed;
  altered[kSealMagic.size() + 22] = 9;
  refused(altered, "neprošel kontrolou");
  refused(sealed.substr(0, sealed.size() - kSealChunkSize - 10), "useknutý");
  refused(sealed + "x", "další bajty");
  core::SetProgramFolder(home_.File("elsewhere"));
  refused(sealed, "nemá klíč");
}

}  // namespace
}  // namespace tamaril::replication
