#include "ui/expression_builder.h"

#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

#include "text/encoding.h"
#include "ui/help.h"
#include "ui/message_box.h"
#include "ui/qt_child.h"
#include "ui/qt_text.h"

namespace tamaril::ui {
namespace {

/// How often the buttons are brought up to date while the dialog waits for the person.
constexpr int kIdleInterval = 200;
/// The width of the caret marker in pixels.
constexpr int kMarkerWidth = 2;

}  // namespace

tResultTypes BooleanResult() {
  tResultTypes types;
  types.set(static_cast<std::size_t>(expr::TypeCode::Boolean));
  return types;
}

tHelpHandler ProgramHelp(QWidget* parent) {
  return [parent](const std::string&, int context) { RunAction(parent, [context] { ShowHelp(context); }); };
}

tCaretMemo::tCaretMemo(QWidget* parent) : QPlainTextEdit(parent) {
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // The selection keeps its active colours while a button has the focus.
  QPalette colours = palette();
  colours.setColor(QPalette::Inactive, QPalette::Highlight,
                   colours.color(QPalette::Active, QPalette::Highlight));
  colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   colours.color(QPalette::Active, QPalette::HighlightedText));
  setPalette(colours);
}

QRect tCaretMemo::MarkerRect() const {
  if (hasFocus()) return {};
  const QRect caret = cursorRect();
  return {caret.left(), caret.top(), kMarkerWidth, caret.height()};
}

void tCaretMemo::paintEvent(QPaintEvent* event) {
  QPlainTextEdit::paintEvent(event);
  const QRect marker = MarkerRect();
  if (marker.isEmpty()) return;
  QPainter painter(viewport());
  painter.fillRect(marker, Qt::gray);
}

void tCaretMemo::focusInEvent(QFocusEvent* event) {
  QPlainTextEdit::focusInEvent(event);
  viewport()->update();
}

void tCaretMemo::focusOutEvent(QFocusEvent* event) {
  QPlainTextEdit::focusOutEvent(event);
  viewport()->update();
}

