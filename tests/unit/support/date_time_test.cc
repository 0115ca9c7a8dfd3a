#include "support/date_time.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/double_compare.h"
#include "support/int_parse.h"

namespace morvane {
namespace {

TEST(DateTime, DayNumbersMatchTheCalendarAcrossCenturies) {
  // Fixed points of the day count, independent of the algorithm.
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2);
  EXPECT_EQ(EncodeDate(1970, 1, 1), 25569);
  EXPECT_EQ(EncodeDate(2003, 7, 5), 37807);
  EXPECT_EQ(EncodeDate(1899, 12, 29), -1);
  EXPECT_EQ(EncodeDate(1800, 1, 1), -36522);
  EXPECT_EQ(EncodeDate(2100, 3, 1), 73110);
  // Every day of four centuries goes there and back.
  for (int32_t d = EncodeDate(1800, 1, 1); d <= EncodeDate(2200, 1, 1); ++d) {
    const CivilDate c = CivilFromDays(d);
    ASSERT_TRUE(IsValidDate(c.year, c.month, c.day)) << d;
    ASSERT_EQ(DaysFromCivil(c.year, c.month, c.day), d);
  }
}

TEST(DateTime, TimesRoundTripToTheMillisecond) {
  for (int ms = 0; ms < 86400000; ms += 997) {
    const CivilTime t{ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000};
    const TDateTime v = EncodeDateTime({2024, 2, 29}, t);
    ASSERT_EQ(DecodeTime(v), t) << ms;
    ASSERT_EQ(DecodeDate(v), (CivilDate{2024, 2, 29}));
  }
  // Before the epoch the time still counts forwards within its day.
  const TDateTime early = EncodeDateTime({1899, 12, 29}, {6, 0, 0, 0});
  EXPECT_DOUBLE_EQ(early, -1.25);
  EXPECT_EQ(DecodeDate(early), (CivilDate{1899, 12, 29}));
  EXPECT_EQ(DecodeTime(early), (CivilTime{6, 0, 0, 0}));
  // 23:59:59.9996 rounds into the next day, and both halves agree.
  const TDateTime late = EncodeDate(2003, 12, 31) + (86400000 - 0.4) / 86400000.0;
  EXPECT_EQ(DecodeDate(late), (CivilDate{2004, 1, 1}));
  EXPECT_EQ(Hms(late), "00:00:00");
}

TEST(DateTime, TextForms) {
  const TDateTime v = EncodeDateTime({2003, 5, 9}, {7, 5, 3, 0});
  EXPECT_EQ(YmdSlashed(v), "2003/05/09");
  EXPECT_EQ(ShortDate(v), "2003/5/9");
  EXPECT_EQ(Hms(v), "07:05:03");
  EXPECT_EQ(MdySlashed(v), "05/09/2003");
  EXPECT_EQ(Yymmdd(EncodeDate(1999, 12, 31)), "991231");
  EXPECT_EQ(Hhnnss(v), "070503");
  EXPECT_EQ(MonthDay(v), "05/09");
  EXPECT_EQ(ShortDateTime(v), "2003/5/9 07:05:03");
  EXPECT_EQ(ShortDateTime(EncodeDate(2003, 11, 12)), "2003/11/12");
  EXPECT_EQ(LogStamp(v), "2003/05/09 07:05:03 =>");
  EXPECT_EQ(DayOfWeek(EncodeDate(2003, 7, 5)), 7);  // a Saturday
  EXPECT_EQ(DayOfWeek(EncodeDate(2003, 7, 6)), 1);  // a Sunday
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 29)), 6);
}

TEST(DateTime, ParsingAcceptsTheShortFormsAndRejectsImpossibleValues) {
  const TDateTime today = EncodeDate(2026, 12, 8);
  EXPECT_EQ(ParseShortDate("2003/5/9", today), EncodeDate(2003, 5, 9));
  EXPECT_EQ(ParseShortDate("2003/05/09", today), EncodeDate(2003, 5, 9));
  EXPECT_EQ(ParseShortDate(" 2004/2/29 ", today), EncodeDate(2004, 2, 29));
  EXPECT_EQ(ParseShortDate("03/5/9", today), EncodeDate(2003, 5, 9));
  for (const char* bad : {"2003/13/1", "2003/2/31", "2003/2/29", "2003-05-09", "2003/5", "",
                          "2003/5/9x", "abc", "2003/0/1", "2003/1/0", "12345/1/1"}) {
    EXPECT_FALSE(ParseShortDate(bad, today).has_value()) << bad;
  }
  EXPECT_EQ(ParseTimeOfDay("9:5"), EncodeTime(9, 5, 0));
  EXPECT_EQ(ParseTimeOfDay("09:50:00"), EncodeTime(9, 50, 0));
  EXPECT_EQ(ParseTimeOfDay("23:59:59"), EncodeTime(23, 59, 59));
  EXPECT_EQ(ParseTimeOfDay("10:00:00.5"), EncodeTime(10, 0, 0, 500));
  for (const char* bad :
       {"25:00", "24:00", "10:60", "10:00:60", "10", "", "10:00:00:00", "a:b", "10:00 pm"}) {
    EXPECT_FALSE(ParseTimeOfDay(bad).has_value()) << bad;
  }
  EXPECT_EQ(ParseIsoDateTime("2003-07-05 10:30:00"), EncodeDateTime({2003, 7, 5}, {10, 30, 0, 0}));
  EXPECT_EQ(ParseIsoDateTime("2003-07-05 10:30:00.250"),
            EncodeDateTime({2003, 7, 5}, {10, 30, 0, 250}));
  EXPECT_FALSE(ParseIsoDateTime("2003-07-05 10:30:00.25").has_value());
  EXPECT_FALSE(ParseIsoDateTime("2003-07-05 10:30:00,250").has_value());
  EXPECT_FALSE(ParseIsoDateTime("2003-07-05").has_value());
  EXPECT_FALSE(ParseIsoDateTime("2003-02-30 10:30:00").has_value());
}

