#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "calendar/comma_text.h"
#include "calendar/trading_calendar.h"
#include "support/clock.h"
#include "support/error.h"
#include "support/http_client.h"
#include "support/log.h"
#include "support/test_env.h"

namespace morvane {
namespace {

using testing::ReadFile;
using testing::ScopedCwd;
using testing::ScopedEnv;
using testing::TempDir;
using testing::WriteFile;
using Items = std::vector<std::string>;

TEST(CommaText, SeparatorsQuotesAndEmptyItems) {
  EXPECT_EQ(SplitCommaText("01/01,01/22,12/25"), (Items{"01/01", "01/22", "12/25"}));
  EXPECT_EQ(SplitCommaText(" 01/01 , 01/22\t12/25  "), (Items{"01/01", "01/22", "12/25"}));
  EXPECT_EQ(SplitCommaText("a,,b"), (Items{"a", "", "b"}));
  EXPECT_EQ(SplitCommaText(",a,"), (Items{"", "a", ""}));
  EXPECT_EQ(SplitCommaText("\"new year, day\" \"x\"\"y\",z"),
            (Items{"new year, day", "x\"y", "z"}));
  EXPECT_EQ(SplitCommaText("\"unterminated item"), (Items{"unterminated item"}));
  EXPECT_TRUE(SplitCommaText("").empty());
  EXPECT_TRUE(SplitCommaText(" \t\r\n ").empty());
}

// A clock a test can move.
class TestClock final : public Clock {
 public:
  TDateTime Now() const override { return now_.load(); }
  void Set(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    now_ = EncodeDateTime({y, mo, d}, {h, mi, s, ms});
  }

 private:
  std::atomic<TDateTime> now_{0};
};

class RefusingHttp final : public HttpClient {
 public:
  HttpResponse Get(const std::string& url) const override {
    throw EInOutError("Download of " + url + " failed: refused");
  }
};

// Each test starts a fresh process's calendar, in its own directories, with
// the log in a temporary file and the clock under its control.
class Calendar : public ::testing::Test {
 protected:
  Calendar() {
    ResetCalendarForTesting();
    SetClockForTesting(&clock_);
    SetHttpClientForTesting(&http_);
    clock_.Set(2004, 3, 15, 10, 0, 0);     // a Monday
    ::testing::internal::CaptureStderr();  // the test program has no version strings
    omsLogOpen((logs_ / "KMDL.log").string());
    ::testing::internal::GetCapturedStderr();
  }
  ~Calendar() override {
    omsLogClose();
    ResetCalendarForTesting();
    SetClockForTesting(nullptr);
    SetHttpClientForTesting(nullptr);
  }

  void Settings(const std::string& text) { WriteFile(cwd_ / "oms.ini", text); }

  // The log's lines after the header.
  Items LogLines() const {
    const std::string text = ReadFile(logs_ / "KMDL.log");
    Items lines;
    for (std::size_t pos = 0; pos < text.size();) {
      const std::size_t end = text.find("\r\n", pos);
      lines.push_back(text.substr(pos, end - pos));
      pos = end + 2;
    }
    lines.erase(lines.begin());
    return lines;
  }

