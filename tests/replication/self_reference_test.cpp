// Tables that are their own master, merged with the import's rules into a SQLite center: a row
// that comes before the row it names in its own table waits for it instead of being refused,
// and a master that never comes is refused as before.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "replication/conflict_list.h"
#include "replication/merge_rules.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

using fixtures::EngineTest;
using Lines = std::vector<std::string>;

constexpr const char* kSchema =
    "CREATE TABLE Depts (Id INTEGER PRIMARY KEY, Name VARCHAR(20));"
    "CREATE TABLE Staff (Id INTEGER PRIMARY KEY, Name VARCHAR(20), BossId INTEGER, DeptId INTEGER, Note TEXT,"
    " CONSTRAINT FK_Staff_Boss FOREIGN KEY (BossId) REFERENCES Staff(Id),"
    " CONSTRAINT FK_Staff_Dept FOREIGN KEY (DeptId) REFERENCES Depts(Id));"
    "CREATE TABLE Orders (Id INTEGER PRIMARY KEY, StaffId INTEGER NOT NULL,"
    " CONSTRAINT FK_Orders_Staff FOREIGN KEY (StaffId) REFERENCES Staff(Id));"
    "CREATE TABLE Pairs (Id INTEGER PRIMARY KEY, PartnerId INTEGER NOT NULL,"
    " CONSTRAINT FK_Pairs_Partner FOREIGN KEY (PartnerId) REFERENCES Pairs(Id));"
    "CREATE TABLE rep_DEFIMPORT (Signature VARCHAR(10) NOT NULL, TABLENAME VARCHAR(20) NOT NULL,"
    " IgnoreRowGuidField bit NOT NULL DEFAULT 0, AppendRule TEXT, UpdateRule TEXT, UpdateFieldRule TEXT,"
    " DeleteRule TEXT, LastImportDate datetime, LISTORDER INT NOT NULL,"
    " PRIMARY KEY (Signature, TABLENAME));";

std::string MissingBoss(int id) {
  return "Porušení vazby master-detail při insertu (Tabulka Staff, constraint FK_Staff_Boss)(Id=" +
         std::to_string(id) + ")";
}

class SelfReferenceTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ExecuteBoth(kSchema);
    center_.Execute(
        "INSERT INTO rep_DEFIMPORT (Signature, TABLENAME, AppendRule, UpdateRule, LISTORDER) VALUES"
        " ('CLI1', 'Depts', 'ANO', 'ANO', 1), ('CLI1', 'Staff', 'ANO', 'ANO', 2),"
        " ('CLI1', 'Orders', 'ANO', 'ANO', 3), ('CLI1', 'Pairs', 'ANO', 'ANO', 4)");
    // The client holds rows whose masters are missing or form a cycle.
    client_.Execute("PRAGMA foreign_keys = OFF");
    ScanBoth();
  }

  /// Publishes `tables` of the client and merges them with the rules; the decision lines (UTF-8,
  /// table starts left out) go to lines_.
  void Transfer(std::vector<std::string> tables) {
    const std::string content = Publish(std::move(tables));
    lines_.clear();
    rules_ = std::make_unique<tMergeRules>(center_, center_structure_,
                                           tMergeRunContext{"CLI1", 0, "CLI1.ZR2", "center"});
    rules_->OnLog = [&](const std::string& line) {
      const std::string utf8 = text::AnsiToUtf8(line);
      if (!utf8.starts_with("Cílová tabulka")) lines_.push_back(utf8);
    };
    rules_->Conflicts = &conflicts_;
    configure_merger_ = [&](tQVMMerger& merger) {
      rules_->Install(merger);
      merger.KeptRowBytesLimit = kept_limit_;
      auto allow_append = merger.OnAppendRow;
      merger.OnAppendRow = [this, allow_append](tQVMMerger& m, dataset::TDataSet& row, bool& allow) {
        ++append_decisions_;
        allow_append(m, row, allow);
      };
      merger.OnAfterRow = [this](tQVMMerger&, dataset::TDataSet&) { ++rows_seen_; };
    };
    fixtures::MergeLog ignored;
    EXPECT_TRUE(Merge(content, ignored));
  }

  std::string Staff(dbaccess::Connection& connection) {
    return Rows(connection, "SELECT Id, Name, BossId, DeptId FROM Staff ORDER BY Id");
  }

  std::unique_ptr<tMergeRules> rules_;
  tConflictList conflicts_;
  Lines lines_;
  std::size_t kept_limit_ = std::size_t{64} << 20;
  int append_decisions_ = 0;
  int rows_seen_ = 0;
};

