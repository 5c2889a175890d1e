#include "replication/export_run.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/login_cache.h"
#include "core/repl_options.h"
#include "dbaccess/connection.h"
#include "dbstruct/mssql/database_structure.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "dbstruct/structure_cache.h"
#include "mssql_scripted_backend.h"
#include "recording_host.h"
#include "replication/archive.h"
#include "replication/archive_dump.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

namespace fs = std::filesystem;
using dataset::FieldType;
using dbaccess::Value;

// The rep_ tables with the columns the setup script gives them, and two replicated tables:
// Customers, the master of Orders. Both carry the tracking columns and their triggers.
constexpr const char* kSchema = R"sql(
CREATE TABLE rep_TBLDESC (TABLENAME varchar(20) PRIMARY KEY, TABLEDESC nvarchar(50) NOT NULL,
  LISTORDER int NOT NULL, DefIgnoreRowGuidField bit NOT NULL DEFAULT 0, DefExportRule text,
  DefAppendRule text, DefUpdateRule text, DefUpdateFieldRule text, DefDeleteRule text);
CREATE TABLE rep_DEFEXPORT (Signature varchar(10) NOT NULL, TABLENAME varchar(20) NOT NULL,
  ExportRule text, LastExportDate datetime, LISTORDER int NOT NULL DEFAULT 0,
  PRIMARY KEY (Signature, TABLENAME));
CREATE TABLE rep_XPORTLOG (Signature varchar(10) NOT NULL, EXPORTNO int NOT NULL, EXPORTDATE datetime NOT NULL,
  SERVEREXPORTDATE datetime NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')),
  PRIMARY KEY (Signature, EXPORTNO));
CREATE TABLE rep_XPORTLOGDETAIL (Signature varchar(10) NOT NULL, EXPORTNO int NOT NULL,
  TABLENAME varchar(20) NOT NULL, COUNTRECORDS int NOT NULL DEFAULT 0, PRIMARY KEY (Signature, EXPORTNO, TABLENAME));
CREATE TABLE rep_DEFIMPORT (Signature varchar(10) NOT NULL, TABLENAME varchar(20) NOT NULL,
  IgnoreRowGuidField bit NOT NULL DEFAULT 0, AppendRule text, UpdateRule text, UpdateFieldRule text,
  DeleteRule text, LastImportDate datetime, LISTORDER int NOT NULL DEFAULT 0, PRIMARY KEY (Signature, TABLENAME));
CREATE TABLE rep_IMPORTLOG (Signature varchar(10) NOT NULL, IMPORTNO int NOT NULL,
  IMPORTDATE datetime NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')),
  CLIENTEXPORTNO int NOT NULL, CLIENTEXPORTDATE datetime NOT NULL, PRIMARY KEY (Signature, IMPORTNO));
CREATE TABLE rep_IMPORTLOGDETAIL (Signature varchar(10) NOT NULL, IMPORTNO int NOT NULL,
  TABLENAME varchar(20) NOT NULL, COUNT_APPENDED int NOT NULL DEFAULT 0, COUNT_UPDATED int NOT NULL DEFAULT 0,
  COUNT_DELETED int NOT NULL DEFAULT 0, PRIMARY KEY (Signature, IMPORTNO, TABLENAME));
CREATE TABLE rep_DELETED (SUCCNO integer PRIMARY KEY, TABLENAME varchar(20) NOT NULL, RECORDGUID varchar(38),
  RECORDID int, DELTIME datetime NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')));
CREATE TABLE rep_USERFK (ID integer PRIMARY KEY, PK_TableName varchar(40), FK_TableName varchar(40),
  ConstraintName varchar(40), PK_Field varchar(40), FK_Field varchar(40));
CREATE TABLE Customers (Id integer PRIMARY KEY, Name varchar(40),
  rep_Date_Inserted datetime, rep_Signature_Inserted varchar(10),
  rep_Date_Updated datetime, rep_Signature_Updated varchar(10));
CREATE TABLE Orders (Id integer PRIMARY KEY, CustomerId int REFERENCES Customers(Id), Amount int,
  rep_Date_Inserted datetime, rep_Signature_Inserted varchar(10),
  rep_Date_Updated datetime, rep_Signature_Updated varchar(10));
CREATE TRIGGER rep_tr_Del_Customers AFTER DELETE ON Customers BEGIN
  INSERT INTO rep_DELETED (TABLENAME, RECORDID) VALUES ('Customers', old.Id); END;
CREATE TRIGGER rep_tr_Ins_Customers AFTER INSERT ON Customers BEGIN SELECT 1; END;
CREATE TRIGGER rep_tr_Del_Orders AFTER DELETE ON Orders BEGIN
  INSERT INTO rep_DELETED (TABLENAME, RECORDID) VALUES ('Orders', old.Id); END;
CREATE TRIGGER rep_tr_Ins_Orders AFTER INSERT ON Orders BEGIN SELECT 1; END;
INSERT INTO rep_TBLDESC (TABLENAME, TABLEDESC, LISTORDER) VALUES ('rep_DELETED', 'Deleted', 0),
  ('Customers', 'Customers', 1), ('Orders', 'Orders', 2);
INSERT INTO Customers (Id, Name) VALUES (1, 'Alfa'), (2, 'Beta');
INSERT INTO Orders (Id, CustomerId, Amount) VALUES (10, 1, 5), (11, 2, 7), (12, 2, 9);
)sql";

// SQLite connections never ask for a login.
struct NoLogin : core::LoginPrompt {
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override { return false; }
};

