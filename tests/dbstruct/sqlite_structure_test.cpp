#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <sstream>

#include "dataset/field.h"
#include "dbaccess/connection.h"
#include "dbaccess/query_dataset.h"
#include "dbstruct/errors.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "support/expect_throw_msg.h"
#include "support/temp_dir.h"

namespace tamaril::dbstruct {
namespace {

using dbaccess::Value;

constexpr const char* kGuid1 = "{11111111-1111-1111-1111-111111111111}";
constexpr const char* kGuid2 = "{22222222-2222-2222-2222-222222222222}";

class SqliteStructureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.SetConnectionString("Provider=SQLite;Data Source=" + folder_.path());
    db_.Open();
    db_.CreateDatabase("s");
    db_.SetDefaultDatabase("s");
  }

  tSQLiteDatabase_Structure& Scan() {
    structure_.Scan();
    return structure_;
  }
  tSQLiteTbl_Structure& Table(const std::string& name) {
    auto* table = dynamic_cast<tSQLiteTbl_Structure*>(structure_.FindTable(name));
    if (table == nullptr) throw std::runtime_error("no table " + name);
    return *table;
  }
  // A one-row source dataset made by a query on the same database.
  std::unique_ptr<dbaccess::TQueryDataSet> Source(const std::string& select) {
    auto source = std::make_unique<dbaccess::TQueryDataSet>(db_, select);
    source->SetUnidirectional(false);
    source->Open();
    return source;
  }
  std::string One(const std::string& sql) {
    auto rows = db_.Query(sql);
    return rows->Next() ? (rows->Get(0).IsNull() ? "NULL" : rows->Get(0).AsString()) : "none";
  }

  testing::TempDir folder_;
  dbaccess::Connection db_;
  tSQLiteDatabase_Structure structure_{&db_};
};

TEST_F(SqliteStructureTest, IdentityFollowsTheTablesOwnProgression) {
  db_.Execute(
      "CREATE TABLE Orders (Id INTEGER IDENTITY(3,10) PRIMARY KEY, Name VARCHAR(20));"
      "CREATE TABLE Empty (Id INTEGER IDENTITY(3,10) PRIMARY KEY);"
      "INSERT INTO Orders (Id) VALUES (3),(13),(23),(7),(17)");
  Scan();
  tSQLiteTbl_Structure& orders = Table("Orders");
  EXPECT_EQ(orders.IdentityColumn, "Id");
  EXPECT_EQ(orders.IntKeyColumn, "Id");
  EXPECT_EQ(orders.IdentitySeed, 3);
  EXPECT_EQ(orders.IdentityIncrement, 10);
  EXPECT_EQ(orders.IdentityReseedValue, 23);
  EXPECT_EQ(Table("Empty").IdentityReseedValue, 3);

  // New local rows continue the own progression; explicit foreign ids are accepted.
  structure_.CreateIdentityTriggers();
  db_.Execute(
      "INSERT INTO Orders (Name) VALUES ('a'); INSERT INTO Orders (Id, Name) VALUES (47, 'b');"
      "INSERT INTO Orders (Name) VALUES ('c')");
  EXPECT_EQ(One("SELECT group_concat(Id) FROM (SELECT Id FROM Orders WHERE Name IS NOT NULL ORDER BY rowid)"),
            "33,47,43");
  db_.Execute("INSERT INTO Empty DEFAULT VALUES");
  EXPECT_EQ(One("SELECT Id FROM Empty"), "3");
}

