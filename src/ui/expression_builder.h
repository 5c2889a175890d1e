#pragma once

#include <QDialog>
#include <QPlainTextEdit>

#include <array>
#include <bitset>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "expr/builder_catalog.h"
#include "expr/expression.h"
#include "expr/operation.h"

class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTimer;
class QWidget;

namespace tamaril::ui {

/// Shows help topic `context` of `help_file`.
using tHelpHandler = std::function<void(const std::string& help_file, int context)>;
/// The result types a rule may have, indexed by expr::TypeCode.
using tResultTypes = std::bitset<256>;

/// {boolean}
tResultTypes BooleanResult();

/// The help handler of the rule windows: opens the program's help page of `context` (ShowHelp), the
/// file name is not needed as the program has one help; errors shown with ShowException.
tHelpHandler ProgramHelp(QWidget* parent);

/// The rule text editor of the builder: keeps its selection visible and, while another control has
/// the focus, marks the caret with a grey bar so the insertion point stays in sight.
class tCaretMemo : public QPlainTextEdit {
  Q_OBJECT

 public:
  /// An empty memo with a vertical scroll bar.
  explicit tCaretMemo(QWidget* parent = nullptr);
  /// The rectangle of the caret marker in viewport coordinates; empty while the memo has the focus.
  QRect MarkerRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
};

/// The dialog "Tvůrce výrazů": composes a rule from the groups and entries of a definition list,
/// digit and symbol buttons, tests it for syntax and result type and shows the help of an entry.
class TExpressionBuildDlg : public QDialog {
  Q_OBJECT

 public:
  /// A dialog over `list`; `expression` (not owned) compiles the tests, null: the dialog's own one;
  /// `help` may be empty; `allowed` are the result types the test accepts.
  TExpressionBuildDlg(QWidget* parent, expr::DefinitionList list, expr::TExpression* expression,
                      tHelpHandler help, tResultTypes allowed);
  ~TExpressionBuildDlg() override;
  TExpressionBuildDlg(const TExpressionBuildDlg&) = delete;
  TExpressionBuildDlg& operator=(const TExpressionBuildDlg&) = delete;

  /// Shows the dialog modally with `text` (Windows-1250); on OK replaces `text` with the memo's lines joined
  /// without separators and returns true; otherwise leaves it and returns false.
  static bool Execute(QWidget* parent, std::string& text, expr::DefinitionList list,
                      expr::TExpression* expression, tHelpHandler help, tResultTypes allowed);

  /// Puts `text` (Windows-1250) into the memo and selects all of it.
  void SetText(const std::string& text);
  /// The memo's lines joined without separators (Windows-1250).
  std::string Text() const;
  /// Enables the buttons that depend on the selection and the memo (run on idle and after each action).
  void UpdateButtons();

  tCaretMemo* Resultmemo;
  QListWidget* ClassIdBox;  ///< " " + group title, in the catalogue's order
  QListWidget* IdentifBox;  ///< " " + entry text + " " of the selected group
  QPushButton* UseItBtn;
  QPushButton* lpbutton;
  QPushButton* rpbutton;
  /// Button0 .. Button9: Button[d] inserts the digit d.
  std::array<QPushButton*, 10> Button{};
  QPushButton* PeriodBtn;
  QPushButton* UvozovkyBtn;
  QPushButton* EqualButton;
  QPushButton* TestBtn;
  QPushButton* helpBtn;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;

 private:
  void FillGroups();
  void FillEntries();
  /// The entry of the current item of IdentifBox, or null.
  const expr::BuilderEntry* SelectedEntry() const;
  void InsertText(const QString& text);
  void UseEntry();
  void TestExpression();
  void ShowEntryHelp();

  expr::DefinitionList list_;
  std::unique_ptr<expr::TExpression> own_expression_;
  expr::TExpression* expression_;
  tHelpHandler help_;
  tResultTypes allowed_;
  std::vector<expr::BuilderCategory> catalog_;
  const expr::BuilderCategory* category_ = nullptr;
  QTimer* idle_;
};

}  // namespace tamaril::ui
