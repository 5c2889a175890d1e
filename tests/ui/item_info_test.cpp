// The item information action on the demo's SQLite databases: the structure is analysed once
// per database, the database checked every time, and the connection closed afterwards.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "core/errors.h"
#include "core/login.h"
#include "core/maindata.h"
#include "core/paths.h"
#include "dbaccess/connection.h"
#include "dbstruct/structure_cache.h"
#include "demo_folder.h"
#include "on_modal.h"
#include "replication/readiness.h"
#include "replication/start_up.h"
#include "scripted_boxes.h"
#include "support/expect_throw_msg.h"
#include "support/temp_dir.h"

#include <QAction>
#include <QTabWidget>
#include "text/encoding.h"
#include "ui/item_info.h"
#include "ui/main_window.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"
#include "ui/rules_window.h"

namespace tamaril::ui {
namespace {

class tNoLogin : public core::LoginPrompt {
 public:
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override { return false; }
};

// The demo's folder, built once by the command-line program for the whole suite.
class ItemInfoTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    demo_ = std::make_unique<tamaril::testing::TempDir>();
    demo_built_ = ui::testing::MakeDemoFolder(demo_->path(), demo_->File("demo"));
  }
  static void TearDownTestSuite() { demo_.reset(); }

  void SetUp() override {
    ASSERT_TRUE(demo_built_) << "tamaril-cli demo failed";
    replication::InitRuleLanguage();
    core::SetProgramFolder(demo_->File("demo"));
    maindata_ = std::make_unique<core::TMaindata>(prompt_);
  }
  void TearDown() override {
    maindata_.reset();
    core::SetProgramFolder("");
  }

  static std::unique_ptr<tamaril::testing::TempDir> demo_;
  static bool demo_built_;
  tNoLogin prompt_;
  dbstruct::tDBStructureCache cache_;
  std::unique_ptr<core::TMaindata> maindata_;
};

std::unique_ptr<tamaril::testing::TempDir> ItemInfoTest::demo_;
bool ItemInfoTest::demo_built_ = false;

// Closes the next rules window at once, noting its caption.
void CloseRulesWindow(std::vector<QString>& captions) {
  testing::OnModal<tRulesWindow>([&captions](tRulesWindow& window) {
    captions.push_back(window.windowTitle());
    window.act_Close->trigger();
  });
}

TEST_F(ItemInfoTest, AnalysesADatabaseOnceAndReusesTheCachedStructure) {
  ui::testing::tScriptedBoxes boxes;
  std::vector<QString> captions;
  CloseRulesWindow(captions);
  EXPECT_TRUE(ShowItemInfo(nullptr, *maindata_, cache_, true));
  EXPECT_EQ(cache_.Count(), 1);
  EXPECT_FALSE(maindata_->ADOConnection.IsOpen());
  CloseRulesWindow(captions);
  EXPECT_FALSE(ShowItemInfo(nullptr, *maindata_, cache_, true));
  EXPECT_EQ(cache_.Count(), 1);
  EXPECT_FALSE(maindata_->ADOConnection.IsOpen());
  // The export definition's database is another one.
  CloseRulesWindow(captions);
  EXPECT_TRUE(ShowItemInfo(nullptr, *maindata_, cache_, false));
  EXPECT_EQ(cache_.Count(), 2);

  EXPECT_EQ(captions, (std::vector<QString>{QStringLiteral("Nastavení importu od klienta Pobočka Brno"),
                                            QStringLiteral("Nastavení importu od klienta Pobočka Brno"),
                                            QStringLiteral("Nastavení exportu do centra Centrum")}));
  EXPECT_TRUE(boxes.Shown().empty()) << boxes.Texts().front();
}

TEST_F(ItemInfoTest, WritesTheListsBeforeItConnects) {
  ui::testing::tScriptedBoxes boxes;
  boxes.AnswerDefaults();
  dataset::TDataSet& list = maindata_->ImportDefTbl;
  list.Edit();
  list.FieldByName("Pozn").SetAsString(text::Utf8ToAnsi("poznámka"));
  list.Post();
  std::vector<QString> captions;
  CloseRulesWindow(captions);
  ShowItemInfo(nullptr, *maindata_, cache_, true);
  maindata_ = std::make_unique<core::TMaindata>(prompt_);
  EXPECT_EQ(maindata_->ImportDefTbl.FieldByName("Pozn").AsString(), text::Utf8ToAnsi("poznámka"));
}

