// Values travel from a client table through the archive to the center as the client holds them:
// every declared type of the SQLite form into a SQLite center (compared by typeof() and quote()),
// and into the scripted SQL Server by the values bound to its insert. At the center a value of
// another type is converted when that is exact, and otherwise refused as a conflict.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dataset/stream.h"
#include "dbaccess/value.h"
#include "dbstruct/mssql/database_structure.h"
#include "engine_fixture.h"
#include "mssql_scripted_backend.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

using dataset::FieldType;
using dbaccess::Value;
using fixtures::EngineTest;
using fixtures::MergeLog;

std::string Ansi(const std::string& utf8) { return text::Utf8ToAnsi(utf8); }

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (const char c : bytes) {
    hex += kDigits[(static_cast<unsigned char>(c) >> 4) & 0xF];
    hex += kDigits[static_cast<unsigned char>(c) & 0xF];
  }
  return hex;
}

// A bound value as "Kind:text" (bytes in hex).
std::string Bound(const Value& value) {
  const std::string text =
      value.kind() == dbaccess::ValueKind::Bytes ? Hex(value.AsString()) : value.AsString();
  return std::string(dbaccess::ValueKindName(value.kind())) + ":" + text;
}

// A text of `count` characters.
std::string Letters(std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += static_cast<char>('a' + i % 26);
  return text;
}

// The SQL Server scripted with tables named as the cases, each (ID int key, X of the case's type).
class ScriptedCenter {
 public:
  void AddTable(const std::string& name, FieldType type, int size = 0, bool nullable = true) {
    auto& b = *server_.backend;
    b.tables.push_back(name);
    dbaccess::ColumnInfo x = dbstruct::testing::Column("X", type, nullable);
    x.size = size;
    b.columns[name] = {dbstruct::testing::Column("ID", FieldType::Integer, false), x};
    b.indexes[name] = {{"PK_" + name, "ID", true, true}};
  }
  dbstruct::tDatabase_Structure& Scan() {
    server_.backend->procedures["sp_helplanguage"] =
        dbstruct::testing::MakeRows({{"langid", FieldType::Integer}}, {});
    structure_ = std::make_unique<dbstruct::tADODatabase_Structure>(
        server_.connection, [](const std::string&, std::uint8_t& version) {
          version = 16;
          return true;
        });
    structure_->Scan();
    return *structure_;
  }
  // The value the insert into `table` bound to X, or "none" when no insert was sent.
  std::string InsertedX(const std::string& table) const {
    for (const auto& run : server_.backend->sent) {
      if (!run.text.starts_with("INSERT INTO " + table + " ")) continue;
      for (const auto& parameter : run.params) {
        if (parameter.name == "X") return Bound(parameter.value);
      }
    }
    return "none";
  }

 private:
  dbstruct::testing::ScriptedServer server_;
  std::unique_ptr<dbstruct::tADODatabase_Structure> structure_;
};

class ValueRoundTripTest : public EngineTest {
 protected:
  // typeof(X)|quote(X) of the one row of a table.
  std::string Stored(dbaccess::Connection& connection, const std::string& table) {
    auto rows = connection.Query("SELECT typeof(X) || '|' || quote(X) FROM " + table);
    return rows->Next() ? rows->Get(0).AsString() : "no row";
  }
};

