#include "data/store_text.h"

#include <cmath>

namespace morvane::db {
namespace {

// Reads between `min` and `max` digits at s[*i]; false when fewer are there.
bool Digits(std::string_view s, size_t* i, int min, int max, int* value) {
  int v = 0;
  int n = 0;
  while (*i < s.size() && n < max && s[*i] >= '0' && s[*i] <= '9') {
    v = v * 10 + (s[*i] - '0');
    ++*i;
    ++n;
  }
  *value = v;
  return n >= min;
}

bool ParseDatePart(std::string_view s, size_t* i, TDateTime* out) {
  int y = 0, m = 0, d = 0;
  if (!Digits(s, i, 4, 4, &y)) return false;
  if (*i >= s.size() || (s[*i] != '-' && s[*i] != '/')) return false;
  const char sep = s[(*i)++];
  if (!Digits(s, i, 1, 2, &m)) return false;
  if (*i >= s.size() || s[(*i)++] != sep) return false;
  if (!Digits(s, i, 1, 2, &d)) return false;
  if (!IsValidDate(y, m, d)) return false;
  *out = DaysFromCivil(y, m, d);
  return true;
}

bool ParseTimePart(std::string_view s, size_t* i, TDateTime* out) {
  int h = 0, n = 0, sec = 0;
  if (!Digits(s, i, 1, 2, &h)) return false;
  if (*i >= s.size() || s[(*i)++] != ':') return false;
  if (!Digits(s, i, 2, 2, &n)) return false;
  double ms = 0;
  if (*i < s.size() && s[*i] == ':') {
    ++*i;
    if (!Digits(s, i, 2, 2, &sec)) return false;
    if (*i < s.size() && s[*i] == '.') {
      ++*i;
      double scale = 100;
      while (*i < s.size() && s[*i] >= '0' && s[*i] <= '9') {
        ms += (s[*i] - '0') * scale;
        scale /= 10;
        ++*i;
      }
    }
  }
  if (h > 23 || n > 59 || sec > 59) return false;
  const double total_ms = ((h * 60.0 + n) * 60.0 + sec) * 1000.0 + std::round(ms);
  *out = total_ms / static_cast<double>(kMsPerDay);
  return true;
}

// A trailing time zone of a PostgreSQL timestamptz, or nothing.
bool OnlyZoneLeft(std::string_view s, size_t i) {
  if (i == s.size()) return true;
  if (s[i] == 'Z' && i + 1 == s.size()) return true;
  if (s[i] != '+' && s[i] != '-') return false;
  for (++i; i < s.size(); ++i) {
    if (!((s[i] >= '0' && s[i] <= '9') || s[i] == ':')) return false;
  }
  return true;
}

char* Two(char* out, int v) {
  out[0] = static_cast<char>('0' + v / 10);
  out[1] = static_cast<char>('0' + v % 10);
  return out + 2;
}

}  // namespace

bool ParseStoreDateTime(std::string_view text, TDateTime* out) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  // A date starts with four digits then a separator; a time has ':' within
  // its first three characters.
  const bool is_time = text.find(':', i) != std::string_view::npos && text.find(':', i) <= i + 2;
  TDateTime date = 0, time = 0;
  if (is_time) {
    if (!ParseTimePart(text, &i, &time)) return false;
    if (!OnlyZoneLeft(text, i)) return false;
    *out = time;
    return true;
  }
  if (!ParseDatePart(text, &i, &date)) return false;
  if (i < text.size() && (text[i] == ' ' || text[i] == 'T')) {
    ++i;
    if (!ParseTimePart(text, &i, &time)) return false;
  }
  if (!OnlyZoneLeft(text, i)) return false;
  // Before 1899-12-30 the time of day still counts forwards (date_time.h).
  *out = date < 0 ? date - time : date + time;
  return true;
}

char* FormatStoreDate(char* out, TDateTime v) {
  const CivilDate d = DecodeDate(v);
  int y = d.year;
  for (int k = 3; k >= 0; --k) {
    out[k] = static_cast<char>('0' + y % 10);
    y /= 10;
  }
  out[4] = '-';
  Two(out + 5, d.month);
  out[7] = '-';
  return Two(out + 8, d.day);
}

char* FormatStoreTime(char* out, TDateTime v) {
  const CivilTime t = DecodeTime(v);
  out = Two(out, t.hour);
  *out++ = ':';
  out = Two(out, t.minute);
  *out++ = ':';
  out = Two(out, t.second);
  if (t.millisecond != 0) {
    *out++ = '.';
    *out++ = static_cast<char>('0' + t.millisecond / 100);
    out = Two(out, t.millisecond % 100);
  }
  return out;
}

char* FormatStoreDateTime(char* out, TDateTime v) {
  // A value without a date part is a time of day (1899-12-30 is never a
  // trading day), and a value without a time part is a day.
  const bool has_date = DateOf(v) != 0;
  const bool has_time = DecodeTime(v) != CivilTime{};
  if (!has_date && has_time) return FormatStoreTime(out, v);
  out = FormatStoreDate(out, v);
  if (!has_time) return out;
  *out++ = ' ';
  return FormatStoreTime(out, v);
}

}  // namespace morvane::db
