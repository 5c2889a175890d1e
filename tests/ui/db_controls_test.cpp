#include <QAction>
#include <QApplication>
#include <QFile>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>

#include <gtest/gtest.h>

#include "dataset/field.h"
#include "dataset/memory_table.h"
#include "scripted_boxes.h"
#include "text/error.h"
#include "ui/app_look.h"
#include "ui/dataset_model.h"
#include "ui/db_controls.h"
#include "ui/qt_text.h"

namespace tamaril::ui {
namespace {

using dataset::DataSetState;

// Rule rows as the rule windows show them: a name, a multi-line rule, a flag and a count.
class DbControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table.SetFieldLayout("Name;String;10;0;Rule;Memo;0;0;Done;Boolean;0;0;Num;Integer;0;0");
    table.SetIndexFields("Name");
    table.Open();
    Add("a", "first\r\nsecond", false, 0);
    Add("b", "P\xF8\x65nos", true, 3);  // "Přenos" in Windows-1250
    Add("c", "", false, 0);
    table.First();
  }

  void Add(const std::string& name, const std::string& rule, bool done, int num) {
    table.Append();
    table.FieldByName("Name").SetAsString(name);
    table.FieldByName("Rule").SetAsString(rule);
    table.FieldByName("Done").SetAsBoolean(done);
    table.FieldByName("Num").SetAsInteger(num);
    table.Post();
  }

  std::string Name() const { return table.FieldByName("Name").AsString(); }

  dataset::TQVMMemoryTable table;
  dataset::TDataSource source{&table};
};

// ---- navigator ----

class NavigatorTest : public DbControlsTest {
 protected:
  void SetUp() override {
    DbControlsTest::SetUp();
    navigator.SetDataSource(&source);
  }

  bool On(tNavButton which) const { return navigator.Button(which)->isEnabled(); }

  tDBNavigator navigator;
};

TEST_F(NavigatorTest, MovingButtonsFollowTheRow) {
  EXPECT_FALSE(On(tNavButton::First));
  EXPECT_FALSE(On(tNavButton::Prior));
  EXPECT_TRUE(On(tNavButton::Next));
  EXPECT_TRUE(On(tNavButton::Last));

  table.Last();
  EXPECT_TRUE(On(tNavButton::First));
  EXPECT_TRUE(On(tNavButton::Prior));
  EXPECT_FALSE(On(tNavButton::Next));
  EXPECT_FALSE(On(tNavButton::Last));

  // Back on the first row by steps, not by First: nothing says Bof, the row is still the first.
  table.Prior();
  table.Prior();
  EXPECT_EQ(Name(), "a");
  EXPECT_FALSE(On(tNavButton::Prior));
  EXPECT_TRUE(On(tNavButton::Next));
}

TEST_F(NavigatorTest, EditingButtonsFollowTheState) {
  EXPECT_TRUE(On(tNavButton::Edit));
  EXPECT_TRUE(On(tNavButton::Refresh));
  EXPECT_FALSE(On(tNavButton::Post));
  EXPECT_FALSE(On(tNavButton::Cancel));

  table.Edit();
  EXPECT_FALSE(On(tNavButton::Edit));
  EXPECT_FALSE(On(tNavButton::Refresh));
  EXPECT_TRUE(On(tNavButton::Post));
  EXPECT_TRUE(On(tNavButton::Cancel));
  table.Cancel();
  EXPECT_TRUE(On(tNavButton::Edit));
  EXPECT_FALSE(On(tNavButton::Post));

  table.Close();
  table.SetReadOnly(true);
  table.Open();
  EXPECT_FALSE(On(tNavButton::Edit));
  EXPECT_FALSE(On(tNavButton::Insert));
  EXPECT_FALSE(On(tNavButton::Delete));
  EXPECT_TRUE(On(tNavButton::Refresh));
}

TEST_F(NavigatorTest, EverythingIsOffWithoutAnOpenDataSet) {
  const auto all_off = [this] {
    for (int which = 0; which <= static_cast<int>(tNavButton::Refresh); ++which) {
      if (On(static_cast<tNavButton>(which))) return false;
    }
    return true;
  };
  table.Close();
  EXPECT_TRUE(all_off()) << "closed dataset";
  table.Open();
  EXPECT_FALSE(all_off());
  source.SetEnabled(false);
  EXPECT_TRUE(all_off()) << "disabled source";
  source.SetEnabled(true);
  navigator.SetDataSource(nullptr);
  EXPECT_TRUE(all_off()) << "no source";
}

