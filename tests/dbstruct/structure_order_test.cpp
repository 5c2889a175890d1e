#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include <fmt/printf.h>

#include "dataset/date_codec.h"
#include "dbstruct/errors.h"
#include "model_fixtures.h"

namespace tamaril::dbstruct {
namespace {

using fixtures::Link;
using fixtures::ListedDatabase;

#define EXPECT_STRUCTURE_ERROR(statement, message)              \
  try {                                                         \
    statement;                                                  \
    ADD_FAILURE() << "no exception from " #statement;           \
  } catch (const StructureError& error) {                       \
    EXPECT_EQ(std::string(error.what()), std::string(message)); \
  }

constexpr const char* kCircular = "Circular master detail links not allowed";

TEST(StructureOrder, MastersComeFirst) {
  struct Case {
    std::vector<std::string> names;
    std::vector<Link> links;
    std::string order;
  };
  const Case cases[] = {
      {{}, {}, ""},
      {{"A"}, {{"A", "A", "FK_A_A"}}, "A"},
      {{"A", "B", "C"}, {{"B", "A", "FK_A_B"}, {"C", "B", "FK_B_C"}}, "C,B,A"},
      // Diamond: D has masters B and C, both have master A; unrelated E keeps its place.
      {{"D", "E", "B", "C", "A"},
       {{"B", "D", "FK1"}, {"C", "D", "FK2"}, {"A", "B", "FK3"}, {"A", "C", "FK4"}},
       "A,E,B,C,D"},
      // Self-references do not disturb the order and are not cycles.
      {{"A", "B"}, {{"A", "A", "FK_AA"}, {"B", "A", "FK_AB"}, {"B", "B", "FK_BB"}}, "B,A"},
      // Keys towards tables outside the model (or named in another letter case) are ignored or found.
      {{"Lines", "Orders"}, {{"Missing", "Lines", "FK_X"}, {"ORDERS", "lines", "FK_LO"}}, "Orders,Lines"},
  };
  for (const Case& c : cases) {
    ListedDatabase db(c.names, c.links);
    db.Scan();
    EXPECT_EQ(db.Order(), c.order);
  }
}

TEST(StructureOrder, CyclesFailWithTheirMessage) {
  ListedDatabase pair({"A", "B"}, {{"A", "B", "FK1"}, {"B", "A", "FK2"}});
  EXPECT_STRUCTURE_ERROR(pair.Scan(), kCircular);
  EXPECT_EQ(pair.TableCount(), 2);

  ListedDatabase chain({"A", "B", "C"}, {{"B", "A", "FK_AB"}, {"C", "B", "FK_BC"}});
  chain.Scan();
  chain.AddForeignKeyAndReorder("NoSuchTable", "C", "FK_X", "ID", "X_ID");
  EXPECT_EQ(chain.Order(), "C,B,A");
  EXPECT_STRUCTURE_ERROR(chain.AddForeignKeyAndReorder("A", "C", "FK_CA", "ID", "A_ID"), kCircular);
  EXPECT_TRUE(chain.FindTable("c")->DependsOn(*chain.FindTable("C"), false));
}

TEST(StructureOrder, ForeignKeysGroupByMasterAndConstraint) {
  ListedDatabase db({"Lines", "Orders", "Items"}, {{"Orders", "Lines", "FK_LO", "Shop", "OrderShop"},
                                                   {"Items", "Lines", "FK_LI", "ID", "ItemId"},
                                                   {"Orders", "Lines", "fk_lo", "Num", "OrderNum"}});
  db.Scan();
  const tMastersInfo& masters = db.FindTable("Lines")->Masters();
  ASSERT_EQ(masters.Count(), 2);
  const tForeignKeysInfo& orders = masters.Items(0);
  EXPECT_EQ(orders.MasterTable, db.FindTable("Orders"));
  EXPECT_EQ(orders.DetailTable, db.FindTable("Lines"));
  ASSERT_EQ(orders.Count(), 1);
  const tForeignKeyInfo& key = orders.Items(0);
  EXPECT_EQ(key.Name, "FK_LO");
  EXPECT_EQ(key.PKColumns, (std::vector<std::string>{"Shop", "Num"}));
  EXPECT_EQ(key.FKColumns, (std::vector<std::string>{"OrderShop", "OrderNum"}));
  EXPECT_EQ(masters.Items(1).MasterTable, db.FindTable("Items"));
  EXPECT_TRUE(db.FindTable("Lines")->DependsOn(*db.FindTable("Items"), true));
  EXPECT_FALSE(db.FindTable("Items")->DependsOn(*db.FindTable("Lines"), false));
  EXPECT_STRUCTURE_ERROR(db.FindTable("Lines")->Masters().AddMaster(nullptr, "FK", "A", "B"),
                         "tMastersInfo.AddMaster: PK_Table not assigned");
}

TEST(StructureOrder, ScanReportsProgress) {
  ListedDatabase db({"A", "B"}, {});
  std::string seen;
  db.OnProgress = [&](tDatabase_Structure&, int index, const std::string& name, int count) {
    seen += std::to_string(index) + name + std::to_string(count) + " ";
  };
  db.Scan();
  db.Scan();
  EXPECT_EQ(seen, "1A2 2B2 1A2 2B2 ");
  EXPECT_EQ(db.TableCount(), 2);
}

// The walk the model once used: depth-first over the masters, its depth bounded by the number
// of tables. The reachability answers must be the same.
bool DepthLimitedDependsOn(const tTbl_Structure& table, const tTbl_Structure& other, bool direct_only,
                           int& depth, int limit) {
  if (depth > limit) return false;
  ++depth;
  bool result = false;
  for (int i = 0; i < table.Masters().Count() && !result; ++i) {
    const tTbl_Structure& master = *table.Masters().Items(i).MasterTable;
    result = &master == &other || (!direct_only && DepthLimitedDependsOn(master, other, false, depth, limit));
  }
  --depth;
  return result;
}

// Random graphs, cyclic ones included: the answers equal the walk's, and an acyclic model
// puts every master before its details.
TEST(StructureOrder, DependsOnAgreesWithTheDepthLimitedWalk) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 200; ++round) {
    const int count = 2 + static_cast<int>(random() % 9);
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back("T" + std::to_string(i));
    std::vector<Link> links;
    for (int i = static_cast<int>(random() % (2 * count)); i > 0; --i) {
      links.push_back({names[random() % count], names[random() % count], "FK" + std::to_string(i % 3)});
    }
    ListedDatabase db(names, links);
    bool acyclic = true;
    try {
      db.Scan();
    } catch (const StructureError&) {
      acyclic = false;
    }
    for (int a = 0; a < count; ++a) {
      for (int b = 0; b < count; ++b) {
        for (bool direct : {false, true}) {
          int depth = 0;
          EXPECT_EQ(db.Table(a).DependsOn(db.Table(b), direct),
                    DepthLimitedDependsOn(db.Table(a), db.Table(b), direct, depth, count))
              << "round " << round << " " << db.Table(a).GetTableName() << "->" << db.Table(b).GetTableName();
        }
      }
    }
    for (const Link& l : links) {
      if (acyclic && l.master != l.detail) {
        EXPECT_LT(db.IndexOf(db.FindTable(l.master)), db.IndexOf(db.FindTable(l.detail)))
            << "round " << round;
      }
    }
  }
}

