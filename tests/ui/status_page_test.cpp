// The branch status page over SQLite centers whose run logs are written directly: what it marks,
// what it tells about a database it cannot read, its chart and its place in the main window.

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QSpinBox>
#include <QTabWidget>

#include <gtest/gtest.h>
#include <zlib.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "core/login.h"
#include "core/maindata.h"
#include "core/paths.h"
#include "core/repl_options.h"
#include "dataset/field.h"
#include "dbaccess/connection.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "dbstruct/structure_cache.h"
#include "replication/archive.h"
#include "replication/setup_script.h"
#include "support/temp_dir.h"
#include "text/encoding.h"
#include "ui/main_window.h"
#include "ui/status_page.h"

namespace tamaril::ui {
namespace {

using replication::tImportRunRows;

class tNoLogin : public core::LoginPrompt {
 public:
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override { return false; }
};

// The local time `days` days and an hour ago as the databases store it, so that whole days
// count the same on either side of a clock change.
std::string DaysAgo(int days) {
  const std::time_t then = std::time(nullptr) - static_cast<std::time_t>(days) * 86400 - 3600;
  std::tm local{};
  localtime_r(&then, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S.000", &local);
  return text;
}

// Every text the page shows, one label a line.
QString Shown(const QWidget& page) {
  QStringList texts;
  for (const QLabel* label : page.findChildren<QLabel*>()) {
    if (!label->text().isEmpty()) texts << label->text();
  }
  return texts.join(QLatin1Char('\n'));
}

// The label that shows exactly `text`, or null.
const QLabel* LabelOf(const QWidget& page, const QString& text) {
  for (const QLabel* label : page.findChildren<QLabel*>()) {
    if (label->text() == text) return label;
  }
  return nullptr;
}

// True when the label has an icon beside it, so that its mark does not rest on colour alone.
bool HasIconBeside(const QLabel& label) {
  for (const QLabel* sibling : label.parentWidget()->findChildren<QLabel*>()) {
    if (sibling != &label && !sibling->pixmap().isNull()) return true;
  }
  return false;
}

class StatusPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::SetProgramFolder(home_.path());
    core::SetDefaultReplOptions();
    core::ReplOptions().ImportFolder = imports_.path();
    core::ReplOptions().ExportFolder = exports_.path();
    database_.SetConnectionString(ConnectionString());
    database_.Open();
    database_.CreateDatabase("center");
    database_.SetDefaultDatabase("center");
    database_.Execute("CREATE TABLE Customers (Id INTEGER PRIMARY KEY, Name VARCHAR(40))");
    dbstruct::tSQLiteDatabase_Structure structure(&database_);
    structure.Scan();
    replication::ApplySQLiteSetupScript(database_, replication::SQLiteSetupStatements(structure, {}));
    database_.Execute(
        "INSERT OR IGNORE INTO rep_TBLDESC (TABLENAME, TABLEDESC, LISTORDER) VALUES "
        "('Customers', 'Zákazníci', 1)");
    maindata_ = std::make_unique<core::TMaindata>(prompt_);
  }
  void TearDown() override {
    maindata_.reset();
    core::SetDefaultReplOptions();
    core::SetProgramFolder("");
  }

  std::string ConnectionString() const { return "Provider=SQLite;Data Source=" + databases_.path(); }

  void AddImport(const std::string& signature, const std::string& client,
                 const std::string& connection_string = {}) {
    dataset::TDataSet& list = maindata_->ImportDefTbl;
    list.Append();
    list.FieldByName("Signature").SetAsString(signature);
    list.FieldByName("ClientName").SetAsString(text::Utf8ToAnsi(client));
    list.FieldByName("ConnectionString")
        .SetText(connection_string.empty() ? ConnectionString() : connection_string);
    list.FieldByName("DatabaseName").SetAsString("center");
    list.Post();
  }
  // An import of `signature` logged at the center, with the rows it appended.
  void LogImport(const std::string& signature, int import_no, int export_no, const std::string& date,
                 int appended) {
    database_.Execute(
        "INSERT INTO rep_IMPORTLOG (Signature, IMPORTNO, IMPORTDATE, CLIENTEXPORTNO, CLIENTEXPORTDATE) "
        "VALUES ('" +
        signature + "', " + std::to_string(import_no) + ", '" + date + "', " + std::to_string(export_no) +
        ", '" + date + "')");
    database_.Execute(
        "INSERT INTO rep_IMPORTLOGDETAIL (Signature, IMPORTNO, TABLENAME, COUNT_APPENDED) VALUES ('" +
        signature + "', " + std::to_string(import_no) + ", 'Customers', " + std::to_string(appended) + ")");
  }

