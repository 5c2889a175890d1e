// The export and import windows running the engine on the demo's SQLite databases: the
// questions go through scripted boxes, the results and counters are read off the windows.

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>

#include "core/definition_keys.h"
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
#include "replication/site_keys.h"
#include "run_to_end.h"
#include "scripted_boxes.h"
#include "support/temp_dir.h"
#include "text/encoding.h"
#include "ui/dataset_model.h"
#include "ui/export_window.h"
#include "ui/expression_builder.h"
#include "ui/import_window.h"
#include "ui/item_info.h"
#include "ui/main_window.h"
#include "ui/progress_window.h"
#include "ui/qt_text.h"
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

using testing::ExecAndClose;

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
    EXPECT_EQ(boxes.Shown().at(0).kind, tMsgKind::Information);
    // The window keeps the rows per table, their sum and where the archive went.
    ASSERT_EQ(window.listTables->topLevelItemCount(), static_cast<int>(result.Rows.size()) + 1);
    for (int i = 0; i < static_cast<int>(result.Rows.size()); ++i) {
      const auto& [table, rows] = result.Rows.at(static_cast<std::size_t>(i));
      EXPECT_EQ(window.listTables->topLevelItem(i)->text(0), FromAnsi(table));
      EXPECT_EQ(window.listTables->topLevelItem(i)->text(1), QString::number(rows));
    }
    EXPECT_EQ(window.listTables->topLevelItem(static_cast<int>(result.Rows.size()))->text(1),
              QString::number(written));
    EXPECT_FALSE(window.listTables->isHidden());
    EXPECT_EQ(window.LabelArchive->text(), QStringLiteral("Archiv: ") + FromUtf8(result.ArchivePath));
    EXPECT_FALSE(window.LabelArchive->isHidden());
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
  // The merge shows both bars and they end full (the table bar is not moved by anything else).
  int run_bar = -1;
  int table_bar = -1;
  const auto watch = [&window, &run_bar, &table_bar] {
    if (!window.Progress_DB->isVisible() || !window.Progress_Tbl->isVisible()) return;
    run_bar = std::max(run_bar, window.Progress_DB->value());
    table_bar = std::max(table_bar, window.Progress_Tbl->value());
  };
  QObject::connect(window.Progress_DB, &QProgressBar::valueChanged, &window, watch);
  QObject::connect(window.Progress_Tbl, &QProgressBar::valueChanged, &window, watch);
  ExecAndClose(window);
  EXPECT_EQ(run_bar, 100);
  EXPECT_EQ(table_bar, 100);

  const replication::tImportResult& result = window.Result();
  ASSERT_EQ(result.Outcome, replication::tImportOutcome::Conflicts) << result.Text;
  ASSERT_EQ(boxes.Shown().size(), 2u);
  EXPECT_TRUE(
      boxes.Shown()[0].text.startsWith(QStringLiteral("Před provedením importu se doporučuje zálohovat")));
  EXPECT_EQ(boxes.Shown()[1].text, QStringLiteral("Při importu se vyskytly chyby"));
  // The backup is a question; conflicts are not a plain success.
  EXPECT_EQ(boxes.Shown()[0].kind, tMsgKind::Confirmation);
  EXPECT_EQ(boxes.Shown()[1].kind, tMsgKind::Warning);
  EXPECT_TRUE(boxes.Shown()[1].detail.startsWith(QStringLiteral("DEMO-4.ZR2: importován (import č. ")))
      << boxes.Shown()[1].detail.toStdString();
  EXPECT_TRUE(window.memoOutcome->toPlainText().startsWith(QStringLiteral("DEMO-4.ZR2: importován")));
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

