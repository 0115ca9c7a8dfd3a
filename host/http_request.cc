#include "http_request.h"

#include "support/ascii_text.h"

namespace morvane::host {

const std::string* HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoringCase(key, name)) return &value;
  }
  return nullptr;
}

void SplitTarget(std::string_view target, std::string* path, std::string* query) {
  if (const size_t scheme = target.find("://");
      scheme != std::string_view::npos && target.front() != '/') {
    const size_t slash = target.find('/', scheme + 3);
    target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
  }
  const size_t mark = target.find('?');
  const std::string_view raw_path = target.substr(0, mark);
  query->assign(mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1));
  path->clear();
  for (size_t i = 0; i < raw_path.size(); ++i) {
    const char c = raw_path[i];
    const int hi = c == '%' && i + 2 < raw_path.size() ? HexDigitValue(raw_path[i + 1]) : -1;
    const int lo = hi >= 0 ? HexDigitValue(raw_path[i + 2]) : -1;
    // A decoded NUL would cut the path short for the extension, which
    // reads it as a C string: it stays escaped.
    if (lo >= 0 && (hi | lo) != 0) {
      path->push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    } else {
      path->push_back(c);
    }
  }
}

}  // namespace morvane::host
