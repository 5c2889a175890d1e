#include "text/ascii.h"

#include <gtest/gtest.h>

namespace tamaril::text {
namespace {

TEST(Ascii, EqualsIgnoreCaseFoldsAsciiLettersOnly) {
  EXPECT_TRUE(EqualsIgnoreCaseAscii("Provider", "PROVIDER"));
  EXPECT_TRUE(EqualsIgnoreCaseAscii("", ""));
  EXPECT_FALSE(EqualsIgnoreCaseAscii("abc", "abcd"));
  EXPECT_FALSE(EqualsIgnoreCaseAscii("[", "{"));        // 0x5B and 0x7B differ by 0x20 but are not letters
  EXPECT_FALSE(EqualsIgnoreCaseAscii("\x9A", "\x8A"));  // Windows-1250 š / Š are not ASCII
}

TEST(Ascii, TrimBlanksRemovesSpacesAndControlsAtBothEnds) {
  EXPECT_EQ(TrimBlanks(" \t a b \r\n"), "a b");
  EXPECT_EQ(TrimBlanks("   "), "");
  EXPECT_EQ(TrimBlanks(""), "");
  EXPECT_EQ(TrimBlanks("\xA0x\xE8"), "\xA0x\xE8");  // no-break space and high letters are kept
}

}  // namespace
}  // namespace tamaril::text
