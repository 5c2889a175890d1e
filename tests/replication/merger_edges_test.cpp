// How the merger and the publisher behave when the table operations around the statements or
// the handlers fail: which error comes out, and that the clean-up still runs.

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dbstruct/errors.h"
#include "engine_fixture.h"
#include "replication/errors.h"
#include "support/expect_throw_msg.h"

namespace tamaril::replication {
namespace {

using fixtures::EngineTest;
using fixtures::MergeLog;

/// Which table operations fail, and the calls seen once armed ("AfterDelete Groups" …).
struct Faults {
  bool armed = false;
  std::set<std::string> failing;
  std::vector<std::string> calls;

  /// The calls of the named operations only, joined by "; ".
  std::string Calls(const std::set<std::string>& operations) const {
    std::string text;
    for (const auto& call : calls) {
      if (operations.count(call.substr(0, call.find(' '))) == 0) continue;
      text += (text.empty() ? "" : "; ") + call;
    }
    return text;
  }
};

// The SQLite table form with operations that fail on demand.
class FaultyTable : public dbstruct::tSQLiteTbl_Structure {
 public:
  FaultyTable(dbstruct::tSQLiteDatabase_Structure& database, Faults& faults)
      : tSQLiteTbl_Structure(database), faults_(faults) {}

  void BeginWrite() override {
    Step("BeginWrite");
    tSQLiteTbl_Structure::BeginWrite();
  }
  void EndWrite() override {
    tSQLiteTbl_Structure::EndWrite();
    Step("EndWrite");
  }
  void BeforeDelete() override { Step("BeforeDelete"); }
  std::int64_t DeleteRecord(const std::string& row_guid, std::int32_t id) override {
    Step("DeleteRecord");
    return tSQLiteTbl_Structure::DeleteRecord(row_guid, id);
  }
  void AfterDelete() override { Step("AfterDelete"); }
  void CloseData() override {
    tSQLiteTbl_Structure::CloseData();
    Step("CloseData");
  }

 private:
  void Step(const std::string& operation) {
    if (!faults_.armed) return;
    faults_.calls.push_back(operation + " " + GetTableName());
    if (faults_.failing.count(operation) != 0) throw dbstruct::StructureError(operation + " failed");
  }

  Faults& faults_;
};

class FaultyStructure : public dbstruct::tSQLiteDatabase_Structure {
 public:
  FaultyStructure(dbaccess::Connection* connection, Faults& faults)
      : tSQLiteDatabase_Structure(connection), faults_(faults) {}
  std::unique_ptr<dbstruct::tTbl_Structure> CreateTableStructure() override {
    return std::make_unique<FaultyTable>(*this, faults_);
  }

 private:
  Faults& faults_;
};

class MergerEdgeTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ExecuteBoth(
        "CREATE TABLE Groups (Id INTEGER PRIMARY KEY, Name VARCHAR(20));"
        "CREATE TABLE rep_DELETED (SUCCNO INTEGER PRIMARY KEY, TABLENAME VARCHAR(50), RECORDID INTEGER,"
        " RECORDGUID VARCHAR(38));");
    client_.Execute(
        "INSERT INTO Groups VALUES (1, 'Nářadí'); INSERT INTO rep_DELETED VALUES (1, 'Groups', 2, NULL)");
    center_.Execute("INSERT INTO Groups VALUES (2, 'Staré')");
    ScanBoth();
    center_faulty_.Scan();
    merge_target_ = &center_faulty_;
    faults_.armed = true;
  }

  /// The deleted-rows table (deleting group 2) and the Groups table without rows.
  std::string DeleteContent() {
    return Publish({"Groups"}, "rep_DELETED",
                   [](dataset::TDataSet& row) { return row.FindField("SUCCNO") != nullptr; });
  }

  Faults faults_;
  FaultyStructure center_faulty_{&center_, faults_};
};

