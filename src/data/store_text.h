// The text forms in which the stores hold dates and times, and their fast
// conversion. No locale is consulted and nothing allocates: these run for
// every date and time column of every row read.
//
// Stored forms: dates "YYYY-MM-DD", times "HH:MM:SS" or "HH:MM:SS.fff",
// date-times "YYYY-MM-DD HH:MM:SS[.fff]". On reading, "/" is accepted in place
// of "-", a "T" in place of the blank, one-digit months, days and hours, any
// number of fraction digits (rounded to the millisecond) and a trailing time
// zone ("+02", "Z"), which is ignored.
#ifndef MORVANE_DATA_STORE_TEXT_H_
#define MORVANE_DATA_STORE_TEXT_H_

#include <string_view>

#include "support/date_time.h"

namespace morvane::db {

// Parses a date, a time of day, or a date and time; false when `text` is
// none of these or names an impossible date or time.
bool ParseStoreDateTime(std::string_view text, TDateTime* out);

// Each writes its form at `out` (no terminating zero) and returns the end.
// The ".fff" part is written only when the milliseconds are not zero.
char* FormatStoreDate(char* out, TDateTime v);  // at most 10 chars
char* FormatStoreTime(char* out, TDateTime v);  // at most 12 chars
// The date alone for a whole day, the time alone for a value without a
// date part (a time of day), else the date, a blank and the time.
char* FormatStoreDateTime(char* out, TDateTime v);  // at most 23 chars

inline constexpr size_t kStoreTextMax = 24;

}  // namespace morvane::db

#endif  // MORVANE_DATA_STORE_TEXT_H_
