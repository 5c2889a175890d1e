// The main window: its enabling table, its actions and what it writes, and the item
// information action on the demo's databases.

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "core/definition_keys.h"
#include "core/export_text.h"
#include "core/login.h"
#include "core/maindata.h"
#include "core/paths.h"
#include "dbstruct/structure_cache.h"
#include "replication/start_up.h"
#include "scripted_boxes.h"
#include "support/temp_dir.h"
#include "ui/app_idle.h"
#include "ui/def_edit_dialog.h"
#include "ui/main_window.h"

namespace tamaril::ui {
namespace {

using dataset::DataSetState;

// Refuses every login: the tests' databases need none.
class tNoLogin : public core::LoginPrompt {
 public:
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override { return false; }
};

tActionStates States(bool exists, DataSetState state, bool empty, bool import) {
  tListState list;
  list.exists = exists;
  list.active = state != DataSetState::Inactive;
  list.state = state;
  list.empty = empty;
  list.import = import;
  return ActionStates(list, false);
}

TEST(AppIdleTable, EnablesEachActionForTheListStatesItDependsOn) {
  // An empty list allows only a new definition and the settings.
  tActionStates expected;
  expected.NewRecord = true;
  expected.EditOptions = true;
  EXPECT_EQ(States(true, DataSetState::Browse, true, true), expected);
  EXPECT_EQ(States(true, DataSetState::Browse, true, false), expected);

  // A filled list also allows edit, delete, item information and the run of its own side only.
  expected.EditRecord = expected.DeleteRecord = expected.ItemInfo = true;
  tActionStates import_side = expected;
  import_side.PerformImport = true;
  EXPECT_EQ(States(true, DataSetState::Browse, false, true), import_side);
  tActionStates export_side = expected;
  export_side.PerformExport = true;
  EXPECT_EQ(States(true, DataSetState::Browse, false, false), export_side);

  // A list being edited, a closed list or no list at all leaves only the settings.
  tActionStates settings_only;
  settings_only.EditOptions = true;
  for (const DataSetState state : {DataSetState::Edit, DataSetState::Insert, DataSetState::SetKey}) {
    EXPECT_EQ(States(true, state, false, true), settings_only);
    EXPECT_EQ(States(true, state, false, false), settings_only);
  }
  EXPECT_EQ(States(true, DataSetState::Inactive, false, false), settings_only);
  EXPECT_EQ(States(false, DataSetState::Browse, false, false), settings_only);
}

TEST(AppIdleTable, TheSetupScriptFollowsItsVisibility) {
  EXPECT_TRUE(ActionStates(tListState{}, true).DevHintsql);
  EXPECT_FALSE(ActionStates(tListState{}, false).DevHintsql);
}

// A window over lists in a folder of its own.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::SetProgramFolder(work_.path());
    Open();
  }
  void TearDown() override {
    window_.reset();
    maindata_.reset();
    core::SetProgramFolder("");
  }

  void Open() {
    window_.reset();
    maindata_ = std::make_unique<core::TMaindata>(prompt_);
    window_ = std::make_unique<TfrmMain>(*maindata_, cache_);
  }

  void AddDefinition(bool import, const std::string& signature) {
    dataset::TDataSet& list = maindata_->DefinitionList(import);
    list.Append();
    list.FieldByName("Signature").SetAsString(signature);
    list.FieldByName(import ? "ClientName" : "CenterName").SetAsString("Partner " + signature);
    list.FieldByName("DatabaseName").SetAsString("shop.db");
    list.Post();
  }

  void ShowTab(bool import) {
    window_->PageControl->setCurrentIndex(import ? 0 : 1);
    window_->AppIdle();
  }

  // The enabled state of the list actions, in a fixed order.
  std::string Enabled() const {
    std::string flags;
    for (const QAction* action :
         {window_->act_NewRecord, window_->act_EditRecord, window_->act_DeleteRecord, window_->act_ItemInfo,
          window_->act_PerformExport, window_->act_PerformImport, window_->act_EditOptions}) {
      flags += action->isEnabled() ? '1' : '0';
    }
    return flags;
  }

  tamaril::testing::TempDir work_;
  tNoLogin prompt_;
  dbstruct::tDBStructureCache cache_;
  std::unique_ptr<core::TMaindata> maindata_;
  std::unique_ptr<TfrmMain> window_;
};