class ExportRun : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.SetConnectionString(ConnectionString());
    db_.Open();
    db_.CreateDatabase("shop");
    db_.SetDefaultDatabase("shop");
    db_.Execute(kSchema);
    options_.ExportFolder = text::Utf8ToAnsi(exports_.path());
  }

  std::string ConnectionString() const { return "Provider=SQLite;Data Source=" + data_.path(); }

  // Sets the export rule of a table for the definition (NULL for nullptr).
  void Rule(const std::string& table, const char* rule, const std::string& signature = "SHOP") {
    auto statement = db_.Prepare(
        "INSERT OR REPLACE INTO rep_DEFEXPORT (Signature, TABLENAME, ExportRule) VALUES (:s, :t, :r)");
    statement->SetParameter("s", Value::Text(signature));
    statement->SetParameter("t", Value::Text(table));
    statement->SetParameter("r", rule == nullptr ? Value() : Value::Text(text::Utf8ToAnsi(rule)));
    statement->Execute();
  }

  tExportResult Export(const std::string& signature = "SHOP") {
    tExportDefinition definition{signature, ConnectionString(), "shop", "Centrum"};
    tExportRun run(access_, options_, host_);
    return run.Run(definition);
  }

  // One text per row of a query, columns joined by "|".
  std::vector<std::string> Rows(const std::string& sql) {
    std::vector<std::string> rows;
    auto cursor = db_.Query(sql);
    while (cursor->Next()) {
      std::string row;
      for (std::size_t i = 0; i < cursor->Columns().size(); ++i) {
        if (i > 0) row += "|";
        row += cursor->Get(i).IsNull() ? "NULL" : cursor->Get(i).AsString();
      }
      rows.push_back(row);
    }
    return rows;
  }

  std::string Dump(const std::string& path) {
    std::ostringstream out;
    DumpArchive(path, true, out);
    return out.str();
  }

  // The names in the export folder, sorted.
  std::vector<std::string> ExportFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(exports_.path()))
      names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  testing::TempDir data_;
  testing::TempDir exports_;
  dbaccess::Connection db_;
  core::TReplOptions options_;
  testing::RecordingHost host_;
  NoLogin prompt_;
  core::LoginCache logins_{prompt_};
  dbaccess::Connection main_;
  dbaccess::Connection master_;
  dbstruct::tDBStructureCache cache_;
  tDatabaseAccess access_{logins_, main_, master_, cache_};
};

const std::string kSuccess = text::Utf8ToAnsi("Export úspěšně dokončen");
const std::string kCancelled = text::Utf8ToAnsi("Export přerušen uživatelem");

