#include "field_parse.h"

#include <charconv>
#include <cmath>

namespace morvane::load {
namespace {

bool Digits(std::string_view s, size_t pos, size_t n, int* value) {
  if (pos + n > s.size()) return false;
  int v = 0;
  for (size_t i = pos; i < pos + n; ++i) {
    char c = s[i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

// "HH:MM:SS[.f{1,3}]" starting at `pos` and running to the end of `s`.
std::optional<TDateTime> TimeAt(std::string_view s, size_t pos) {
  int h = 0, m = 0, sec = 0;
  if (!Digits(s, pos, 2, &h) || s.size() <= pos + 2 || s[pos + 2] != ':' ||
      !Digits(s, pos + 3, 2, &m) || s.size() <= pos + 5 || s[pos + 5] != ':' ||
      !Digits(s, pos + 6, 2, &sec)) {
    return std::nullopt;
  }
  if (h > 23 || m > 59 || sec > 59) return std::nullopt;
  int ms = 0;
  size_t end = pos + 8;
  if (end < s.size()) {
    if (s[end] != '.') return std::nullopt;
    size_t n = s.size() - end - 1;
    if (n < 1 || n > 3 || !Digits(s, end + 1, n, &ms)) return std::nullopt;
    for (size_t i = n; i < 3; ++i) ms *= 10;
  }
  return EncodeTime(h, m, sec, ms);
}

std::optional<TDateTime> DatePrefix(std::string_view s) {
  int y = 0, m = 0, d = 0;
  if (s.size() < 10 || !Digits(s, 0, 4, &y) || s[4] != '-' || !Digits(s, 5, 2, &m) || s[7] != '-' ||
      !Digits(s, 8, 2, &d) || !IsValidDate(y, m, d)) {
    return std::nullopt;
  }
  return EncodeDate(y, m, d);
}

}  // namespace

std::optional<TDateTime> ParseCsvDate(std::string_view s) {
  if (s.size() != 10) return std::nullopt;
  return DatePrefix(s);
}

std::optional<TDateTime> ParseCsvTime(std::string_view s) {
  return TimeAt(s, 0);
}

std::optional<TDateTime> ParseCsvDateTime(std::string_view s) {
  auto day = DatePrefix(s);
  if (!day || s.size() < 11 || s[10] != ' ') return std::nullopt;
  auto time = TimeAt(s, 11);
  if (!time) return std::nullopt;
  // Days before 1899-12-30 are negative while their time of day counts
  // forward; EncodeDateTime keeps that convention.
  return EncodeDateTime(DecodeDate(*day), DecodeTime(*time));
}

std::optional<double> ParseCsvNumber(std::string_view s) {
  // from_chars takes no '+' of its own (so "++1" fails) and reads "inf" and
  // "nan", which the finiteness test turns away.
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s.front() == '-') return std::nullopt;  // "+-5"
  }
  double v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<int64_t> ParseCsvInteger(std::string_view s) {
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s.front() == '-') return std::nullopt;  // "+-5"
  }
  int64_t v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return v;
}

}  // namespace morvane::load