TEST_F(ValueRoundTripTest, EveryDeclaredTypeArrivesAsTheClientHoldsIt) {
  struct Case {
    std::string declared;  // the column at client and center
    std::string literal;   // what the client holds
    std::string center;    // typeof|quote at a SQLite center; empty: what the client holds
    FieldType server;      // the column's type on SQL Server
    std::string bound;     // the value bound there
  };
  const std::string long_memo = Letters(70000) + "\r\n" + Letters(30000);
  const std::string fifty = Letters(50);
  const std::vector<Case> cases = {
      {"INTEGER", "42", "", FieldType::Integer, "Integer:42"},
      {"INTEGER", "5000000000", "", FieldType::Largeint, "Integer:5000000000"},
      {"INT", "-2147483648", "", FieldType::Integer, "Integer:-2147483648"},
      {"BIGINT", "9223372036854775807", "", FieldType::Largeint, "Integer:9223372036854775807"},
      {"BIGINT", "-9223372036854775808", "", FieldType::Largeint, "Integer:-9223372036854775808"},
      {"SMALLINT", "-32768", "", FieldType::Smallint, "Integer:-32768"},
      {"SMALLINT", "70000", "", FieldType::Integer, "Integer:70000"},
      {"TINYINT", "255", "", FieldType::Word, "Integer:255"},
      {"BIT", "1", "", FieldType::Boolean, "Boolean:1"},
      {"BOOLEAN", "0", "", FieldType::Boolean, "Boolean:0"},
      {"REAL", "0.1 + 0.2", "", FieldType::Float, "Double:0.30000000000000004"},
      {"FLOAT", "1e-300", "", FieldType::Float, "Double:1e-300"},
      {"DOUBLE PRECISION", "-2.5", "", FieldType::Float, "Double:-2.5"},
      {"MONEY", "12.5", "", FieldType::Currency, "Double:12.5"},
      {"MONEY", "12", "", FieldType::Currency, "Double:12"},
      {"SMALLMONEY", "0.0001", "", FieldType::Currency, "Double:0.0001"},
      {"DECIMAL(10,2)", "1234.56", "", FieldType::BCD, "Double:1234.56"},
      {"NUMERIC", "3.35", "", FieldType::BCD, "Double:3.35"},
      {"DATETIME", "'2009-01-01 00:00:00'", "", FieldType::DateTime, "Text:2009-01-01 00:00:00.000"},
      {"DATETIME", "'2009-01-01 10:20:30.123'", "", FieldType::DateTime, "Text:2009-01-01 10:20:30.123"},
      // The one text of a date-time: as datetime() writes it.
      {"DATETIME2", "'2009-01-01 00:00:00.000'", "text|'2009-01-01 00:00:00'", FieldType::DateTime,
       "Text:2009-01-01 00:00:00.000"},
      {"SMALLDATETIME", "'2009-01-01T08:30'", "text|'2009-01-01 08:30:00'", FieldType::DateTime,
       "Text:2009-01-01 08:30:00.000"},
      {"DATE", "'2009-01-31'", "", FieldType::Date, "DateTime:2009-01-31 00:00:00.000"},
      {"TIME", "'10:20:30'", "", FieldType::Time, "Text:10:20:30.000"},
      {"TIME", "'23:59:59.999'", "", FieldType::Time, "Text:23:59:59.999"},
      {"UNIQUEIDENTIFIER", "'{6F9619FF-8B86-D011-B42D-00C04FC964FF}'", "", FieldType::Guid,
       "Guid:{6F9619FF-8B86-D011-B42D-00C04FC964FF}"},
      // The one text of a GUID: braced, upper case.
      {"UNIQUEIDENTIFIER", "'6f9619ff-8b86-d011-b42d-00c04fc964ff'",
       "text|'{6F9619FF-8B86-D011-B42D-00C04FC964FF}'", FieldType::Guid,
       "Guid:{6F9619FF-8B86-D011-B42D-00C04FC964FF}"},
      {"BLOB", "x'00FF10'", "", FieldType::Blob, "Bytes:00FF10"},
      {"IMAGE", "zeroblob(100000)", "", FieldType::Blob, "Bytes:" + std::string(200000, '0')},
      {"VARBINARY(4)", "x'01020304'", "", FieldType::VarBytes, "Bytes:01020304"},
      {"BINARY(2)", "x'ABCD'", "", FieldType::Bytes, "Bytes:ABCD"},
      {"BLOB NOT NULL", "x''", "", FieldType::Blob, "Bytes:"},
      {"TEXT", "'" + long_memo + "'", "", FieldType::Memo, "Text:" + long_memo},
      {"VARCHAR(20)", "'  padded  '", "", FieldType::String, "Text:  padded  "},
      {"VARCHAR(20)", "'a' || char(13, 10) || 'b'", "", FieldType::String, "Text:a\r\nb"},
      {"CHAR(5)", "'ab   '", "", FieldType::FixedChar, "Text:ab   "},
      {"NVARCHAR(10)", "'Žluťoučký kůň'", "", FieldType::WideString, Ansi("Text:Žluťoučký kůň")},
      {"VARCHAR(20)", "''", "", FieldType::String, "Text:"},
      {"VARCHAR(20)", "NULL", "", FieldType::String, "Null:"},
      // Longer than declared: SQLite keeps it, so does the archive.
      {"VARCHAR(20)", "'" + fifty + "'", "", FieldType::String, "Text:" + fifty},
      {"CHAR", "'abc'", "", FieldType::FixedChar, "Text:abc"},
      // The record stream writes an empty memo as NULL; a column that takes no NULL gets it empty.
      {"TEXT", "''", "null|NULL", FieldType::Memo, "Null:"},
      {"TEXT NOT NULL", "''", "", FieldType::Memo, "Text:"},
  };
  std::vector<std::string> tables;
  ScriptedCenter server;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string table = "T" + std::to_string(i + 1);
    ExecuteBoth("CREATE TABLE " + table + " (ID INTEGER PRIMARY KEY, X " + cases[i].declared + ")");
    client_.Execute("INSERT INTO " + table + " VALUES (1, " + Ansi(cases[i].literal) + ")");
    server.AddTable(table, cases[i].server, 0, cases[i].declared.find("NOT NULL") == std::string::npos);
    tables.push_back(table);
  }
  ScanBoth();
  const std::string content = Publish(tables);

  MergeLog log;
  EXPECT_TRUE(Merge(content, log));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.declared + " " + c.literal.substr(0, 60));
    const std::string expected = c.center.empty() ? Stored(client_, tables[i]) : Ansi(c.center);
    const std::string stored = Stored(center_, tables[i]);
    EXPECT_TRUE(stored == expected) << stored.substr(0, 80) << " instead of " << expected.substr(0, 80);
  }
  // A date-time is found by the text datetime() gives.
  for (std::size_t i = 0; i < cases.size(); ++i) {
    if (cases[i].literal != "'2009-01-01 00:00:00'") continue;
    EXPECT_EQ(Rows(center_, "SELECT count(*) FROM " + tables[i] + " WHERE X = '2009-01-01 00:00:00'"), "1\n");
  }

  merge_target_ = &server.Scan();
  MergeLog sent;
  EXPECT_TRUE(Merge(content, sent));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].declared + " " + cases[i].literal.substr(0, 60));
    const std::string bound = server.InsertedX(tables[i]);
    EXPECT_TRUE(bound == cases[i].bound)
        << bound.substr(0, 80) << " instead of " << cases[i].bound.substr(0, 80);
  }
}