TEST_F(SqliteStructureTest, RowGuidIdentifiesRowsUnlessIgnored) {
  db_.Execute(
      "CREATE TABLE Orders (Id INTEGER IDENTITY(1,1) PRIMARY KEY, RG UNIQUEIDENTIFIER ROWGUIDCOL, "
      "Name VARCHAR(20), Code VARCHAR(5) UNIQUE, Total INTEGER GENERATED ALWAYS AS (Id * 2));"
      "INSERT INTO Orders (Id, RG, Name, Code) VALUES (1, '" +
      std::string(kGuid1) +
      "', 'one', 'X1'),"
      "(2, '" +
      kGuid2 + "', 'two', 'X2')");
  Scan();
  tSQLiteTbl_Structure& orders = Table("Orders");
  EXPECT_EQ(orders.RowGuidColumn, "RG");
  EXPECT_TRUE(orders.Identifiable);
  EXPECT_FALSE(orders.IsFieldWritable("Total"));
  EXPECT_TRUE(orders.HasField("total"));
  EXPECT_EQ(orders.RecordKeyCondition(), "\"RG\"=:KEY_RG");

  auto by_guid = orders.FindExistingByKey(kGuid2, 1);
  ASSERT_NE(by_guid, nullptr);
  EXPECT_TRUE(by_guid->FoundByIdentity);
  EXPECT_EQ(by_guid->RowGuidMatch->FieldByName("Name").AsString(), "two");

  // A deletion names its row by RowGuid and id: unambiguous only when both name the same row.
  std::string deletion;
  auto same_row = orders.FindExistingByKey(kGuid2, 2);
  ASSERT_NE(same_row, nullptr);
  EXPECT_FALSE(same_row->IsAmbiguous(deletion)) << deletion;
  EXPECT_TRUE(by_guid->IsAmbiguous(deletion));  // id 1 is the other row
  EXPECT_EQ(deletion, "PK_Orders");
  auto missing_id = orders.FindExistingByKey(kGuid2, 9);
  ASSERT_NE(missing_id, nullptr);
  EXPECT_TRUE(missing_id->IsAmbiguous(deletion));
  EXPECT_EQ(deletion, "Id");

  // The source row carries another site's RowGuid but the id and code of row 1.
  auto source =
      Source("SELECT 1 AS Id, '{33333333-3333-3333-3333-333333333333}' AS RG, 'new' AS Name, 'X1' AS Code");
  auto by_row = orders.FindExistingRecords(*source);
  ASSERT_NE(by_row, nullptr);
  EXPECT_FALSE(by_row->FoundByIdentity);
  std::string conflict;
  EXPECT_TRUE(by_row->IsAmbiguous(conflict));
  EXPECT_EQ(conflict, "PK_Orders");

  tSQLiteDatabase_Structure ignoring(&db_);
  ignoring.Scan();
  auto& by_key = dynamic_cast<tSQLiteTbl_Structure&>(*ignoring.FindTable("Orders"));
  by_key.IgnoreRowGuid = true;
  EXPECT_EQ(by_key.RecordKeyCondition(), "\"Id\"=:KEY_Id");
  auto found = by_key.FindExistingRecords(*source);
  ASSERT_NE(found, nullptr);
  EXPECT_TRUE(found->FoundByIdentity);
  EXPECT_EQ(found->RowGuidColumn, "");
  ASSERT_EQ(found->KeyMatches.size(), 2u);
  EXPECT_EQ(found->KeyMatches[0].IndexName, "PK_Orders");

  source->FieldByName("Name").Tag = 1;
  by_key.UpdateRecord(*source);
  EXPECT_EQ(One("SELECT Name || RG FROM Orders WHERE Id = 1"), std::string("new") + kGuid1);
  EXPECT_EQ(by_key.GetKeyValuesText(*source), "Id=1");
}

TEST_F(SqliteStructureTest, TwoColumnKeyCannotIdentifyARow) {
  db_.Execute(
      "CREATE TABLE Pairs (A INTEGER, B INTEGER, Quote VARCHAR(10), PRIMARY KEY (A, B));"
      "INSERT INTO Pairs VALUES (1, 2, 'x')");
  Scan();
  tSQLiteTbl_Structure& pairs = Table("Pairs");
  EXPECT_EQ(pairs.IntKeyColumn, "");
  EXPECT_FALSE(pairs.Identifiable);
  EXPECT_THROW_MSG(pairs.DeleteRecord("", 1), StructureError,
                   "Table Pairs has neither rowGuid, nor Integer primary key");
  EXPECT_EQ(pairs.GetKeyValuesText(*Source("SELECT * FROM Pairs")), "A=1,B=2");
  // A quote inside a value is bound, not pasted.
  auto source = Source("SELECT 1 AS A, 2 AS B, 'it''s' AS Quote");
  source->FieldByName("Quote").Tag = 1;
  pairs.UpdateRecord(*source);
  EXPECT_EQ(One("SELECT Quote FROM Pairs"), "it's");
}