TEST_F(MergerEdgeTest, AFailureEndingATableFailsTheMergeAndTheDataIsClosed) {
  const std::string content = Publish({"Groups"});
  struct Case {
    std::set<std::string> failing;
    std::string message;
  };
  // When both fail, the end of the write phase is the failure reported.
  const std::vector<Case> cases = {{{"CloseData"}, "CloseData failed"},
                                   {{"EndWrite"}, "EndWrite failed"},
                                   {{"EndWrite", "CloseData"}, "EndWrite failed"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    faults_.failing = c.failing;
    faults_.calls.clear();
    MergeLog log;
    EXPECT_THROW_MSG(Merge(content, log), dbstruct::StructureError, c.message);
    EXPECT_EQ(log.Joined(), "append Groups");
    EXPECT_EQ(faults_.Calls({"EndWrite", "CloseData"}).rfind("EndWrite Groups; CloseData Groups"), 0U)
        << faults_.Calls({"EndWrite", "CloseData"});
  }
}

TEST_F(MergerEdgeTest, AFailureClosingTheLastTableOfTheDeletedRowsFailsTheMerge) {
  const std::string content = DeleteContent();
  faults_.failing = {"CloseData"};
  MergeLog log;
  EXPECT_THROW_MSG(Merge(content, log), dbstruct::StructureError, "CloseData failed");
  EXPECT_EQ(log.Joined(), "delete Groups 1");
}

TEST_F(MergerEdgeTest, AfterDeleteRunsWhateverHappensToTheDelete) {
  const std::string content = DeleteContent();
  const std::set<std::string> delete_steps = {"BeforeDelete", "DeleteRecord", "AfterDelete"};
  const std::string all_steps = "BeforeDelete Groups; DeleteRecord Groups; AfterDelete Groups";
  struct Case {
    std::string failing;  // an operation, or "OnRowDeleted" for the handler
    std::string message;
    std::string steps;
    std::string events;
  };
  const std::vector<Case> cases = {
      {"BeforeDelete", "BeforeDelete failed", "BeforeDelete Groups; AfterDelete Groups", ""},
      {"DeleteRecord", "DeleteRecord failed", all_steps, "conflict 4 DeleteRecord failed"},
      {"OnRowDeleted", "handler failed", all_steps, ""},
      // On the way out of a successful delete its failure is the merge's.
      {"AfterDelete", "AfterDelete failed", all_steps, "delete Groups 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing);
    faults_.failing = {c.failing};
    faults_.calls.clear();
    configure_merger_ = [&](tQVMMerger& merger) {
      if (c.failing != "OnRowDeleted") return;
      merger.OnRowDeleted = [](tQVMMerger&, dataset::TDataSet&, std::int64_t) {
        throw ReplicationError("handler failed");
      };
    };
    MergeLog log;
    EXPECT_THROW_MSG(Merge(content, log), Error, c.message);
    EXPECT_EQ(faults_.Calls(delete_steps), c.steps);
    EXPECT_EQ(log.Joined(), c.events);
  }
  // Nothing failing: the row is gone, the steps in their order.
  faults_.failing.clear();
  faults_.calls.clear();
  configure_merger_ = nullptr;
  MergeLog log;
  EXPECT_TRUE(Merge(content, log));
  EXPECT_EQ(faults_.Calls(delete_steps), all_steps);
  EXPECT_EQ(Rows(center_, "SELECT COUNT(*) FROM Groups"), "0\n");
}

TEST_F(MergerEdgeTest, AConflictHandlerThatFailsLeavesTheStatementsErrorInPlace) {
  center_.Execute(
      "DROP TABLE Groups; CREATE TABLE Groups (Id INTEGER PRIMARY KEY, Name VARCHAR(20) CHECK (Id <> 1))");
  center_faulty_.Scan();
  const std::string content = Publish({"Groups"});
  MergeLog reported;
  EXPECT_THROW(Merge(content, reported), dbaccess::DatabaseError);
  ASSERT_EQ(reported.events.size(), 1U);
  const std::string statement_error = reported.events[0].substr(std::string("conflict 4 ").size());

  configure_merger_ = [](tQVMMerger& merger) {
    merger.OnConflict = [](tQVMMerger&, dataset::TDataSet&, tConflictKind, const std::string&) {
      throw ReplicationError("handler failed");
    };
  };
  MergeLog log;
  EXPECT_THROW_MSG(Merge(content, log), dbaccess::DatabaseError, statement_error);
}

TEST_F(MergerEdgeTest, TheExportFailsWhenATableCannotBeClosed) {
  FaultyStructure client_faulty(&client_, faults_);
  client_faulty.Scan();
  dataset::MemoryWriter out;
  tQVMPublisher publisher;
  publisher.TableList = {"Groups"};
  publisher.Stream = &out;
  publisher.Structure = &client_faulty;
  faults_.failing = {"CloseData"};
  EXPECT_THROW_MSG(publisher.Publish(), dbstruct::StructureError, "CloseData failed");

  // A failure while publishing stays the one reported when closing fails as well.
  publisher.OnRowFilter = [](tQVMPublisher&, dataset::TDataSet&, bool&) {
    throw ReplicationError("filter failed");
  };
  EXPECT_THROW_MSG(publisher.Publish(), ReplicationError, "filter failed");
}

}  // namespace
}  // namespace tamaril::replication
