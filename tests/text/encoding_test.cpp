#include "text/encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace tamaril::text {
namespace {

// Every Czech letter, lower and upper case, with its Windows-1250 byte.
struct CzechLetter {
  const char* utf8;
  unsigned char ansi;
};

constexpr CzechLetter kCzechLetters[] = {
    {"á", 0xE1}, {"č", 0xE8}, {"ď", 0xEF}, {"é", 0xE9}, {"ě", 0xEC}, {"í", 0xED}, {"ň", 0xF2}, {"ó", 0xF3},
    {"ř", 0xF8}, {"š", 0x9A}, {"ť", 0x9D}, {"ú", 0xFA}, {"ů", 0xF9}, {"ý", 0xFD}, {"ž", 0x9E}, {"Á", 0xC1},
    {"Č", 0xC8}, {"Ď", 0xCF}, {"É", 0xC9}, {"Ě", 0xCC}, {"Í", 0xCD}, {"Ň", 0xD2}, {"Ó", 0xD3}, {"Ř", 0xD8},
    {"Š", 0x8A}, {"Ť", 0x8D}, {"Ú", 0xDA}, {"Ů", 0xD9}, {"Ý", 0xDD}, {"Ž", 0x8E}};

TEST(Encoding, CzechLettersMapToTheirWindows1250BytesAndBack) {
  for (const CzechLetter& letter : kCzechLetters) {
    SCOPED_TRACE(letter.utf8);
    const std::string ansi = Utf8ToAnsi(letter.utf8);
    ASSERT_EQ(ansi, std::string(1, static_cast<char>(letter.ansi)));
    EXPECT_EQ(AnsiToUtf8(ansi), letter.utf8);
    EXPECT_EQ(Utf16ToAnsi(AnsiToUtf16(ansi)), ansi);
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(letter.utf8)), letter.utf8);
  }
}

TEST(Encoding, SentenceSurvivesEveryRoundTrip) {
  const std::string utf8 = "Příliš žluťoučký kůň úpěl ďábelské ódy";
  EXPECT_EQ(AnsiToUtf8(Utf8ToAnsi(utf8)), utf8);
  EXPECT_EQ(Utf16ToUtf8(AnsiToUtf16(Utf8ToAnsi(utf8))), utf8);
  EXPECT_EQ(Utf8ToAnsi(utf8).size(), 38u);
}

TEST(Encoding, CharacterOutsideWindows1250BecomesQuestionMark) {
  EXPECT_EQ(Utf8ToAnsi("a€b"),
            "a\x80"
            "b");  // the euro sign is in the code page
  EXPECT_EQ(Utf8ToAnsi("a→b"), "a?b");
  EXPECT_EQ(Utf8ToAnsi("Ω😀"), "??");
  EXPECT_EQ(Utf16ToAnsi(u"x\u00F1y"), "x?y");
}

TEST(Encoding, LossyConversionIsToldApartFromAQuestionMarkOfTheText) {
  bool lossy = true;
  EXPECT_EQ(Utf8ToAnsi("co?", lossy), "co?");
  EXPECT_FALSE(lossy);
  EXPECT_EQ(Utf8ToAnsi("Žluťoučký €", lossy), Utf8ToAnsi("Žluťoučký €"));
  EXPECT_FALSE(lossy);
  EXPECT_EQ(Utf8ToAnsi("a→b", lossy), "a?b");
  EXPECT_TRUE(lossy);
  EXPECT_EQ(Utf8ToAnsi("x\xC3", lossy), Utf8ToAnsi("x\xC3"));  // a cut sequence
  EXPECT_TRUE(lossy);

  EXPECT_EQ(Utf16ToAnsi(u"k\u016F\u0148", lossy), Utf8ToAnsi("kůň"));
  EXPECT_FALSE(lossy);
  EXPECT_EQ(Utf16ToAnsi(u"x\u00F1y", lossy), "x?y");
  EXPECT_TRUE(lossy);
  EXPECT_EQ(Utf16ToAnsi(u"plain", lossy), "plain");
  EXPECT_FALSE(lossy);
}