TEST_F(NavigatorTest, ClicksMoveEditAndPost) {
  navigator.Button(tNavButton::Next)->click();
  EXPECT_EQ(Name(), "b");
  navigator.Button(tNavButton::Last)->click();
  EXPECT_EQ(Name(), "c");
  navigator.Button(tNavButton::First)->click();
  EXPECT_EQ(Name(), "a");

  navigator.Button(tNavButton::Edit)->click();
  ASSERT_EQ(table.State(), DataSetState::Edit);
  table.FieldByName("Num").SetAsInteger(42);
  navigator.Button(tNavButton::Post)->click();
  EXPECT_EQ(table.State(), DataSetState::Browse);
  table.Last();
  table.First();
  EXPECT_EQ(table.FieldByName("Num").AsInteger(), 42) << "the posted value is stored";
}

TEST_F(NavigatorTest, FailuresAreShownAndACancellationIsSilent) {
  testing::tScriptedBoxes boxes;
  boxes.AnswerDefaults();
  table.BeforeEdit = [](dataset::TDataSet&) { throw EAbort(); };
  navigator.Button(tNavButton::Edit)->click();
  EXPECT_EQ(table.State(), DataSetState::Browse);
  EXPECT_TRUE(boxes.Shown().empty());
  EXPECT_TRUE(On(tNavButton::Edit));

  table.BeforeEdit = nullptr;
  table.BeforePost = [](dataset::TDataSet&) { throw Error("Pravidlo nelze ulo\x9Eit"); };
  navigator.Button(tNavButton::Edit)->click();
  navigator.Button(tNavButton::Post)->click();
  ASSERT_EQ(boxes.Shown().size(), 1U);
  EXPECT_EQ(boxes.Shown()[0].text, QStringLiteral("Pravidlo nelze uložit"));
  EXPECT_EQ(table.State(), DataSetState::Edit) << "a refused post keeps the row being edited";
  EXPECT_TRUE(On(tNavButton::Post));
}

TEST_F(NavigatorTest, VisibleButtonsAndReplacedActions) {
  navigator.SetVisibleButtons({tNavButton::Refresh, tNavButton::First, tNavButton::Next});
  EXPECT_EQ(navigator.Button(tNavButton::Insert), nullptr);
  EXPECT_EQ(navigator.Button(tNavButton::Last), nullptr);
  ASSERT_NE(navigator.Button(tNavButton::Refresh), nullptr);
  ASSERT_NE(navigator.Button(tNavButton::First), nullptr);

  int reloads = 0;
  navigator.SetAction(tNavButton::Refresh, [&reloads] { ++reloads; });
  table.Next();
  navigator.Button(tNavButton::Refresh)->click();
  EXPECT_EQ(reloads, 1);
  EXPECT_EQ(Name(), "b") << "the replaced action does not touch the dataset";
}

TEST_F(NavigatorTest, DeleteAsksFirst) {
  testing::tScriptedBoxes boxes;
  boxes.Answer(tMsgButton::Yes);
  boxes.Answer(tMsgButton::No);
  navigator.Click(tNavButton::Delete);
  navigator.Click(tNavButton::Delete);
  ASSERT_EQ(boxes.Shown().size(), 2U);
  EXPECT_EQ(boxes.Shown()[0].text, QStringLiteral("Smazat záznam?"));
  EXPECT_EQ(table.RecordCount(), 2);
  EXPECT_EQ(Name(), "b");
}

// ---- memo ----

class MemoTest : public DbControlsTest {
 protected:
  void SetUp() override {
    DbControlsTest::SetUp();
    memo.SetDataField(&source, "Rule");
  }

  // Types `text` key by key (QTest's own typing knows ASCII only).
  void Type(const QString& text) {
    for (const QChar letter : text) {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(letter));
      QApplication::sendEvent(&memo, &press);
    }
  }

  tDBMemo memo;
};

