// The import window leaves the run's report beside the log and offers to open it; a report that
// cannot be written is said on the button and leaves the import as it went.

#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
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
#include "replication/file_ops.h"
#include "run_to_end.h"
#include "scripted_boxes.h"
#include "support/temp_dir.h"
#include "text/encoding.h"
#include "ui/export_window.h"
#include "ui/import_window.h"

namespace tamaril::ui {
namespace {

namespace fs = std::filesystem;

struct NoLogin : core::LoginPrompt {
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override {
    ADD_FAILURE() << "a login was asked for";
    return false;
  }
};

using testing::ExecAndClose;

// The demo folder with one archive of the client waiting in the import folder.
class ImportReportWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::MakeDemoFolder(temp_.path(), dir_)) << "tamaril-cli demo failed";
    core::SetProgramFolder(dir_);
    core::LoadReplOptions();
    data_ = std::make_unique<core::TMaindata>(prompt_);
    testing::tScriptedBoxes boxes;
    boxes.Answer(tMsgButton::Ok);
    data_->ExportDefTbl.First();
    TfrmExport window(access_, data_->ExportDefTbl);
    ExecAndClose(window);
    ASSERT_EQ(window.Result().Outcome, replication::tExportOutcome::Success) << window.Result().Text;
    fs::copy_file(window.Result().ArchivePath,
                  text::AnsiToUtf8(core::ReplOptions().ImportFolder) + "/DEMO-4.ZR2");
  }

  /// The folder the reports go into: "reports" beside the log.
  std::string Reports() const {
    return replication::FolderOf(text::AnsiToUtf8(core::ReplOptions().LogFilePath)) + "/reports";
  }

  const replication::tImportResult& Import(TfrmImport& window) {
    testing::tScriptedBoxes boxes;
    boxes.Answer(tMsgButton::NoToAll);
    boxes.Answer(tMsgButton::Ok);
    ExecAndClose(window);
    return window.Result();
  }

  ::tamaril::testing::TempDir temp_;
  const std::string dir_ = temp_.File("demo");
  NoLogin prompt_;
  core::LoginCache logins_{prompt_};
  dbaccess::Connection connection_;
  dbaccess::Connection master_;
  dbstruct::tDBStructureCache cache_;
  const replication::tDatabaseAccess access_{logins_, connection_, master_, cache_};
  std::unique_ptr<core::TMaindata> data_;
};

TEST_F(ImportReportWindow, TheRunLeavesAPrivateReportToOpen) {
  TfrmImport window(access_, data_->ImportDefTbl);
  EXPECT_FALSE(window.btnOpenReport->isEnabled()) << "nothing to open before the run";
  const replication::tImportResult& result = Import(window);
  ASSERT_NE(result.Outcome, replication::tImportOutcome::Failed) << result.Text;

  const std::string& path = window.ReportPath();
  EXPECT_EQ(fs::path(path).parent_path().string(), Reports());
  EXPECT_TRUE(window.btnOpenReport->isEnabled());
  EXPECT_EQ(window.btnOpenReport->text(), QStringLiteral("Otevřít přehled importu"));
  struct stat status {};
  ASSERT_EQ(::stat(path.c_str(), &status), 0) << path;
  EXPECT_EQ(status.st_mode & 0777, 0600U);
  const std::string html = ::tamaril::testing::ReadWholeFile(path);
  EXPECT_NE(html.find("<h1>Přehled importu</h1>"), std::string::npos);
  EXPECT_NE(html.find("DEMO-4.ZR2"), std::string::npos);
}

TEST_F(ImportReportWindow, AReportThatCannotBeWrittenIsSaidOnTheButton) {
  // A file where the folder belongs (the demo's own rounds left their reports in it).
  fs::remove_all(Reports());
  fs::create_directories(fs::path(Reports()).parent_path());
  ::tamaril::testing::WriteWholeFile(Reports(), "not a folder");
  TfrmImport window(access_, data_->ImportDefTbl);
  const replication::tImportResult& result = Import(window);
  ASSERT_NE(result.Outcome, replication::tImportOutcome::Failed) << result.Text;
  ASSERT_EQ(result.Archives.size(), 1U);
  EXPECT_EQ(result.Archives[0].State, replication::tArchiveState::Imported) << "the import stays";
  EXPECT_TRUE(window.ReportPath().empty());
  EXPECT_FALSE(window.btnOpenReport->isEnabled());
  EXPECT_EQ(window.btnOpenReport->text(), QStringLiteral("Přehled importu nelze zapsat"));
  EXPECT_TRUE(window.btnOpenReport->toolTip().startsWith(QStringLiteral("Přehled importu nelze zapsat do ")));
}

}  // namespace
}  // namespace tamaril::ui
