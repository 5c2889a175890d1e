#include <gtest/gtest.h>

#include "dataset/field.h"
#include "dataset/stream.h"
#include "engine_fixture.h"
#include "replication/errors.h"

namespace tamaril::replication {
namespace {

using fixtures::EngineTest;
using fixtures::MergeLog;

constexpr const char* kSchema =
    "CREATE TABLE Groups (Id INTEGER PRIMARY KEY, Name VARCHAR(20));"
    "CREATE TABLE Items (Id INTEGER PRIMARY KEY, RowId UNIQUEIDENTIFIER ROWGUIDCOL, Name VARCHAR(30),"
    " Note TEXT, Price MONEY, Changed DATETIME, GroupId INTEGER,"
    " rep_Date_Updated DATETIME, CONSTRAINT FK_Items_Groups FOREIGN KEY (GroupId) REFERENCES Groups(Id));"
    "CREATE TABLE Codes (Id INTEGER PRIMARY KEY, Code VARCHAR(10) UNIQUE);";

constexpr const char* kItems = "SELECT Id, RowId, Name, Note, Price, Changed, GroupId FROM Items ORDER BY Id";

class TransferTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ExecuteBoth(kSchema);
    client_.Execute(
        "INSERT INTO Groups VALUES (1, 'Nářadí'), (2, NULL);"
        "INSERT INTO Items VALUES (1, '{11111111-1111-1111-1111-111111111111}', 'Kladivo', 'Řádek 1\n\"2\"', "
        "12.5,"
        " '2026-12-08 10:20:30.450', 1, NULL),"
        " (2, '{22222222-2222-2222-2222-222222222222}', '', '', 0, NULL, 2, NULL),"
        " (3, '{33333333-3333-3333-3333-333333333333}', NULL, NULL, NULL, NULL, NULL, NULL);");
    ScanBoth();
  }
};

TEST_F(TransferTest, RoundTripCopiesTheRowsAndCompletesTheListWithMasters) {
  const std::string content = Publish({"Items"});
  EXPECT_EQ(published_tables_, (std::vector<std::string>{"Items", "Groups"}));

  MergeLog log;
  EXPECT_TRUE(Merge(content, log));
  EXPECT_EQ(log.Joined(), "append Groups; append Groups; append Items; append Items; append Items");
  EXPECT_EQ(Rows(center_, "SELECT * FROM Groups ORDER BY Id"),
            Rows(client_, "SELECT * FROM Groups ORDER BY Id"));
  // An empty memo travels as a memo of no bytes, which is read back as NULL.
  std::string expected = Rows(client_, kItems);
  const std::string empty_memo = "2|{22222222-2222-2222-2222-222222222222}|||";
  ASSERT_NE(expected.find(empty_memo), std::string::npos);
  expected.replace(expected.find(empty_memo), empty_memo.size(),
                   "2|{22222222-2222-2222-2222-222222222222}||NULL|");
  EXPECT_EQ(Rows(center_, kItems), expected);

  // The same content again: every row is there already.
  MergeLog again;
  EXPECT_TRUE(Merge(content, again));
  EXPECT_EQ(again.Joined(),
            "duplicate Groups; duplicate Groups; duplicate Items; duplicate Items; duplicate Items");
}

TEST_F(TransferTest, WithoutHandlersTheMergerChangesNothing) {
  const std::string content = Publish({"Items"});
  dataset::MemoryReader in(content);
  tQVMMerger merger;
  merger.Stream = &in;
  merger.Structure = &center_structure_;
  int rows = 0;
  merger.OnAfterRow = [&](tQVMMerger&, dataset::TDataSet&) { ++rows; };
  dbaccess::TransactionGuard transaction(center_);
  EXPECT_TRUE(merger.Merge());
  transaction.Commit();
  EXPECT_EQ(rows, 5);
  EXPECT_EQ(Rows(center_, "SELECT COUNT(*) FROM Items"), "0\n");
}

TEST_F(TransferTest, ARowEqualButForTrackingColumnsIsADuplicate) {
  center_.Execute(
      "INSERT INTO Groups VALUES (1, 'Nářadí');"
      "INSERT INTO Items VALUES (1, '{11111111-1111-1111-1111-111111111111}', 'Kladivo', 'Řádek 1\n\"2\"', "
      "12.5,"
      " '2026-12-08 10:20:30.450', 1, '2020-01-01 00:00:00.000');");
  const std::string content =
      Publish({"Items"}, {}, [](dataset::TDataSet& row) { return row.FieldByName("Id").AsInteger() == 1; });
  MergeLog log;
  EXPECT_TRUE(Merge(content, log));
  EXPECT_EQ(log.Joined(), "duplicate Groups; duplicate Items");
  EXPECT_EQ(Rows(center_, "SELECT rep_Date_Updated FROM Items"), "2020-01-01 00:00:00.000\n");
}

