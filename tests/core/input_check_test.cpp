#include "core/input_check.h"

#include <gtest/gtest.h>

#include <string>

#include "support/expect_throw_msg.h"
#include "text/encoding.h"

namespace tamaril::core {
namespace {

using dataset::FieldType;

// The message as the terminal shows it.
std::string Shown(std::string_view ansi) { return text::AnsiToUtf8(ansi); }

TEST(CheckedAnsiInput, ConvertsWhatWindows1250Holds) {
  EXPECT_EQ(CheckedAnsiInput("Pozn", "Žluťoučký kůň – „úpěl“"), text::Utf8ToAnsi("Žluťoučký kůň – „úpěl“"));
  EXPECT_EQ(CheckedAnsiInput("Pozn", ""), "");
  EXPECT_EQ(CheckedAnsiInput("Pozn", "a\tb\r\nc", TextLines::Multiple), "a\tb\r\nc");
}

TEST(CheckedAnsiInput, NamesTheFieldAndTheFirstCharacterWindows1250Lacks) {
  for (const auto& [typed, character] :
       {std::pair{"日本", "U+65E5"}, std::pair{"abcЖ", "U+0416"}, std::pair{"x😀", "U+1F600"},
        std::pair{"ä€ß\xC3", "U+FFFD"}}) {  // a cut UTF-8 sequence
    try {
      CheckedAnsiInput("Signature", typed);
      ADD_FAILURE() << typed << " was accepted";
    } catch (const InputError& e) {
      EXPECT_EQ(Shown(e.what()), std::string("Hodnota pole Signature obsahuje znak ") + character +
                                     ", který kódování Windows-1250 nemá");
    }
  }
}

TEST(CheckedAnsiInput, RefusesControlCharactersWhereOneLineIsExpected) {
  EXPECT_THROW_MSG(CheckedAnsiInput("DatabaseName", "a\tb"), InputError,
                   text::Utf8ToAnsi("Hodnota pole DatabaseName nesmí obsahovat tabulátor"));
  EXPECT_THROW_MSG(CheckedAnsiInput("EXPFLDR", "a\nb"), InputError,
                   text::Utf8ToAnsi("Hodnota pole EXPFLDR nesmí obsahovat konec řádku"));
  EXPECT_THROW_MSG(CheckedAnsiInput("EXPFLDR", "a\rb"), InputError,
                   text::Utf8ToAnsi("Hodnota pole EXPFLDR nesmí obsahovat konec řádku"));
  // Free text takes tabs and lines, but no other control character.
  EXPECT_THROW_MSG(CheckedAnsiInput("Pozn", std::string("a\0b", 3), TextLines::Multiple), InputError,
                   text::Utf8ToAnsi("Hodnota pole Pozn nesmí obsahovat řídicí znak U+0000"));
  EXPECT_THROW_MSG(CheckedAnsiInput("Pozn", "a\x1b", TextLines::Multiple), InputError,
                   text::Utf8ToAnsi("Hodnota pole Pozn nesmí obsahovat řídicí znak U+001B"));
}

TEST(CheckedIntegerInput, KeepsToTheRangeOfEachIntegerType) {
  struct Case {
    FieldType type;
    const char* low;
    const char* high;
    const char* below;
    const char* above;
    const char* range;
  };
  for (const Case& c :
       {Case{FieldType::Smallint, "-32768", "32767", "-32769", "32768", "Smallint (-32768 až 32767)"},
        Case{FieldType::Word, "0", "65535", "-1", "65536", "Word (0 až 65535)"},
        Case{FieldType::Integer, "-2147483648", "2147483647", "-2147483649", "2147483648",
             "Integer (-2147483648 až 2147483647)"},
        Case{FieldType::AutoInc, "-2147483648", "2147483647", "-2147483649", "2147483648",
             "AutoInc (-2147483648 až 2147483647)"},
        Case{FieldType::Largeint, "-9223372036854775808", "9223372036854775807", "-9223372036854775809",
             "9223372036854775808", "Largeint (-9223372036854775808 až 9223372036854775807)"}}) {
    EXPECT_EQ(std::to_string(CheckedIntegerInput("N", c.type, c.low)), c.low);
    EXPECT_EQ(std::to_string(CheckedIntegerInput("N", c.type, c.high)), c.high);
    for (const char* outside : {c.below, c.above}) {
      EXPECT_THROW_MSG(CheckedIntegerInput("N", c.type, outside), InputError,
                       text::Utf8ToAnsi(std::string("Hodnota pole N je mimo rozsah typu ") + c.range));
    }
  }
}

TEST(CheckedIntegerInput, RefusesWhatIsNoIntegerOrNoIntegerField) {
  for (const char* typed : {"", "12a", "1.5", " 1", "+1", "0x10"}) {
    EXPECT_THROW_MSG(CheckedIntegerInput("N", FieldType::Integer, typed), InputError,
                     text::Utf8ToAnsi("Hodnota pole N není celé číslo"));
  }
  EXPECT_THROW_MSG(CheckedIntegerInput("N", FieldType::Float, "1"), InputError,
                   text::Utf8ToAnsi("Hodnota pole N není celočíselného typu"));
}

}  // namespace
}  // namespace tamaril::core
