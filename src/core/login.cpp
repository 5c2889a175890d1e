#include "core/login.h"

#include <exception>

#include "text/ascii.h"

namespace tamaril::core {
namespace {

// The value of the first "name=value" item of that name; items are split at every ";" and
// nothing is trimmed or unquoted, as the login items have always been read.
std::string LoginItem(std::string_view text, std::string_view name) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view piece = text.substr(start, end - start);
    start = end + 1;
    if (piece.empty()) continue;
    const std::size_t equals = piece.find('=');
    if (text::EqualsIgnoreCaseAscii(piece.substr(0, equals), name)) {
      return equals == std::string_view::npos ? std::string() : std::string(piece.substr(equals + 1));
    }
  }
  return {};
}

// The embedded database has no logins: it is reached like a string with its own credentials.
bool NeedsNoLogin(std::string_view connection_string) {
  try {
    return dbaccess::ResolveConnectionString(connection_string).kind == dbaccess::BackendKind::SQLite;
  } catch (const dbaccess::DatabaseError&) {
    return false;  // connecting will fail and say why
  }
}

bool TryOpen(dbaccess::Connection& connection, const tLoginObject& login, std::string& error) {
  try {
    connection.Open(login.UserName, login.Password);
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}

}  // namespace

bool ParseConnectionLogin(std::string_view connection_string, std::string& user_name, std::string& password) {
  const std::string persist = LoginItem(connection_string, "Persist Security Info");
  user_name = LoginItem(connection_string, "User ID");
  password = LoginItem(connection_string, "Password");
  if (persist.empty()) return false;
  const char first = text::UpperAscii(persist.front());
  return first == 'T' || first == 'A';
}

bool ConnectWithLogin(dbaccess::Connection* connection, std::string_view connection_string,
                      std::string_view database_name, bool& database_missing, std::string& user_name,
                      std::string& password, LoginPrompt& prompt, std::string* last_error) {
  if (connection == nullptr) return false;
  database_missing = false;
  std::string error;
  try {
    std::string string_user;
    std::string string_password;
    const bool own_credentials = ParseConnectionLogin(connection_string, string_user, string_password);
    if (user_name.empty()) user_name = string_user;
    connection->SetConnectionString(std::string(connection_string));

    tLoginObject login;
    if (own_credentials || NeedsNoLogin(connection_string)) {
      login = {string_user, string_password};
      TryOpen(*connection, {}, error);
    } else {
      login = {user_name, password};
      for (;;) {
        if (!login.UserName.empty() && TryOpen(*connection, login, error)) break;
        if (!prompt.ShowLoginDialog(login, error)) break;
      }
    }

    if (connection->IsOpen()) {
      user_name = login.UserName;
      password = login.Password;
      try {
        connection->SetDefaultDatabase(database_name);
      } catch (const std::exception& e) {
        error = e.what();
        connection->Close();
        connection->SetDefaultDatabase("");
        database_missing = true;
      }
    }
  } catch (...) {
    connection->Close();
    if (last_error != nullptr) *last_error = error;
    throw;
  }
  if (last_error != nullptr) *last_error = error;
  return connection->IsOpen();
}

}  // namespace tamaril::core