TEST(DateTime, CenturyLeapDaysShortYearsAndTwoDigitMonthsAndDays) {
  // Short years fall in the century of today, with no sliding window.
  const TDateTime today = EncodeDate(2003, 3, 12);
  struct ParseCase {
    const char* text;
    std::optional<TDateTime> want;
  };
  const ParseCase parses[] = {
      {"1900/2/29", std::nullopt},
      {"2100/2/29", std::nullopt},
      {"2000/2/29", EncodeDate(2000, 2, 29)},
      {"3/5/9", EncodeDate(2003, 5, 9)},
      {"99/12/31", EncodeDate(2099, 12, 31)},
      {"0/10/10", EncodeDate(2000, 10, 10)},
  };
  for (const ParseCase& c : parses) EXPECT_EQ(ParseShortDate(c.text, today), c.want) << c.text;

  // October and the 10th in every date column form.
  std::string got;
  for (const TDateTime day : {EncodeDate(2003, 10, 10), EncodeDate(2003, 10, 1),
                              EncodeDate(2003, 1, 10), EncodeDate(1999, 12, 31)}) {
    for (char* (*format)(char*, TDateTime) :
         {FormatShortDate, FormatYmdSlashed, FormatMdySlashed}) {
      char text[16];
      got.append(text, format(text, day)).append(" ");
    }
    got += "\n";
  }
  EXPECT_EQ(got,
            "2003/10/10 2003/10/10 10/10/2003 \n"
            "2003/10/1 2003/10/01 10/01/2003 \n"
            "2003/1/10 2003/01/10 01/10/2003 \n"
            "1999/12/31 1999/12/31 12/31/1999 \n");
}

TEST(DateTime, TruncateToSecondDropsTheFraction) {
  EXPECT_EQ(TruncateToSecond(EncodeTime(9, 0, 0, 999)), EncodeTime(9, 0, 0));
  EXPECT_EQ(TruncateToSecond(EncodeTime(8, 59, 59, 999)), EncodeTime(8, 59, 59));
  EXPECT_EQ(TruncateToSecond(EncodeTime(9, 0, 0)), EncodeTime(9, 0, 0));
}

TEST(IntParse, FollowsTheFieldRules) {
  EXPECT_EQ(ParseInt32("25"), 25);
  EXPECT_EQ(ParseInt32(" 25"), 25);
  EXPECT_EQ(ParseInt32("-3"), -3);
  EXPECT_EQ(ParseInt32("+7"), 7);
  EXPECT_EQ(ParseInt32("0"), 0);
  EXPECT_EQ(ParseInt32("$1F"), 31);
  EXPECT_EQ(ParseInt32("0x1f"), 31);
  EXPECT_EQ(ParseInt32("-$10"), -16);
  EXPECT_EQ(ParseInt32("2147483647"), 2147483647);
  EXPECT_EQ(ParseInt32("-2147483648"), INT32_MIN);
  for (const char* bad : {"", " ", "abc", "25 ", "2147483648", "-2147483649",
                          "99999999999999999999", "$", "0x", "1.5", "+", "- 1", "$G"}) {
    EXPECT_FALSE(ParseInt32(bad).has_value()) << bad;
  }
  EXPECT_EQ(ParseInt32Or("letters", 300), 300);
}

TEST(DoubleCompare, ToleranceIsStrict) {
  EXPECT_TRUE(IsDoubleEqual(1.0, 1.0 + 0.5e-8));
  EXPECT_FALSE(IsDoubleEqual(0.0, 2e-8));
  EXPECT_EQ(CompareDouble(1.0, 1.0 + 0.5e-8), 0);
  EXPECT_EQ(CompareDouble(2.0, 1.0), 1);
  EXPECT_EQ(CompareDouble(1.0, 2.0), -1);
}

}  // namespace
}  // namespace morvane
