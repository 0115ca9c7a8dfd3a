// The trading calendar: is today a non-trading day, and has the trading day
// reached its split time. Only the present moment on the process clock is
// ever looked at, never a requested date.
//
// Both answers rest on values read from the settings (section MORVANE) by
// InitialHolidayList, the first time it runs in the process:
//   HolidayFile  the holiday file's name, found like the settings file;
//                empty means the settings file itself;
//   SplitTime    a time of day, "09:00:00" by default and when not a time.
// The holiday file holds one section per year, named by its four digits,
// with one key Holiday listing that year's holidays as "mm/dd" items.
//
// The holiday list belongs to a year: the first call to IsHolidayToday on a
// day of another year than the loaded one reads the list of the new year
// once (logged like the first load), so a server running across New Year
// does not answer from last year's list. Edits to the holiday file within a
// year, and to SplitTime, still take effect at the next process start.
//
// All functions are safe for concurrent use.
#ifndef MORVANE_CALENDAR_TRADING_CALENDAR_H_
#define MORVANE_CALENDAR_TRADING_CALENDAR_H_

#include <string>
#include <vector>

#include "support/date_time.h"
#include "support/ini_file.h"

namespace morvane {

// Loads the holiday list of the current year and the split time, the first
// time it is called in the process; later calls return at once. Writes these
// log lines: "Holiday File:" + HolidayFile, "Holiday List:" + the year's
// value, "SplitTime:" + the SplitTime value; on a failure reading the holiday
// list "InitialHolidayList:" + the message (the list stays empty), on a
// failure reading or parsing the split time "InitialHolidayList 1:" + the
// message (09:00:00 is used). Never throws.
void InitialHolidayList();
// The same with HolidayFile and SplitTime (and, when HolidayFile is empty,
// the holiday list) read from `settings`, the settings file a module's
// creation has opened, so that one creation reads the file once.
void InitialHolidayList(const TIniFile& settings);

// True on Saturdays and Sundays, and on a day whose "mm/dd" text is an item
// of the holiday list (compared ignoring case; "1/1" never matches 01/01).
// Before InitialHolidayList only weekends are holidays.
bool IsHolidayToday();

// True when the time of day, cut to whole seconds, is at or after the split
// time (within 1e-8 day counts as at).
bool IsAfterSplitTime();

// The split time as a time of day; 0 before InitialHolidayList.
TDateTime SplitTime();

// A copy of the holiday list, in file order with duplicates; empty before
// InitialHolidayList.
std::vector<std::string> HolidayList();

// The pieces of the holiday file, for tools that lay out trading days as the
// calendar does: the section of `year` (its four digits), the items of a
// Holiday value (comma text, control characters around it dropped), and
// whether `day`'s "mm/dd" is one of `items` (ignoring case).
std::string HolidaySection(int year);
std::vector<std::string> HolidayItems(const std::string& value);
bool ListsDay(const std::vector<std::string>& items, TDateTime day);

// Forgets everything loaded, as at process start. For tests.
void ResetCalendarForTesting();

}  // namespace morvane

#endif  // MORVANE_CALENDAR_TRADING_CALENDAR_H_
