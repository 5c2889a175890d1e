#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "replication/errors.h"
#include "replication/setup_script.h"
#include "support/expect_throw_msg.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

using Names = std::vector<std::string>;

const Names kReplicationTables = {"rep_USERFK",    "rep_DELETED",   "rep_TBLDESC",
                                  "rep_DEFEXPORT", "rep_XPORTLOG",  "rep_XPORTLOGDETAIL",
                                  "rep_DEFIMPORT", "rep_IMPORTLOG", "rep_IMPORTLOGDETAIL"};

Names WithReplicationTables(Names names) {
  names.insert(names.end(), kReplicationTables.begin(), kReplicationTables.end());
  return names;
}

TEST(IgnoreList, WithoutTheFileOnlyTheReplicationTablesAreIgnored) {
  testing::TempDir folder;
  EXPECT_EQ(ReadIgnoreList(folder.path()), kReplicationTables);
  EXPECT_EQ(ReadIgnoreList(folder.path() + "/"), kReplicationTables);
}

TEST(IgnoreList, LinesAreTrimmedAndBlankOnesDropped) {
  testing::TempDir folder;
  const std::string cenik = text::Utf8ToAnsi("Čeník");
  testing::WriteWholeFile(folder.File(kIgnoreListFile),
                          "Notes\r\n\r\n  Old Orders \t\r\n   \r\n" + cenik + "\nLast");
  EXPECT_EQ(ReadIgnoreList(folder.path()), WithReplicationTables({"Notes", "Old Orders", cenik, "Last"}));

  testing::WriteWholeFile(folder.File(kIgnoreListFile), "\r\n\r\n");
  EXPECT_EQ(ReadIgnoreList(folder.path()), kReplicationTables);
}

TEST(IgnoreList, AListSavedByAWindowsEditorInUtf8OrWindows1250IsHonoured) {
  testing::TempDir folder;
  const std::string ucetni = text::Utf8ToAnsi("Účetní Doklady");
  // UTF-8 with a byte-order mark and CR LF: the mark is not part of the first name.
  testing::WriteWholeFile(folder.File(kIgnoreListFile),
                          "\xEF\xBB\xBF"
                          "Účetní Doklady\r\nNotes\r\n");
  Names ignore = ReadIgnoreList(folder.path());
  EXPECT_EQ(ignore, WithReplicationTables({ucetni, "Notes"}));
  EXPECT_TRUE(IsIgnoredTable(ignore, text::Utf8ToAnsi("ÚČETNÍ doklady")));
  // UTF-8 without the mark, and the same names in Windows-1250.
  EXPECT_EQ(ParseIgnoreList("Účetní Doklady\nNotes"), (Names{ucetni, "Notes"}));
  EXPECT_EQ(ParseIgnoreList(ucetni + "\r\nNotes"), (Names{ucetni, "Notes"}));
  // A name Windows-1250 cannot hold matches no table rather than a mangled one.
  EXPECT_EQ(ParseIgnoreList("Заказы\n").size(), 1u);
  EXPECT_FALSE(IsIgnoredTable(ParseIgnoreList("Заказы\n"), "??????"));
}

TEST(IgnoreList, AFolderInPlaceOfTheListIsAnErrorNotAnEmptyList) {
  testing::TempDir folder;
  const std::string path = folder.File(kIgnoreListFile);
  std::filesystem::create_directory(path);
  EXPECT_THROW_MSG(ReadIgnoreList(folder.path()), ReplicationError,
                   text::Utf8ToAnsi("Soubor " + path + " nelze přečíst"));
}

TEST(IgnoreList, AListWithoutReadPermissionIsAnError) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads files without read permission";
  testing::TempDir folder;
  const std::string path = folder.File(kIgnoreListFile);
  testing::WriteWholeFile(path, "Notes\r\n");
  ::chmod(path.c_str(), 0200);
  EXPECT_THROW_MSG(ReadIgnoreList(folder.path()), ReplicationError,
                   text::Utf8ToAnsi("Soubor " + path + " nelze přečíst"));
}

TEST(IgnoreList, LookupIgnoresLetterCaseButNotTheRestOfTheName) {
  const Names ignore = WithReplicationTables({"NOTES", text::Utf8ToAnsi("ČENÍK")});
  EXPECT_TRUE(IsIgnoredTable(ignore, "notes"));
  EXPECT_TRUE(IsIgnoredTable(ignore, "Notes"));
  EXPECT_TRUE(IsIgnoredTable(ignore, text::Utf8ToAnsi("čeník")));
  EXPECT_TRUE(IsIgnoredTable(ignore, "REP_userfk"));
  EXPECT_FALSE(IsIgnoredTable(ignore, "Note"));
  EXPECT_FALSE(IsIgnoredTable(ignore, "Notes2"));
  EXPECT_FALSE(IsIgnoredTable(ignore, "cenik"));  // the accents count
  EXPECT_FALSE(IsIgnoredTable(ignore, ""));
  EXPECT_FALSE(IsIgnoredTable({}, "Notes"));
}

}  // namespace
}  // namespace tamaril::replication