TEST_F(ValueRoundTripTest, TextsTooLongForOneRecordTogetherTravelAsMemos) {
  ExecuteBoth("CREATE TABLE W (ID INTEGER PRIMARY KEY, A VARCHAR(10), B VARCHAR(10), C VARCHAR(10))");
  const std::string wide = Letters(40000);
  client_.Execute("INSERT INTO W VALUES (1, '" + wide + "', 'short', '" + wide + "')");
  ScanBoth();
  const std::string content = Publish({"W"});
  EXPECT_NE(content.find("A;Memo;0;0;B;String;10;0;C;Memo;0;0"), std::string::npos);
  MergeLog log;
  EXPECT_TRUE(Merge(content, log));
  EXPECT_EQ(Rows(center_, "SELECT length(A), B, length(C) FROM W"), "40000|short|40000\n");
}

// A value whose type is not its column's at the center: the client's column differs.
TEST_F(ValueRoundTripTest, AValueOfAnotherTypeIsConvertedWhenExactOrElseRefused) {
  struct Case {
    std::string client;   // the client's column
    std::string center;   // the center's column
    std::string literal;  // what the client holds
    std::string result;   // typeof|quote stored, or the conflict's text
  };
  const std::vector<Case> cases = {
      {"TEXT", "MONEY", "'12.50'", "real|12.5"},
      {"TEXT", "MONEY", "'abc'", "conflict 5 sloupec X: hodnota 'abc' není číslo"},
      {"VARCHAR(10)", "DATETIME", "'2009-01-01'", "text|'2009-01-01 00:00:00'"},
      {"VARCHAR(20)", "DATETIME", "'not a date'",
       "conflict 5 sloupec X: hodnota 'not a date' není datum a čas"},
      {"VARCHAR(10)", "VARCHAR(10) NOT NULL", "NULL", "conflict 5 sloupec X nepřipouští NULL"},
      {"INTEGER", "INTEGER NOT NULL", "NULL", "conflict 5 sloupec X nepřipouští NULL"},
      {"TEXT", "TEXT NOT NULL", "''", "text|''"},
      {"TEXT", "BLOB NOT NULL", "''", "blob|X''"},
      {"TEXT", "INTEGER", "' 12 '", "integer|12"},
      {"TEXT", "INTEGER", "'12.5'", "conflict 5 sloupec X: hodnota '12.5' není celé číslo"},
      {"REAL", "INTEGER", "12.0", "integer|12"},
      {"VARCHAR(5)", "BIT", "'true'", "integer|1"},
      {"VARCHAR(5)", "BIT", "'ano'", "conflict 5 sloupec X: hodnota 'ano' není logická hodnota"},
      {"INTEGER", "BIT", "2", "conflict 5 sloupec X: hodnota '2' není logická hodnota"},
      {"TEXT", "UNIQUEIDENTIFIER", "'6f9619ff-8b86-d011-b42d-00c04fc964ff'",
       "text|'{6F9619FF-8B86-D011-B42D-00C04FC964FF}'"},
      {"TEXT", "UNIQUEIDENTIFIER", "'xyz'", "conflict 5 sloupec X: hodnota 'xyz' není GUID"},
      {"DATETIME", "DATE", "'2009-01-01 00:00:00'", "text|'2009-01-01'"},
      {"DATETIME", "DATE", "'2009-01-01 10:00:00'", "conflict 5 sloupec X: hodnota"},
      {"TEXT", "TIME", "'10:20:30'", "text|'10:20:30'"},
      {"DATE", "DATETIME", "'2009-01-31'", "text|'2009-01-31 00:00:00'"},
      {"REAL", "TEXT", "0.1 + 0.2", "text|'0.30000000000000004'"},
      {"INTEGER", "VARCHAR(10)", "5", "text|'5'"},
      {"BLOB", "TEXT", "x'01'", "conflict 5 sloupec X: binární data nejsou text"},
      {"TEXT", "BLOB", "'abc'", "conflict 5 sloupec X: hodnota 'abc' nejsou binární data"},
  };
  std::vector<std::string> tables;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    // Tables are merged in the order of their names: the cases' order.
    const std::string table = fmt::format("M{:02}", i + 1);
    client_.Execute("CREATE TABLE " + table + " (ID INTEGER PRIMARY KEY, X " + cases[i].client + ")");
    client_.Execute("INSERT INTO " + table + " VALUES (1, " + cases[i].literal + ")");
    center_.Execute("CREATE TABLE " + table + " (ID INTEGER PRIMARY KEY, X " + cases[i].center + ")");
    tables.push_back(table);
  }
  ScanBoth();
  MergeLog log;
  EXPECT_TRUE(Merge(Publish(tables), log));
  std::size_t next_event = 0;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.client + " " + c.literal + " into " + c.center);
    ASSERT_LT(next_event, log.events.size());
    const std::string& event = log.events[next_event++];
    if (c.result.starts_with("conflict")) {
      EXPECT_EQ(event.substr(0, Ansi(c.result).size()), Ansi(c.result));
      EXPECT_EQ(Stored(center_, tables[i]), "no row");
    } else {
      EXPECT_EQ(event, "append " + tables[i]);
      EXPECT_EQ(Stored(center_, tables[i]), c.result);
    }
  }
}

