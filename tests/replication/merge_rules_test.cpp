// The import's decisions run through real merges into a SQLite center: which rows the rules let
// through, what is stamped and counted, and the log line of every decision.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dataset/date_codec.h"
#include "dataset/field.h"
#include "dataset/memory_table.h"
#include "dataset/stream.h"
#include "engine_fixture.h"
#include "expr/expression.h"
#include "replication/conflict_list.h"
#include "replication/merge_rules.h"
#include "support/expect_throw_msg.h"
#include "text/encoding.h"
#include "text/error.h"

namespace tamaril::replication {
namespace {

using fixtures::EngineTest;

constexpr const char* kSchema =
    "CREATE TABLE Groups (Id INTEGER PRIMARY KEY, Name VARCHAR(20));"
    "CREATE TABLE Items (Id INTEGER PRIMARY KEY, Name VARCHAR(30), Qty INTEGER, Changed DATETIME,"
    " GroupId INTEGER, rep_Date_Inserted DATETIME, rep_Signature_Inserted VARCHAR(10),"
    " rep_Date_Updated DATETIME, rep_Signature_Updated VARCHAR(10),"
    " CONSTRAINT FK_Items_Groups FOREIGN KEY (GroupId) REFERENCES Groups(Id));"
    "CREATE TABLE Codes (Id INTEGER PRIMARY KEY, Code VARCHAR(10) UNIQUE);"
    "CREATE TABLE rep_DELETED (SUCCNO INTEGER PRIMARY KEY, TABLENAME VARCHAR(50), RECORDID INTEGER,"
    " RECORDGUID VARCHAR(38));"
    "CREATE TABLE rep_DEFIMPORT (Signature VARCHAR(10) NOT NULL, TABLENAME VARCHAR(20) NOT NULL,"
    " IgnoreRowGuidField bit NOT NULL DEFAULT 0, AppendRule TEXT, UpdateRule TEXT, UpdateFieldRule TEXT,"
    " DeleteRule TEXT, LastImportDate datetime, LISTORDER INT NOT NULL,"
    " PRIMARY KEY (Signature, TABLENAME));";

constexpr const char* kItemColumns =
    "SELECT Id, Name, Qty, rep_Date_Inserted, rep_Signature_Inserted, rep_Date_Updated, rep_Signature_Updated"
    " FROM Items ORDER BY Id";

const std::string kSignature = "CLI1";
const double kImportTime = *dataset::ParseIsoDateTime("2026-12-08T12:30:00");
constexpr const char* kImportTimeText = "2026-12-08 12:30:00.000";

std::string Ansi(const std::string& utf8) { return text::Utf8ToAnsi(utf8); }

class MergeRulesTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ExecuteBoth(kSchema);
    ExecuteBoth("INSERT INTO Groups VALUES (1, 'Nářadí')");
    ScanBoth();
  }

  /// A rule row of the center; empty texts are stored as NULL.
  void SetRules(const std::string& table, const std::string& append, const std::string& update,
                const std::string& update_field, const std::string& remove,
                const std::string& last_import = {}, const std::string& signature = kSignature) {
    auto statement = center_.Prepare(
        "INSERT INTO rep_DEFIMPORT (Signature, TABLENAME, AppendRule, UpdateRule, UpdateFieldRule, "
        "DeleteRule,"
        " LastImportDate, LISTORDER) VALUES (:s, :t, :a, :u, :f, :d, :l, 1)");
    auto text = [](const std::string& value) {
      return value.empty() ? dbaccess::Value::Null() : dbaccess::Value::Text(Ansi(value));
    };
    statement->SetParameter("s", dbaccess::Value::Text(signature));
    statement->SetParameter("t", dbaccess::Value::Text(table));
    statement->SetParameter("a", text(append));
    statement->SetParameter("u", text(update));
    statement->SetParameter("f", text(update_field));
    statement->SetParameter("d", text(remove));
    statement->SetParameter("l", text(last_import));
    statement->Execute();
  }

