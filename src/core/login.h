#pragma once

#include <string>
#include <string_view>

#include "dbaccess/connection.h"

namespace tamaril::core {

/// The login being tried: user name and password.
struct tLoginObject {
  std::string UserName;
  std::string Password;
};

/// Asks the person for a SQL Server login. The desktop program shows its login dialog, the
/// command-line program a prompt on the terminal.
class LoginPrompt {
 public:
  virtual ~LoginPrompt() = default;
  /// Shows the login (user name filled in; the cursor in the password when a user name is
  /// there) and the reason the last attempt failed, if any. Confirming copies the entries
  /// into `login` and returns true; cancelling returns false and leaves `login` alone.
  /// May throw when no prompt can be shown at all.
  virtual bool ShowLoginDialog(tLoginObject& login, std::string_view last_error) = 0;
};

/// Reads the login items of an OLE DB connection string. `user_name` gets "User ID" and
/// `password` "Password" (empty when absent); the result tells whether the string carries its
/// own credentials ("Persist Security Info" starting with T or A, in any case).
bool ParseConnectionLogin(std::string_view connection_string, std::string& user_name, std::string& password);

/// The connection string for showing: the value of every "Password" and "Pwd" item (name in
/// any case, blanks around it allowed; a value in braces or quotes to its closing one) becomes
/// "********", whatever its length; everything else stays as it is.
std::string MaskConnectionPassword(std::string_view connection_string);

/// Connects `connection` with `connection_string`, asking `prompt` for a login as often as
/// connecting fails, then selects `database_name`. On return `user_name` and `password` hold
/// the login that worked. `database_missing` is set when the server was reached but has no
/// such database (the connection is then closed). `last_error` (optional) receives the last
/// failure's text. Returns whether the connection is open. Connection failures are not thrown;
/// only a prompt that cannot be shown at all throws.
bool ConnectWithLogin(dbaccess::Connection* connection, std::string_view connection_string,
                      std::string_view database_name, bool& database_missing, std::string& user_name,
                      std::string& password, LoginPrompt& prompt, std::string* last_error = nullptr);

}  // namespace tamaril::core
