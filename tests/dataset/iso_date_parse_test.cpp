#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "dataset/date_codec.h"

namespace tamaril::dataset {
namespace {

// The text a parsed value prints as, so that cases read as dates rather than day numbers.
std::string Printed(std::optional<double> value) {
  return value ? IsoDateTimeText(DateTimeToTimeStamp(*value)) : "nothing";
}

TEST(ParseIsoDateTime, ReadsTheDateWithOrWithoutTheTime) {
  EXPECT_EQ(ParseIsoDateTime("1899-12-30"), 0.0);
  EXPECT_EQ(Printed(ParseIsoDateTime("2003-12-07")), "2003-12-07T00:00:00.000");
  EXPECT_EQ(Printed(ParseIsoDateTime("2003-12-07T12:30:00")), "2003-12-07T12:30:00.000");
  EXPECT_EQ(Printed(ParseIsoDateTime("2024-02-29T23:59:59.999")), "2024-02-29T23:59:59.999");
  EXPECT_EQ(Printed(ParseIsoDateTime("0001-01-01")), "0001-01-01T00:00:00.000");
}

TEST(ParseIsoDateTime, RefusesOtherFormsAndDaysTheCalendarLacks) {
  for (const char* text : {"",
                           "2003-02-30",
                           "2023-02-29",
                           "2003-13-01",
                           "2003-00-10",
                           "2003-01-00",
                           "0000-01-01",
                           "2003-1-01",
                           "2003/01/01",
                           "2003-01-01 12:00:00",
                           "2003-01-01T",
                           "2003-01-01T12:00",
                           "2003-01-01T24:00:00",
                           "2003-01-01T12:60:00",
                           "2003-01-01T12:00:60",
                           "2003-01-01T12:00:00.5",
                           "2003-01-01T12:00:00.1234",
                           "2003-01-01x",
                           "+003-01-01",
                           "2003-01--1",
                           "2003-01-01T-1:00:00",
                           "2003-01-01T1 :00:00"}) {
    EXPECT_EQ(Printed(ParseIsoDateTime(text)), "nothing") << text;
  }
}

TEST(ParseIsoTimeOfDay, ReadsATimeAsAFractionOfTheDay) {
  EXPECT_EQ(ParseIsoTimeOfDay("12:00:00"), 0.5);
  EXPECT_EQ(ParseIsoTimeOfDay("00:00:00.000"), 0.0);
  EXPECT_EQ(Printed(ParseIsoTimeOfDay("23:59:59.999")), "1899-12-30T23:59:59.999");
  for (const char* text : {"", "24:00:00", "12:00", "12:00:00.", "-1:00:00", "12:00:00Z", "2003-01-01"}) {
    EXPECT_EQ(Printed(ParseIsoTimeOfDay(text)), "nothing") << text;
  }
}

}  // namespace
}  // namespace tamaril::dataset
