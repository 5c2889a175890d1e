// The conflict list window: the lines it shows, which rows "Zobrazit záznam" opens, the centred
// "Zavřít" of both windows, and the progress bars' rounding.

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "dataset/field.h"
#include "dataset/memory_table.h"
#include "replication/conflict_list.h"
#include "text/encoding.h"
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
    window.ListView1->setCurrentItem(window.ListView1->topLevelItem(line));
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

  QStringList Lines() const {
    QStringList lines;
    for (int i = 0; i < window.ListView1->topLevelItemCount(); ++i)
      lines << window.ListView1->topLevelItem(i)->text(0);
    return lines;
  }

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
  EXPECT_EQ(Lines(), (QStringList{"Konflikt", "Archiv: A.ZR2", QStringLiteral("Databáze: centrum"), "...",
                                  "Konflikt", "Archiv: B.ZR2", QStringLiteral("Databáze: centrum"), "..."}));

  // From the database line the search goes up to the group's message.
  const auto first = PressShowRecord(2);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->caption, QStringLiteral("Konfliktní záznam"));
  EXPECT_EQ(first->ids, (QStringList{"1", "2"}));

  const auto second = PressShowRecord(4);
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->ids, QStringList{"3"});
}

TEST_F(FormErrorsTest, NothingIsShownForARowlessGroupTheSeparatorOrNoSelection) {
  window.AddError("A.ZR2", "", nullptr, text::Utf8ToAnsi("Bez záznamu"));
  window.AddError("A.ZR2", "", &row.Set(7, "sedm"), text::Utf8ToAnsi("S záznamem"));
  ASSERT_EQ(Lines(), (QStringList{QStringLiteral("Bez záznamu"), "Archiv: A.ZR2", "...",
                                  QStringLiteral("S záznamem"), "Archiv: A.ZR2", "..."}));

  EXPECT_FALSE(PressShowRecord(0).has_value());
  EXPECT_FALSE(PressShowRecord(1).has_value());
  // The separator of a group with rows ends the search at once.
  EXPECT_FALSE(PressShowRecord(5).has_value());
  window.ListView1->clearSelection();
  EXPECT_FALSE(window.ShowRecords());
  EXPECT_TRUE(PressShowRecord(4).has_value());
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

}  // namespace
}  // namespace tamaril::ui