// A customer's name Windows-1250 cannot carry and a table whose rows nothing identifies: the
// window asks first (Ne is the default); Ne stops with nothing written, Ano carries the name
// with '?' and ends with the warning. The list and the note on deletions stay in the window.
TEST_F(RunWindowsTest, TextsThatWouldLoseCharactersTravelOnlyWhenConfirmed) {
  dbaccess::Connection client;
  client.SetConnectionString("Provider=SQLite;Data Source=" + dir_ + "/klient");
  client.Open();
  client.SetDefaultDatabase("klient");
  client.Execute(
      "UPDATE ODBERATELE SET NAZEV = char(1055, 1088, 1080, 1074, 1077, 1090) WHERE ID = 20;"
      "CREATE TABLE SKLAD (MISTO int, ZBOZI int, MNOZSTVI int, rep_Date_Inserted datetime, "
      "  rep_Signature_Inserted varchar(10), rep_Date_Updated datetime, rep_Signature_Updated varchar(10), "
      "  PRIMARY KEY (MISTO, ZBOZI));"
      "CREATE TRIGGER rep_tr_Del_SKLAD AFTER DELETE ON SKLAD BEGIN SELECT 1; END;"
      "CREATE TRIGGER rep_tr_Ins_SKLAD AFTER INSERT ON SKLAD BEGIN SELECT 1; END;"
      "INSERT INTO rep_TBLDESC (TABLENAME, TABLEDESC, LISTORDER) VALUES ('SKLAD', 'SKLAD', 9);"
      "INSERT INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule, LISTORDER) VALUES ('DEMO', 'SKLAD', "
      "'ANO', 9);");
  const auto logged = [&client] {
    auto rows = client.Query("SELECT count(*) FROM rep_XPORTLOG");
    return rows->Next() ? rows->Get(0).AsInteger() : -1;
  };
  const std::int64_t runs = logged();
  const fs::path archive = fs::path(text::AnsiToUtf8(core::ReplOptions().ExportFolder)) / "DEMO.ZR2";
  const bool had_archive = fs::exists(archive);
  const QString note = QStringLiteral(
      "Upozornění: Výmazy řádků tabulky SKLAD se nepřenášejí: její řádky neidentifikuje sloupec RowGuid ani "
      "jednoduchý celočíselný klíč.");

  testing::tScriptedBoxes boxes;
  boxes.Answer(tMsgButton::No);
  boxes.Answer(tMsgButton::Ok);
  data_->ExportDefTbl.First();
  {
    TfrmExport window(access_, data_->ExportDefTbl);
    ExecAndClose(window);
    const replication::tExportResult& result = window.Result();
    EXPECT_EQ(result.Outcome, replication::tExportOutcome::TextLossRefused) << result.Text;
    ASSERT_EQ(boxes.Shown().size(), 2u);
    const tMessage& question = boxes.Shown()[0];
    EXPECT_EQ(question.kind, tMsgKind::Confirmation);
    EXPECT_EQ(question.buttons, (std::vector<tMsgButton>{tMsgButton::Yes, tMsgButton::No}));
    EXPECT_EQ(question.default_button, tMsgButton::No);
    EXPECT_TRUE(question.text.startsWith(
        QStringLiteral("Počet textových hodnot se znaky, které kódování Windows-1250 nepřenese: 1\n"
                       "  ODBERATELE: 1 (NAZEV: 1)\n")))
        << question.text.toStdString();
    EXPECT_TRUE(boxes.Shown()[1].text.startsWith(QStringLiteral("Export neproveden")));
    EXPECT_FALSE(window.memoReport->isHidden());
    EXPECT_TRUE(window.memoReport->toPlainText().contains(QStringLiteral("    [ID=20] NAZEV: \"Привет\"\n")))
        << window.memoReport->toPlainText().toStdString();
    EXPECT_TRUE(window.memoReport->toPlainText().contains(note));
  }
  EXPECT_EQ(logged(), runs);
  EXPECT_EQ(fs::exists(archive), had_archive);

  boxes.Answer(tMsgButton::Yes);
  boxes.Answer(tMsgButton::Ok);
  TfrmExport window(access_, data_->ExportDefTbl);
  ExecAndClose(window);
  const replication::tExportResult& result = window.Result();
  ASSERT_EQ(result.Outcome, replication::tExportOutcome::Warnings) << result.Text;
  ASSERT_EQ(boxes.Shown().size(), 4u);
  EXPECT_EQ(boxes.Shown()[3].text, QStringLiteral("Export dokončen s varováním"));
  EXPECT_EQ(logged(), runs + 1);
  EXPECT_TRUE(fs::exists(archive));
  EXPECT_TRUE(window.memoReport->toPlainText().startsWith(
      QStringLiteral("Textové hodnoty se znaky, které kódování Windows-1250 nepřenese: 1 (v archivu je "
                     "nahradil znak '?')\n")));
  EXPECT_TRUE(window.memoReport->toPlainText().contains(note));
}

