#include "replication/run_lock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "replication/errors.h"
#include "support/expect_throw_msg.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

namespace fs = std::filesystem;

TEST(RunLock, KeepsASecondRunOutAndLeavesNoFileBehind) {
  testing::TempDir dir;
  const std::string path = dir.File("SHOP.ZR2.lock");
  {
    const tRunLock first(path, "busy");
    EXPECT_TRUE(fs::exists(path));
    EXPECT_THROW_MSG(tRunLock second(path, "busy"), ReplicationError, "busy");
    // The refused run must not take the holder's file away.
    EXPECT_TRUE(fs::exists(path));
  }
  EXPECT_FALSE(fs::exists(path));
  // Let go, the lock is anyone's again.
  std::optional<tRunLock> again;
  again.emplace(path, "busy");
  EXPECT_THROW_MSG(tRunLock other(path, "busy"), ReplicationError, "busy");
  again.reset();
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(RunLock, TakesTheFileAKilledRunLeft) {
  testing::TempDir dir;
  const std::string path = dir.File("import.lock");
  testing::WriteWholeFile(path, "");
  { const tRunLock lock(path, "busy"); }
  EXPECT_FALSE(fs::exists(path));
}

TEST(RunLock, AFolderThatIsNotThereIsNamedInCzech) {
  testing::TempDir dir;
  const std::string path = dir.File("gone/import.lock");
  EXPECT_THROW_MSG(tRunLock lock(path, "busy"), ReplicationError,
                   text::Utf8ToAnsi("Soubor " + path + " nelze vytvořit: soubor neexistuje"));
}

}  // namespace
}  // namespace tamaril::replication
