// The rules windows over the shop database of the rule handling tests: what they show, the
// checks before a rule is saved, the enabling of their actions and the questions they ask.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

#include <functional>
#include <memory>
#include <string>

#include "dataset/field.h"
#include "definitions/export_rules.h"
#include "definitions/import_rules.h"
#include "definitions/rules_fixture.h"
#include "on_modal.h"
#include "replication/start_up.h"
#include "scripted_boxes.h"
#include "ui/dataset_model.h"
#include "ui/db_controls.h"
#include "ui/expression_builder.h"
#include "ui/rules_window.h"

namespace tamaril::ui {
namespace {

using definitions::testing::RulesTest;
using ui::testing::OnModal;
using ui::testing::tScriptedBoxes;

class RulesWindowTest : public RulesTest {
 protected:
  RulesWindowTest() { replication::InitRuleLanguage(); }

  // Moves the rule grid to a table's row.
  void Select(definitions::tDefinitionRules& rules, const std::string& table) {
    ASSERT_TRUE(rules.Rules().Locate("TABLENAME", dataset::Variant::String(table)));
  }
  static QString Cell(tDBGrid* grid, int row, int column) {
    return grid->model()->index(row, column).data().toString();
  }
  static QStringList Headers(tDBGrid* grid) {
    QStringList headers;
    for (int i = 0; i < grid->model()->columnCount(); ++i)
      headers << grid->model()->headerData(i, Qt::Horizontal).toString();
    return headers;
  }
  // Shows a window and makes it the active one, so that focus moves inside it.
  static void ShowActive(QWidget& window) {
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  }
};

TEST_F(RulesWindowTest, ExportWindowShowsTheHistoryFirstAndItsActions) {
  connection_.Execute(
      "INSERT INTO rep_XPORTLOG (Signature, EXPORTNO, EXPORTDATE) VALUES ('CENTRUM', 1, '2026-01-02');"
      "INSERT INTO rep_XPORTLOGDETAIL (Signature, EXPORTNO, TABLENAME, COUNTRECORDS) VALUES "
      "  ('CENTRUM', 1, 'Zakaznici', 5);");
  definitions::TData_DBExport rules;
  rules.Open("CENTRUM", connection_, structure_);
  Tfrm_DBEXPORT window(rules);

  EXPECT_EQ(window.PageControl->currentWidget(), window.tabHistory);
  EXPECT_EQ(window.PageControl->tabText(0), QStringLiteral("Přehled provedených exportů"));
  EXPECT_EQ(window.PageControl->tabText(1), QStringLiteral("Exportované tabulky"));
  EXPECT_EQ(Headers(window.gridLog), (QStringList{QStringLiteral("Pořadí"), QStringLiteral("Čas (program)"),
                                                  QStringLiteral("Čas (SQL server)")}));
  EXPECT_EQ(Headers(window.gridLogDetail),
            (QStringList{QStringLiteral("Evidence"), QStringLiteral("záznamů")}));
  EXPECT_EQ(Cell(window.gridLogDetail, 0, 0), QStringLiteral("Zákazníci"));
  EXPECT_EQ(Cell(window.gridLogDetail, 0, 1), QStringLiteral("5"));
  EXPECT_EQ(Headers(window.gridRules),
            (QStringList{QStringLiteral("Evidence"), QStringLiteral("Čas posl. exportu"),
                         QStringLiteral("Pravidlo")}));
  // rep_DELETED, Zakaznici (its default rule), Faktury, PolFakt.
  EXPECT_EQ(Cell(window.gridRules, 1, 2), QStringLiteral("Nastaveno"));
  EXPECT_EQ(Cell(window.gridRules, 2, 2), QString());

  struct Expected {
    QAction* action;
    QString caption;
    QString hint;
    QKeySequence shortcut;
  };
  for (const auto& e :
       std::vector<Expected>{{window.act_Close, QStringLiteral("Zavřít"), QStringLiteral("Zavřít"),
                              QKeySequence(QStringLiteral("Alt+X"))},
                             {window.act_SetAsDefault, QStringLiteral("Nastavit jako výchozí"),
                              QStringLiteral("Soubor pravidel nastavit jako výchozí pro další centra"),
                              QKeySequence(QStringLiteral("Ctrl+D"))},
                             {window.act_ApplyLastRules, QStringLiteral("Použít poslední nastavené pravidlo"),
                              QStringLiteral("Použít poslední nastavené pravidlo"), QKeySequence(Qt::Key_F8)},
                             {window.act_BuildExportRule, QStringLiteral("Vytvořit pravidlo"),
                              QStringLiteral("Vytvořit pravidlo"), QKeySequence()}}) {
    EXPECT_EQ(e.action->text(), e.caption);
    EXPECT_EQ(e.action->toolTip(), e.hint) << e.caption.toStdString();
    EXPECT_EQ(e.action->shortcut(), e.shortcut) << e.caption.toStdString();
  }
  for (const tNavButton shown : {tNavButton::First, tNavButton::Prior, tNavButton::Next, tNavButton::Last,
                                 tNavButton::Edit, tNavButton::Post, tNavButton::Cancel, tNavButton::Refresh})
    EXPECT_NE(window.Navigator->Button(shown), nullptr);
  EXPECT_EQ(window.Navigator->Button(tNavButton::Insert), nullptr);
  EXPECT_EQ(window.Navigator->Button(tNavButton::Delete), nullptr);

  // The defaults and the last rule act on the rules page only.
  window.UpdateActions();
  EXPECT_FALSE(window.act_SetAsDefault->isEnabled());
  window.PageControl->setCurrentWidget(window.tabRules);
  window.UpdateActions();
  EXPECT_TRUE(window.act_SetAsDefault->isEnabled());
}

TEST_F(RulesWindowTest, RuleThatDoesNotCompileStaysInEditWithItsMemoFocused) {
  definitions::TData_DBExport rules;
  rules.Open("CENTRUM", connection_, structure_);
  Tfrm_DBEXPORT window(rules);
  ShowActive(window);
  Select(rules, "Faktury");
  tDBMemo* memo = window.Editors.at(0).memo;
  memo->setPlainText(QStringLiteral("CENA >"));
  EXPECT_EQ(rules.Rules().State(), dataset::DataSetState::Edit);
  window.PageControl->setCurrentWidget(window.tabHistory);
  window.gridLog->setFocus();

  tScriptedBoxes boxes;
  boxes.Answer(tMsgButton::Ok);
  EXPECT_FALSE(window.PostRules());
  ASSERT_EQ(boxes.Shown().size(), 1U);
  EXPECT_EQ(boxes.Shown()[0].kind, tMsgKind::Error);
  EXPECT_EQ(rules.Rules().State(), dataset::DataSetState::Edit);
  EXPECT_EQ(window.PageControl->currentWidget(), window.tabRules);
  EXPECT_TRUE(memo->hasFocus());
  EXPECT_EQ(Scalar("select coalesce(ExportRule, '<null>') from rep_DEFEXPORT where TABLENAME='Faktury'"),
            "<null>");

  // Neither the navigator nor the grid leaves the row before it is mended.
  boxes.Answer(tMsgButton::Ok);
  window.Navigator->Click(tNavButton::Next);
  boxes.Answer(tMsgButton::Ok);
  EXPECT_FALSE(window.gridRules->DataSetModel()->MoveTo(0));
  EXPECT_EQ(boxes.Shown().size(), 3U);
  EXPECT_EQ(rules.Rules().FieldByName("TABLENAME").AsString(), "Faktury");
  EXPECT_EQ(rules.Rules().State(), dataset::DataSetState::Edit);

  memo->setPlainText(QStringLiteral("CENA >\n 100"));
  window.Navigator->Click(tNavButton::Next);
  EXPECT_EQ(rules.Rules().FieldByName("TABLENAME").AsString(), "PolFakt");
  EXPECT_EQ(Scalar("select ExportRule from rep_DEFEXPORT where TABLENAME='Faktury'"), "CENA >\r\n 100");
  window.hide();
}

TEST_F(RulesWindowTest, TheLastRuleCanBeAppliedOnlyAfterASave) {
  definitions::TData_DBExport rules;
  rules.Open("CENTRUM", connection_, structure_);
  Tfrm_DBEXPORT window(rules);
  window.PageControl->setCurrentWidget(window.tabRules);
  window.UpdateActions();
  EXPECT_FALSE(window.act_ApplyLastRules->isEnabled());

  Select(rules, "Faktury");
  window.Editors.at(0).memo->setPlainText(QStringLiteral("IDFAKTURA > 5"));
  ASSERT_TRUE(window.PostRules());
  window.UpdateActions();
  EXPECT_TRUE(window.act_ApplyLastRules->isEnabled());
  // The history page offers it no more.
  window.PageControl->setCurrentWidget(window.tabHistory);
  window.UpdateActions();
  EXPECT_FALSE(window.act_ApplyLastRules->isEnabled());

  window.PageControl->setCurrentWidget(window.tabRules);
  Select(rules, "PolFakt");
  window.act_ApplyLastRules->trigger();
  EXPECT_EQ(Scalar("select ExportRule from rep_DEFEXPORT where TABLENAME='PolFakt'"), "IDFAKTURA > 5");
  EXPECT_EQ(window.Editors.at(0).memo->toPlainText(), QStringLiteral("IDFAKTURA > 5"));

  // A table without that field refuses it and keeps its own rule.
  Select(rules, "Zakaznici");
  tScriptedBoxes boxes;
  boxes.Answer(tMsgButton::Ok);
  window.act_ApplyLastRules->trigger();
  ASSERT_EQ(boxes.Shown().size(), 1U);
  EXPECT_TRUE(boxes.Shown()[0].text.contains(QStringLiteral("IDFAKTURA"))) << boxes.Texts()[0];
  EXPECT_EQ(window.PageControl->currentWidget(), window.tabRules);
  rules.Rules().Cancel();
  EXPECT_EQ(Scalar("select ExportRule from rep_DEFEXPORT where TABLENAME='Zakaznici'"), "IDZAKAZNIK > 0");
}

TEST_F(RulesWindowTest, DeleteRuleIsReadOnlyForATableWithATwoColumnKey) {
  definitions::TData_DBImport rules;
  rules.Open("KLIENT", connection_, structure_);
  Tfrm_DBIMPORT window(rules);
  ASSERT_EQ(window.Editors.size(), 4U);
  EXPECT_EQ(window.Editors[3].label->text(), QStringLiteral("Odstranění záznamu"));
  tDBMemo* delete_memo = window.Editors[3].memo;

  Select(rules, "PolFakt");
  window.UpdateActions();
  EXPECT_FALSE(delete_memo->isEnabled());
  EXPECT_FALSE(window.act_BuildDeleteRule->isEnabled());
  EXPECT_TRUE(window.act_BuildUpdateRule->isEnabled());
  EXPECT_EQ(delete_memo->palette().color(QPalette::Base), delete_memo->palette().color(QPalette::Window));

  Select(rules, "Faktury");
  window.UpdateActions();
  EXPECT_TRUE(delete_memo->isEnabled());
  EXPECT_TRUE(window.act_BuildDeleteRule->isEnabled());
}

TEST_F(RulesWindowTest, ClosingAsksWhenADetailHasARuleAndItsMasterNone) {
  connection_.Execute("UPDATE rep_TBLDESC SET DefExportRule=NULL;");
  definitions::TData_DBExport rules;
  tBoxRuleQuestions questions(nullptr);
  rules.SetQuestions(&questions);
  rules.Open("CENTRUM", connection_, structure_);
  Tfrm_DBEXPORT window(rules);
  questions.SetParent(&window);
  Select(rules, "PolFakt");
  window.Editors.at(0).memo->setPlainText(QStringLiteral("RADEK > 0"));
  ASSERT_TRUE(window.PostRules());

  tScriptedBoxes boxes;
  boxes.Answer(tMsgButton::Abort);
  window.show();
  window.act_Close->trigger();
  ASSERT_EQ(boxes.Shown().size(), 1U);
  EXPECT_EQ(boxes.Shown()[0].kind, tMsgKind::Warning);
  EXPECT_EQ(
      boxes.Shown()[0].text,
      QStringLiteral("Chybí nastavení pravidla pro tabulku \"Zákazníci\" \nOpravdu mám formulář zavřít?"));
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(rules.Rules().FieldByName("TABLENAME").AsString(), "Zakaznici");
  EXPECT_EQ(window.PageControl->currentWidget(), window.tabRules);

  boxes.Answer(tMsgButton::Yes);
  window.act_Close->trigger();
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.result(), QDialog::Accepted);
}

TEST_F(RulesWindowTest, ImportHistoryShowsZeroCountsEmptyAndOthersOnTheTooltipColour) {
  connection_.Execute(
      "INSERT INTO rep_IMPORTLOG (Signature, IMPORTNO, CLIENTEXPORTNO, CLIENTEXPORTDATE) VALUES "
      "  ('KLIENT', 1, 7, '2026-01-02'), ('KLIENT', 2, 8, '2026-01-03');"
      "INSERT INTO rep_IMPORTLOGDETAIL (Signature, IMPORTNO, TABLENAME, COUNT_APPENDED, COUNT_UPDATED, "
      "  COUNT_DELETED) VALUES ('KLIENT', 1, 'Faktury', 3, 0, 0), ('KLIENT', 2, 'Zakaznici', 0, 2, 1);");
  definitions::TData_DBImport rules;
  tBoxRuleQuestions questions(nullptr);
  rules.SetQuestions(&questions);
  rules.Open("KLIENT", connection_, structure_);
  Tfrm_DBIMPORT window(rules);
  EXPECT_EQ(Headers(window.gridLogDetail),
            (QStringList{QStringLiteral("evidence"), QStringLiteral("přidáno"), QStringLiteral("opraveno"),
                         QStringLiteral("vymazáno")}));
  const QAbstractItemModel* model = window.gridLogDetail->model();
  EXPECT_EQ(Cell(window.gridLogDetail, 0, 0), QStringLiteral("Faktury"));
  EXPECT_EQ(Cell(window.gridLogDetail, 0, 1), QStringLiteral("3"));
  EXPECT_EQ(Cell(window.gridLogDetail, 0, 2), QString());
  EXPECT_EQ(Cell(window.gridLogDetail, 0, 3), QString());
  EXPECT_EQ(model->index(0, 1).data(Qt::BackgroundRole).value<QColor>(),
            QToolTip::palette().color(QPalette::ToolTipBase));
  EXPECT_FALSE(model->index(0, 2).data(Qt::BackgroundRole).isValid());

  // The second run's details follow the log; deleting it asks first.
  rules.Log().Last();
  EXPECT_EQ(Cell(window.gridLogDetail, 0, 0), QStringLiteral("Zákazníci"));
  tScriptedBoxes boxes;
  boxes.Answer(tMsgButton::Abort);
  boxes.Answer(tMsgButton::Yes);
  window.act_DeleteLogRow->trigger();
  EXPECT_EQ(Scalar("select count(*) from rep_IMPORTLOG"), "2");
  window.act_DeleteLogRow->trigger();
  EXPECT_EQ(Scalar("select count(*) from rep_IMPORTLOG"), "1");
  EXPECT_EQ(Scalar("select count(*) from rep_IMPORTLOGDETAIL"), "1");
  EXPECT_EQ(boxes.Shown()[0].text, QStringLiteral("Opravdu chcete vymazat zvolený záznam?"));
  EXPECT_EQ(window.gridLog->model()->rowCount(), 1);
}

TEST_F(RulesWindowTest, ARuleBuiltInTheBuilderIsSavedAndShown) {
  definitions::TData_DBImport rules;
  rules.Open("KLIENT", connection_, structure_);
  Tfrm_DBIMPORT window(rules);
  window.PageControl->setCurrentWidget(window.tabRules);
  Select(rules, "Faktury");
  OnModal<TExpressionBuildDlg>([](TExpressionBuildDlg& builder) {
    builder.Resultmemo->setPlainText(QStringLiteral("@IMP_CENA >\nCENA"));
    builder.OKBtn->click();
  });
  window.act_BuildUpdateRule->trigger();
  EXPECT_EQ(Scalar("select UpdateRule from rep_DEFIMPORT where Signature='KLIENT' and TABLENAME='Faktury'"),
            "@IMP_CENA >CENA");
  EXPECT_EQ(window.Editors[1].memo->toPlainText(), QStringLiteral("@IMP_CENA >CENA"));
  EXPECT_EQ(rules.Rules().State(), dataset::DataSetState::Browse);
  window.UpdateActions();
  EXPECT_TRUE(window.act_ApplyLastRules->isEnabled());

  // A built rule that does not compile is not stored; it waits in its memo to be mended.
  tScriptedBoxes boxes;
  boxes.Answer(tMsgButton::Ok);
  OnModal<TExpressionBuildDlg>([](TExpressionBuildDlg& builder) {
    builder.Resultmemo->setPlainText(QStringLiteral("CENA >"));
    builder.OKBtn->click();
  });
  window.act_BuildUpdateRule->trigger();
  ASSERT_EQ(boxes.Shown().size(), 1U);
  EXPECT_EQ(boxes.Shown()[0].kind, tMsgKind::Error);
  EXPECT_EQ(rules.Rules().State(), dataset::DataSetState::Edit);
  EXPECT_EQ(window.Editors[1].memo->toPlainText(), QStringLiteral("CENA >"));
  EXPECT_EQ(Scalar("select UpdateRule from rep_DEFIMPORT where Signature='KLIENT' and TABLENAME='Faktury'"),
            "@IMP_CENA >CENA");
  rules.Rules().Cancel();

  // Storno leaves the rule as it was.
  OnModal<TExpressionBuildDlg>([](TExpressionBuildDlg& builder) {
    builder.Resultmemo->setPlainText(QStringLiteral("1=1"));
    builder.CancelBtn->click();
  });
  window.act_BuildUpdateRule->trigger();
  EXPECT_EQ(Scalar("select UpdateRule from rep_DEFIMPORT where Signature='KLIENT' and TABLENAME='Faktury'"),
            "@IMP_CENA >CENA");
}

}  // namespace
}  // namespace tamaril::ui
