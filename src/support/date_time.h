// Date-time values and their text forms.
//
// A TDateTime is a double holding days since 1899-12-30, with the time of day
// as the fraction (one second is 1/86400). Every date and time in the system,
// in stores, parameters and records, is of this kind. Before 1899-12-30 the
// whole part counts days backwards while the fraction still counts the time of
// day forwards: -1.25 is 1899-12-29 06:00. This is the convention the stores'
// other software uses; converting through EncodeDateTime/DecodeDateTime keeps
// it.
//
// All functions here are pure and safe for concurrent use. The Format*
// functions that take a `char* out` write exactly the number of characters
// their pattern has (no terminating zero) and return the end pointer; they
// never allocate, so the record writers can use them on the hot path.
#ifndef MORVANE_SUPPORT_DATE_TIME_H_
#define MORVANE_SUPPORT_DATE_TIME_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

using TDateTime = double;

inline constexpr double kSecondsPerDay = 86400.0;
inline constexpr int64_t kMsPerDay = 86400000;

struct CivilDate {
  int year = 0;   // 1..9999
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  bool operator==(const CivilDate&) const = default;
};

struct CivilTime {
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  bool operator==(const CivilTime&) const = default;
};

// True for a real calendar date of years 1..9999 (proleptic Gregorian).
bool IsValidDate(int year, int month, int day);

// Days since 1899-12-30 of a valid date. Requires: IsValidDate.
int32_t DaysFromCivil(int year, int month, int day);
CivilDate CivilFromDays(int32_t days);

// Whole days plus time of day; the time is added away from zero for days
// before 1899-12-30 (see the file comment).
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond = 0);
TDateTime EncodeDateTime(const CivilDate& d, const CivilTime& t);

// The whole-day part and the time-of-day part. The time is rounded to the
// nearest millisecond; a rounding that reaches midnight carries into the next
// day, so DecodeDate and DecodeTime of one value always agree.
TDateTime DateOf(TDateTime v);
TDateTime TimeOf(TDateTime v);
CivilDate DecodeDate(TDateTime v);
CivilTime DecodeTime(TDateTime v);

// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime v);

// Time of day cut to whole seconds (the fraction of a second dropped).
TDateTime TruncateToSecond(TDateTime time_of_day);

// --- Formatting -------------------------------------------------------------
// Pattern letters: yyyy/yy year, mm/m month, dd/d day, hh hour, nn minute,
// ss second; two-letter fields are zero-padded.
char* FormatYmdSlashed(char* out, TDateTime v);  // "yyyy/mm/dd", 10 chars
char* FormatShortDate(char* out, TDateTime v);   // "yyyy/m/d", 8..10 chars
char* FormatHms(char* out, TDateTime v);         // "hh:nn:ss", 8 chars
char* FormatMdySlashed(char* out, TDateTime v);  // "mm/dd/yyyy", 10 chars
char* FormatYymmdd(char* out, TDateTime v);      // "yymmdd", 6 chars
char* FormatHhnnss(char* out, TDateTime v);      // "hhnnss", 6 chars
char* FormatMonthDay(char* out, TDateTime v);    // "mm/dd", 5 chars
// The date-time column's stored text form: the short date, then, when the time
// of day is not midnight, a blank and "hh:nn:ss".
char* FormatShortDateTime(char* out, TDateTime v);  // at most 19 chars

std::string YmdSlashed(TDateTime v);
std::string ShortDate(TDateTime v);
std::string Hms(TDateTime v);
std::string MdySlashed(TDateTime v);
std::string Yymmdd(TDateTime v);
std::string Hhnnss(TDateTime v);
std::string MonthDay(TDateTime v);
std::string ShortDateTime(TDateTime v);
// "yyyy/mm/dd hh:nn:ss =>", the prefix of log lines that carry a time.
std::string LogStamp(TDateTime v);

// --- Parsing ----------------------------------------------------------------
// A date in the short date format: year, month and day as numbers separated
// by "/", leading zeros optional, blanks around the text allowed. A year of one
// or two digits is taken in the century of `today` (a date-time). Impossible
// dates (month 13, 31 February) give nullopt.
std::optional<TDateTime> ParseShortDate(std::string_view text, TDateTime today);

// A time of day "h:n" or "h:n:s" (seconds may carry ".zzz" milliseconds) on a
// 24-hour clock, blanks around the text allowed. 24:00, minute 60 and second
// 60 give nullopt.
std::optional<TDateTime> ParseTimeOfDay(std::string_view text);

// "YYYY-MM-DD HH:MM:SS", optionally with ".mmm" milliseconds (the clock
// setting's form: a clock between two seconds is what a real one reads most
// of the time); nullopt when malformed.
std::optional<TDateTime> ParseIsoDateTime(std::string_view text);

}  // namespace morvane

#endif  // MORVANE_SUPPORT_DATE_TIME_H_
