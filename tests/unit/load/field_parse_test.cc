#include "field_parse.h"

#include <gtest/gtest.h>

namespace morvane::load {
namespace {

TEST(FieldParse, DatesAreStrictIsoCalendarDates) {
  EXPECT_EQ(ParseCsvDate("2003-07-05"), EncodeDate(2003, 7, 5));
  EXPECT_EQ(ParseCsvDate("2004-02-29"), EncodeDate(2004, 2, 29));
  for (const char* bad : {"2003-02-29", "2003-13-01", "2003-7-05", "2003/07/05", "03-07-05",
                          " 2003-07-05", "2003-07-05 ", "", "2003-07-05x"}) {
    EXPECT_FALSE(ParseCsvDate(bad)) << bad;
  }
}

TEST(FieldParse, TimesTakeZeroToThreeFractionDigits) {
  EXPECT_EQ(ParseCsvTime("09:30:00"), EncodeTime(9, 30, 0));
  EXPECT_EQ(ParseCsvTime("23:59:59.5"), EncodeTime(23, 59, 59, 500));
  EXPECT_EQ(ParseCsvTime("10:00:00.123"), EncodeTime(10, 0, 0, 123));
  for (const char* bad : {"24:00:00", "10:60:00", "10:00:60", "9:30:00", "10:00", "10:00:00.",
                          "10:00:00.1234", "10:00:00,5"}) {
    EXPECT_FALSE(ParseCsvTime(bad)) << bad;
  }
}

TEST(FieldParse, DateTimes) {
  EXPECT_DOUBLE_EQ(*ParseCsvDateTime("2003-07-05 10:01:02"),
                   EncodeDate(2003, 7, 5) + EncodeTime(10, 1, 2));
  EXPECT_FALSE(ParseCsvDateTime("2003-07-05T10:01:02"));
  EXPECT_FALSE(ParseCsvDateTime("2003-07-05"));
}

TEST(FieldParse, NumbersAreFiniteDecimals) {
  EXPECT_EQ(ParseCsvNumber("12.5"), 12.5);
  EXPECT_EQ(ParseCsvNumber("-0.25"), -0.25);
  EXPECT_EQ(ParseCsvNumber("+3"), 3.0);
  EXPECT_EQ(ParseCsvNumber("1e3"), 1000.0);
  for (const char* bad : {"", "abc", "1,5", " 1", "1 ", "inf", "-inf", "Infinity", "nan", "NaN",
                          "+nan", "1e999", "++1", "+-1"}) {
    EXPECT_FALSE(ParseCsvNumber(bad)) << bad;
  }
  EXPECT_EQ(ParseCsvInteger("60"), 60);
  EXPECT_EQ(ParseCsvInteger("-7"), -7);
  EXPECT_FALSE(ParseCsvInteger("1.5"));
  EXPECT_FALSE(ParseCsvInteger(""));
  EXPECT_FALSE(ParseCsvInteger("+-5"));
}

}  // namespace
}  // namespace morvane::load
