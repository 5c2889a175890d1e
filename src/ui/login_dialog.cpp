#include "ui/login_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/qt_child.h"
#include "ui/qt_text.h"

namespace tamaril::ui {

TfrmLogin::TfrmLogin(core::tLoginObject& login, QWidget* parent)
    : QDialog(parent),
      edUsername(MakeChild<QLineEdit>(this)),
      edPassword(MakeChild<QLineEdit>(this)),
      lblError(MakeChild<QLabel>(this)),
      btnOK(MakeChild<QPushButton>(QStringLiteral("OK"), this)),
      btnCancel(MakeChild<QPushButton>(QStringLiteral("Storno"), this)),
      login_(login) {
  setWindowTitle(QStringLiteral("SQL server login"));
  setModal(true);
  edPassword->setEchoMode(QLineEdit::Password);
  edUsername->setText(FromAnsi(login.UserName));
  edPassword->setText(FromAnsi(login.Password));
  edUsername->setMinimumWidth(220);
  lblError->setWordWrap(true);
  lblError->setVisible(false);

  auto* form = MakeChild<QFormLayout>();
  auto* user_label = MakeChild<QLabel>(QStringLiteral("&Uživatelské jméno"), this);
  user_label->setBuddy(edUsername);
  auto* password_label = MakeChild<QLabel>(QStringLiteral("&Heslo"), this);
  password_label->setBuddy(edPassword);
  form->addRow(user_label, edUsername);
  form->addRow(password_label, edPassword);

  btnOK->setDefault(true);
  btnOK->setAutoDefault(true);
  auto* buttons = MakeChild<QDialogButtonBox>(this);
  buttons->addButton(btnOK, QDialogButtonBox::AcceptRole);
  buttons->addButton(btnCancel, QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    login_.UserName = ToAnsi(edUsername->text());
    login_.Password = ToAnsi(edPassword->text());
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = MakeChild<QVBoxLayout>(this);
  layout->addWidget(lblError);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

void TfrmLogin::SetLastError(const QString& text) {
  lblError->setText(text);
  lblError->setVisible(!text.isEmpty());
}

void TfrmLogin::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  QLineEdit* focus = edUsername->text().isEmpty() ? edUsername : edPassword;
  focus->setFocus(Qt::OtherFocusReason);
  focus->selectAll();
}

bool tDialogLoginPrompt::ShowLoginDialog(core::tLoginObject& login, std::string_view last_error) {
  TfrmLogin dialog(login, parent_);
  dialog.SetLastError(FromAnsi(last_error));
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace tamaril::ui
