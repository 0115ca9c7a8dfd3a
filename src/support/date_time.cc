#include "support/date_time.h"

#include <cmath>

#include "support/ascii_text.h"

namespace morvane {
namespace {

// Day number of 1899-12-30 counted from 1970-01-01.
constexpr int32_t kEpochOffset = 25569;

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromUnixCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

CivilDate UnixCivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

// Splits a value into whole days and milliseconds of the day, rounding the
// time to the nearest millisecond with carry into the day.
void Split(TDateTime v, int64_t* days, int64_t* ms) {
  double whole = std::trunc(v);
  double frac = std::fabs(v - whole);
  auto d = static_cast<int64_t>(whole);
  auto m = static_cast<int64_t>(std::llround(frac * static_cast<double>(kMsPerDay)));
  if (m >= kMsPerDay) {
    m -= kMsPerDay;
    // Carry forward in time: for negative days the next day is closer to zero.
    d += 1;
  }
  *days = d;
  *ms = m;
}

char* Two(char* out, int v) {
  out[0] = static_cast<char>('0' + (v / 10) % 10);
  out[1] = static_cast<char>('0' + v % 10);
  return out + 2;
}

char* Four(char* out, int v) {
  out[0] = static_cast<char>('0' + (v / 1000) % 10);
  out[1] = static_cast<char>('0' + (v / 100) % 10);
  out[2] = static_cast<char>('0' + (v / 10) % 10);
  out[3] = static_cast<char>('0' + v % 10);
  return out + 4;
}

char* Plain(char* out, int v) {
  if (v >= 10) return Two(out, v);
  *out = static_cast<char>('0' + v);
  return out + 1;
}

template <char* (*F)(char*, TDateTime)>
std::string AsString(TDateTime v) {
  char buf[32];
  char* end = F(buf, v);
  return std::string(buf, end);
}

// Reads 1..max_digits decimal digits at s[*pos]; false when there are none or
// too many.
bool ReadNumber(std::string_view s, size_t* pos, int max_digits, int* value) {
  size_t start = *pos;
  int v = 0;
  while (*pos < s.size() && s[*pos] >= '0' && s[*pos] <= '9') {
    if (static_cast<int>(*pos - start) == max_digits) return false;
    v = v * 10 + (s[*pos] - '0');
    ++*pos;
  }
  if (*pos == start) return false;
  *value = v;
  return true;
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int last = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  return day <= last;
}

int32_t DaysFromCivil(int year, int month, int day) {
  return static_cast<int32_t>(
      DaysFromUnixCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
      kEpochOffset);
}

CivilDate CivilFromDays(int32_t days) {
  return UnixCivilFromDays(int64_t{days} - kEpochOffset);
}

TDateTime EncodeDate(int year, int month, int day) {
  return DaysFromCivil(year, month, day);
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  const int64_t ms = ((int64_t{hour} * 60 + minute) * 60 + second) * 1000 + millisecond;
  return static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

TDateTime EncodeDateTime(const CivilDate& d, const CivilTime& t) {
  const TDateTime day = EncodeDate(d.year, d.month, d.day);
  const TDateTime time = EncodeTime(t.hour, t.minute, t.second, t.millisecond);
  return day < 0 ? day - time : day + time;
}

TDateTime DateOf(TDateTime v) {
  int64_t d, ms;
  Split(v, &d, &ms);
  return static_cast<double>(d);
}

TDateTime TimeOf(TDateTime v) {
  int64_t d, ms;
  Split(v, &d, &ms);
  return static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

CivilDate DecodeDate(TDateTime v) {
  int64_t d, ms;
  Split(v, &d, &ms);
  return CivilFromDays(static_cast<int32_t>(d));
}

namespace {

CivilTime TimeFromMs(int64_t ms) {
  CivilTime t;
  t.millisecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  t.second = static_cast<int>(ms % 60);
  ms /= 60;
  t.minute = static_cast<int>(ms % 60);
  t.hour = static_cast<int>(ms / 60);
  return t;
}

char* ShortDatePart(char* out, const CivilDate& d) {
  out = Four(out, d.year);
  *out++ = '/';
  out = Plain(out, d.month);
  *out++ = '/';
  return Plain(out, d.day);
}

char* HmsPart(char* out, const CivilTime& t) {
  out = Two(out, t.hour);
  *out++ = ':';
  out = Two(out, t.minute);
  *out++ = ':';
  return Two(out, t.second);
}

}  // namespace

CivilTime DecodeTime(TDateTime v) {
  int64_t d, ms;
  Split(v, &d, &ms);
  return TimeFromMs(ms);
}

int DayOfWeek(TDateTime v) {
  int64_t d, ms;
  Split(v, &d, &ms);
  // 1899-12-30 was a Saturday (7).
  int64_t r = (d + 6) % 7;
  if (r < 0) r += 7;
  return static_cast<int>(r) + 1;
}

TDateTime TruncateToSecond(TDateTime time_of_day) {
  const double s = std::floor(time_of_day * kSecondsPerDay + 1e-7);
  return s / kSecondsPerDay;
}

char* FormatYmdSlashed(char* out, TDateTime v) {
  const CivilDate d = DecodeDate(v);
  out = Four(out, d.year);
  *out++ = '/';
  out = Two(out, d.month);
  *out++ = '/';
  return Two(out, d.day);
}

char* FormatShortDate(char* out, TDateTime v) {
  return ShortDatePart(out, DecodeDate(v));
}

char* FormatHms(char* out, TDateTime v) {
  return HmsPart(out, DecodeTime(v));
}

char* FormatMdySlashed(char* out, TDateTime v) {
  const CivilDate d = DecodeDate(v);
  out = Two(out, d.month);
  *out++ = '/';
  out = Two(out, d.day);
  *out++ = '/';
  return Four(out, d.year);
}

char* FormatYymmdd(char* out, TDateTime v) {
  const CivilDate d = DecodeDate(v);
  out = Two(out, d.year % 100);
  out = Two(out, d.month);
  return Two(out, d.day);
}

char* FormatHhnnss(char* out, TDateTime v) {
  const CivilTime t = DecodeTime(v);
  out = Two(out, t.hour);
  out = Two(out, t.minute);
  return Two(out, t.second);
}

char* FormatMonthDay(char* out, TDateTime v) {
  const CivilDate d = DecodeDate(v);
  out = Two(out, d.month);
  *out++ = '/';
  return Two(out, d.day);
}

char* FormatShortDateTime(char* out, TDateTime v) {
  // One split serves both halves, so the time can never carry into a day
  // that the date half did not print.
  int64_t d, ms;
  Split(v, &d, &ms);
  out = ShortDatePart(out, CivilFromDays(static_cast<int32_t>(d)));
  if (ms == 0) return out;
  *out++ = ' ';
  return HmsPart(out, TimeFromMs(ms));
}

std::string YmdSlashed(TDateTime v) {
  return AsString<FormatYmdSlashed>(v);
}
std::string ShortDate(TDateTime v) {
  return AsString<FormatShortDate>(v);
}
std::string Hms(TDateTime v) {
  return AsString<FormatHms>(v);
}
std::string MdySlashed(TDateTime v) {
  return AsString<FormatMdySlashed>(v);
}
std::string Yymmdd(TDateTime v) {
  return AsString<FormatYymmdd>(v);
}
std::string Hhnnss(TDateTime v) {
  return AsString<FormatHhnnss>(v);
}
std::string MonthDay(TDateTime v) {
  return AsString<FormatMonthDay>(v);
}
std::string ShortDateTime(TDateTime v) {
  return AsString<FormatShortDateTime>(v);
}

std::string LogStamp(TDateTime v) {
  char buf[32];
  char* p = FormatYmdSlashed(buf, v);
  *p++ = ' ';
  p = FormatHms(p, v);
  *p++ = ' ';
  *p++ = '=';
  *p++ = '>';
  return std::string(buf, p);
}

std::optional<TDateTime> ParseShortDate(std::string_view text, TDateTime today) {
  const std::string_view s = TrimBlanks(text);
  size_t pos = 0;
  int y, m, d;
  const size_t year_start = pos;
  if (!ReadNumber(s, &pos, 4, &y)) return std::nullopt;
  const size_t year_digits = pos - year_start;
  if (pos >= s.size() || s[pos] != '/') return std::nullopt;
  ++pos;
  if (!ReadNumber(s, &pos, 2, &m)) return std::nullopt;
  if (pos >= s.size() || s[pos] != '/') return std::nullopt;
  ++pos;
  if (!ReadNumber(s, &pos, 2, &d)) return std::nullopt;
  if (pos != s.size()) return std::nullopt;
  if (year_digits <= 2) y += DecodeDate(today).year / 100 * 100;
  if (!IsValidDate(y, m, d)) return std::nullopt;
  return EncodeDate(y, m, d);
}

std::optional<TDateTime> ParseTimeOfDay(std::string_view text) {
  const std::string_view s = TrimBlanks(text);
  size_t pos = 0;
  int h, n, sec = 0, ms = 0;
  if (!ReadNumber(s, &pos, 2, &h)) return std::nullopt;
  if (pos >= s.size() || s[pos] != ':') return std::nullopt;
  ++pos;
  if (!ReadNumber(s, &pos, 2, &n)) return std::nullopt;
  if (pos < s.size() && s[pos] == ':') {
    ++pos;
    if (!ReadNumber(s, &pos, 2, &sec)) return std::nullopt;
    if (pos < s.size() && s[pos] == '.') {
      ++pos;
      const size_t start = pos;
      if (!ReadNumber(s, &pos, 3, &ms)) return std::nullopt;
      for (size_t k = pos - start; k < 3; ++k) ms *= 10;
    }
  }
  if (pos != s.size()) return std::nullopt;
  if (h > 23 || n > 59 || sec > 59) return std::nullopt;
  return EncodeTime(h, n, sec, ms);
}

std::optional<TDateTime> ParseIsoDateTime(std::string_view text) {
  const std::string_view s = TrimBlanks(text);
  if ((s.size() != 19 && (s.size() != 23 || s[19] != '.')) || s[4] != '-' || s[7] != '-' ||
      s[10] != ' ' || s[13] != ':' || s[16] != ':') {
    return std::nullopt;
  }
  auto num = [&](size_t at, size_t len, int* out) {
    size_t p = at;
    return ReadNumber(s.substr(0, at + len), &p, static_cast<int>(len), out) && p == at + len;
  };
  int y, mo, d, h, mi, se, ms = 0;
  if (!num(0, 4, &y) || !num(5, 2, &mo) || !num(8, 2, &d) || !num(11, 2, &h) || !num(14, 2, &mi) ||
      !num(17, 2, &se) || (s.size() == 23 && !num(20, 3, &ms))) {
    return std::nullopt;
  }
  if (!IsValidDate(y, mo, d) || h > 23 || mi > 59 || se > 59) return std::nullopt;
  return EncodeDateTime({y, mo, d}, {h, mi, se, ms});
}

}  // namespace morvane
