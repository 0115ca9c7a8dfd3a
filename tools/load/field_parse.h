// Strict, locale-free parsing of the loader's CSV values.
//
// The CSV forms are fixed (the loader's input is an interface, not a guess):
//   date       "YYYY-MM-DD"
//   time       "HH:MM:SS" or "HH:MM:SS.f" with one to three fraction digits
//   date-time  "YYYY-MM-DD HH:MM:SS" (optionally with the fraction as above)
//   numbers    decimal, optional sign, fraction and exponent ("1.5", "-2e3")
//   integers   decimal, optional sign
// Blanks are not trimmed: " 12" is not a number. All functions are pure and
// safe for concurrent use; none allocates.
#ifndef MORVANE_TOOLS_LOAD_FIELD_PARSE_H_
#define MORVANE_TOOLS_LOAD_FIELD_PARSE_H_

#include <cstdint>
#include <optional>
#include <string_view>

#include "support/date_time.h"

namespace morvane::load {

std::optional<TDateTime> ParseCsvDate(std::string_view s);      // whole day
std::optional<TDateTime> ParseCsvTime(std::string_view s);      // time of day
std::optional<TDateTime> ParseCsvDateTime(std::string_view s);  // both
std::optional<double> ParseCsvNumber(std::string_view s);       // finite only
std::optional<int64_t> ParseCsvInteger(std::string_view s);

}  // namespace morvane::load

#endif  // MORVANE_TOOLS_LOAD_FIELD_PARSE_H_