TEST_F(ItemInfoTest, ClosesTheConnectionWhenTheDatabaseIsMissing) {
  dataset::TDataSet& list = maindata_->ExportDefTbl;
  list.Edit();
  list.FieldByName("DatabaseName").SetAsString("missing.db");
  list.Post();
  std::string message;
  try {
    ShowItemInfo(nullptr, *maindata_, cache_, false);
  } catch (const core::AppError& e) {
    message = e.what();
  }
  EXPECT_EQ(message.rfind(text::Utf8ToAnsi("Databáze SQLite neexistuje: "), 0), 0U) << message;
  EXPECT_FALSE(maindata_->ADOConnection.IsOpen());
  EXPECT_EQ(cache_.Count(), 0);
}

// Runs statements on the database of the current import definition and, at the end of the test,
// the statements that undo them: the demo's folder serves the whole suite.
class tImportDatabaseChange {
 public:
  tImportDatabaseChange(core::TMaindata& maindata, const std::string& change, std::string undo)
      : target_(ItemInfoTarget(maindata, true)),
        connection_(target_.ConnectionString),
        undo_(std::move(undo)) {
    connection_.Open();
    connection_.SetDefaultDatabase(target_.DatabaseName);
    connection_.Execute(change);
  }
  ~tImportDatabaseChange() {
    try {
      connection_.Execute(undo_);
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
    }
  }
  tImportDatabaseChange(const tImportDatabaseChange&) = delete;
  tImportDatabaseChange& operator=(const tImportDatabaseChange&) = delete;

  const tItemInfoTarget& Target() const { return target_; }

 private:
  tItemInfoTarget target_;
  dbaccess::Connection connection_;
  std::string undo_;
};

// Tables added after the setup are not replicated: the box says so, at most 25 lines of it, and
// the rules open after it.
TEST_F(ItemInfoTest, ListsTheNotesOfTheReadinessReportBeforeTheRulesOpen) {
  std::string create;
  std::string drop;
  for (int i = 1; i <= 27; ++i) {
    const std::string name = "PRIDANA_" + std::string(i < 10 ? "0" : "") + std::to_string(i);
    create += "CREATE TABLE " + name + " (ID INTEGER PRIMARY KEY);";
    drop += "DROP TABLE " + name + ";";
  }
  const tImportDatabaseChange change(*maindata_, create, drop);
  ui::testing::tScriptedBoxes boxes;
  boxes.Answer(tMsgButton::Ok);
  std::vector<QString> captions;
  CloseRulesWindow(captions);
  ShowItemInfo(nullptr, *maindata_, cache_, true);

  EXPECT_EQ(captions.size(), 1U);
  ASSERT_EQ(boxes.Shown().size(), 1U);
  EXPECT_EQ(boxes.Shown()[0].kind, tMsgKind::Warning);
  const QStringList lines = boxes.Shown()[0].text.split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 27);
  EXPECT_EQ(lines.front(), QStringLiteral("Upozornění:"));
  EXPECT_EQ(lines[1],
            QStringLiteral("PRIDANA_01: tabulka není v rep_TBLDESC (přibyla po založení replikace), a "
                           "proto se nereplikuje; zařadí ji skript replikace"));
  EXPECT_EQ(lines.back(), QStringLiteral("… a dalších 2 (všechna vypíše tamaril-cli check)"));
}

// The check's carriage return would leave the box one line; the box shows two, then the notes.
TEST_F(ItemInfoTest, ShowsADatabaseThatIsNotReadyOnTwoLinesWithTheNotes) {
  const tImportDatabaseChange change(
      *maindata_,
      "INSERT INTO rep_TBLDESC (TABLENAME, TABLEDESC, LISTORDER) VALUES ('ZMIZELA', 'ZMIZELA', 99)",
      "DELETE FROM rep_TBLDESC WHERE TABLENAME = 'ZMIZELA'");
  ui::testing::tScriptedBoxes boxes;
  boxes.Answer(tMsgButton::Ok);
  try {
    ShowItemInfo(nullptr, *maindata_, cache_, true);
    ADD_FAILURE() << "the rules opened on a database that is not ready";
  } catch (const replication::DatabaseNotReadyError&) {
    ShowException(nullptr, std::current_exception());
  }
  ASSERT_EQ(boxes.Shown().size(), 1U);
  EXPECT_EQ(boxes.Shown()[0].kind, tMsgKind::Error);
  EXPECT_EQ(
      boxes.Shown()[0].text,
      QStringLiteral("Databáze ") + FromAnsi(change.Target().DatabaseName) +
          QStringLiteral(" není připravena k replikaci\n\"ZMIZELA\" nenalezeno.\n\nUpozornění:\n"
                         "ZMIZELA: tabulka už v databázi není, rep_TBLDESC ji však uvádí; skript replikace "
                         "odstraní její pravidla a řádky protokolů"));
  EXPECT_FALSE(maindata_->ADOConnection.IsOpen());
}