  /// Merges `content` with the rules of the run context; the log lines (UTF-8) go to lines_.
  void MergeWithRules(const std::string& content, const std::string& signature = kSignature) {
    lines_.clear();
    rules_ = std::make_unique<tMergeRules>(center_, center_structure_,
                                           tMergeRunContext{signature, kImportTime, "CLI1.ZR2", "center"});
    rules_->OnLog = [&](const std::string& line) { lines_.push_back(text::AnsiToUtf8(line)); };
    rules_->Conflicts = &conflicts_;
    rules_->CheckCancel = [&] {
      ++cancel_checks_;
      if (cancel_) throw EAbort();
    };
    configure_merger_ = [&](tQVMMerger& merger) { rules_->Install(merger); };
    fixtures::MergeLog ignored;
    Merge(content, ignored);
  }

  /// The log lines that are not table starts.
  std::vector<std::string> Decisions() const {
    std::vector<std::string> decisions;
    for (const auto& line : lines_) {
      if (!line.starts_with("Cílová tabulka")) decisions.push_back(line);
    }
    return decisions;
  }

  std::unique_ptr<tMergeRules> rules_;
  tConflictList conflicts_;
  std::vector<std::string> lines_;
  int cancel_checks_ = 0;
  bool cancel_ = false;
};

using Lines = std::vector<std::string>;

TEST_F(MergeRulesTest, WithoutARuleRowEveryRowIsIgnoredWithItsLine) {
  center_.Execute(
      "INSERT INTO Items (Id, Name, Qty) VALUES (1, 'Stará', 1);"
      "INSERT INTO Codes VALUES (4, 'D');");
  client_.Execute(
      "INSERT INTO Items (Id, Name, Qty) VALUES (1, 'Nová', 1), (2, 'Druhá', 2);"
      "INSERT INTO rep_DELETED VALUES (1, 'Codes', 4, NULL)");
  MergeWithRules(Publish({"Items"}, "rep_DELETED"));

  EXPECT_EQ(
      lines_,
      (Lines{"Cílová tabulka je nyní Codes", "Mazání záznamu ignorováno - pravidlo není nastaveno(Id=4)",
             "Cílová tabulka je nyní Groups", "duplikovaný záznam(Id=1)", "Cílová tabulka je nyní Items",
             "Oprava záznamu ignorována - pravidlo není splněno(Id=1)",
             "Přidání záznamu ignorováno - pravidlo není nastaveno (Id=2)"}));
  EXPECT_EQ(rules_->Counters().ignored, 3);
  EXPECT_EQ(rules_->Counters().duplicates, 1);
  EXPECT_EQ(Rows(center_, "SELECT Id, Name FROM Items"), "1|Stará\n");
  EXPECT_EQ(Rows(center_, "SELECT Id FROM Codes"), "4\n");
  EXPECT_GT(cancel_checks_, 0);
}

TEST_F(MergeRulesTest, ADuplicateAsksNoRuleAndWritesNothing) {
  // Rules that do not compile would fail the merge if any were asked.
  SetRules("Items", "(((", "(((", "(((", "(((");
  center_.Execute(
      "INSERT INTO Items (Id, Name, Qty, rep_Date_Updated, rep_Signature_Updated)"
      " VALUES (1, 'Kus', 1, '2020-01-01 00:00:00.000', 'CENTRUM')");
  client_.Execute(
      "INSERT INTO Items (Id, Name, Qty, rep_Date_Updated, rep_Signature_Updated)"
      " VALUES (1, 'Kus', 1, '2026-01-01 00:00:00.000', 'KLIENT')");
  const std::string before = Rows(center_, kItemColumns);
  MergeWithRules(Publish({"Items"}));
  EXPECT_EQ(Decisions(), (Lines{"duplikovaný záznam(Id=1)", "duplikovaný záznam(Id=1)"}));
  EXPECT_EQ(rules_->Counters().duplicates, 2);
  EXPECT_EQ(Rows(center_, kItemColumns), before);
}