TEST_F(SqliteStructureTest, RequiredColumnsGetTheirTypesDefault) {
  db_.Execute(
      "CREATE TABLE Items (Id INTEGER PRIMARY KEY, Name VARCHAR(20) NOT NULL, Code CHAR(3) NOT NULL, "
      "Qty INTEGER NOT NULL, At DATETIME NOT NULL, Note VARCHAR(20), Flag BIT NOT NULL)");
  Scan();
  Table("Items").InsertRecord(*Source("SELECT 5 AS Id, NULL AS Name"));
  EXPECT_EQ(One("SELECT '[' || Name || '|' || Code || '|' || Qty || '|' || Flag || ']' FROM Items"),
            "[|-|0|0]");
  EXPECT_EQ(One("SELECT Note FROM Items"), "NULL");
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char today[16];
  std::strftime(today, sizeof today, "%Y-%m-%d", &local);
  const std::string at = One("SELECT At FROM Items");
  EXPECT_EQ(at.substr(0, 10), today);
  EXPECT_EQ(at.size(), 23u) << at;
}

TEST_F(SqliteStructureTest, DeleteCascadesThroughTwoLevelsAndSelfReferences) {
  db_.Execute(
      "CREATE TABLE Orders (Id INTEGER PRIMARY KEY, RG UNIQUEIDENTIFIER ROWGUIDCOL);"
      "CREATE TABLE Lines (Id INTEGER PRIMARY KEY, OrderId INTEGER REFERENCES Orders(Id));"
      "CREATE TABLE Notes (Id INTEGER PRIMARY KEY, LineId INTEGER REFERENCES Lines(Id), "
      "Parent INTEGER REFERENCES Notes(Id));"
      "INSERT INTO Orders VALUES (1, '" +
      std::string(kGuid1) + "'), (2, '" + kGuid2 +
      "');"
      "INSERT INTO Lines VALUES (10, 1), (11, 1), (20, 2);"
      "INSERT INTO Notes VALUES (100, 10, NULL), (101, 11, 100), (200, 20, NULL)");
  Scan();
  EXPECT_EQ(Table("Orders").DeleteRecord(kGuid1, 0), 5);
  EXPECT_EQ(One("SELECT group_concat(Id) FROM (SELECT Id FROM Notes UNION ALL SELECT Id FROM Lines "
                "UNION ALL SELECT Id FROM Orders)"),
            "200,20,2");
  // By integer key, and a table naming itself as master ends.
  EXPECT_EQ(Table("Notes").DeleteRecord("", 200), 1);
  EXPECT_EQ(Table("Lines").DeleteRecord("", 20), 1);
}

TEST_F(SqliteStructureTest, MastersExistSkipsNullKeys) {
  db_.Execute(
      "CREATE TABLE Orders (Id INTEGER PRIMARY KEY);"
      "CREATE TABLE Lines (Id INTEGER PRIMARY KEY, OrderId INTEGER, "
      "CONSTRAINT FK_Lines_Orders FOREIGN KEY (OrderId) REFERENCES Orders(Id));"
      "INSERT INTO Orders VALUES (1)");
  Scan();
  tSQLiteTbl_Structure& lines = Table("Lines");
  std::string name = "old";
  EXPECT_TRUE(lines.MastersExist(*Source("SELECT 1 AS Id, NULL AS OrderId"), false, name));
  EXPECT_EQ(name, "");
  EXPECT_TRUE(lines.MastersExist(*Source("SELECT 1 AS Id, 1 AS OrderId"), false, name));
  auto missing = Source("SELECT 1 AS Id, 9 AS OrderId");
  EXPECT_TRUE(lines.MastersExist(*missing, true, name));  // the key column is not flagged
  EXPECT_FALSE(lines.MastersExist(*missing, false, name));
  EXPECT_EQ(name, "FK_Lines_Orders");
}

// A master check is prepared once per set of key columns with a value; a key that gains a
// column afterwards is checked with it, not with the statement made before.
TEST_F(SqliteStructureTest, MasterChecksFollowTheKeysColumnsAndTheirChanges) {
  db_.Execute(
      "CREATE TABLE Orders (Id INTEGER PRIMARY KEY, Code VARCHAR(5));"
      "CREATE TABLE Lines (Id INTEGER PRIMARY KEY, OrderId INTEGER, OrderCode VARCHAR(5), "
      "CONSTRAINT FK_Lines_Orders FOREIGN KEY (OrderId) REFERENCES Orders(Id));"
      "INSERT INTO Orders VALUES (1, 'X')");
  Scan();
  tSQLiteTbl_Structure& lines = Table("Lines");
  std::string name;
  auto other_code = Source("SELECT 1 AS Id, 1 AS OrderId, 'Y' AS OrderCode");
  EXPECT_TRUE(lines.MastersExist(*other_code, false, name));
  EXPECT_FALSE(lines.MastersExist(*Source("SELECT 2 AS Id, 2 AS OrderId, 'X' AS OrderCode"), false, name));
  EXPECT_EQ(name, "FK_Lines_Orders");

  structure_.AddForeignKey("Orders", "Lines", "FK_Lines_Orders", "Code", "OrderCode");
  EXPECT_FALSE(lines.MastersExist(*other_code, false, name));
  EXPECT_EQ(name, "FK_Lines_Orders");
  EXPECT_TRUE(lines.MastersExist(*Source("SELECT 1 AS Id, 1 AS OrderId, 'X' AS OrderCode"), false, name));
  // Without a code only the id is checked, as before.
  EXPECT_TRUE(lines.MastersExist(*Source("SELECT 1 AS Id, 1 AS OrderId, NULL AS OrderCode"), false, name));
}