TEST_F(ExportRun, NumbersRunsFromOneAndLogsWhatEachTableWrote) {
  Rule("Customers", "ANO");
  Rule("Orders", "AMOUNT > 6");
  const tExportResult first = Export();
  ASSERT_EQ(first.Outcome, tExportOutcome::Success) << first.Text;
  EXPECT_EQ(first.Text, kSuccess);
  EXPECT_EQ(first.ExportNo, 1);
  EXPECT_EQ(first.ArchivePath, exports_.File("SHOP.ZR2"));
  EXPECT_EQ(first.MovedAsidePath, "");
  EXPECT_EQ(first.Rows, (std::vector<std::pair<std::string, int>>{{"Customers", 2}, {"Orders", 2}}));
  EXPECT_TRUE(first.Warnings.empty());
  EXPECT_EQ(host_.record_count, 4);
  EXPECT_EQ(host_.messages, (std::vector<std::string>{kSuccess}));

  EXPECT_EQ(Rows("SELECT Signature, EXPORTNO FROM rep_XPORTLOG"), (std::vector<std::string>{"SHOP|1"}));
  EXPECT_EQ(
      Rows("SELECT TABLENAME, COUNTRECORDS FROM rep_XPORTLOGDETAIL WHERE EXPORTNO = 1 ORDER BY TABLENAME"),
      (std::vector<std::string>{"Customers|2", "Orders|2"}));
  EXPECT_EQ(Rows("SELECT count(*) FROM rep_DEFEXPORT d JOIN rep_XPORTLOG l ON l.Signature = d.Signature "
                 "WHERE d.LastExportDate = l.SERVEREXPORTDATE"),
            (std::vector<std::string>{"2"}));

  // The whole archive but its export time, which is the clock's.
  std::string dump = Dump(first.ArchivePath);
  const auto time = dump.find("čas exportu: ");
  ASSERT_NE(time, std::string::npos) << dump;
  dump.erase(time, dump.find('\n', time) + 1 - time);
  const std::string tracking =
      "rep_Date_Inserted;DateTime;0;0;rep_Signature_Inserted;String;10;0;rep_Date_Updated;DateTime;0;0;"
      "rep_Signature_Updated;String;10;0\n";
  const std::string no_tracking =
      "  rep_Date_Inserted=NULL\n  rep_Signature_Inserted=NULL\n  rep_Date_Updated=NULL\n"
      "  rep_Signature_Updated=NULL\n";
  EXPECT_EQ(dump,
            "identifikace archivu: v pořádku\nSignature: SHOP\nEXPORTNO: 1\ntabulky: Customers, Orders\n"
            "tabulka Customers příznak=0 řádků=2\npopis polí: Id;Integer;0;0;Name;String;40;0;" +
                tracking + "řádek 1\n  Id=1\n  Name=\"Alfa\"\n" + no_tracking +
                "řádek 2\n  Id=2\n  Name=\"Beta\"\n" + no_tracking +
                "tabulka Orders příznak=0 řádků=2\npopis polí: "
                "Id;Integer;0;0;CustomerId;Integer;0;0;Amount;Integer;0;0;" +
                tracking + "řádek 1\n  Id=11\n  CustomerId=2\n  Amount=7\n" + no_tracking +
                "řádek 2\n  Id=12\n  CustomerId=2\n  Amount=9\n" + no_tracking + "konec\n");

  const tExportResult second = Export();
  ASSERT_EQ(second.Outcome, tExportOutcome::Success) << second.Text;
  EXPECT_EQ(second.ExportNo, 2);
  EXPECT_EQ(Rows("SELECT EXPORTNO FROM rep_XPORTLOG ORDER BY EXPORTNO"),
            (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(tArchiveReader(second.ArchivePath).Header().ExportNo, 2);
}

// The content of an archive of a table with a column of every kind, after the header (which
// holds the run's time), in hexadecimal: what the archive format makes of such rows, byte for
// byte. A change of this file is a change of the format every branch's program reads.
TEST_F(ExportRun, TheArchiveHoldsEveryKindOfValueByteForByte) {
  db_.Execute(
      "CREATE TABLE Kinds (Id INTEGER PRIMARY KEY, Short VARCHAR(3), Small SMALLINT, Tiny TINYINT, Note "
      "TEXT, "
      "Data BLOB, Fixed BINARY(4), Amount MONEY, Price DECIMAL(10,2), Day DATE, At DATETIME, "
      "G UNIQUEIDENTIFIER, Loose, Flag BIT, Wide NVARCHAR(5), Big BIGINT, Ratio FLOAT, rep_Date_Inserted "
      "datetime, rep_Signature_Inserted varchar(10), rep_Date_Updated datetime, rep_Signature_Updated "
      "varchar(10));"
      "CREATE TRIGGER rep_tr_Del_Kinds AFTER DELETE ON Kinds BEGIN "
      "INSERT INTO rep_DELETED (TABLENAME, RECORDID) VALUES ('Kinds', old.Id); END;"
      "CREATE TRIGGER rep_tr_Ins_Kinds AFTER INSERT ON Kinds BEGIN SELECT 1; END;"
      "INSERT INTO rep_TBLDESC (TABLENAME, TABLEDESC, LISTORDER) VALUES ('Kinds', 'Kinds', 3);"
      "INSERT INTO Kinds (Id, Short, Small, Tiny, Note, Data, Fixed, Amount, Price, Day, At, G, Loose, Flag, "
      "Wide, Big, Ratio) VALUES (1, 'abcdef', 70000, 300, 'line\r\n\tend', x'00ff10', x'07', 12.5, 3.25, "
      "'2024-02-29', '2024-02-29 13:45:07.123', '{6f9619ff-8b86-d011-b42d-00c04fc964ff}', 2.5, 1, 'wide!', "
      "-9223372036854775808, 1e-300);"
      "INSERT INTO Kinds (Id, Short, Small, Tiny, Note, Data, Fixed, Amount, Price, Day, At, G, Loose, Flag, "
      "Wide, Big, Ratio) VALUES (2, '', 1, 1, '', x'', x'', 0, 0, '2000-01-01', '2000-01-01', NULL, 7, 0, "
      "'', 0, 0);"
      "INSERT INTO Kinds (Id) VALUES (3);"
      "INSERT INTO Kinds (Id, Short, Small, Tiny, Note, Data, Fixed, Amount, Price, Day, At, G, Loose, Flag, "
      "Wide, Big, Ratio) VALUES (4, 'ab', -40000, 2, NULL, NULL, NULL, -0.0001, -1234.56, NULL, "
      "'1899-12-30 00:00:00', NULL, NULL, NULL, NULL, 5000000000, -2.5);");
  db_.Execute(text::Utf8ToAnsi("UPDATE Kinds SET Note = 'žluťoučký kůň', Wide = 'Šárka' WHERE Id = 4"));
  Rule("Customers", "ANO");
  Rule("Orders", "ANO");
  Rule("Kinds", "ANO");
  ASSERT_EQ(Export().Text, kSuccess);
  tArchiveReader archive(exports_.File("SHOP.ZR2"));
  std::string hex;
  char chunk[4096];
  std::size_t at = 0;
  for (std::size_t got = archive.Stream().Read(chunk, sizeof chunk); got > 0;
       got = archive.Stream().Read(chunk, sizeof chunk)) {
    for (std::size_t i = 0; i < got; ++i, ++at) {
      hex += fmt::format("{:02x}", static_cast<unsigned char>(chunk[i]));
      hex += at % 32 == 31 ? '\n' : ' ';
    }
  }
  const std::string golden = std::string(TAMARIL_TEST_SOURCE_DIR) + "/replication/golden/export_kinds.hex";
  if (std::getenv("TAMARIL_WRITE_GOLDEN") != nullptr) {
    std::ofstream(golden, std::ios::binary) << hex;
  }
  EXPECT_EQ(hex, testing::ReadWholeFile(golden));
}

TEST_F(ExportRun, ReplacedArchiveIsMovedAsideUnderItsOwnNumber) {
  Rule("Customers", "ANO");
  ASSERT_EQ(Export().Outcome, tExportOutcome::Success);
  const std::string first_bytes = testing::ReadWholeFile(exports_.File("SHOP.ZR2"));

  const tExportResult second = Export();
  ASSERT_EQ(second.Outcome, tExportOutcome::Success) << second.Text;
  EXPECT_EQ(second.MovedAsidePath, exports_.File("SHOP-1.ZR2.bak"));
  EXPECT_EQ(testing::ReadWholeFile(second.MovedAsidePath), first_bytes);
  EXPECT_EQ(tArchiveReader(second.ArchivePath).Header().ExportNo, 2);
  // Nothing else is left behind, not even the lock file.
  EXPECT_EQ(ExportFiles(), (std::vector<std::string>{"SHOP-1.ZR2.bak", "SHOP.ZR2"}));
}

TEST_F(ExportRun, MissingDefinitionFailsWithItsMessageAndWritesNothing) {
  const tExportResult result = Export();
  EXPECT_EQ(result.Outcome, tExportOutcome::Failed);
  EXPECT_EQ(result.Text,
            text::Utf8ToAnsi("Databáze shop nemá pro centrum Centrum založenou definici exportu. "
                             "Definici založte volbou Informace o položce v hlavním menu"));
  EXPECT_EQ(result.ExportNo, 0);
  EXPECT_EQ(host_.messages, (std::vector<std::string>{result.Text}));
  EXPECT_TRUE(ExportFiles().empty());
}

TEST_F(ExportRun, NullRuleLeavesTheTableOutAndAnEmptySelectionKeepsItsDate) {
  Rule("Customers", nullptr);
  Rule("Orders", "AMOUNT > 100");
  db_.Execute("UPDATE rep_DEFEXPORT SET LastExportDate = '2020-01-02 03:04:05.000'");
  const tExportResult result = Export();
  ASSERT_EQ(result.Outcome, tExportOutcome::Success) << result.Text;
  // Customers comes in as the master of Orders, with no rows: its NULL rule selects nothing.
  EXPECT_EQ(result.Rows, (std::vector<std::pair<std::string, int>>{{"Customers", 0}, {"Orders", 0}}));
  EXPECT_NE(Dump(result.ArchivePath).find("tabulky: Orders, Customers"), std::string::npos)
      << Dump(result.ArchivePath);
  EXPECT_EQ(Rows("SELECT EXPORTNO FROM rep_XPORTLOG"), (std::vector<std::string>{"1"}));
  EXPECT_TRUE(Rows("SELECT * FROM rep_XPORTLOGDETAIL").empty());
  EXPECT_EQ(Rows("SELECT DISTINCT LastExportDate FROM rep_DEFEXPORT"),
            (std::vector<std::string>{"2020-01-02 03:04:05.000"}));
}

TEST_F(ExportRun, RulesSeeTheRunIdentifiers) {
  Rule("Customers", "(@SIGNATURE = \"SHOP\") AND (@LASTXPRT = 0)");
  Rule("Orders", "@LASTXPRT > 0");
  db_.Execute("UPDATE rep_DEFEXPORT SET LastExportDate = '2020-01-02 00:00:00' WHERE TABLENAME = 'Orders'");
  const tExportResult result = Export();
  ASSERT_EQ(result.Outcome, tExportOutcome::Success) << result.Text;
  EXPECT_EQ(result.Rows, (std::vector<std::pair<std::string, int>>{{"Customers", 2}, {"Orders", 3}}));
}

TEST_F(ExportRun, DeletedRowsGoFirstAndAdvanceTheirDate) {
  db_.Execute("DELETE FROM Orders WHERE Id = 12");
  Rule("rep_DELETED", "ANO");
  Rule("Orders", "NE");
  const tExportResult result = Export();
  ASSERT_EQ(result.Outcome, tExportOutcome::Success) << result.Text;
  EXPECT_EQ(result.Rows,
            (std::vector<std::pair<std::string, int>>{{"rep_DELETED", 1}, {"Customers", 0}, {"Orders", 0}}));
  const std::string dump = Dump(result.ArchivePath);
  const auto deleted = dump.find("tabulka rep_DELETED příznak=-1 řádků=1");
  ASSERT_NE(deleted, std::string::npos) << dump;
  EXPECT_LT(deleted, dump.find("tabulka Customers"));
  // The deleted-rows table is never in the table list.
  EXPECT_NE(dump.find("tabulky: Orders, Customers\n"), std::string::npos) << dump;
  EXPECT_EQ(Rows("SELECT TABLENAME, COUNTRECORDS FROM rep_XPORTLOGDETAIL"),
            (std::vector<std::string>{"rep_DELETED|1"}));
  EXPECT_EQ(Rows("SELECT TABLENAME FROM rep_DEFEXPORT WHERE LastExportDate IS NOT NULL"),
            (std::vector<std::string>{"rep_DELETED"}));
}

TEST_F(ExportRun, SignatureWithBlanksAndAQuoteNamesTheArchiveTrimmed) {
  const std::string signature = "O'K  ";
  Rule("Customers", "ANO", signature);
  const tExportResult result = Export(signature);
  ASSERT_EQ(result.Outcome, tExportOutcome::Success) << result.Text;
  EXPECT_EQ(result.ArchivePath, exports_.File("O'K.ZR2"));
  EXPECT_EQ(tArchiveReader(result.ArchivePath).Header().Signature, signature);
  EXPECT_EQ(Rows("SELECT '[' || Signature || ']', EXPORTNO FROM rep_XPORTLOG"),
            (std::vector<std::string>{"[O'K  ]|1"}));
  EXPECT_EQ(Rows("SELECT '[' || Signature || ']', COUNTRECORDS FROM rep_XPORTLOGDETAIL"),
            (std::vector<std::string>{"[O'K  ]|2"}));
  EXPECT_EQ(Rows("SELECT count(*) FROM rep_DEFEXPORT WHERE LastExportDate IS NOT NULL"),
            (std::vector<std::string>{"1"}));
}

TEST_F(ExportRun, CancelAnsweredNoGoesOnWhereItStopped) {
  Rule("Customers", "ANO");
  Rule("Orders", "ANO");
  int events = 0;
  host_.on_events = [&] {
    if (++events == 2) host_.RequestCancel();
  };
  host_.confirm_answers = {false};
  const tExportResult result = Export();
  ASSERT_EQ(result.Outcome, tExportOutcome::Success) << result.Text;
  EXPECT_EQ(host_.questions, (std::vector<std::string>{text::Utf8ToAnsi("Opravdu chcete ukončit export?")}));
  EXPECT_EQ(result.Rows, (std::vector<std::pair<std::string, int>>{{"Customers", 2}, {"Orders", 3}}));
}

TEST_F(ExportRun, CancelledRunUsesNoNumberAndLeavesTheOldArchive) {
  Rule("Customers", "ANO");
  Rule("Orders", "ANO");
  ASSERT_EQ(Export().Outcome, tExportOutcome::Success);
  const std::string old_bytes = testing::ReadWholeFile(exports_.File("SHOP.ZR2"));
  const auto dates = Rows("SELECT TABLENAME, LastExportDate FROM rep_DEFEXPORT ORDER BY TABLENAME");

  host_.on_events = [&] { host_.RequestCancel(); };
  host_.confirm_answers = {true};
  const tExportResult cancelled = Export();
  EXPECT_EQ(cancelled.Outcome, tExportOutcome::Cancelled);
  EXPECT_EQ(cancelled.Text, kCancelled);
  EXPECT_EQ(cancelled.ExportNo, 0);
  EXPECT_EQ(cancelled.ArchivePath, "");
  EXPECT_EQ(host_.messages.back(), kCancelled);
  EXPECT_EQ(testing::ReadWholeFile(exports_.File("SHOP.ZR2")), old_bytes);
  EXPECT_EQ(ExportFiles(), (std::vector<std::string>{"SHOP.ZR2"}));
  EXPECT_EQ(Rows("SELECT EXPORTNO FROM rep_XPORTLOG"), (std::vector<std::string>{"1"}));
  EXPECT_EQ(Rows("SELECT TABLENAME, LastExportDate FROM rep_DEFEXPORT ORDER BY TABLENAME"), dates);

  host_.on_events = nullptr;
  EXPECT_EQ(Export().ExportNo, 2);
}

TEST_F(ExportRun, FailedLogLeavesNoArchiveNoLogRowAndTheOldArchiveInPlace) {
  Rule("Customers", "ANO");
  ASSERT_EQ(Export().Outcome, tExportOutcome::Success);
  const std::string old_bytes = testing::ReadWholeFile(exports_.File("SHOP.ZR2"));
  db_.Execute(
      "CREATE TRIGGER refuse AFTER INSERT ON rep_XPORTLOGDETAIL BEGIN SELECT RAISE(ABORT, 'detail refused'); "
      "END");

  const tExportResult failed = Export();
  EXPECT_EQ(failed.Outcome, tExportOutcome::Failed);
  EXPECT_EQ(
      failed.Text,
      text::Utf8ToAnsi("Export neproveden: zápis do protokolu exportu v databázi selhal: detail refused"));
  EXPECT_EQ(failed.ExportNo, 0);
  EXPECT_EQ(testing::ReadWholeFile(exports_.File("SHOP.ZR2")), old_bytes);
  EXPECT_EQ(ExportFiles(), (std::vector<std::string>{"SHOP.ZR2"}));
  // The log row written before the refused detail row went with it.
  EXPECT_EQ(Rows("SELECT EXPORTNO FROM rep_XPORTLOG"), (std::vector<std::string>{"1"}));
  EXPECT_EQ(Rows("SELECT count(*) FROM rep_XPORTLOGDETAIL"), (std::vector<std::string>{"1"}));

  db_.Execute("DROP TRIGGER refuse");
  EXPECT_EQ(Export().ExportNo, 2);
}

TEST_F(ExportRun, RuleErrorEndsTheRunWithoutArchive) {
  Rule("Customers", "NAME +");
  const tExportResult result = Export();
  EXPECT_EQ(result.Outcome, tExportOutcome::Failed);
  EXPECT_FALSE(result.Text.empty());
  EXPECT_TRUE(ExportFiles().empty());
  EXPECT_TRUE(Rows("SELECT * FROM rep_XPORTLOG").empty());
}

TEST_F(ExportRun, MissingExportFolderFailsWithTheReasonInCzech) {
  Rule("Customers", "ANO");
  options_.ExportFolder = text::Utf8ToAnsi(exports_.File("gone"));
  const tExportResult result = Export();
  EXPECT_EQ(result.Outcome, tExportOutcome::Failed);
  EXPECT_EQ(result.Text, text::Utf8ToAnsi("Soubor " + exports_.File("gone/SHOP.ZR2.lock") +
                                          " nelze vytvořit: soubor neexistuje"));
  EXPECT_TRUE(Rows("SELECT * FROM rep_XPORTLOG").empty());
}

TEST_F(ExportRun, ARunOfTheSameSignatureElsewhereIsRefused) {
  Rule("Customers", "ANO");
  const std::string lock_file = exports_.File("SHOP.ZR2.lock");
  const int fd = ::open(lock_file.c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  const tExportResult refused = Export();
  EXPECT_EQ(refused.Outcome, tExportOutcome::Failed);
  EXPECT_EQ(refused.Text,
            text::Utf8ToAnsi("Export pro SHOP už probíhá v jiném programu. Počkejte, až skončí."));
  EXPECT_TRUE(Rows("SELECT * FROM rep_XPORTLOG").empty());
  ::close(fd);
  EXPECT_EQ(Export().Outcome, tExportOutcome::Success);
}

// What runs that ended before putting their archive in place leave: a complete archive under a
// temporary name, with or without its log row.
class ExportAfterInterruption : public ExportRun {
 protected:
  void SetUp() override {
    ExportRun::SetUp();
    Rule("Customers", "ANO");
    ASSERT_EQ(Export().Outcome, tExportOutcome::Success);
    first_ = testing::ReadWholeFile(exports_.File("SHOP.ZR2"));
    db_.Execute("INSERT INTO Customers (Id, Name) VALUES (3, 'Gama')");
    ASSERT_EQ(Export().Outcome, tExportOutcome::Success);
    second_ = testing::ReadWholeFile(exports_.File("SHOP.ZR2"));
  }

  // Turns the folder back to how a run of EXPORTNO 2 that ended after its archive was synced
  // left it: the archive under the temporary name `temporary`, the first archive in place.
  void Interrupt(const std::string& temporary) {
    fs::rename(exports_.File("SHOP.ZR2"), exports_.File(temporary));
    fs::rename(exports_.File("SHOP-1.ZR2.bak"), exports_.File("SHOP.ZR2"));
  }

  std::string first_;
  std::string second_;
};

TEST_F(ExportAfterInterruption, LoggedArchiveGoesInPlaceBeforeTheNextRun) {
  Interrupt("SHOP.ZR2.k1lL3d");
  const tExportResult result = Export();
  ASSERT_EQ(result.Outcome, tExportOutcome::Success) << result.Text;
  EXPECT_EQ(result.ExportNo, 3);
  EXPECT_EQ(result.Notes,
            (std::vector<std::string>{text::Utf8ToAnsi(
                "Archiv exportu 2, zapsaného do protokolu před přerušením běhu, dán na místo: " +
                exports_.File("SHOP.ZR2") + " (předchozí archiv přejmenován na " +
                exports_.File("SHOP-1.ZR2.bak") + ")")}));
  // The second archive is kept like any replaced one, for the center that has not got it yet.
  EXPECT_EQ(result.MovedAsidePath, exports_.File("SHOP-2.ZR2.bak"));
  EXPECT_EQ(testing::ReadWholeFile(exports_.File("SHOP-2.ZR2.bak")), second_);
  EXPECT_EQ(testing::ReadWholeFile(exports_.File("SHOP-1.ZR2.bak")), first_);
  EXPECT_EQ(ExportFiles(), (std::vector<std::string>{"SHOP-1.ZR2.bak", "SHOP-2.ZR2.bak", "SHOP.ZR2"}));
}

TEST_F(ExportAfterInterruption, ARunThatIsNotLoggedLeavesNothingTheNextRunKeeps) {
  // The run of EXPORTNO 2 ended before its log was committed; others were cut while writing.
  Interrupt("SHOP.ZR2.n0tL0g");
  db_.Execute(
      "DELETE FROM rep_XPORTLOGDETAIL WHERE EXPORTNO = 2; DELETE FROM rep_XPORTLOG WHERE EXPORTNO = 2");
  testing::WriteWholeFile(exports_.File("SHOP.ZR2.Cut123"), "x\x9c");
  // A lock file a killed run left, and names that are not this archive's temporary files.
  testing::WriteWholeFile(exports_.File("SHOP.ZR2.lock"), "");
  for (const char* name : {"SHOPX.ZR2.Ab12cd", "SHOP.ZR2.notes", "SHOP.ZR2.Ab-12c"})
    testing::WriteWholeFile(exports_.File(name), second_);

  const tExportResult result = Export();
  ASSERT_EQ(result.Outcome, tExportOutcome::Success) << result.Text;
  EXPECT_EQ(result.ExportNo, 2);
  EXPECT_TRUE(result.Notes.empty());
  EXPECT_EQ(result.MovedAsidePath, exports_.File("SHOP-1.ZR2.bak"));
  EXPECT_EQ(testing::ReadWholeFile(exports_.File("SHOP-1.ZR2.bak")), first_);
  EXPECT_EQ(ExportFiles(), (std::vector<std::string>{"SHOP-1.ZR2.bak", "SHOP.ZR2", "SHOP.ZR2.Ab-12c",
                                                     "SHOP.ZR2.notes", "SHOPX.ZR2.Ab12cd"}));
}

TEST_F(ExportAfterInterruption, AnArchiveOfTheLoggedNumberFromAnotherRunIsRemoved) {
  // The log row 2 holds another export time than the archive: it is not that run's.
  Interrupt("SHOP.ZR2.0th3r1");
  db_.Execute("UPDATE rep_XPORTLOG SET EXPORTDATE = '2001-02-03 04:05:06.000' WHERE EXPORTNO = 2");
  const tExportResult result = Export();
  ASSERT_EQ(result.Outcome, tExportOutcome::Success) << result.Text;
  EXPECT_EQ(result.ExportNo, 3);
  EXPECT_TRUE(result.Notes.empty());
  EXPECT_EQ(ExportFiles(), (std::vector<std::string>{"SHOP-1.ZR2.bak", "SHOP.ZR2"}));
}

TEST_F(ExportAfterInterruption, ACommitThatFailsLeavesNoArchiveAndNoLogRow) {
  // A deferred foreign key fails the log's transaction only at its commit.
  db_.Execute(
      "CREATE TABLE Audit (Id integer REFERENCES Customers(Id) DEFERRABLE INITIALLY DEFERRED);"
      "CREATE TRIGGER audit AFTER INSERT ON rep_XPORTLOG BEGIN INSERT INTO Audit VALUES (99); END");
  const tExportResult failed = Export();
  EXPECT_EQ(failed.Outcome, tExportOutcome::Failed);
  EXPECT_EQ(failed.Text.rfind(text::Utf8ToAnsi("Export neproveden: potvrzení zápisu do protokolu exportu v "
                                               "databázi selhalo: "),
                              0),
            0U)
      << failed.Text;
  EXPECT_EQ(failed.ExportNo, 0);
  EXPECT_EQ(testing::ReadWholeFile(exports_.File("SHOP.ZR2")), second_);
  EXPECT_EQ(ExportFiles(), (std::vector<std::string>{"SHOP-1.ZR2.bak", "SHOP.ZR2"}));
  EXPECT_EQ(Rows("SELECT EXPORTNO FROM rep_XPORTLOG"), (std::vector<std::string>{"1", "2"}));
}

TEST_F(ExportRun, KeepsTheNewestReplacedArchivesTheSettingAllows) {
  Rule("Customers", "ANO");
  options_.BackupCount = 2;
  // Replaced archives without a readable header are not counted, nor are other Signatures'.
  testing::WriteWholeFile(exports_.File("SHOP-9.ZR2.bak"), "damaged");
  testing::WriteWholeFile(exports_.File("SHOP.ZR2.bak"), "damaged");
  for (int run = 1; run <= 3; ++run) {
    const tExportResult result = Export();
    ASSERT_EQ(result.Outcome, tExportOutcome::Success) << result.Text;
    EXPECT_TRUE(result.RemovedBackups.empty());
  }
  fs::copy_file(exports_.File("SHOP-1.ZR2.bak"), exports_.File("SHOPX-1.ZR2.bak"));
  const tExportResult fourth = Export();
  ASSERT_EQ(fourth.Outcome, tExportOutcome::Success) << fourth.Text;
  EXPECT_EQ(fourth.RemovedBackups, (std::vector<std::string>{exports_.File("SHOP-1.ZR2.bak")}));
  EXPECT_EQ(ExportFiles(), (std::vector<std::string>{"SHOP-2.ZR2.bak", "SHOP-3.ZR2.bak", "SHOP-9.ZR2.bak",
                                                     "SHOP.ZR2", "SHOP.ZR2.bak", "SHOPX-1.ZR2.bak"}));

  // With none to keep, the replaced archive goes at once.
  options_.BackupCount = 0;
  const tExportResult fifth = Export();
  ASSERT_EQ(fifth.Outcome, tExportOutcome::Success) << fifth.Text;
  EXPECT_EQ(fifth.MovedAsidePath, "");
  EXPECT_EQ(fifth.RemovedBackups.size(), 3U);
  EXPECT_EQ(ExportFiles(),
            (std::vector<std::string>{"SHOP-9.ZR2.bak", "SHOP.ZR2", "SHOP.ZR2.bak", "SHOPX-1.ZR2.bak"}));
  EXPECT_EQ(tArchiveReader(exports_.File("SHOP.ZR2")).Header().ExportNo, 5);
}

// Tables with texts Windows-1250 cannot carry, written through SQLite's char() since every text
// passed in is Windows-1250: Greek in Customers, 25 Cyrillic titles and a long note with CJK,
// emoji and a line break in Notes, an emoji in Stock (keyed by two columns), and in Tags a text
// key that loses characters itself, so its row cannot be found again.
class ExportTextLoss : public ExportRun {
 protected:
  void SetUp() override {
    ExportRun::SetUp();
    AddTable("Notes", "Id integer PRIMARY KEY, Title varchar(40), Body text");
    AddTable("Stock", "Store int, Item int, Label varchar(20)", ", PRIMARY KEY (Store, Item)");
    AddTable("Tags", "Code varchar(10) PRIMARY KEY, Label varchar(20)");
    db_.Execute(
        "INSERT INTO Notes (Id, Title, Body) WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
        "WHERE i < 25) SELECT i, 'Note ' || i, NULL FROM n;"
        "INSERT INTO Stock (Store, Item, Label) VALUES (1, 2, 'box'), (1, 3, 'plain');"
        "INSERT INTO Tags (Code, Label) VALUES ('a', 'plain'), ('?' || '?', 'question marks');");
    for (const char* table : {"Customers", "Orders", "Notes", "Stock", "Tags"}) Rule(table, "ANO");
  }

  void SpoilTexts() {
    db_.Execute(
        "UPDATE Customers SET Name = char(937, 956, 941, 947, 945) WHERE Id = 2;"
        "UPDATE Notes SET Title = char(1055, 1088, 1080, 1074, 1077, 1090, 32) || Id;"
        "UPDATE Notes SET Body = 'line' || char(10) || char(26085, 26412, 35486, 32, 128512) || "
        "  replace(hex(zeroblob(50)), '00', 'x') WHERE Id = 7;"
        "UPDATE Stock SET Label = char(128230) || ' box' WHERE Item = 2;"
        "INSERT INTO Tags (Code, Label) VALUES (char(1046, 1046), char(945));");
  }

  // A replicated table: `columns`, the tracking columns, a table `constraint`, the delete and
  // insert triggers and its rep_TBLDESC row.
  void AddTable(const std::string& name, const std::string& columns, const std::string& constraint = "") {
    db_.Execute(
        "CREATE TABLE " + name + " (" + columns +
        ", rep_Date_Inserted datetime, rep_Signature_Inserted varchar(10), rep_Date_Updated datetime, "
        "rep_Signature_Updated varchar(10)" +
        constraint + "); CREATE TRIGGER rep_tr_Del_" + name + " AFTER DELETE ON " + name +
        " BEGIN SELECT 1; END; CREATE TRIGGER rep_tr_Ins_" + name + " AFTER INSERT ON " + name +
        " BEGIN SELECT 1; END; INSERT INTO rep_TBLDESC (TABLENAME, TABLEDESC, LISTORDER) VALUES ('" + name +
        "', '" + name + "', 9)");
  }

  tExportResult Export(tTextLoss text_loss) {
    tExportDefinition definition{"SHOP", ConnectionString(), "shop", "Centrum"};
    tExportRun run(access_, options_, host_, text_loss);
    return run.Run(definition);
  }

  // Every Cyrillic title of Notes but the first ones the report lists.
  static std::string NoteTitles(int listed) {
    std::string lines;
    for (int id = 1; id <= listed; ++id) {
      lines += "    [Id=" + std::to_string(id) + "] Title: \"Привет " + std::to_string(id) + "\"\n";
    }
    return lines;
  }

  const std::string kTextLossRefused = text::Utf8ToAnsi(
      "Export neproveden: textové hodnoty obsahují znaky, které kódování Windows-1250 nepřenese (počet: 30)");
  // The Notes lines hold the first 20 values found, row by row: the titles of rows 1 to 7, the
  // body of row 7, then the titles up to row 19.
  const std::string kListed =
      "  Customers: 1 hodnota (Name: 1)\n"
      "    [Id=2] Name: \"Ωμέγα\"\n"
      "  Notes: 26 hodnot (Title: 25, Body: 1)\n" +
      NoteTitles(7) + "    [Id=7] Body: \"line 日本語 😀xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx…\"\n" +
      [] {
        std::string lines;
        for (int id = 8; id <= 19; ++id)
          lines += "    [Id=" + std::to_string(id) + "] Title: \"Привет " + std::to_string(id) + "\"\n";
        return lines;
      }() +
      "    a dalších 6 hodnot\n"
      "  Stock: 1 hodnota (Label: 1)\n"
      "    [Store=1,Item=2] Label: \"📦 box\"\n"
      "  Tags: 2 hodnoty (Code: 1, Label: 1)\n"
      "    [Code=??] Code: \"??\" (původní text nelze znovu přečíst)\n"
      "    [Code=??] Label: \"?\" (původní text nelze znovu přečíst)\n"
      "Bez ztráty znaků je přenese přenos v Unicode: tamaril-cli defs edit --export IDENTIFIKACE --text "
      "unicode (v programu volba Texty v archivu u definice exportu).\n";
};

TEST_F(ExportTextLoss, RefusedByDefaultWritesAndLogsNothingAndListsEveryTableAndColumn) {
  ASSERT_EQ(Export(tTextLoss::Refuse).Outcome, tExportOutcome::Success);
  const std::string old_bytes = testing::ReadWholeFile(exports_.File("SHOP.ZR2"));
  const auto dates = Rows("SELECT TABLENAME, LastExportDate FROM rep_DEFEXPORT ORDER BY TABLENAME");
  SpoilTexts();

  const tExportResult refused = Export(tTextLoss::Refuse);
  EXPECT_EQ(refused.Outcome, tExportOutcome::TextLossRefused);
  EXPECT_EQ(refused.Text, kTextLossRefused);
  EXPECT_EQ(refused.ExportNo, 0);
  EXPECT_EQ(refused.ArchivePath, "");
  EXPECT_EQ(host_.messages.back(), kTextLossRefused);
  EXPECT_TRUE(host_.questions.empty());
  EXPECT_EQ(LossyTextReport(refused),
            "Textové hodnoty se znaky, které kódování Windows-1250 nepřenese: 30 (v archivu by je nahradil "
            "znak '?')\n" +
                kListed);
  // Of every table only the first 20 values are kept.
  EXPECT_EQ(refused.Warnings.size(), 24U);

  // The earlier archive, its log and its dates stay; no temporary file is left.
  EXPECT_EQ(testing::ReadWholeFile(exports_.File("SHOP.ZR2")), old_bytes);
  EXPECT_EQ(ExportFiles(), (std::vector<std::string>{"SHOP.ZR2"}));
  EXPECT_EQ(Rows("SELECT EXPORTNO FROM rep_XPORTLOG"), (std::vector<std::string>{"1"}));
  EXPECT_EQ(Rows("SELECT TABLENAME, LastExportDate FROM rep_DEFEXPORT ORDER BY TABLENAME"), dates);
}

TEST_F(ExportTextLoss, AllowedLossCompletesWithAWarningAndTheList) {
  SpoilTexts();
  const tExportResult result = Export(tTextLoss::Allow);
  ASSERT_EQ(result.Outcome, tExportOutcome::Warnings) << result.Text;
  EXPECT_EQ(result.Text, text::Utf8ToAnsi("Export dokončen s varováním"));
  EXPECT_EQ(host_.messages, (std::vector<std::string>{result.Text}));
  EXPECT_EQ(result.ExportNo, 1);
  EXPECT_EQ(LossyTextReport(result),
            "Textové hodnoty se znaky, které kódování Windows-1250 nepřenese: 30 (v archivu je nahradil znak "
            "'?')\n" +
                kListed);
  EXPECT_EQ(Rows("SELECT EXPORTNO FROM rep_XPORTLOG"), (std::vector<std::string>{"1"}));
  const std::string dump = Dump(result.ArchivePath);
  EXPECT_NE(dump.find("Name=\"?????\""), std::string::npos) << dump;
  EXPECT_NE(dump.find("Label=\"? box\""), std::string::npos) << dump;
}

TEST_F(ExportTextLoss, AskedHostDecides) {
  SpoilTexts();
  host_.confirm_answers = {false, true};
  const tExportResult declined = Export(tTextLoss::Ask);
  EXPECT_EQ(declined.Outcome, tExportOutcome::TextLossRefused);
  EXPECT_TRUE(ExportFiles().empty());
  EXPECT_TRUE(Rows("SELECT * FROM rep_XPORTLOG").empty());
  ASSERT_EQ(host_.questions.size(), 1U);
  EXPECT_EQ(
      host_.questions[0],
      text::Utf8ToAnsi("Počet textových hodnot se znaky, které kódování Windows-1250 nepřenese: 30\n"
                       "  Customers: 1 (Name: 1)\n  Notes: 26 (Title: 25, Body: 1)\n"
                       "  Stock: 1 (Label: 1)\n  Tags: 2 (Code: 1, Label: 1)\n\n"
                       "V archivu by tyto znaky nahradil znak '?' a příjemce by dostal pozměněné texty. "
                       "Bez ztráty je přenese přenos v Unicode, volba Texty v archivu u definice exportu.\n\n"
                       "Přenést je přesto se ztrátou znaků?"));

  const tExportResult accepted = Export(tTextLoss::Ask);
  EXPECT_EQ(accepted.Outcome, tExportOutcome::Warnings) << accepted.Text;
  EXPECT_EQ(accepted.ExportNo, 1);
  EXPECT_TRUE(fs::exists(exports_.File("SHOP.ZR2")));
}

TEST_F(ExportTextLoss, TablesWithARuleWhoseRowsNothingIdentifiesAreNoted) {
  // Stock (two key columns) and Tags (a text key) have rules; Loose has none.
  AddTable("Loose", "Label varchar(20)");
  const tExportResult result = Export(tTextLoss::Refuse);
  ASSERT_EQ(result.Outcome, tExportOutcome::Success) << result.Text;
  EXPECT_EQ(result.UntrackedDeletions, (std::vector<std::string>{"Stock", "Tags"}));
  EXPECT_EQ(UntrackedDeletionsNote(result),
            text::Utf8ToAnsi("Výmazy řádků tabulek Stock, Tags se nepřenášejí: jejich řádky neidentifikuje "
                             "sloupec RowGuid ani jednoduchý celočíselný klíč."));
  EXPECT_EQ(LossyTextReport(result), "");

  Rule("Tags", nullptr);
  const tExportResult again = Export(tTextLoss::Refuse);
  EXPECT_EQ(UntrackedDeletionsNote(again),
            text::Utf8ToAnsi("Výmazy řádků tabulky Stock se nepřenášejí: její řádky neidentifikuje sloupec "
                             "RowGuid ani jednoduchý celočíselný klíč."));
}

// The SQL Server form keeps the batch of its log to the letter, with the values' quotes doubled.
TEST(ExportLogBatch, SqlServerFormIsOneTransactionBatch) {
  dbstruct::testing::ScriptedServer server;
  auto& backend = *server.backend;
  backend.answers = {{"select @@LANGID", dbstruct::testing::Scalar(0)}};
  backend.procedures["sp_helplanguage"] =
      dbstruct::testing::MakeRows({{"langid", FieldType::Integer}, {"dateformat", FieldType::String}},
                                  {{Value::Integer(0), Value::Text("dmy")}});
  server.connection.SetConnectionString("Provider=SQLOLEDB;Data Source=srv");
  dbstruct::tADODatabase_Structure structure(server.connection, [](const std::string&, std::uint8_t& code) {
    code = 16;
    return true;
  });
  structure.Scan();
  const double when = 37979.75;  // 24 December 2003 18:00
  const std::vector<std::string> batch =
      structure.ExportLogBatch("O'K ", 3, when, {{"Orders", 2}, {"Ord'rs", 1}});
  ASSERT_EQ(batch.size(), 1U);
  EXPECT_EQ(
      batch[0],
      "BEGIN TRANSACTION "
      "Insert Into rep_XPORTLOG  (Signature, EXPORTNO, EXPORTDATE)  VALUES  ('O''K ',3,'24/12/2003 "
      "18:00:00.000')  "
      " Insert Into rep_XPORTLOGDETAIL  (Signature, EXPORTNO, TABLENAME, COUNTRECORDS)  VALUES  ('O''K ',3, "
      "'Orders', 2)  "
      " Insert Into rep_XPORTLOGDETAIL  (Signature, EXPORTNO, TABLENAME, COUNTRECORDS)  VALUES  ('O''K ',3, "
      "'Ord''rs', 1)  "
      "Update f set f.LastExportDate=a.SERVEREXPORTDATE From rep_DEFEXPORT f "
      "join (select b.Signature, b.TABLENAME, b.EXPORTNO, c.SERVEREXPORTDATE "
      "      from rep_XPORTLOGDETAIL b join rep_XPORTLOG c ON "
      "      c.Signature=b.Signature and c.EXPORTNO=b.EXPORTNO "
      "      where c.Signature='O''K ' and c.EXPORTNO=3) a "
      "on a.Signature=f.Signature and a.TABLENAME=f.TABLENAME "
      " COMMIT TRANSACTION ");
}

TEST(ExportCaption, NamesCenterAndDatabase) {
  EXPECT_EQ(ExportCaption({"S", "", "shop", "Praha"}), text::Utf8ToAnsi("Eport pro Praha, databáze shop"));
}

}  // namespace
}  // namespace tamaril::replication
