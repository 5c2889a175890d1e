#include "core/maindata.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "core/paths.h"
#include "dataset/errors.h"
#include "support/expect_throw_msg.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::core {
namespace {

using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

// Builds memory table bytes field by field, as the file format lays them out.
class FileBytes {
 public:
  FileBytes& Raw(std::string_view bytes) {
    data_ += bytes;
    return *this;
  }
  FileBytes& U16(std::uint16_t v) {
    data_ += static_cast<char>(v & 0xFF);
    data_ += static_cast<char>(v >> 8);
    return *this;
  }
  FileBytes& I32(std::int32_t v) {
    for (int i = 0; i < 4; ++i) data_ += static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF);
    return *this;
  }
  FileBytes& Text(std::uint16_t field_no, std::int32_t storage, std::string_view value) {
    U16(field_no).I32(storage);
    data_ += '\x01';
    data_ += value;
    data_ += '\0';
    return *this;
  }
  const std::string& data() const { return data_; }

 private:
  std::string data_;
};

class NoPrompt : public LoginPrompt {
 public:
  bool ShowLoginDialog(tLoginObject&, std::string_view) override { return false; }
};

class MaindataTest : public ::testing::Test {
 protected:
  void SetUp() override { SetProgramFolder(home_.path()); }
  void TearDown() override { SetProgramFolder(""); }

  TempDir home_;
  NoPrompt prompt_;
};

TEST_F(MaindataTest, WithoutFilesBothListsOpenEmpty) {
  TMaindata data(prompt_);
  EXPECT_TRUE(data.ExportDefTbl.IsEmpty());
  EXPECT_TRUE(data.ImportDefTbl.IsEmpty());
  EXPECT_EQ(data.ImportDefTbl.FieldByName("ClientName").DisplayName(), text::Utf8ToAnsi("Název klienta"));
  EXPECT_TRUE(data.ExportDefTbl.FieldByName("Signature").Required);
  EXPECT_EQ(data.MASTERConnection.CommandTimeout(), 300);
}

TEST_F(MaindataTest, AListFileLoadsAndIsWrittenBackByteForByte) {
  const std::string plain = "Provider=SQLOLEDB.1;Data Source=srv;Initial Catalog=Sklad";
  const std::string layout(TMaindata::kExportLayout);
  const std::string file = FileBytes()
                               .Raw("Memtbl")
                               .I32(static_cast<std::int32_t>(layout.size()))
                               .Raw(layout)
                               .I32(0)
                               .I32(1)
                               .Text(1, 11, "BRNO")
                               .Text(2, 26, text::Utf8ToAnsi("Centrála"))
                               .Text(3, 251, TransformConnectionString(plain, true))
                               .Text(4, 26, "Sklad")
                               .U16(5)
                               .I32(3)
                               .Raw("pzn")
                               .U16(0)
                               .data();
  WriteWholeFile(home_.File("EXPORT.DAT"), file);

  {
    TMaindata data(prompt_);
    auto& list = data.ExportDefTbl;
    ASSERT_EQ(list.RecordCount(), 1);
    EXPECT_EQ(list.FieldByName("CenterName").AsString(), text::Utf8ToAnsi("Centrála"));
    EXPECT_EQ(list.FieldByName("ConnectionString").Text(), plain);
    EXPECT_EQ(list.FieldByName("Pozn").AsString(), "pzn");
    data.StoreLists();
  }
  EXPECT_EQ(ReadWholeFile(home_.File("EXPORT.DAT")), file);
  EXPECT_TRUE(ReadWholeFile(home_.File("IMPORT.DAT")).starts_with("Memtbl"));
}

TEST_F(MaindataTest, TheConnectionStringIsScrambledOnlyInTheFile) {
  {
    TMaindata data(prompt_);
    auto& list = data.ImportDefTbl;
    list.Append();
    list.FieldByName("Signature").SetAsString("KLIENT");
    list.FieldByName("ClientName").SetAsString("Klient");
    list.FieldByName("ConnectionString").SetText("Provider=SQLite;Data Source=/data");
    list.Post();
    data.StoreLists();
  }
  const std::string stored = ReadWholeFile(home_.File("IMPORT.DAT"));
  EXPECT_EQ(stored.find("Data Source"), std::string::npos);
  EXPECT_NE(stored.find(TransformConnectionString("Provider=SQLite;Data Source=/data", true)),
            std::string::npos);

  TMaindata reopened(prompt_);
  ASSERT_TRUE(reopened.ImportDefTbl.Locate("Signature", dataset::Variant::String("KLIENT")));
  EXPECT_EQ(reopened.ImportDefTbl.FieldByName("ConnectionString").Text(),
            "Provider=SQLite;Data Source=/data");
}