TEST_F(TransferTest, UpdatesWriteOnlyTheFieldsStillFlagged) {
  center_.Execute(
      "INSERT INTO Groups VALUES (1, 'Nářadí'), (2, NULL);"
      "INSERT INTO Items VALUES (1, '{11111111-1111-1111-1111-111111111111}', 'Stará', 'x', 1,"
      " '2026-12-08 10:20:30.450', 1, NULL);");
  const auto only_item_1 = [](dataset::TDataSet& row) { return row.FieldByName("Id").AsInteger() == 1; };
  const std::string content = Publish({"Items"}, {}, only_item_1);

  // The handler takes the note back: only the name is written.
  on_update_ = [](dataset::TDataSet& row) { row.FieldByName("Note").Tag = 0; };
  MergeLog log;
  EXPECT_TRUE(Merge(content, log));
  EXPECT_EQ(log.Joined(), "duplicate Groups; update Items Name,Price");
  EXPECT_EQ(Rows(center_, "SELECT Name, Note, Price FROM Items"), "Kladivo|x|12.5\n");

  // Clearing every flag writes nothing and reports nothing.
  center_.Execute("UPDATE Items SET Name = 'Jiná'");
  on_update_ = [](dataset::TDataSet& row) {
    for (const auto& field : row.Fields()) field->Tag = 0;
  };
  MergeLog cleared;
  EXPECT_TRUE(Merge(content, cleared));
  EXPECT_EQ(cleared.Joined(), "duplicate Groups");
  EXPECT_EQ(Rows(center_, "SELECT Name FROM Items"), "Jiná\n");
}

TEST_F(TransferTest, MissingMastersAreConflictsAndTheRowIsSkipped) {
  // The master rows are not sent: the center lacks group 1 and 2.
  const std::string content =
      Publish({"Items"}, {}, [](dataset::TDataSet& row) { return row.FindField("GroupId") != nullptr; });
  MergeLog log;
  EXPECT_TRUE(Merge(content, log));
  EXPECT_EQ(log.Joined(), "conflict 0 FK_Items_Groups; conflict 0 FK_Items_Groups; append Items");
  EXPECT_EQ(Rows(center_, "SELECT Id FROM Items"), "3\n");

  // An update that would point at a missing master is refused the same way.
  center_.Execute("INSERT INTO Groups VALUES (1, 'Nářadí'); UPDATE Items SET GroupId = 1");
  client_.Execute("UPDATE Items SET GroupId = 2 WHERE Id = 3");
  const std::string update = Publish({"Items"}, {}, [](dataset::TDataSet& row) {
    return row.FindField("GroupId") != nullptr && row.FieldByName("Id").AsInteger() == 3;
  });
  MergeLog updated;
  EXPECT_TRUE(Merge(update, updated));
  EXPECT_EQ(updated.Joined(), "conflict 1 FK_Items_Groups");
  EXPECT_EQ(Rows(center_, "SELECT GroupId FROM Items"), "1\n");
}

TEST_F(TransferTest, AmbiguousMatchesAreConflictsAndTheRowIsSkipped) {
  client_.Execute("INSERT INTO Codes VALUES (1, 'B'), (5, 'A')");
  center_.Execute("INSERT INTO Codes VALUES (1, 'A'), (2, 'B')");
  const std::string content = Publish({"Codes"});
  MergeLog log;
  EXPECT_TRUE(Merge(content, log));
  // Row 1 matches one row by its key and another by its code; row 5 takes the code of row 1.
  EXPECT_EQ(log.Joined(), "conflict 2 sqlite_autoindex_Codes_1; conflict 2 sqlite_autoindex_Codes_1");
  EXPECT_EQ(Rows(center_, "SELECT * FROM Codes ORDER BY Id"), "1|A\n2|B\n");
}

TEST_F(TransferTest, ATableMissingInTheTargetIsReadThrough) {
  client_.Execute(
      "CREATE TABLE Extra (Id INTEGER PRIMARY KEY, Memo TEXT); INSERT INTO Extra VALUES (1, 'x'), (2, NULL)");
  client_structure_.Scan();
  const std::string content = Publish({"Extra", "Groups"});
  ASSERT_NE(content.find("Extra"), std::string::npos);
  MergeLog log;
  EXPECT_TRUE(Merge(content, log));
  EXPECT_EQ(log.Joined(), "append Groups; append Groups");
  EXPECT_EQ(Rows(center_, "SELECT COUNT(*) FROM Groups"), "2\n");
}

