// The state of every branch read from SQLite databases whose run logs are written directly, and
// from archive files whose headers are written directly.

#include "replication/branch_status.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/login_cache.h"
#include "dataset/date_codec.h"
#include "dbaccess/connection.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "replication/archive.h"
#include "replication/setup_script.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

struct NoLogin : core::LoginPrompt {
  bool ShowLoginDialog(core::tLoginObject&, std::string_view) override { return false; }
};

// A local date-time as days since 30 December 1899.
double Day(int year, int month, int day, int hour = 0) {
  return dataset::TimeStampToDateTime(
      {static_cast<std::int32_t>(dataset::DayNumberFromCivil(year, month, day)), hour * 3600 * 1000});
}
// The time the ages are counted to: 10 December 2026, noon.
const double kNow = Day(2026, 12, 10, 12);

std::string Ansi(const std::string& utf8) { return text::Utf8ToAnsi(utf8); }

class BranchStatusTest : public ::testing::Test {
 protected:
  BranchStatusTest() {
    database_.SetConnectionString(ConnectionString());
    database_.Open();
    for (const char* name : {"center", "shop"}) {
      database_.CreateDatabase(name);
      database_.SetDefaultDatabase(name);
      database_.Execute("CREATE TABLE Customers (Id INTEGER PRIMARY KEY, Name VARCHAR(40))");
      dbstruct::tSQLiteDatabase_Structure structure(&database_);
      structure.Scan();
      ApplySQLiteSetupScript(database_, SQLiteSetupStatements(structure, {}));
    }
    options_.ImportFolder = imports_.path();
    options_.ExportFolder = exports_.path();
    options_.Now = kNow;
  }

  std::string ConnectionString() const { return "Provider=SQLite;Data Source=" + databases_.path(); }
  tStatusDefinition Definition(const std::string& signature, const std::string& database) const {
    return {signature, "Partner", ConnectionString(), database};
  }
  void Execute(const std::string& database, const std::string& sql) {
    database_.SetDefaultDatabase(database);
    database_.Execute(sql);
  }
  // An import of `signature` logged at the center.
  void LogImport(const std::string& signature, int import_no, int export_no, const std::string& date) {
    Execute("center",
            "INSERT INTO rep_IMPORTLOG (Signature, IMPORTNO, IMPORTDATE, CLIENTEXPORTNO, CLIENTEXPORTDATE) "
            "VALUES ('" +
                signature + "', " + std::to_string(import_no) + ", '" + date + "', " +
                std::to_string(export_no) + ", '" + date + "')");
  }
  // An archive file whose content is only its header.
  static void WriteArchive(const std::string& path, const std::string& signature, int export_no) {
    tArchiveHeader header;
    header.Signature = signature;
    header.ExportNo = export_no;
    header.ExportTime = Day(2026, 12, 9, 8);
    const std::string bytes = EncodeArchiveHeader(header);
    std::string packed(compressBound(bytes.size()), '\0');
    uLongf size = packed.size();
    ASSERT_EQ(compress(reinterpret_cast<Bytef*>(packed.data()), &size,
                       reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()),
              Z_OK);
    packed.resize(size);
    testing::WriteWholeFile(path, packed);
  }
  tBranchStatus Read(const std::vector<tStatusDefinition>& imports,
                     const std::vector<tStatusDefinition>& exports = {}) {
    return ReadBranchStatus(imports, exports, options_, logins_);
  }

  testing::TempDir databases_;
  testing::TempDir imports_;
  testing::TempDir exports_;
  dbaccess::Connection database_;
  NoLogin prompt_;
  core::LoginCache logins_{prompt_};
  tBranchStatusOptions options_;
};

