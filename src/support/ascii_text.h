// Small helpers for the ASCII texts the system matches: setting and alias
// names, request field names, version selectors. Locale-free on purpose: a
// process locale must never change how "symbol" or "DRIVER" is matched.
#ifndef MORVANE_SUPPORT_ASCII_TEXT_H_
#define MORVANE_SUPPORT_ASCII_TEXT_H_

#include <cstddef>
#include <string_view>

namespace morvane {

constexpr char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when `a` and `b` differ at most in the case of ASCII letters.
constexpr bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// The value of hexadecimal digit `c` (either case), or -1.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = LowerAscii(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// `s` without leading and trailing blanks and tabs.
constexpr std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace morvane

#endif  // MORVANE_SUPPORT_ASCII_TEXT_H_
