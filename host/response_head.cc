#include "response_head.h"

#include <algorithm>

#include "support/ascii_text.h"

namespace morvane::host {

ResponseHead ResponseHead::Parse(const char* status_text, size_t status_len, const char* block,
                                 uint32_t fallback_status) {
  ResponseHead head;
  const std::string_view status(status_text ? std::string_view(status_text, status_len)
                                            : std::string_view("200 OK"));
  std::string_view reason;
  if (status.size() >= 3 &&
      std::all_of(status.begin(), status.begin() + 3,
                  [](char c) { return c >= '0' && c <= '9'; }) &&
      (status.size() == 3 || status[3] == ' ')) {
    head.status = (status[0] - '0') * 100 + (status[1] - '0') * 10 + (status[2] - '0');
    reason = status.size() > 4 ? status.substr(4) : std::string_view();
  } else {
    head.status =
        fallback_status >= 100 && fallback_status <= 999 ? static_cast<int>(fallback_status) : 200;
    reason = status;
  }
  if (head.status < 100) head.status = 200;
  head.reason.clear();
  for (char c : reason) head.reason.push_back(static_cast<unsigned char>(c) < 0x20 ? ' ' : c);

  std::string_view rest(block ? block : "");
  while (!rest.empty()) {
    const size_t end = rest.find("\r\n");
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
    if (line.empty()) break;  // the block's closing empty line
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || line.find_first_of("\r\n") != std::string_view::npos) {
      continue;  // not a header line; never let it through
    }
    const std::string_view name = TrimBlanks(line.substr(0, colon));
    if (EqualsIgnoringCase(name, "Transfer-Encoding") || EqualsIgnoringCase(name, "Connection")) {
      continue;
    }
    if (EqualsIgnoringCase(name, "Content-Length")) {
      const std::string_view v = TrimBlanks(line.substr(colon + 1));
      bool digits = !v.empty() && v.size() < 16;
      for (char c : v) digits = digits && c >= '0' && c <= '9';
      if (!digits || head.content_length >= 0) continue;
      long long n = 0;
      for (char c : v) n = n * 10 + (c - '0');
      head.content_length = n;
    }
    head.lines.append(line);
    head.lines += "\r\n";
  }
  return head;
}

bool ResponseHead::Has(std::string_view name) const {
  std::string_view rest(lines);
  while (!rest.empty()) {
    const size_t end = rest.find("\r\n");
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
    const size_t colon = line.find(':');
    if (EqualsIgnoringCase(TrimBlanks(line.substr(0, colon)), name)) return true;
  }
  return false;
}

void ResponseHead::Add(std::string_view name, std::string_view value) {
  lines.append(name);
  lines += ": ";
  lines.append(value);
  lines += "\r\n";
}

void ResponseHead::SetContentLength(size_t n) {
  Add("Content-Length", std::to_string(n));
  content_length = static_cast<long long>(n);
}

std::string ResponseHead::Serialize(int minor_version, bool chunked, bool closes) const {
  std::string out;
  out.reserve(32 + reason.size() + lines.size() + 32);
  out += minor_version == 0 ? "HTTP/1.0 " : "HTTP/1.1 ";
  out += std::to_string(status);
  out += ' ';
  out += reason;
  out += "\r\n";
  out += lines;
  if (chunked) out += "Transfer-Encoding: chunked\r\n";
  if (closes) out += "Connection: close\r\n";
  out += "\r\n";
  return out;
}

}  // namespace morvane::host
