#include "web/history_params.h"

#include <gtest/gtest.h>

#include <map>

#include "support/double_compare.h"

namespace morvane {
namespace {

const TDateTime kToday = EncodeDate(2026, 12, 8);

struct Outcome {
  bool ok;
  HistoryParams p;
  std::string error;
};

Outcome Parse(std::map<std::string, std::string> fields, RequestSettings settings = {}) {
  FieldLookup lookup = [&fields](std::string_view name) {
    auto it = fields.find(std::string(name));
    return it == fields.end() ? std::string() : it->second;
  };
  Outcome o{};
  std::string_view err;
  o.ok = ParseHistoryParams(lookup, settings, kToday, &o.p, &err);
  o.error = std::string(err);
  return o;
}

RequestSettings Uw() {
  RequestSettings s;
  s.calc_mode = "UW";
  return s;
}

TEST(HistoryParams, OnlyASymbolGivesTodayAndTheWholeDay) {
  const Outcome o = Parse({{"symbol", "0005"}});
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.p.symbol, "0005");
  EXPECT_EQ(o.p.mode, "0");
  EXPECT_EQ(o.p.date_begin, kToday);
  EXPECT_EQ(o.p.date_end, kToday);
  EXPECT_TRUE(o.p.no_date_given);
  EXPECT_EQ(o.p.time_begin, 0);
  EXPECT_EQ(Hms(o.p.time_end), "23:59:59");
  EXPECT_EQ(o.p.interval, 300);
  EXPECT_EQ(o.p.day_count, 0);
}

TEST(HistoryParams, UwGridShiftsTheStartByOneSecondLessThanABar) {
  Outcome o = Parse({{"symbol", "1"}, {"mode", "6"}}, Uw());
  ASSERT_TRUE(o.ok);
  EXPECT_TRUE(IsDoubleEqual(o.p.time_begin, EncodeTime(9, 45, 1)));
  EXPECT_TRUE(IsDoubleEqual(o.p.time_end, EncodeTime(16, 4, 59)));
  EXPECT_EQ(o.p.interval, 300);

  o = Parse(
      {{"mode", "6"}, {"interval", "60"}, {"timeStart", "10:00:00"}, {"timeOver", "11:00:00"}},
      Uw());
  ASSERT_TRUE(o.ok);
  EXPECT_TRUE(IsDoubleEqual(o.p.time_begin, EncodeTime(9, 59, 1)));
  EXPECT_TRUE(IsDoubleEqual(o.p.time_end, EncodeTime(11, 0, 0)));

  o = Parse({{"mode", "6"}, {"interval", "180"}, {"timeStart", "10:00"}, {"timeOver", "11:00"}},
            Uw());
  EXPECT_TRUE(IsDoubleEqual(o.p.time_begin, EncodeTime(9, 57, 1)));
  o = Parse({{"mode", "6"}, {"interval", "900"}, {"timeStart", "10:00"}, {"timeOver", "11:00"}},
            Uw());
  EXPECT_TRUE(IsDoubleEqual(o.p.time_begin, EncodeTime(9, 55, 1)));

  // Other modes under UW, and mode 6 under DC, are not shifted.
  o = Parse({{"mode", "4"}}, Uw());
  EXPECT_EQ(o.p.time_begin, 0);
  o = Parse({{"mode", "6"}});
  EXPECT_EQ(o.p.time_begin, 0);
  EXPECT_EQ(Hms(o.p.time_end), "23:59:59");
}

TEST(HistoryParams, IntegersFallBackToTheirDefaults) {
  Outcome o =
      Parse({{"interval", "letters"}, {"DayCount", "-1"}, {"BackCount", "$10"}, {"iunit", "2 "}});
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.p.interval, 300);
  EXPECT_EQ(o.p.day_count, -1);
  EXPECT_EQ(o.p.back_count, 16);
  EXPECT_EQ(o.p.iunit, 0);
  o = Parse({{"interval", "0"}, {"DayCount", ""}});
  EXPECT_EQ(o.p.interval, 0);
  EXPECT_EQ(o.p.day_count, 0);
}

TEST(HistoryParams, ErrorsComeInTheHandlersOrder) {
  EXPECT_EQ(Parse({{"dateStart", "2003/5/9"}}).error, "ERROR|Invalid number of parameters.|");
  EXPECT_EQ(Parse({{"timeOver", "10:00"}}).error, "ERROR|Invalid number of parameters.|");
  EXPECT_EQ(Parse({{"timeStart", "25:00"}}).error, "ERROR|Invalid time format(yyyy/m/d).|");
  EXPECT_EQ(Parse({{"timeStart", "25:00"}, {"timeOver", "10:00"}}).error,
            "ERROR|Invalid time format(yyyy/m/d).|");
  EXPECT_EQ(Parse({{"dateStart", "2003/13/1"}, {"dateOver", "2003/13/2"}}).error,
            "ERROR|Invalid date format(yyyy/m/d).|");
  // A malformed time hides a malformed date; a malformed value hides a
  // missing partner.
  EXPECT_EQ(Parse({{"timeStart", "x"}, {"dateStart", "y"}, {"dateOver", "z"}}).error,
            "ERROR|Invalid time format(yyyy/m/d).|");
  EXPECT_EQ(Parse({{"dateStart", "2003/2/30"}}).error, "ERROR|Invalid date format(yyyy/m/d).|");
  // An empty value counts as not given.
  EXPECT_TRUE(Parse({{"dateStart", ""}, {"timeStart", ""}}).ok);
}

TEST(HistoryParams, CenturyLeapDaysAreInvalidAndShortYearsFallInThisCentury) {
  const std::string invalid = "ERROR|Invalid date format(yyyy/m/d).|";
  EXPECT_EQ(Parse({{"dateStart", "1900/2/29"}, {"dateOver", "1900/3/1"}}).error, invalid);
  EXPECT_EQ(Parse({{"dateStart", "2100/2/28"}, {"dateOver", "2100/2/29"}}).error, invalid);
  const Outcome o = Parse({{"dateStart", "3/5/9"}, {"dateOver", "2000/2/29"}});
  ASSERT_TRUE(o.ok) << o.error;
  EXPECT_EQ(o.p.date_begin, EncodeDate(2003, 5, 9));
  EXPECT_EQ(o.p.date_end, EncodeDate(2000, 2, 29));
}

TEST(HistoryParams, DatesAndModeAreTakenAsGiven) {
  const Outcome o = Parse(
      {{"mode", "01"}, {"dateStart", "2003/5/9"}, {"dateOver", "2003/05/10"}, {"symbol", " ab "}});
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.p.mode, "01");
  EXPECT_EQ(o.p.symbol, " ab ");
  EXPECT_EQ(o.p.date_begin, EncodeDate(2003, 5, 9));
  EXPECT_EQ(o.p.date_end, EncodeDate(2003, 5, 10));
  EXPECT_FALSE(o.p.no_date_given);
}

}  // namespace
}  // namespace morvane
