// Integer parsing of request fields and settings values.
#ifndef MORVANE_SUPPORT_INT_PARSE_H_
#define MORVANE_SUPPORT_INT_PARSE_H_

#include <cstdint>
#include <optional>
#include <string_view>

namespace morvane {

// Parses `text` as a signed 32-bit integer: optional leading blanks, an
// optional "+" or "-", then decimal digits; "$" or "0x"/"0X" in place of the
// digits' start selects hexadecimal digits. The whole text must be the number
// (no trailing characters) and the value must fit int32_t. Returns nullopt
// otherwise, including for an empty text.
std::optional<int32_t> ParseInt32(std::string_view text);

// ParseInt32, or `fallback` when the text is not such a number.
inline int32_t ParseInt32Or(std::string_view text, int32_t fallback) {
  auto v = ParseInt32(text);
  return v ? *v : fallback;
}

}  // namespace morvane

#endif  // MORVANE_SUPPORT_INT_PARSE_H_
