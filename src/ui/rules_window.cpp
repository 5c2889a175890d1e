#include "ui/rules_window.h"

#include <QAction>
#include <QBoxLayout>
#include <QColor>
#include <QLabel>
#include <QMenu>
#include <QPalette>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolTip>

#include "dataset/field.h"
#include "definitions/errors.h"
#include "ui/dataset_model.h"
#include "ui/db_controls.h"
#include "ui/expression_builder.h"
#include "ui/message_box.h"
#include "ui/qt_child.h"
#include "ui/qt_text.h"

namespace tamaril::ui {
namespace {

using definitions::tQuestion;

constexpr int kIdleInterval = 200;

// The engine's texts break lines with CR LF or a lone CR.
QString BoxText(const std::string& text) {
  QString shown = FromAnsi(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return shown;
}

QAction* MakeAction(QObject* owner, const QString& caption, const QString& hint,
                    const QKeySequence& shortcut = {}) {
  auto* action = MakeChild<QAction>(caption, owner);
  action->setToolTip(hint);
  action->setStatusTip(hint);
  if (!shortcut.isEmpty()) action->setShortcut(shortcut);
  return action;
}

tDBGrid* MakeGrid(QWidget* parent, tDataSetModel*& model) {
  auto* grid = MakeChild<tDBGrid>(parent);
  model = MakeChild<tDataSetModel>(grid);
  return grid;
}

}  // namespace

bool tBoxRuleQuestions::Ask(tQuestion question, const std::string& text) {
  const tMsgKind kind = question == tQuestion::SetAsDefault ? tMsgKind::Confirmation : tMsgKind::Warning;
  return MessageDlg(parent_, kind, BoxText(text), {tMsgButton::Yes, tMsgButton::Abort}) == tMsgButton::Yes;
}

tRulesWindow::tRulesWindow(definitions::tDefinitionRules& rules, const tTexts& texts, QWidget* parent)
    : QDialog(parent),
      rules_(rules),
      log_source_(&rules.Log()),
      detail_source_(&rules.LogDetail()),
      rules_source_(&rules.Rules()) {
  auto* layout = MakeChild<QVBoxLayout>(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  act_Close = MakeAction(this, QStringLiteral("Zavřít"), QStringLiteral("Zavřít"),
                         QKeySequence(QStringLiteral("Alt+X")));
  act_SetAsDefault = MakeAction(this, QStringLiteral("Nastavit jako výchozí"), texts.default_hint,
                                QKeySequence(QStringLiteral("Ctrl+D")));
  act_ApplyLastRules = MakeAction(this, texts.apply_last, texts.apply_last, QKeySequence(Qt::Key_F8));
  act_DeleteLogRow =
      MakeAction(this, QStringLiteral("Vymazat záznam"), QStringLiteral("Vymazat zvolený záznam"),
                 QKeySequence(QStringLiteral("Ctrl+Del")));
  for (QAction* action : {act_Close, act_SetAsDefault, act_ApplyLastRules}) {
    action->setShortcutContext(Qt::WindowShortcut);
    addAction(action);
  }
  connect(act_Close, &QAction::triggered, this, [this] { done(QDialog::Accepted); });
  connect(act_SetAsDefault, &QAction::triggered, this, [this] { SetAsDefault(); });
  connect(act_ApplyLastRules, &QAction::triggered, this, [this] { ApplyLastRules(); });
  connect(act_DeleteLogRow, &QAction::triggered, this, [this] { DeleteLogRow(); });

  ToolBar = MakeChild<QToolBar>(this);
  ToolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  ToolBar->addAction(act_Close);
  ToolBar->addAction(act_SetAsDefault);
  ToolBar->addAction(act_ApplyLastRules);
  layout->addWidget(ToolBar);

  PageControl = MakeChild<QTabWidget>(this);
  layout->addWidget(PageControl, 1);
  BuildHistoryPage(texts);
  BuildRulesPage(texts);
  PageControl->setCurrentWidget(tabHistory);
  connect(PageControl, &QTabWidget::currentChanged, this, [this] { UpdateActions(); });

  setMinimumSize(860, 520);
  resize(1060, 640);

  idle_ = MakeChild<QTimer>(this);
  idle_->setInterval(kIdleInterval);
  connect(idle_, &QTimer::timeout, this, &tRulesWindow::UpdateActions);
  idle_->start();
}

tRulesWindow::~tRulesWindow() {
  // The models let go of the datasets before the sources go.
  for (tDataSetModel* model : {log_model_, detail_model_, rules_model_}) {
    if (model != nullptr) model->SetDataSource(nullptr);
  }
  Navigator->SetDataSource(nullptr);
  for (auto& editor : Editors) editor.memo->SetDataField(nullptr, {});
}

void tRulesWindow::BuildHistoryPage(const tTexts& texts) {
  tabHistory = MakeChild<QWidget>();
  PageControl->addTab(tabHistory, texts.history_page);
  auto* layout = MakeChild<QHBoxLayout>(tabHistory);
  auto* splitter = MakeChild<QSplitter>(Qt::Horizontal, tabHistory);
  layout->addWidget(splitter);

  gridLog = MakeGrid(splitter, log_model_);
  log_model_->SetDataSource(&log_source_, texts.log_columns);
  gridLog->SetDataSetModel(log_model_);
  // Ctrl+Del deletes a run only from the log grid; in a memo it deletes a word.
  act_DeleteLogRow->setShortcutContext(Qt::WidgetShortcut);
  gridLog->setContextMenuPolicy(Qt::ActionsContextMenu);
  gridLog->addAction(act_DeleteLogRow);
  splitter->addWidget(gridLog);

  auto* right = MakeChild<QWidget>(splitter);
  auto* right_layout = MakeChild<QVBoxLayout>(right);
  right_layout->setContentsMargins(0, 0, 0, 0);
  lblLogDetail = MakeChild<QLabel>(texts.detail_label, right);
  right_layout->addWidget(lblLogDetail);
  gridLogDetail = MakeGrid(right, detail_model_);
  // The details are read afresh for every run, so their columns are titled here.
  detail_model_->SetComputedColumn(
      texts.detail_columns.front(), texts.detail_titles.front(), [this](dataset::TDataSet& data) {
        return FromAnsi(rules_.TableDescription(data.FieldByName("TABLENAME").AsString()));
      });
  for (std::size_t i = 1; i < texts.detail_columns.size(); ++i) {
    const std::string name = texts.detail_columns[i];
    const bool blank_zero = texts.blank_zero_counts;
    detail_model_->SetComputedColumn(name, texts.detail_titles.at(i),
                                     [name, blank_zero](dataset::TDataSet& data) {
                                       const dataset::TField& field = data.FieldByName(name);
                                       if (field.IsNull() || (blank_zero && field.AsInteger() == 0))
                                         return QString();
                                       return QString::number(field.AsInteger());
                                     });
  }
  // Counts other than zero stand out on the tooltip colour.
  if (texts.blank_zero_counts) {
    detail_model_->SetCellColour([](int, int column, const QString& text) {
      return column > 0 && !text.isEmpty() ? QToolTip::palette().color(QPalette::ToolTipBase) : QColor();
    });
  }
  detail_model_->SetDataSource(&detail_source_, texts.detail_columns);
  gridLogDetail->SetDataSetModel(detail_model_);
  right_layout->addWidget(gridLogDetail, 1);
  splitter->addWidget(right);
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 1);
}

void tRulesWindow::BuildRulesPage(const tTexts& texts) {
  tabRules = MakeChild<QWidget>();
  PageControl->addTab(tabRules, texts.rules_page);
  auto* layout = MakeChild<QHBoxLayout>(tabRules);

  gridRules = MakeGrid(tabRules, rules_model_);
  rules_model_->SetBeforeMove([this] { return PostRules(); });
  rules_model_->SetDataSource(&rules_source_, texts.rule_columns);
  for (const std::string& name : texts.editable_columns) {
    const int column = rules_model_->ColumnOf(name);
    if (column >= 0) rules_model_->SetColumnEditable(column, true);
  }
  gridRules->SetDataSetModel(rules_model_);
  popupRules = MakeChild<QMenu>(gridRules);
  popupRules->addAction(act_ApplyLastRules);
  gridRules->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(gridRules, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { popupRules->popup(gridRules->viewport()->mapToGlobal(at)); });
  connect(rules_model_, &tDataSetModel::CurrentRowChanged, this, [this] { RowChanged(); });
  layout->addWidget(gridRules, 3);

  auto* panel = MakeChild<QWidget>(tabRules);
  auto* panel_layout = MakeChild<QVBoxLayout>(panel);
  panel_layout->setContentsMargins(0, 0, 0, 0);
  Navigator = MakeChild<tDBNavigator>(panel);
  Navigator->SetVisibleButtons({tNavButton::First, tNavButton::Prior, tNavButton::Next, tNavButton::Last,
                                tNavButton::Edit, tNavButton::Post, tNavButton::Cancel, tNavButton::Refresh});
  Navigator->SetDataSource(&rules_source_);
  Navigator->SetAction(tNavButton::Post, [this] { PostRules(); });
  // Moving saves the row being edited first, with its checks.
  dataset::TDataSet& data = rules_.Rules();
  Navigator->SetAction(tNavButton::First, [this, &data] {
    if (PostRules()) data.First();
  });
  Navigator->SetAction(tNavButton::Prior, [this, &data] {
    if (PostRules()) data.Prior();
  });
  Navigator->SetAction(tNavButton::Next, [this, &data] {
    if (PostRules()) data.Next();
  });
  Navigator->SetAction(tNavButton::Last, [this, &data] {
    if (PostRules()) data.Last();
  });
  Navigator->SetAction(tNavButton::Refresh, [this] { Refresh(); });
  panel_layout->addWidget(Navigator);
  lblRules = MakeChild<QLabel>(texts.rules_label, panel);
  panel_layout->addWidget(lblRules);

  const std::vector<expr::RuleKind>& kinds = rules_.RuleKinds();
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    tRuleEditor editor{kinds[i]};
    const QString caption = i < texts.rule_captions.size() ? texts.rule_captions[i] : QString();
    auto* row = MakeChild<QHBoxLayout>();
    if (!caption.isEmpty()) {
      editor.label = MakeChild<QLabel>(caption, panel);
      row->addWidget(editor.label, 1);
    }
    editor.build = MakeAction(this, QStringLiteral("Vytvořit pravidlo"), QStringLiteral("Vytvořit pravidlo"));
    const expr::RuleKind kind = kinds[i];
    connect(editor.build, &QAction::triggered, this, [this, kind] { BuildRule(kind); });
    editor.button = MakeChild<QPushButton>(editor.build->text(), panel);
    editor.button->setToolTip(editor.build->toolTip());
    connect(editor.button, &QPushButton::clicked, editor.build, &QAction::trigger);
    row->addWidget(editor.button, 0, Qt::AlignRight);
    editor.memo = MakeChild<tDBMemo>(panel);
    editor.memo->SetDataField(&rules_source_, definitions::tDefinitionRules::RuleColumn(kind));
    if (editor.label != nullptr) editor.label->setBuddy(editor.memo);
    if (caption.isEmpty()) {
      // A single rule: the button above the label and the memo.
      panel_layout->insertLayout(panel_layout->indexOf(lblRules), row);
    } else {
      panel_layout->addLayout(row);
    }
    panel_layout->addWidget(editor.memo, 1);
    Editors.push_back(editor);
  }
  if (Editors.size() == 1) lblRules->setBuddy(Editors.front().memo);
  layout->addWidget(panel, 2);
}

tRuleEditor* tRulesWindow::Editor(expr::RuleKind kind) {
  for (auto& editor : Editors) {
    if (editor.kind == kind) return &editor;
  }
  return nullptr;
}

void tRulesWindow::FocusRule(expr::RuleKind kind) {
  PageControl->setCurrentWidget(tabRules);
  if (tRuleEditor* editor = Editor(kind)) editor->memo->setFocus(Qt::OtherFocusReason);
}

bool tRulesWindow::RunRuleAction(const std::function<void()>& action) {
  try {
    action();
    return true;
  } catch (const definitions::RuleValidationError& e) {
    FocusRule(e.Kind());
    ShowException(this, std::current_exception());
  } catch (...) {
    ShowException(this, std::current_exception());
  }
  return false;
}

bool tRulesWindow::PostRules() {
  dataset::TDataSet& data = rules_.Rules();
  if (!data.Active() || data.State() == dataset::DataSetState::Browse) return true;
  return RunRuleAction([&data] { data.Post(); });
}

void tRulesWindow::BuildRule(expr::RuleKind kind) {
  dataset::TDataSet& data = rules_.Rules();
  if (!data.Active() || data.IsEmpty()) return;
  // Changes typed before are saved with their checks first.
  if (!PostRules()) return;
  const std::string column = definitions::tDefinitionRules::RuleColumn(kind);
  std::string text;
  bool built = false;
  RunAction(this, [&] {
    const std::unique_ptr<definitions::tRuleContext> context = rules_.PrepareRule(kind);
    text = data.FieldByName(column).AsString();
    built = TExpressionBuildDlg::Execute(this, text, context->List(), &context->Expression(),
                                         ProgramHelp(this), BooleanResult());
  });
  // The builder does not check its text on OK, so the built rule is saved with the checks of a
  // typed one: a rule that does not compile stays in its memo to be mended, instead of being
  // stored and failing at the next run.
  if (built && RunAction(this, [&] {
        if (data.State() == dataset::DataSetState::Browse) data.Edit();
        data.FieldByName(column).SetAsString(text);
      })) {
    PostRules();
  }
  UpdateActions();
}

void tRulesWindow::ApplyLastRules() {
  if (!rules_.LastRuleSet()) return;
  RunRuleAction([this] { rules_.ApplyLastRule(); });
  RowChanged();
}

void tRulesWindow::SetAsDefault() {
  if (!PostRules()) return;
  RunAction(this, [this] { rules_.SetAsDefault(); });
}

void tRulesWindow::DeleteLogRow() {
  RunAction(this, [this] { rules_.DeleteLogRow(); });
}

void tRulesWindow::Refresh() {
  RunAction(this, [this] { rules_.Refresh(); });
  RowChanged();
}

void tRulesWindow::RowChanged() {
  for (auto& editor : Editors) editor.memo->UpdateFromField();
  UpdateActions();
}

void tRulesWindow::UpdateActions() {
  const bool on_rules = PageControl->currentWidget() == tabRules;
  const bool has_rows = rules_.Rules().Active() && !rules_.Rules().IsEmpty();
  act_ApplyLastRules->setEnabled(on_rules && has_rows && rules_.LastRuleSet());
  act_SetAsDefault->setEnabled(on_rules);
  act_DeleteLogRow->setEnabled(rules_.Log().Active() && !rules_.Log().IsEmpty());
  for (auto& editor : Editors) {
    const bool read_only = editor.kind == expr::RuleKind::Delete && rules_.DeleteRuleReadOnly();
    editor.build->setEnabled(has_rows && !read_only);
    editor.button->setEnabled(editor.build->isEnabled());
    // Why the DeleteRule of this table cannot be set, and what would allow it.
    if (editor.kind == expr::RuleKind::Delete) {
      const QString why = has_rows && rules_.DeleteRuleRefused()
                              ? FromAnsi(definitions::UnidentifiableDeleteRuleMessage(
                                    rules_.Rules().FieldByName("TABLENAME").AsString()))
                              : QString();
      if (editor.memo->toolTip() != why) editor.memo->setToolTip(why);
    }
  }
  Navigator->UpdateButtons();
}

void tRulesWindow::done(int result) {
  if (!PostRules()) return;
  bool close = false;
  RunRuleAction([this, &close] { close = rules_.ConfirmClose(); });
  if (!close) {
    // The master without a rule is the current row now.
    PageControl->setCurrentWidget(tabRules);
    return;
  }
  idle_->stop();
  QDialog::done(result);
}

namespace {

tRulesWindow::tTexts ExportTexts() {
  tRulesWindow::tTexts texts;
  texts.history_page = QStringLiteral("Přehled provedených exportů");
  texts.detail_label = QStringLiteral("Data přenesená ve vybraném exportu");
  texts.rules_page = QStringLiteral("Exportované tabulky");
  texts.rules_label = QStringLiteral("Pravidlo exportu pro zvolenou evidenci");
  texts.apply_last = QStringLiteral("Použít poslední nastavené pravidlo");
  texts.default_hint = QStringLiteral("Soubor pravidel nastavit jako výchozí pro další centra");
  texts.log_columns = {"EXPORTNO", "EXPORTDATE", "SERVEREXPORTDATE"};
  texts.detail_columns = {"TableDesc", "COUNTRECORDS"};
  texts.detail_titles = {QStringLiteral("Evidence"), QStringLiteral("záznamů")};
  texts.rule_columns = {"TableDesc", "LastExportDate", "RuleIsSet"};
  texts.editable_columns = {"LastExportDate"};
  texts.rule_captions = {QString()};
  return texts;
}

tRulesWindow::tTexts ImportTexts() {
  tRulesWindow::tTexts texts;
  texts.history_page = QStringLiteral("Přehled provedených importů");
  texts.detail_label = QStringLiteral("Data přenesená ve vybraném importu");
  texts.rules_page = QStringLiteral("Importované tabulky");
  texts.rules_label = QStringLiteral("Pravidla pro zvolenou evidenci");
  texts.apply_last = QStringLiteral("Použít poslední nastavená pravidla");
  texts.default_hint = QStringLiteral("Soubor pravidel nastavit jako výchozí pro další klienty");
  texts.log_columns = {"IMPORTNO", "IMPORTDATE", "CLIENTEXPORTNO", "CLIENTEXPORTDATE"};
  texts.detail_columns = {"tableDesc", "COUNT_APPENDED", "COUNT_UPDATED", "COUNT_DELETED"};
  texts.detail_titles = {QStringLiteral("evidence"), QStringLiteral("přidáno"), QStringLiteral("opraveno"),
                         QStringLiteral("vymazáno")};
  texts.blank_zero_counts = true;
  texts.rule_columns = {"tableDesc", "LastImportDate", "IgnoreRowGuidField", "RuleIsSet"};
  texts.editable_columns = {"LastImportDate", "IgnoreRowGuidField"};
  texts.rule_captions = {QStringLiteral("Přidání záznamu"), QStringLiteral("Oprava záznamu"),
                         QStringLiteral("Oprava pole záznamu"), QStringLiteral("Odstranění záznamu")};
  return texts;
}

}  // namespace

Tfrm_DBEXPORT::Tfrm_DBEXPORT(definitions::tDefinitionRules& rules, QWidget* parent)
    : tRulesWindow(rules, ExportTexts(), parent) {
  act_BuildExportRule = Editors.at(0).build;
}

Tfrm_DBIMPORT::Tfrm_DBIMPORT(definitions::tDefinitionRules& rules, QWidget* parent)
    : tRulesWindow(rules, ImportTexts(), parent) {
  act_BuildAppendRule = Editors.at(0).build;
  act_BuildUpdateRule = Editors.at(1).build;
  act_BuildUpdateFieldRule = Editors.at(2).build;
  act_BuildDeleteRule = Editors.at(3).build;
}

}  // namespace tamaril::ui