// What the export did in its folder besides stays in the window: the archive of a run ended
// between its log and its rename put in place, the archive it replaced renamed, older ones removed.
TEST_F(RunWindowsTest, TheExportWindowListsTheArchivesItPutInPlaceRenamedAndRemoved) {
  ASSERT_NO_FATAL_FAILURE(Export());
  const fs::path exports = fs::path(text::AnsiToUtf8(core::ReplOptions().ExportFolder));
  fs::rename(exports / "DEMO.ZR2", exports / "DEMO.ZR2.k1ll3d");
  const auto run = [this](int kept) {
    core::ReplOptions().BackupCount = kept;
    testing::tScriptedBoxes boxes;
    boxes.AnswerDefaults();
    data_->ExportDefTbl.First();
    TfrmExport window(access_, data_->ExportDefTbl);
    ExecAndClose(window);
    EXPECT_EQ(window.Result().Outcome, replication::tExportOutcome::Success) << window.Result().Text;
    EXPECT_FALSE(window.memoReport->isHidden());
    return std::make_pair(window.Result().ExportNo, window.memoReport->toPlainText());
  };

  const auto [first, first_report] = run(0);
  const QString bak = FromUtf8((exports / ("DEMO-" + std::to_string(first - 1) + ".ZR2.bak")).string());
  EXPECT_TRUE(first_report.contains(
      QStringLiteral(
          "Upozornění: Archiv exportu %1, zapsaného do protokolu před přerušením běhu, dán na místo: %2")
          .arg(first - 1)
          .arg(FromUtf8((exports / "DEMO.ZR2").string()))))
      << first_report.toStdString();
  EXPECT_TRUE(first_report.contains(QStringLiteral("Odstraněn starší archiv: ") + bak))
      << first_report.toStdString();
  EXPECT_FALSE(fs::exists(bak.toStdString()));

  const auto [second, second_report] = run(1);
  const QString kept = FromUtf8((exports / ("DEMO-" + std::to_string(first) + ".ZR2.bak")).string());
  EXPECT_TRUE(second_report.contains(QStringLiteral("Předchozí archiv přejmenován na: ") + kept))
      << second_report.toStdString();
  EXPECT_FALSE(second_report.contains(QStringLiteral("Odstraněn"))) << second_report.toStdString();
  EXPECT_EQ(second, first + 1);
}