// The setup script of the current definition's database, from the developer's action.
TEST_F(ItemInfoTest, WritesTheSetupScriptOfTheCurrentDefinitionOnlyAfterYes) {
  const std::string hint = demo_->File("demo/hint.sql");
  std::filesystem::remove(hint);
  TfrmMain window(*maindata_, cache_);
  ui::testing::tScriptedBoxes boxes;
  boxes.Answer(tMsgButton::Cancel);
  window.act_dev_Hintsql->trigger();
  EXPECT_FALSE(std::filesystem::exists(hint));

  boxes.Answer(tMsgButton::Yes);
  boxes.Answer(tMsgButton::Ok);
  window.act_dev_Hintsql->trigger();
  ASSERT_EQ(boxes.Shown().size(), 3U);
  EXPECT_TRUE(boxes.Shown()[1].text.startsWith(
      QStringLiteral("Tato volba vytvori v adresari aplikace soubor hint.sql")));
  EXPECT_EQ(boxes.Shown()[2].text, QStringLiteral("hint.sql úspěšně vytvořen"));
  EXPECT_NE(tamaril::testing::ReadWholeFile(hint).find("rep_TBLDESC"), std::string::npos);
}

// The check box of the question adds rep_RowGuid to the tables nothing identifies.
TEST_F(ItemInfoTest, TheSetupQuestionOffersToAddARowGuidColumn) {
  const tImportDatabaseChange change(*maindata_, "CREATE TABLE VAZBY (A INT, B INT, PRIMARY KEY (A, B))",
                                     "DROP TABLE VAZBY");
  const std::string hint = demo_->File("demo/hint.sql");
  TfrmMain window(*maindata_, cache_);
  ui::testing::tScriptedBoxes boxes;
  boxes.Answer(tMsgButton::Yes);
  boxes.Answer(tMsgButton::Ok);
  window.act_dev_Hintsql->trigger();
  ASSERT_EQ(boxes.Shown().size(), 2U);
  EXPECT_TRUE(boxes.Shown()[0].check_box.startsWith(QStringLiteral("Přidat sloupec rep_RowGuid")));
  EXPECT_EQ(tamaril::testing::ReadWholeFile(hint).find("\"rep_RowGuid\""), std::string::npos);

  boxes.CheckBoxes(true);
  boxes.Answer(tMsgButton::Yes);
  boxes.Answer(tMsgButton::Ok);
  window.act_dev_Hintsql->trigger();
  EXPECT_NE(tamaril::testing::ReadWholeFile(hint).find("ALTER TABLE \"VAZBY\" ADD COLUMN \"rep_RowGuid\""),
            std::string::npos);
}

// A database that cannot be reached leaves the script written before as it was, instead of a
// file cut short after its fixed head.
TEST_F(ItemInfoTest, KeepsThePreviousSetupScriptWhenTheDatabaseCannotBeReached) {
  const std::string hint = demo_->File("demo/hint.sql");
  tamaril::testing::WriteWholeFile(hint, "-- the script of yesterday\n");
  dataset::TDataSet& list = maindata_->ImportDefTbl;
  list.Edit();
  list.FieldByName("DatabaseName").SetAsString("missing.db");
  list.Post();
  TfrmMain window(*maindata_, cache_);
  ui::testing::tScriptedBoxes boxes;
  boxes.Answer(tMsgButton::Yes);
  boxes.Answer(tMsgButton::Ok);
  window.act_dev_Hintsql->trigger();
  ASSERT_EQ(boxes.Shown().size(), 2U);
  EXPECT_EQ(boxes.Shown()[1].kind, tMsgKind::Error);
  EXPECT_EQ(tamaril::testing::ReadWholeFile(hint), "-- the script of yesterday\n");
  EXPECT_FALSE(maindata_->ADOConnection.IsOpen());
}

}  // namespace
}  // namespace tamaril::ui
