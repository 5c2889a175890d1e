#include "replication/repl_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>

#include "core/repl_options.h"
#include "recording_host.h"
#include "replication/errors.h"
#include "support/expect_throw_msg.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

class ReplLogFile : public ::testing::Test {
 protected:
  core::TReplOptions Options(const std::string& path, bool on = true) const {
    core::TReplOptions options;
    options.LogFilePath = text::Utf8ToAnsi(path);
    options.DoLog = on;
    return options;
  }

  testing::TempDir folder_;
  testing::RecordingHost host_;
  tReplLog log_;
};

TEST(ReplLogLine, DayMonthWithoutPaddingThenTimeAndTheColon) {
  std::tm when{};
  when.tm_mday = 7;
  when.tm_mon = 11;
  when.tm_year = 126;
  when.tm_hour = 2;
  when.tm_min = 30;
  when.tm_sec = 4;
  EXPECT_EQ(ReplLogLine(when, "Startuji import"), "7.12.2026 2:30:04 :Startuji import");
  when.tm_mday = 31;
  when.tm_mon = 0;
  when.tm_hour = 23;
  when.tm_min = 5;
  when.tm_sec = 59;
  EXPECT_EQ(ReplLogLine(when, ""), "31.1.2026 23:05:59 :");
}

TEST_F(ReplLogFile, SwitchedOffTouchesNothingAndAsksNothing) {
  const std::string path = folder_.File("log.txt");
  EXPECT_TRUE(log_.Open(Options(path, false), host_));
  EXPECT_FALSE(log_.IsOpen());
  log_.Write("nothing");
  EXPECT_FALSE(std::filesystem::exists(path));
  // Not even a path that cannot be opened is looked at.
  EXPECT_TRUE(log_.Open(Options(folder_.File("missing/log.txt"), false), host_));
  EXPECT_TRUE(host_.questions.empty());
}

TEST_F(ReplLogFile, CreatedOnFirstOpenThenAppendedWithCrLfAndAnsiText) {
  const std::string path = folder_.File("log.txt");
  ASSERT_TRUE(log_.Open(Options(path), host_));
  ASSERT_TRUE(log_.IsOpen());
  log_.Write(text::Utf8ToAnsi("Startuji import, archiv č. 1"));
  log_.Write("");
  log_.Close();
  EXPECT_FALSE(log_.IsOpen());
  log_.Write("after close");  // nothing

  ASSERT_TRUE(log_.Open(Options(path), host_));
  log_.Write("second run");
  log_.Close();

  const std::string content = testing::ReadWholeFile(path);
  const std::regex lines(
      "\\d{1,2}\\.\\d{1,2}\\.\\d{4} \\d{1,2}:\\d\\d:\\d\\d :Startuji import, archiv \xE8\\. 1\r\n"
      "\\d{1,2}\\.\\d{1,2}\\.\\d{4} \\d{1,2}:\\d\\d:\\d\\d :\r\n"
      "\\d{1,2}\\.\\d{1,2}\\.\\d{4} \\d{1,2}:\\d\\d:\\d\\d :second run\r\n");
  EXPECT_TRUE(std::regex_match(content, lines)) << content;
  EXPECT_TRUE(host_.questions.empty());
}

TEST_F(ReplLogFile, OpenTwiceKeepsTheFirstFile) {
  const std::string first = folder_.File("first.txt");
  ASSERT_TRUE(log_.Open(Options(first), host_));
  ASSERT_TRUE(log_.Open(Options(folder_.File("second.txt")), host_));
  log_.Write("x");
  log_.Close();
  EXPECT_FALSE(std::filesystem::exists(folder_.File("second.txt")));
  EXPECT_NE(testing::ReadWholeFile(first).find(":x\r\n"), std::string::npos);
}

TEST_F(ReplLogFile, UnusablePathAsksAndYesGoesOnWithoutLog) {
  host_.continue_answer = true;
  EXPECT_TRUE(log_.Open(Options(folder_.File("missing/log.txt")), host_));
  EXPECT_FALSE(log_.IsOpen());
  EXPECT_EQ(host_.questions,
            (std::vector<std::string>{text::Utf8ToAnsi("Chyba při otvírání log souboru. Pokračovat?")}));
  EXPECT_NO_THROW(log_.Write("ignored"));
  EXPECT_FALSE(std::filesystem::exists(folder_.File("missing")));
}

TEST_F(ReplLogFile, AbortAnswersFalseForAFolderAndForAnEmptyPath) {
  host_.continue_answer = false;
  EXPECT_FALSE(log_.Open(Options(folder_.path()), host_));
  EXPECT_FALSE(log_.Open(Options(""), host_));
  EXPECT_EQ(host_.questions.size(), 2U);
  EXPECT_FALSE(log_.IsOpen());
}

