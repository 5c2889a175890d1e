#include "ui/db_controls.h"

#include <QHBoxLayout>
#include <QPalette>
#include <QToolButton>

#include <exception>
#include <utility>

#include "dataset/field.h"
#include "dataset/qvm_dataset.h"
#include "ui/app_look.h"
#include "ui/message_box.h"
#include "ui/qt_child.h"
#include "ui/qt_text.h"

namespace tamaril::ui {

namespace {

std::size_t Slot(tNavButton which) { return static_cast<std::size_t>(which); }

struct tNavFace {
  const char* icon;   ///< the name in the icon theme
  const char* glyph;  ///< drawn only when no icon is found at all
  const char* hint;
};

// Icons, glyphs and Czech hints of the buttons, in enum order.
constexpr std::array<tNavFace, 10> kFaces{{
    {"go-first", "|◀", "První záznam"},
    {"go-previous", "◀", "Předchozí záznam"},
    {"go-next", "▶", "Další záznam"},
    {"go-last", "▶|", "Poslední záznam"},
    {"list-add", "+", "Vložit záznam"},
    {"list-remove", "−", "Smazat záznam"},
    {"document-edit", "✎", "Opravit záznam"},
    {"object-select", "✔", "Uložit změny"},
    {"edit-undo", "✘", "Zrušit změny"},
    {"view-refresh", "⟳", "Obnovit data"},
}};

// The memo edits lines separated by LF; the fields keep CR LF (a lone CR is a break as well).
QString ToEditorLines(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

}  // namespace

class tDBNavigator::Link : public dataset::TDataLink {
 public:
  explicit Link(tDBNavigator& navigator) : navigator_(navigator) {}

 protected:
  void ActiveChanged() override { navigator_.UpdateButtons(); }
  void RecordChanged(dataset::TField* field) override {
    if (field == nullptr) navigator_.UpdateButtons();
  }

