#pragma once

#include <stdexcept>
#include <string>

#include "text/error.h"

namespace tamaril::dbaccess {

/// A failing connect, statement, query, procedure call or catalogue read. The message is the
/// driver's or the server's own text (Windows-1250, like every text of the engine); SQLSTATE
/// and the native error code are kept when the driver reports them.
class DatabaseError : public Error {
 public:
  explicit DatabaseError(const std::string& message, std::string sqlstate = {}, int native_code = 0)
      : Error(message), sqlstate_(std::move(sqlstate)), native_code_(native_code) {}

  /// Five-character SQLSTATE, or empty when the driver gave none.
  const std::string& sqlstate() const noexcept { return sqlstate_; }
  /// The driver's or server's own error number, 0 when none.
  int native_code() const noexcept { return native_code_; }

 private:
  std::string sqlstate_;
  int native_code_;
};

}  // namespace tamaril::dbaccess