TEST_F(SelfReferenceTest, AChildBeforeItsMasterArrivesWhole) {
  // As in the Northwind sample: employee 1 reports to employee 2, who comes later.
  client_.Execute(
      "INSERT INTO Staff (Id, Name, BossId) VALUES (1, 'Davolio', 2), (2, 'Fuller', NULL),"
      " (3, 'Leverling', 2)");
  Transfer({"Staff"});

  EXPECT_EQ(lines_, (Lines{"záznam přidán(Id=2)", "záznam přidán(Id=3)", "záznam přidán(Id=1)"}));
  EXPECT_EQ(Staff(center_), Staff(client_));
  EXPECT_EQ(rules_->Counters().appended, 3);
  EXPECT_EQ(rules_->Counters().conflicts, 0);
  EXPECT_EQ(rules_->Counters().ignored, 0);
  EXPECT_EQ(rules_->TableCounters("Staff").appended, 3);
  EXPECT_TRUE(conflicts_.Groups().empty());
  // The waiting row is announced once, when it is read.
  EXPECT_EQ(rows_seen_, 3);
}

TEST_F(SelfReferenceTest, ChainsArriveWhateverTheOrderOfTheirRows) {
  struct Case {
    std::string rows;  // the client's rows, in the order of the archive
    Lines appended;    // in the order the center receives them
    int decisions;     // append decisions taken, retries included
  };
  const std::vector<Case> cases = {
      // 1 -> 2 -> 3: a chain in reverse order takes one pass over the waiting rows.
      {"(1, 'a', 2), (2, 'b', 3), (3, 'c', NULL)", {"3", "2", "1"}, 5},
      // 2 waits for 1, which waits for 3: a second pass takes 2.
      {"(1, 'a', 3), (2, 'b', 1), (3, 'c', NULL)", {"3", "1", "2"}, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rows);
    client_.Execute("DELETE FROM Staff; INSERT INTO Staff (Id, Name, BossId) VALUES " + c.rows);
    center_.Execute("DELETE FROM Staff");
    append_decisions_ = 0;
    Transfer({"Staff"});

    Lines expected;
    for (const auto& id : c.appended) expected.push_back("záznam přidán(Id=" + id + ")");
    EXPECT_EQ(lines_, expected);
    EXPECT_EQ(Staff(center_), Staff(client_));
    EXPECT_EQ(rules_->Counters().conflicts, 0);
    EXPECT_EQ(append_decisions_, c.decisions);
  }
}

TEST_F(SelfReferenceTest, AMasterThatNeverComesIsRefusedOnceAsBefore) {
  center_.Execute("INSERT INTO Depts VALUES (1, 'Prodej')");
  client_.Execute(
      "INSERT INTO Staff (Id, Name, BossId, DeptId) VALUES (1, 'Bez sefa', 99, NULL),"
      " (2, 'Bez oddělení', NULL, 98), (3, 'Fuller', NULL, 1), (4, 'Podřízený', 1, 1)");
  Transfer({"Staff"});

  // Row 2 misses another table's master: refused in its place. Rows 1 and 4 wait in vain and
  // are refused once, in the order of the archive, with the line any missing master gets.
  EXPECT_EQ(lines_, (Lines{"Porušení vazby master-detail při insertu (Tabulka Staff, constraint "
                           "FK_Staff_Dept)(Id=2)",
                           "záznam přidán(Id=3)", MissingBoss(1), MissingBoss(4)}));
  EXPECT_EQ(Staff(center_), "3|Fuller|NULL|1\n");
  EXPECT_EQ(rules_->Counters().conflicts, 3);
  EXPECT_EQ(rules_->Counters().appended, 1);

  const auto& groups = conflicts_.Groups();
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(text::AnsiToUtf8(groups[1]->message), MissingBoss(1));
  dataset::TQVMMemoryTable* rows = conflicts_.RowsOfLine(4);
  ASSERT_NE(rows, nullptr);
  ASSERT_EQ(rows->RecordCount(), 1);
  EXPECT_EQ(text::AnsiToUtf8(rows->FieldByName("Name").AsString()), "Bez sefa");
  EXPECT_EQ(rows->FieldByName("BossId").AsInteger(), 99);
}

