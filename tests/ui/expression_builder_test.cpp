// The expression builder over the export rule of a demo table: its groups and entries, the
// insertion at the caret, the test of the rule, the help and the result of Execute.

#include "ui/expression_builder.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/common_info.h"
#include "dbaccess/connection.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "definitions/rule_context.h"
#include "demo_folder.h"
#include "expr/builtins.h"
#include "replication/start_up.h"
#include "scripted_boxes.h"
#include "support/temp_dir.h"
#include "text/encoding.h"
#include "ui/help.h"
#include "ui/qt_text.h"

namespace tamaril::ui {
namespace {

QStringList Items(const QListWidget& box) {
  QStringList items;
  for (int row = 0; row < box.count(); ++row) items << box.item(row)->text();
  return items;
}

// Makes the item " " + `text` of `box` the current one; false when there is none.
bool Select(QListWidget& box, const QString& text) {
  const auto found = box.findItems(text, Qt::MatchExactly);
  if (found.isEmpty()) return false;
  box.setCurrentItem(found.front());
  return true;
}

// The export rule of the demo client's table ODBERATELE, prepared as the rules window does.
class ExpressionBuilderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    demo_ = std::make_unique<tamaril::testing::TempDir>();
    demo_built_ = ui::testing::MakeDemoFolder(demo_->path(), demo_->File("demo"));
  }
  static void TearDownTestSuite() { demo_.reset(); }

  void SetUp() override {
    ASSERT_TRUE(demo_built_) << "tamaril-cli demo failed";
    replication::InitRuleLanguage();
    connection_.SetConnectionString("Provider=SQLite;Data Source=" + demo_->File("demo") + "/klient");
    connection_.Open();
    connection_.SetDefaultDatabase("klient");
    structure_.Scan();
    description_ = definitions::ReadTableDescription(connection_, "ODBERATELE").value_or("ODBERATELE");
    context_ = std::make_unique<definitions::tRuleContext>(structure_, expr::RuleKind::Export, "ODBERATELE",
                                                           description_);
  }

  std::unique_ptr<TExpressionBuildDlg> MakeDialog(tHelpHandler help = {}) {
    auto dialog = std::make_unique<TExpressionBuildDlg>(nullptr, context_->List(), &context_->Expression(),
                                                        std::move(help), BooleanResult());
    dialog->show();
    QApplication::setActiveWindow(dialog.get());
    EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    return dialog;
  }

  static std::unique_ptr<tamaril::testing::TempDir> demo_;
  static bool demo_built_;
  dbaccess::Connection connection_;
  dbstruct::tSQLiteDatabase_Structure structure_{&connection_};
  std::string description_;
  std::unique_ptr<definitions::tRuleContext> context_;
};

std::unique_ptr<tamaril::testing::TempDir> ExpressionBuilderTest::demo_;
bool ExpressionBuilderTest::demo_built_ = false;

TEST_F(ExpressionBuilderTest, GroupsOfTheExportListAndTheTableFields) {
  auto dialog = MakeDialog();
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Tvůrce výrazů"));
  const QStringList groups = Items(*dialog->ClassIdBox);
  const QString fields = QStringLiteral(" Pole tabulky \"") + FromAnsi(description_) + QStringLiteral("\"");
  for (const QString& group :
       {QStringLiteral(" Funkce pro replikaci"), QStringLiteral(" Funkce pro export"),
        QStringLiteral(" Aritmetické funkce"), QStringLiteral(" Funkce IF"),
        QStringLiteral(" Funkce pro datum"), QStringLiteral(" Logické operace"),
        QStringLiteral(" Operace porovnání"), QStringLiteral(" Textové funkce"), fields}) {
    EXPECT_EQ(groups.count(group), 1) << group.toStdString();
  }
  EXPECT_FALSE(groups.contains(QStringLiteral(" Funkce pro import")));
  EXPECT_EQ(dialog->IdentifBox->count(), 0);

  ASSERT_TRUE(Select(*dialog->ClassIdBox, QStringLiteral(" Operace porovnání")));
  QStringList comparisons = Items(*dialog->IdentifBox);
  comparisons.sort();
  EXPECT_EQ(comparisons, QStringList({" < ", " <= ", " <> ", " = ", " > ", " >= "}));

  ASSERT_TRUE(Select(*dialog->ClassIdBox, QStringLiteral(" Funkce IF")));
  EXPECT_EQ(Items(*dialog->IdentifBox), QStringList({" IF( , , ) "}));
  ASSERT_TRUE(Select(*dialog->ClassIdBox, QStringLiteral(" Aritmetické funkce")));
  EXPECT_TRUE(Items(*dialog->IdentifBox).contains(" ROUND( , ) "));
  ASSERT_TRUE(Select(*dialog->ClassIdBox, fields));
  EXPECT_TRUE(Items(*dialog->IdentifBox).contains(" NAZEV "));
  ASSERT_TRUE(Select(*dialog->ClassIdBox, QStringLiteral(" Funkce pro replikaci")));
  EXPECT_EQ(Items(*dialog->IdentifBox), QStringList({" @SIGNATURE "}));
}