  // An archive file whose content is only its header.
  static void WriteArchive(const std::string& path, const std::string& signature, int export_no) {
    replication::tArchiveHeader header;
    header.Signature = signature;
    header.ExportNo = export_no;
    const std::string bytes = replication::EncodeArchiveHeader(header);
    std::string packed(compressBound(bytes.size()), '\0');
    uLongf size = packed.size();
    ASSERT_EQ(compress(reinterpret_cast<Bytef*>(packed.data()), &size,
                       reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()),
              Z_OK);
    packed.resize(size);
    tamaril::testing::WriteWholeFile(path, packed);
  }

  tamaril::testing::TempDir home_;
  tamaril::testing::TempDir databases_;
  tamaril::testing::TempDir imports_;
  tamaril::testing::TempDir exports_;
  dbaccess::Connection database_;
  tNoLogin prompt_;
  std::unique_ptr<core::TMaindata> maindata_;
};

TEST_F(StatusPageTest, ShowsTheExportNumberACenterNeverImportedAndKeepsTheListsRow) {
  AddImport("SHOP", "Pobočka <i>Brno</i>");
  AddImport("FULL", "Pobočka Zlín");
  LogImport("SHOP", 1, 1, DaysAgo(2), 12);
  LogImport("SHOP", 2, 3, DaysAgo(1), 5);
  LogImport("FULL", 1, 1, DaysAgo(1), 7);
  maindata_->ImportDefTbl.First();

  TfraBranchStatus page(*maindata_);
  page.Refresh();
  EXPECT_EQ(maindata_->ImportDefTbl.FieldByName("Signature").AsString(), "SHOP")
      << "reading the definitions moves no list";

  const QString shown = Shown(page);
  EXPECT_TRUE(shown.contains(QStringLiteral("Chybí přenos č. 2"))) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("č. 3 z "))) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("(import č. 2)"))) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("Stav ze dne "))) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("pobočky vyžadující pozornost: 1"))) << shown.toStdString();
  const QLabel* gap = LabelOf(page, QStringLiteral("Chybí přenos č. 2"));
  ASSERT_NE(gap, nullptr);
  EXPECT_TRUE(HasIconBeside(*gap));
  // A name from the definition is shown as it stands, never read as markup.
  const QLabel* heading = LabelOf(page, QStringLiteral("SHOP – Pobočka <i>Brno</i>, databáze center"));
  ASSERT_NE(heading, nullptr) << shown.toStdString();
  EXPECT_EQ(heading->textFormat(), Qt::PlainText);

  // Each branch's chart holds its own imports with the rows they wrote.
  std::vector<std::vector<tImportRunRows>> charts;
  for (const tImportRowsChart* chart : page.findChildren<tImportRowsChart*>())
    charts.push_back(chart->Runs());
  ASSERT_EQ(charts.size(), 2U);
  ASSERT_EQ(charts[0].size(), 2U);
  EXPECT_EQ(charts[0][0].Rows, 12);
  EXPECT_EQ(charts[0][1].Rows, 5);
  EXPECT_EQ(charts[0][1].ExportNo, 3);
  ASSERT_EQ(charts[1].size(), 1U);
  EXPECT_EQ(charts[1][0].Rows, 7);
}