TEST_F(MemoTest, ShowsTheFieldOfTheCurrentRow) {
  EXPECT_EQ(memo.toPlainText(), QStringLiteral("first\nsecond"));
  EXPECT_TRUE(memo.isEnabled());
  table.Next();
  EXPECT_EQ(memo.toPlainText(), QStringLiteral("Přenos"));
  table.Next();
  EXPECT_EQ(memo.toPlainText(), QString());
  table.Prior();
  EXPECT_EQ(memo.toPlainText(), QStringLiteral("Přenos"));

  table.Edit();
  table.FieldByName("Rule").SetAsString("nov\xE9");
  EXPECT_EQ(memo.toPlainText(), QStringLiteral("nové")) << "a value set by code shows";
}

TEST_F(MemoTest, TypingEditsTheRowWithCrLfLines) {
  table.Last();
  Type(QStringLiteral("řá"));
  EXPECT_EQ(table.State(), DataSetState::Edit);
  QTest::keyClick(&memo, Qt::Key_Return);
  QTest::keyClicks(&memo, QStringLiteral("b"));
  EXPECT_EQ(table.FieldByName("Rule").AsString(), "\xF8\xE1\r\nb");
  EXPECT_EQ(memo.textCursor().position(), 4) << "the typed text is not shown again";

  table.Cancel();
  EXPECT_EQ(memo.toPlainText(), QString()) << "cancel restores the stored text";
  EXPECT_EQ(table.State(), DataSetState::Browse);
}

TEST_F(MemoTest, ARefusedEditRestoresTheTextAndIsShown) {
  testing::tScriptedBoxes boxes;
  boxes.AnswerDefaults();
  table.BeforeEdit = [](dataset::TDataSet&) { throw Error("Z\xE1znam je zam\xE8\x65n"); };
  QTest::keyClicks(&memo, QStringLiteral("x"));
  EXPECT_EQ(table.State(), DataSetState::Browse);
  EXPECT_EQ(memo.toPlainText(), QStringLiteral("first\nsecond"));
  ASSERT_EQ(boxes.Shown().size(), 1U);
  EXPECT_EQ(boxes.Shown()[0].text, QStringLiteral("Záznam je zamčen"));

  table.BeforeEdit = [](dataset::TDataSet&) { throw EAbort(); };
  QTest::keyClicks(&memo, QStringLiteral("y"));
  EXPECT_EQ(memo.toPlainText(), QStringLiteral("first\nsecond"));
  EXPECT_EQ(boxes.Shown().size(), 1U) << "a cancellation is silent";
}

TEST_F(MemoTest, DisabledAndGreyedWhenItCannotBeWritten) {
  const QColor window = memo.palette().color(QPalette::Window);
  const QColor base = memo.palette().color(QPalette::Base);
  ASSERT_NE(window, base);

  table.FieldByName("Rule").ReadOnly = true;
  memo.UpdateFromField();
  EXPECT_FALSE(memo.isEnabled());
  EXPECT_EQ(memo.palette().color(QPalette::Base), window);

  table.FieldByName("Rule").ReadOnly = false;
  memo.UpdateFromField();
  EXPECT_TRUE(memo.isEnabled());
  EXPECT_EQ(memo.palette().color(QPalette::Base), base);

  table.Close();
  EXPECT_FALSE(memo.isEnabled());
  EXPECT_EQ(memo.toPlainText(), QString());
  table.Open();
  EXPECT_TRUE(memo.isEnabled());
  EXPECT_EQ(memo.toPlainText(), QStringLiteral("first\nsecond"));
}

// ---- editable grid columns ----

class EditableColumnsTest : public DbControlsTest {
 protected:
  void SetUp() override {
    DbControlsTest::SetUp();
    model.SetDataSource(&source, {"Name", "Rule", "Done", "Num"});
  }

  QModelIndex At(int row, const char* field) const { return model.index(row, model.ColumnOf(field)); }

  tDataSetModel model;
};

TEST_F(EditableColumnsTest, ColumnsAreFoundByFieldName) {
  EXPECT_EQ(model.ColumnOf("Name"), 0);
  EXPECT_EQ(model.ColumnOf("done"), 2);
  EXPECT_EQ(model.ColumnOf("Missing"), -1);
}