TEST_F(MainWindowTest, ShowsTheImportTabFirstWithTheCaptionsMenusAndToolBar) {
  EXPECT_TRUE(window_->windowTitle().startsWith(QStringLiteral("Tamaril MS SQL - verze ")));
  ASSERT_EQ(window_->PageControl->count(), 3);
  EXPECT_EQ(window_->PageControl->tabText(0), QStringLiteral("Definice importů"));
  EXPECT_EQ(window_->PageControl->tabText(1), QStringLiteral("Definice exportů"));
  EXPECT_EQ(window_->PageControl->tabText(2), QStringLiteral("Stav poboček"));
  EXPECT_EQ(window_->PageControl->currentIndex(), 0);
  bool import = false;
  EXPECT_EQ(window_->CurrentDefinitionList(import), &maindata_->ImportDefTbl);
  EXPECT_TRUE(import);
  ShowTab(false);
  EXPECT_EQ(window_->CurrentDefinitionList(import), &maindata_->ExportDefTbl);
  EXPECT_FALSE(import);

  QStringList menus;
  for (const QAction* menu : window_->menuBar()->actions()) {
    if (menu->isVisible()) menus << menu->text();
  }
  EXPECT_EQ(menus, (QStringList{"&Záznam", "&Tamaril", "Nápo&věda"}));
  EXPECT_FALSE(window_->menuDevelop->menuAction()->isVisible());

  QStringList tools;
  for (const QAction* action : window_->ToolBar->actions())
    tools << (action->isSeparator() ? "|" : action->text());
  EXPECT_EQ(tools,
            (QStringList{"Nová definice", "Upravit definici", "Odstranit definici", "|", "Nastavení programu",
                         "Informace o položce", "Provést export", "Provést import", "|", "Obsah"}));
  EXPECT_EQ(window_->act_HelpContent->toolTip(), QStringLiteral("Nápověda"));
  EXPECT_EQ(window_->act_dev_Hintsql->toolTip(), window_->act_dev_Hintsql->text());
  EXPECT_EQ(window_->act_About->toolTip(), QStringLiteral("O aplikaci..."));
}

TEST_F(MainWindowTest, GivesTheActionsTheirShortcuts) {
  EXPECT_EQ(window_->act_NewRecord->shortcut(), QKeySequence(Qt::Key_F2));
  EXPECT_EQ(window_->act_EditRecord->shortcut(), QKeySequence(Qt::Key_F4));
  EXPECT_EQ(window_->act_DeleteRecord->shortcut(), QKeySequence(Qt::Key_F3));
  EXPECT_EQ(window_->act_Exit->shortcut(), QKeySequence(Qt::ALT | Qt::Key_X));
  EXPECT_EQ(window_->act_ItemInfo->shortcut(), QKeySequence(Qt::Key_F9));
  EXPECT_EQ(window_->act_PerformExport->shortcut(), QKeySequence(Qt::Key_F5));
  EXPECT_EQ(window_->act_PerformImport->shortcut(), QKeySequence(Qt::Key_F6));
  EXPECT_TRUE(window_->act_EditOptions->shortcut().isEmpty());
}

TEST_F(MainWindowTest, EnablesTheActionsForTheListOnTheActiveTab) {
  // order: new, edit, delete, item info, export, import, settings
  EXPECT_EQ(Enabled(), "1000001");
  AddDefinition(true, "IMP");
  window_->AppIdle();
  EXPECT_EQ(Enabled(), "1111011");
  ShowTab(false);
  EXPECT_EQ(Enabled(), "1000001");
  AddDefinition(false, "EXP");
  window_->AppIdle();
  EXPECT_EQ(Enabled(), "1111101");
  maindata_->ExportDefTbl.Edit();
  window_->AppIdle();
  EXPECT_EQ(Enabled(), "0000001");
  maindata_->ExportDefTbl.Cancel();
}

TEST_F(MainWindowTest, DisablesTheListWhileAnEditorIsOpenAndCancelsWhatItLeftUnsaved) {
  AddDefinition(true, "IMP");
  std::string while_open;
  QTimer::singleShot(0, [&] {
    window_->AppIdle();
    while_open = Enabled();
    auto* editor = qobject_cast<TfrmDefEdit*>(QApplication::activeModalWidget());
    if (editor != nullptr) editor->reject();
  });
  window_->act_NewRecord->trigger();
  EXPECT_EQ(while_open, "0000001");
  EXPECT_EQ(maindata_->ImportDefTbl.State(), DataSetState::Browse);
  EXPECT_EQ(maindata_->ImportDefTbl.RecordCount(), 1);
  EXPECT_EQ(Enabled(), "1111011");
}