TExpressionBuildDlg::TExpressionBuildDlg(QWidget* parent, expr::DefinitionList list,
                                         expr::TExpression* expression, tHelpHandler help,
                                         tResultTypes allowed)
    : QDialog(parent),
      Resultmemo(MakeChild<tCaretMemo>(this)),
      ClassIdBox(MakeChild<QListWidget>(this)),
      IdentifBox(MakeChild<QListWidget>(this)),
      UseItBtn(MakeChild<QPushButton>(QStringLiteral("<-       &Použít"), this)),
      lpbutton(MakeChild<QPushButton>(QStringLiteral("("), this)),
      rpbutton(MakeChild<QPushButton>(QStringLiteral(")"), this)),
      PeriodBtn(MakeChild<QPushButton>(QLocale().decimalPoint(), this)),
      UvozovkyBtn(MakeChild<QPushButton>(QStringLiteral("\""), this)),
      EqualButton(MakeChild<QPushButton>(QStringLiteral("="), this)),
      TestBtn(MakeChild<QPushButton>(QStringLiteral("&Test"), this)),
      helpBtn(MakeChild<QPushButton>(QStringLiteral("Náp&ověda"), this)),
      OKBtn(MakeChild<QPushButton>(QStringLiteral("OK"), this)),
      CancelBtn(MakeChild<QPushButton>(QStringLiteral("Storno"), this)),
      list_(list),
      own_expression_(expression == nullptr ? std::make_unique<expr::TExpression>() : nullptr),
      expression_(expression == nullptr ? own_expression_.get() : expression),
      help_(std::move(help)),
      allowed_(allowed),
      idle_(MakeChild<QTimer>(this)) {
  setWindowTitle(QStringLiteral("Tvůrce výrazů"));
  setModal(true);
  for (int digit = 0; digit < 10; ++digit) {
    Button.at(digit) = MakeChild<QPushButton>(QString::number(digit), this);
  }

  auto* memo_label = MakeChild<QLabel>(QStringLiteral("&Výraz"), this);
  memo_label->setBuddy(Resultmemo);
  auto* groups_label = MakeChild<QLabel>(QStringLiteral("&Skupiny operací"), this);
  groups_label->setBuddy(ClassIdBox);
  auto* entries_label = MakeChild<QLabel>(QStringLiteral("&Funkce"), this);
  entries_label->setBuddy(IdentifBox);

  Resultmemo->setMinimumHeight(90);
  ClassIdBox->setMinimumWidth(260);
  IdentifBox->setMinimumWidth(220);

  // The symbol keypad: brackets, digits, the decimal separator, the quote and the equal sign.
  auto* keypad = MakeChild<QGridLayout>();
  keypad->setSpacing(2);
  const std::array<QPushButton*, 16> keys = {Button[7], Button[8],   Button[9], lpbutton,  Button[4],
                                             Button[5], Button[6],   rpbutton,  Button[1], Button[2],
                                             Button[3], UvozovkyBtn, Button[0], PeriodBtn, EqualButton};
  for (std::size_t index = 0; index < keys.size(); ++index) {
    QPushButton* key = keys.at(index);
    if (key == nullptr) continue;
    key->setFixedSize(32, 28);
    key->setAutoDefault(false);
    keypad->addWidget(key, static_cast<int>(index / 4), static_cast<int>(index % 4));
    connect(key, &QPushButton::clicked, this, [this, key] { InsertText(key->text()); });
  }

  auto* keypad_column = MakeChild<QVBoxLayout>();
  keypad_column->addWidget(UseItBtn);
  keypad_column->addSpacing(8);
  keypad_column->addLayout(keypad);
  keypad_column->addStretch();

  auto* lists = MakeChild<QGridLayout>();
  lists->addWidget(groups_label, 0, 0);
  lists->addWidget(entries_label, 0, 1);
  lists->addWidget(ClassIdBox, 1, 0);
  lists->addWidget(IdentifBox, 1, 1);
  lists->addLayout(keypad_column, 1, 2);

  for (QPushButton* button : {UseItBtn, TestBtn, helpBtn, CancelBtn}) button->setAutoDefault(false);
  OKBtn->setDefault(true);
  auto* buttons = MakeChild<QHBoxLayout>();
  buttons->addWidget(TestBtn);
  buttons->addWidget(helpBtn);
  buttons->addStretch();
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);

  auto* layout = MakeChild<QVBoxLayout>(this);
  layout->addWidget(memo_label);
  layout->addWidget(Resultmemo, 1);
  layout->addLayout(lists, 2);
  layout->addLayout(buttons);

  connect(ClassIdBox, &QListWidget::currentRowChanged, this, [this] { FillEntries(); });
  connect(IdentifBox, &QListWidget::currentRowChanged, this, [this] { UpdateButtons(); });
  connect(IdentifBox, &QListWidget::itemDoubleClicked, this, [this] { UseEntry(); });
  connect(Resultmemo, &QPlainTextEdit::textChanged, this, [this] { UpdateButtons(); });
  connect(UseItBtn, &QPushButton::clicked, this, [this] { UseEntry(); });
  connect(TestBtn, &QPushButton::clicked, this, [this] { TestExpression(); });
  connect(helpBtn, &QPushButton::clicked, this, [this] { ShowEntryHelp(); });
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
  connect(idle_, &QTimer::timeout, this, [this] { UpdateButtons(); });
  idle_->start(kIdleInterval);

  FillGroups();
  FillEntries();
  Resultmemo->setFocus(Qt::OtherFocusReason);
  resize(720, 480);
}

TExpressionBuildDlg::~TExpressionBuildDlg() = default;

bool TExpressionBuildDlg::Execute(QWidget* parent, std::string& text, expr::DefinitionList list,
                                  expr::TExpression* expression, tHelpHandler help, tResultTypes allowed) {
  TExpressionBuildDlg dialog(parent, list, expression, std::move(help), allowed);
  dialog.SetText(text);
  if (dialog.exec() != QDialog::Accepted) return false;
  text = dialog.Text();
  return true;
}