TEST_F(SelfReferenceTest, ACycleInTheDataIsRefusedAndTheMergeEnds) {
  // 1 and 2 name each other, 3 names 1: none of them can come first.
  client_.Execute("INSERT INTO Pairs VALUES (1, 2), (2, 1), (3, 1)");
  Transfer({"Pairs"});

  Lines expected;
  for (int id : {1, 2, 3}) {
    expected.push_back(
        "Porušení vazby master-detail při insertu (Tabulka Pairs, constraint FK_Pairs_Partner)(Id=" +
        std::to_string(id) + ")");
  }
  EXPECT_EQ(lines_, expected);
  EXPECT_EQ(Rows(center_, "SELECT COUNT(*) FROM Pairs"), "0\n");
  EXPECT_EQ(rules_->Counters().conflicts, 3);
  EXPECT_EQ(rules_->Counters().appended, 0);
  EXPECT_EQ(conflicts_.Groups().size(), 3u);
}

TEST_F(SelfReferenceTest, ARowNamingItselfAsItsMasterArrives) {
  // The root of the tree names itself; the row after it names the root.
  client_.Execute("INSERT INTO Pairs VALUES (1, 1), (2, 1)");
  Transfer({"Pairs"});
  EXPECT_EQ(lines_, (Lines{"záznam přidán(Id=1)", "záznam přidán(Id=2)"}));
  EXPECT_EQ(Rows(center_, "SELECT Id, PartnerId FROM Pairs ORDER BY Id"), "1|1\n2|1\n");
  EXPECT_EQ(rules_->Counters().conflicts, 0);
}

TEST_F(SelfReferenceTest, DetailsOfAWaitingRowArriveWithIt) {
  client_.Execute(
      "INSERT INTO Staff (Id, Name, BossId) VALUES (1, 'Davolio', 2), (2, 'Fuller', NULL);"
      "INSERT INTO Orders VALUES (10, 1), (11, 2)");
  Transfer({"Orders"});

  EXPECT_EQ(published_tables_, (Lines{"Orders", "Depts", "Staff"}));
  EXPECT_EQ(lines_, (Lines{"záznam přidán(Id=2)", "záznam přidán(Id=1)", "záznam přidán(Id=10)",
                           "záznam přidán(Id=11)"}));
  EXPECT_EQ(Rows(center_, "SELECT Id, StaffId FROM Orders ORDER BY Id"), "10|1\n11|2\n");
  EXPECT_EQ(rules_->TableCounters("Staff").appended, 2);
  EXPECT_EQ(rules_->TableCounters("Orders").appended, 2);
  EXPECT_EQ(rules_->Counters().conflicts, 0);
}

TEST_F(SelfReferenceTest, AnUpdateNamingALaterMasterWaitsForIt) {
  center_.Execute("INSERT INTO Staff (Id, Name, BossId) VALUES (1, 'Davolio', NULL)");
  client_.Execute("INSERT INTO Staff (Id, Name, BossId) VALUES (1, 'Davolio', 2), (2, 'Fuller', NULL)");
  Transfer({"Staff"});

  EXPECT_EQ(lines_, (Lines{"záznam přidán(Id=2)", "záznam opraven(Id=1)"}));
  EXPECT_EQ(Staff(center_), Staff(client_));
  EXPECT_EQ(rules_->Counters().updated, 1);
  EXPECT_EQ(rules_->TableCounters("Staff").updated, 1);
  EXPECT_EQ(rules_->Counters().conflicts, 0);
}

TEST_F(SelfReferenceTest, ARowBeyondTheKeptBytesIsRefusedAtOnce) {
  client_.Execute("INSERT INTO Staff (Id, Name, BossId, Note) VALUES (1, 'a', 3, NULL), (2, 'b', 3, '" +
                  std::string(1000, 'b') + "'), (3, 'Fuller', NULL, NULL)");
  // Room for the short record, not for the long one as well.
  kept_limit_ = 600;
  Transfer({"Staff"});

  EXPECT_EQ(lines_, (Lines{MissingBoss(2), "záznam přidán(Id=3)", "záznam přidán(Id=1)"}));
  EXPECT_EQ(rules_->Counters().conflicts, 1);
  EXPECT_EQ(Rows(center_, "SELECT Id FROM Staff ORDER BY Id"), "1\n3\n");
}

}  // namespace
}  // namespace tamaril::replication