 private:
  tDBNavigator& navigator_;
};

tDBNavigator::tDBNavigator(QWidget* parent) : QWidget(parent), link_(std::make_unique<Link>(*this)) {
  auto* layout = MakeChild<QHBoxLayout>(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(1);
  for (std::size_t slot = 0; slot < kButtonCount; ++slot) {
    auto* button = MakeChild<QToolButton>(this);
    const QIcon icon = ThemeIcon(QString::fromLatin1(kFaces.at(slot).icon));
    if (icon.isNull()) {
      button->setText(QString::fromUtf8(kFaces.at(slot).glyph));
    } else {
      button->setIcon(icon);
      button->setText(QString::fromUtf8(kFaces.at(slot).hint));
      button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    }
    button->setToolTip(QString::fromUtf8(kFaces.at(slot).hint));
    // A click takes the focus, so that a cell editor or memo hands over its text before the
    // button's action runs.
    button->setFocusPolicy(Qt::StrongFocus);
    button->setAutoRaise(false);
    const auto which = static_cast<tNavButton>(slot);
    connect(button, &QToolButton::clicked, this, [this, which] { Click(which); });
    layout->addWidget(button);
    buttons_.at(slot) = button;
    visible_.at(slot) = true;
  }
  layout->addStretch(1);
  UpdateButtons();
}

tDBNavigator::~tDBNavigator() { link_->SetDataSource(nullptr); }

void tDBNavigator::SetDataSource(dataset::TDataSource* source) {
  link_->SetDataSource(source);
  UpdateButtons();
}

dataset::TDataSource* tDBNavigator::DataSource() const noexcept { return link_->DataSource(); }

void tDBNavigator::SetVisibleButtons(const std::vector<tNavButton>& buttons) {
  visible_.fill(false);
  for (const tNavButton which : buttons) visible_.at(Slot(which)) = true;
  for (std::size_t slot = 0; slot < kButtonCount; ++slot) buttons_.at(slot)->setVisible(visible_.at(slot));
  UpdateButtons();
}

QToolButton* tDBNavigator::Button(tNavButton which) const {
  return visible_.at(Slot(which)) ? buttons_.at(Slot(which)) : nullptr;
}

void tDBNavigator::SetAction(tNavButton which, std::function<void()> action) {
  actions_.at(Slot(which)) = std::move(action);
}

void tDBNavigator::Click(tNavButton which) {
  RunAction(this, [this, which] {
    const std::function<void()>& action = actions_.at(Slot(which));
    if (action) {
      action();
    } else {
      RunDefault(which);
    }
  });
  UpdateButtons();
}

void tDBNavigator::RunDefault(tNavButton which) {
  dataset::TDataSet* data = link_->DataSet();
  if (data == nullptr || !link_->Active()) return;
  switch (which) {
    case tNavButton::First: data->First(); break;
    case tNavButton::Prior: data->Prior(); break;
    case tNavButton::Next: data->Next(); break;
    case tNavButton::Last: data->Last(); break;
    case tNavButton::Insert: data->Insert(); break;
    case tNavButton::Delete:
      if (MessageDlg(this, tMsgKind::Confirmation, QStringLiteral("Smazat záznam?"),
                     {tMsgButton::Yes, tMsgButton::No}) == tMsgButton::Yes) {
        data->Delete();
      }
      break;
    case tNavButton::Edit: data->Edit(); break;
    case tNavButton::Post: data->Post(); break;
    case tNavButton::Cancel: data->Cancel(); break;
    case tNavButton::Refresh:
      if (auto* rows = dynamic_cast<dataset::TQVMDataset*>(data)) {
        rows->Refresh();
      } else {
        data->CheckBrowseMode();
      }
      break;
  }
}

void tDBNavigator::UpdateButtons() {
  std::array<bool, kButtonCount> enabled{};
  dataset::TDataSet* data = link_->DataSet();
  if (data != nullptr && link_->Active()) {
    const dataset::DataSetState state = data->State();
    const bool browse = state == dataset::DataSetState::Browse;
    const bool editing = state == dataset::DataSetState::Edit || state == dataset::DataSetState::Insert;
    const bool can_modify = data->CanModify();
    const bool empty = data->IsEmpty();
    // Bof and Eof only say so after a move ran into the end; a sequenced dataset knows its
    // position outright. A filter may hide rows its numbering still counts.
    const bool numbered = browse && data->IsSequenced() && !data->Filtered() && data->RecNo() >= 0;
    const bool first_row = data->Bof() || (numbered && data->RecNo() == 0);
    const bool last_row = data->Eof() || (numbered && data->RecNo() == data->RecordCount() - 1);
    enabled.at(Slot(tNavButton::First)) = !first_row;
    enabled.at(Slot(tNavButton::Prior)) = !first_row;
    enabled.at(Slot(tNavButton::Next)) = !last_row;
    enabled.at(Slot(tNavButton::Last)) = !last_row;
    enabled.at(Slot(tNavButton::Insert)) = can_modify;
    enabled.at(Slot(tNavButton::Delete)) = can_modify && !empty;
    enabled.at(Slot(tNavButton::Edit)) = browse && can_modify && !empty;
    enabled.at(Slot(tNavButton::Post)) = editing;
    enabled.at(Slot(tNavButton::Cancel)) = editing;
    enabled.at(Slot(tNavButton::Refresh)) = browse;
  }
  for (std::size_t slot = 0; slot < kButtonCount; ++slot) buttons_.at(slot)->setEnabled(enabled.at(slot));
}

class tDBMemo::Link : public dataset::TDataLink {
 public:
  explicit Link(tDBMemo& memo) : memo_(memo) {}

 protected:
  void ActiveChanged() override { memo_.UpdateFromField(); }
  void RecordChanged(dataset::TField* field) override {
    // What the memo writes itself is already shown.
    if (memo_.writing_) return;
    if (field == nullptr || field == memo_.Field()) memo_.UpdateFromField();
  }

 private:
  tDBMemo& memo_;
};

tDBMemo::tDBMemo(QWidget* parent)
    : QPlainTextEdit(parent),
      link_(std::make_unique<Link>(*this)),
      normal_base_(palette().color(QPalette::Base)) {
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  connect(this, &QPlainTextEdit::textChanged, this, &tDBMemo::TextEdited);
  UpdateFromField();
}

tDBMemo::~tDBMemo() {
  writing_ = true;  // nothing is shown any more while the link lets go
  link_->SetDataSource(nullptr);
}

void tDBMemo::SetDataField(dataset::TDataSource* source, const std::string& field_name) {
  field_name_ = field_name;
  link_->SetDataSource(source);
  UpdateFromField();
}

dataset::TField* tDBMemo::Field() const {
  dataset::TDataSet* data = link_->DataSet();
  if (data == nullptr || !link_->Active() || field_name_.empty()) return nullptr;
  return data->FindField(field_name_);
}

void tDBMemo::UpdateFromField() {
  dataset::TField* field = Field();
  QString text;
  if (field != nullptr) {
    try {
      text = FromAnsi(field->Text(false));
    } catch (const std::exception&) {  // a value that cannot be read shows as empty
    }
  }
  ShowText(ToEditorLines(std::move(text)));
  const bool enabled = field != nullptr && !field->ReadOnly && field->DataSet().CanModify();
  setEnabled(enabled);
  PaintEnabled(enabled);
}

void tDBMemo::ShowText(const QString& text) {
  // Text equal to what is shown keeps the cursor where it is.
  if (toPlainText() == text) return;
  showing_ = true;
  setPlainText(text);
  showing_ = false;
}

void tDBMemo::PaintEnabled(bool enabled) {
  QPalette colours = palette();
  colours.setColor(QPalette::Base, enabled ? normal_base_ : colours.color(QPalette::Window));
  setPalette(colours);
}

void tDBMemo::TextEdited() {
  if (showing_ || writing_) return;
  dataset::TField* field = Field();
  if (field == nullptr) return;
  dataset::TDataSet& data = field->DataSet();
  writing_ = true;
  try {
    if (data.State() == dataset::DataSetState::Browse) data.Edit();
    QString text = toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    field->SetAsString(ToAnsi(text));
  } catch (...) {
    writing_ = false;
    UpdateFromField();
    ShowException(this, std::current_exception());
    return;
  }
  writing_ = false;
}

}  // namespace tamaril::ui
