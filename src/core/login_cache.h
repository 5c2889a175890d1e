#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/login.h"
#include "dbaccess/connection.h"

namespace tamaril::core {

/// A login that worked for a connection string during this run of the program.
struct tLoginInfo {
  std::string ConnectionString;  ///< the exact text: the lookup key
  std::string UserName;
  std::string Password;
};

/// Scrambles (`encode`) or unscrambles a connection string as the definition lists keep it:
/// every byte shifted by one (up when encoding, down when decoding, modulo 256), then the bytes
/// swapped in pairs (1 with 2, 3 with 4, …; an odd last byte stays).
std::string TransformConnectionString(std::string_view text, bool encode);

/// The logins that worked since the program started, kept in memory only and never written.
/// Connecting twice with the same connection string asks for a login at most once.
class LoginCache {
 public:
  explicit LoginCache(LoginPrompt& prompt) : prompt_(prompt) {}

  /// Connects `connection` with the connection string, asking for a login where needed and
  /// reusing the one that worked before, then selects `database_name`. Throws AppError for an
  /// empty database name and for a string without a usable provider (before any login is
  /// asked), for a missing SQLite folder, a folder in place of the database file, a file that is
  /// not a database and a locked database (each with its path), "ADO připojení nelze navázat"
  /// when no connection could be made (also when the person cancelled the login; the driver's
  /// reason follows on a second line when there is one) and "Zadaná databáze na serveru
  /// neexistuje" when the server has no such database.
  void ConnectDatabase(dbaccess::Connection& connection, std::string_view connection_string,
                       std::string_view database_name);
  /// The remembered login of the connection's current connection string; false when none.
  bool GetConnectionLogin(const dbaccess::Connection& connection, std::string& user_name,
                          std::string& password) const;
  /// The first entry for exactly this connection string, or null.
  const tLoginInfo* FindLoginInfo(std::string_view connection_string) const;

 private:
  LoginPrompt& prompt_;
  std::vector<tLoginInfo> LoginInfoList;
};

}  // namespace tamaril::core