TEST_F(MergeRulesTest, AppendsAreJudgedAndStamped) {
  SetRules("Items", "(QTY > 1) AND (@SIGNATURE = \"CLI1\") AND (CHANGED > @LASTIMPRT)", "", "", "",
           "2026-06-01 00:00:00.000");
  client_.Execute(
      "INSERT INTO Items VALUES (2, 'Nový', 5, '2026-07-01 00:00:00.000', 1, '2026-01-02 00:00:00.000',"
      " 'KLIENT', '2026-01-03 00:00:00.000', 'KLIENT'),"
      " (3, 'Malý', 1, '2026-07-01 00:00:00.000', 1, NULL, NULL, NULL, NULL),"
      " (4, 'Starý', 5, '2026-05-01 00:00:00.000', 1, NULL, NULL, NULL, NULL);"
      "INSERT INTO Codes VALUES (7, 'G')");
  SetRules("Codes", "ID = 7", "", "", "");
  MergeWithRules(Publish({"Items", "Codes"}));

  const std::string not_met =
      "Přidání záznamu ignorováno - pravidlo (QTY > 1) AND (@SIGNATURE = \"CLI1\") AND (CHANGED > "
      "@LASTIMPRT) "
      "není splněno";
  EXPECT_EQ(Decisions(), (Lines{"záznam přidán(Id=7)", "duplikovaný záznam(Id=1)", "záznam přidán(Id=2)",
                                not_met + "(Id=3)", not_met + "(Id=4)"}));
  // The client's stamps give way to the center's import time and the client's Signature; a
  // table without the tracking columns is written as it came.
  EXPECT_EQ(Rows(center_, kItemColumns), std::string("2|Nový|5|") + kImportTimeText + "|CLI1|NULL|NULL\n");
  EXPECT_EQ(Rows(center_, "SELECT * FROM Codes"), "7|G\n");
  EXPECT_EQ(rules_->Counters().appended, 2);
  EXPECT_EQ(rules_->Counters().ignored, 2);
  EXPECT_EQ(rules_->TableCounters("Items").appended, 1);
  EXPECT_EQ(rules_->TableCounters("Codes").appended, 1);
  EXPECT_EQ(rules_->TableCounters("Groups").appended, 0);
}

