#include "core/login_cache.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "core/errors.h"
#include "dbaccess/connection_string.h"
#include "dbaccess/errors.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::core {

std::string TransformConnectionString(std::string_view text, bool encode) {
  std::string result(text);
  const int shift = encode ? 1 : -1;
  for (char& c : result) c = static_cast<char>(static_cast<unsigned char>(c) + shift);
  for (std::size_t i = 0; i + 1 < result.size(); i += 2) std::swap(result[i], result[i + 1]);
  return result;
}

namespace {

namespace fs = std::filesystem;

bool Contains(std::string_view text, std::string_view part) {
  return text::UpperCaseAscii(std::string(text)).find(text::UpperCaseAscii(std::string(part))) !=
         std::string::npos;
}

// The file a SQLite database name stands for in `folder`, with or without its ".db" suffix.
std::string SQLiteFile(const std::string& folder, std::string_view database_name) {
  std::string name(database_name);
  if (!(name.size() > 3 && text::EqualsIgnoreCaseAscii(name.substr(name.size() - 3), ".db"))) name += ".db";
  return (fs::path(text::AnsiToUtf8(folder)) / text::AnsiToUtf8(name)).string();
}

// What is wrong with a SQLite folder or database file before connecting; throws AppError.
void CheckSQLiteTarget(const std::string& folder, std::string_view database_name) {
  std::error_code error;
  if (!fs::is_directory(text::AnsiToUtf8(folder), error))
    throw AppError(text::Utf8ToAnsi("Složka databází neexistuje: ") + folder);
  const std::string file = SQLiteFile(folder, database_name);
  if (fs::is_directory(file, error))
    throw AppError(text::Utf8ToAnsi("Na místě souboru databáze je složka: ") + text::Utf8ToAnsi(file));
}

// The message of a SQLite database that could not be opened, by the driver's reason.
std::string SQLiteOpenFailure(const std::string& folder, std::string_view database_name,
                              const std::string& reason) {
  const std::string utf8_file = SQLiteFile(folder, database_name);
  const std::string file = text::Utf8ToAnsi(utf8_file);
  std::error_code error;
  if (!fs::exists(utf8_file, error)) return text::Utf8ToAnsi("Databáze SQLite neexistuje: ") + file;
  if (Contains(reason, "not a database")) return text::Utf8ToAnsi("Soubor není databáze SQLite: ") + file;
  if (Contains(reason, "locked") || Contains(reason, "busy"))
    return text::Utf8ToAnsi("Databázi používá jiný program (je uzamčena): ") + file;
  return text::Utf8ToAnsi("Databázi SQLite nelze otevřít: ") + file + (reason.empty() ? "" : "\n" + reason);
}

}  // namespace

void LoginCache::ConnectDatabase(dbaccess::Connection& connection, std::string_view connection_string,
                                 std::string_view database_name) {
  if (database_name.find_first_not_of(" \t") == std::string_view::npos)
    throw AppError(text::Utf8ToAnsi("Není zadán název databáze"));
  // A string that leads nowhere is refused before a login is asked for.
  dbaccess::ResolvedConnection target;
  try {
    target = dbaccess::ResolveConnectionString(connection_string);
  } catch (const dbaccess::DatabaseError& e) {
    throw AppError(e.what());
  }
  const bool sqlite = target.kind == dbaccess::BackendKind::SQLite;
  if (sqlite) CheckSQLiteTarget(target.folder, database_name);
  const tLoginInfo* known = FindLoginInfo(connection_string);
  std::string user_name = known ? known->UserName : std::string();
  std::string password = known ? known->Password : std::string();
  bool database_missing = false;
  std::string reason;
  ConnectWithLogin(&connection, connection_string, database_name, database_missing, user_name, password,
                   prompt_, &reason);
  if (!connection.IsOpen()) {
    if (database_missing && sqlite) throw AppError(SQLiteOpenFailure(target.folder, database_name, reason));
    if (database_missing) throw AppError(text::Utf8ToAnsi("Zadaná databáze na serveru neexistuje"));
    std::string message = text::Utf8ToAnsi("ADO připojení nelze navázat");
    if (!reason.empty()) message += "\n" + reason;
    throw AppError(message);
  }
  if (!known) LoginInfoList.push_back({std::string(connection_string), user_name, password});
}

bool LoginCache::GetConnectionLogin(const dbaccess::Connection& connection, std::string& user_name,
                                    std::string& password) const {
  const tLoginInfo* known = FindLoginInfo(connection.ConnectionString());
  if (!known) return false;
  user_name = known->UserName;
  password = known->Password;
  return true;
}

const tLoginInfo* LoginCache::FindLoginInfo(std::string_view connection_string) const {
  for (const auto& info : LoginInfoList) {
    if (info.ConnectionString == connection_string) return &info;
  }
  return nullptr;
}

}  // namespace tamaril::core