// In a write phase a master found once is taken as found while only the table's own rows are
// written; an insert trigger the phase keeps on may remove a master, so then every check asks.
TEST_F(SqliteStructureTest, AKeptInsertTriggerMakesEveryMasterCheckAsk) {
  db_.Execute(
      "CREATE TABLE Orders (Id INTEGER PRIMARY KEY);"
      "CREATE TABLE Lines (Id INTEGER PRIMARY KEY, OrderId INTEGER, "
      "CONSTRAINT FK_Lines_Orders FOREIGN KEY (OrderId) REFERENCES Orders(Id));"
      "CREATE TABLE Stock (Id INTEGER PRIMARY KEY, OrderId INTEGER, "
      "CONSTRAINT FK_Stock_Orders FOREIGN KEY (OrderId) REFERENCES Orders(Id));"
      "CREATE TRIGGER Closes AFTER INSERT ON Lines BEGIN DELETE FROM Orders WHERE Id = NEW.OrderId + 1; END;"
      "CREATE TRIGGER Audit AFTER INSERT ON Stock BEGIN DELETE FROM Orders WHERE Id = NEW.OrderId + 1; END;"
      "INSERT INTO Orders VALUES (1), (2), (3), (4)");
  Scan();
  tSQLiteTbl_Structure& lines = Table("Lines");
  tSQLiteTbl_Structure& stock = Table("Stock");
  lines.KeepEnabledTriggers = {"Closes"};
  db_.BeginTransaction();
  lines.BeginWrite();
  stock.BeginWrite();  // its trigger is set aside for the phase
  std::string name;
  EXPECT_TRUE(lines.MastersExist(*Source("SELECT 1 AS Id, 2 AS OrderId"), false, name));
  lines.InsertRecord(*Source("SELECT 1 AS Id, 1 AS OrderId"));  // the trigger removes order 2
  EXPECT_EQ(One("SELECT group_concat(Id) FROM Orders"), "1,3,4");
  EXPECT_FALSE(lines.MastersExist(*Source("SELECT 2 AS Id, 2 AS OrderId"), false, name));
  EXPECT_EQ(name, "FK_Lines_Orders");
  // Without a trigger on, the rows of the phase keep what they found.
  EXPECT_TRUE(stock.MastersExist(*Source("SELECT 1 AS Id, 4 AS OrderId"), false, name));
  stock.InsertRecord(*Source("SELECT 1 AS Id, 3 AS OrderId"));
  EXPECT_EQ(One("SELECT group_concat(Id) FROM Orders"), "1,3,4");
  lines.EndWrite();
  stock.EndWrite();
  db_.Commit();
}

TEST_F(SqliteStructureTest, WritePhaseKeepsOnlyTheListedTriggers) {
  db_.Execute(
      "CREATE TABLE Items (Id INTEGER PRIMARY KEY);"
      "CREATE TABLE Log (Text VARCHAR(20));"
      "CREATE TRIGGER tr_Audit AFTER INSERT ON Items BEGIN INSERT INTO Log VALUES ('audit'); END;"
      "CREATE TRIGGER rep_tr_Del_Items AFTER DELETE ON Items BEGIN INSERT INTO Log VALUES ('del'); END;"
      "CREATE TRIGGER tr_Touch AFTER UPDATE OF Id ON Items BEGIN INSERT INTO Log VALUES ('upd'); END");
  Scan();
  tSQLiteTbl_Structure& items = Table("Items");
  EXPECT_TRUE(items.HasInsertTrigger && items.HasDeleteTrigger && items.HasUpdateTrigger);
  items.KeepEnabledTriggers = {"REP_TR_DEL_ITEMS"};
  EXPECT_THROW_MSG(items.BeginWrite(), StructureError, "BeginWrite on Items needs an open transaction");

  db_.BeginTransaction();
  items.BeginWrite();
  db_.Execute("INSERT INTO Items VALUES (1); UPDATE Items SET Id = 2; DELETE FROM Items");
  items.EndWrite();
  db_.Commit();
  db_.Execute("INSERT INTO Items VALUES (3)");
  EXPECT_EQ(One("SELECT group_concat(Text) FROM Log"), "del,audit");

  // After a rollback the triggers are back already and EndWrite leaves them.
  db_.BeginTransaction();
  items.BeginWrite();
  db_.Rollback();
  items.EndWrite();
  EXPECT_EQ(One("SELECT count(*) FROM sqlite_master WHERE type = 'trigger'"), "3");
}