// The same row dataset gets other fields between two decisions (as a new layout gives it): the
// stamps go into the tracking fields it has then, and none without all four.
TEST_F(MergeRulesTest, StampsGoIntoTheFieldsTheRowHasAtEachDecision) {
  SetRules("Items", "ID > 0", "", "", "");
  tMergeRules rules(center_, center_structure_,
                    tMergeRunContext{kSignature, kImportTime, "CLI1.ZR2", "center"});
  dataset::TQVMMemoryTable row;
  auto decide = [&](const char* layout) {
    row.Close();
    row.SetFieldLayout(layout);
    row.Open();
    row.Append();
    row.FieldByName("ID").SetAsInteger(1);
    row.FieldByName("rep_Date_Updated").SetAsDateTime(kImportTime - 1);
    row.Post();
    rules.TableStart("Items");
    return rules.AllowAppend(row);
  };
  auto stamps = [&] {
    std::string text;
    for (const char* name :
         {"rep_Date_Inserted", "rep_Signature_Inserted", "rep_Date_Updated", "rep_Signature_Updated"}) {
      const dataset::TField* field = row.FindField(name);
      text += field == nullptr ? "-" : field->IsNull() ? "NULL" : field->AsString();
      text += '|';
    }
    return text;
  };
  ASSERT_TRUE(
      decide("ID;Integer;0;0;rep_Date_Inserted;DateTime;0;0;rep_Signature_Inserted;String;10;0;"
             "rep_Date_Updated;DateTime;0;0;rep_Signature_Updated;String;10;0"));
  const std::string first = stamps();
  EXPECT_TRUE(first.ends_with("|CLI1|NULL|NULL|")) << first;
  // Other fields in another order, named in other letter case.
  ASSERT_TRUE(
      decide("rep_signature_updated;String;10;0;REP_SIGNATURE_INSERTED;String;10;0;ID;Integer;0;0;"
             "rep_date_updated;DateTime;0;0;Rep_Date_Inserted;DateTime;0;0"));
  EXPECT_EQ(stamps(), first);
  ASSERT_TRUE(
      decide("ID;Integer;0;0;rep_Date_Inserted;DateTime;0;0;rep_Signature_Inserted;String;10;0;"
             "rep_Date_Updated;DateTime;0;0"));
  EXPECT_EQ(stamps(), "NULL|NULL|" + row.FieldByName("rep_Date_Updated").AsString() + "|-|");
  // A tracking field of another type takes the import time as its own type holds it.
  const char* text_date =
      "ID;Integer;0;0;rep_Date_Inserted;String;30;0;rep_Signature_Inserted;String;10;0;"
      "rep_Date_Updated;DateTime;0;0;rep_Signature_Updated;String;10;0";
  dataset::TQVMMemoryTable expected;
  expected.SetFieldLayout(text_date);
  expected.Open();
  expected.Append();
  expected.FieldByName("rep_Date_Inserted").SetAsDateTime(kImportTime);
  expected.Post();
  ASSERT_TRUE(decide(text_date));
  EXPECT_EQ(stamps(), expected.FieldByName("rep_Date_Inserted").AsString() + "|CLI1|NULL|NULL|");
}

TEST_F(MergeRulesTest, TheFieldRuleWritesOnlyTheFieldsItAllows) {
  SetRules("Items", "", "@IMP_QTY > QTY", "@UPDFLDUPPER = \"NAME\"", "");
  center_.Execute(
      "INSERT INTO Items VALUES (1, 'Stará', 1, NULL, 1, '2020-01-01 00:00:00.000', 'CENTRUM', NULL, NULL),"
      " (2, 'Beze změny', 9, NULL, 1, NULL, NULL, NULL, NULL)");
  client_.Execute(
      "INSERT INTO Items VALUES (1, 'Nová', 2, NULL, 1, '2026-01-01 00:00:00.000', 'KLIENT', NULL, NULL),"
      " (2, 'Jiná', 3, NULL, 1, NULL, NULL, NULL, NULL)");
  MergeWithRules(Publish({"Items"}));

  EXPECT_EQ(Decisions(), (Lines{"duplikovaný záznam(Id=1)", "záznam opraven(Id=1)",
                                "Oprava záznamu ignorována - pravidlo @IMP_QTY > QTY není splněno(Id=2)"}));
  // Qty differs too but keeps its value; the insert stamps stay, the update stamps are set.
  EXPECT_EQ(Rows(center_, kItemColumns), std::string("1|Nová|1|2020-01-01 00:00:00.000|CENTRUM|") +
                                             kImportTimeText + "|CLI1\n2|Beze změny|9|NULL|NULL|NULL|NULL\n");
  EXPECT_EQ(rules_->Counters().updated, 1);
  EXPECT_EQ(rules_->Counters().ignored, 1);
  EXPECT_EQ(rules_->TableCounters("Items").updated, 1);
}

TEST_F(MergeRulesTest, AFieldRuleThatRefusesEveryFieldRefusesTheUpdate) {
  SetRules("Items", "", "ANO", "@UPDFLD = \"Changed\"", "");
  center_.Execute("INSERT INTO Items (Id, Name, Qty) VALUES (1, 'Stará', 1)");
  client_.Execute("INSERT INTO Items (Id, Name, Qty) VALUES (1, 'Nová', 2)");
  MergeWithRules(Publish({"Items"}));
  EXPECT_EQ(Decisions(), (Lines{"duplikovaný záznam(Id=1)",
                                "Oprava záznamu ignorována - oprava poli nebyla povolena(Id=1)"}));
  EXPECT_EQ(rules_->Counters().ignored, 1);
  EXPECT_EQ(rules_->Counters().updated, 0);
  EXPECT_EQ(Rows(center_, kItemColumns), "1|Stará|1|NULL|NULL|NULL|NULL\n");
}

