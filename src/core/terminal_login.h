#pragma once

#include "core/login.h"

namespace tamaril::core {

/// Asks for a login on the controlling terminal (/dev/tty), the password without echo.
/// Without a terminal it throws std::runtime_error saying how to give the login instead.
class TerminalLoginPrompt : public LoginPrompt {
 public:
  bool ShowLoginDialog(tLoginObject& login, std::string_view last_error) override;
};

}  // namespace tamaril::core