// A site with a key signs, a definition with the center's key seals: the window's notes say so.
TEST_F(RunWindowsTest, TheExportWindowSaysTheArchiveWasSignedAndSealed) {
  const replication::tSiteKey key = replication::CreateSiteKey(replication::SiteKeyPath());
  const std::string public_text = replication::PublicKeyText(key.Public());
  data_->ExportDefTbl.First();
  core::SetSealKey(data_->ExportDefTbl.FieldByName("Signature").AsString(), public_text);
  testing::tScriptedBoxes boxes;
  boxes.AnswerDefaults();
  TfrmExport window(access_, data_->ExportDefTbl);
  ExecAndClose(window);
  ASSERT_EQ(window.Result().Outcome, replication::tExportOutcome::Success) << window.Result().Text;
  const QString report = window.memoReport->toPlainText();
  EXPECT_FALSE(window.memoReport->isHidden());
  EXPECT_TRUE(report.contains(QStringLiteral("Archiv podepsán klíčem ") + FromUtf8(public_text)))
      << report.toStdString();
  EXPECT_TRUE(report.contains(QStringLiteral("Archiv zašifrován pro klíč ") + FromUtf8(public_text)))
      << report.toStdString();
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

// The number of rows of a table of the demo's center.
std::string CenterCount(const std::string& dir, const std::string& table) {
  dbaccess::Connection center("Provider=SQLite;Data Source=" + dir + "/centrum");
  center.Open();
  center.SetDefaultDatabase("centrum");
  auto rows = center.Query("SELECT count(*) FROM " + table);
  return rows->Next() ? rows->Get(0).AsString() : std::string();
}

// An archive imported already goes in again only when the person confirms it in a box of its own.
TEST_F(RunWindowsTest, AnArchiveImportedAlreadyGoesInAgainOnlyWhenConfirmed) {
  ASSERT_NO_FATAL_FAILURE(Export());
  {
    testing::tScriptedBoxes boxes;
    boxes.Answer(tMsgButton::NoToAll);
    boxes.Answer(tMsgButton::Ok);
    TfrmImport window(access_, data_->ImportDefTbl);
    ExecAndClose(window);
    ASSERT_EQ(window.Result().Archives.at(0).State, replication::tArchiveState::Imported);
  }
  const std::string imports = CenterCount(dir_, "rep_IMPORTLOG");

  testing::tScriptedBoxes refused;
  refused.Answer(tMsgButton::No);
  refused.Answer(tMsgButton::Ok);
  TfrmImport first(access_, data_->ImportDefTbl);
  ExecAndClose(first);
  EXPECT_EQ(first.Result().Outcome, replication::tImportOutcome::Warnings) << first.Result().Text;
  EXPECT_EQ(first.Result().Archives.at(0).State, replication::tArchiveState::AlreadyImported);
  ASSERT_EQ(refused.Shown().size(), 2u);
  const tMessage& question = refused.Shown()[0];
  EXPECT_TRUE(question.text.startsWith(QStringLiteral("Přenos č. 4 už byl importován ")))
      << question.text.toStdString();
  EXPECT_TRUE(question.text.endsWith(QStringLiteral("Mám archiv DEMO-4.ZR2 přesto importovat?")));
  EXPECT_EQ(question.buttons, (std::vector<tMsgButton>{tMsgButton::Yes, tMsgButton::No}));
  EXPECT_TRUE(refused.Shown()[1].text.startsWith(QStringLiteral(
      "Import dokončen s upozorněními\r\n\r\nDEMO-4.ZR2: odmítnut: Přenos č. 4 už byl importován ")));
  EXPECT_EQ(CenterCount(dir_, "rep_IMPORTLOG"), imports);

  testing::tScriptedBoxes confirmed;
  confirmed.Answer(tMsgButton::Yes);
  confirmed.Answer(tMsgButton::NoToAll);
  confirmed.Answer(tMsgButton::Ok);
  TfrmImport second(access_, data_->ImportDefTbl);
  ExecAndClose(second);
  EXPECT_EQ(second.Result().Archives.at(0).State, replication::tArchiveState::Imported);
  EXPECT_EQ(confirmed.Shown().size(), 3u);
  EXPECT_EQ(CenterCount(dir_, "rep_IMPORTLOG"), std::to_string(std::stoi(imports) + 1));
}

// What the import window showed while it ran, sampled whenever it let events through.
struct RunSamples {
  bool counters = false;  ///< the archive's processed rows above 0
  bool named = false;     ///< the archive's name, number and branch
  bool partial = false;   ///< the archive's bar between empty and full
  bool all_at_once = false;
  bool analysed = false;          ///< a table named while the structure was analysed
  bool archive_as_table = false;  ///< the archive's name where a table belongs
};

// While the archive is merged the window shows its name, the branch and database, counters
// above 0 and a bar partly filled; the result box comes only once the counters are final. The
// demo's third archive, merged once more, has rows enough for the window to show them going by.
TEST_F(RunWindowsTest, TheImportWindowShowsTheRunWhileItGoesOn) {
  fs::copy_file(dir_ + "/PREVZATE/DEMO-3.ZR2", dir_ + "/IMPORTS/DEMO-3.ZR2");

  HookedBoxes boxes;
  boxes.Answer(tMsgButton::Yes);
  boxes.Answer(tMsgButton::NoToAll);
  boxes.Answer(tMsgButton::Ok);
  TfrmImport window(access_, data_->ImportDefTbl);
  RunSamples seen;
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, &window, [&window, &seen] {
    if (!window.Running()) return;
    const bool counters = window.CounterText(0, false).toInt() > 0 && window.CounterText(0, true).toInt() > 0;
    const bool named = window.LabelArchive->text() == QStringLiteral("1 z 1: DEMO-3.ZR2") &&
                       window.LabelDatabase->text() == QStringLiteral("centrum") &&
                       !window.LabelBranch->text().isEmpty();
    const QProgressBar* bar = window.Progress_DB;
    // The rows are counted beside the merge: on a busy machine the count is given time to end
    // while the merge waits here.
    if (bar->isVisible() && bar->maximum() == 0) QThread::msleep(10);
    const bool partial = bar->isVisible() && bar->maximum() == 100 && bar->value() > 0 && bar->value() < 100;
    seen.counters = seen.counters || counters;
    seen.named = seen.named || named;
    seen.partial = seen.partial || partial;
    seen.all_at_once = seen.all_at_once || (counters && named && partial);
    if (window.LabelWhatDoing->text() == QStringLiteral("Analyzuji strukturu tabulky")) {
      seen.analysed = seen.analysed || !window.LabelTblName->text().isEmpty();
      seen.archive_as_table = seen.archive_as_table || window.LabelTblName->text().endsWith(".ZR2");
    }
  });
  sampler.start(0);
  QString processed_at_box;
  boxes.OnBox(QStringLiteral("Při importu"),
              [&window, &processed_at_box] { processed_at_box = window.CounterText(0, true); });
  ExecAndClose(window);

  EXPECT_TRUE(seen.counters);
  EXPECT_TRUE(seen.named);
  EXPECT_TRUE(seen.partial);
  EXPECT_TRUE(seen.all_at_once);
  EXPECT_TRUE(seen.analysed);
  EXPECT_FALSE(seen.archive_as_table);
  const replication::tImportResult& result = window.Result();
  EXPECT_EQ(processed_at_box, QString::number(result.Total.processed));
  EXPECT_GT(result.Total.processed, 0);
  EXPECT_EQ(window.CounterText(7, true), QStringLiteral("0"));
  EXPECT_TRUE(window.LabelTime->text().startsWith(QStringLiteral("Uplynulý čas: 0:00:")))
      << window.LabelTime->text().toStdString();
}

