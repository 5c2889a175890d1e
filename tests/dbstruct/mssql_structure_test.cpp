#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "dataset/field.h"
#include "dataset/memory_table.h"
#include "dbaccess/errors.h"
#include "dbaccess/query_dataset.h"
#include "dbstruct/errors.h"
#include "dbstruct/mssql/database_structure.h"
#include "dbstruct/mssql/server_version.h"
#include "dbstruct/mssql/table_structure.h"
#include "mssql_scripted_backend.h"
#include "support/expect_throw_msg.h"
#include "support/temp_dir.h"

namespace tamaril::dbstruct {
namespace {

using dataset::FieldType;
using dbaccess::Value;
using testing::Column;
using testing::ScriptedServer;
using Texts = std::vector<std::string>;

ServerVersionReader Version(std::uint8_t code, bool ok = true) {
  return [code, ok](const std::string&, std::uint8_t& version) {
    version = code;
    return ok;
  };
}

/// Orders (RowGuid RG, identity key Id, computed Total, a DELETE trigger) and its detail Lines,
/// whose primary key is given by column number.
struct Shop : ScriptedServer {
  Shop() {
    auto& b = *backend;
    b.tables = {"Lines", "Orders"};
    b.columns["Orders"] = {
        Column("RG", FieldType::Guid, false),        Column("Id", FieldType::AutoInc, false),
        Column("Name", FieldType::String, true),     Column("Created", FieldType::DateTime, false),
        Column("Code", FieldType::FixedChar, false), Column("Total", FieldType::Float, true)};
    b.indexes["Orders"] = {{"PK_Orders", "Id", true, true}, {"UQ_Orders_Name", "Name", false, true}};
    b.columns["Lines"] = {Column("Id", FieldType::Integer, false),
                          Column("OrderId", FieldType::Integer, true),
                          Column("Qty", FieldType::Integer, true)};
    b.indexes["Lines"] = {{"PK_Lines", "1", true, true}};
    b.foreign_keys = {{"SHOP", "Orders", "Id", "SHOP", "Lines", "OrderId", "FK_Lines_Orders"},
                      {"OTHER", "Orders", "Id", "SHOP", "Lines", "Qty", "FK_Elsewhere"}};
    b.primary_keys = {
        {"SHOP", "Orders", "PK_Orders"}, {"SHOP", "Lines", "PK_Lines"}, {"OTHER", "Lines", "PK_X"}};
    b.object_properties = {{"Orders|TableHasRowGuidCol", 1},
                           {"Orders|TableHasIdentity", 1},
                           {"Orders|TableHasDeleteTrigger", 1}};
    b.column_properties = {
        {"Orders|RG|IsRowGuidCol", 1}, {"Orders|Id|IsIdentity", 1}, {"Orders|Total|IsComputed", 1}};
    b.answers = {{"select IDENT_SEED('Orders')",
                  testing::MakeRows({{"", FieldType::Integer}, {"", FieldType::Integer}},
                                    {{Value::Integer(3), Value::Integer(10)}})},
                 {"select MAX(IDENTITYCOL) from Orders", testing::Scalar(23)},
                 {"select @@LANGID", testing::Scalar(5)}};
    b.procedures["sp_helplanguage"] =
        testing::MakeRows({{"langid", FieldType::Integer}, {"dateformat", FieldType::String}},
                          {{Value::Integer(0), Value::Text("mdy")}, {Value::Integer(5), Value::Text("dmy")}});
  }

  tADODatabase_Structure& Scanned() {
    database = std::make_unique<tADODatabase_Structure>(connection, Version(16));
    database->Scan();
    backend->sent.clear();
    return *database;
  }
  tADOTbl_Structure& Table(const char* name) {
    return dynamic_cast<tADOTbl_Structure&>(*database->FindTable(name));
  }

