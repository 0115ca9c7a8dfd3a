#include "web/field_list.h"

#include <string>

#include "support/ascii_text.h"
#include "support/error.h"

namespace morvane {

namespace {

[[noreturn]] void RaiseBadEscape(size_t position) {
  throw EConvertError("Malformed %XX escape in request field at position " +
                      std::to_string(position));
}

}  // namespace

int FieldList::IndexOfName(std::string_view name) const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    const std::string& entry = entries_[i];
    const size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;
    if (EqualsIgnoringCase(std::string_view(entry).substr(0, eq), name)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::string FieldList::Values(std::string_view name) const {
  const int i = IndexOfName(name);
  if (i < 0) return std::string();
  const std::string& entry = entries_[static_cast<size_t>(i)];
  return entry.substr(entry.find('=') + 1);
}

std::string HTTPDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c != '%') {
      out.push_back(c);
    } else if (i + 1 < text.size() && text[i + 1] == '%') {
      out.push_back('%');
      ++i;
    } else {
      // Both characters must be hexadecimal digits; a "%" too close to the
      // end has no decoding at all and is refused the same way.
      if (i + 2 >= text.size()) RaiseBadEscape(i);
      const int hi = HexDigitValue(text[i + 1]);
      const int lo = HexDigitValue(text[i + 2]);
      if (hi < 0 || lo < 0) RaiseBadEscape(i);
      out.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    }
  }
  return out;
}

void ExtractHeaderFields(std::string_view content, FieldList& fields) {
  size_t pos = 0;
  const size_t n = content.size();
  while (pos < n) {
    while (pos < n && (content[pos] == '\r' || content[pos] == '\n')) ++pos;
    const size_t head = pos;
    bool in_quote = false;
    while (pos < n) {
      const char c = content[pos];
      if (c == '"') {
        in_quote = !in_quote;
      } else if (!in_quote && (c == '&' || c == '\r' || c == '\n')) {
        break;
      }
      ++pos;
    }
    if (pos > head) fields.Add(HTTPDecode(content.substr(head, pos - head)));
    ++pos;  // past the separator (or the end)
  }
}

}  // namespace morvane
