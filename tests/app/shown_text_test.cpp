#include "tamaril-cli/shown_text.h"

#include <gtest/gtest.h>

#include "dataset/memory_table.h"

namespace tamaril::cli {
namespace {

// Every kind of line break counts once, empty lines and a final break included, so the listing
// shows how many lines the stored rule has.
TEST(ShownRuleText, ShowsEveryLineBreakAsBackslashN) {
  EXPECT_EQ(ShownRuleText("A > 1"), "A > 1");
  EXPECT_EQ(ShownRuleText("A > 1 AND\r\n  B"), "A > 1 AND\\n  B");
  EXPECT_EQ(ShownRuleText("A\rB\nC"), "A\\nB\\nC");
  EXPECT_EQ(ShownRuleText("A\r\n\r\nB\r\n"), "A\\n\\nB\\n");
  EXPECT_EQ(ShownRuleText("\"it's\""), "\"it's\"");
}

TEST(ShownValue, ShowsNullDatesAndSwitchesOnOneLine) {
  dataset::TQVMMemoryTable table;
  table.SetFieldLayout("D;DateTime;0;0;B;Boolean;0;0;N;Integer;0;0");
  table.Open();
  table.Append();
  table.FieldByName("D").SetAsDateTime(37962.4375);  // 7 December 2003, 10:30
  table.FieldByName("B").SetAsBoolean(true);
  table.Post();
  EXPECT_EQ(ShownValue(table.FieldByName("D")), "2003-12-07T10:30:00.000");
  EXPECT_EQ(ShownValue(table.FieldByName("B")), "1");
  EXPECT_EQ(ShownValue(table.FieldByName("N")), "-");
}

}  // namespace
}  // namespace tamaril::cli
