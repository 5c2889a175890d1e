// The conflict list window: the lines it shows, which rows "Zobrazit záznam" opens, how the
// failed archives and the conflicts their rollback took back are shown, the centred "Zavřít" of
// both windows, the progress bars' rounding and what Esc does to a progress window.

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "dataset/field.h"
#include "dataset/memory_table.h"
#include "replication/conflict_list.h"
#include "replication/import_run.h"
#include "text/encoding.h"
#include "text/error.h"
#include "ui/dataset_model.h"
#include "ui/error_windows.h"
#include "ui/progress_window.h"

namespace tamaril::ui {
namespace {

// A one-row table standing in for the merger's current row.
class SourceRow {
 public:
  SourceRow() {
    table_.SetFieldLayout("Id;Integer;0;0;Name;String;20;0");
    table_.Open();
  }
  dataset::TQVMMemoryTable& Set(int id, const std::string& name) {
    table_.EmptyTable();
    table_.Append();
    table_.FieldByName("Id").SetAsInteger(id);
    table_.FieldByName("Name").SetAsString(name);
    table_.Post();
    return table_;
  }

 private:
  dataset::TQVMMemoryTable table_;
};

// What a shown TfrmProblemRecords held: its caption and the grid's first column.
struct ShownRecords {
  QString caption;
  QStringList ids;
};

class FormErrorsTest : public ::testing::Test {
 protected:
  // Selects `line` and presses "Zobrazit záznam"; the records window, when one opens, is read
  // and closed.
  std::optional<ShownRecords> PressShowRecord(int line) {
    window.ListView1->setCurrentItem(window.LineAt(line));
    std::optional<ShownRecords> shown;
    // Scoped to this press: a timer left over must not fire into a later one.
    QTimer reader;
    reader.setSingleShot(true);
    QObject::connect(&reader, &QTimer::timeout, [&shown] {
      auto* records = qobject_cast<TfrmProblemRecords*>(QApplication::activeModalWidget());
      if (records == nullptr) return;
      ShownRecords seen{records->windowTitle(), {}};
      tDataSetModel* model = records->DBGrid1->DataSetModel();
      for (int row = 0; row < model->rowCount(); ++row)
        seen.ids << model->data(model->index(row, 0)).toString();
      shown = seen;
      records->btnClose->click();
    });
    reader.start(0);
    window.btnShowRecord->click();
    QApplication::processEvents();
    return shown;
  }

  QStringList Lines() const { return window.LineTexts(); }

  replication::tConflictList list;
  TFormErrors window{list};
  SourceRow row;
};

TEST_F(FormErrorsTest, SameMessageArchiveAndDatabaseShareOneGroupWithBothRows) {
  window.AddError("A.ZR2", "centrum", &row.Set(1, "jedna"), "Konflikt");
  window.AddError("A.ZR2", "centrum", &row.Set(2, "dva"), "Konflikt");
  window.AddError("B.ZR2", "centrum", &row.Set(3, "tri"), "Konflikt");

  EXPECT_EQ(window.windowTitle(), QStringLiteral("Chyby při přenosu"));
  EXPECT_EQ(window.ListView1->headerItem()->text(0), QStringLiteral("Text"));
  EXPECT_EQ(Lines(), (QStringList{"Konflikt", QStringLiteral("  Archiv: A.ZR2    Databáze: centrum"),
                                  "Konflikt", QStringLiteral("  Archiv: B.ZR2    Databáze: centrum")}));

  // The line of the archive and database belongs to the group of its message.
  const auto first = PressShowRecord(1);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->caption, QStringLiteral("Konfliktní záznam"));
  EXPECT_EQ(first->ids, (QStringList{"1", "2"}));

  const auto second = PressShowRecord(2);
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->ids, QStringList{"3"});
}

TEST_F(FormErrorsTest, NothingIsShownForARowlessGroupOrNoSelection) {
  window.AddError("A.ZR2", "", nullptr, text::Utf8ToAnsi("Bez záznamu"));
  window.AddError("A.ZR2", "", &row.Set(7, "sedm"), text::Utf8ToAnsi("S záznamem"));
  ASSERT_EQ(Lines(), (QStringList{QStringLiteral("Bez záznamu"), "  Archiv: A.ZR2",
                                  QStringLiteral("S záznamem"), "  Archiv: A.ZR2"}));

  EXPECT_FALSE(PressShowRecord(0).has_value());
  EXPECT_FALSE(PressShowRecord(1).has_value());
  window.ListView1->clearSelection();
  EXPECT_FALSE(window.ShowRecords());
  EXPECT_TRUE(PressShowRecord(3).has_value());
  EXPECT_TRUE(PressShowRecord(2).has_value());
}