TEST_F(StatusPageTest, FlagsABranchSilentLongerThanTheThresholdWithIconAndText) {
  AddImport("OLD", "Pobočka Cheb");
  AddImport("NEW", "Pobočka Aš");
  LogImport("OLD", 1, 1, DaysAgo(10), 3);

  TfraBranchStatus page(*maindata_);
  page.Refresh();
  QString shown = Shown(page);
  const QLabel* stale = LabelOf(page, QStringLiteral("Pobočka bez přenosu 10 dní (práh 7 dní)"));
  ASSERT_NE(stale, nullptr) << shown.toStdString();
  EXPECT_TRUE(HasIconBeside(*stale));
  EXPECT_NE(LabelOf(page, QStringLiteral("Pobočka dosud bez přenosu")), nullptr) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("pobočky vyžadující pozornost: 2"))) << shown.toStdString();

  // A higher threshold judges the branches again without reading the databases.
  page.edStaleDays->setValue(10);
  shown = Shown(page);
  EXPECT_EQ(LabelOf(page, QStringLiteral("Pobočka bez přenosu 10 dní (práh 7 dní)")), nullptr);
  EXPECT_NE(LabelOf(page, QStringLiteral("V pořádku")), nullptr) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("pobočky vyžadující pozornost: 1"))) << shown.toStdString();
}

TEST_F(StatusPageTest, ListsTheArchivesWaitingInTheImportFolder) {
  AddImport("SHOP", "Pobočka Brno");
  LogImport("SHOP", 1, 1, DaysAgo(1), 4);
  LogImport("SHOP", 2, 2, DaysAgo(0), 4);
  WriteArchive(imports_.File("again.ZR2"), "SHOP", 2);
  WriteArchive(imports_.File("next.ZR2"), "SHOP", 3);
  WriteArchive(imports_.File("other.ZR2"), "OTHER", 1);
  tamaril::testing::WriteWholeFile(imports_.File("junk.ZR2"), "no archive");

  TfraBranchStatus page(*maindata_);
  page.Refresh();
  const QString shown = Shown(page);
  for (const QString& line :
       {QStringLiteral("again.ZR2, přenos č. 2 z 30.12.1899 0:00:00 (už importován, import ho odmítne)\n"
                       "next.ZR2, přenos č. 3 z 30.12.1899 0:00:00"),
        QStringLiteral("other.ZR2: Signature OTHER, přenos č. 1"), QStringLiteral("junk.ZR2")}) {
    EXPECT_NE(LabelOf(page, line), nullptr) << line.toStdString() << " missing in\n" << shown.toStdString();
  }
}

TEST_F(StatusPageTest, ADatabaseThatCannotBeReadShowsItsErrorAndTheOthersStillShow) {
  AddImport("GONE", "Pobočka Kolín", "Provider=SQLite;Data Source=" + databases_.File("no-such-folder"));
  AddImport("SHOP", "Pobočka Brno");
  LogImport("SHOP", 1, 1, DaysAgo(0), 4);

  TfraBranchStatus page(*maindata_);
  page.Refresh();
  const QString shown = Shown(page);
  const QLabel* error = nullptr;
  for (const QLabel* label : page.findChildren<QLabel*>()) {
    if (label->text().startsWith(QStringLiteral("Databázi nelze přečíst: "))) error = label;
  }
  ASSERT_NE(error, nullptr) << shown.toStdString();
  EXPECT_GT(error->text().size(), QStringLiteral("Databázi nelze přečíst: ").size()) << "the reason is shown";
  EXPECT_TRUE(HasIconBeside(*error));
  EXPECT_NE(LabelOf(page, QStringLiteral("V pořádku")), nullptr) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("databáze, které nelze přečíst: 1"))) << shown.toStdString();
  EXPECT_EQ(page.findChildren<tImportRowsChart*>().size(), 1) << "only the branch that was read has a chart";
}