TEST_F(MergeRulesTest, EachDeletionIsJudgedByTheRulesOfItsTable) {
  SetRules("Codes", "", "", "", "(@DEL_TABLENAME = \"Codes\") AND (CODE <> \"O'K\")");
  SetRules("Items", "", "", "", "@DEL_RECORDID = 99");
  center_.Execute(
      "INSERT INTO Codes VALUES (4, 'D'), (5, 'O''K');"
      "INSERT INTO Items (Id, Name) VALUES (1, 'Kus')");
  client_.Execute(
      "INSERT INTO Codes VALUES (4, 'D');"
      "INSERT INTO rep_DELETED VALUES (1, 'Codes', 4, NULL), (2, 'Items', 1, NULL), (3, 'Items', 9, NULL),"
      " (4, 'Codes', 5, NULL)");
  MergeWithRules(Publish({"Codes"}, "rep_DELETED"));

  // Item 9 is not in the center: no line. The ordinary table loads its rules again.
  EXPECT_EQ(
      lines_,
      (Lines{"Cílová tabulka je nyní Codes", "záznam vymazán", "Cílová tabulka je nyní Items",
             "Mazání záznamu ignorováno - pravidlo @DEL_RECORDID = 99 není splněno(Id=1)",
             "Cílová tabulka je nyní Codes",
             "Mazání záznamu ignorováno - pravidlo (@DEL_TABLENAME = \"Codes\") AND (CODE <> \"O'K\") není "
             "splněno(Id=5)",
             "Cílová tabulka je nyní Codes", "Přidání záznamu ignorováno - pravidlo není nastaveno (Id=4)"}));
  EXPECT_EQ(Rows(center_, "SELECT Id FROM Codes ORDER BY Id"), "5\n");
  EXPECT_EQ(Rows(center_, "SELECT Id FROM Items"), "1\n");
  EXPECT_EQ(rules_->Counters().deleted, 1);
  EXPECT_EQ(rules_->Counters().ignored, 3);
  EXPECT_EQ(rules_->TableCounters("Codes").deleted, 1);
  EXPECT_EQ(rules_->TableCounters("Items").deleted, 0);
}

TEST_F(MergeRulesTest, RulesAreLookedUpByBoundValues) {
  // A Signature with a quote finds its own rule row and no other.
  SetRules("Codes", "ANO", "", "", "", {}, "O'K");
  SetRules("Codes", "NE", "", "", "", {}, "O");
  client_.Execute("INSERT INTO Codes VALUES (1, 'A')");
  MergeWithRules(Publish({"Codes"}), "O'K");
  EXPECT_EQ(Decisions(), (Lines{"záznam přidán(Id=1)"}));
}

TEST_F(MergeRulesTest, ARuleLinesTextIsReadAsOneLine) {
  SetRules("Codes", "  (ID > 1)\r\n   AND\n (CODE = \"B\")  ", "", "", "");
  client_.Execute("INSERT INTO Codes VALUES (1, 'A'), (2, 'B')");
  MergeWithRules(Publish({"Codes"}));
  EXPECT_EQ(Decisions(),
            (Lines{"Přidání záznamu ignorováno - pravidlo (ID > 1) AND (CODE = \"B\") není splněno(Id=1)",
                   "záznam přidán(Id=2)"}));
}