TEST_F(SqliteStructureTest, ListingPutsMastersFirstAndRefusesCycles) {
  db_.Execute(
      "CREATE TABLE A (Id INTEGER PRIMARY KEY, BId INTEGER, BX INTEGER, "
      "CONSTRAINT FK_AB FOREIGN KEY (BId, BX) REFERENCES B(Id, X));"
      "CREATE TABLE B (Id INTEGER, X INTEGER, CId INTEGER REFERENCES C(Id), PRIMARY KEY (Id, X));"
      "CREATE TABLE C (Id INTEGER IDENTITY(1,1) PRIMARY KEY, RG UNIQUEIDENTIFIER ROWGUIDCOL);"
      "CREATE VIEW V AS SELECT * FROM C");
  std::ostringstream out;
  WriteStructureListing(Scan(), out);
  EXPECT_EQ(out.str(),
            "C identity=Id rowguid=RG intkey=Id pk=Id masters=\n"
            "B identity= rowguid= intkey= pk=Id,X masters=C\n"
            "A identity= rowguid= intkey=Id pk=Id masters=B\n"
            "V identity= rowguid= intkey= pk= masters=\n"
            "FK FK_B_1 B(CId) -> C(Id)\n"
            "FK FK_AB A(BId,BX) -> B(Id,X)\n");

  db_.Execute(
      "CREATE TABLE P (Id INTEGER PRIMARY KEY, QId INTEGER REFERENCES Q(Id));"
      "CREATE TABLE Q (Id INTEGER PRIMARY KEY, PId INTEGER REFERENCES P(Id))");
  EXPECT_THROW_MSG(structure_.Scan(), StructureError, "Circular master detail links not allowed");
}

TEST_F(SqliteStructureTest, NamesWithBlanksAndQuotesWorkInEveryStatement) {
  db_.Execute(
      "CREATE TABLE \"Order Details\" (\"Order Id\" INTEGER NOT NULL PRIMARY KEY, \"Unit \"\"Price\" REAL, "
      "\"Select\" INTEGER);"
      "CREATE TABLE \"Order Notes\" (Id INTEGER PRIMARY KEY, \"Detail Id\" INTEGER REFERENCES \"Order "
      "Details\"(\"Order Id\"))");
  Scan();
  auto& details = Table("Order Details");
  EXPECT_EQ(details.IntKeyColumn, "Order Id");
  EXPECT_EQ(details.RecordKeyCondition(), "\"Order Id\"=:KEY_rep_Column1");
  auto row = Source("SELECT 5 AS \"Order Id\", 2.5 AS \"Unit \"\"Price\", 7 AS \"Select\"");
  details.InsertRecord(*row);
  EXPECT_EQ(One("SELECT \"Unit \"\"Price\" || '/' || \"Select\" FROM \"Order Details\""), "2.5/7");
  db_.Execute("INSERT INTO \"Order Notes\" VALUES (1, 5), (2, NULL)");

  auto changed = Source("SELECT 5 AS \"Order Id\", 4.5 AS \"Unit \"\"Price\", 7 AS \"Select\"");
  changed->FieldByName("Unit \"Price").Tag = 1;
  details.UpdateRecord(*changed);
  EXPECT_EQ(One("SELECT \"Unit \"\"Price\" FROM \"Order Details\""), "4.5");

  std::unique_ptr<tExistingRecords> found;
  ASSERT_TRUE(details.TryFindExistingRecords(*changed, found));
  EXPECT_EQ(found->KeyMatches.size(), 1u);
  ASSERT_TRUE(details.TryFindExistingByKey("", 5, found));
  EXPECT_TRUE(found->FoundByIdentity);

  EXPECT_EQ(details.DeleteRecord("", 5), 2);  // its note first
  EXPECT_EQ(One("SELECT group_concat(Id) FROM \"Order Notes\""), "2");
  int count = -1;
  details.OpenTableData("", "", count);
  EXPECT_EQ(count, 0);
}