TEST_F(ExpressionBuilderTest, EntriesAndSymbolsAreInsertedAtTheCaretWithoutReplacing) {
  auto dialog = MakeDialog();
  dialog->SetText("XY");
  QTextCursor cursor = dialog->Resultmemo->textCursor();
  cursor.setPosition(2);
  cursor.setPosition(1, QTextCursor::KeepAnchor);  // "Y" selected, caret between the letters
  dialog->Resultmemo->setTextCursor(cursor);

  ASSERT_TRUE(Select(*dialog->ClassIdBox, QStringLiteral(" Aritmetické funkce")));
  ASSERT_TRUE(Select(*dialog->IdentifBox, QStringLiteral(" ROUND( , ) ")));
  dialog->IdentifBox->setFocus();
  dialog->UseItBtn->click();
  EXPECT_EQ(dialog->Resultmemo->toPlainText(), QStringLiteral("XROUND( , ) Y"));
  EXPECT_EQ(QApplication::focusWidget(), dialog->Resultmemo);

  for (QPushButton* button : {dialog->lpbutton, dialog->Button[7], dialog->PeriodBtn, dialog->Button[0],
                              dialog->rpbutton, dialog->EqualButton, dialog->UvozovkyBtn}) {
    button->click();
  }
  EXPECT_EQ(dialog->Resultmemo->toPlainText(),
            QStringLiteral("XROUND( , ) (7") + QLocale().decimalPoint() + QStringLiteral("0)=\"Y"));

  // A double click on an entry inserts it as the button does.
  ASSERT_TRUE(Select(*dialog->ClassIdBox, QStringLiteral(" Funkce IF")));
  QListWidgetItem* entry = dialog->IdentifBox->item(0);
  dialog->IdentifBox->setCurrentItem(entry);
  emit dialog->IdentifBox->itemDoubleClicked(entry);
  EXPECT_TRUE(dialog->Resultmemo->toPlainText().endsWith(QStringLiteral("\"IF( , , ) Y")));
}

TEST_F(ExpressionBuilderTest, CaretMarkerOnlyWhileAnotherControlHasTheFocus) {
  auto dialog = MakeDialog();
  dialog->SetText("NAZEV");
  dialog->Resultmemo->setFocus();
  QApplication::processEvents();
  EXPECT_TRUE(dialog->Resultmemo->MarkerRect().isEmpty());
  dialog->ClassIdBox->setFocus();
  QApplication::processEvents();
  const QRect marker = dialog->Resultmemo->MarkerRect();
  EXPECT_EQ(marker.width(), 2);
  EXPECT_GT(marker.height(), 0);
  const QImage picture = dialog->Resultmemo->viewport()->grab().toImage();
  EXPECT_EQ(picture.pixelColor(marker.center()), QColor(Qt::gray));
}