  std::unique_ptr<tADODatabase_Structure> database;
};

std::unique_ptr<dataset::TQVMMemoryTable> OrderRow(const std::string& name, bool with_created) {
  auto row = std::make_unique<dataset::TQVMMemoryTable>();
  row->SetFieldLayout(
      "RG;Guid;38;0;Id;Integer;0;0;Name;String;20;0;Created;DateTime;0;0;Code;FixedChar;3;0;Total;Float;0;0");
  row->Open();
  row->Append();
  row->FieldByName("RG").SetAsString("{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
  row->FieldByName("Id").SetAsInteger(13);
  row->FieldByName("Name").SetAsString(name);
  // 1 February 2003 14:05:06.007
  if (with_created)
    row->FieldByName("Created").SetAsDateTime(37653.0 + (14 * 3600 + 5 * 60 + 6.007) / 86400.0);
  row->Post();
  return row;
}

TEST(MssqlDatabase, CreationRefusesUnknownAndOldServers) {
  ScriptedServer server;
  EXPECT_THROW_MSG(tADODatabase_Structure database(server.connection, Version(0, false)), StructureError,
                   "Cannot determine SQL server version");
  // 6.50 SP5a
  EXPECT_THROW_MSG(tADODatabase_Structure database(server.connection, Version(7)), StructureError,
                   "SQL Server version at least 7.0 expected");
  EXPECT_NO_THROW(tADODatabase_Structure(server.connection, Version(8)));
  EXPECT_THROW_MSG(tMSSQLPropAccessor accessor(server.connection, 7), StructureError,
                   "SQL Server version at least 7.0 expected");
  tMSSQLPropAccessor accessor(server.connection, 8);
  server.backend->object_properties["Orders|IsProcedure"] = 1;
  EXPECT_EQ(accessor.ObjectProperty("Orders", "IsProcedure"), 1);
  EXPECT_EQ(accessor.ObjectProperty("Missing", "IsProcedure"), 0);  // NULL answer
  EXPECT_EQ(server.backend->sent.back().Named(),
            "SELECT OBJECTPROPERTY(OBJECT_ID(:OBJECT_NAME), :Property_Name)");
  EXPECT_EQ(accessor.ColumnProperty("Orders", "Id", "IsIdentity"), 0);
  EXPECT_EQ(server.backend->sent.back().Named(),
            "SELECT COLUMNPROPERTY(OBJECT_ID(:Table_Name), :Field_Name, :Property_Name)");
  EXPECT_EQ(server.backend->sent.back().params[1].value, Value::Text("Id"));
}

TEST(MssqlDatabase, ScanReadsDateOrderKeysAndAliasPrefix) {
  Shop shop;
  shop.backend->tables.push_back("T_Orders");
  shop.backend->tables.push_back("tt_log");
  auto& database = shop.Scanned();
  EXPECT_EQ(database.LanguageId, 5);
  EXPECT_EQ(database.DateFormat, "dmy");
  EXPECT_EQ(database.AliasPrefix, "TTT_");
  EXPECT_EQ(database.Table(0).GetTableName(), "Orders");  // master first
  auto& lines = shop.Table("Lines");
  ASSERT_EQ(lines.Masters().Count(), 1);  // the key from the other database is skipped
  EXPECT_EQ(lines.Masters().Items(0).Items(0).Name, "FK_Lines_Orders");
  EXPECT_EQ(lines.Masters().Items(0).Count(), 1);
  EXPECT_EQ(lines.PrimaryKeyIndexName, "PK_Lines");
  EXPECT_EQ(lines.IntKeyColumn, "Id");  // the column-number token "1"
  EXPECT_EQ(shop.Table("Orders").PrimaryKeyIndexName, "PK_Orders");
}

TEST(MssqlDatabase, CachedStructureAsksOnlyItsCurrentConnection) {
  Shop shop;
  auto& database = shop.Scanned();
  Shop later;  // the same server reached again by a later run
  database.CloseData();
  database.SetConnection(&later.connection);
  shop.Table("Orders").LoadStructure("Orders");
  EXPECT_TRUE(shop.backend->sent.empty());
  EXPECT_NE(later.backend->sent.size(), 0u);
  EXPECT_EQ(later.backend->sent.front().Named(),
            "SELECT OBJECTPROPERTY(OBJECT_ID(:OBJECT_NAME), :Property_Name)");
  EXPECT_EQ(shop.Table("Orders").RowGuidColumn, "RG");
}

TEST(MssqlDatabase, DateTimeLiteralFollowsTheLoginDateOrder) {
  ScriptedServer server;
  tADODatabase_Structure database(server.connection, Version(16));
  const double value = 37653.0 + (14 * 3600 + 5 * 60 + 6.007) / 86400.0;  // 2003-02-01 14:05:06.007
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"dmy", "01/02/2003 14:05:06.007"}, {"ymd", "2003/02/01 14:05:06.007"},
      {"MDY", "02/01/2003 14:05:06.007"}, {"ydm", "2003/01/02 14:05:06.007"},
      {"myd", "02/2003/01 14:05:06.007"}, {"dym", "01/2003/02 14:05:06.007"},
      {"", "2003-02-01 14:05:06.007"}};
  for (const auto& [order, expected] : cases) {
    database.DateFormat = order;
    EXPECT_EQ(database.FormatDateTimeLiteral(value), expected) << order;
  }
}

TEST(MssqlTable, LoadsIdentityOnItsOwnProgression) {
  Shop shop;
  auto& database = *(shop.database = std::make_unique<tADODatabase_Structure>(shop.connection, Version(16)));
  database.Scan();
  auto& orders = shop.Table("Orders");
  EXPECT_EQ(orders.RowGuidColumn, "RG");
  EXPECT_EQ(orders.IdentityColumn, "Id");
  EXPECT_EQ(orders.IntKeyColumn, "Id");
  EXPECT_EQ(orders.IdentitySeed, 3);
  EXPECT_EQ(orders.IdentityIncrement, 10);
  EXPECT_EQ(orders.IdentityReseedValue, 23);
  EXPECT_EQ(orders.ComputedColumns, Texts{"Total"});
  EXPECT_TRUE(orders.Identifiable);
  const Texts texts = shop.backend->Statements();
  EXPECT_NE(std::find(texts.begin(), texts.end(), "select IDENT_SEED('Orders'),IDENT_INCR('Orders ')"),
            texts.end());
  EXPECT_NE(std::find(texts.begin(), texts.end(),
                      "select MAX(IDENTITYCOL) from Orders where (IDENTITYCOL % 10) = 3 "),
            texts.end());
  EXPECT_EQ(orders.RecordKeyCondition(), "RG=:KEY_RG");
  orders.IgnoreRowGuid = true;
  EXPECT_EQ(orders.RecordKeyCondition(), "Id=:KEY_Id");

  shop.backend->answers[1].second = testing::Scalar(std::nullopt);  // no row on the own progression
  orders.LoadStructure("Orders");
  EXPECT_EQ(orders.IdentityReseedValue, 3);
}

TEST(MssqlTable, CascadeDeleteGoesDeepestFirstAndEscapesTheRowGuid) {
  Shop shop;
  auto& database = shop.Scanned();
  database.AliasPrefix = "T_";
  shop.backend->affected = {{"Delete T_1", 2}, {"Delete T_0", 1}};
  EXPECT_EQ(shop.Table("Orders").DeleteRecord("{A'B}", 0), 3);
  EXPECT_EQ(shop.backend->Statements(),
            (Texts{"Delete T_1 from Lines T_1  join Orders T_0 on T_0.Id=T_1.OrderId WHERE T_0.RG='{A''B}' ",
                   "Delete T_0 from Orders T_0  WHERE T_0.RG='{A''B}' "}));

  shop.backend->sent.clear();
  shop.Table("Orders").IgnoreRowGuid = true;
  shop.Table("Orders").DeleteRecord("", 42);
  EXPECT_EQ(shop.backend->Statements().back(), "Delete T_0 from Orders T_0  WHERE T_0.Id=42 ");
}

TEST(MssqlTable, SelfReferenceCascadeIsBounded) {
  Shop shop;
  shop.backend->foreign_keys.push_back({"SHOP", "Lines", "Id", "SHOP", "Lines", "Qty", "FK_Lines_Parent"});
  auto& database = shop.Scanned();
  database.AliasPrefix = "T_";
  shop.Table("Lines").DeleteRecord("", 7);
  EXPECT_EQ(shop.backend->Statements(),
            (Texts{"Delete T_1 from Lines T_1  join Lines T_0 on T_0.Id=T_1.Qty WHERE T_0.Id=7 ",
                   "Delete T_0 from Lines T_0  WHERE T_0.Id=7 "}));
}

TEST(MssqlTable, DeleteWithoutIdentifyingColumnFails) {
  Shop shop;
  shop.backend->columns["Pairs"] = {Column("A", FieldType::Integer, false),
                                    Column("B", FieldType::Integer, false)};
  shop.backend->indexes["Pairs"] = {{"PK_Pairs", "A;B", true, true}};
  shop.backend->tables.push_back("Pairs");
  shop.Scanned();
  auto& pairs = shop.Table("Pairs");
  EXPECT_EQ(pairs.IntKeyColumn, "");
  EXPECT_FALSE(pairs.Identifiable);
  EXPECT_THROW_MSG(pairs.DeleteRecord("", 1), StructureError,
                   "Table Pairs has neither rowGuid, nor Integer primary key");
}

TEST(MssqlTable, WritePhaseSwitchesIdentityAndTriggers) {
  Shop shop;
  shop.Scanned();
  auto& orders = shop.Table("Orders");
  orders.KeepEnabledTriggers = {"rep_tr_Del_Orders"};
  orders.BeginWrite();
  orders.EndWrite();
  EXPECT_EQ(
      shop.backend->Statements(),
      (Texts{"SET IDENTITY_INSERT Orders ON", "ALTER TABLE Orders DISABLE TRIGGER ALL",
             "ALTER TABLE Orders ENABLE TRIGGER rep_tr_Del_Orders", "ALTER TABLE Orders ENABLE TRIGGER ALL",
             "SET IDENTITY_INSERT Orders OFF", "DBCC CHECKIDENT (Orders, RESEED, 23)"}));

  shop.backend->sent.clear();
  shop.backend->fail_on = "ALTER TABLE";
  EXPECT_THROW_MSG(orders.BeginWrite(), dbaccess::DatabaseError,
                   "refused: ALTER TABLE Orders DISABLE TRIGGER ALL");
  EXPECT_EQ(shop.backend->Statements(),
            (Texts{"SET IDENTITY_INSERT Orders ON", "ALTER TABLE Orders DISABLE TRIGGER ALL",
                   "SET IDENTITY_INSERT Orders OFF", "DBCC CHECKIDENT (Orders, RESEED, 23)"}));

  shop.backend->sent.clear();
  shop.backend->fail_on.clear();
  shop.Table("Lines").BeginWrite();  // neither identity nor triggers
  shop.Table("Lines").EndWrite();
  EXPECT_TRUE(shop.backend->Statements().empty());
}

TEST(MssqlTable, InsertFillsRequiredDefaultsAndServerDates) {
  Shop shop;
  shop.Scanned();
  auto row = OrderRow("It's", true);
  shop.Table("Orders").InsertRecord(*row);
  const auto& run = shop.backend->sent.back();
  EXPECT_EQ(run.Named(),
            "INSERT INTO Orders (RG,Id,Name,Created,Code) VALUES (:RG,:Id,:Name,:Created,:Code)");
  ASSERT_EQ(run.params.size(), 5u);
  EXPECT_EQ(run.params[0].value, Value::Guid("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"));
  EXPECT_EQ(run.params[1].value, Value::Integer(13));
  EXPECT_EQ(run.params[2].value, Value::Text("It's"));  // a parameter, never pasted
  EXPECT_EQ(run.params[3].value, Value::Text("01/02/2003 14:05:06.007"));
  EXPECT_EQ(run.params[4].value, Value::Text("-"));  // required fixed-length character

  auto empty = OrderRow("", false);
  empty->Edit();
  empty->FieldByName("Name").Clear();
  empty->Post();
  shop.Table("Orders").InsertRecord(*empty);
  const auto& second = shop.backend->sent.back();
  EXPECT_TRUE(second.params[2].value.IsNull());                             // nullable
  EXPECT_EQ(second.params[3].value.kind(), dbaccess::ValueKind::DateTime);  // required: now
  EXPECT_GE(second.params[3].value.AsDateTime().year, 2024);
}

// The rows of a Unicode archive hold UTF-8: their texts go to the server as Unicode parameters
// (nvarchar), never pasted, and a column's size counts their characters, not their bytes.
TEST(MssqlTable, UnicodeRowsBindUnicodeParametersAndFitByCharacters) {
  Shop shop;
  shop.backend->columns["Orders"][2].size = 10;
  shop.Scanned();
  const dbaccess::UnicodeTextScope unicode(shop.connection, true);
  const auto row_named = [](const std::string& name) {
    auto row = std::make_unique<dataset::TQVMMemoryTable>();
    row->SetFieldLayout("RG;Guid;38;0;Id;Integer;0;0;Name;String;44;0;Code;FixedChar;3;0");
    row->Open();
    row->Append();
    row->FieldByName("RG").SetAsString("{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
    row->FieldByName("Id").SetAsInteger(13);
    row->FieldByName("Name").SetAsString(name);
    row->FieldByName("Code").SetAsString("ABC");
    row->Post();
    return row;
  };
  auto& orders = shop.Table("Orders");
  auto fits = row_named("Чайковский");  // 10 characters in 20 bytes
  std::string problem;
  EXPECT_TRUE(orders.ValuesFit(*fits, false, problem)) << problem;
  orders.InsertRecord(*fits);
  const auto& run = shop.backend->sent.back();
  EXPECT_EQ(run.Named(),
            "INSERT INTO Orders (RG,Id,Name,Created,Code) VALUES (:RG,:Id,:Name,:Created,:Code)");
  EXPECT_EQ(run.params[2].value, Value::UnicodeText("Чайковский"));
  EXPECT_NE(run.params[2].value, Value::Text("Чайковский"));
  auto longer = row_named("Ἀριστοτέλης");  // 11 characters
  EXPECT_FALSE(orders.ValuesFit(*longer, false, problem));
}

TEST(MssqlTable, UpdateRebuildsItsTextOnlyWhenTheFlaggedFieldsChange) {
  Shop shop;
  shop.Scanned();
  auto& orders = shop.Table("Orders");
  auto row = OrderRow("A", true);
  row->FieldByName("Name").Tag = 1;
  orders.UpdateRecord(*row);
  row->FieldByName("Code").Tag = 1;
  row->FieldByName("Total").Tag = 1;  // computed: never written
  orders.UpdateRecord(*row);
  EXPECT_EQ(shop.backend->Statements(), (Texts{"UPDATE Orders SET Name=:Name WHERE RG=:KEY_RG",
                                               "UPDATE Orders SET Name=:Name,Code=:Code WHERE RG=:KEY_RG"}));
  EXPECT_EQ(shop.backend->sent.back().params.back().value,
            Value::Guid("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"));
}

TEST(MssqlTable, MastersExistQueriesOnlyKeysWithValues) {
  Shop shop;
  shop.Scanned();
  auto& lines = shop.Table("Lines");
  auto row = std::make_unique<dataset::TQVMMemoryTable>();
  row->SetFieldLayout("Id;Integer;0;0;OrderId;Integer;0;0;Qty;Integer;0;0");
  row->Open();
  row->Append();
  row->FieldByName("Id").SetAsInteger(1);
  row->Post();
  std::string constraint = "stale";
  EXPECT_TRUE(lines.MastersExist(*row, false, constraint));
  EXPECT_EQ(constraint, "");
  EXPECT_TRUE(shop.backend->sent.empty());

  row->Edit();
  row->FieldByName("OrderId").SetAsInteger(99);
  row->Post();
  shop.backend->answers.push_back({"select case", testing::Scalar(0)});
  EXPECT_FALSE(lines.MastersExist(*row, false, constraint));
  EXPECT_EQ(constraint, "FK_Lines_Orders");
  EXPECT_EQ(shop.backend->sent.back().Named(),
            "select case when exists(select * from Orders where Id=:OrderId) then 1 else 0 end");
  EXPECT_EQ(shop.backend->sent.back().params[0].value, Value::Integer(99));
  shop.backend->sent.clear();
  EXPECT_TRUE(lines.MastersExist(*row, true, constraint));  // OrderId not flagged as changed
  EXPECT_TRUE(shop.backend->sent.empty());
}

TEST(MssqlTable, MastersExistAsksOnlyForMastersNotFoundBefore) {
  Shop shop;
  shop.Scanned();
  auto& lines = shop.Table("Lines");
  auto row = std::make_unique<dataset::TQVMMemoryTable>();
  row->SetFieldLayout("Id;Integer;0;0;OrderId;Integer;0;0;Qty;Integer;0;0");
  row->Open();
  auto check = [&](std::int64_t order_id, std::int64_t answer) {
    row->Edit();
    row->FieldByName("OrderId").SetAsInteger(order_id);
    row->Post();
    shop.backend->answers = {{"select case", testing::Scalar(answer)}};
    std::string constraint;
    const bool exists = lines.MastersExist(*row, false, constraint);
    EXPECT_EQ(constraint, exists ? "" : "FK_Lines_Orders");
    return exists;
  };
  auto checks_sent = [&] {
    return std::count_if(shop.backend->sent.begin(), shop.backend->sent.end(),
                         [](const testing::Sent& sent) { return sent.text.starts_with("select case"); });
  };
  row->Append();
  row->FieldByName("Id").SetAsInteger(1);
  row->Post();

  EXPECT_TRUE(check(5, 1));
  EXPECT_TRUE(check(5, 0));  // found before: not asked again
  EXPECT_EQ(checks_sent(), 1);
  EXPECT_TRUE(check(7, 1));  // another master is asked for
  EXPECT_EQ(checks_sent(), 2);

  // A missing master may be appended later in the run, so it is asked for every time.
  EXPECT_FALSE(check(6, 0));
  EXPECT_TRUE(check(6, 1));
  EXPECT_EQ(checks_sent(), 4);
  EXPECT_EQ(shop.backend->sent.back().params[0].value, Value::Integer(6));

  // A write to the table may change a row that is a master, so everything found is asked again.
  row->FieldByName("Qty").Tag = 1;
  lines.UpdateRecord(*row);
  EXPECT_FALSE(check(5, 0));
  EXPECT_EQ(checks_sent(), 5);
  EXPECT_TRUE(check(5, 1));
  lines.CloseData();
  EXPECT_FALSE(check(5, 0));
  EXPECT_EQ(checks_sent(), 7);

  // A trigger left on could remove a master row while the table is written.
  lines.HasInsertTrigger = true;
  EXPECT_TRUE(check(8, 1));
  EXPECT_FALSE(check(8, 0));
  EXPECT_EQ(checks_sent(), 9);
}

TEST(MssqlTable, LookupsAndTableData) {
  Shop shop;
  shop.Scanned();
  auto& orders = shop.Table("Orders");
  shop.backend->answers.push_back({"Select * from Orders where RG=",
                                   testing::MakeRows({{"RG", FieldType::Guid}, {"Id", FieldType::Integer}},
                                                     {{Value::Guid("{X}"), Value::Integer(3)}})});
  shop.backend->answers.push_back({"Select * from Orders where Id=",
                                   testing::MakeRows({{"RG", FieldType::Guid}, {"Id", FieldType::Integer}},
                                                     {{Value::Guid("{X}"), Value::Integer(3)}})});
  auto found = orders.FindExistingByKey("{X}", 3);
  ASSERT_NE(found, nullptr);
  EXPECT_TRUE(found->FoundByIdentity);
  ASSERT_NE(found->RowGuidMatch, nullptr);
  EXPECT_EQ(found->RowGuidMatch->RecordCount(), 1);
  EXPECT_EQ(found->RowGuidColumn, "RG");
  EXPECT_EQ(found->IdentityColumn, "Id");
  // The id confirms the RowGuid's row through the primary key.
  ASSERT_EQ(found->KeyMatches.size(), 1u);
  EXPECT_EQ(found->KeyMatches[0].IndexName, "PK_Orders");
  EXPECT_EQ(shop.backend->Statements(),
            (Texts{"Select * from Orders where RG=:KEY_RG", "Select * from Orders where Id=:KEY_Id"}));
  EXPECT_EQ(shop.backend->sent[0].params[0].value, Value::Guid("{X}"));
  EXPECT_EQ(shop.backend->sent[1].params[0].value, Value::Integer(3));

  shop.backend->sent.clear();
  shop.backend->answers.pop_back();  // the id no longer answers
  auto row = OrderRow("A", true);
  auto by_row = orders.FindExistingRecords(*row);
  ASSERT_NE(by_row, nullptr);
  EXPECT_EQ(by_row->KeyMatches.size(), 0u);  // the key lookups found nothing
  EXPECT_EQ(shop.backend->Statements(),
            (Texts{"Select * from Orders where RG=:KEY_RG", "Select * from Orders where Id=:KEY_Id",
                   "Select * from Orders where Name=:KEY_Name"}));

  shop.backend->sent.clear();
  shop.backend->answers.push_back({"Select Count(*)", testing::Scalar(4)});
  int count = -1;
  auto data = orders.OpenTableData("", "", count);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(shop.backend->Statements(), Texts{"Select Count(*) from Orders "});
  EXPECT_EQ(dynamic_cast<dbaccess::TQueryDataSet&>(*data).SQL(), "Select * from Orders ");
  orders.OpenTableData("Id>1", "Name", count);
  EXPECT_EQ(shop.backend->Statements().back(), "Select Count(*) from Orders  where Id>1");
  EXPECT_EQ(orders.GetKeyValuesText(*row), "Id=13");
}

TEST(MssqlScripts, TriggerTexts) {
  Shop shop;
  shop.Scanned();
  EXPECT_EQ(
      shop.Table("Orders").BuildDeleteTriggerScript("rep_tr_Del_", "rep_DELETED", "TABLENAME", "RECORDGUID",
                                                    "RECORDID"),
      "IF EXISTS (SELECT name FROM sysobjects \r\n WHERE name = 'rep_tr_Del_Orders' AND type = 'TR') \r\n"
      " DROP TRIGGER rep_tr_Del_Orders\r\n GO \r\nCREATE TRIGGER rep_tr_Del_Orders ON Orders FOR DELETE "
      "AS\r\n"
      " INSERT INTO rep_DELETED (TABLENAME,RECORDGUID,RECORDID)\r\n select 'Orders',RG, Id from Deleted\r\n "
      "GO ");
  EXPECT_EQ(
      shop.Table("Lines").BuildInsertTriggerScript("rep_tr_Ins_",
                                                   {"rep_Date_Inserted", "rep_Signature_Inserted"},
                                                   {"datetime null", "varchar(10) null"}),
      "exec sp_columns @table_name='Lines',@column_name='rep_Date_Inserted'\r\nif (@@rowcount=0) BEGIN\r\n"
      "  ALTER TABLE Lines ADD rep_Date_Inserted datetime null\r\nEND\r\nGO\r\n"
      "exec sp_columns @table_name='Lines',@column_name='rep_Signature_Inserted'\r\nif (@@rowcount=0) "
      "BEGIN\r\n"
      "  ALTER TABLE Lines ADD rep_Signature_Inserted varchar(10) null\r\nEND\r\nGO\r\n"
      "IF EXISTS (SELECT name FROM sysobjects \r\n WHERE name = 'rep_tr_Ins_Lines' AND type = 'TR') \r\n"
      " DROP TRIGGER rep_tr_Ins_Lines\r\n GO \r\nCREATE TRIGGER rep_tr_Ins_Lines ON Lines FOR INSERT AS\r\n"
      " UPDATE Lines set rep_Date_Inserted=NULL,rep_Signature_Inserted=NULL\r\n"
      " FROM Lines INNER JOIN Inserted ON Lines.Id=Inserted.Id\r\n GO ");
}

TEST(MssqlScripts, WritersAppendSectionsAndHonourTheIgnoreList) {
  Shop shop;
  shop.backend->columns["Notes"] = {Column("Text", FieldType::String, true)};
  shop.backend->tables.push_back("Notes");
  auto& database = shop.Scanned();
  tamaril::testing::TempDir dir;
  const std::string file = dir.path() + "/setup.sql";
  const std::vector<std::string> ignore = {"ORDERS"};
  database.WriteDeleteTriggerScript(file, &ignore, "rep_tr_Del_", "rep_DELETED", "TABLENAME", "RECORDGUID",
                                    "RECORDID");
  database.WriteTrackingColumnsScript(file, nullptr, "rep_tr_Ins_", {"rep_Date_Updated"}, {"datetime null"});
  std::ifstream in(file, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  const std::string text = content.str();
  EXPECT_EQ(text.find("rep_tr_Del_Orders"), std::string::npos);  // ignored
  EXPECT_NE(text.find("select 'Lines',Id from Deleted\r\n GO \r\n"), std::string::npos);
  EXPECT_EQ(text.find("rep_tr_Del_Notes"), std::string::npos);  // nothing identifies its rows
  // Nothing finds its inserted rows either: an empty join would make the trigger invalid, and
  // columns without the trigger that clears them would be half a setup.
  EXPECT_EQ(text.find("rep_tr_Ins_Notes"), std::string::npos);
  EXPECT_EQ(text.find("@table_name='Notes'"), std::string::npos);
  EXPECT_EQ(text.find("INNER JOIN Inserted ON \r\n"), std::string::npos);
  EXPECT_NE(text.find("CREATE TRIGGER rep_tr_Ins_Orders ON Orders FOR INSERT AS"), std::string::npos);
  EXPECT_EQ(text.find("/* DELETE Triggery"), text.find("\r\n") + 2);
}

// Orders and Lines beside a view of the orders, a log without a primary key but with a RowGuid
// and a table whose name holds LIKE pattern characters.
struct ShopWithOddTables : Shop {
  ShopWithOddTables() {
    auto& b = *backend;
    b.tables.insert(b.tables.end(), {"OpenOrders", "Journal", "Order_Notes"});
    b.columns["OpenOrders"] = {Column("Id", FieldType::Integer, false)};
    b.columns["Journal"] = {Column("RG", FieldType::Guid, false), Column("Text", FieldType::String, true)};
    b.columns["Order_Notes"] = {Column("Id", FieldType::Integer, false)};
    b.indexes["Order_Notes"] = {{"PK_Order_Notes", "Id", true, true}};
    b.object_properties.insert({{"OpenOrders|IsView", 1}, {"Journal|TableHasRowGuidCol", 1}});
    b.column_properties.insert({"Journal|RG|IsRowGuidCol", 1});
  }
};

TEST(MssqlScripts, ViewsAreKnownAndGetNoSetup) {
  ShopWithOddTables shop;
  auto& database = shop.Scanned();
  EXPECT_TRUE(shop.Table("OpenOrders").IsView);
  EXPECT_FALSE(shop.Table("Orders").IsView);
  const std::string text = database.TrackingColumnsSection(database.ScriptTables(nullptr), "rep_tr_Ins_",
                                                           {"rep_Date_Updated"}, {"datetime null"});
  EXPECT_EQ(text.find("OpenOrders"), std::string::npos);
  // A table without a primary key is found by its RowGuid column.
  EXPECT_NE(text.find(" FROM Journal INNER JOIN Inserted ON Journal.RG=Inserted.RG\r\n GO "),
            std::string::npos);
}

// sp_columns matches its table name as a LIKE pattern: unescaped, "Order_Notes" would find the
// tracking columns of an "OrderXNotes" and never get its own.
TEST(MssqlScripts, TrackingColumnCheckMatchesOnlyItsOwnTable) {
  ShopWithOddTables shop;
  shop.Scanned();
  const std::string text =
      shop.Table("Order_Notes")
          .BuildInsertTriggerScript("rep_tr_Ins_", {"rep_Date_Updated"}, {"datetime null"});
  EXPECT_NE(text.find("exec sp_columns @table_name='Order[_]Notes',@column_name='rep_Date_Updated'\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("ALTER TABLE Order_Notes ADD rep_Date_Updated datetime null"), std::string::npos);
  EXPECT_EQ(LikeEscaped("a[b%c_d"), "a[[]b[%]c[_]d");
}

TEST(MssqlScripts, WritersRefuseAFileTheyCannotOpen) {
  Shop shop;
  auto& database = shop.Scanned();
  tamaril::testing::TempDir dir;
  EXPECT_THROW_MSG(database.WriteDeleteTriggerScript(dir.path(), nullptr, "rep_tr_Del_", "rep_DELETED",
                                                     "TABLENAME", "RECORDGUID", "RECORDID"),
                   StructureError, "Cannot open file " + dir.path());
  EXPECT_THROW_MSG(
      database.WriteTrackingColumnsScript(dir.path() + "/missing/setup.sql", nullptr, "rep_tr_Ins_", {}, {}),
      StructureError, "Cannot open file " + dir.path() + "/missing/setup.sql");
}

TEST(MssqlDatabase, UserForeignKeysJoinTheOrderAndMayCloseACycle) {
  Shop shop;
  shop.backend->tables.push_back("rep_USERFK");
  shop.backend->columns["rep_USERFK"] = {Column("ConstraintName", FieldType::String, false)};
  auto& database = shop.Scanned();
  const auto user_key = [](const char* master, const char* detail, const char* name,
                           const char* master_column, const char* detail_column) {
    return std::vector<Value>{Value::Text(master), Value::Text(detail), Value::Text(name),
                              Value::Text(master_column), Value::Text(detail_column)};
  };
  const std::vector<std::pair<std::string, FieldType>> columns = {{"PK_TableName", FieldType::String},
                                                                  {"FK_TableName", FieldType::String},
                                                                  {"ConstraintName", FieldType::String},
                                                                  {"PK_Field", FieldType::String},
                                                                  {"FK_Field", FieldType::String}};
  shop.backend->answers.push_back({"Select Count(*) from rep_USERFK", testing::Scalar(1)});
  shop.backend->answers.push_back(
      {"Select * from rep_USERFK",
       testing::MakeRows(columns, {user_key("Lines", "rep_USERFK", "UFK_1", "Id", "ConstraintName")})});
  LoadUserForeignKeys(database);
  EXPECT_EQ(database.Table(database.TableCount() - 1).GetTableName(), "rep_USERFK");
  ASSERT_NE(shop.Table("rep_USERFK").Masters().FindByMaster(database.FindTable("Lines")), nullptr);

  shop.backend->answers.back().second =
      testing::MakeRows(columns, {user_key("Lines", "Orders", "UFK_2", "Id", "Id")});
  EXPECT_THROW_MSG(LoadUserForeignKeys(database), StructureError, "Circular master detail links not allowed");
}

TEST(MssqlVersion, ReaderAsksXpMsverOnMaster) {
  ScriptedServer server;
  server.backend->procedures["xp_msver"] = testing::MakeRows(
      {{"Index", FieldType::Integer}, {"Name", FieldType::String}, {"Character_Value", FieldType::String}},
      {{Value::Integer(1), Value::Text("ProductName"), Value::Text("Microsoft SQL Server")},
       {Value::Integer(2), Value::Text("productversion"), Value::Text("8.00.760")}});
  std::uint8_t code = 0;
  EXPECT_TRUE(ReadServerVersionThrough(server.connection, code));
  EXPECT_EQ(code, 16);
  EXPECT_EQ(server.backend->database, "master");
  EXPECT_EQ(server.backend->Statements(), Texts{"exec xp_msver"});

  server.backend->procedures["xp_msver"].rows.pop_back();  // no ProductVersion row
  code = 99;
  EXPECT_FALSE(ReadServerVersionThrough(server.connection, code));
  EXPECT_EQ(code, 0);
  server.backend->procedures.clear();  // the procedure fails
  EXPECT_FALSE(ReadServerVersionThrough(server.connection, code));
}

TEST(MssqlScripts, SectionHeadersAndTheOneKeyTriggerTemplates) {
  Shop shop;
  auto& database = shop.Scanned();
  tamaril::testing::TempDir dir;
  const std::string file = dir.path() + "/setup.sql";
  const std::vector<std::string> ignore = {"lines"};
  database.WriteDeleteTriggerScript(file, &ignore, "rep_tr_Del_", "rep_DELETED", "TABLENAME", "RECORDGUID",
                                    "RECORDID");
  database.WriteTrackingColumnsScript(file, &ignore, "rep_tr_Ins_", {}, {});
  std::ifstream in(file, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  const std::string rule = "/* ------------------------------------------------------------------ */\r\n";
  EXPECT_EQ(content.str(),
            rule + "/* DELETE Triggery pro plneni tabulky identifikujici vymazane zaznamy */\r\n" + rule +
                shop.Table("Orders").BuildDeleteTriggerScript("rep_tr_Del_", "rep_DELETED", "TABLENAME",
                                                              "RECORDGUID", "RECORDID") +
                "\r\n" + rule +
                "/* Zalozeni a administrace doplnkovych poli replikace                 */\r\n" + rule +
                shop.Table("Orders").BuildInsertTriggerScript("rep_tr_Ins_", {}, {}) + "\r\n");

  auto& orders = shop.Table("Orders");
  orders.IntKeyColumn.clear();  // RowGuid only
  EXPECT_EQ(
      orders.BuildDeleteTriggerScript("rep_tr_Del_", "rep_DELETED", "TABLENAME", "RECORDGUID", "RECORDID"),
      "IF EXISTS (SELECT name FROM sysobjects \r\n"
      " WHERE name = 'rep_tr_Del_Orders' AND type = 'TR') \r\n"
      " DROP TRIGGER rep_tr_Del_Orders\r\n"
      " GO \r\n"
      "CREATE TRIGGER rep_tr_Del_Orders ON Orders FOR DELETE AS\r\n"
      " INSERT INTO rep_DELETED (TABLENAME,RECORDGUID)\r\n"
      " select 'Orders',RG from Deleted\r\n"
      " GO ");
  EXPECT_EQ(shop.Table("Lines").BuildDeleteTriggerScript("rep_tr_Del_", "rep_DELETED", "TABLENAME",
                                                         "RECORDGUID", "RECORDID"),
            "IF EXISTS (SELECT name FROM sysobjects \r\n"
            " WHERE name = 'rep_tr_Del_Lines' AND type = 'TR') \r\n"
            " DROP TRIGGER rep_tr_Del_Lines\r\n"
            " GO \r\n"
            "CREATE TRIGGER rep_tr_Del_Lines ON Lines FOR DELETE AS\r\n"
            " INSERT INTO rep_DELETED (TABLENAME,RECORDID)\r\n"
            " select 'Lines',Id from Deleted\r\n"
            " GO ");
}

/// The shop with Parts below Lines, Pairs (key A, B) and Items whose key to Pairs has two columns.
struct DeepShop : Shop {
  DeepShop() {
    auto& b = *backend;
    b.tables.insert(b.tables.end(), {"Parts", "Pairs", "Items"});
    b.columns["Parts"] = {Column("Id", FieldType::Integer, false),
                          Column("LineId", FieldType::Integer, true)};
    b.indexes["Parts"] = {{"PK_Parts", "Id", true, true}};
    b.columns["Pairs"] = {Column("A", FieldType::Integer, false), Column("B", FieldType::Integer, false),
                          Column("Id", FieldType::Integer, false)};
    b.indexes["Pairs"] = {{"PK_Pairs", "1;2", true, true}, {"UQ_Pairs_Id", "Id", false, true}};
    b.columns["Items"] = {Column("Id", FieldType::Integer, false), Column("PA", FieldType::Integer, true),
                          Column("PB", FieldType::Integer, true)};
    b.indexes["Items"] = {{"PK_Items", "Id", true, true}};
    b.foreign_keys.push_back({"SHOP", "Lines", "Id", "SHOP", "Parts", "LineId", "FK_Parts_Lines"});
    b.foreign_keys.push_back({"SHOP", "Pairs", "A", "SHOP", "Items", "PA", "FK_Items_Pairs"});
    b.foreign_keys.push_back({"SHOP", "Pairs", "B", "SHOP", "Items", "PB", "FK_Items_Pairs"});
  }
};

TEST(MssqlTable, TwoLevelCascadeDeletesDeepestFirst) {
  DeepShop shop;
  shop.Scanned().AliasPrefix = "T_";
  shop.Table("Orders").DeleteRecord("{X}", 0);
  EXPECT_EQ(shop.backend->Statements(),
            (Texts{"Delete T_2 from Parts T_2  join Lines T_1 on T_1.Id=T_2.LineId join Orders T_0 on "
                   "T_0.Id=T_1.OrderId WHERE T_0.RG='{X}' ",
                   "Delete T_1 from Lines T_1  join Orders T_0 on T_0.Id=T_1.OrderId WHERE T_0.RG='{X}' ",
                   "Delete T_0 from Orders T_0  WHERE T_0.RG='{X}' "}));
}

TEST(MssqlTable, MultiColumnKeysInEveryStatement) {
  DeepShop shop;
  shop.Scanned().AliasPrefix = "T_";
  auto& pairs = shop.Table("Pairs");
  EXPECT_EQ(pairs.PrimaryKeyFields, (Texts{"A", "B"}));  // column-number tokens
  EXPECT_EQ(pairs.IndexCondition(0, false), "A=:KEY_A and B=:KEY_B");
  EXPECT_EQ(pairs.IndexCondition(0, true), "Pairs.A=:KEY_A and Pairs.B=:KEY_B");
  EXPECT_EQ(pairs.IndexCondition(1, false), "Id=:KEY_Id");
  EXPECT_EQ(pairs.IndexCondition(2, false), "");
  EXPECT_EQ(pairs.RecordKeyCondition(), "A=:KEY_A and B=:KEY_B");

  // Pairs has no single integer key, so its rows are deleted through its unique Id only as a
  // detail; the cascade join over two columns is seen from Items' side.
  pairs.IntKeyColumn = "Id";
  pairs.DeleteRecord("", 9);
  EXPECT_EQ(
      shop.backend->Statements(),
      (Texts{"Delete T_1 from Items T_1  join Pairs T_0 on T_0.A=T_1.PA and T_0.B=T_1.PB WHERE T_0.Id=9 ",
             "Delete T_0 from Pairs T_0  WHERE T_0.Id=9 "}));

  shop.backend->sent.clear();
  auto row = std::make_unique<dataset::TQVMMemoryTable>();
  row->SetFieldLayout("Id;Integer;0;0;PA;Integer;0;0;PB;Integer;0;0");
  row->Open();
  row->Append();
  row->FieldByName("Id").SetAsInteger(1);
  row->FieldByName("PA").SetAsInteger(4);
  row->FieldByName("PB").SetAsInteger(5);
  row->Post();
  shop.backend->answers.push_back({"select case", testing::Scalar(1)});
  std::string constraint;
  EXPECT_TRUE(shop.Table("Items").MastersExist(*row, false, constraint));
  EXPECT_EQ(shop.backend->sent.back().Named(),
            "select case when exists(select * from Pairs where A=:PA and B=:PB) then 1 else 0 end");
  EXPECT_EQ(shop.backend->sent.back().params[1].value, Value::Integer(5));
}

TEST(MssqlTable, KeyLookupWithoutRowGuidAndSeveralKeyValues) {
  DeepShop shop;
  shop.Scanned();
  shop.backend->answers.push_back({"Select * from Lines where Id=",
                                   testing::MakeRows({{"Id", FieldType::Integer}}, {{Value::Integer(7)}})});
  auto found = shop.Table("Lines").FindExistingByKey("{ignored}", 7);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->RowGuidMatch, nullptr);
  ASSERT_EQ(found->KeyMatches.size(), 1u);
  EXPECT_EQ(found->KeyMatches[0].IndexName, "PK_Lines");
  EXPECT_TRUE(found->FoundByIdentity);
  EXPECT_EQ(found->RowGuidColumn, "");
  EXPECT_EQ(shop.backend->Statements(), Texts{"Select * from Lines where Id=:KEY_Id"});
  EXPECT_EQ(shop.backend->sent.back().params[0].value, Value::Integer(7));

  auto row = std::make_unique<dataset::TQVMMemoryTable>();
  row->SetFieldLayout("B;Integer;0;0;A;Integer;0;0;Id;Integer;0;0");
  row->Open();
  row->Append();
  row->FieldByName("A").SetAsInteger(1);
  row->FieldByName("B").SetAsInteger(2);
  row->Post();
  EXPECT_EQ(shop.Table("Pairs").GetKeyValuesText(*row), "A=1,B=2");  // key order, not field order
}

TEST(MssqlTable, TableDataWithWhereAndOrder) {
  Shop shop;
  shop.Scanned();
  int count = -1;
  auto data = shop.Table("Orders").OpenTableData("Id>1", "Name desc", count);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(shop.backend->Statements(), Texts{"Select Count(*) from Orders  where Id>1"});
  EXPECT_EQ(dynamic_cast<dbaccess::TQueryDataSet&>(*data).SQL(),
            "Select * from Orders  where Id>1 order by Name desc");
  data = shop.Table("Orders").OpenTableData("", "Name", count);
  EXPECT_EQ(dynamic_cast<dbaccess::TQueryDataSet&>(*data).SQL(), "Select * from Orders  order by Name");
}

TEST(MssqlTable, RequiredColumnsGetTheDefaultsOfTheirType) {
  Shop shop;
  shop.Scanned();
  auto& table = shop.Table("Orders");
  const std::vector<std::pair<FieldType, Value>> typed = {{FieldType::String, Value::Text("")},
                                                          {FieldType::WideString, Value::Text("")},
                                                          {FieldType::Smallint, Value::Integer(0)},
                                                          {FieldType::Integer, Value::Integer(0)},
                                                          {FieldType::Word, Value::Integer(0)},
                                                          {FieldType::Largeint, Value::Integer(0)},
                                                          {FieldType::Boolean, Value::Boolean(false)},
                                                          {FieldType::Float, Value::Double(0)},
                                                          {FieldType::Currency, Value::Double(0)},
                                                          {FieldType::BCD, Value::Double(0)},
                                                          {FieldType::FixedChar, Value::Text("-")},
                                                          {FieldType::Guid, Value()},
                                                          {FieldType::Blob, Value()},
                                                          {FieldType::AutoInc, Value()}};
  table.FieldDefs.clear();
  std::vector<dbaccess::Parameter> parameters;
  for (std::size_t i = 0; i < typed.size(); ++i) {
    table.FieldDefs.push_back({"C" + std::to_string(i), typed[i].first, 0, true});
    parameters.push_back({(i % 2 ? "KEY_C" : "C") + std::to_string(i), FieldType::Unknown, 0, {}});
  }
  table.FieldDefs.push_back({"Loose", FieldType::String, 0, false});
  parameters.push_back({"Loose", FieldType::Unknown, 0, {}});
  parameters.push_back({"Unknown", FieldType::Unknown, 0, {}});
  const auto values = table.ParameterValues(nullptr, parameters);
  ASSERT_EQ(values.size(), typed.size() + 2);
  for (std::size_t i = 0; i < typed.size(); ++i) EXPECT_EQ(values[i], typed[i].second) << parameters[i].name;
  EXPECT_TRUE(values[typed.size()].IsNull());      // not required
  EXPECT_TRUE(values[typed.size() + 1].IsNull());  // no such column

  table.FieldDefs = {
      {"D", FieldType::Date, 0, true}, {"T", FieldType::Time, 0, true}, {"DT", FieldType::DateTime, 0, true}};
  const auto dates = table.ParameterValues(nullptr, {{"D", FieldType::Unknown, 0, {}},
                                                     {"T", FieldType::Unknown, 0, {}},
                                                     {"DT", FieldType::Unknown, 0, {}}});
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const dbaccess::DateTime today = dates[0].AsDateTime();
  EXPECT_EQ(today.year, local.tm_year + 1900);
  EXPECT_EQ(today.hour + today.minute + today.second + today.millisecond, 0);  // the date alone
  EXPECT_EQ(dates[1].AsDateTime().year, 1899);                                 // the time alone
  EXPECT_EQ(dates[2].AsDateTime().day, local.tm_mday);
}

TEST(MssqlNames, OnlyNamesThatCannotStandBareAreBracketed) {
  for (const char* bare : {"Orders", "_x", "rep_USERFK", "a1@#$", "#temp", "Selected"}) {
    EXPECT_EQ(MssqlName(bare), bare);
  }
  const std::vector<std::pair<std::string, std::string>> bracketed = {{"Order Details", "[Order Details]"},
                                                                      {"a]b", "[a]]b]"},
                                                                      {"it's", "[it's]"},
                                                                      {"1st", "[1st]"},
                                                                      {"select", "[select]"},
                                                                      {"Key", "[Key]"},
                                                                      {"x-y", "[x-y]"},
                                                                      {"@var", "[@var]"},
                                                                      {"\xe8"
                                                                       "ena",
                                                                       "[\xe8"
                                                                       "ena]"},
                                                                      {"[x]", "[[x]]]"},
                                                                      {"", "[]"}};
  for (const auto& [name, expected] : bracketed) EXPECT_EQ(MssqlName(name), expected) << name;
}

TEST(MssqlNames, TableWithBlanksGetsBracketedStatements) {
  Shop shop;
  auto& b = *shop.backend;
  b.tables = {"Order Details"};
  b.columns["Order Details"] = {Column("Order Id", FieldType::AutoInc, false),
                                Column("Unit Price", FieldType::Float, true),
                                Column("Qty", FieldType::Integer, true)};
  b.indexes["Order Details"] = {{"PK_Order_Details", "Order Id", true, true}};
  b.object_properties = {{"Order Details|TableHasIdentity", 1}, {"Order Details|TableHasDeleteTrigger", 1}};
  b.column_properties = {{"Order Details|Order Id|IsIdentity", 1}};
  b.answers = {{"select IDENT_SEED", testing::MakeRows({{"", FieldType::Integer}, {"", FieldType::Integer}},
                                                       {{Value::Integer(1), Value::Integer(1)}})}};
  shop.database = std::make_unique<tADODatabase_Structure>(shop.connection, Version(16));
  shop.database->Scan();
  auto& details = shop.Table("Order Details");
  EXPECT_EQ(details.IntKeyColumn, "Order Id");

  auto row = std::make_unique<dataset::TQVMMemoryTable>();
  row->SetFieldLayout("Order Id;Integer;0;0;Unit Price;Float;0;0;Qty;Integer;0;0");
  row->Open();
  row->Append();
  row->FieldByName("Order Id").SetAsInteger(5);
  row->FieldByName("Unit Price").SetAsFloat(2.5);
  row->FieldByName("Qty").SetAsInteger(3);
  row->Post();
  b.sent.clear();
  details.InsertRecord(*row);
  row->FieldByName("Unit Price").Tag = 1;
  details.UpdateRecord(*row);
  details.FindExistingRecords(*row);
  details.BeginWrite();
  details.EndWrite();
  shop.database->AliasPrefix = "T_";
  details.DeleteRecord("", 5);
  int count = 0;
  details.OpenTableData("", "", count);
  EXPECT_EQ(
      b.Statements(),
      (Texts{
          "INSERT INTO [Order Details] ([Order Id],[Unit Price],Qty) VALUES (:rep_Column1,:rep_Column2,:Qty)",
          "UPDATE [Order Details] SET [Unit Price]=:rep_Column2 WHERE [Order Id]=:KEY_rep_Column1",
          "Select * from [Order Details] where [Order Id]=:KEY_rep_Column1",
          "SET IDENTITY_INSERT [Order Details] ON", "ALTER TABLE [Order Details] DISABLE TRIGGER ALL",
          "ALTER TABLE [Order Details] ENABLE TRIGGER ALL", "SET IDENTITY_INSERT [Order Details] OFF",
          "DBCC CHECKIDENT ([Order Details], RESEED, 1)",
          "Delete T_0 from [Order Details] T_0  WHERE T_0.[Order Id]=5 ",
          "Select Count(*) from [Order Details] "}));
  // The values still reach the odd names' parameters.
  const auto& update = b.sent[1];
  ASSERT_EQ(update.params.size(), 2u);
  EXPECT_EQ(update.params[0].value, Value::Double(2.5));
  EXPECT_EQ(update.params[1].value, Value::Integer(5));
  EXPECT_NE(
      details.BuildDeleteTriggerScript("rep_tr_Del_", "rep_DELETED", "TABLENAME", "RECORDGUID", "RECORDID")
          .find("CREATE TRIGGER [rep_tr_Del_Order Details] ON [Order Details] FOR DELETE AS\r\n"
                " INSERT INTO rep_DELETED (TABLENAME,RECORDID)\r\n select 'Order Details',[Order Id] from"),
      std::string::npos);
  EXPECT_NE(
      details.BuildInsertTriggerScript("rep_tr_Ins_", {"rep_Date_Updated"}, {"datetime null"})
          .find(
              " FROM [Order Details] INNER JOIN Inserted ON [Order Details].[Order Id]=Inserted.[Order Id]"),
      std::string::npos);
}

TEST(MssqlIntegration, ScansARealServer) {
  const char* odbc = std::getenv("TAMARIL_MSSQL_ODBC");
  if (odbc == nullptr || *odbc == '\0') GTEST_SKIP() << "TAMARIL_MSSQL_ODBC gives no server";
  dbaccess::Connection connection(odbc);
  connection.Open();
  tADODatabase_Structure database(connection);
  database.Scan();
  EXPECT_GE(database.ServerVersionCode, 8);
  EXPECT_FALSE(database.AliasPrefix.empty());
  for (int i = 0; i < database.TableCount(); ++i) {
    auto& table = dynamic_cast<tADOTbl_Structure&>(database.Table(i));
    EXPECT_EQ(table.Identifiable, !table.RowGuidColumn.empty() || !table.IntKeyColumn.empty());
    int count = -1;
    table.OpenTableData("1=0", "", count);
    EXPECT_EQ(count, 0) << table.TableName;
  }
  database.CloseData();
}

}  // namespace
}  // namespace tamaril::dbstruct