TEST(Encoding, EveryByteConvertsAsThroughUtf16) {
  std::string all_bytes;
  for (int byte = 1; byte <= 0xFF; ++byte) {
    const std::string ansi(1, static_cast<char>(byte));
    SCOPED_TRACE(byte);
    const std::string utf8 = AnsiToUtf8(ansi);
    EXPECT_EQ(utf8, Utf16ToUtf8(AnsiToUtf16(ansi)));
    EXPECT_EQ(Utf8ToAnsi(utf8), Utf16ToAnsi(Utf8ToUtf16(utf8)));
    all_bytes += ansi;
  }
  const std::string utf8 = AnsiToUtf8(all_bytes);
  EXPECT_EQ(utf8, Utf16ToUtf8(AnsiToUtf16(all_bytes)));
  EXPECT_EQ(Utf8ToAnsi(utf8), Utf16ToAnsi(Utf8ToUtf16(utf8)));
  // Mapped letters beside one the code page lacks: the whole text still gets its '?'.
  EXPECT_EQ(Utf8ToAnsi("č→ž"), "\xE8?\x9E");
}

// Every character of the Basic Multilingual Plane up to U+2FFF between ASCII letters: the
// conversion agrees with the converter's way through UTF-16, and the lossy flag with a round
// trip, also for the characters the quick table path takes.
TEST(Encoding, QuickPathAgreesWithTheConverterForEveryCharacter) {
  for (char16_t unit = 0x80; unit < 0x3000; ++unit) {
    if (unit >= 0xD800 && unit <= 0xDFFF) continue;
    const std::u16string utf16 = std::u16string(u"a") + unit + u"\u010Db";
    const std::string utf8 = Utf16ToUtf8(utf16);
    SCOPED_TRACE(static_cast<int>(unit));
    bool lossy = false;
    const std::string ansi = Utf8ToAnsi(utf8, lossy);
    ASSERT_EQ(ansi, Utf16ToAnsi(utf16));
    ASSERT_EQ(ansi, Utf8ToAnsi(utf8));
    ASSERT_EQ(lossy, AnsiToUtf8(ansi) != utf8);
  }
  // A letter at every place of the eight-byte words the ASCII runs are scanned in.
  for (std::size_t place = 0; place < 20; ++place) {
    SCOPED_TRACE(place);
    std::string utf8(19, 'a');
    std::string ansi = utf8;
    utf8.insert(place, "\u010D");
    ansi.insert(place, "\xE8");
    EXPECT_EQ(Utf8ToAnsi(utf8), ansi);
    EXPECT_EQ(AnsiToUtf8(ansi), utf8);
  }
  // Malformed and overlong sequences are never taken for a mapped letter.
  bool lossy = false;
  EXPECT_EQ(Utf8ToAnsi("\xC0\x81x", lossy).back(), 'x');
  EXPECT_TRUE(lossy);
  EXPECT_EQ(Utf8ToAnsi("x\xC4", lossy), Utf8ToAnsi("x\xC4"));
  EXPECT_TRUE(lossy);
}

TEST(Encoding, Utf8CharactersAreCountedAndCutWhole) {
  const std::string text = "Чай李🎉a";  // 2-, 3-, 4- and 1-byte characters
  EXPECT_EQ(Utf8Length(text), 6U);
  EXPECT_EQ(Utf8Offset(text, 3), 6U);
  EXPECT_EQ(Utf8Offset(text, 99), text.size());
  EXPECT_EQ(Utf8Substr(text, 2, 3), "й李🎉");
  EXPECT_EQ(Utf8Substr(text, 5, 10), "a");
  EXPECT_EQ(Utf8Substr(text, 6, 1), "");
  // A malformed byte counts as one character and never swallows the next one.
  EXPECT_EQ(Utf8Length(std::string("\xC4") + "a" + "\xFF"), 3U);
  EXPECT_EQ(Utf8Substr(std::string("\xE2\x82") + "b", 1, 1), "b");
}

TEST(Encoding, EmptyAndEmbeddedZeroBytesAreKept) {
  EXPECT_EQ(AnsiToUtf8(""), "");
  EXPECT_EQ(Utf8ToAnsi(""), "");
  const std::string with_zero("a\0b", 3);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(with_zero)), with_zero);
}

}  // namespace
}  // namespace tamaril::text
