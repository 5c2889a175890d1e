#include "replication/run_host.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recording_host.h"
#include "text/error.h"

namespace tamaril::replication {
namespace {

TEST(ProgressPercent, RoundsToTheNearestWithHalvesToEven) {
  EXPECT_EQ(ProgressPercent(1, 2), 50);
  EXPECT_EQ(ProgressPercent(0, 2), 0);
  EXPECT_EQ(ProgressPercent(1, 3), 33);   // 33.33
  EXPECT_EQ(ProgressPercent(2, 3), 67);   // 66.67
  EXPECT_EQ(ProgressPercent(1, 8), 12);   // 12.5 goes to the even 12
  EXPECT_EQ(ProgressPercent(3, 8), 38);   // 37.5 goes to the even 38
  EXPECT_EQ(ProgressPercent(1, 200), 0);  // 0.5 goes to the even 0
  EXPECT_EQ(ProgressPercent(3, 200), 2);  // 1.5 goes to the even 2
  EXPECT_EQ(ProgressPercent(7, 7), 100);
}

TEST(ProgressPercent, StaysOnTheBarForOddCounts) {
  EXPECT_EQ(ProgressPercent(5, 0), 0);
  EXPECT_EQ(ProgressPercent(5, -1), 0);
  EXPECT_EQ(ProgressPercent(-1, 4), 0);
  // A table that grew while it was read.
  EXPECT_EQ(ProgressPercent(12, 10), 100);
  // Counts beyond 32 bits do not overflow.
  EXPECT_EQ(ProgressPercent(3000000000LL, 6000000000LL), 50);
}

TEST(RunHost, TableProgressSetsTheLabelOnlyWhenItChanges) {
  testing::RecordingHost host;
  host.ReportTable(0, "rep_DELETED", 4);
  host.ReportTable(1, "Orders", 4);
  host.ReportTable(1, "Orders", 4);
  host.ReportRow(1, 3);
  EXPECT_EQ(host.table_names, (std::vector<std::string>{"rep_DELETED", "Orders"}));
  EXPECT_EQ(host.run_progress, (std::vector<int>{0, 25, 25}));
  EXPECT_EQ(host.table_progress, (std::vector<int>{0, 0, 0, 33}));
  EXPECT_EQ(host.events, 4);

  host.ClearLabels();
  host.ReportTable(2, "Orders", 4);
  EXPECT_EQ(host.table_names, (std::vector<std::string>{"rep_DELETED", "Orders", "", "Orders"}));
}

TEST(RunHost, CancelRequestAsksAndNoGoesOnWhileYesAborts) {
  testing::RecordingHost host;
  EXPECT_NO_THROW(host.CheckCancel("Stop?"));
  EXPECT_TRUE(host.questions.empty());

  host.RequestCancel();
  host.confirm_answers = {false, true};
  EXPECT_NO_THROW(host.CheckCancel("Stop?"));
  EXPECT_FALSE(host.CancelRequested());
  EXPECT_NO_THROW(host.CheckCancel("Stop?"));  // nothing waits: no second question
  EXPECT_EQ(host.questions.size(), 1U);

  host.RequestCancel();
  EXPECT_THROW(host.CheckCancel("Stop?"), EAbort);
  EXPECT_EQ(host.questions, (std::vector<std::string>{"Stop?", "Stop?"}));
}

}  // namespace
}  // namespace tamaril::replication