void TExpressionBuildDlg::SetText(const std::string& text) {
  Resultmemo->setPlainText(FromAnsi(text));
  Resultmemo->selectAll();
  UpdateButtons();
}

std::string TExpressionBuildDlg::Text() const {
  QString text = Resultmemo->toPlainText();
  text.remove(QChar('\r'));
  text.remove(QChar('\n'));
  text.remove(QChar::LineSeparator);
  text.remove(QChar::ParagraphSeparator);
  return ToAnsi(text);
}

void TExpressionBuildDlg::UpdateButtons() {
  const bool selected = SelectedEntry() != nullptr;
  helpBtn->setEnabled(selected);
  UseItBtn->setEnabled(selected);
  TestBtn->setEnabled(!Resultmemo->document()->isEmpty() && expression_ != nullptr);
}

void TExpressionBuildDlg::FillGroups() {
  catalog_ = expr::BuilderCatalog(list_);
  ClassIdBox->clear();
  for (std::size_t index = 0; index < catalog_.size(); ++index) {
    auto* item = MakeChild<QListWidgetItem>(QStringLiteral(" ") + FromAnsi(catalog_[index].title));
    item->setData(Qt::UserRole, static_cast<qulonglong>(index));
    ClassIdBox->addItem(item);
  }
}

void TExpressionBuildDlg::FillEntries() {
  IdentifBox->clear();
  category_ = nullptr;
  const QListWidgetItem* group = ClassIdBox->currentItem();
  if (group != nullptr) {
    category_ = &catalog_.at(group->data(Qt::UserRole).toULongLong());
    for (std::size_t index = 0; index < category_->entries.size(); ++index) {
      auto* item = MakeChild<QListWidgetItem>(QStringLiteral(" ") + FromAnsi(category_->entries[index].text) +
                                              QStringLiteral(" "));
      item->setData(Qt::UserRole, static_cast<qulonglong>(index));
      IdentifBox->addItem(item);
    }
  }
  IdentifBox->setCurrentRow(-1);
  UpdateButtons();
}

const expr::BuilderEntry* TExpressionBuildDlg::SelectedEntry() const {
  const QListWidgetItem* item = IdentifBox->currentItem();
  if (category_ == nullptr || item == nullptr || !item->isSelected()) return nullptr;
  return &category_->entries.at(item->data(Qt::UserRole).toULongLong());
}

void TExpressionBuildDlg::InsertText(const QString& text) {
  QTextCursor cursor = Resultmemo->textCursor();
  cursor.clearSelection();
  cursor.insertText(text);
  Resultmemo->setTextCursor(cursor);
  Resultmemo->setFocus(Qt::OtherFocusReason);
  UpdateButtons();
}

void TExpressionBuildDlg::UseEntry() {
  const expr::BuilderEntry* entry = SelectedEntry();
  if (entry == nullptr) return;
  InsertText(FromAnsi(entry->text).trimmed() + QStringLiteral(" "));
}

void TExpressionBuildDlg::TestExpression() {
  if (expression_ == nullptr) return;
  RunAction(this, [this] {
    expression_->Compile(Text(), list_);
    if (!allowed_.test(static_cast<std::size_t>(expression_->ResultType()))) {
      throw expr::ExpressionError(text::Utf8ToAnsi("Nesprávný typ výsledku výrazu"));
    }
    ShowMessage(this, QStringLiteral("Výraz je vpořádku"));
  });
}

void TExpressionBuildDlg::ShowEntryHelp() {
  const expr::BuilderEntry* entry = SelectedEntry();
  if (entry == nullptr || !help_) return;
  const expr::OperationDef& def = entry->Bound();
  help_(std::string(def.help_file), static_cast<int>(def.help_context));
}

}  // namespace tamaril::ui