TEST_F(SqliteStructureTest, AUniqueRowGuidIndexSharesTheRowGuidLookupAndHeldRowsStayAsTheyWere) {
  db_.Execute(
      "CREATE TABLE Orders (Id INTEGER PRIMARY KEY, RG UNIQUEIDENTIFIER ROWGUIDCOL UNIQUE, Name VARCHAR(20));"
      "INSERT INTO Orders (Id, RG, Name) VALUES (1, '" +
      std::string(kGuid1) + "', 'one'), (2, '" + kGuid2 + "', 'two')");
  Scan();
  tSQLiteTbl_Structure& orders = Table("Orders");
  auto first_source = Source("SELECT 1 AS Id, '" + std::string(kGuid1) + "' AS RG, 'x' AS Name");
  auto first = orders.FindExistingRecords(*first_source);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(first->RowGuidMatch, nullptr);
  ASSERT_EQ(first->KeyMatches.size(), 2u);  // the primary key and the unique RowGuid index
  // Both are answered by the RowGuid lookup's row: the unique RowGuid index asks the same, and
  // the row carries the source's primary key.
  const auto shared =
      std::count_if(first->KeyMatches.begin(), first->KeyMatches.end(),
                    [&](const tKeyMatch& match) { return match.Rows == first->RowGuidMatch; });
  EXPECT_EQ(shared, 2);
  std::string conflict;
  EXPECT_FALSE(first->IsAmbiguous(conflict)) << conflict;

  // The next row's lookup must not refill the rows the first result still holds.
  auto second_source = Source("SELECT 2 AS Id, '" + std::string(kGuid2) + "' AS RG, 'y' AS Name");
  auto second = orders.FindExistingRecords(*second_source);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->RowGuidMatch->FieldByName("Name").AsString(), "one");
  EXPECT_EQ(second->RowGuidMatch->FieldByName("Name").AsString(), "two");
  first.reset();
  second.reset();
  auto again = orders.FindExistingRecords(*first_source);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->RowGuidMatch->FieldByName("Name").AsString(), "one");
  EXPECT_EQ(again->RowGuidMatch->RecordCount(), 1);
}

// In a write phase on an empty table the primary-key lookup of a key the phase has not written
// is not sent: a key it wrote, also one it bound for a row without one, is still found.
TEST_F(SqliteStructureTest, AFreshPhaseFindsTheKeysItWroteAndThoseTheDatabaseGave) {
  db_.Execute(
      "CREATE TABLE Items (Id INTEGER PRIMARY KEY, RG UNIQUEIDENTIFIER ROWGUIDCOL, Name VARCHAR(20));"
      "CREATE UNIQUE INDEX rep_ux_Items_RG ON Items (RG);");
  Scan();
  tSQLiteTbl_Structure& items = Table("Items");
  db_.BeginTransaction();
  items.BeginWrite();
  auto source = [&](const std::string& id, char guid) {
    return Source("SELECT " + id + " AS Id, '{" + std::string(8, guid) +
                  "-2222-2222-2222-222222222222}' AS RG, 'x' AS Name");
  };
  EXPECT_EQ(items.FindExistingRecords(*source("5", 'A')), nullptr);
  items.InsertRecord(*source("5", 'A'));
  // Another RowGuid under a key written in the phase: found by the key, not by identity.
  auto same_key = items.FindExistingRecords(*source("5", 'B'));
  ASSERT_NE(same_key, nullptr);
  EXPECT_FALSE(same_key->FoundByIdentity);
  EXPECT_EQ(same_key->KeyMatches.size(), 1u);
  EXPECT_EQ(items.FindExistingRecords(*source("6", 'B')), nullptr);

  // A row without a key binds the required column's default: that key is found from now on.
  items.InsertRecord(*source("NULL", 'C'));
  EXPECT_EQ(One("SELECT group_concat(Id) FROM Items"), "0,5");
  auto given = items.FindExistingRecords(*source("0", 'D'));
  ASSERT_NE(given, nullptr);
  EXPECT_FALSE(given->FoundByIdentity);
  std::string conflict;
  EXPECT_TRUE(given->IsAmbiguous(conflict));
  items.EndWrite();
  db_.Commit();
}

