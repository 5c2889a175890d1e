// The folder of processed archives from the settings: the desktop's import moves each archive
// it committed there, and the command line takes it when its own option is not given.

#include <sys/wait.h>

#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/login.h"
#include "core/login_cache.h"
#include "core/maindata.h"
#include "core/paths.h"
#include "core/repl_options.h"
#include "dbaccess/connection.h"
#include "dbstruct/structure_cache.h"
#include "demo_folder.h"
#include "replication/database_open.h"
#include "scripted_boxes.h"
#include "support/temp_dir.h"
#include "text/encoding.h"
#include "ui/import_window.h"

namespace tamaril::ui {
namespace {

namespace fs = std::filesystem;

struct NoLogin : core::LoginPrompt {
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override { return false; }
};

class DoneFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::MakeDemoFolder(temp_.path(), dir_)) << "tamaril-cli demo failed";
    core::SetProgramFolder(dir_);
    core::LoadReplOptions();
    core::ReplOptions().DoneFolder = text::Utf8ToAnsi(done_);
    core::SaveReplOptions();
  }
  void TearDown() override {
    core::SetProgramFolder("");
    core::SetDefaultReplOptions();
  }

  // The command-line program on the demo's folder, without a terminal; its exit status.
  int Cli(const std::string& arguments) const {
    const std::string command = "HOME='" + temp_.path() + "' setsid -w '" + TAMARIL_CLI_PROGRAM +
                                "' --home '" + dir_ + "' " + arguments + " </dev/null >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // A fresh export of the client's definition, carried into the import folder.
  void ArchiveWaiting() const {
    ASSERT_EQ(Cli("export DEMO"), 0);
    fs::copy_file(dir_ + "/EXPORTS/DEMO.ZR2", dir_ + "/IMPORTS/DEMO.ZR2",
                  fs::copy_options::overwrite_existing);
  }

  ::tamaril::testing::TempDir temp_;
  const std::string dir_ = temp_.File("demo");
  const std::string done_ = temp_.File("zpracované");
};

TEST_F(DoneFolderTest, TheCommandLineTakesTheSettingUnlessItsOptionIsGiven) {
  ASSERT_NO_FATAL_FAILURE(ArchiveWaiting());
  // The demo's invoice of a refused customer is a conflict: finished, with warnings (3).
  ASSERT_EQ(Cli("import --backup no"), 3);
  EXPECT_TRUE(fs::exists(done_ + "/DEMO.ZR2"));
  EXPECT_FALSE(fs::exists(dir_ + "/IMPORTS/DEMO.ZR2"));

  // The command line sets the folder too; its option still wins over it.
  const std::string third = temp_.File("třetí");
  fs::create_directories(third);
  ASSERT_EQ(Cli("settings --set 'DONEFLDR=" + third + "'"), 0);
  ASSERT_NO_FATAL_FAILURE(ArchiveWaiting());
  const std::string other = temp_.File("jinam");
  int status = Cli("import --backup no --done-folder '" + other + "'");
  ASSERT_TRUE(status == 0 || status == 3) << status;
  EXPECT_TRUE(fs::exists(other + "/DEMO.ZR2")) << "the option wins over the setting";
  EXPECT_FALSE(fs::exists(third + "/DEMO.ZR2"));

  ASSERT_NO_FATAL_FAILURE(ArchiveWaiting());
  status = Cli("import --backup no");
  ASSERT_TRUE(status == 0 || status == 3) << status;
  EXPECT_TRUE(fs::exists(third + "/DEMO.ZR2"));

  // Emptied, the setting lets the archives stay.
  ASSERT_EQ(Cli("settings --set DONEFLDR="), 0);
  ASSERT_NO_FATAL_FAILURE(ArchiveWaiting());
  status = Cli("import --backup no");
  ASSERT_TRUE(status == 0 || status == 3) << status;
  EXPECT_TRUE(fs::exists(dir_ + "/IMPORTS/DEMO.ZR2"));
}

TEST_F(DoneFolderTest, TheDesktopImportMovesWhatItCommittedThere) {
  ASSERT_NO_FATAL_FAILURE(ArchiveWaiting());
  NoLogin prompt;
  core::LoginCache logins{prompt};
  dbaccess::Connection connection;
  dbaccess::Connection master;
  dbstruct::tDBStructureCache cache;
  const replication::tDatabaseAccess access{logins, connection, master, cache};
  core::TMaindata data(prompt);
  testing::tScriptedBoxes boxes;
  boxes.AnswerDefaults();

  TfrmImport window(access, data.ImportDefTbl);
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, &window, [&window] {
    if (window.Finished() && window.isVisible()) window.btnStorno->click();
  });
  closer.start(20);
  window.exec();

  ASSERT_EQ(window.Result().Archives.size(), 1U);
  EXPECT_EQ(window.Result().Archives.front().State, replication::tArchiveState::Imported);
  EXPECT_EQ(window.Result().Archives.front().MovedTo, done_ + "/DEMO.ZR2");
  EXPECT_TRUE(fs::exists(done_ + "/DEMO.ZR2"));
  EXPECT_FALSE(fs::exists(dir_ + "/IMPORTS/DEMO.ZR2"));
}

}  // namespace
}  // namespace tamaril::ui
