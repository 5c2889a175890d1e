// The import report: what a run's result becomes (outcomes, warnings, conflicts), how the page
// shows it (escaping of hostile values, the bar chart, the differing columns) and how the file
// is written (private, complete, never over an earlier default report).

#include "replication/import_report.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "replication/errors.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

namespace fs = std::filesystem;

std::string Ansi(std::string_view utf8) { return text::Utf8ToAnsi(utf8); }

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

tConflictValue Value(std::string text) { return {true, false, std::move(text)}; }

// ---------------------------------------------------------------------------------------------

TEST(HtmlText, EscapesMarkupControlsAndBrokenUtf8) {
  struct Case {
    std::string input;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {R"(a & "b" 'c')", "a &amp; &quot;b&quot; &#39;c&#39;"},
      {"Žluťoučký kůň", "Žluťoučký kůň"},
      {"tab\there\nline", "tab\there\nline"},
      {"dos\r\nline\rmac", "dos\nline\nmac"},
      {std::string("nul\0end", 7), "nul\\x00end"},
      {"bell\x07 esc\x1B del\x7F", "bell\\x07 esc\\x1B del\\x7F"},
      {"c1 \xC2\x85 nonchar \xEF\xBF\xBE \xEF\xB7\x90", "c1 \\x85 nonchar \\uFFFE \\uFDD0"},
      // A Windows-1250 byte, a cut sequence, an overlong '<' and a surrogate are no UTF-8.
      {"\xE8"
       "ert \xC5",
       "\xEF\xBF\xBD"
       "ert \xEF\xBF\xBD"},
      {"\xC0\xBC"
       "b",
       "\xEF\xBF\xBD\xEF\xBF\xBD"
       "b"},
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"emoji \xF0\x9F\x98\x80", "emoji \xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) EXPECT_EQ(HtmlText(c.input), c.expected) << c.input;
}

// ---------------------------------------------------------------------------------------------

/// A run of five archives, one of each outcome, with a conflict in the merged one.
tImportResult SampleRun() {
  tImportResult result;
  result.Outcome = tImportOutcome::Failed;
  result.Text = Ansi("Import dokončen s chybami: neimportováno 3 z 5 archivů");
  result.Seconds = 2.5;
  result.Total.processed = 50;

  tImportedArchive merged;
  merged.Path = "/imports/POBOCKA.ZR2";
  merged.State = tArchiveState::Imported;
  merged.Signature = "POBOCKA";
  merged.Client = Ansi("Pobočka Brno");
  merged.Database = "centrum";
  merged.ExportNo = 4;
  merged.ImportNo = 7;
  merged.Trust = Ansi("Archiv nebyl ověřen: definice importu nemá klíč klienta");
  merged.Redelivered = Ansi("Přenos č. 4 už byl importován");
  merged.Warnings.push_back(Ansi("Chybí přenos č. 3 (naposledy importován přenos č. 2)"));
  merged.Tables.push_back({"Zakaznici", 30, 5, 2, 1, 1});
  merged.Tables.push_back({"Objednavky", 1, 0, 0, 0, 0});

  tImportedArchive failed;
  failed.Path = "/imports/SKLAD.ZR2";
  failed.State = tArchiveState::Failed;
  failed.Signature = "SKLAD";
  failed.Trust = Ansi("Podpis archivu je platný");
  failed.Verified = true;
  failed.Redelivered = Ansi("Přenos č. 1 už byl importován");
  failed.Reason = Ansi("disk je plný");

  tImportedArchive unconfirmed = failed;
  unconfirmed.Path = "/imports/SKLAD2.ZR2";
  unconfirmed.RollbackUnconfirmed = true;

  tImportedArchive old;
  old.Path = "/imports/OLD.ZR2";
  old.State = tArchiveState::AlreadyImported;
  old.Signature = "POBOCKA";
  old.Trust = Ansi("Archiv nebyl ověřen");
  old.Reason = Ansi("Přenos č. 2 už byl importován");

  tImportedArchive untrusted;
  untrusted.Path = "/imports/CIZI.ZR2";
  untrusted.State = tArchiveState::Untrusted;
  untrusted.Signature = "CIZI";
  untrusted.Trust = Ansi("archiv je podepsán jiným klíčem");
  untrusted.Reason = untrusted.Trust;

  tImportedArchive skipped;
  skipped.Path = "/imports/SKLAD3.ZR2";
  skipped.Reason = Ansi("Archiv přenosu SKLAD s nižším číslem nebyl importován");

  result.Archives = {merged, failed, unconfirmed, old, untrusted, skipped};

  tConflictRows conflict;
  conflict.Archive = "SKLAD.ZR2";
  conflict.Table = "Zakaznici";
  conflict.Message = Ansi("Porušení jedinečnosti klíče (Tabulka Zakaznici, constraint UX_Jmeno)(Id=5)");
  conflict.Fields = {"Id", "Jmeno", "Mesto", "rep_Date_Inserted", "Poznamka"};
  conflict.Source = {Value("5"), Value("Novák"), {true, true, {}}, Value("1.1.2026 8:00:00"), Value("x")};
  conflict.Targets.push_back(
      {"UX_Jmeno", {Value("9"), Value("Novák"), Value("Brno"), Value("2.2.2026 9:00:00"), {}}});
  result.ConflictRows.push_back(conflict);
  result.ConflictRowsLeftOut = 12;
  return result;
}

TEST(CollectImportReport, GivesEveryArchiveItsOutcomeAndReason) {
  const tImportReport report = CollectImportReport(SampleRun());
  ASSERT_EQ(report.Archives.size(), 6U);
  std::vector<tReportOutcome> outcomes;
  for (const tReportArchive& archive : report.Archives) outcomes.push_back(archive.Outcome);
  EXPECT_EQ(outcomes, (std::vector<tReportOutcome>{tReportOutcome::Merged, tReportOutcome::RolledBack,
                                                   tReportOutcome::RolledBack, tReportOutcome::Refused,
                                                   tReportOutcome::Refused, tReportOutcome::Skipped}));
  EXPECT_EQ(report.Archives[0].File, "POBOCKA.ZR2");
  EXPECT_EQ(report.Archives[0].Branch, "Pobočka Brno");
  EXPECT_EQ(report.Archives[0].Tables.at(0).Name, "Zakaznici");
  EXPECT_EQ(report.Archives[1].Reason, "disk je plný");
  EXPECT_EQ(report.Archives[2].Reason,
            "vrácení nelze potvrdit, databáze může obsahovat část archivu: disk je plný");
  EXPECT_EQ(report.Archives[5].ExportTime, "") << "a header never read has no export time";
}

TEST(CollectImportReport, WarnsOfGapsSecondDeliveriesAndUnverifiedArchives) {
  const tImportReport report = CollectImportReport(SampleRun());
  EXPECT_EQ(
      report.Warnings,
      (std::vector<std::string>{
          "Archiv POBOCKA.ZR2: doručen znovu a na žádost importován znovu: Přenos č. 4 už byl importován",
          "Archiv POBOCKA.ZR2: Archiv nebyl ověřen: definice importu nemá klíč klienta",
          "Archiv POBOCKA.ZR2: Chybí přenos č. 3 (naposledy importován přenos č. 2)",
          "Archiv OLD.ZR2: doručen znovu, Přenos č. 2 už byl importován",
          "Archiv OLD.ZR2: Archiv nebyl ověřen",
      }))
      << "a second delivery that failed is no import again; an untrusted archive is refused, not unverified";
}

TEST(CollectImportReport, SaysWhichConflictsWereRolledBack) {
  tImportResult result = SampleRun();
  result.ConflictRows.push_back(result.ConflictRows.front());
  result.ConflictRows.back().Archive = "SKLAD2.ZR2";
  const tImportReport report = CollectImportReport(result);
  ASSERT_EQ(report.Conflicts.size(), 2U);
  EXPECT_TRUE(report.Conflicts[0].RolledBack);
  EXPECT_FALSE(report.Conflicts[1].RolledBack) << "a rollback not confirmed may have left the rows";
  EXPECT_EQ(report.Conflicts[0].Message,
            "Porušení jedinečnosti klíče (Tabulka Zakaznici, constraint UX_Jmeno)(Id=5)");
  EXPECT_EQ(report.ConflictsLeftOut, 12);
}

// ---------------------------------------------------------------------------------------------

TEST(RenderImportReport, ShowsHostileValuesAsTextEverywhere) {
  const std::string hostile = "<script>alert(1)</script>\"'&";
  tImportResult result = SampleRun();
  tImportedArchive& archive = result.Archives[0];
  archive.Path = "/imports/<img src=x onerror=alert(1)>\"'&.ZR2";
  archive.Signature = archive.Client = archive.Database = hostile;
  archive.Warnings = {hostile};
  archive.Tables[0].Name = hostile;
  result.Archives[1].Reason = hostile;
  result.Text = hostile;
  tConflictRows& conflict = result.ConflictRows[0];
  conflict.Archive = conflict.Table = conflict.Message = hostile;
  conflict.Fields[1] = hostile;
  conflict.Source[1] = Value(hostile);
  conflict.Targets[0].Match = hostile;
  conflict.Targets[0].Values[1] = Value(hostile);

  const std::string html = RenderImportReport(CollectImportReport(result));
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("\"'&<"), std::string::npos);
  EXPECT_EQ(html.find("<img"), std::string::npos);
  // Signature, branch, database, reason, table, warning, result text, and the conflict's
  // message, archive, table, column, both values and match.
  EXPECT_EQ(Count(html, "&lt;script&gt;alert(1)&lt;/script&gt;&quot;&#39;&amp;"), 14U);
  // In the archive list, the heading, the attribute of its counts and the three warnings.
  EXPECT_EQ(Count(html, "&lt;img src=x onerror=alert(1)&gt;&quot;&#39;&amp;.ZR2"), 6U);
  EXPECT_EQ(html.rfind("<!DOCTYPE html>\n<html lang=\"cs\">", 0), 0U);
}

