#include "core/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>

#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::core {
namespace {

using testing::ReadWholeFile;
using testing::WriteWholeFile;

// The message of the IniFileError the call throws; "" when it throws none.
template <typename Call>
std::string ErrorOf(Call call) {
  try {
    call();
  } catch (const IniFileError& e) {
    return e.what();
  }
  return "";
}

class IniFileTest : public ::testing::Test {
 protected:
  std::string Path() const { return dir_.File("test.ini"); }
  testing::TempDir dir_;
};

TEST_F(IniFileTest, HandlesOnOneFileShareTheImageAndTheLastOneWrites) {
  std::string upper = Path();
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  {
    TQVMIniFile first(Path());
    {
      TQVMIniFile second(upper);
      first.WriteString("PATHS", "EXPFLDR", "/data/exports");
      EXPECT_EQ(second.ReadString("paths", "expfldr", "none"), "/data/exports");
      second.WriteString("Paths", "ImpFldr", "/data/imports");
    }
    EXPECT_EQ(first.ReadString("PATHS", "IMPFLDR", "none"), "/data/imports");
    EXPECT_FALSE(std::filesystem::exists(Path()));
  }
  EXPECT_EQ(ReadWholeFile(Path()), "[PATHS]\nEXPFLDR=/data/exports\nImpFldr=/data/imports\n");
  EXPECT_FALSE(std::filesystem::exists(upper));
  TQVMIniFile reopened(Path());
  EXPECT_EQ(reopened.ReadString("PATHS", "EXPFLDR", ""), "/data/exports");
}

TEST_F(IniFileTest, NamesMatchIgnoringAsciiCaseAndKeepTheirFirstCase) {
  WriteWholeFile(Path(), "[Paths]\nExpFldr=a\n[\xC8\x61st]\nK=1\n");
  {
    TQVMIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("PATHS", "EXPFLDR", ""), "a");
    EXPECT_EQ(ini.ReadString("\xC8\x41ST", "k", ""), "1");
    EXPECT_EQ(ini.ReadString("\xE8\x61st", "K", "none"), "none");
    ini.WriteString("paths", "expfldr", "b");
    ini.WriteString("New", "Key", "1");
    ini.WriteString("NEW", "KEY", "2");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Paths", "\xC8\x61st", "New"}));
  }
  EXPECT_EQ(ReadWholeFile(Path()), "[Paths]\nExpFldr=b\n\n[\xC8\x61st]\nK=1\n\n[New]\nKey=2\n");
}

TEST_F(IniFileTest, ValuesAreTrimmedAndBlankOrMissingOnesGiveTheDefault) {
  WriteWholeFile(Path(), "[S]\nblank=   \nempty=\nspaced=  a b \t\nKEY =x\nno equals line\n");
  const TQVMIniFile ini(Path());
  EXPECT_EQ(ini.ReadString("S", "blank", "def"), "def");
  EXPECT_EQ(ini.ReadString("S", "empty", "def"), "def");
  EXPECT_EQ(ini.ReadString("S", "spaced", "def"), "a b");
  EXPECT_EQ(ini.ReadString("S", "KEY", "def"), "def");
  EXPECT_EQ(ini.ReadString("S", "missing", "def"), "def");
  EXPECT_EQ(ini.ReadString("Missing", "blank", "def"), "def");
  EXPECT_EQ(ini.ReadSection("S"), (std::vector<std::string>{"blank", "empty", "spaced", "KEY "}));
  EXPECT_EQ(ini.ReadSectionValues("S").back(), "no equals line");
}

TEST_F(IniFileTest, WriteFormsRemoveKeysAndSectionsAndWriteAtOnce) {
  WriteWholeFile(Path(), "; header\n\n[A]\nx=1\ny=2\n\n[B]\nz=3\n\n[C]\nw=4\n[A]\nv=5\n");
  TQVMIniFile ini(Path());
  ini.WriteString("a", "X", "");
  ini.DeleteKey("A", "v");
  ini.DeleteKey("A", "absent");
  ini.EraseSection("b");
  ini.WriteString("C", "", "ignored");
  ini.WriteString("D", "n", "6");
  EXPECT_EQ(ReadWholeFile(Path()).substr(0, 8), "; header");
  ini.WriteString("", "", "");
  EXPECT_FALSE(ini.Modified());
  EXPECT_EQ(ReadWholeFile(Path()), "; header\n\n[A]\ny=2\n\n[D]\nn=6\n");
}

TEST_F(IniFileTest, TextThatWouldBreakTheFileIsRefused) {
  TQVMIniFile ini(Path());
  EXPECT_EQ(ErrorOf([&] { ini.WriteString("S", "k", "a\nb"); }),
            text::Utf8ToAnsi("Text v ini souboru nesmí obsahovat konec řádku: a\nb"));
  EXPECT_EQ(ErrorOf([&] { ini.WriteString("S", "a=b", "1"); }),
            text::Utf8ToAnsi("Neplatný klíč ini souboru: a=b"));
  EXPECT_FALSE(ini.Modified());
}

