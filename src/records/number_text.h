// The number forms of the answer's columns, written into a caller's buffer
// without allocating (they run once per column of every record).
//
// All functions are pure and safe for concurrent use. Each writes its text
// starting at `out` (no terminating zero) and returns the end pointer.
#ifndef MORVANE_RECORDS_NUMBER_TEXT_H_
#define MORVANE_RECORDS_NUMBER_TEXT_H_

#include <cstddef>
#include <cstdint>

namespace morvane {

// Room enough for any text below with at most kMaxFixedDecimals decimals:
// 309 integer digits of the largest double, sign, point and decimals.
inline constexpr int kMaxFixedDecimals = 15;
inline constexpr size_t kNumberTextCapacity = 340;

// "%d": decimal, a leading "-" when negative, no padding.
char* FormatInt(char* out, int64_t v);

// Fixed notation with exactly `decimals` decimals (0..kMaxFixedDecimals),
// "." as separator, no grouping: "%f" is decimals 2, "%0.*f" with 3 is
// decimals 3. Halves round away from zero on the value's shortest decimal
// form, the digits a reader of the store would see: 2.675 gives "2.68" and
// 1.005 gives "1.01" although their nearest doubles lie just below. A result
// that rounds to zero carries no sign ("0.00", never "-0.00"). Not-a-number
// and infinities are written "NAN", "INF" and "-INF".
char* FormatFixed(char* out, double v, int decimals);

// The stored text form of a floating-point column: the value rounded to 15
// significant digits, trailing zeros dropped, no decimal point for whole
// numbers ("12.5", "3", "0.3" for 0.1 + 0.2). Exponent form only when the
// decimal exponent is below -5 (magnitudes below 0.00001) or 15 and more
// (more than 15 integer digits), written as mantissa, "E" and the exponent
// with a "-" only when negative and no padding: "1E-6", "1.5E-7", "1E15".
// Zero is "0" (also negative zero); not-a-number and infinities as above.
//
// Most stored values are short decimals (prices with two decimals, whole
// sizes and volumes); those are written without the general 15-digit
// conversion, which dominated the cost of a tick record. The bytes are the
// same as FormatStoredFloatGeneral's for every value.
char* FormatStoredFloat(char* out, double v);
// The same text through the general conversion, for every value; kept for
// the test that compares the two.
char* FormatStoredFloatGeneral(char* out, double v);

}  // namespace morvane

#endif  // MORVANE_RECORDS_NUMBER_TEXT_H_