TEST_F(EditableColumnsTest, OnlyEditableColumnsOfWritableFieldsCanBeEdited) {
  model.SetColumnEditable(model.ColumnOf("Rule"), true);
  model.SetColumnEditable(model.ColumnOf("Done"), true);
  EXPECT_FALSE(model.flags(At(0, "Name")).testFlag(Qt::ItemIsEditable));
  EXPECT_TRUE(model.flags(At(0, "Rule")).testFlag(Qt::ItemIsEditable));
  EXPECT_FALSE(model.flags(At(0, "Done")).testFlag(Qt::ItemIsEditable));
  EXPECT_TRUE(model.flags(At(0, "Done")).testFlag(Qt::ItemIsUserCheckable));
  EXPECT_FALSE(model.flags(At(0, "Num")).testFlag(Qt::ItemIsUserCheckable));
  EXPECT_FALSE(model.data(At(0, "Num"), Qt::CheckStateRole).isValid());
  EXPECT_FALSE(model.setData(At(0, "Name"), QStringLiteral("z")));
  EXPECT_EQ(table.State(), DataSetState::Browse);

  table.FieldByName("Rule").ReadOnly = true;
  EXPECT_FALSE(model.flags(At(0, "Rule")).testFlag(Qt::ItemIsEditable));
  EXPECT_FALSE(model.setData(At(0, "Rule"), QStringLiteral("z")));
}

TEST_F(EditableColumnsTest, TextCellEditsTheRowUntilPosted) {
  model.SetColumnEditable(model.ColumnOf("Rule"), true);
  EXPECT_EQ(model.data(At(0, "Rule"), Qt::EditRole).toString(), QStringLiteral("first\r\nsecond"));

  ASSERT_TRUE(model.setData(At(1, "Rule"), QStringLiteral("nové")));
  EXPECT_EQ(Name(), "b") << "the dataset moved to the edited row";
  EXPECT_EQ(table.State(), DataSetState::Edit);
  EXPECT_EQ(table.FieldByName("Rule").AsString(), "nov\xE9");
  EXPECT_EQ(model.data(At(1, "Rule")).toString(), QStringLiteral("nové"));
  EXPECT_FALSE(model.setData(At(2, "Rule"), QStringLiteral("x"))) << "another row while this one is edited";

  table.Post();
  EXPECT_EQ(model.data(At(1, "Rule")).toString(), QStringLiteral("nové"));
}