TEST_F(ReplLogFile, ReadOnlyFileAsks) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only files";
  const std::string path = folder_.File("log.txt");
  testing::WriteWholeFile(path, "old\r\n");
  ::chmod(path.c_str(), 0400);
  EXPECT_FALSE(log_.Open(Options(path), host_));
  EXPECT_EQ(host_.questions.size(), 1U);
  EXPECT_EQ(testing::ReadWholeFile(path), "old\r\n");
}

TEST_F(ReplLogFile, AFailingWriteRaisesWithTheSystemReason) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  ASSERT_TRUE(log_.Open(Options("/dev/full"), host_));
  EXPECT_THROW_MSG(log_.Write("x"), ReplicationError,
                   text::Utf8ToAnsi("Do log souboru /dev/full nelze zapsat: na disku není místo"));
  EXPECT_NO_THROW(log_.Close());
}

TEST_F(ReplLogFile, TheProcessLogFollowsTheProgramSettings) {
  const core::TReplOptions saved = core::ReplOptions();
  core::ReplOptions() = Options(folder_.File("process.txt"));
  ASSERT_TRUE(OpenReplLog(host_));
  WriteReplLog("one");
  CloseReplLog();
  core::ReplOptions() = saved;
  EXPECT_NE(testing::ReadWholeFile(folder_.File("process.txt")).find(":one\r\n"), std::string::npos);
  EXPECT_FALSE(ProcessReplLog().IsOpen());
}

// The log as `tamaril-cli log` shows it: UTF-8 with LF, the stored file untouched.
class ReplLogText : public ::testing::Test {
 protected:
  std::string Shown(const std::string& stored, std::optional<std::size_t> tail = std::nullopt) {
    const std::string path = folder_.File("kelmlog.txt");
    testing::WriteWholeFile(path, stored);
    std::ostringstream out;
    WriteReplLogText(path, tail, out);
    EXPECT_EQ(testing::ReadWholeFile(path), stored);
    return out.str();
  }

  testing::TempDir folder_;
};

TEST_F(ReplLogText, ConvertsWindows1250AndCrLfForTheTerminal) {
  const std::string stored = text::Utf8ToAnsi(
      "7.12.2026 2:30:04 :Startuji import\r\n7.12.2026 2:30:05 :Cílová tabulka je nyní ŽLUŤOUČKÝ\r\n");
  EXPECT_EQ(Shown(stored),
            "7.12.2026 2:30:04 :Startuji import\n7.12.2026 2:30:05 :Cílová tabulka je nyní ŽLUŤOUČKÝ\n");
  // A bare CR ends a line too; a last line without its end gets one; an empty log shows nothing.
  EXPECT_EQ(Shown("a\rb\r\nc"), "a\nb\nc\n");
  EXPECT_EQ(Shown("a\r"), "a\n");
  EXPECT_EQ(Shown(""), "");
}

TEST_F(ReplLogText, TailKeepsTheLastLinesAcrossReadChunks) {
  std::string stored;
  std::string expected_last;
  for (int i = 1; i <= 30000; ++i) {
    const std::string line = "line " + std::to_string(i) + " " + std::string(i % 7, 'x');
    stored += line + "\r\n";
    if (i > 29997) expected_last += line + "\n";
  }
  EXPECT_EQ(Shown(stored, 3), expected_last);
  EXPECT_EQ(Shown(stored, 0), "");
  EXPECT_EQ(Shown("one\r\ntwo", 1), "two\n");
  EXPECT_EQ(Shown("one\r\ntwo\r\n", 5), "one\ntwo\n");
  // A CR LF cut by the chunk boundary is still one line end.
  const std::string cut = std::string(64 * 1024 - 1, 'a') + "\r\nb\r\n";
  EXPECT_EQ(Shown(cut), std::string(64 * 1024 - 1, 'a') + "\nb\n");
}

TEST_F(ReplLogText, AMissingFileOrAFolderIsNamedWithTheReason) {
  EXPECT_THROW_MSG(
      WriteReplLogText(folder_.File("none.txt"), std::nullopt, std::cout), ReplicationError,
      text::Utf8ToAnsi("Log soubor " + folder_.File("none.txt") + " nelze otevřít: soubor neexistuje"));
  EXPECT_THROW_MSG(WriteReplLogText(folder_.path(), std::nullopt, std::cout), ReplicationError,
                   text::Utf8ToAnsi("Log soubor " + folder_.path() + " nelze otevřít: je to složka"));
}

}  // namespace
}  // namespace tamaril::replication
