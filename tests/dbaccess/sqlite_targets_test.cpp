// The access suite on SQLite files in a temporary folder.

#include <memory>
#include <vector>

#include "dbaccess/access_suite.h"
#include "support/temp_dir.h"

namespace tamaril::testing {
namespace {

// Each connection gets a folder of its own with one fresh database; the folders live until the
// program ends, so a connection never outlives its files.
std::unique_ptr<dbaccess::Connection> OpenFreshSqliteDatabase() {
  static std::vector<std::unique_ptr<TempDir>> folders;
  const TempDir& folder = *folders.emplace_back(std::make_unique<TempDir>());
  dbaccess::Connection master("Provider=SQLite;Data Source=" + folder.path());
  master.Open();
  master.CreateDatabase("access");
  auto connection = std::make_unique<dbaccess::Connection>("Provider=SQLite;Data Source=" + folder.path() +
                                                           ";Initial Catalog=access");
  connection->Open();
  return connection;
}

AccessTarget SqliteTarget() {
  AccessTarget target;
  target.name = "Sqlite";
  target.open = OpenFreshSqliteDatabase;
  return target;
}

INSTANTIATE_TEST_SUITE_P(Sqlite, AccessSuite, ::testing::Values(SqliteTarget()), AccessTargetName);

}  // namespace
}  // namespace tamaril::testing
