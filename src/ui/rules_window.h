#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/dataset.h"
#include "definitions/definition_rules.h"
#include "definitions/questions.h"
#include "expr/rule_lists.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QTabWidget;
class QTimer;
class QToolBar;

namespace tamaril::ui {

class tDBGrid;
class tDBMemo;
class tDBNavigator;
class tDataSetModel;

/// Asks the questions of the rule handling in message boxes over `parent`: the log row's
/// deletion and closing without a master's rule as warnings, the defaults as a confirmation,
/// each with "Ano" and "Přerušit".
class tBoxRuleQuestions : public definitions::tRuleQuestions {
 public:
  explicit tBoxRuleQuestions(QWidget* parent) : parent_(parent) {}
  /// Shows the boxes over `parent` from now on.
  void SetParent(QWidget* parent) noexcept { parent_ = parent; }
  bool Ask(definitions::tQuestion question, const std::string& text) override;

 private:
  QWidget* parent_;
};

/// One rule of the rules page: its memo, its label and the action that builds it.
struct tRuleEditor {
  expr::RuleKind kind;
  QLabel* label = nullptr;
  tDBMemo* memo = nullptr;
  QAction* build = nullptr;
  QPushButton* button = nullptr;
};

/// What the export and the import rules window share: the history page with the run log and
/// the selected run's details, the rules page with the rule rows, a navigator and the memos of
/// a row's rules, and the actions on them. Every decision is the rule handling's; the window
/// presents it, asks its questions and shows its errors.
class tRulesWindow : public QDialog {
  Q_OBJECT

 public:
  /// The texts that differ between the two sides.
  struct tTexts {
    QString history_page;  ///< "Přehled provedených exportů"
    QString detail_label;  ///< "Data přenesená ve vybraném exportu"
    QString rules_page;    ///< "Exportované tabulky"
    QString rules_label;   ///< "Pravidlo exportu pro zvolenou evidenci"
    QString apply_last;    ///< "Použít poslední nastavené pravidlo"
    QString default_hint;  ///< "Soubor pravidel nastavit jako výchozí pro další centra"
    std::vector<std::string> log_columns;
    std::vector<std::string> detail_columns;  ///< the description first
    std::vector<QString> detail_titles;       ///< the titles of the detail columns
    bool blank_zero_counts = false;  ///< counts of zero are shown empty, the others on the tooltip colour
    std::vector<std::string> rule_columns;  ///< the description first
    std::vector<std::string> editable_columns;
    std::vector<QString> rule_captions;  ///< one per rule kind; empty: no caption above the memo
  };

  ~tRulesWindow() override;
  tRulesWindow(const tRulesWindow&) = delete;
  tRulesWindow& operator=(const tRulesWindow&) = delete;

  /// Saves the current rule row when it is being edited. A rule that does not compile shows the
  /// rules page, focuses its memo and shows the message, and the row stays in edit mode. True
  /// when the row is saved (or was not being edited).
  bool PostRules();
  /// Opens the builder on the rule of `kind` of the current row; on OK saves the built rule.
  /// Errors are shown.
  void BuildRule(expr::RuleKind kind);
  /// Copies the last saved rules onto the current row and saves it.
  void ApplyLastRules();
  /// Asks, then makes the definition's rules the defaults of later definitions.
  void SetAsDefault();
  /// Deletes the selected run of the history after asking.
  void DeleteLogRow();
  /// Enables the actions for the page shown and the current row; runs every 200 ms.
  void UpdateActions();
  /// The editor of the rule of `kind`, or null.
  tRuleEditor* Editor(expr::RuleKind kind);

  QToolBar* ToolBar = nullptr;
  QTabWidget* PageControl = nullptr;  ///< the history page first, then the rules page
  QWidget* tabHistory = nullptr;
  QWidget* tabRules = nullptr;
  tDBGrid* gridLog = nullptr;
  tDBGrid* gridLogDetail = nullptr;
  QLabel* lblLogDetail = nullptr;
  tDBGrid* gridRules = nullptr;
  tDBNavigator* Navigator = nullptr;
  QLabel* lblRules = nullptr;
  QMenu* popupRules = nullptr;
  QAction* act_Close = nullptr;
  QAction* act_SetAsDefault = nullptr;
  QAction* act_ApplyLastRules = nullptr;
  QAction* act_DeleteLogRow = nullptr;
  std::vector<tRuleEditor> Editors;  ///< in the order the rules are validated

 protected:
  /// A window over `rules` (borrowed, open with its structure); `texts` name the side.
  tRulesWindow(definitions::tDefinitionRules& rules, const tTexts& texts, QWidget* parent);

  void done(int result) override;

  definitions::tDefinitionRules& rules_;

 private:
  void BuildHistoryPage(const tTexts& texts);
  void BuildRulesPage(const tTexts& texts);
  void FocusRule(expr::RuleKind kind);
  /// Runs `action`; a rule it refuses shows the rules page with that rule's memo focused, and
  /// every failure is shown. True when it ended without an exception.
  bool RunRuleAction(const std::function<void()>& action);
  void RowChanged();
  void Refresh();

  dataset::TDataSource log_source_;
  dataset::TDataSource detail_source_;
  dataset::TDataSource rules_source_;
  tDataSetModel* log_model_ = nullptr;
  tDataSetModel* detail_model_ = nullptr;
  tDataSetModel* rules_model_ = nullptr;
  QTimer* idle_ = nullptr;
};

/// "Nastavení exportu do centra …": the export rules of one definition and its export history.
class Tfrm_DBEXPORT : public tRulesWindow {
  Q_OBJECT

 public:
  /// A window over the export rules `rules` (borrowed, open).
  explicit Tfrm_DBEXPORT(definitions::tDefinitionRules& rules, QWidget* parent = nullptr);

  QAction* act_BuildExportRule = nullptr;
};

/// "Nastavení importu od klienta …": the four merge rules of each table of one definition and
/// its import history.
class Tfrm_DBIMPORT : public tRulesWindow {
  Q_OBJECT

 public:
  /// A window over the import rules `rules` (borrowed, open).
  explicit Tfrm_DBIMPORT(definitions::tDefinitionRules& rules, QWidget* parent = nullptr);

  QAction* act_BuildAppendRule = nullptr;
  QAction* act_BuildUpdateRule = nullptr;
  QAction* act_BuildUpdateFieldRule = nullptr;
  QAction* act_BuildDeleteRule = nullptr;
};

}  // namespace tamaril::ui
