#pragma once

#include <QDialog>

#include <string_view>

#include "core/login.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace tamaril::ui {

/// The dialog "SQL server login" over one login: opens with its user name and password, and
/// OK copies both edits back into it; Storno leaves it alone.
class TfrmLogin : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmLogin(core::tLoginObject& login, QWidget* parent = nullptr);
  /// Shows why the last attempt failed above the edits (hidden when empty).
  void SetLastError(const QString& text);

  QLineEdit* edUsername;
  QLineEdit* edPassword;
  QLabel* lblError;
  QPushButton* btnOK;
  QPushButton* btnCancel;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  core::tLoginObject& login_;
};

/// Asks for SQL Server logins in the dialog "SQL server login" over `parent`.
class tDialogLoginPrompt : public core::LoginPrompt {
 public:
  explicit tDialogLoginPrompt(QWidget* parent = nullptr) : parent_(parent) {}
  /// The window the dialog is shown over (may be null).
  void SetParent(QWidget* parent) noexcept { parent_ = parent; }
  bool ShowLoginDialog(core::tLoginObject& login, std::string_view last_error) override;

 private:
  QWidget* parent_;
};

}  // namespace tamaril::ui
