#include "support/log_escape.h"

namespace morvane {

std::string LogEscape(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 32 || c == 127) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += ch;
    }
  }
  return out;
}

}  // namespace morvane
