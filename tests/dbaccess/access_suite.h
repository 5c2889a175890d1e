#pragma once

// One suite of access-layer tests run against every back end: SQLite files, and ODBC against
// PostgreSQL and the SQLite ODBC driver. Each back end instantiates `AccessSuite` with a target.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "dbaccess/connection.h"

namespace tamaril::testing {

/// How the suite reaches one kind of database.
struct AccessTarget {
  std::string name;  ///< test-name suffix: letters, digits and '_' only
  /// An open connection whose default database is a fresh, empty database of its own.
  std::function<std::unique_ptr<dbaccess::Connection>()> open;
  /// Column type names the dialects spell differently.
  std::string blob_type = "BLOB";
  std::string guid_type = "UNIQUEIDENTIFIER";
  std::string datetime_type = "DATETIME";
  std::string double_type = "DOUBLE PRECISION";
  bool supports_procedures = false;      ///< stored procedure calls
  bool supports_database_switch = true;  ///< SetDefaultDatabase to another existing database
};

class AccessSuite : public ::testing::TestWithParam<AccessTarget> {
 protected:
  void SetUp() override { connection_ = GetParam().open(); }
  dbaccess::Connection& db() { return *connection_; }

  std::unique_ptr<dbaccess::Connection> connection_;
};

/// Shows a target by its name in gtest's messages.
inline void PrintTo(const AccessTarget& target, std::ostream* out) { *out << target.name; }

/// Names the instantiated tests after their target.
inline std::string AccessTargetName(const ::testing::TestParamInfo<AccessTarget>& info) {
  return info.param.name;
}

}  // namespace tamaril::testing