  TempDir cwd_;
  TempDir sysconf_;
  TempDir logs_;
  ScopedCwd cwd_guard_{cwd_.path()};
  ScopedEnv sysconf_env_{"MORVANE_SYSCONFDIR", sysconf_.path().c_str()};
  TestClock clock_;
  RefusingHttp http_;
};

TEST_F(Calendar, FirstLoadReadsTheSettingsFilesOwnYearSection) {
  Settings(
      "[MORVANE]\nSplitTime=9:30\n[2003]\nHoliday=03/15\n[2004]\n"
      "Holiday= 01/01, 1/22 \"12/24\" ,12/31\n");
  InitialHolidayList();
  EXPECT_EQ(LogLines(), (Items{"Holiday File:", "Holiday List:01/01, 1/22 \"12/24\" ,12/31",
                               "SplitTime:9:30"}));
  EXPECT_EQ(HolidayList(), (Items{"01/01", "1/22", "12/24", "12/31"}));
  EXPECT_EQ(SplitTime(), EncodeTime(9, 30, 0));
  EXPECT_FALSE(IsHolidayToday());  // 03/15 is listed for another year only

  clock_.Set(2004, 1, 1, 0, 0, 0);
  EXPECT_TRUE(IsHolidayToday());
  clock_.Set(2004, 12, 24, 23, 59, 59);
  EXPECT_TRUE(IsHolidayToday());
  // "1/22" is not the text of 22 January.
  clock_.Set(2004, 1, 22, 12, 0, 0);
  EXPECT_FALSE(IsHolidayToday());
}

TEST_F(Calendar, WeekendsAreAlwaysHolidays) {
  Settings("[2004]\nHoliday=\n");
  InitialHolidayList();
  EXPECT_TRUE(HolidayList().empty());
  clock_.Set(2004, 1, 24, 10, 0, 0);  // Saturday
  EXPECT_TRUE(IsHolidayToday());
  clock_.Set(2004, 1, 25, 10, 0, 0);  // Sunday
  EXPECT_TRUE(IsHolidayToday());
  clock_.Set(2004, 1, 26, 10, 0, 0);  // Monday
  EXPECT_FALSE(IsHolidayToday());
}

TEST_F(Calendar, BeforeLoadingOnlyWeekendsCount) {
  Settings("[2004]\nHoliday=03/15\n");
  EXPECT_FALSE(IsHolidayToday());
  EXPECT_TRUE(HolidayList().empty());
  EXPECT_EQ(SplitTime(), 0.0);
  EXPECT_TRUE(IsAfterSplitTime());
  clock_.Set(2005, 1, 1, 10, 0, 0);  // a Saturday in another year loads nothing
  EXPECT_TRUE(IsHolidayToday());
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(Calendar, SplitTimeBoundaries) {
  Settings("[MORVANE]\nHolidayFile=\n");
  InitialHolidayList();
  EXPECT_EQ(LogLines().back(), "SplitTime:09:00:00");
  clock_.Set(2004, 3, 15, 8, 59, 59, 999);
  EXPECT_FALSE(IsAfterSplitTime());
  clock_.Set(2004, 3, 15, 9, 0, 0);
  EXPECT_TRUE(IsAfterSplitTime());
  clock_.Set(2004, 3, 15, 9, 0, 0, 999);
  EXPECT_TRUE(IsAfterSplitTime());
  clock_.Set(2004, 3, 15, 0, 0, 0);
  EXPECT_FALSE(IsAfterSplitTime());
  clock_.Set(2004, 3, 15, 23, 59, 59, 999);
  EXPECT_TRUE(IsAfterSplitTime());
}

TEST_F(Calendar, UnreadableSplitTimeFallsBackToNine) {
  for (const char* value : {"9h", "25:00", ""}) {
    ResetCalendarForTesting();
    Settings(std::string("[MORVANE]\nSplitTime=") + value + "\n");
    InitialHolidayList();
    const Items lines = LogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], std::string("SplitTime:") + value);
    EXPECT_EQ(lines.back(),
              std::string("InitialHolidayList 1:'") + value + "' is not a valid time");
    EXPECT_EQ(SplitTime(), EncodeTime(9, 0, 0)) << value;
  }
}

TEST_F(Calendar, BlankHolidayValueGivesAnEmptyList) {
  Settings("[2004]\nHoliday=\"   \"\n");
  InitialHolidayList();
  EXPECT_EQ(LogLines()[1], "Holiday List:   ");
  EXPECT_TRUE(HolidayList().empty());
}

TEST_F(Calendar, NamedHolidayFileIsFoundLikeTheSettingsFile) {
  Settings("[MORVANE]\nHolidayFile=holidays.ini\n[2004]\nHoliday=01/01\n");
  WriteFile(sysconf_ / "holidays.ini", "[2004]\nHoliday=03/15,03/15\n");
  InitialHolidayList();
  EXPECT_EQ(LogLines()[0], "Holiday File:holidays.ini");
  EXPECT_EQ(HolidayList(), (Items{"03/15", "03/15"}));
  EXPECT_TRUE(IsHolidayToday());
}

TEST_F(Calendar, HolidayFileFailureIsLoggedAndTheSplitTimeStillRead) {
  // A name with a directory is never found, and the download fails.
  const std::string path = (cwd_ / "holidays.ini").string();
  Settings("[MORVANE]\nSplitTime=10:15:30\nHolidayFile=" + path + "\n");
  WriteFile(cwd_ / "holidays.ini", "[2004]\nHoliday=03/15\n");
  InitialHolidayList();
  EXPECT_EQ(LogLines(),
            (Items{"Holiday File:" + path,
                   "InitialHolidayList:Download of http://morvane-settings/omsini.htm failed: "
                   "refused",
                   "SplitTime:10:15:30"}));
  EXPECT_TRUE(HolidayList().empty());
  EXPECT_FALSE(IsHolidayToday());
  EXPECT_EQ(SplitTime(), EncodeTime(10, 15, 30));
}

TEST_F(Calendar, SecondCallNeitherRereadsNorRelogs) {
  Settings("[MORVANE]\nSplitTime=09:30\n[2004]\nHoliday=01/01\n");
  InitialHolidayList();
  const Items first = LogLines();
  Settings("[MORVANE]\nSplitTime=11:00\n[2004]\nHoliday=03/15\n");
  InitialHolidayList();
  EXPECT_EQ(LogLines(), first);
  EXPECT_EQ(HolidayList(), (Items{"01/01"}));
  EXPECT_EQ(SplitTime(), EncodeTime(9, 30, 0));
  EXPECT_FALSE(IsHolidayToday());
}

TEST_F(Calendar, NewYearReloadsTheListOnce) {
  clock_.Set(2004, 12, 30, 16, 0, 0);  // a Thursday
  Settings("[MORVANE]\nSplitTime=09:30\n[2004]\nHoliday=12/31\n[2005]\nHoliday=01/03\n");
  InitialHolidayList();
  EXPECT_FALSE(IsHolidayToday());
  clock_.Set(2004, 12, 31, 9, 0, 0);
  EXPECT_TRUE(IsHolidayToday());

  // Edits after the start: the new year's list is read, the split time is not.
  Settings("[MORVANE]\nSplitTime=11:00\n[2005]\nHoliday=01/03,01/04\n");
  clock_.Set(2005, 1, 3, 9, 0, 0);  // a Monday
  std::vector<std::thread> threads;
  std::atomic<int> holidays{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      if (IsHolidayToday()) ++holidays;
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(holidays, 8);
  EXPECT_EQ(LogLines(), (Items{"Holiday File:", "Holiday List:12/31", "SplitTime:09:30",
                               "Holiday File:", "Holiday List:01/03,01/04"}));
  EXPECT_EQ(HolidayList(), (Items{"01/03", "01/04"}));
  EXPECT_EQ(SplitTime(), EncodeTime(9, 30, 0));

  // Within the year the list stays as loaded.
  Settings("[2005]\nHoliday=01/05\n");
  clock_.Set(2005, 1, 5, 9, 0, 0);
  EXPECT_FALSE(IsHolidayToday());
  EXPECT_EQ(LogLines().size(), 5u);
}

}  // namespace
}  // namespace morvane
