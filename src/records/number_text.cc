#include "records/number_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace morvane {

namespace {

// A finite nonzero double as decimal digits: value = 0.d1d2...dn x 10^point
// (so `point` is the number of integer digits when positive).
struct Decimal {
  bool negative = false;
  char digits[32];
  int count = 0;
  int point = 0;
};

// Splits to_chars' scientific text ("-d.ddde+XX") into a Decimal.
Decimal ToDecimal(double v, int precision /* significant digits, 0 = shortest */) {
  char text[64];
  std::to_chars_result r =
      precision > 0 ? std::to_chars(text, text + sizeof(text), v, std::chars_format::scientific,
                                    precision - 1)
                    : std::to_chars(text, text + sizeof(text), v, std::chars_format::scientific);
  Decimal d;
  const char* p = text;
  if (*p == '-') {
    d.negative = true;
    ++p;
  }
  for (; p < r.ptr && *p != 'e'; ++p) {
    if (*p != '.') d.digits[d.count++] = *p;
  }
  int exponent = 0;
  if (p < r.ptr) std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), r.ptr, exponent);
  d.point = exponent + 1;
  return d;
}

char* WriteSpecial(char* out, double v) {
  const char* text = std::isnan(v) ? "NAN" : (v < 0 ? "-INF" : "INF");
  const size_t n = std::strlen(text);
  std::memcpy(out, text, n);
  return out + n;
}

char* WriteZeros(char* out, int n) {
  for (int i = 0; i < n; ++i) *out++ = '0';
  return out;
}

}  // namespace

char* FormatInt(char* out, int64_t v) {
  return std::to_chars(out, out + 20, v).ptr;  // int64_t has at most 20 characters
}

char* FormatFixed(char* out, double v, int decimals) {
  if (!std::isfinite(v)) return WriteSpecial(out, v);
  if (decimals < 0) decimals = 0;
  if (decimals > kMaxFixedDecimals) decimals = kMaxFixedDecimals;

  Decimal d;
  if (v != 0) d = ToDecimal(v, 0);

  // Keep the digits down to the last decimal; the first digit dropped
  // decides the rounding, and since the shortest digits are the exact
  // decimal value, a 5 there is at least a half.
  const int keep = d.point + decimals;
  if (keep < d.count) {
    const bool up = keep >= 0 && d.digits[keep] >= '5';
    d.count = keep > 0 ? keep : 0;
    if (up) {
      int i = d.count - 1;
      while (i >= 0 && d.digits[i] == '9') --i;
      if (i >= 0) {
        ++d.digits[i];
        d.count = i + 1;
      } else {
        // All nines (or no digit kept): the carry makes a new leading 1.
        d.digits[0] = '1';
        d.count = 1;
        ++d.point;
      }
    }
  }
  // Trailing zeros of the kept digits are dropped so that "all zero" is
  // simply count 0; the output pads with zeros anyway.
  while (d.count > 0 && d.digits[d.count - 1] == '0') --d.count;

  if (d.negative && d.count > 0) *out++ = '-';
  auto digit = [&d](int i) { return (i >= 0 && i < d.count) ? d.digits[i] : '0'; };
  if (d.point <= 0) {
    *out++ = '0';
  } else {
    for (int i = 0; i < d.point; ++i) *out++ = digit(i);
  }
  if (decimals > 0) {
    *out++ = '.';
    for (int i = 0; i < decimals; ++i) *out++ = digit(d.point + i);
  }
  return out;
}

namespace {

// Writes |v| when it is a decimal m / 10^k with k <= 5 and |m| < 10^15 of
// which v is the nearest double; false (nothing written) otherwise. Such a
// decimal has at most 15 significant digits, and any decimal of at most 15
// significant digits comes back unchanged from its nearest double rounded
// to 15 digits (a double holds 15.95 decimal digits), so m's digits are
// exactly what the general conversion gives. The smallest such k leaves no
// trailing zero after the point; the magnitude lies between 0.00001 and
// 10^15, where the stored form never uses an exponent.
bool WriteShortDecimal(char*& out, double v) {
  static constexpr double kScale[] = {1, 10, 100, 1000, 10000, 100000};
  static constexpr int64_t kScaleInt[] = {1, 10, 100, 1000, 10000, 100000};
  const double a = std::fabs(v);
  for (int k = 0; k < 6; ++k) {
    const double scaled = a * kScale[k];
    if (!(scaled < 1e15)) return false;
    const auto m = static_cast<int64_t>(std::nearbyint(scaled));
    // The division is correctly rounded: it gives the double nearest to
    // m / 10^k, which must be v itself.
    if (m == 0 || static_cast<double>(m) / kScale[k] != a) continue;
    if (v < 0) *out++ = '-';
    out = std::to_chars(out, out + 20, m / kScaleInt[k]).ptr;
    if (k > 0) {
      *out++ = '.';
      int64_t fraction = m % kScaleInt[k];
      for (int i = k - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
      }
      out += k;
    }
    return true;
  }
  return false;
}

}  // namespace

char* FormatStoredFloat(char* out, double v) {
  if (std::isfinite(v) && v != 0 && WriteShortDecimal(out, v)) return out;
  return FormatStoredFloatGeneral(out, v);
}

char* FormatStoredFloatGeneral(char* out, double v) {
  if (!std::isfinite(v)) return WriteSpecial(out, v);
  if (v == 0) {
    *out++ = '0';
    return out;
  }
  Decimal d = ToDecimal(v, 15);
  while (d.count > 1 && d.digits[d.count - 1] == '0') --d.count;
  const int exponent = d.point - 1;

  if (d.negative) *out++ = '-';
  if (exponent < -5 || exponent >= 15) {
    *out++ = d.digits[0];
    if (d.count > 1) {
      *out++ = '.';
      std::memcpy(out, d.digits + 1, static_cast<size_t>(d.count - 1));
      out += d.count - 1;
    }
    *out++ = 'E';
    return std::to_chars(out, out + 8, exponent).ptr;
  }
  if (d.point <= 0) {
    *out++ = '0';
    *out++ = '.';
    out = WriteZeros(out, -d.point);
    std::memcpy(out, d.digits, static_cast<size_t>(d.count));
    return out + d.count;
  }
  if (d.count <= d.point) {
    std::memcpy(out, d.digits, static_cast<size_t>(d.count));
    return WriteZeros(out + d.count, d.point - d.count);
  }
  std::memcpy(out, d.digits, static_cast<size_t>(d.point));
  out += d.point;
  *out++ = '.';
  std::memcpy(out, d.digits + d.point, static_cast<size_t>(d.count - d.point));
  return out + (d.count - d.point);
}

}  // namespace morvane
