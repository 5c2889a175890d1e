#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dbaccess/connection_string.h"
#include "dbaccess/errors.h"
#include "dbaccess/parameter.h"
#include "dbaccess/value.h"
#include "support/expect_throw_msg.h"
#include "text/encoding.h"

namespace tamaril::dbaccess {
namespace {

using ::testing::ElementsAre;

TEST(NamedParameters, AreFoundOnlyOutsideQuotesAndComments) {
  struct Case {
    std::string_view sql;
    std::string_view text;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"update T set A=:A where ID=:KEY_ID", "update T set A=? where ID=?", {"A", "KEY_ID"}},
      {"select ':no' , \":no\", [:no] from T where a=:yes",
       "select ':no' , \":no\", [:no] from T where a=?",
       {"yes"}},
      {"select 'it''s :no', :p1 -- :comment\n, :p2 /* :block */",
       "select 'it''s :no', ? -- :comment\n, ? /* :block */",
       {"p1", "p2"}},
      {"select x::int, :_a9 from t", "select x::int, ? from t", {"_a9"}},
      {"select :a, :A, :a", "select ?, ?, ?", {"a", "A", "a"}},
      {"select 12:30, ': 'x", "select 12:30, ': 'x", {}},
      {"select 'unterminated :x", "select 'unterminated :x", {}},
  };
  for (const Case& c : cases) {
    const ParsedStatement parsed = ParseNamedParameters(c.sql);
    EXPECT_EQ(parsed.text, c.text) << c.sql;
    EXPECT_EQ(parsed.names, c.names) << c.sql;
  }
}

TEST(PositionalParameters, AreCountedOutsideQuotesAndComments) {
  EXPECT_EQ(CountPositionalParameters("insert into T values (?, '?', ?) -- ?"), 2u);
  EXPECT_EQ(CountPositionalParameters("select \"?\" /* ? */ from t where a = ?"), 1u);
}

TEST(ConnectionString, ItemsAreSplitTrimmedAndFoundIgnoringCase) {
  const auto items = SplitConnectionString(" Provider = SQLOLEDB.1 ;;Password=a=b; user id=sa;Flag");
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(FindConnectionStringValue(items, "PROVIDER"), "SQLOLEDB.1");
  EXPECT_EQ(FindConnectionStringValue(items, "password"), "a=b");
  EXPECT_EQ(FindConnectionStringValue(items, "User ID"), "sa");
  EXPECT_EQ(FindConnectionStringValue(items, "Flag"), "");
  EXPECT_EQ(FindConnectionStringValue(items, "Data Source"), std::nullopt);
}

TEST(ConnectionString, SqliteProviderNamesTheFolder) {
  const auto target = ResolveConnectionString("Provider=SQLite;Data Source=/var/db;Initial Catalog=shop");
  EXPECT_EQ(target.kind, BackendKind::SQLite);
  EXPECT_EQ(target.folder, "/var/db");
  EXPECT_EQ(target.initial_catalog, "shop");
  EXPECT_EQ(ResolveConnectionString("Provider=SQLite;Data Source=\"/var/my \"\"db\"\"\"").folder,
            "/var/my \"db\"");
  EXPECT_EQ(ResolveConnectionString("Provider=SQLite;Data Source=\"").folder, "\"");
}

TEST(ConnectionString, OleDbSqlServerBecomesAnOdbcString) {
  struct Case {
    std::string_view ado;
    std::string_view odbc;
  };
  const Case cases[] = {
      {"Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Initial Catalog=Shop;Data Source=srv",
       "Driver=FreeTDS;Server=srv;Port=1433;Database=Shop"},
      {"Provider=SQLOLEDB;Data Source=10.0.0.5,1500;Initial Catalog=A;Integrated Security=SSPI",
       "Driver=FreeTDS;Server=10.0.0.5;Port=1500;Database=A;Trusted_Connection=Yes"},
      {"Provider=SQLNCLI11;Data Source=(local)\\SQLEXPRESS", "Driver=FreeTDS;Server=(local)\\SQLEXPRESS"},
      {"Provider=SQLOLEDB;Data Source=(local)", "Driver=FreeTDS;Server=localhost;Port=1433"},
      {"Provider=MSOLEDBSQL;Data Source=tcp:db;Initial Catalog=x}y",
       "Driver=FreeTDS;Server=db;Port=1433;Database={x}}y}"},
      // A quoted data source is taken without its quotes.
      {"Provider=SQLOLEDB;Data Source=\"srv,1500\"", "Driver=FreeTDS;Server=srv;Port=1500"},
      {"Provider=SQLOLEDB;Data Source='srv'", "Driver=FreeTDS;Server=srv;Port=1433"},
  };
  for (const Case& c : cases) {
    const auto target = ResolveConnectionString(c.ado);
    EXPECT_EQ(target.kind, BackendKind::ODBC) << c.ado;
    EXPECT_EQ(target.odbc, c.odbc) << c.ado;
  }
}

TEST(ConnectionString, OdbcStringsPassThrough) {
  const std::string odbc = "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=5432;Database=x";
  EXPECT_EQ(ResolveConnectionString(odbc).odbc, odbc);
  EXPECT_EQ(ResolveConnectionString("DSN=center").kind, BackendKind::ODBC);
}

TEST(ConnectionString, MissingOrUnknownProviderIsAClearError) {
  EXPECT_THROW_MSG(ResolveConnectionString("Data Source=srv;Initial Catalog=x"), DatabaseError,
                   text::Utf8ToAnsi("Připojovací řetězec neuvádí poskytovatele databáze (Provider)"));
  EXPECT_THROW_MSG(ResolveConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=a.mdb"),
                   DatabaseError,
                   text::Utf8ToAnsi("Nepodporovaný poskytovatel databáze: Microsoft.Jet.OLEDB.4.0"));
  EXPECT_THROW_MSG(ResolveConnectionString("Provider=SQLite"), DatabaseError,
                   text::Utf8ToAnsi("Připojovací řetězec SQLite neuvádí složku databází (Data Source)"));
}

TEST(DateTimeText, ParsesTheFormsDatabasesPrint) {
  EXPECT_EQ(ParseDateTimeText("2003-12-07 13:05:09.120"), (DateTime{2003, 12, 7, 13, 5, 9, 120}));
  EXPECT_EQ(ParseDateTimeText("2003-12-07T13:05:09"), (DateTime{2003, 12, 7, 13, 5, 9, 0}));
  EXPECT_EQ(ParseDateTimeText("2003/12/07 13:05"), (DateTime{2003, 12, 7, 13, 5, 0, 0}));
  EXPECT_EQ(ParseDateTimeText("2004-02-29"), (DateTime{2004, 2, 29, 0, 0, 0, 0}));
  EXPECT_EQ(ParseDateTimeText("2024-01-01 00:00:00.1234567"), (DateTime{2024, 1, 1, 0, 0, 0, 123}));
  for (std::string_view bad :
       {"2003-02-29", "2003-13-01", "2003-12-07 24:00", "07.12.2003", "2003-12-07x", ""}) {
    EXPECT_EQ(ParseDateTimeText(bad), std::nullopt) << bad;
  }
  EXPECT_EQ(FormatDateTimeText(DateTime{987, 1, 2, 3, 4, 5, 6}), "0987-01-02 03:04:05.006");
}

TEST(GuidText, IsBracedUpperCaseOrNone) {
  EXPECT_EQ(NormalizeGuidText("6f9619ff-8b86-d011-b42d-00c04fc964ff"),
            "{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
  EXPECT_EQ(NormalizeGuidText("{6F9619FF-8B86-D011-B42D-00C04FC964Fa}"),
            "{6F9619FF-8B86-D011-B42D-00C04FC964FA}");
  for (const std::string& text : std::initializer_list<std::string>{
           "", "{}", "6F9619FF8B86D011B42D00C04FC964FF", "{6F9619FF-8B86-D011-B42D-00C04FC964FF",
           "6F9619FF-8B86-D011-B42D-00C04FC964FF}", "6F9619FG-8B86-D011-B42D-00C04FC964FF",
           "6F9619FF-8B86-D011-B42D-00C04FC964F ", "6F9619FF-8B86-D011-B42D-00C04FC964F-",
           "6F9619FF-8B86-D011+B42D-00C04FC964FF", "6F9619F-F8B86-D011-B42D-00C04FC964FF",
           "(6F9619FF-8B86-D011-B42D-00C04FC964FF)", "6F9619FF-8B86-D011-B42D-00C04FC964F\xC1"}) {
    EXPECT_EQ(NormalizeGuidText(text), std::nullopt) << text;
  }
}

TEST(Value, ConvertsBetweenKindsOrSaysWhyNot) {
  EXPECT_EQ(Value::Text(" 42 ").AsInteger(), 42);
  EXPECT_DOUBLE_EQ(Value::Text("2.5").AsDouble(), 2.5);
  EXPECT_EQ(Value::Double(-2.9).AsInteger(), -2);
  EXPECT_TRUE(Value::Text("True").AsBoolean());
  EXPECT_FALSE(Value::Text("0").AsBoolean());
  EXPECT_EQ(Value::Boolean(true).AsString(), "1");
  EXPECT_EQ(Value::Text("2003-12-07 10:00:00").AsDateTime(), (DateTime{2003, 12, 7, 10, 0, 0, 0}));
  EXPECT_EQ(Value::Null().AsInteger(), 0);
  EXPECT_TRUE(Value().IsNull());
  EXPECT_NE(Value::Text("x"), Value::Guid("x"));
  EXPECT_THROW_MSG((void)Value::Text("abc").AsInteger(), DatabaseError,
                   "Value 'abc' of kind Text cannot be read as integer");
  EXPECT_THROW((void)Value::Double(1e300).AsInteger(), DatabaseError);
  EXPECT_THROW((void)Value::Integer(5).AsDateTime(), DatabaseError);
}

}  // namespace
}  // namespace tamaril::dbaccess
