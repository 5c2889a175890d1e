#include "ui/login_dialog.h"

namespace tamaril::ui {

bool tDialogLoginPrompt::ShowLoginDialog(core::tLoginObject& login, std::string_view last_error) {
  (void)login;
  (void)last_error;
  return false;
}

}  // namespace tamaril::ui