// With the structure cached nothing is analysed: while the backup question waits, the archive
// is named on its own line and the table label stays free of it.
TEST_F(RunWindowsTest, TheTableLabelNeverNamesTheArchive) {
  ASSERT_NO_FATAL_FAILURE(Export());
  data_->ImportDefTbl.First();
  const tItemInfoTarget target = ItemInfoTarget(*data_, true);
  replication::OpenDatabaseStructure(access_, target.ConnectionString, target.DatabaseName,
                                     replication::tReadyFor::Import);
  connection_.Close();

  HookedBoxes boxes;
  boxes.Answer(tMsgButton::NoToAll);
  boxes.Answer(tMsgButton::Ok);
  TfrmImport window(access_, data_->ImportDefTbl);
  QString table_label = QStringLiteral("-");
  QString archive_label;
  boxes.OnBox(QStringLiteral("Před provedením"), [&] {
    table_label = window.LabelTblName->text();
    archive_label = window.LabelArchive->text();
  });
  ExecAndClose(window);
  EXPECT_EQ(table_label, QString());
  EXPECT_EQ(archive_label, QStringLiteral("1 z 1: DEMO-4.ZR2"));
}

// Random bytes under an archive's name: the run does not call that a success, says so in an
// error box and names the file with the reason in the window and in the conflict list.
TEST_F(RunWindowsTest, RandomBytesSavedAsAnArchiveAreNotASuccess) {
  {
    std::ofstream file(text::AnsiToUtf8(core::ReplOptions().ImportFolder) + "/X.ZR2", std::ios::binary);
    std::mt19937 random(20261210);
    for (int i = 0; i < 4096; ++i) file.put(static_cast<char>(random() & 0xFF));
  }
  testing::tScriptedBoxes boxes;
  boxes.AnswerDefaults();
  TfrmImport window(access_, data_->ImportDefTbl);
  ExecAndClose(window);

  const replication::tImportResult& result = window.Result();
  EXPECT_EQ(result.Outcome, replication::tImportOutcome::Failed) << result.Text;
  ASSERT_EQ(boxes.Shown().size(), 1u);
  const tMessage& box = boxes.Shown()[0];
  EXPECT_EQ(box.kind, tMsgKind::Error);
  EXPECT_FALSE(box.text.startsWith(QStringLiteral("Import úspěšně dokončen"))) << box.text.toStdString();
  EXPECT_TRUE(box.text.contains(QStringLiteral("X.ZR2: odmítnut: "))) << box.text.toStdString();
  EXPECT_TRUE(window.memoOutcome->toPlainText().startsWith(QStringLiteral("X.ZR2: odmítnut: ")));
  EXPECT_FALSE(window.memoOutcome->isHidden());
}

