#include "text/locale.h"

#include "text/encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "support/expect_throw_msg.h"

namespace tamaril::text {
namespace {

std::string A(std::string_view utf8) { return Utf8ToAnsi(utf8); }

// Sorts UTF-8 words by the current locale's collation and returns them in UTF-8.
std::vector<std::string> Sorted(std::vector<std::string> utf8_words) {
  std::vector<std::string> ansi;
  for (const std::string& word : utf8_words) ansi.push_back(A(word));
  std::sort(ansi.begin(), ansi.end(),
            [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
  std::vector<std::string> out;
  for (const std::string& word : ansi) out.push_back(AnsiToUtf8(word));
  return out;
}

int Sign(int value) { return (value > 0) - (value < 0); }

class LocaleTest : public ::testing::Test {
 protected:
  void SetUp() override { SetLocale(kDefaultLocale); }
  void TearDown() override { SetLocale(kDefaultLocale); }
};

TEST_F(LocaleTest, CzechOrderPutsChAfterHAndCaronLettersAfterTheirBase) {
  EXPECT_EQ(Sorted({"chata", "hrad", "ihned", "cena", "čelo"}),
            (std::vector<std::string>{"cena", "čelo", "hrad", "chata", "ihned"}));
  EXPECT_EQ(Sorted({"šum", "sud", "ruka", "řeka", "zub", "žába", "tuk"}),
            (std::vector<std::string>{"ruka", "řeka", "sud", "šum", "tuk", "zub", "žába"}));
}

TEST_F(LocaleTest, CompareTextSignsFollowCzechRules) {
  struct Case {
    const char* a;
    const char* b;
    int exact;
    int ignore_case;
  };
  const Case cases[] = {
      {"ŽLUŤOUČKÝ", "žluťoučký", 1, 0},  // case only: tertiary difference
      {"abc", "abc", 0, 0},
      {"a", "á", -1, -1},  // accents count in both
      {"", "a", -1, -1},
      {"Chata", "hrad", 1, 1},
      {"cz", "č", -1, -1},
      {"ab", "ABC", -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    EXPECT_EQ(Sign(CompareText(A(c.a), A(c.b))), c.exact);
    EXPECT_EQ(Sign(CompareText(A(c.b), A(c.a))), -c.exact);
    EXPECT_EQ(Sign(CompareTextIgnoreCase(A(c.a), A(c.b))), c.ignore_case);
    EXPECT_EQ(SameTextIgnoreCase(A(c.a), A(c.b)), c.ignore_case == 0);
  }
}

TEST_F(LocaleTest, UnicodeTextsCompareByTheSameCzechRules) {
  EXPECT_GT(CompareUnicodeText("chata", "hrad"), 0);
  EXPECT_LT(CompareUnicodeText("čáp", "dům"), 0);
  EXPECT_EQ(CompareUnicodeText("Чайковский", "Чайковский"), 0);
  EXPECT_LT(CompareUnicodeText("Рахманинов", "Чайковский"), 0);
  // Two names Windows-1250 would both turn into "??????????" stay apart.
  EXPECT_NE(CompareUnicodeText("Чайковский", "Мусоргский"), 0);
  EXPECT_EQ(UpperCaseUnicode("чайка ß ř"), "ЧАЙКА SS Ř");
}

TEST_F(LocaleTest, ComparisonWorksOnEveryThread) {
  std::vector<int> results(4, 99);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&results, i] {
      for (int n = 0; n < 200; ++n) results[i] = CompareText(A("chata"), A("hrad"));
    });
  }
  for (std::thread& t : threads) t.join();
  for (int r : results) EXPECT_GT(r, 0);
}

TEST_F(LocaleTest, UpperAndLowerCaseKeepWindows1250) {
  EXPECT_EQ(AnsiToUtf8(UpperCase(A("žluťoučký kůň"))), "ŽLUŤOUČKÝ KŮŇ");
  EXPECT_EQ(AnsiToUtf8(LowerCase(A("PŘÍLIŠ ŽLUŤOUČKÝ KŮŇ 123"))), "příliš žluťoučký kůň 123");
  EXPECT_EQ(AnsiToUtf8(UpperCase(A("straße µ"))), "STRAßE µ");  // no single upper-case form in 1250
  EXPECT_EQ(UpperCase(""), "");
}

TEST_F(LocaleTest, UpperCharMapsEveryCzechLetter) {
  const std::string lower = A("áčďéěíňóřšťúůýžabcxyz");
  const std::string upper = A("ÁČĎÉĚÍŇÓŘŠŤÚŮÝŽABCXYZ");
  ASSERT_EQ(lower.size(), upper.size());
  for (std::size_t i = 0; i < lower.size(); ++i) {
    SCOPED_TRACE(AnsiToUtf8(lower.substr(i, 1)));
    EXPECT_EQ(UpperChar(lower[i]), upper[i]);
    EXPECT_EQ(LowerChar(upper[i]), lower[i]);
    EXPECT_EQ(UpperChar(upper[i]), upper[i]);
  }
  for (char c : {'1', ' ', '?', '\0', '\xA0', '\xFF'}) EXPECT_EQ(UpperChar(c), c);
}

TEST_F(LocaleTest, CzechFormatSettings) {
  const FormatSettings& f = CurrentFormats();
  EXPECT_EQ(CurrentLocaleName(), "cs_CZ");
  EXPECT_EQ(f.decimal_separator, ',');
  EXPECT_EQ(f.thousand_separator, '\xA0');
  EXPECT_EQ(f.short_date_format, "d.M.yyyy");
  EXPECT_EQ(f.long_time_format, "H:mm:ss");
  EXPECT_EQ(AnsiToUtf8(f.currency_string), "Kč");
  EXPECT_EQ(f.currency_decimals, 2);
  EXPECT_EQ(AnsiToUtf8(f.long_month_names[0]), "leden");
  EXPECT_EQ(AnsiToUtf8(f.long_month_names[1]), "únor");
  EXPECT_EQ(AnsiToUtf8(f.long_month_names[11]), "prosinec");
  EXPECT_EQ(AnsiToUtf8(f.short_month_names[5]), "čvn");
  EXPECT_EQ(AnsiToUtf8(f.long_day_names[0]), "neděle");
  EXPECT_EQ(AnsiToUtf8(f.long_day_names[1]), "pondělí");
  EXPECT_EQ(AnsiToUtf8(f.long_day_names[6]), "sobota");
  EXPECT_EQ(AnsiToUtf8(f.short_day_names[4]), "čt");
}

TEST_F(LocaleTest, FormatsCurrencyDatesAndTimes) {
  EXPECT_EQ(FormatCurrency(1234.5),
            "1\xA0"
            "234,50 K\xE8");
  EXPECT_EQ(FormatCurrency(-1234.5),
            "-1\xA0"
            "234,50 K\xE8");
  EXPECT_EQ(FormatCurrency(1234567.006),
            "1\xA0"
            "234\xA0"
            "567,01 K\xE8");
  EXPECT_EQ(FormatCurrency(0.999), "1,00 K\xE8");
  EXPECT_EQ(FormatCurrency(-0.001), "0,00 K\xE8");  // no "-0,00"
  EXPECT_EQ(FormatCurrency(999), "999,00 K\xE8");
  EXPECT_EQ(FormatDate(2024, 3, 5), "5.3.2024");
  EXPECT_EQ(FormatDate(1999, 12, 31), "31.12.1999");
  EXPECT_EQ(FormatTime(7, 5, 9), "7:05:09");
  EXPECT_EQ(FormatTime(23, 59, 0), "23:59:00");
}

TEST_F(LocaleTest, RejectsImpossibleDatesTimesAndAmounts) {
  EXPECT_THROW_MSG(FormatDate(2023, 2, 29), LocaleError, Utf8ToAnsi("Neplatné datum: 2023-2-29"));
  EXPECT_THROW_MSG(FormatDate(2024, 13, 1), LocaleError, Utf8ToAnsi("Neplatné datum: 2024-13-1"));
  EXPECT_THROW_MSG(FormatTime(24, 0, 0), LocaleError, Utf8ToAnsi("Neplatný čas: 24:0:0"));
  EXPECT_THROW_MSG(FormatCurrency(std::numeric_limits<double>::quiet_NaN()), LocaleError,
                   Utf8ToAnsi("Neplatná částka"));
  EXPECT_THROW_MSG(SetLocale("xx_YY"), LocaleError, Utf8ToAnsi("Neznámé národní prostředí: xx_YY"));
  EXPECT_EQ(FormatDate(2024, 2, 29), "29.2.2024");
  EXPECT_EQ(CurrentLocaleName(), "cs_CZ");  // a refused name leaves the locale as it was
}

TEST_F(LocaleTest, ParseLocaleFloat) {
  struct Case {
    std::string text;
    std::optional<double> expected;
  };
  const Case cases[] = {
      {"1\xA0"
       "234,5",
       1234.5},
      {"1 234,5", 1234.5},
      {"  -12,25 ", -12.25},
      {"+3", 3.0},
      {",5", 0.5},
      {"7,", 7.0},
      {"2,5E3", 2500.0},
      {"1e-2", 0.01},
      {"1\xA0"
       "234\xA0"
       "567",
       1234567.0},
      {"1.5", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {",", std::nullopt},
      {"\xA0"
       "12",
       std::nullopt},
      {"12\xA0", std::nullopt},
      {"1\xA0\xA0"
       "2",
       std::nullopt},
      {"1,2\xA0"
       "3",
       std::nullopt},
      {"12abc", std::nullopt},
      {"1e", std::nullopt},
      {"1e999", std::nullopt},
      {"nan", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseLocaleFloat(c.text), c.expected);
  }
}

TEST_F(LocaleTest, AnotherLocaleChangesEverythingAndBack) {
  const FormatSettings& czech = CurrentFormats();
  SetLocale("en_US");
  const FormatSettings& english = CurrentFormats();
  EXPECT_EQ(english.decimal_separator, '.');
  EXPECT_EQ(english.thousand_separator, ',');
  EXPECT_EQ(english.short_date_format, "M/d/yyyy");
  EXPECT_EQ(english.long_time_format, "h:mm:ss tt");
  EXPECT_EQ(english.long_month_names[0], "January");
  EXPECT_EQ(FormatCurrency(-1234.5), "-$1,234.50");
  EXPECT_EQ(FormatTime(13, 5, 0), "1:05:00 PM");
  EXPECT_EQ(ParseLocaleFloat("1,234.5"), 1234.5);
  EXPECT_LT(CompareText("chata", "hrad"), 0);  // no Czech "ch" outside Czech
  EXPECT_EQ(czech.decimal_separator, ',');     // references handed out earlier stay valid

  SetLocale("de_DE");
  EXPECT_EQ(CurrentFormats().short_date_format, "dd.MM.yyyy");
  EXPECT_EQ(AnsiToUtf8(FormatCurrency(1234.5)), "1.234,50 €");

  SetLocale(kDefaultLocale);
  EXPECT_EQ(&CurrentFormats(), &czech);
  EXPECT_GT(CompareText("chata", "hrad"), 0);
}

}  // namespace
}  // namespace tamaril::text
