// The export and import windows running the engine on the demo's SQLite databases: the
// questions go through scripted boxes, the results and counters are read off the windows.

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "core/login.h"
#include "core/login_cache.h"
#include "core/maindata.h"
#include "core/paths.h"
#include "core/repl_options.h"
#include "dataset/field.h"
#include "dbaccess/connection.h"
#include "dbstruct/structure_cache.h"
#include "demo_folder.h"
#include "on_modal.h"
#include "replication/database_open.h"
#include "scripted_boxes.h"
#include "support/temp_dir.h"
#include "text/encoding.h"
#include "ui/dataset_model.h"
#include "ui/export_window.h"
#include "ui/expression_builder.h"
#include "ui/import_window.h"
#include "ui/main_window.h"
#include "ui/rules_window.h"

namespace tamaril::ui {
namespace {

namespace fs = std::filesystem;

// SQLite connections never ask for a login.
struct NoLogin : core::LoginPrompt {
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override {
    ADD_FAILURE() << "a login was asked for";
    return false;
  }
};

// Scripted boxes that also run a step when a box with a given text comes up.
class HookedBoxes : public testing::tScriptedBoxes {
 public:
  void OnBox(QString text, std::function<void()> step) {
    hook_text_ = std::move(text);
    hook_ = std::move(step);
  }
  tMsgButton Show(QWidget* parent, const tMessage& message) override {
    if (hook_ && message.text.startsWith(hook_text_)) std::exchange(hook_, nullptr)();
    return tScriptedBoxes::Show(parent, message);
  }