TEST_F(ExpressionBuilderTest, TestChecksSyntaxAndResultType) {
  auto dialog = MakeDialog();
  testing::tScriptedBoxes boxes;
  boxes.AnswerDefaults();
  for (const char* rule : {"1+2", "1=1", "NAZEV <> \"\"", "1 +"}) {
    dialog->SetText(rule);
    dialog->TestBtn->click();
  }
  ASSERT_EQ(boxes.Shown().size(), 4U);
  EXPECT_EQ(boxes.Shown()[0].text, QStringLiteral("Nesprávný typ výsledku výrazu"));
  EXPECT_EQ(boxes.Shown()[0].kind, tMsgKind::Error);
  EXPECT_EQ(boxes.Shown()[1].text, QStringLiteral("Výraz je vpořádku"));
  EXPECT_EQ(boxes.Shown()[1].kind, tMsgKind::Information);
  EXPECT_EQ(boxes.Shown()[2].text, QStringLiteral("Výraz je vpořádku"));
  EXPECT_EQ(boxes.Shown()[3].kind, tMsgKind::Error);
  EXPECT_FALSE(boxes.Shown()[3].text.isEmpty());
  EXPECT_TRUE(dialog->isVisible());
}

TEST_F(ExpressionBuilderTest, TestUsesItsOwnExpressionWhenNoneIsGiven) {
  testing::tScriptedBoxes boxes;
  boxes.AnswerDefaults();
  TExpressionBuildDlg dialog(nullptr, context_->List(), nullptr, {}, BooleanResult());
  dialog.SetText("2 > 1");
  dialog.UpdateButtons();
  ASSERT_TRUE(dialog.TestBtn->isEnabled());
  dialog.TestBtn->click();
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Výraz je vpořádku"});
}

TEST_F(ExpressionBuilderTest, ButtonsFollowTheSelectionAndTheMemo) {
  auto dialog = MakeDialog();
  dialog->UpdateButtons();
  EXPECT_FALSE(dialog->TestBtn->isEnabled());
  EXPECT_FALSE(dialog->UseItBtn->isEnabled());
  EXPECT_FALSE(dialog->helpBtn->isEnabled());

  QTest::keyClicks(dialog->Resultmemo, "1");
  EXPECT_TRUE(dialog->TestBtn->isEnabled());
  ASSERT_TRUE(Select(*dialog->ClassIdBox, QStringLiteral(" Textové funkce")));
  EXPECT_FALSE(dialog->UseItBtn->isEnabled());
  dialog->IdentifBox->setCurrentRow(0);
  EXPECT_TRUE(dialog->UseItBtn->isEnabled());
  EXPECT_TRUE(dialog->helpBtn->isEnabled());

  // Another group drops the entry, and with it the help topic.
  ASSERT_TRUE(Select(*dialog->ClassIdBox, QStringLiteral(" Funkce IF")));
  EXPECT_FALSE(dialog->UseItBtn->isEnabled());
  EXPECT_FALSE(dialog->helpBtn->isEnabled());
  dialog->SetText("");
  EXPECT_FALSE(dialog->TestBtn->isEnabled());
}

TEST_F(ExpressionBuilderTest, HelpShowsTheTopicOfTheBoundDefinition) {
  std::vector<std::pair<std::string, int>> calls;
  auto dialog =
      MakeDialog([&calls](const std::string& file, int context) { calls.emplace_back(file, context); });
  ASSERT_TRUE(Select(*dialog->ClassIdBox, QStringLiteral(" Funkce IF")));
  dialog->IdentifBox->setCurrentRow(0);
  dialog->helpBtn->click();
  ASSERT_TRUE(Select(*dialog->ClassIdBox, QStringLiteral(" Operace porovnání")));
  ASSERT_TRUE(Select(*dialog->IdentifBox, QStringLiteral(" <> ")));
  dialog->helpBtn->click();
  const std::vector<std::pair<std::string, int>> expected = {{std::string(expr::kBuiltinHelpFile), 11034},
                                                             {std::string(expr::kBuiltinHelpFile), 11013}};
  EXPECT_EQ(calls, expected);

  // Without a handler the button does nothing.
  auto silent = MakeDialog();
  ASSERT_TRUE(Select(*silent->ClassIdBox, QStringLiteral(" Funkce IF")));
  silent->IdentifBox->setCurrentRow(0);
  silent->helpBtn->click();
}