TEST_F(MainWindowTest, DeletesADefinitionOnlyWhenTheAnswerIsYes) {
  AddDefinition(true, "IMP");
  window_->AppIdle();
  ui::testing::tScriptedBoxes boxes;
  boxes.Answer(tMsgButton::Abort);
  boxes.Answer(tMsgButton::Cancel);  // closing the box
  boxes.Answer(tMsgButton::Yes);
  window_->act_DeleteRecord->trigger();
  window_->act_DeleteRecord->trigger();
  EXPECT_EQ(maindata_->ImportDefTbl.RecordCount(), 1);
  window_->act_DeleteRecord->trigger();
  EXPECT_TRUE(maindata_->ImportDefTbl.IsEmpty());
  ASSERT_EQ(boxes.Shown().size(), 3U);
  EXPECT_EQ(boxes.Shown()[0].text, QStringLiteral("Opravdu chcete odstranit vybranou definici?"));
  EXPECT_EQ(boxes.Shown()[0].kind, tMsgKind::Warning);
  EXPECT_EQ(boxes.Shown()[0].buttons, (std::vector<tMsgButton>{tMsgButton::Yes, tMsgButton::Abort}));
  // Deleting does not write the list file by itself.
  EXPECT_FALSE(std::filesystem::exists(work_.File("IMPORT.DAT")));
}

// The keys and text form of a removed definition go with it, but only once the lists are
// stored without it, and not when a definition of the same Signature is back by then.
TEST_F(MainWindowTest, ARemovedDefinitionLosesItsSideFilesWhenTheListsAreStored) {
  const std::string key = "ed25519:" + std::string(43, 'A');  // the text as stored; never checked here
  AddDefinition(true, "IMP");
  AddDefinition(false, "EXP");
  core::SetTrustedKey("IMP", key);
  core::SetSealKey("EXP", key);
  core::SetExportTextUnicode("EXP", true);
  maindata_->StoreLists();
  ui::testing::tScriptedBoxes boxes;
  boxes.Answer(tMsgButton::Yes);
  boxes.Answer(tMsgButton::Yes);
  ShowTab(true);
  window_->act_DeleteRecord->trigger();
  ShowTab(false);
  window_->act_DeleteRecord->trigger();
  ASSERT_TRUE(maindata_->ImportDefTbl.IsEmpty());
  ASSERT_TRUE(maindata_->ExportDefTbl.IsEmpty());
  EXPECT_EQ(core::TrustedKey("IMP"), key) << "IMPORT.DAT still holds the definition";

  AddDefinition(false, "EXP");  // back before the lists are stored: keeps what it has
  maindata_->StoreLists();
  EXPECT_EQ(core::TrustedKey("IMP"), "");
  EXPECT_EQ(core::SealKey("EXP"), key);
  EXPECT_TRUE(core::ExportTextUnicode("EXP"));
}

TEST_F(MainWindowTest, TheDeleteKeyAsksBeforeItDeletes) {
  AddDefinition(false, "EXP");
  ShowTab(false);
  window_->show();
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  ui::testing::tScriptedBoxes boxes;
  boxes.Answer(tMsgButton::Abort);
  QTest::keyClick(window_.get(), Qt::Key_F3);
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Opravdu chcete odstranit vybranou definici?"});
  EXPECT_EQ(maindata_->ExportDefTbl.RecordCount(), 1);
}

TEST_F(MainWindowTest, WritesBothListsAtExitWithoutAHalfEditedRecord) {
  AddDefinition(true, "IMP");
  AddDefinition(false, "EXP");
  maindata_->ExportDefTbl.Edit();
  maindata_->ExportDefTbl.FieldByName("CenterName").SetAsString("neuloženo");
  EXPECT_TRUE(window_->close());
  Open();
  EXPECT_EQ(maindata_->ImportDefTbl.RecordCount(), 1);
  ASSERT_EQ(maindata_->ExportDefTbl.RecordCount(), 1);
  EXPECT_EQ(maindata_->ExportDefTbl.FieldByName("CenterName").AsString(), "Partner EXP");
}

TEST_F(MainWindowTest, StaysOpenWhenTheListsCannotBeWrittenAndThePersonSaysNo) {
  AddDefinition(true, "IMP");
  std::filesystem::create_directory(work_.File("IMPORT.DAT"));  // a folder where the file goes
  ui::testing::tScriptedBoxes boxes;
  boxes.Answer(tMsgButton::Ok);  // the error
  boxes.Answer(tMsgButton::No);  // end anyway?
  EXPECT_FALSE(window_->close());
  ASSERT_EQ(boxes.Shown().size(), 2U);
  EXPECT_EQ(boxes.Shown()[0].kind, tMsgKind::Error);
  boxes.Answer(tMsgButton::Ok);
  boxes.Answer(tMsgButton::Yes);
  EXPECT_TRUE(window_->close());
}

}  // namespace
}  // namespace tamaril::ui