TEST_F(TransferTest, DeletedRowsComeFirstAndDeleteByRowGuidOrKey) {
  const char* deleted =
      "CREATE TABLE rep_DELETED (SUCCNO INTEGER PRIMARY KEY, TABLENAME VARCHAR(50), RECORDID INTEGER,"
      " RECORDGUID VARCHAR(38));";
  ExecuteBoth(deleted);
  center_.Execute(
      "INSERT INTO Groups VALUES (1, 'Nářadí'), (2, NULL), (7, 'Navíc');"
      "INSERT INTO Items VALUES (2, '{22222222-2222-2222-2222-222222222222}', '', '', 0, NULL, 2, NULL);"
      "INSERT INTO Codes VALUES (4, 'D');");
  client_.Execute(
      "INSERT INTO rep_DELETED VALUES (3, 'Codes', 4, NULL), (1, 'ITEMS', 0, "
      "'{22222222-2222-2222-2222-222222222222}'),"
      " (2, 'Items', 9, '{99999999-9999-9999-9999-999999999999}'), (4, 'NoSuchTable', 1, NULL);");
  ScanBoth();
  const std::string content = Publish(
      {"Groups"}, "rep_DELETED", [](dataset::TDataSet& row) { return row.FindField("SUCCNO") != nullptr; });
  // The deleted-rows table is not in the list, comes first and is flagged −1.
  EXPECT_EQ(published_tables_, std::vector<std::string>{"Groups"});
  const std::string list_and_header = std::string("\x01\x08\0\0\0Groups\r\n\x02\xff\xff", 16);
  EXPECT_EQ(content.substr(0, list_and_header.size()), list_and_header);

  MergeLog log;
  EXPECT_TRUE(Merge(content, log));
  EXPECT_EQ(log.Joined(), "delete Items 1; delete Codes 1");
  EXPECT_EQ(Rows(center_, "SELECT COUNT(*) FROM Items"), "0\n");
  EXPECT_EQ(Rows(center_, "SELECT COUNT(*) FROM Codes"), "0\n");
  EXPECT_EQ(Rows(center_, "SELECT Id FROM Groups ORDER BY Id"), "1\n2\n7\n");
}

TEST_F(TransferTest, AFailingStatementIsReportedPassedOnAndEndsTheWritePhase) {
  center_.Execute(
      "DROP TABLE Codes; CREATE TABLE Codes (Id INTEGER PRIMARY KEY, Code VARCHAR(10) UNIQUE CHECK (Code <> "
      "'Z'));"
      "CREATE TABLE Audit (Id INTEGER);"
      "CREATE TRIGGER trCodes AFTER INSERT ON Codes BEGIN INSERT INTO Audit VALUES (NEW.Id); END;");
  client_.Execute("INSERT INTO Codes VALUES (1, 'A'), (2, 'Z')");
  ScanBoth();
  const std::string content = Publish({"Codes"});
  MergeLog log;
  try {
    Merge(content, log);
    ADD_FAILURE() << "no exception";
  } catch (const dbaccess::DatabaseError& error) {
    ASSERT_EQ(log.events.size(), 2u);
    EXPECT_EQ(log.events[0], "append Codes");
    EXPECT_EQ(log.events[1], std::string("conflict 4 ") + error.what());
  }
  // The write phase ended: the trigger the merge took off is back.
  EXPECT_EQ(Rows(center_, "SELECT name FROM sqlite_master WHERE type = 'trigger'"), "trCodes\n");
}

TEST_F(TransferTest, WithoutAFilterOnlyTableHeadersAreWritten) {
  dataset::MemoryWriter out;
  tQVMPublisher publisher;
  publisher.TableList = {"Groups"};
  publisher.Stream = &out;
  publisher.Structure = &client_structure_;
  std::vector<std::string> progress;
  publisher.OnTableProgress = [&](tQVMPublisher&, int position, const std::string& name, int count) {
    progress.push_back(std::to_string(position) + ":" + name + "/" + std::to_string(count));
  };
  int rows_seen = 0;
  publisher.OnRowProgress = [&](tQVMPublisher&, int position, int count) {
    ++rows_seen;
    EXPECT_EQ(count, 2);
    EXPECT_EQ(position, rows_seen);
  };
  publisher.Publish();
  EXPECT_EQ(rows_seen, 2);
  EXPECT_EQ(progress, (std::vector<std::string>{"1:Codes/3", "2:Groups/3", "3:Items/3"}));
  const std::string layout = "Id;Integer;0;0;Name;String;20;0";
  std::string expected("\x01\x08\0\0\0Groups\r\n\x02\0\0\x06\0\0\0Groups", 26);
  expected += std::string(1, static_cast<char>(layout.size())) + std::string(3, '\0') + layout + "\xf2\xf1";
  EXPECT_EQ(out.Data(), expected);
}

}  // namespace
}  // namespace tamaril::replication

namespace tamaril::replication {
namespace {

TEST_F(TransferTest, MoneyWithMoreDecimalsIsADuplicateOnceMerged) {
  client_.Execute("UPDATE Items SET Price = 12.345678 WHERE Id = 1");
  const std::string content = Publish({"Items"});
  MergeLog first;
  EXPECT_TRUE(Merge(content, first));
  MergeLog second;
  EXPECT_TRUE(Merge(content, second));
  EXPECT_EQ(second.Joined(),
            "duplicate Groups; duplicate Groups; duplicate Items; duplicate Items; duplicate Items");
  EXPECT_EQ(Rows(center_, "SELECT Price FROM Items WHERE Id = 1"), "12.3457\n");
}

}  // namespace
}  // namespace tamaril::replication