TEST_F(IniFileTest, ReadOnlyFileIsNeverWritten) {
  const std::string content = "[S]\nk=old\n";
  WriteWholeFile(Path(), content);
  ASSERT_EQ(chmod(Path().c_str(), 0444), 0);
  {
    TQVMIniFile ini(Path());
    EXPECT_TRUE(ini.ReadOnly());
    ini.WriteString("S", "k", "new");
    EXPECT_EQ(ini.ReadString("S", "k", ""), "new");
    ini.UpdateFile();
    ini.WriteString("S", "k", "newer");
  }
  EXPECT_EQ(ReadWholeFile(Path()), content);
}

TEST_F(IniFileTest, FileIsWrittenOnlyWhenSomethingChanged) {
  WriteWholeFile(Path(), "[S]\nk=v\n");
  ASSERT_EQ(chmod(Path().c_str(), 0640), 0);
  const auto old_time = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24);
  std::filesystem::last_write_time(Path(), old_time);
  {
    TQVMIniFile ini(Path());
    ini.WriteString("S", "K", "v");
    ini.DeleteKey("S", "absent");
    ini.EraseSection("absent");
    EXPECT_FALSE(ini.Modified());
  }
  EXPECT_EQ(std::filesystem::last_write_time(Path()), old_time);
  { TQVMIniFile(Path()).WriteString("S", "k", "w"); }
  EXPECT_EQ(ReadWholeFile(Path()), "[S]\nk=w\n");
  EXPECT_NE(std::filesystem::last_write_time(Path()), old_time);
  EXPECT_EQ(std::filesystem::status(Path()).permissions(), static_cast<std::filesystem::perms>(0640));
}

TEST_F(IniFileTest, CrLfFilesAreReadAndKeepTheirLineBreaks) {
  WriteWholeFile(Path(), "top\r\n[S]\r\nk=1\r\n\r\nm=2");
  {
    TQVMIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("S", "k", ""), "1");
    EXPECT_EQ(ini.ReadString("S", "m", ""), "2");
    ini.WriteString("T", "n", "3");
  }
  EXPECT_EQ(ReadWholeFile(Path()), "top\r\n[S]\r\nk=1\r\nm=2\r\n\r\n[T]\r\nn=3\r\n");
}

TEST_F(IniFileTest, TypedValues) {
  WriteWholeFile(Path(),
                 "[N]\nhex=0x1F\ndec= -12 \njunk=12a\nhuge=99999999999\nsigns=+-3\nbare=0x\n"
                 "[B]\none=1\nzero=0\nfive=5\nword=yes\n"
                 "[F]\ndot=1.5\ncomma=1,5\nexp=-2.5e1\nbad=1.5x\n");
  TQVMIniFile ini(Path());
  EXPECT_EQ(ini.ReadInteger("N", "hex", 0), 31);
  EXPECT_EQ(ini.ReadInteger("N", "dec", 0), -12);
  EXPECT_EQ(ini.ReadInteger("N", "junk", 7), 7);
  EXPECT_EQ(ini.ReadInteger("N", "huge", 7), 7);
  EXPECT_EQ(ini.ReadInteger("N", "signs", 7), 7);
  EXPECT_TRUE(ini.ReadBool("B", "one", false));
  EXPECT_FALSE(ini.ReadBool("B", "zero", true));
  EXPECT_TRUE(ini.ReadBool("B", "five", false));
  EXPECT_TRUE(ini.ReadBool("B", "word", true));
  EXPECT_DOUBLE_EQ(ini.ReadFloat("F", "dot", 0), 1.5);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("F", "comma", 0), 1.5);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("F", "exp", 0), -25);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("F", "bad", 9), 9);
  ini.WriteInteger("W", "i", -42);
  ini.WriteBool("W", "t", true);
  ini.WriteBool("W", "f", false);
  ini.WriteFloat("W", "x", 0.25);
  EXPECT_EQ(ini.ReadSectionValues("W"), (std::vector<std::string>{"i=-42", "t=1", "f=0", "x=0.25"}));
}

TEST_F(IniFileTest, CorruptFileLoadsAndItsBytesSurvive) {
  std::string junk;
  for (int c = 0; c < 256; ++c) junk += static_cast<char>(c);
  const std::string long_line(1 << 20, 'x');
  const std::string content = junk + "\n[S]\n" + long_line + "\n[\n]\n";
  WriteWholeFile(Path(), content);
  {
    TQVMIniFile ini(Path());
    EXPECT_EQ(ini.ReadSections(), std::vector<std::string>{"S"});
    EXPECT_EQ(ini.ReadSectionValues("S"), (std::vector<std::string>{long_line, "[", "]"}));
    ini.WriteString("S", "k", "v");
  }
  EXPECT_EQ(ReadWholeFile(Path()), content + "k=v\n");
}

TEST_F(IniFileTest, FailuresToReadOrWriteAreReported) {
  const std::string missing_folder = dir_.File("missing/test.ini");
  {
    TQVMIniFile ini(missing_folder);
    ini.WriteString("S", "k", "v");
    EXPECT_EQ(ErrorOf([&] { ini.UpdateFile(); }),
              "Nelze zapsat soubor " + missing_folder + ": No such file or directory");
    EXPECT_TRUE(ini.Modified());
  }
  EXPECT_EQ(ErrorOf([&] { TQVMIniFile folder(dir_.path()); }),
            text::Utf8ToAnsi("Nelze číst soubor " + dir_.path() + ": Is a directory"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 0);
}

}  // namespace
}  // namespace tamaril::core