TEST_F(SqliteStructureTest, WritesFollowTheSourcesFieldsAndTheColumnsAsTheyChangeBetweenRows) {
  db_.Execute("CREATE TABLE Items (Id INTEGER PRIMARY KEY, Name VARCHAR(20), Note VARCHAR(20), At DATETIME)");
  Scan();
  tSQLiteTbl_Structure& items = Table("Items");
  dbaccess::TQueryDataSet source(db_, "SELECT 1 AS Id, 'n1' AS Name, 'x1' AS Note");
  source.SetUnidirectional(false);
  source.Open();
  items.InsertRecord(source);
  // The same dataset with other fields: in another order, one missing, one the table lacks.
  source.Close();
  source.SetSQL("SELECT 'x2' AS Note, 2 AS Id, 'o2' AS Other, '2020-01-02 03:04:05' AS At");
  source.Open();
  items.InsertRecord(source);
  // Fields renamed in place between two rows swap the columns they stand for.
  source.Close();
  source.SetSQL("SELECT 3 AS Id, 'n3' AS Name, 'x3' AS Note UNION ALL SELECT 4, 'n4', 'x4'");
  source.Open();
  items.InsertRecord(source);
  source.FindField("Name")->Name = "Swap";
  source.FindField("Note")->Name = "Name";
  source.FindField("Swap")->Name = "Note";
  source.Next();
  items.InsertRecord(source);
  EXPECT_EQ(One("SELECT group_concat(Id || ':' || ifnull(Name, '-') || ':' || ifnull(Note, '-') || ':' || "
                "ifnull(At, '-'), ' ') FROM (SELECT * FROM Items ORDER BY Id)"),
            "1:n1:x1:- 2:-:x2:2020-01-02 03:04:05 3:n3:x3:- 4:x4:n4:-");

  // A column renamed in place is the one its new name names from then on.
  const std::vector<dbaccess::Parameter> parameters{{"Label", dataset::FieldType::Unknown, 0, {}}};
  EXPECT_TRUE(items.ParameterValues(&source, parameters).front().IsNull());
  items.FieldDefs[1].Name = "Label";
  items.FieldDefs[1].Required = true;
  EXPECT_EQ(items.ParameterValues(&source, parameters).front(), Value::Text(""));
}