TEST_F(MaindataTest, ASignatureStandsOnceInEachList) {
  TMaindata data(prompt_);
  for (auto* list : {&data.ExportDefTbl, &data.ImportDefTbl}) {
    list->Append();
    list->FieldByName("Signature").SetAsString("SAME");
    list->Fields()[1]->SetAsString("partner");
    list->Post();
  }
  auto& list = data.ExportDefTbl;
  list.Append();
  list.FieldByName("Signature").SetAsString("SAME");
  list.FieldByName("CenterName").SetAsString("other");
  EXPECT_THROW_MSG(list.Post(), dataset::DatasetError, "Duplicated field value in field Signature");
  list.Cancel();
  ASSERT_TRUE(list.Locate("Signature", dataset::Variant::String("SAME")));
  list.Edit();
  list.FieldByName("DatabaseName").SetAsString("changed");
  list.Post();  // editing without changing the signature is no duplicate
  EXPECT_EQ(list.RecordCount(), 1);
}

}  // namespace
}  // namespace tamaril::core

namespace tamaril::core {
namespace {

void AddDefinition(dataset::TQVMStoredMemoryDataSet& list, const std::string& signature) {
  list.Append();
  list.FieldByName("Signature").SetAsString(signature);
  list.FieldByName("CenterName").SetAsString("Centrum");
  list.Post();
}

// The file a list was written to holds logins: a new one is private, an existing one keeps the
// mode its owner gave it.
TEST_F(MaindataTest, ANewListFileIsPrivateAndAnExistingOneKeepsItsMode) {
  TMaindata data(prompt_);
  AddDefinition(data.ExportDefTbl, "A");
  data.ExportDefTbl.Store();
  struct stat status {};
  ASSERT_EQ(::stat(home_.File("EXPORT.DAT").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);

  ASSERT_EQ(::chmod(home_.File("EXPORT.DAT").c_str(), 0640), 0);
  AddDefinition(data.ExportDefTbl, "B");
  data.ExportDefTbl.Store();
  ASSERT_EQ(::stat(home_.File("EXPORT.DAT").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0640u);
}

// Two programs on one list: the later change starts from what the other stored while this one
// was open, so neither definition is lost; the other list is not touched.
TEST_F(MaindataTest, LockingAListReadsWhatOthersStoredMeanwhile) {
  TMaindata first(prompt_);
  TMaindata second(prompt_);
  {
    const ListFileLock lock = second.LockList(false);
    AddDefinition(second.ExportDefTbl, "DRUHY");
    second.ExportDefTbl.Store();
  }
  const ListFileLock lock = first.LockList(false);
  AddDefinition(first.ExportDefTbl, "PRVNI");
  first.ExportDefTbl.Store();

  TMaindata reopened(prompt_);
  EXPECT_EQ(reopened.ExportDefTbl.RecordCount(), 2);
  EXPECT_TRUE(reopened.ExportDefTbl.Locate("Signature", dataset::Variant::String("DRUHY")));
  EXPECT_FALSE(std::filesystem::exists(home_.File("IMPORT.DAT")));
  // The list read again under the lock keeps its dressing: the connection string stays scrambled in the file.
  EXPECT_EQ(first.ExportDefTbl.FieldByName("Signature").DisplayLabel,
            text::Utf8ToAnsi("Identifikace přenosu"));
  EXPECT_TRUE(first.ExportDefTbl.FieldByName("ConnectionString").OnSetText != nullptr);
}

// A second lock on the same list waits until the first is released.
TEST_F(MaindataTest, AListLockExcludesAnotherProgram) {
  const std::string list_file = home_.File("EXPORT.DAT");
  // The parent locks only after the fork: a child would otherwise share the parent's lock.
  int go[2];
  int ready[2];
  ASSERT_EQ(::pipe(go), 0);
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::alarm(20);
    char signal = 0;
    if (::read(go[0], &signal, 1) != 1) _exit(2);
    const ListFileLock lock(list_file);
    const char got = 'L';
    _exit(::write(ready[1], &got, 1) == 1 ? 0 : 1);
  }
  auto held = std::make_unique<ListFileLock>(list_file);
  ASSERT_EQ(::write(go[1], "g", 1), 1);
  ::close(go[0]);
  ::close(go[1]);
  ::close(ready[1]);
  pollfd waiting{ready[0], POLLIN, 0};
  EXPECT_EQ(::poll(&waiting, 1, 300), 0) << "the second lock did not wait";
  held.reset();
  EXPECT_EQ(::poll(&waiting, 1, 10000), 1) << "the second lock was not granted after the release";
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(ready[0]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  struct stat lock_status {};
  ASSERT_EQ(::stat(ListFileLock::LockFileName(list_file).c_str(), &lock_status), 0);
  EXPECT_EQ(lock_status.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace tamaril::core
