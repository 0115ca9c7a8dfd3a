// The order database's tables of finished bars: one per bar length, named
// "IntervalTable" followed by the length in seconds. The loader creates and
// fills them; the interval-table generator reads them. Both take the lengths
// and names from here.
#ifndef MORVANE_DATA_INTERVAL_TABLES_H_
#define MORVANE_DATA_INTERVAL_TABLES_H_

#include <array>
#include <string>

namespace morvane {

// The bar lengths, in seconds, of the interval tables, ascending.
inline constexpr std::array<int, 3> kIntervalLengths = {60, 180, 300};

inline bool IsIntervalTableLength(int seconds) {
  for (int s : kIntervalLengths) {
    if (s == seconds) return true;
  }
  return false;
}

// "IntervalTable60" and so on. Requires: IsIntervalTableLength(seconds).
inline std::string IntervalTableName(int seconds) {
  return "IntervalTable" + std::to_string(seconds);
}

}  // namespace morvane

#endif  // MORVANE_DATA_INTERVAL_TABLES_H_
