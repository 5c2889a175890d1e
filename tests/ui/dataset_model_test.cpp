#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "dataset/field.h"
#include "dataset/memory_table.h"
#include "scripted_boxes.h"
#include "text/error.h"
#include "ui/dataset_model.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"

namespace tamaril::ui {
namespace {

// A sorted list of (Name, Note) rows like the definition lists.
class DataSetModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table.SetFieldLayout("Name;String;10;0;Note;String;20;0");
    table.SetIndexFields("Name");
    table.Open();
    table.FieldByName("Name").DisplayLabel = "Jm\xE9no";  // "Jméno" in Windows-1250
    for (const char* name : {"b", "d", "f"}) Add(name, std::string("note ") + name);
    table.First();
    model.SetDataSource(&source, {"Name", "Note"});
  }

  void Add(const std::string& name, const std::string& note) {
    table.Append();
    table.FieldByName("Name").SetAsString(name);
    table.FieldByName("Note").SetAsString(note);
    table.Post();
  }

  QString Cell(int row, int column) const { return model.data(model.index(row, column)).toString(); }

  dataset::TQVMMemoryTable table;
  dataset::TDataSource source{&table};
  tDataSetModel model;
};

TEST_F(DataSetModelTest, ShowsRowsAndHeadersAndFollowsTheCursor) {
  ASSERT_EQ(model.rowCount(), 3);
  ASSERT_EQ(model.columnCount(), 2);
  EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Jméno"));
  EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Note"));
  EXPECT_EQ(Cell(2, 1), QStringLiteral("note f"));
  EXPECT_EQ(model.CurrentRow(), 0);

  QSignalSpy moved(&model, &tDataSetModel::CurrentRowChanged);
  table.Next();
  EXPECT_EQ(model.CurrentRow(), 1);
  ASSERT_EQ(moved.count(), 1);
  EXPECT_EQ(moved.at(0).at(0).toInt(), 1);

  ASSERT_TRUE(model.MoveTo(2));
  EXPECT_EQ(table.FieldByName("Name").AsString(), "f");
  EXPECT_FALSE(model.MoveTo(3));
}

TEST_F(DataSetModelTest, PostingAndDeletingReloadInTheTablesOrder) {
  Add("a", "first");  // sorts before the others
  ASSERT_EQ(model.rowCount(), 4);
  EXPECT_EQ(Cell(0, 0), QStringLiteral("a"));
  EXPECT_EQ(model.CurrentRow(), 0);
  EXPECT_EQ(table.FieldByName("Name").AsString(), "a");

  // An edit that moves the row in the sort order.
  table.Edit();
  table.FieldByName("Name").SetAsString("z");
  EXPECT_EQ(Cell(0, 0), QStringLiteral("z")) << "the row being edited shows the typed value";
  table.Post();
  EXPECT_EQ(Cell(3, 0), QStringLiteral("z"));
  EXPECT_EQ(model.CurrentRow(), 3);

  table.Delete();
  ASSERT_EQ(model.rowCount(), 3);
  EXPECT_EQ(Cell(2, 0), QStringLiteral("f"));
}

TEST_F(DataSetModelTest, ClosingEmptiesAndReopeningRefills) {
  table.Close();
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(model.CurrentRow(), -1);
  table.Open();
  EXPECT_EQ(model.rowCount(), 3);
}

TEST_F(DataSetModelTest, GridSelectionMovesTheDataSet) {
  tDBGrid grid;
  grid.SetDataSetModel(&model);
  QSignalSpy activated(&grid, &tDBGrid::RowActivated);
  grid.setCurrentIndex(model.index(1, 0));
  EXPECT_EQ(table.FieldByName("Name").AsString(), "d");
  table.Last();
  EXPECT_EQ(grid.currentIndex().row(), 2);
  QTest::keyClick(&grid, Qt::Key_Return);
  ASSERT_EQ(activated.count(), 1);
  EXPECT_EQ(activated.at(0).at(0).toInt(), 2);
}

TEST(MessageBoxes, EscapeButtonPrefersStornoThenAbortThenNo) {
  using B = tMsgButton;
  EXPECT_EQ(EscapeButton({B::Yes, B::No, B::Cancel}), B::Cancel);
  EXPECT_EQ(EscapeButton({B::Yes, B::Abort}), B::Abort);
  EXPECT_EQ(EscapeButton({B::Yes, B::No}), B::No);
  EXPECT_EQ(EscapeButton({B::Ok}), B::Ok);
  EXPECT_EQ(ButtonCaption(B::YesToAll), QStringLiteral("Ano &všem"));
}

TEST(MessageBoxes, StandardErrorBoxShowsTheMessageAndNothingForACancellation) {
  testing::tScriptedBoxes boxes;
  boxes.AnswerDefaults();
  ShowException(nullptr, std::make_exception_ptr(EAbort()));
  EXPECT_TRUE(boxes.Shown().empty());
  ShowException(nullptr, std::make_exception_ptr(Error("Zadan\xE1 datab\xE1ze")));
  ASSERT_EQ(boxes.Shown().size(), 1U);
  EXPECT_EQ(boxes.Shown()[0].text, QStringLiteral("Zadaná databáze"));
  EXPECT_EQ(boxes.Shown()[0].caption, QStringLiteral("Tamaril"));
  EXPECT_EQ(boxes.Shown()[0].kind, tMsgKind::Error);
  EXPECT_FALSE(RunAction(nullptr, [] { throw Error("x"); }));
  EXPECT_TRUE(RunAction(nullptr, [] {}));
}

TEST(QtText, Windows1250RoundTrip) {
  const std::string ansi = "P\xF8\x65nos \x9A\x9D";  // "Přenos šť"
  EXPECT_EQ(FromAnsi(ansi), QStringLiteral("Přenos šť"));
  EXPECT_EQ(ToAnsi(QStringLiteral("Přenos šť")), ansi);
}

}  // namespace
}  // namespace tamaril::ui
