// What a run writes is readable by its owner only, whatever the umask, and a file made
// stricter by hand stays so when the run replaces it.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "core/login.h"
#include "core/login_cache.h"
#include "core/private_files.h"
#include "core/repl_options.h"
#include "dbaccess/connection.h"
#include "dbstruct/structure_cache.h"
#include "recording_host.h"
#include "replication/archive.h"
#include "replication/database_backup.h"
#include "replication/database_open.h"
#include "replication/repl_log.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

namespace fs = std::filesystem;

unsigned ModeOf(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return 07777;
  return status.st_mode & 07777;
}

/// Runs the test body under the umask most systems have, restoring the one before.
class PrivateFiles : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = ::umask(022); }
  void TearDown() override { ::umask(previous_); }

  void WriteArchive(const std::string& path) {
    tArchiveHeader header;
    header.Signature = "POBOCKA";
    header.ExportNo = 1;
    tArchiveWriter writer(path, header);
    writer.Stream().WriteBytes(std::string(1, '\xF1'));
    writer.Commit();
  }

  testing::TempDir folder_;
  mode_t previous_ = 0;
};

TEST_F(PrivateFiles, FoldersAreMadePrivateAndExistingOnesLeftAlone) {
  const std::string deep = folder_.File("a/b/c");
  ASSERT_EQ(core::CreatePrivateFolders(deep), 0);
  EXPECT_EQ(ModeOf(folder_.File("a")), 0700U);
  EXPECT_EQ(ModeOf(deep), 0700U);
  ::chmod(folder_.File("a").c_str(), 0750);
  ASSERT_EQ(core::CreatePrivateFolders(deep + "/"), 0);
  EXPECT_EQ(ModeOf(folder_.File("a")), 0750U);
  testing::WriteWholeFile(folder_.File("file"), "x");
  EXPECT_EQ(core::CreatePrivateFolders(folder_.File("file")), ENOTDIR);
  EXPECT_NE(core::CreatePrivateFolders(folder_.File("file/below")), 0);
}

TEST_F(PrivateFiles, ArchiveIsPrivateAndKeepsAStricterModeWhenReplaced) {
  const std::string path = folder_.File("POBOCKA.ZR2");
  WriteArchive(path);
  EXPECT_EQ(ModeOf(path), 0600U);
  // Made readable by others by an earlier version: the new archive is private again.
  ::chmod(path.c_str(), 0644);
  WriteArchive(path);
  EXPECT_EQ(ModeOf(path), 0600U);
  ::chmod(path.c_str(), 0400);
  WriteArchive(path);
  EXPECT_EQ(ModeOf(path), 0400U);
}

TEST_F(PrivateFiles, LogFileIsCreatedPrivate) {
  core::TReplOptions options;
  options.LogFilePath = text::Utf8ToAnsi(folder_.File("kelmlog.txt"));
  options.DoLog = true;
  testing::RecordingHost host;
  tReplLog log;
  ASSERT_TRUE(log.Open(options, host));
  log.Write("Startuji import");
  log.Close();
  EXPECT_EQ(ModeOf(folder_.File("kelmlog.txt")), 0600U);
}

struct NoLogin : core::LoginPrompt {
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override { return false; }
};

TEST_F(PrivateFiles, DatabaseBackupIsPrivateKeepsAStricterModeAndRestoreKeepsTheDatabases) {
  const std::string connection_string = "Provider=SQLite;Data Source=" + folder_.path();
  {
    dbaccess::Connection setup(connection_string);
    setup.Open();
    setup.CreateDatabase("shop");
    setup.SetDefaultDatabase("shop");
    setup.Execute("CREATE TABLE T (A INTEGER); INSERT INTO T VALUES (1)");
  }
  ::chmod(folder_.File("shop.db").c_str(), 0640);
  NoLogin prompt;
  core::LoginCache logins(prompt);
  dbaccess::Connection main;
  dbaccess::Connection master;
  dbstruct::tDBStructureCache cache;
  const tDatabaseAccess access{logins, main, master, cache};
  const auto run = [&](tBackupAction action) {
    RunDatabaseBackup(access, action, connection_string, "shop", nullptr, nullptr);
  };

  run(tBackupAction::Backup);
  const std::string backup = SQLiteBackupFile(connection_string, folder_.File("shop.db"));
  EXPECT_EQ(ModeOf(backup), 0600U);
  EXPECT_EQ(ModeOf(fs::path(backup).parent_path().string()), 0700U);
  ::chmod(backup.c_str(), 0400);
  run(tBackupAction::Backup);
  EXPECT_EQ(ModeOf(backup), 0400U);

  run(tBackupAction::Restore);
  EXPECT_EQ(ModeOf(folder_.File("shop.db")), 0640U);
}

}  // namespace
}  // namespace tamaril::replication