TEST_F(BranchStatusTest, ReportsTheExportNumbersNeverImported) {
  LogImport("SHOP", 1, 1, "2026-12-08 10:00:00.000");
  LogImport("SHOP", 2, 3, "2026-12-09 10:00:00.000");
  // A branch whose first archives never arrived, whose number 4 came twice and that has a
  // quote in its Signature: the values are bound, not pasted.
  LogImport("O''B", 1, 3, "2026-12-08 10:00:00.000");
  LogImport("O''B", 2, 4, "2026-12-08 11:00:00.000");
  LogImport("O''B", 3, 4, "2026-12-09 11:00:00.000");
  LogImport("O''B", 4, 8, "2026-12-10 11:00:00.000");
  LogImport("FULL", 1, 1, "2026-12-09 10:00:00.000");
  LogImport("FULL", 2, 2, "2026-12-10 10:00:00.000");

  const tBranchStatus status =
      Read({Definition("SHOP", "center"), Definition("O'B", "center"), Definition("FULL", "center")});
  ASSERT_EQ(status.Imports.size(), 3U);
  const tImportStatus& shop = status.Imports[0];
  ASSERT_EQ(shop.Error, "");
  EXPECT_EQ(shop.Gaps, (std::vector<tExportNoGap>{{2, 2}}));
  EXPECT_EQ(shop.LastExportNo, 3);
  EXPECT_EQ(shop.LastImportNo, 2);
  EXPECT_EQ(shop.DaysSince, 1);
  EXPECT_FALSE(shop.Stale);
  EXPECT_EQ(status.Imports[1].Gaps, (std::vector<tExportNoGap>{{1, 2}, {5, 7}}));
  EXPECT_EQ(status.Imports[1].LastExportNo, 8);
  EXPECT_TRUE(status.Imports[2].Gaps.empty());
  EXPECT_TRUE(status.NeedsAttention());
  EXPECT_FALSE(status.HasErrors());

  const std::string text = text::AnsiToUtf8(FormatBranchStatus(status, options_));
  for (const char* line : {"  SHOP (Partner), databáze center\n",
                           "    poslední přenos: č. 3 z 9.12.2026 10:00:00, importován 9.12.2026 10:00:00 "
                           "(import č. 2, před 1 dnem)\n",
                           "    POZOR: chybí přenos č. 2\n", "    POZOR: chybí přenosy č. 1 až 2\n",
                           "    POZOR: chybí přenosy č. 5 až 7\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " missing in\n" << text;
  }
  EXPECT_EQ(text.find("POZOR", text.find("FULL")), std::string::npos) << text;

  EXPECT_FALSE(Read({Definition("FULL", "center")}).NeedsAttention());
}

TEST_F(BranchStatusTest, FlagsABranchSilentLongerThanTheThreshold) {
  LogImport("OLD", 1, 1, "2026-11-28 10:00:00.000");
  // The newest import is the one logged last, even when it took an older archive again.
  LogImport("OLD", 2, 2, "2026-11-29 10:00:00.000");
  LogImport("OLD", 3, 1, "2026-11-30 10:00:00.000");

  const tBranchStatus status = Read({Definition("OLD", "center"), Definition("NEW", "center")});
  const tImportStatus& old = status.Imports[0];
  EXPECT_TRUE(old.Stale);
  EXPECT_EQ(old.DaysSince, 10);
  EXPECT_EQ(old.LastImportNo, 3);
  EXPECT_EQ(old.LastExportNo, 1);
  EXPECT_EQ(old.HighestExportNo, 2);
  EXPECT_TRUE(old.Gaps.empty());
  // A branch that never delivered anything is the most silent of all.
  EXPECT_TRUE(status.Imports[1].Stale);
  EXPECT_FALSE(status.Imports[1].Imported);
  EXPECT_TRUE(status.NeedsAttention());
  const std::string text = text::AnsiToUtf8(FormatBranchStatus(status, options_));
  EXPECT_NE(text.find("    POZOR: pobočka OLD bez přenosu 10 dní (práh 7 dní)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("    zatím nic neimportováno\n    POZOR: pobočka NEW dosud bez přenosu\n"),
            std::string::npos)
      << text;

  options_.StaleDays = 10;
  EXPECT_FALSE(Read({Definition("OLD", "center")}).Imports[0].Stale)
      << "10 days and 2 hours are 10 whole days";
  options_.StaleDays = 9;
  EXPECT_TRUE(Read({Definition("OLD", "center")}).Imports[0].Stale);
}

TEST_F(BranchStatusTest, ListsTheArchivesWaitingInTheFolders) {
  LogImport("SHOP", 1, 1, "2026-12-09 10:00:00.000");
  LogImport("SHOP", 2, 2, "2026-12-09 11:00:00.000");
  WriteArchive(imports_.File("b.ZR2"), "SHOP", 4);
  WriteArchive(imports_.File("a.zr2"), "SHOP", 2);
  WriteArchive(imports_.File("other.ZR2"), "OTHER", 1);
  WriteArchive(imports_.File("SHOP.txt"), "SHOP", 9);
  testing::WriteWholeFile(imports_.File("junk.ZR2"), "no archive");

  const tBranchStatus status = Read({Definition("SHOP", "center")});
  const tImportStatus& shop = status.Imports[0];
  ASSERT_EQ(shop.Waiting.size(), 2U);
  EXPECT_EQ(shop.Waiting[0].ExportNo, 2);
  EXPECT_EQ(shop.Waiting[1].ExportNo, 4);
  EXPECT_EQ(shop.Waiting[1].Path, imports_.File("b.ZR2"));
  ASSERT_EQ(status.Unassigned.size(), 1U);
  EXPECT_EQ(status.Unassigned[0].Signature, "OTHER");
  ASSERT_EQ(status.Unreadable.size(), 1U);
  EXPECT_EQ(status.Unreadable[0].Path, imports_.File("junk.ZR2"));
  const std::string text = text::AnsiToUtf8(FormatBranchStatus(status, options_));
  for (const char* line :
       {"    čeká ve složce importu: a.zr2, přenos č. 2 z 9.12.2026 8:00:00 (už importován, "
        "import ho odmítne)\n",
        "    čeká ve složce importu: b.ZR2, přenos č. 4 z 9.12.2026 8:00:00\n",
        "  other.ZR2: Signature OTHER, přenos č. 1\n", "  junk.ZR2\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " missing in\n" << text;
  }
}

TEST_F(BranchStatusTest, ReadsTheLastExportAndWhetherItsArchiveWaits) {
  Execute(
      "shop",
      "INSERT OR IGNORE INTO rep_TBLDESC (TABLENAME, TABLEDESC, LISTORDER) VALUES ('Customers', 'Zákazníci', "
      "1), "
      "('Orders', 'Objednávky', 2);"
      "INSERT INTO rep_XPORTLOG (Signature, EXPORTNO, EXPORTDATE) VALUES ('SHOP', 1, '2026-12-01 09:00:00'), "
      "('SHOP', 2, '2026-12-02 09:30:00'), ('ELSE', 3, '2026-12-03 09:00:00');"
      "INSERT INTO rep_XPORTLOGDETAIL (Signature, EXPORTNO, TABLENAME, COUNTRECORDS) VALUES "
      "('SHOP', 1, 'Customers', 100), ('SHOP', 2, 'Customers', 3), ('SHOP', 2, 'Orders', 4), "
      "('ELSE', 3, 'Customers', 50);");
  WriteArchive(exports_.File("SHOP.ZR2"), "SHOP", 2);
  const tBranchStatus waiting = Read({}, {Definition("SHOP", "shop"), Definition("NONE", "shop")});
  ASSERT_EQ(waiting.Exports.size(), 2U);
  const tExportStatus& shop = waiting.Exports[0];
  EXPECT_EQ(shop.Error, "");
  EXPECT_EQ(shop.LastExportNo, 2);
  EXPECT_EQ(shop.Rows, 7);
  EXPECT_EQ(shop.FolderExportNo, 2);
  EXPECT_FALSE(waiting.Exports[1].Exported);
  EXPECT_FALSE(waiting.NeedsAttention()) << "an export side is never stale";
  const std::string text = text::AnsiToUtf8(FormatBranchStatus(waiting, options_));
  EXPECT_NE(
      text.find("    poslední export: č. 2 z 2.12.2026 9:30:00, 7 řádků\n    archiv SHOP.ZR2 čeká ve složce "
                "exportu\n"),
      std::string::npos)
      << text;

  std::filesystem::remove(exports_.File("SHOP.ZR2"));
  const tBranchStatus taken = Read({}, {Definition("SHOP", "shop")});
  EXPECT_FALSE(taken.Exports[0].FolderExportNo);
  EXPECT_NE(text::AnsiToUtf8(FormatBranchStatus(taken, options_)).find("archiv už ve složce exportu není"),
            std::string::npos);
}

TEST_F(BranchStatusTest, ADatabaseThatCannotBeReadStopsOnlyItsDefinition) {
  LogImport("SHOP", 1, 1, "2026-12-09 10:00:00.000");
  database_.SetDefaultDatabase("center");
  database_.CreateDatabase("bare");
  tStatusDefinition missing = Definition("GONE", "center");
  missing.ConnectionString = "Provider=SQLite;Data Source=" + databases_.File("no-such-folder");

  const tBranchStatus status =
      Read({missing, Definition("BARE", "bare"), Definition("SHOP", "center")}, {Definition("GONE", "bare")});
  EXPECT_NE(status.Imports[0].Error, "");
  EXPECT_NE(text::AnsiToUtf8(status.Imports[1].Error).find("setup-script"), std::string::npos)
      << status.Imports[1].Error;
  EXPECT_EQ(status.Imports[2].Error, "");
  EXPECT_EQ(status.Imports[2].LastExportNo, 1);
  EXPECT_NE(status.Exports[0].Error, "");
  EXPECT_TRUE(status.HasErrors());
  EXPECT_FALSE(status.NeedsAttention()) << "a definition not read is an error, not a silent branch";
  const std::string text = FormatBranchStatus(status, options_);
  EXPECT_NE(text.find(Ansi("  GONE (Partner), databáze center\n    CHYBA: ")), std::string::npos) << text;
}

TEST_F(BranchStatusTest, ReadsTheRowsOfTheNewestImportsOnlyWhenAsked) {
  Execute(
      "center",
      "INSERT OR IGNORE INTO rep_TBLDESC (TABLENAME, TABLEDESC, LISTORDER) VALUES ('Customers', 'Zákazníci', "
      "1), ('Orders', 'Objednávky', 2)");
  for (int number = 1; number <= 5; ++number) {
    LogImport("SHOP", number, number, "2026-12-0" + std::to_string(number) + " 10:00:00.000");
  }
  LogImport("ELSE", 4, 1, "2026-12-05 10:00:00.000");
  // Import 3 wrote nothing and has no detail rows; the other Signature's counts stay its own.
  Execute("center",
          "INSERT INTO rep_IMPORTLOGDETAIL (Signature, IMPORTNO, TABLENAME, COUNT_APPENDED, COUNT_UPDATED, "
          "COUNT_DELETED) VALUES ('SHOP', 2, 'Customers', 1, 2, 3), ('SHOP', 4, 'Customers', 10, 0, 0), "
          "('SHOP', 4, 'Orders', 5, 5, 1), ('SHOP', 5, 'Orders', 2000000000, 2000000000, 0), "
          "('ELSE', 4, 'Customers', 99, 0, 0)");

  EXPECT_TRUE(Read({Definition("SHOP", "center")}).Imports[0].RecentRuns.empty())
      << "the command line's status reads no runs";
  options_.RecentRuns = 3;
  const tImportStatus shop = Read({Definition("SHOP", "center")}).Imports[0];
  EXPECT_EQ(shop.RecentRuns, (std::vector<tImportRunRows>{{3, 3, Day(2026, 12, 3, 10), 0},
                                                          {4, 4, Day(2026, 12, 4, 10), 21},
                                                          {5, 5, Day(2026, 12, 5, 10), 4000000000}}));
  options_.RecentRuns = 30;
  EXPECT_EQ(Read({Definition("SHOP", "center")}).Imports[0].RecentRuns.size(), 5U);
  EXPECT_TRUE(Read({Definition("NEW", "center")}).Imports[0].RecentRuns.empty());
}

TEST(ImportStatusStale, CountsWholeDaysAgainstTheThreshold) {
  tImportStatus status;
  EXPECT_TRUE(status.SilentLongerThan(1000)) << "never imported";
  status.Imported = true;
  status.DaysSince = 7;
  EXPECT_FALSE(status.SilentLongerThan(7));
  EXPECT_TRUE(status.SilentLongerThan(6));
}

}  // namespace
}  // namespace tamaril::replication