// An import that failed: its own failure heads the list with its reason, its conflicts stay
// but say that the rollback took them back, and a whole message is in the line's tooltip.
TEST_F(FormErrorsTest, AFailedArchiveIsListedAndItsUndoneConflictsAreMarked) {
  const std::string long_message(300, 'x');
  window.AddError("A.ZR2", "centrum", &row.Set(1, "jedna"), "Konflikt");
  window.AddError("B.ZR2", "centrum", &row.Set(2, "dva"), long_message);
  replication::tImportResult result;
  result.Archives.push_back({"/in/A.ZR2"});
  result.Archives.back().State = replication::tArchiveState::Imported;
  result.Archives.push_back({"/in/B.ZR2"});
  result.Archives.back().State = replication::tArchiveState::Failed;
  result.Archives.back().Reason =
      text::Utf8ToAnsi("Tabulka POLOZKY_FAKTUR, řádek 32150: Unexpected end of stream");
  window.SetRunOutcome(result);

  const QString undone = QStringLiteral(" (vráceno s importem archivu, v databázi není)");
  EXPECT_EQ(Lines(),
            (QStringList{
                QStringLiteral("Import archivu neproveden: Tabulka POLOZKY_FAKTUR, řádek 32150: Unexpected "
                               "end of stream"),
                "  Archiv: B.ZR2",
                QStringLiteral("  Databáze ponechána beze změny, import archivu byl vrácen"),
                "Konflikt",
                QStringLiteral("  Archiv: A.ZR2    Databáze: centrum"),
                QString::fromStdString(long_message) + undone,
                QStringLiteral("  Archiv: B.ZR2    Databáze: centrum"),
            }));
  EXPECT_EQ(window.LineAt(5)->toolTip(0), QString::fromStdString(long_message) + undone);
  // The failure keeps no rows; the undone conflict still shows the row it was about.
  EXPECT_FALSE(PressShowRecord(0).has_value());
  const auto kept = PressShowRecord(6);
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(kept->ids, QStringList{"2"});
  // The pane under the list holds the selected group whole.
  EXPECT_EQ(window.memoDetail->toPlainText(), QString::fromStdString(long_message) + undone +
                                                  QStringLiteral("\nArchiv: B.ZR2    Databáze: centrum"));

  // A rollback that could not be confirmed is not called a rollback.
  result.Archives.back().RollbackUnconfirmed = true;
  window.SetRunOutcome(result);
  EXPECT_EQ(Lines().at(2), QStringLiteral("  Vrácení nelze potvrdit, databáze může obsahovat část archivu"));
  EXPECT_TRUE(Lines().at(5).endsWith(QStringLiteral(" (import archivu se nepodařilo potvrzeně vrátit)")));
}

// A conflict whose rows the run kept shows the archive's row beside the database row it met;
// differing values are marked, the tracking columns never, and another group hides the grid.
TEST_F(FormErrorsTest, TheKeptRowsOfAConflictStandSideBySide) {
  window.AddError("A.ZR2", "centrum", &row.Set(1, "jedna"), "Konflikt");
  window.AddError("A.ZR2", "centrum", &row.Set(2, "dva"), "Jiný konflikt");
  replication::tImportResult result;
  replication::tConflictRows kept;
  kept.Archive = "A.ZR2";
  kept.Message = "Konflikt";
  kept.Fields = {"ID", "NAZEV", "rep_Date_Updated"};
  kept.Source = {{true, false, "1"}, {true, false, "<b>nové</b>"}, {true, false, "10"}};
  replication::tConflictTarget target;
  target.Match = "PK_ODBERATELE";
  target.Values = {{true, false, "1"}, {true, true, ""}, {true, false, "20"}};
  kept.Targets.push_back(target);
  result.ConflictRows.push_back(kept);
  window.SetRunOutcome(result);

  window.ListView1->setCurrentItem(window.LineAt(0));
  QTableWidget& grid = *window.gridCompare;
  EXPECT_FALSE(grid.isHidden());
  ASSERT_EQ(grid.columnCount(), 3);
  ASSERT_EQ(grid.rowCount(), 3);
  EXPECT_EQ(grid.horizontalHeaderItem(2)->text(), QStringLiteral("V databázi (PK_ODBERATELE)"));
  EXPECT_EQ(grid.item(0, 0)->text(), "ID");
  EXPECT_EQ(grid.item(1, 0)->text(), QStringLiteral("≠ NAZEV"));
  EXPECT_EQ(grid.item(1, 1)->text(), QStringLiteral("<b>nové</b>"));
  EXPECT_EQ(grid.item(1, 2)->text(), "NULL");
  EXPECT_EQ(grid.item(2, 0)->text(), "rep_Date_Updated");

  window.ListView1->setCurrentItem(window.LineAt(2));
  EXPECT_TRUE(grid.isHidden());
}

