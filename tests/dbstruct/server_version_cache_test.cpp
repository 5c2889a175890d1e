#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "dbstruct/mssql/server_version.h"
#include "dbstruct/structure_cache.h"
#include "model_fixtures.h"

namespace tamaril::dbstruct {
namespace {

TEST(ServerVersion, CodesByRelease) {
  struct Case {
    int major, minor, build, code;
  };
  const Case cases[] = {
      {0, 0, 0, 0},    {5, 99, 9999, 0}, {6, 0, 121, 0},  {6, 49, 9999, 0}, {6, 50, 200, 0},
      {6, 50, 201, 1}, {6, 50, 212, 1},  {6, 50, 213, 2}, {6, 50, 240, 3},  {6, 50, 258, 4},
      {6, 50, 281, 5}, {6, 50, 415, 6},  {6, 50, 416, 7}, {6, 51, 0, 7},    {7, 0, 623, 8},
      {7, 0, 699, 9},  {7, 0, 842, 10},  {7, 0, 961, 11}, {7, 0, 1062, 11}, {7, 0, 1063, 12},
      {7, -1, 0, 8},   {7, 1, 0, 12},    {8, 0, 194, 13}, {8, 0, 384, 14},  {8, 0, 534, 15},
      {8, 0, 760, 16}, {8, 0, 2039, 17}, {8, 1, 0, 17},   {9, 0, 1399, 18}, {10, 50, 1600, 19},
      {-1, 0, 0, 19},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VersionCode(c.major, c.minor, c.build), c.code) << c.major << "." << c.minor << "." << c.build;
  }
}

TEST(ServerVersion, ProductVersionTexts) {
  EXPECT_EQ(ProductVersionCode("8.00.760"), std::optional<std::uint8_t>(16));
  EXPECT_EQ(ProductVersionCode("7.00.623"), std::optional<std::uint8_t>(8));
  EXPECT_EQ(ProductVersionCode("6.50.416"), std::optional<std::uint8_t>(7));
  EXPECT_EQ(ProductVersionCode("9.00.1399.06"), std::optional<std::uint8_t>(18));
  for (const char* refused : {"", "8", "8.00", "8.00.", "8.x.760", "8.00.760a", ".00.760"}) {
    EXPECT_EQ(ProductVersionCode(refused), std::nullopt) << refused;
  }
}

TEST(ServerVersion, ReaderAnswersFalseWhenTheServerCannotTell) {
  std::uint8_t code = 99;
  // SQLite has no xp_msver procedure.
  EXPECT_FALSE(ReadServerVersion("Provider=SQLite;Data Source=/nonexistent-folder", code));
  EXPECT_EQ(code, 0);
}

std::unique_ptr<tDatabase_Structure> Structure() {
  return std::make_unique<fixtures::ListedDatabase>(std::vector<std::string>{},
                                                    std::vector<fixtures::Link>{});
}

TEST(StructureCache, FindsByExactKeysAndKeepsTheFirstStructure) {
  tDBStructureCache cache;
  EXPECT_EQ(cache.Find("DSN=a", "shop"), nullptr);
  auto first = Structure();
  tDatabase_Structure* const kept = first.get();
  EXPECT_EQ(cache.Add("DSN=a", "shop", std::move(first)), nullptr);
  EXPECT_EQ(cache.Find("DSN=a", "shop"), kept);
  EXPECT_EQ(cache.Find("DSN=a", "Shop"), nullptr);
  EXPECT_EQ(cache.Find("dsn=a", "shop"), nullptr);

  auto second = Structure();
  tDatabase_Structure* const refused = second.get();
  EXPECT_EQ(cache.Add("DSN=a", "shop", std::move(second)).get(), refused);  // handed back, not freed
  EXPECT_EQ(cache.Find("DSN=a", "shop"), kept);

  EXPECT_EQ(cache.Add("dsn=a", "shop", Structure()), nullptr);  // another letter case: cached again
  EXPECT_EQ(cache.Count(), 2);
  EXPECT_NE(cache.Find("dsn=a", "shop"), kept);
  EXPECT_EQ(&StructureCache(), &StructureCache());
}

}  // namespace
}  // namespace tamaril::dbstruct