TEST_F(ValueRoundTripTest, TheServerRefusesTextsBeyondTheColumnSizeAndIntegersBeyondItsRange) {
  ExecuteBoth(
      "CREATE TABLE S (ID INTEGER PRIMARY KEY, X VARCHAR(20));"
      "CREATE TABLE I (ID INTEGER PRIMARY KEY, X BIGINT);"
      "CREATE TABLE B (ID INTEGER PRIMARY KEY, X SMALLINT)");
  client_.Execute("INSERT INTO S VALUES (1, '" + Letters(20) + "'), (2, '" + Letters(21) +
                  "');"
                  "INSERT INTO I VALUES (1, 2147483647), (2, 2147483648);"
                  "INSERT INTO B VALUES (1, 255), (2, 256)");
  ScanBoth();
  ScriptedCenter server;
  server.AddTable("S", FieldType::String, 20);
  server.AddTable("I", FieldType::Integer);
  server.AddTable("B", FieldType::Word);
  merge_target_ = &server.Scan();
  MergeLog log;
  EXPECT_TRUE(Merge(Publish({"S", "I", "B"}), log));
  EXPECT_EQ(log.Joined(), Ansi("append B; conflict 5 sloupec X: hodnota '256' je mimo rozsah sloupce; "
                               "append I; conflict 5 sloupec X: hodnota '2147483648' je mimo rozsah sloupce; "
                               "append S; conflict 5 sloupec X: hodnota '" +
                               Letters(21) + "' je delší než 20 znaků"));
}

// An archive made by hand: the text "abc" for a MONEY column is a conflict, not a stored text,
// and the merge goes on with the next row.
TEST_F(ValueRoundTripTest, AForgedTextForAMoneyColumnIsAConflict) {
  center_.Execute("CREATE TABLE P (ID INTEGER PRIMARY KEY, Price MONEY)");
  center_structure_.Scan();
  const auto str = [](const std::string& text) {
    dataset::MemoryWriter out;
    dataset::WriteStreamString(text, out);
    return out.Take();
  };
  const auto row = [](char id, const std::string& price) {
    // ID: field 1, size 4, a value; Price: field 2, size 11, a value ending in a zero byte.
    std::string bytes = std::string("\x03\x01\x00\x04\x00\x00\x00\x01", 8) + id + std::string(3, '\0');
    bytes += std::string("\x02\x00\x0B\x00\x00\x00\x01", 7) + price + '\0';
    return bytes + std::string("\x00\x00\xF3", 3);
  };
  const std::string content = "\x01" + str("P\r\n") + std::string("\x02\x00\x00", 3) + str("P") +
                              str("ID;Integer;0;0;Price;String;10;0") + row(1, "abc") + row(2, "12.50") +
                              "\xF2\xF1";
  MergeLog log;
  EXPECT_TRUE(Merge(content, log));
  EXPECT_EQ(log.Joined(), Ansi("conflict 5 sloupec Price: hodnota 'abc' není číslo; append P"));
  EXPECT_EQ(Rows(center_, "SELECT ID, typeof(Price), Price FROM P"), "2|real|12.5\n");
}

}  // namespace
}  // namespace tamaril::replication