TEST_F(FormErrorsTest, ZavritStaysCentredInTheBottomPanel) {
  window.AddError("A.ZR2", "centrum", &row.Set(1, "jedna"), "Konflikt");
  window.show();
  for (const int width : {640, 333, 901}) {
    window.resize(width, 300);
    QApplication::processEvents();
    const QPushButton* close = window.btnClose;
    EXPECT_EQ(close->x(), (window.BottomPanel->width() - close->width()) / 2) << width;
  }

  TfrmProblemRecords records(*list.Groups().front()->rows);
  records.show();
  records.resize(517, 240);
  QApplication::processEvents();
  EXPECT_EQ(records.btnClose->x(), (records.BottomPanel->width() - records.btnClose->width()) / 2);
  EXPECT_EQ(records.DBGrid1->DataSetModel()->rowCount(), 1);
}

TEST(ProgressWindowTest, BarsRoundHalfOfTwoToFiftyAndStartAtZero) {
  TbaseDBProgress window;
  window.TableProgress(1, "ODBERATELE", 2);
  EXPECT_EQ(window.Progress_DB->value(), 50);
  EXPECT_EQ(window.Progress_Tbl->value(), 0);
  window.RowProgress(1, 2);
  EXPECT_EQ(window.Progress_Tbl->value(), 50);
  window.RowProgress(0, 5);
  EXPECT_EQ(window.Progress_Tbl->value(), 0);
  window.TableProgress(0, "ZBOZI", 0);
  EXPECT_EQ(window.Progress_DB->value(), 0);
  EXPECT_EQ(window.LabelTblName->text(), QStringLiteral("ZBOZI"));
}

// Esc (and the window's close button) on a structure analysis stops it as "Storno" does; the
// window stays until the work has stopped instead of vanishing while the scan goes on.
TEST(ProgressWindowTest, EscStopsTheWorkInsteadOfHidingTheWindow) {
  TbaseDBProgress window;
  window.btnStorno->setVisible(true);
  window.show();
  QTest::keyClick(&window, Qt::Key_Escape);
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.Stopped());
  EXPECT_THROW(window.RowProgress(1, 2), EAbort);
  window.close();
  EXPECT_TRUE(window.isVisible());
}

// A run window without a run, for its bars and time.
class BarsOnly : public TRunProgress {
 public:
  using TRunProgress::UpdateDisplay;

 protected:
  void Execute() override {}
};

// The whole-run bar counts the tables done and the current table's share of its rows, so that it
// never shows the run finished while a table has only begun; a reset without a table stands.
TEST(ProgressWindowTest, TheWholeRunBarMovesWithTheCurrentTablesRows) {
  BarsOnly window;
  window.ReportTable(1, "ODBERATELE", 1);
  window.ReportRow(1, 25);
  EXPECT_EQ(window.RunPercent(), 4);

  window.ReportTable(1, "ODBERATELE", 4);
  window.ReportRow(10, 20);
  EXPECT_EQ(window.RunPercent(), 12);  // 12.5: half of the first of four tables
  window.ReportTable(4, "POLOZKY", 4);
  EXPECT_EQ(window.RunPercent(), 75);
  window.ReportRow(20, 20);
  EXPECT_EQ(window.RunPercent(), 100);
  // The deleted rows go before the tables: position 0 counts as the first.
  window.ReportTable(0, "rep_DELETED", 4);
  window.ReportRow(1, 2);
  EXPECT_EQ(window.RunPercent(), 12);

  window.SetRunProgress(0);
  window.SetTableProgress(0);
  EXPECT_EQ(window.RunPercent(), 0);
  window.ReportRow(1, 2);
  EXPECT_EQ(window.RunPercent(), 0);

  window.UpdateDisplay();
  EXPECT_EQ(window.Progress_DB->value(), window.RunPercent());
  EXPECT_EQ(window.Progress_Tbl->value(), 50);
}

TEST(ProgressWindowTest, TimeAndRateReadAsCzechFigures) {
  EXPECT_EQ(TRunProgress::ElapsedText(0), QStringLiteral("0:00:00"));
  EXPECT_EQ(TRunProgress::ElapsedText(65'400), QStringLiteral("0:01:05"));
  EXPECT_EQ(TRunProgress::ElapsedText(3'600'000 + 59'999), QStringLiteral("1:00:59"));
  EXPECT_EQ(TRunProgress::RateText(5, 99), QString());
  EXPECT_EQ(TRunProgress::RateText(1234567, 1000), QStringLiteral("1\u00A0234\u00A0567 řádků/s"));
  EXPECT_EQ(TRunProgress::RateText(999, 2000), QStringLiteral("499 řádků/s"));
}

}  // namespace
}  // namespace tamaril::ui