TEST_F(EditableColumnsTest, CheckBoxEditsABooleanAndTheTextStays) {
  model.SetColumnEditable(model.ColumnOf("Done"), true);
  const QString shown_true = model.data(At(1, "Done")).toString();
  EXPECT_EQ(model.data(At(0, "Done"), Qt::CheckStateRole).toInt(), Qt::Unchecked);
  EXPECT_EQ(model.data(At(1, "Done"), Qt::CheckStateRole).toInt(), Qt::Checked);

  EXPECT_FALSE(model.setData(At(0, "Done"), QStringLiteral("x"), Qt::EditRole));
  ASSERT_TRUE(model.setData(At(0, "Done"), Qt::Checked, Qt::CheckStateRole));
  EXPECT_EQ(table.State(), DataSetState::Edit);
  EXPECT_TRUE(table.FieldByName("Done").AsBoolean());
  EXPECT_EQ(model.data(At(0, "Done"), Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_EQ(model.data(At(0, "Done")).toString(), shown_true);
}

TEST_F(EditableColumnsTest, ARefusedValueIsShownAndReturnsFalse) {
  testing::tScriptedBoxes boxes;
  boxes.AnswerDefaults();
  model.SetColumnEditable(model.ColumnOf("Num"), true);
  EXPECT_FALSE(model.setData(At(0, "Num"), QStringLiteral("abc")));
  ASSERT_EQ(boxes.Shown().size(), 1U);
  EXPECT_EQ(boxes.Shown()[0].text,
            QStringLiteral("Could not convert variant of type (String) into type (Int64)"));
  EXPECT_EQ(table.FieldByName("Num").AsInteger(), 0);
  EXPECT_EQ(model.data(At(0, "Num")).toString(), QStringLiteral("0"));
}

TEST_F(EditableColumnsTest, CellColourComesBeforeTheColumnBackground) {
  model.SetColumnBackground(model.ColumnOf("Num"), QColor(Qt::red));
  model.SetCellColour([](int, int column, const QString& text) {
    return column == 3 && text != QStringLiteral("0") ? QColor(Qt::yellow) : QColor();
  });
  EXPECT_EQ(model.data(At(1, "Num"), Qt::BackgroundRole).value<QColor>(), QColor(Qt::yellow));
  EXPECT_EQ(model.data(At(0, "Num"), Qt::BackgroundRole).value<QColor>(), QColor(Qt::red));
  EXPECT_FALSE(model.data(At(1, "Name"), Qt::BackgroundRole).isValid());
}

TEST_F(EditableColumnsTest, GridEditsOnlyEditableColumns) {
  model.SetColumnEditable(model.ColumnOf("Rule"), true);
  tDBGrid grid;
  grid.SetDataSetModel(&model);
  grid.show();
  QSignalSpy activated(&grid, &tDBGrid::RowActivated);

  grid.setCurrentIndex(At(0, "Name"));
  QTest::keyClick(&grid, Qt::Key_F2);
  EXPECT_EQ(grid.findChild<QLineEdit*>(), nullptr);
  QTest::keyClick(&grid, Qt::Key_Return);
  EXPECT_EQ(activated.count(), 1) << "Enter on a read-only cell still activates the row";

  grid.setCurrentIndex(At(0, "Rule"));
  QTest::keyClick(&grid, Qt::Key_F2);
  auto* editor = grid.findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  editor->setText(QStringLiteral("jiné"));
  QTest::keyClick(editor, Qt::Key_Return);
  QApplication::processEvents();  // the delegate commits from the event loop
  EXPECT_EQ(table.State(), DataSetState::Edit);
  EXPECT_EQ(table.FieldByName("Rule").AsString(), "jin\xE9");
}

// --- The program's look ----------------------------------------------------------------------

// The navigator draws icons, not text glyphs, where the theme has none: the program's own
// copies are built in; the hint stays on every button.
TEST(ProgramLook, NavigatorButtonsCarryIconsAndTheirCzechHints) {
  for (const char* name : {"go-first", "object-select", "view-refresh", "help-faq", "preferences-system"}) {
    EXPECT_TRUE(QFile::exists(QStringLiteral(":/icons/16/%1.png").arg(QLatin1String(name)))) << name;
    EXPECT_FALSE(ThemeIcon(QString::fromLatin1(name)).isNull()) << name;
  }
  EXPECT_TRUE(ThemeIcon(QStringLiteral("no-such-icon")).isNull());

  tDBNavigator navigator;
  for (const tNavButton which :
       {tNavButton::First, tNavButton::Insert, tNavButton::Post, tNavButton::Refresh}) {
    QToolButton* button = navigator.Button(which);
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(button->icon().isNull());
    EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonIconOnly);
    EXPECT_FALSE(button->toolTip().isEmpty());
  }
  EXPECT_EQ(navigator.Button(tNavButton::Post)->toolTip(), QStringLiteral("Uložit změny"));
}

TEST(ProgramLook, ToolButtonTooltipsNameTheShortcut) {
  EXPECT_EQ(ToolTipWithShortcut(QStringLiteral("Nová definice"), QKeySequence(Qt::Key_F2)),
            QStringLiteral("Nová definice (F2)"));
  EXPECT_EQ(ToolTipWithShortcut(QStringLiteral("Obsah"), QKeySequence()), QStringLiteral("Obsah"));
  EXPECT_EQ(ToolTipWithShortcut(QStringLiteral("Zavřít (Alt+X)"), QKeySequence(Qt::ALT | Qt::Key_X)),
            QStringLiteral("Zavřít (Alt+X)"));

  InstallShortcutTips();
  QToolBar bar;
  QAction* action = bar.addAction(QStringLiteral("Provést import"));
  action->setShortcut(QKeySequence(Qt::Key_F6));
  bar.show();
  auto* button = qobject_cast<QToolButton*>(bar.widgetForAction(action));
  ASSERT_NE(button, nullptr);
  QHelpEvent ask(QEvent::ToolTip, QPoint(2, 2), button->mapToGlobal(QPoint(2, 2)));
  QApplication::sendEvent(button, &ask);
  EXPECT_EQ(QToolTip::text(), QStringLiteral("Provést import (F6)"));
  EXPECT_EQ(action->toolTip(), QStringLiteral("Provést import")) << "the action itself keeps its hint";
  QToolTip::hideText();
}

}  // namespace
}  // namespace tamaril::ui