TEST_F(SqliteStructureTest, AnEmptyTableIsWrittenWithoutItsSetupIndexesAndGetsThemBack) {
  db_.Execute(
      "CREATE TABLE Groups (Id INTEGER PRIMARY KEY, RG UNIQUEIDENTIFIER ROWGUIDCOL);"
      "CREATE TABLE Items (Id INTEGER PRIMARY KEY, RG UNIQUEIDENTIFIER ROWGUIDCOL, Name VARCHAR(20), "
      "GroupId INTEGER REFERENCES Groups(Id));"
      "CREATE TABLE Tree (Id INTEGER PRIMARY KEY, RG UNIQUEIDENTIFIER ROWGUIDCOL, Up INTEGER REFERENCES "
      "Tree(Id));"
      "CREATE UNIQUE INDEX rep_ux_Items_RG ON Items (RG);"
      "CREATE INDEX rep_ix_Items_GroupId ON Items (GroupId);"
      "CREATE INDEX Own_Items_Name ON Items (Name);"
      "CREATE UNIQUE INDEX rep_ux_Tree_RG ON Tree (RG);"
      "CREATE INDEX rep_ix_Tree_Up ON Tree (Up);"
      "CREATE UNIQUE INDEX rep_ux_Groups_RG ON Groups (RG);"
      "CREATE TABLE Audited (Id INTEGER PRIMARY KEY, RG UNIQUEIDENTIFIER ROWGUIDCOL);"
      "CREATE UNIQUE INDEX rep_ux_Audited_RG ON Audited (RG);"
      "CREATE TABLE Log (Text VARCHAR(10));"
      "CREATE TRIGGER rep_tr_Del_Items AFTER DELETE ON Items BEGIN INSERT INTO Log VALUES ('del'); END;"
      "CREATE TRIGGER Audit AFTER INSERT ON Audited BEGIN INSERT INTO Log VALUES ('ins'); END;"
      "INSERT INTO Groups VALUES (1, '" +
      std::string(kGuid1) + "')");
  const std::string indexes =
      "SELECT group_concat(name || ':' || sql, ' | ') FROM "
      "(SELECT name, sql FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL ORDER BY name)";
  const std::string before = One(indexes);
  Scan();
  tSQLiteTbl_Structure& items = Table("Items");
  tSQLiteTbl_Structure& tree = Table("Tree");
  tSQLiteTbl_Structure& groups = Table("Groups");
  tSQLiteTbl_Structure& audited = Table("Audited");
  // As an import keeps them: the delete trigger stays on, and so does an insert trigger here.
  items.KeepEnabledTriggers = {"rep_tr_Del_Items"};
  audited.KeepEnabledTriggers = {"Audit"};

  db_.BeginTransaction();
  items.BeginWrite();
  tree.BeginWrite();
  groups.BeginWrite();
  audited.BeginWrite();
  // Set aside: the empty tables' RowGuid indexes and the join index of a table that does not
  // refer to itself. Kept: the user's own index, the self-reference's join index, every index
  // of a table that holds rows and of one whose insert trigger stays on.
  EXPECT_EQ(One("SELECT group_concat(name, ',') FROM (SELECT name FROM sqlite_master WHERE type = 'index' "
                "AND sql IS NOT NULL ORDER BY name)"),
            "Own_Items_Name,rep_ix_Tree_Up,rep_ux_Audited_RG,rep_ux_Groups_RG");
  audited.EndWrite();

  // A RowGuid written in the phase is found again; one not written is not, as before.
  auto first = Source("SELECT 1 AS Id, '" + std::string(kGuid2) + "' AS RG, 'a' AS Name, 1 AS GroupId");
  EXPECT_EQ(items.FindExistingRecords(*first), nullptr);
  items.InsertRecord(*first);
  auto again = items.FindExistingRecords(*first);
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->FoundByIdentity);
  EXPECT_EQ(again->RowGuidMatch->FieldByName("Name").AsString(), "a");
  // The same RowGuid written in another letter case is the same GUID.
  auto lower = Source("SELECT 7 AS Id, '{22222222-2222-2222-2222-22222222222a}' AS RG, 'b' AS Name");
  items.InsertRecord(*lower);
  auto upper = Source("SELECT 8 AS Id, '{22222222-2222-2222-2222-22222222222A}' AS RG, 'c' AS Name");
  auto cased = items.FindExistingRecords(*upper);
  ASSERT_NE(cased, nullptr);
  EXPECT_TRUE(cased->FoundByIdentity);
  // A row found by its key but not by its RowGuid is still there to see.
  auto same_id = Source("SELECT 1 AS Id, '{33333333-3333-3333-3333-333333333333}' AS RG, 'd' AS Name");
  auto by_key = items.FindExistingRecords(*same_id);
  ASSERT_NE(by_key, nullptr);
  EXPECT_FALSE(by_key->FoundByIdentity);
  std::string conflict;
  EXPECT_TRUE(by_key->IsAmbiguous(conflict));

  items.EndWrite();
  tree.EndWrite();
  groups.EndWrite();
  EXPECT_EQ(One(indexes), before);
  db_.Commit();

  // Once the phase is over the lookups ask the database again.
  auto after = Source("SELECT 9 AS Id, '{22222222-2222-2222-2222-22222222222A}' AS RG");
  auto found = items.FindExistingRecords(*after);
  ASSERT_NE(found, nullptr);
  EXPECT_TRUE(found->FoundByIdentity);

  // A rolled-back phase has its indexes back already; EndWrite leaves them.
  db_.Execute("DELETE FROM Items");
  db_.BeginTransaction();
  items.BeginWrite();
  EXPECT_EQ(One("SELECT count(*) FROM sqlite_master WHERE name = 'rep_ux_Items_RG'"), "0");
  db_.Rollback();
  items.EndWrite();
  EXPECT_EQ(One(indexes), before);

  // Two rows with one RowGuid cannot get past the index built again: the phase fails.
  db_.BeginTransaction();
  items.BeginWrite();
  db_.Execute("INSERT INTO Items (Id, RG) VALUES (20, '" + std::string(kGuid1) + "'), (21, '" + kGuid1 +
              "')");
  EXPECT_THROW(items.EndWrite(), Error);
  db_.Rollback();
  EXPECT_EQ(One(indexes), before);
  EXPECT_EQ(One("SELECT count(*) FROM Items"), "0");
}

}  // namespace
}  // namespace tamaril::dbstruct
