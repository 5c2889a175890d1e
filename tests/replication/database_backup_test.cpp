// The backup and restore operations of both database forms, outside a run.

#include "replication/database_backup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/login_cache.h"
#include "dbaccess/connection.h"
#include "dbaccess/errors.h"
#include "dbaccess/sqlite_backup.h"
#include "dbstruct/structure_cache.h"
#include "mssql_scripted_backend.h"
#include "replication/errors.h"
#include "support/expect_throw_msg.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

struct NoLogin : core::LoginPrompt {
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override { return false; }
};

class MasterProcedureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.backend->procedures["rep_ZRT_dbbackup"] = {};
    server_.backend->procedures["rep_ZRT_dbrestore"] = {};
  }

  // Remembers a login for the master connection's string, as its first connection would.
  void RememberLogin() {
    const std::string remembered = "Provider=SQLite;Data Source=" + folder_.path();
    dbaccess::Connection first;
    dbaccess::Connection creator(remembered);
    creator.Open();
    creator.CreateDatabase("master_copy");
    logins_.ConnectDatabase(first, remembered, "master_copy");
    server_.connection.SetConnectionString(remembered);
  }

  testing::TempDir folder_;
  NoLogin prompt_;
  core::LoginCache logins_{prompt_};
  dbaccess::Connection main_;
  dbstruct::testing::ScriptedServer server_;
  dbstruct::tDBStructureCache cache_;
  tDatabaseAccess access_{logins_, main_, server_.connection, cache_};
  Lines log_;
  std::function<void(const std::string&)> write_ = [this](const std::string& line) { log_.push_back(line); };
};

TEST_F(MasterProcedureTest, CallsTheProcedureWithBoundParametersOfTheCachedLogin) {
  RememberLogin();
  bool started = false;
  const std::string connection_string = server_.connection.ConnectionString();
  CallMasterProcedure(access_, tBackupAction::Backup, connection_string, "O'Brien", write_,
                      [&started] { started = true; });
  CallMasterProcedure(access_, tBackupAction::Restore, connection_string, "O'Brien", write_);
  EXPECT_TRUE(started);
  EXPECT_TRUE(log_.empty());
  EXPECT_EQ(server_.connection.CommandTimeout(), 300);
  ASSERT_EQ(server_.backend->sent.size(), 2U);
  EXPECT_EQ(server_.backend->sent[0].text, "exec rep_ZRT_dbbackup");
  EXPECT_EQ(server_.backend->sent[1].text, "exec rep_ZRT_dbrestore");
  // The name goes as a value, quote and all; nothing is pasted into a text.
  const std::vector<dbaccess::Parameter>& params = server_.backend->sent[0].params;
  ASSERT_EQ(params.size(), 3U);
  const Lines names{"@dbname", "@username", "@password"};
  for (std::size_t i = 0; i < params.size(); ++i) {
    EXPECT_EQ(params[i].name, names[i]);
    EXPECT_EQ(params[i].size, 128);
    EXPECT_EQ(params[i].type, dataset::FieldType::String);
  }
  EXPECT_EQ(params[0].value.AsString(), "O'Brien");
}

TEST_F(MasterProcedureTest, WithoutACachedLoginWritesAndThrowsBeforeCalling) {
  server_.connection.SetConnectionString("Provider=SQLite;Data Source=" + folder_.path());
  const std::string connection_string = server_.connection.ConnectionString();
  EXPECT_THROW_MSG(CallMasterProcedure(access_, tBackupAction::Backup, connection_string, "SHOP", write_),
                   ReplicationError, text::Utf8ToAnsi("Nemohu provést zálohování databáze"));
  EXPECT_THROW_MSG(CallMasterProcedure(access_, tBackupAction::Restore, connection_string, "SHOP", write_),
                   ReplicationError, text::Utf8ToAnsi("Nemohu provést obnovu databáze"));
  EXPECT_EQ(log_, (Lines{text::Utf8ToAnsi("Nemohu provést zálohování databáze"),
                         text::Utf8ToAnsi("Nemohu provést obnovu databáze")}));
  EXPECT_TRUE(server_.backend->sent.empty());
}

TEST(CopySqliteDatabase, CopiesAConsistentFileAndLeavesTheTargetOnFailure) {
  testing::TempDir folder;
  dbaccess::Connection source("Provider=SQLite;Data Source=" + folder.path());
  source.Open();
  source.CreateDatabase("data");
  source.SetDefaultDatabase("data");
  source.Execute("PRAGMA journal_mode=WAL; CREATE TABLE T (A INTEGER); INSERT INTO T VALUES (1), (2);");
  const std::string copy = folder.File("copy.db");
  dbaccess::CopySqliteDatabase(folder.File("data.db"), copy, 0600);
  EXPECT_FALSE(fs::exists(copy + ".tmp"));
  {
    dbaccess::Connection reader("Provider=SQLite;Data Source=" + folder.path());
    reader.Open();
    reader.SetDefaultDatabase("copy");
    auto rows = reader.Query("SELECT sum(A) FROM T");
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->Get(0).AsInteger(), 3);
  }
  testing::WriteWholeFile(folder.File("broken.db"), "not a database file, but long enough to be read as one");
  const std::string before = testing::ReadWholeFile(copy);
  // What an earlier copy cut short left beside the target goes too, its journal included.
  testing::WriteWholeFile(copy + ".tmp", "cut");
  testing::WriteWholeFile(copy + ".tmp-journal", "cut");
  EXPECT_THROW(dbaccess::CopySqliteDatabase(folder.File("broken.db"), copy, 0600), dbaccess::DatabaseError);
  EXPECT_EQ(testing::ReadWholeFile(copy), before);
  EXPECT_FALSE(fs::exists(copy + ".tmp"));
  EXPECT_FALSE(fs::exists(copy + ".tmp-journal"));
}

}  // namespace
}  // namespace tamaril::replication