// The help of a function opens inside the program, also where no help files lie in the shared
// help path: the pages are built in, so there is nothing to miss and no box to show.
TEST_F(ExpressionBuilderTest, ProgramHelpOpensTheEntryInsideTheProgramWithoutHelpFiles) {
  const tamaril::testing::TempDir empty;
  core::CommonHelpPath = text::Utf8ToAnsi(empty.path());
  testing::tScriptedBoxes boxes;
  boxes.AnswerDefaults();
  auto dialog = MakeDialog(ProgramHelp(nullptr));
  ASSERT_TRUE(Select(*dialog->ClassIdBox, QStringLiteral(" Funkce IF")));
  dialog->IdentifBox->setCurrentRow(0);
  EXPECT_NO_THROW(dialog->helpBtn->click());
  core::CommonHelpPath.clear();
  EXPECT_TRUE(boxes.Shown().empty());
  THelpBrowser* browser = nullptr;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    auto* help = qobject_cast<THelpBrowser*>(window);
    if (help != nullptr && help->isVisible()) browser = help;
  }
  ASSERT_NE(browser, nullptr) << "no help browser was opened";
  EXPECT_TRUE(browser->CurrentPage().startsWith(QStringLiteral("functions.html#c")))
      << browser->CurrentPage().toStdString();
  EXPECT_TRUE(browser->Viewer->toPlainText().contains(QStringLiteral("IF")));
  browser->close();
}

// Answers the modal Execute: `edit` changes the memo, then OK or Storno is pressed.
template <typename Edit>
void AnswerExecute(Edit edit, bool ok) {
  QTimer::singleShot(0, [edit, ok] {
    auto* dialog = qobject_cast<TExpressionBuildDlg*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    edit(*dialog);
    (ok ? dialog->OKBtn : dialog->CancelBtn)->click();
  });
}

TEST_F(ExpressionBuilderTest, ExecuteReturnsTheLinesJoinedOrKeepsTheTextOnCancel) {
  std::string text = "NAZEV <> \"\"";
  AnswerExecute(
      [](TExpressionBuildDlg& dialog) {
        EXPECT_EQ(dialog.Resultmemo->textCursor().selectedText(), QStringLiteral("NAZEV <> \"\""));
        EXPECT_EQ(dialog.focusWidget(), dialog.Resultmemo);
        dialog.Resultmemo->setPlainText(QStringLiteral("MESTO = \"Kolín\" AND\nID > 1"));
      },
      true);
  EXPECT_TRUE(TExpressionBuildDlg::Execute(nullptr, text, context_->List(), &context_->Expression(), {},
                                           BooleanResult()));
  EXPECT_EQ(text, text::Utf8ToAnsi("MESTO = \"Kolín\" ANDID > 1"));

  AnswerExecute([](TExpressionBuildDlg& dialog) { dialog.Resultmemo->setPlainText(QStringLiteral("1 = 2")); },
                false);
  EXPECT_FALSE(TExpressionBuildDlg::Execute(nullptr, text, context_->List(), &context_->Expression(), {},
                                            BooleanResult()));
  EXPECT_EQ(text, text::Utf8ToAnsi("MESTO = \"Kolín\" ANDID > 1"));
}

TEST_F(ExpressionBuilderTest, OkDoesNotTestTheRule) {
  testing::tScriptedBoxes boxes;  // any box would fail the test
  std::string text = "1 +";
  AnswerExecute([](TExpressionBuildDlg&) {}, true);
  EXPECT_TRUE(TExpressionBuildDlg::Execute(nullptr, text, context_->List(), &context_->Expression(), {},
                                           BooleanResult()));
  EXPECT_EQ(text, "1 +");
  EXPECT_TRUE(boxes.Shown().empty());
}

}  // namespace
}  // namespace tamaril::ui