TEST_F(MergeRulesTest, ConflictsAreCountedLoggedAndListedWithTheirRows) {
  SetRules("Items", "ANO", "", "", "");
  SetRules("Codes", "", "ANO", "", "");
  // Code 1 is found by its key and, with another code, by its unique code as well.
  center_.Execute("INSERT INTO Codes VALUES (1, 'A'), (2, 'B')");
  client_.Execute(
      "PRAGMA foreign_keys = OFF;"
      "INSERT INTO Items (Id, Name, GroupId) VALUES (5, 'Bez skupiny', 99);"
      "INSERT INTO Codes VALUES (1, 'B')");
  MergeWithRules(Publish({"Items", "Codes"}, {}, [](dataset::TDataSet& row) {
    return row.FindField("GroupId") != nullptr || row.FieldByName("Id").AsInteger() == 1;
  }));

  const std::string missing_master =
      "Porušení vazby master-detail při insertu (Tabulka Items, constraint FK_Items_Groups)(Id=5)";
  const std::string unique_key =
      "Porušení jedinečnosti klíče (Tabulka Codes, constraint sqlite_autoindex_Codes_1)(Id=1)";
  EXPECT_EQ(Decisions(), (Lines{unique_key, "duplikovaný záznam(Id=1)", missing_master}));
  EXPECT_EQ(rules_->Counters().conflicts, 2);
  EXPECT_EQ(Rows(center_, "SELECT COUNT(*) FROM Items"), "0\n");

  const auto lines = conflicts_.Lines();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(text::AnsiToUtf8(lines[0]), unique_key);
  EXPECT_EQ(lines[1], "Archiv: CLI1.ZR2");
  EXPECT_EQ(text::AnsiToUtf8(lines[2]), "Databáze: center");
  EXPECT_EQ(text::AnsiToUtf8(lines[4]), missing_master);
  dataset::TQVMMemoryTable* rows = conflicts_.RowsOfLine(4);
  ASSERT_NE(rows, nullptr);
  ASSERT_EQ(rows->RecordCount(), 1);
  EXPECT_EQ(text::AnsiToUtf8(rows->FieldByName("Name").AsString()), "Bez skupiny");
  EXPECT_EQ(rows->FieldByName("GroupId").AsInteger(), 99);
}

TEST_F(MergeRulesTest, AFailedStatementsLineHasNoKindText) {
  SetRules("Codes", "ANO", "", "", "");
  center_.Execute(
      "DROP TABLE Codes; CREATE TABLE Codes (Id INTEGER PRIMARY KEY, Code VARCHAR(10) CHECK (Code <> 'Z'))");
  center_structure_.Scan();
  client_.Execute("INSERT INTO Codes VALUES (3, 'Z')");
  const std::string content = Publish({"Codes"});
  const auto error = testing::CatchError<dbaccess::DatabaseError>([&] { MergeWithRules(content); });
  ASSERT_TRUE(error.has_value());
  const std::string expected =
      std::string(" (Tabulka Codes, constraint ") + text::AnsiToUtf8(error->what()) + ")(Id=3)";
  EXPECT_EQ(Decisions(), (Lines{expected}));
  EXPECT_EQ(rules_->Counters().conflicts, 1);
  ASSERT_EQ(conflicts_.Groups().size(), 1u);
  EXPECT_EQ(text::AnsiToUtf8(conflicts_.Groups()[0]->message), expected);
}

TEST_F(MergeRulesTest, AValueItsColumnDoesNotTakeIsAConflictNamingTableColumnAndValue) {
  SetRules("Codes", "ANO", "", "", "");
  center_.Execute("DROP TABLE Codes; CREATE TABLE Codes (Id INTEGER PRIMARY KEY, Code MONEY)");
  center_structure_.Scan();
  client_.Execute("INSERT INTO Codes VALUES (1, 'abc'), (2, '12.50')");
  MergeWithRules(Publish({"Codes"}));

  const std::string line =
      "Hodnota nevyhovuje sloupci (Tabulka Codes, sloupec Code: hodnota 'abc' není číslo)(Id=1)";
  EXPECT_EQ(Decisions(), (Lines{line, "záznam přidán(Id=2)"}));
  EXPECT_EQ(rules_->Counters().conflicts, 1);
  ASSERT_EQ(conflicts_.Groups().size(), 1u);
  EXPECT_EQ(text::AnsiToUtf8(conflicts_.Groups()[0]->message), line);
  EXPECT_EQ(Rows(center_, "SELECT Id, typeof(Code), Code FROM Codes"), "2|real|12.5\n");
}