// While the structure of a database is analysed the main window starts nothing else: every
// action is disabled until the analysis ends. Esc stops the analysis, and the rules window
// does not open after it.
TEST_F(RunWindowsTest, AScanBlocksTheMainWindowAndEscStopsIt) {
  TfrmMain main(*data_, cache_);
  main.PageControl->setCurrentIndex(1);
  main.AppIdle();
  ASSERT_TRUE(main.act_ItemInfo->isEnabled());
  testing::tScriptedBoxes boxes;
  bool scanning = false;
  bool blocked = false;
  bool rules_opened = false;
  // Scoped to this test: a watcher left over must not reach into a later window.
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, &main, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* rules = qobject_cast<tRulesWindow*>(modal)) {
      rules_opened = true;
      rules->reject();
      return;
    }
    auto* progress = qobject_cast<TbaseDBProgress*>(modal);
    if (progress == nullptr || scanning) return;
    scanning = progress->isVisible() && progress->isModal();
    main.AppIdle();
    blocked = main.Busy() && !main.act_ItemInfo->isEnabled() && !main.act_PerformExport->isEnabled() &&
              !main.act_NewRecord->isEnabled() && !main.act_EditOptions->isEnabled();
    // A second start meanwhile does nothing.
    main.act_ItemInfo->trigger();
    QTest::keyClick(progress, Qt::Key_Escape);
  });
  watcher.start(0);
  main.act_ItemInfo->trigger();

  EXPECT_TRUE(scanning);
  EXPECT_TRUE(blocked);
  EXPECT_FALSE(rules_opened);
  EXPECT_TRUE(boxes.Shown().empty()) << boxes.Texts().front();
  // The analysis stopped: nothing of it was kept.
  const tItemInfoTarget target = ItemInfoTarget(*data_, false);
  EXPECT_EQ(cache_.Find(target.ConnectionString, target.DatabaseName), nullptr);
  EXPECT_FALSE(main.Busy());
  EXPECT_TRUE(main.act_ItemInfo->isEnabled());
  EXPECT_TRUE(main.act_PerformExport->isEnabled());
}

// Storno inside an archive rolls it back: the run ends "Import přerušen" and closing the window
// asks no restore question, since the database holds nothing of the archive.
TEST_F(RunWindowsTest, StornoInsideAnArchiveRollsItBackWithoutARestoreQuestion) {
  ASSERT_NO_FATAL_FAILURE(Export());
  const std::string customers = CenterCount(dir_, "ODBERATELE");

  HookedBoxes boxes;
  boxes.Answer(tMsgButton::Yes);
  boxes.Answer(tMsgButton::Yes);
  boxes.Answer(tMsgButton::Ok);
  TfrmImport window(access_, data_->ImportDefTbl);
  // Storno while the backup question is open: the run stops at the first row after it.
  boxes.OnBox(QStringLiteral("Před provedením"), [&window] { window.btnStorno->click(); });
  ExecAndClose(window);

  const replication::tImportResult& result = window.Result();
  EXPECT_EQ(result.Outcome, replication::tImportOutcome::Cancelled) << result.Text;
  ASSERT_EQ(result.BackedUp.size(), 1u);
  EXPECT_FALSE(result.BackedUp[0].RestoreWanted);
  EXPECT_EQ(result.Archives.at(0).State, replication::tArchiveState::Failed);
  EXPECT_FALSE(result.Archives.at(0).RollbackUnconfirmed);
  EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{boxes.Texts().at(0), "Opravdu chcete ukončit import?",
                                                     "Import přerušen uživatelem"}));
  EXPECT_EQ(boxes.Shown().back().kind, tMsgKind::Warning);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(CenterCount(dir_, "ODBERATELE"), customers);
}

}  // namespace
}  // namespace tamaril::ui
