#include "core/login_cache.h"

#include <utility>

#include "core/errors.h"
#include "text/encoding.h"

namespace tamaril::core {

std::string TransformConnectionString(std::string_view text, bool encode) {
  std::string result(text);
  const int shift = encode ? 1 : -1;
  for (char& c : result) c = static_cast<char>(static_cast<unsigned char>(c) + shift);
  for (std::size_t i = 0; i + 1 < result.size(); i += 2) std::swap(result[i], result[i + 1]);
  return result;
}

void LoginCache::ConnectDatabase(dbaccess::Connection& connection, std::string_view connection_string,
                                 std::string_view database_name) {
  const tLoginInfo* known = FindLoginInfo(connection_string);
  std::string user_name = known ? known->UserName : std::string();
  std::string password = known ? known->Password : std::string();
  bool database_missing = false;
  std::string reason;
  ConnectWithLogin(&connection, connection_string, database_name, database_missing, user_name, password,
                   prompt_, &reason);
  if (!connection.IsOpen()) {
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