 private:
  QString hook_text_;
  std::function<void()> hook_;
};

// Shows `window` modally; once its run ended, presses "Zavřít".
void ExecAndClose(TRunProgress& window) {
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, &window, [&window] {
    if (window.Finished() && window.isVisible()) window.btnStorno->click();
  });
  closer.start(20);
  window.exec();
}

// The demo folder after its three rounds, a client with new customers (one of the refused
// category "X", with an invoice) and the program's settings and lists loaded from the folder.
class RunWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::MakeDemoFolder(temp_.path(), dir_)) << "tamaril-cli demo failed";
    core::SetProgramFolder(dir_);
    core::LoadReplOptions();
    data_ = std::make_unique<core::TMaindata>(prompt_);

    dbaccess::Connection client;
    client.SetConnectionString("Provider=SQLite;Data Source=" + dir_ + "/klient");
    client.Open();
    client.SetDefaultDatabase("klient");
    client.Execute(text::Utf8ToAnsi(
        "INSERT INTO ODBERATELE (ID, NAZEV, MESTO, KATEGORIE) VALUES (20, 'Nový odběratel', 'Třebíč', 'A');"
        "INSERT INTO ODBERATELE (ID, NAZEV, MESTO, KATEGORIE) VALUES (21, 'Odmítnutý', 'Kolín', 'X');"
        "INSERT INTO FAKTURY (ID, RG, CISLO, ODBERATEL, DATUM) VALUES (40, "
        "'{00000040-5A1E-4D00-8000-00000000CAFE}', 'FV20261040', 21, '2026-12-08');"));
  }

  // Exports the client's definition through the window; the archive is carried to the imports.
  void Export() {
    testing::tScriptedBoxes boxes;
    boxes.Answer(tMsgButton::Ok);
    data_->ExportDefTbl.First();
    TfrmExport window(access_, data_->ExportDefTbl);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Eport pro Centrum, databáze klient"));
    ExecAndClose(window);

    const replication::tExportResult& result = window.Result();
    ASSERT_EQ(result.Outcome, replication::tExportOutcome::Success) << result.Text;
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Export úspěšně dokončen"});
    EXPECT_EQ(window.btnStorno->text(), QStringLiteral("Zavřít"));
    EXPECT_FALSE(window.isVisible());
    long long written = 0;
    for (const auto& [table, rows] : result.Rows) written += rows;
    EXPECT_GE(written, 3);
    EXPECT_EQ(window.LabelRecords->text(), QStringLiteral("Počet záznamů: %1").arg(written));
    fs::copy_file(result.ArchivePath, dir_ + "/IMPORTS/DEMO-4.ZR2");
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

TEST_F(RunWindowsTest, ExportThenImportShowTheResultsAndCounters) {
  ASSERT_NO_FATAL_FAILURE(Export());

  testing::tScriptedBoxes boxes;
  boxes.Answer(tMsgButton::NoToAll);
  boxes.Answer(tMsgButton::Ok);
  TfrmImport window(access_, data_->ImportDefTbl);
  EXPECT_EQ(window.LabelFound->text(), QStringLiteral("Nalezeno: 1"));
  EXPECT_FALSE(window.btnShowConflicts->isEnabled());
  ExecAndClose(window);

  const replication::tImportResult& result = window.Result();
  ASSERT_EQ(result.Outcome, replication::tImportOutcome::Conflicts) << result.Text;
  ASSERT_EQ(boxes.Shown().size(), 2u);
  EXPECT_TRUE(
      boxes.Shown()[0].text.startsWith(QStringLiteral("Před provedením importu se doporučuje zálohovat")));
  EXPECT_EQ(boxes.Shown()[1].text, QStringLiteral("Při importu se vyskytly chyby"));
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(window.btnShowConflicts->isEnabled());

  // The customer of category "X" is refused, its invoice then lacks its master.
  EXPECT_EQ(window.CounterText(0, true), QString::number(result.Total.processed));
  EXPECT_EQ(window.CounterText(2, true), QString::number(result.Total.appended));
  EXPECT_EQ(window.CounterText(6, true), QString::number(result.Total.conflicts));
  EXPECT_GE(result.Total.conflicts, 1);
  for (int row = 0; row < 7; ++row) EXPECT_EQ(window.CounterText(row, false), window.CounterText(row, true));
  EXPECT_FALSE(result.Conflicts->Empty());
}

TEST_F(RunWindowsTest, ClosingDuringTheRunAsksToStopInsteadOfClosing) {
  ASSERT_NO_FATAL_FAILURE(Export());

  HookedBoxes boxes;
  boxes.Answer(tMsgButton::NoToAll);
  boxes.Answer(tMsgButton::Yes);
  boxes.Answer(tMsgButton::Ok);
  TfrmImport window(access_, data_->ImportDefTbl);
  bool stayed_open = false;
  boxes.OnBox(QStringLiteral("Před provedením"), [&window, &stayed_open] {
    window.close();
    stayed_open = window.isVisible();
  });
  ExecAndClose(window);

  EXPECT_TRUE(stayed_open);
  const replication::tImportResult& result = window.Result();
  EXPECT_EQ(result.Outcome, replication::tImportOutcome::Cancelled) << result.Text;
  ASSERT_GE(boxes.Shown().size(), 2u);
  EXPECT_EQ(boxes.Shown()[1].text, QStringLiteral("Opravdu chcete ukončit import?"));
  EXPECT_EQ(result.Total.appended, 0);
}

// F9 on the export tab opens the definition's rules; a rule built there decides what the next
// export writes.
TEST_F(RunWindowsTest, ARuleBuiltInTheRulesWindowDecidesWhatTheNextExportWrites) {
  TfrmMain main(*data_, cache_);
  main.PageControl->setCurrentIndex(1);
  testing::tScriptedBoxes boxes;
  bool opened = false;
  testing::OnModal<Tfrm_DBEXPORT>([&opened](Tfrm_DBEXPORT& window) {
    opened = true;
    window.PageControl->setCurrentWidget(window.tabRules);
    dataset::TDataSet* rules = window.gridRules->DataSetModel()->DataSet();
    EXPECT_TRUE(rules->Locate("TABLENAME", dataset::Variant::String("ODBERATELE")));
    testing::OnModal<TExpressionBuildDlg>([](TExpressionBuildDlg& builder) {
      builder.Resultmemo->setPlainText(QStringLiteral("ID =\n 20"));
      builder.OKBtn->click();
    });
    window.act_BuildExportRule->trigger();
    window.act_Close->trigger();
  });
  main.act_ItemInfo->trigger();
  ASSERT_TRUE(opened);
  EXPECT_TRUE(boxes.Shown().empty()) << boxes.Texts().front();

  boxes.Answer(tMsgButton::Ok);
  data_->ExportDefTbl.First();
  TfrmExport window(access_, data_->ExportDefTbl);
  ExecAndClose(window);
  const replication::tExportResult& result = window.Result();
  ASSERT_EQ(result.Outcome, replication::tExportOutcome::Success) << result.Text;
  int customers = -1;
  for (const auto& [table, rows] : result.Rows) {
    if (table == "ODBERATELE") customers = rows;
  }
  // Of the two new customers only the one the rule names travels.
  EXPECT_EQ(customers, 1);
}

}  // namespace
}  // namespace tamaril::ui
