#include "core/login.h"

#include <algorithm>
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

std::string MaskConnectionPassword(std::string_view connection_string) {
  std::string masked;
  std::size_t at = 0;
  while (at < connection_string.size()) {
    const std::size_t equals = connection_string.find_first_of("=;", at);
    if (equals == std::string_view::npos || connection_string[equals] == ';') {
      // An item without a value.
      const std::size_t end = equals == std::string_view::npos ? connection_string.size() : equals + 1;
      masked += connection_string.substr(at, end - at);
      at = end;
      continue;
    }
    const std::string_view name = text::TrimBlanks(connection_string.substr(at, equals - at));
    masked += connection_string.substr(at, equals + 1 - at);
    // The value runs to the next ";", or past the closing brace or quote of a value that opens with one.
    std::size_t value_start = equals + 1;
    while (value_start < connection_string.size() && connection_string[value_start] == ' ') ++value_start;
    std::size_t end = value_start;
    if (end < connection_string.size() &&
        std::string_view("{\"'").find(connection_string[end]) != std::string_view::npos) {
      const char close = connection_string[end] == '{' ? '}' : connection_string[end];
      ++end;
      while (end < connection_string.size()) {
        if (connection_string[end] == close) {
          if (end + 1 < connection_string.size() && connection_string[end + 1] == close) {
            end += 2;  // a doubled closing character stands for itself
            continue;
          }
          ++end;
          break;
        }
        ++end;
      }
    }
    end = std::min(connection_string.find(';', end), connection_string.size());
    const bool secret =
        text::EqualsIgnoreCaseAscii(name, "Password") || text::EqualsIgnoreCaseAscii(name, "Pwd");
    if (secret && end > value_start) {
      masked += "********";
    } else {
      masked += connection_string.substr(equals + 1, end - equals - 1);
    }
    if (end < connection_string.size()) masked += ';';
    at = end + 1;
  }
  return masked;
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
