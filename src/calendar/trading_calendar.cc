#include "calendar/trading_calendar.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <mutex>

#include "calendar/comma_text.h"
#include "support/ascii_text.h"
#include "support/clock.h"
#include "support/double_compare.h"
#include "support/error.h"
#include "support/log.h"
#include "support/settings_location.h"

namespace morvane {
namespace {

constexpr const char* kSection = "MORVANE";
constexpr TDateTime kDefaultSplitTime = 9.0 / 24.0;  // 09:00:00

// Everything is guarded by `lock`. Holding it while a year's list is read
// makes other request threads wait for that one read, once a year, rather
// than read a half-built list.
struct Calendar {
  std::mutex lock;
  bool loaded = false;  // the list exists
  int year = 0;         // the year the list was read for
  std::vector<std::string> holidays;
  TDateTime split_time = 0;
};

Calendar& State() {
  static Calendar calendar;
  return calendar;
}

int CurrentYear() {
  return DecodeDate(Today()).year;
}

std::string TrimControls(const std::string& s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') {
    ++b;
  }
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') {
    --e;
  }
  return s.substr(b, e - b);
}

// Reads the list of `year` in place of the one held, with HolidayFile taken
// from `settings` (nullptr: looked up afresh here). Requires: cal.lock.
void LoadHolidays(Calendar& cal, int year, const TIniFile* settings) {
  cal.year = year;
  cal.holidays.clear();
  try {
    const std::string section = HolidaySection(year);
    std::shared_ptr<const TIniFile> looked_up;
    if (settings == nullptr) {
      looked_up = omsIniFile();
      settings = looked_up.get();
    }
    const std::string holiday_file = settings->ReadString(kSection, "HolidayFile", "");
    LogLine("Holiday File:" + holiday_file);
    std::string value;
    if (holiday_file.empty()) {
      // The settings file itself, already open.
      value = settings->ReadString(section, "Holiday", "");
    } else {
      value = omsIniFile(holiday_file)->ReadString(section, "Holiday", "");
    }
    LogLine("Holiday List:" + value);
    cal.holidays = HolidayItems(value);
  } catch (const std::exception& e) {
    LogLine("InitialHolidayList:" + MessageOf(e));
  } catch (...) {
    LogLine("InitialHolidayList:unknown failure");
  }
}

// Requires: cal.lock.
void LoadSplitTime(Calendar& cal, const TIniFile& settings) {
  try {
    const std::string value = settings.ReadString(kSection, "SplitTime", "09:00:00");
    LogLine("SplitTime:" + value);
    const std::optional<TDateTime> t = ParseTimeOfDay(value);
    if (!t) {
      throw EConvertError("'" + value + "' is not a valid time");
    }
    cal.split_time = *t;
  } catch (const std::exception& e) {
    LogLine("InitialHolidayList 1:" + MessageOf(e));
    cal.split_time = kDefaultSplitTime;
  } catch (...) {
    LogLine("InitialHolidayList 1:unknown failure");
    cal.split_time = kDefaultSplitTime;
  }
}

}  // namespace

void InitialHolidayList(const TIniFile& settings) {
  Calendar& cal = State();
  const std::lock_guard guard(cal.lock);
  if (cal.loaded) {
    return;
  }
  cal.loaded = true;
  LoadHolidays(cal, CurrentYear(), &settings);
  LoadSplitTime(cal, settings);
}

void InitialHolidayList() {
  {
    Calendar& cal = State();
    const std::lock_guard guard(cal.lock);
    if (cal.loaded) {
      return;
    }
  }
  std::shared_ptr<const TIniFile> settings;
  std::string failure;
  try {
    settings = omsIniFile();
  } catch (const std::exception& e) {
    failure = MessageOf(e);
  } catch (...) {
    failure = "unknown failure";
  }
  if (settings) {
    InitialHolidayList(*settings);
    return;
  }
  // No settings to be had: both values keep their defaults, and each says so.
  Calendar& cal = State();
  const std::lock_guard guard(cal.lock);
  if (cal.loaded) {
    return;
  }
  cal.loaded = true;
  cal.year = CurrentYear();
  cal.holidays.clear();
  LogLine("InitialHolidayList:" + failure);
  LogLine("InitialHolidayList 1:" + failure);
  cal.split_time = kDefaultSplitTime;
}

bool IsHolidayToday() {
  const TDateTime today = Today();
  const int dow = DayOfWeek(today);
  const int year = DecodeDate(today).year;

  Calendar& cal = State();
  const std::lock_guard guard(cal.lock);
  if (cal.loaded && cal.year != year) {
    LoadHolidays(cal, year, nullptr);
  }
  if (dow == 1 || dow == 7) {
    return true;
  }
  return ListsDay(cal.holidays, today);
}

std::string HolidaySection(int year) {
  char section[16];
  std::snprintf(section, sizeof section, "%04d", year);
  return section;
}

std::vector<std::string> HolidayItems(const std::string& value) {
  return SplitCommaText(TrimControls(value));
}

bool ListsDay(const std::vector<std::string>& items, TDateTime day) {
  const std::string month_day = MonthDay(day);
  return std::ranges::any_of(
      items, [&](const std::string& item) { return EqualsIgnoringCase(item, month_day); });
}

bool IsAfterSplitTime() {
  const TDateTime now = TruncateToSecond(TimeOfDay());
  const TDateTime split = SplitTime();
  return now >= split || IsDoubleEqual(now, split);
}

TDateTime SplitTime() {
  Calendar& cal = State();
  const std::lock_guard guard(cal.lock);
  return cal.split_time;
}

std::vector<std::string> HolidayList() {
  Calendar& cal = State();
  const std::lock_guard guard(cal.lock);
  return cal.holidays;
}

void ResetCalendarForTesting() {
  Calendar& cal = State();
  const std::lock_guard guard(cal.lock);
  cal.loaded = false;
  cal.year = 0;
  cal.holidays.clear();
  cal.split_time = 0;
}

}  // namespace morvane
