// Tolerant comparison of doubles, used for prices and date-time values.
#ifndef MORVANE_SUPPORT_DOUBLE_COMPARE_H_
#define MORVANE_SUPPORT_DOUBLE_COMPARE_H_

#include <cmath>

namespace morvane {

// The tolerance is 1e-8; on date-time values that is about 0.86 ms, well
// under the millisecond resolution that stores keep, so two times read from
// different stores compare equal when they name the same millisecond.
inline constexpr double kDoubleTolerance = 1e-8;

// True when |a - b| < 1e-8 (strictly less).
inline bool IsDoubleEqual(double a, double b) {
  return std::fabs(a - b) < kDoubleTolerance;
}

// 0 when IsDoubleEqual(a, b); otherwise 1 when a > b and -1 when a < b.
inline int CompareDouble(double a, double b) {
  if (IsDoubleEqual(a, b)) return 0;
  return a > b ? 1 : -1;
}

}  // namespace morvane

#endif  // MORVANE_SUPPORT_DOUBLE_COMPARE_H_
