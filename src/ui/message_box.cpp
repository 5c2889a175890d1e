#include "ui/message_box.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

#include "text/error.h"
#include "ui/qt_text.h"

namespace tamaril::ui {
namespace {

QMessageBox::Icon IconOf(tMsgKind kind) {
  switch (kind) {
    case tMsgKind::Information: return QMessageBox::Information;
    case tMsgKind::Warning: return QMessageBox::Warning;
    case tMsgKind::Error: return QMessageBox::Critical;
    case tMsgKind::Confirmation: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

QString CaptionOf(tMsgKind kind) {
  switch (kind) {
    case tMsgKind::Information: return QStringLiteral("Informace");
    case tMsgKind::Warning: return QStringLiteral("Varování");
    case tMsgKind::Error: return QStringLiteral("Chyba");
    case tMsgKind::Confirmation: return QStringLiteral("Potvrzení");
  }
  return {};
}

QMessageBox::ButtonRole RoleOf(tMsgButton button) {
  switch (button) {
    case tMsgButton::Ok:
    case tMsgButton::Yes:
    case tMsgButton::YesToAll: return QMessageBox::YesRole;
    case tMsgButton::No:
    case tMsgButton::NoToAll: return QMessageBox::NoRole;
    case tMsgButton::Cancel:
    case tMsgButton::Abort: return QMessageBox::RejectRole;
  }
  return QMessageBox::InvalidRole;
}

// The boxes of Qt, with Czech button captions whatever Qt's own translation.
class tQtMessageBoxes : public tMessageBoxService {
 public:
  tMsgButton Show(QWidget* parent, const tMessage& message) override {
    QMessageBox box(IconOf(message.kind),
                    message.caption.isEmpty() ? CaptionOf(message.kind) : message.caption, message.text,
                    QMessageBox::NoButton, parent);
    std::vector<std::pair<QAbstractButton*, tMsgButton>> buttons;
    for (const tMsgButton button : message.buttons) {
      QPushButton* shown = box.addButton(ButtonCaption(button), RoleOf(button));
      buttons.emplace_back(shown, button);
      if (button == message.default_button) box.setDefaultButton(shown);
      if (button == EscapeButton(message.buttons)) box.setEscapeButton(shown);
    }
    if (!message.detail.isEmpty()) box.setDetailedText(message.detail);
    // Messages carry values from databases and archives: shown as they stand, never read as markup.
    box.setTextFormat(Qt::PlainText);
    QCheckBox* check = nullptr;
    if (!message.check_box.isEmpty() && message.check_state != nullptr) {
      check = new QCheckBox(message.check_box);
      check->setChecked(*message.check_state);
      box.setCheckBox(check);  // the box owns it
    }
    box.exec();
    if (check != nullptr) *message.check_state = check->isChecked();
    const auto chosen = std::find_if(buttons.begin(), buttons.end(),
                                     [&](const auto& entry) { return entry.first == box.clickedButton(); });
    return chosen != buttons.end() ? chosen->second : EscapeButton(message.buttons);
  }
};

tQtMessageBoxes qt_boxes;
tMessageBoxService* current = &qt_boxes;

}  // namespace

tMsgButton EscapeButton(const std::vector<tMsgButton>& buttons) {
  for (const tMsgButton candidate : {tMsgButton::Cancel, tMsgButton::Abort, tMsgButton::No}) {
    if (std::find(buttons.begin(), buttons.end(), candidate) != buttons.end()) return candidate;
  }
  return buttons.size() == 1 ? buttons.front() : tMsgButton::Ok;
}

QString ButtonCaption(tMsgButton button) {
  switch (button) {
    case tMsgButton::Ok: return QStringLiteral("OK");
    case tMsgButton::Yes: return QStringLiteral("&Ano");
    case tMsgButton::No: return QStringLiteral("&Ne");
    case tMsgButton::Cancel: return QStringLiteral("Storno");
    case tMsgButton::Abort: return QStringLiteral("&Přerušit");
    case tMsgButton::YesToAll: return QStringLiteral("Ano &všem");
    case tMsgButton::NoToAll: return QStringLiteral("N&e všem");
  }
  return {};
}

tMessageBoxService& MessageBoxes() { return *current; }

tMessageBoxService* SetMessageBoxes(tMessageBoxService* service) {
  tMessageBoxService* before = current;
  current = service != nullptr ? service : &qt_boxes;
  return before;
}

tMsgButton MessageDlg(QWidget* parent, tMsgKind kind, const QString& text,
                      std::initializer_list<tMsgButton> buttons) {
  return MessageDlg(parent, kind, text, buttons, buttons.size() > 0 ? *buttons.begin() : tMsgButton::Ok);
}

tMsgButton MessageDlg(QWidget* parent, tMsgKind kind, const QString& text,
                      std::initializer_list<tMsgButton> buttons, tMsgButton default_button) {
  tMessage message;
  message.kind = kind;
  message.text = text;
  message.buttons.assign(buttons);
  if (message.buttons.empty()) message.buttons.push_back(tMsgButton::Ok);
  message.default_button = default_button;
  return MessageBoxes().Show(parent, message);
}

void ShowMessage(QWidget* parent, const QString& text) {
  MessageDlg(parent, tMsgKind::Information, text, {tMsgButton::Ok});
}

void ShowException(QWidget* parent, const std::exception_ptr& error) {
  tMessage message;
  message.kind = tMsgKind::Error;
  message.caption = QStringLiteral("Tamaril");
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    return;
  } catch (const Error& e) {
    message.text = FromAnsi(e.what());
  } catch (const std::exception& e) {
    message.text = QString::fromUtf8(e.what());
  } catch (...) {
    message.text = QStringLiteral("Neznámá chyba");
  }
  try {
    MessageBoxes().Show(parent, message);
  } catch (...) {  // a box that cannot be shown has nobody to tell
  }
}

}  // namespace tamaril::ui
