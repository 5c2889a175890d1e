#pragma once

#include <string_view>

#include "core/login.h"

class QWidget;

namespace tamaril::ui {

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