TEST_F(MergeRulesTest, AFailedDeletionNamesTheTableAndRowItDeletesFrom) {
  SetRules("Codes", "", "", "", "ANO");
  center_.Execute(
      "INSERT INTO Codes VALUES (4, 'D');"
      "CREATE TRIGGER KeepCodes BEFORE DELETE ON Codes BEGIN SELECT RAISE(ABORT, 'zamceno'); END;");
  client_.Execute("INSERT INTO rep_DELETED VALUES (1, 'Codes', 4, NULL)");
  const std::string content = Publish({"Groups"}, "rep_DELETED");
  EXPECT_THROW(MergeWithRules(content), dbaccess::DatabaseError);
  ASSERT_EQ(Decisions().size(), 1u);
  EXPECT_TRUE(Decisions()[0].starts_with(" (Tabulka Codes, constraint ")) << Decisions()[0];
  EXPECT_TRUE(Decisions()[0].ends_with(")(Id=4)")) << Decisions()[0];
  EXPECT_EQ(rules_->Counters().conflicts, 1);
}

// A table without a primary key names its rows in the log by their RowGuid, not by "()".
TEST_F(MergeRulesTest, ARowWithoutAPrimaryKeyIsNamedByItsRowGuid) {
  ExecuteBoth("CREATE TABLE Tags (RG UNIQUEIDENTIFIER ROWGUIDCOL, Name VARCHAR(20))");
  ScanBoth();
  SetRules("Tags", "NAME <> \"X\"", "ANO", "", "");
  center_.Execute("INSERT INTO Tags VALUES ('{22222222-2222-4222-8222-222222222222}', 'Starý')");
  client_.Execute(
      "INSERT INTO Tags VALUES ('{11111111-1111-4111-8111-111111111111}', 'Nový'),"
      " ('{22222222-2222-4222-8222-222222222222}', 'Opravený'), ('{33333333-3333-4333-8333-333333333333}', "
      "'X')");
  MergeWithRules(Publish({"Tags"}));
  EXPECT_EQ(Decisions(), (Lines{"záznam přidán(RG={11111111-1111-4111-8111-111111111111})",
                                "záznam opraven(RG={22222222-2222-4222-8222-222222222222})",
                                "Přidání záznamu ignorováno - pravidlo NAME <> \"X\" není splněno"
                                "(RG={33333333-3333-4333-8333-333333333333})"}));
}

TEST_F(MergeRulesTest, ACancelledRunStopsTheMerge) {
  SetRules("Codes", "ANO", "", "", "");
  client_.Execute("INSERT INTO Codes VALUES (1, 'A')");
  const std::string content = Publish({"Codes"});
  cancel_ = true;
  EXPECT_THROW(MergeWithRules(content), EAbort);
  EXPECT_EQ(Rows(center_, "SELECT COUNT(*) FROM Codes"), "0\n");
}

TEST_F(MergeRulesTest, ARuleThatDoesNotCompileFailsTheMerge) {
  SetRules("Codes", "NEZNAMA > 1", "", "", "");
  client_.Execute("INSERT INTO Codes VALUES (1, 'A')");
  EXPECT_THROW_MSG(MergeWithRules(Publish({"Codes"})), expr::ExpressionError,
                   Ansi("Neznámá operace:\r'NEZNAMA'"));
}

}  // namespace
}  // namespace tamaril::replication