TEST(StructureOrder, DateTimeLiterals) {
  ListedDatabase db({}, {});
  // 2024-03-05 07:08:09.045 as days since 30 December 1899.
  const double value = 45356.0 + (7 * 3600000.0 + 8 * 60000.0 + 9045.0) / 86400000.0;
  EXPECT_EQ(db.FormatDateTimeLiteral(value), "2024-03-05 07:08:09.045");
  EXPECT_EQ(db.FormatTimeLiteral(value), "07:08:09.045");
  EXPECT_EQ(db.FormatDateTimeLiteral(0.0), "1899-12-30 00:00:00.000");
}

// Over the years the literals take, early ones and those past 9999 too, every date-time reads as
// printf's zero-padded fields write it.
TEST(DatabaseStructure, DateTimeLiteralsArePaddedAsPrintfPadsThem) {
  ListedDatabase db({}, {});
  std::mt19937_64 random(1250);
  for (int i = 0; i < 2000; ++i) {
    const auto day = static_cast<std::int32_t>(random() % 4000000) - 693000;  // years 2 to about 11000
    const auto ms = static_cast<std::int32_t>(random() % 86400000);
    const dataset::TimeStamp stamp{day, ms};
    const double value = dataset::TimeStampToDateTime(stamp);
    const dataset::TimeStamp back = dataset::DateTimeToTimeStamp(value);
    const dataset::CivilDate date = dataset::CivilFromDayNumber(back.date);
    const int t = back.time;
    SCOPED_TRACE(value);
    ASSERT_EQ(db.FormatDateTimeLiteral(value),
              fmt::sprintf("%.4d-%.2d-%.2d %.2d:%.2d:%.2d.%.3d", date.year, date.month, date.day, t / 3600000,
                           t / 60000 % 60, t / 1000 % 60, t % 1000));
    ASSERT_EQ(db.FormatTimeLiteral(value),
              fmt::sprintf("%.2d:%.2d:%.2d.%.3d", t / 3600000, t / 60000 % 60, t / 1000 % 60, t % 1000));
  }
}

}  // namespace
}  // namespace tamaril::dbstruct
