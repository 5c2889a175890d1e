#include "core/repl_options.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "core/common_info.h"
#include "core/ini_file.h"
#include "core/paths.h"
#include "support/expect_throw_msg.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::core {
namespace {

using testing::ReadWholeFile;
using testing::WriteWholeFile;

class ReplOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* home = std::getenv("HOME")) saved_home_ = home;
    setenv("HOME", user_.c_str(), 1);
    std::filesystem::create_directories(program_);
    SetProgramFolder(program_);
  }
  void TearDown() override {
    if (saved_home_) {
      setenv("HOME", saved_home_->c_str(), 1);
    } else {
      unsetenv("HOME");
    }
    SetProgramFolder("");
    SetDefaultReplOptions();
  }

  testing::TempDir dir_;
  std::string user_ = dir_.File("user \xC4\x8D");        // a UTF-8 "č" in the home folder's name
  std::string program_ = dir_.File("program \xC4\x8D");  // and in the program folder's
  std::string ini_ = program_ + "/tamaril.ini";
  std::optional<std::string> saved_home_;
};

// With a program folder given (--home) every default path lies in it and nothing is made in $HOME.
TEST_F(ReplOptionsTest, FirstStartCreatesTheFoldersAndWritesEveryKey) {
  InitializeReplOptions();
  EXPECT_TRUE(std::filesystem::is_directory(program_ + "/EXPORTS"));
  EXPECT_TRUE(std::filesystem::is_directory(program_ + "/IMPORTS"));
  EXPECT_FALSE(std::filesystem::exists(user_ + "/ZRTdata"));
  const std::string base = dir_.File("program \xE8/");  // Windows-1250 "č"
  EXPECT_EQ(ReadWholeFile(ini_), "[PATHS]\nEXPFLDR=" + base + "EXPORTS\nIMPFLDR=" + base +
                                     "IMPORTS\nLOGFILE=" + base +
                                     "kelmlog.txt\n\n[SETTINGS]\nDOLOG=0\nBAKCOUNT=5\n");
  EXPECT_EQ(ReplOptions().LogFilePath, base + "kelmlog.txt");
  EXPECT_FALSE(ReplOptions().DoLog);
}

TEST_F(ReplOptionsTest, LoadTakesTheFileOverTheDefaultsAndSaveKeepsOtherKeys) {
  WriteWholeFile(ini_, "; mine\n[paths]\nexpfldr=/x/out\nimpfldr=  \nother=1\n[Settings]\nDoLog=1\n");
  LoadReplOptions();
  EXPECT_EQ(ReplOptions().ExportFolder, "/x/out");
  EXPECT_EQ(ReplOptions().ImportFolder, DefaultImportFolder());
  EXPECT_TRUE(ReplOptions().DoLog);
  ReplOptions().DoLog = false;
  ReplOptions().LogFilePath = "/x/log.txt";
  SaveReplOptions();
  EXPECT_EQ(ReadWholeFile(ini_), "; mine\n[paths]\nexpfldr=/x/out\nimpfldr=" + DefaultImportFolder() +
                                     "\nother=1\nLOGFILE=/x/log.txt\n\n[Settings]\nDoLog=0\nBAKCOUNT=5\n");
}

TEST_F(ReplOptionsTest, TheCountOfKeptArchivesIsReadAndANegativeOneKeepsTheDefault) {
  WriteWholeFile(ini_, "[SETTINGS]\nBAKCOUNT=0\n");
  LoadReplOptions();
  EXPECT_EQ(ReplOptions().BackupCount, 0);
  for (const char* text : {"BAKCOUNT=-3\n", "BAKCOUNT=many\n", ""}) {
    WriteWholeFile(ini_, std::string("[SETTINGS]\n") + text);
    LoadReplOptions();
    EXPECT_EQ(ReplOptions().BackupCount, 5) << text;
  }
}

TEST_F(ReplOptionsTest, StartingAgainLeavesAnUnchangedFileAlone) {
  InitializeReplOptions();
  const auto old_time = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24);
  std::filesystem::last_write_time(ini_, old_time);
  InitializeReplOptions();
  EXPECT_EQ(std::filesystem::last_write_time(ini_), old_time);
}

// Without a program folder given the defaults stay under $HOME/ZRTdata/Tamaril, or under the
// executable's folder when $HOME is unset or empty.
TEST_F(ReplOptionsTest, WithoutAGivenProgramFolderTheDefaultsLiveUnderHome) {
  SetProgramFolder("");
  const std::string base = dir_.File("user \xE8/ZRTdata/Tamaril/");  // Windows-1250 "č"
  EXPECT_EQ(DefaultExportFolder(), base + "EXPORTS");
  EXPECT_EQ(DefaultImportFolder(), base + "IMPORTS");
  EXPECT_EQ(DefaultLogFilePath(), base + "kelmlog.txt");
  unsetenv("HOME");
  const std::string executable_folder = std::filesystem::path(ExecutablePath()).parent_path().string();
  EXPECT_EQ(DefaultExportFolder(), executable_folder + "/ZRTdata/Tamaril/EXPORTS");
  setenv("HOME", "", 1);
  EXPECT_EQ(DefaultLogFilePath(), executable_folder + "/ZRTdata/Tamaril/kelmlog.txt");
}

TEST_F(ReplOptionsTest, SaveReportsAFileThatCannotBeWritten) {
  SetProgramFolder(dir_.File("gone"));
  EXPECT_THROW_MSG(SaveReplOptions(), IniFileError,
                   "Nelze zapsat soubor " + dir_.File("gone/tamaril.ini") + ": No such file or directory");
}

TEST(PathsTest, IncludeTrailingDelimiterAddsOnlyAMissingSlash) {
  EXPECT_EQ(IncludeTrailingDelimiter(""), "");
  EXPECT_EQ(IncludeTrailingDelimiter("/data"), "/data/");
  EXPECT_EQ(IncludeTrailingDelimiter("/data/"), "/data/");
  EXPECT_EQ(IncludeTrailingDelimiter("C:"), "C:/");
  EXPECT_EQ(IncludeTrailingDelimiter("a\\"), "a\\/");
}

TEST(PathsTest, ProgramFolderIsMadeAbsoluteWithoutATrailingSlash) {
  SetProgramFolder("relative/dir/");
  EXPECT_EQ(ProgramFolder(), (std::filesystem::current_path() / "relative/dir").string());
  EXPECT_TRUE(ProgramFolderGiven());
  SetProgramFolder("");
  EXPECT_NE(ProgramFolder(), (std::filesystem::current_path() / "relative/dir").string());
  EXPECT_FALSE(ProgramFolderGiven());
}

TEST(CommonInfoTest, ReadsTheSharedValuesAndLeavesMissingOnesEmpty) {
  testing::TempDir dir;
  const std::string file = dir.File("common.ini");
  WriteWholeFile(file, "[common]\nDLLPATH=/usr/lib/zrt\nwebsite= https://example.org \nHELP=\n");
  CommonMail = "stale";
  SetCommonInfoFileName(file);
  ReadCommonInfo();
  EXPECT_EQ(CommonDllPath, "/usr/lib/zrt");
  EXPECT_EQ(CommonWebSite, "https://example.org");
  EXPECT_EQ(CommonMail, "");
  EXPECT_EQ(CommonHelpPath, "");
  SetCommonInfoFileName(dir.path());
  ReadCommonInfo();
  EXPECT_EQ(CommonDllPath, "");
  SetCommonInfoFileName("");
  EXPECT_EQ(CommonInfoFileName(), "/etc/ZRT/common.ini");
}

}  // namespace
}  // namespace tamaril::core