TEST(RenderImportReport, ChartsEachTableScaledToTheLargest) {
  tImportResult result = SampleRun();
  result.Archives[0].Tables = {{"A", 30, 0, 0, 0, 10}, {"B", 0, 1, 0, 0, 0}, {"C", 0, 0, 0, 0, 0}};
  const std::string html = RenderImportReport(CollectImportReport(result));
  // A's 40 rows fill the 160 pixels: 30 appended, 10 conflicts; B's one update still shows.
  EXPECT_NE(html.find(R"(<rect class="p0" x="0.0" y="0" width="120.0" height="12" fill="#2e7d32"/>)"
                      R"(<rect class="p3" x="120.0" y="0" width="40.0" height="12" fill="#c62828"/></svg>)"),
            std::string::npos);
  EXPECT_NE(html.find(R"(<rect class="p1" x="0.0" y="0" width="4.0" height="12" fill="#1565c0"/></svg>)"),
            std::string::npos);
  EXPECT_NE(html.find(R"(<title>přidáno 0, opraveno 0, smazáno 0, konflikty 0</title>)"
                      R"(<rect x="0" y="0" width="160" height="12" fill="#eeeeee"/></svg>)"),
            std::string::npos);
  EXPECT_EQ(Count(html, "<svg"), 3U) << "one bar per table of the merged archive";
}

TEST(RenderImportReport, MarksTheColumnsInWhichTheRowsDiffer) {
  const std::string html = RenderImportReport(CollectImportReport(SampleRun()));
  EXPECT_NE(html.find(R"(<tr class="diff"><th>≠ Id</th><td class="v">5</td><td class="v">9</td></tr>)"),
            std::string::npos);
  EXPECT_NE(html.find(R"(<tr><th>Jmeno</th><td class="v">Novák</td><td class="v">Novák</td></tr>)"),
            std::string::npos);
  EXPECT_NE(
      html.find(R"(<tr class="diff"><th>≠ Mesto</th><td class="null">NULL</td><td class="v">Brno</td></tr>)"),
      std::string::npos);
  EXPECT_NE(html.find(R"(<tr><th>rep_Date_Inserted</th>)"), std::string::npos) << "stamps are never compared";
  EXPECT_NE(html.find(R"(<tr><th>Poznamka</th><td class="v">x</td><td class="absent">—</td></tr>)"),
            std::string::npos);
  EXPECT_NE(html.find("Cílová databáze (UX_Jmeno)"), std::string::npos);
  EXPECT_NE(html.find("import archivu vrácen, řádky nejsou v databázi"), std::string::npos);
  EXPECT_NE(html.find("Dalších 12 konfliktů"), std::string::npos);
}

TEST(RenderImportReport, TellsTheDurationAndTheRowsPerSecond) {
  const std::string html = RenderImportReport(CollectImportReport(SampleRun()));
  EXPECT_NE(html.find("<dt>Trvání</dt><dd>2,50 s</dd>"), std::string::npos);
  EXPECT_NE(html.find("<dt>Řádků za sekundu</dt><dd>20</dd>"), std::string::npos);
  EXPECT_NE(html.find(R"(<td class="outcome fail">vrácen</td>)"), std::string::npos);
  EXPECT_NE(html.find(R"(<td class="outcome warn">odmítnut</td>)"), std::string::npos);
  EXPECT_NE(html.find(R"(<td class="outcome warn">přeskočen</td>)"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------

unsigned ModeOf(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return 07777;
  return status.st_mode & 07777;
}

TEST(WriteImportReport, WritesAPrivateFileBesideTheLogAndNeverOverAnEarlierOne) {
  const testing::TempDir folder;
  const mode_t umask_before = ::umask(022);
  std::tm local{};
  local.tm_year = 126, local.tm_mon = 11, local.tm_mday = 7, local.tm_hour = 2, local.tm_min = 30,
  local.tm_sec = 4;
  local.tm_isdst = -1;
  const std::string path = DefaultImportReportPath(folder.File("kelmlog.txt"), std::mktime(&local));
  EXPECT_EQ(path, folder.File("reports/import-20261207-023004.html"));

  const tImportResult result = SampleRun();
  EXPECT_EQ(WriteImportReport(result, path, false), path);
  EXPECT_EQ(WriteImportReport(result, path, false), folder.File("reports/import-20261207-023004-2.html"));
  EXPECT_EQ(WriteImportReport(result, path, true), path) << "a path asked for is replaced";
  ::umask(umask_before);
  EXPECT_EQ(ModeOf(path), 0600U);
  EXPECT_EQ(ModeOf(folder.File("reports")), 0700U);
  EXPECT_EQ(testing::ReadWholeFile(path), RenderImportReport(CollectImportReport(result)));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.File("reports")), fs::directory_iterator()), 2)
      << "no temporary file stays";
}

TEST(WriteImportReport, SaysInCzechWhyTheFileCannotBeWritten) {
  const testing::TempDir folder;
  const std::string blocked = folder.File("blocked");
  testing::WriteWholeFile(blocked, "");
  const std::string path = blocked + "/r.html";
  try {
    WriteImportReport(SampleRun(), path, true);
    ADD_FAILURE() << "did not throw";
  } catch (const ReplicationError& error) {
    EXPECT_EQ(text::AnsiToUtf8(error.what()).rfind("Přehled importu nelze zapsat do " + path + ": ", 0), 0U)
        << error.what();
  }
  EXPECT_FALSE(fs::exists(path));
}

}  // namespace
}  // namespace tamaril::replication