TEST_F(StatusPageTest, TheMainWindowReadsThePageWhenItIsShown) {
  AddImport("SHOP", "Pobočka Brno");
  LogImport("SHOP", 1, 1, DaysAgo(0), 4);
  dbstruct::tDBStructureCache cache;
  TfrmMain window(*maindata_, cache);
  window.show();
  EXPECT_TRUE(window.pageStatus->Status().Imports.empty()) << "nothing is read before the page is shown";

  window.act_BranchStatus->trigger();
  EXPECT_EQ(window.PageControl->currentWidget(), window.pageStatus);
  QApplication::processEvents();
  ASSERT_EQ(window.pageStatus->Status().Imports.size(), 1U);
  EXPECT_EQ(window.pageStatus->Status().Imports[0].LastExportNo, 1);
  bool import = true;
  EXPECT_EQ(window.CurrentDefinitionList(import), nullptr) << "the list actions have no list on this page";

  // A second import shows after "Obnovit".
  LogImport("SHOP", 2, 2, DaysAgo(0), 4);
  window.pageStatus->act_Refresh->trigger();
  EXPECT_EQ(window.pageStatus->Status().Imports[0].LastExportNo, 2);

  // After an action of the window a page on show reads again at once, a hidden one only when shown.
  LogImport("SHOP", 3, 3, DaysAgo(0), 4);
  window.pageStatus->MarkOutdated();
  QApplication::processEvents();
  EXPECT_EQ(window.pageStatus->Status().Imports[0].LastExportNo, 3);
  window.PageControl->setCurrentIndex(0);
  LogImport("SHOP", 4, 4, DaysAgo(0), 4);
  window.pageStatus->MarkOutdated();
  QApplication::processEvents();
  EXPECT_EQ(window.pageStatus->Status().Imports[0].LastExportNo, 3);
  window.act_BranchStatus->trigger();
  QApplication::processEvents();
  EXPECT_EQ(window.pageStatus->Status().Imports[0].LastExportNo, 4);
}

TEST_F(StatusPageTest, WaitsWhileTheWindowDoesExclusiveWork) {
  AddImport("SHOP", "Pobočka Brno");
  LogImport("SHOP", 1, 1, DaysAgo(0), 4);
  TfraBranchStatus page(*maindata_);
  page.act_Refresh->setEnabled(false);
  page.show();
  QApplication::processEvents();
  EXPECT_TRUE(page.Status().Imports.empty()) << "nothing is read while Obnovit is disabled";
  page.act_Refresh->setEnabled(true);
  page.MarkOutdated();
  QApplication::processEvents();
  EXPECT_EQ(page.Status().Imports.size(), 1U);
}

tImportRunRows RunOf(int number, std::int64_t rows) { return {number, number, 0, rows}; }

TEST(ImportRowsChart, KeepsTheNewestRunsAtTheRightEnd) {
  tImportRowsChart chart;
  chart.resize(chart.sizeHint());
  std::vector<tImportRunRows> runs;
  for (int number = 1; number <= 35; ++number) runs.push_back(RunOf(number, number * 10));
  chart.SetRuns(runs);
  ASSERT_EQ(chart.Runs().size(), 30U);
  EXPECT_EQ(chart.Runs().front().ImportNo, 6);
  EXPECT_EQ(chart.Runs().back().ImportNo, 35);
  EXPECT_EQ(chart.RunAt({chart.width() - 2, chart.height() / 2}), 29);
  EXPECT_EQ(chart.RunAt({2, chart.height() / 2}), 0);

  chart.SetRuns({RunOf(7, 0), RunOf(8, 1)});
  EXPECT_EQ(chart.RunAt({2, chart.height() / 2}), -1) << "the slots of runs not made stay empty";
  EXPECT_EQ(chart.RunAt({chart.width() - 2, chart.height() / 2}), 1);
  EXPECT_TRUE(tImportRowsChart::RunText(chart.Runs()[1]).endsWith(QStringLiteral(": 1 řádek")))
      << tImportRowsChart::RunText(chart.Runs()[1]).toStdString();
  // The chart paints with no runs, a run of no rows and one of many without failing.
  chart.SetRuns({RunOf(1, 0), RunOf(2, 4000000000)});
  EXPECT_FALSE(chart.grab().isNull());
  chart.SetRuns({});
  EXPECT_FALSE(chart.grab().isNull());
}

}  // namespace
}  // namespace tamaril::ui
