#include "dbaccess/odbc_handles.h"

#include <algorithm>

namespace tamaril::dbaccess::odbc {

Diagnostics ReadDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle) {
  Diagnostics result;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    std::u16string message(512, u'\0');
    SQLRETURN rc = SQLGetDiagRecW(handle_type, handle, record, state, &native, Wide(message),
                                  static_cast<SQLSMALLINT>(message.size()), &length);
    if (!Succeeded(rc)) break;
    if (static_cast<std::size_t>(length) >= message.size()) {
      message.assign(static_cast<std::size_t>(length) + 1, u'\0');
      rc = SQLGetDiagRecW(handle_type, handle, record, state, &native, Wide(message),
                          static_cast<SQLSMALLINT>(message.size()), &length);
      if (!Succeeded(rc)) break;
    }
    message.resize(std::min<std::size_t>(static_cast<std::size_t>(length), message.size() - 1));
    if (record == 1) {
      result.sqlstate = text::Utf16ToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(state), 5));
      result.native_code = static_cast<int>(native);
    }
    if (!result.message.empty()) result.message += '\n';
    result.message += text::Utf16ToAnsi(message);
  }
  return result;
}

[[noreturn]] void ThrowDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle, std::string_view action) {
  Diagnostics diagnostics = ReadDiagnostics(handle_type, handle);
  if (diagnostics.message.empty()) diagnostics.message = "ODBC: " + std::string(action) + " failed";
  throw DatabaseError(diagnostics.message, diagnostics.sqlstate, diagnostics.native_code);
}

void Check(SQLRETURN rc, SQLSMALLINT handle_type, SQLHANDLE handle, std::string_view action) {
  if (rc == SQL_INVALID_HANDLE) throw DatabaseError("ODBC: " + std::string(action) + ": invalid handle");
  if (!Succeeded(rc)) ThrowDiagnostics(handle_type, handle, action);
}

bool IsNotSupported(const std::string& sqlstate) {
  return sqlstate == "HYC00" || sqlstate == "HY092" || sqlstate == "IM001" || sqlstate == "S1C00" ||
         sqlstate == "S1092";
}

std::shared_ptr<Handle> NewEnvironment() {
  auto env = std::make_shared<Handle>(SQL_HANDLE_ENV, SQLHANDLE{SQL_NULL_HANDLE}, SQL_HANDLE_ENV);
  Check(SQLSetEnvAttr(env->get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
        SQL_HANDLE_ENV, env->get(), "SQLSetEnvAttr");
  return env;
}

}  // namespace tamaril::dbaccess::odbc
