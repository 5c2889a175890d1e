// The shared access suite on the ODBC back end: PostgreSQL through psqlodbc, and SQLite files
// through the SQLite ODBC driver.

#include <atomic>
#include <memory>
#include <string>

#include "dbaccess/access_suite.h"
#include "dbaccess/connection.h"
#include "support/pg_server.h"
#include "support/temp_dir.h"

namespace tamaril::testing {
namespace {

std::unique_ptr<dbaccess::Connection> OpenPostgres() {
  const PgServer& server = PgServer::Get();
  // The string carries the login too, for the cases that close and open again without one.
  auto connection =
      std::make_unique<dbaccess::Connection>(server.OdbcString(server.CreateFreshDatabase()) +
                                             ";UID=" + PgServer::kUser + ";PWD=" + PgServer::kPassword);
  connection->Open(PgServer::kUser, PgServer::kPassword);
  return connection;
}

std::unique_ptr<dbaccess::Connection> OpenSqliteOdbc() {
  static TempDir folder;
  static std::atomic<int> counter{0};
  const std::string file = folder.File("db" + std::to_string(++counter) + ".sqlite");
  auto connection = std::make_unique<dbaccess::Connection>("Driver=SQLite3;Database=" + file);
  connection->Open();
  return connection;
}

AccessTarget PostgresTarget() {
  AccessTarget target;
  target.name = "OdbcPostgres";
  target.open = OpenPostgres;
  target.blob_type = "BYTEA";
  target.guid_type = "UUID";
  target.datetime_type = "TIMESTAMP";
  target.double_type = "DOUBLE PRECISION";
  target.supports_procedures = true;
  return target;
}

AccessTarget SqliteOdbcTarget() {
  AccessTarget target;
  target.name = "OdbcSqlite";
  target.open = OpenSqliteOdbc;
  target.supports_database_switch = false;
  return target;
}

INSTANTIATE_TEST_SUITE_P(Odbc, AccessSuite, ::testing::Values(PostgresTarget(), SqliteOdbcTarget()),
                         AccessTargetName);

}  // namespace
}  // namespace tamaril::testing
