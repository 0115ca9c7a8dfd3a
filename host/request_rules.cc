#include "request_rules.h"

#include <boost/beast/core/string.hpp>

namespace morvane::host {

namespace http = boost::beast::http;

std::string HostPage(int status, std::string_view reason, std::string_view text) {
  std::string page = "HTTP/1.1 " + std::to_string(status) + " ";
  page.append(reason);
  page += "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(text.size() + 1) +
          "\r\nConnection: close\r\n\r\n";
  page.append(text);
  page += "\n";
  return page;
}

const char* HeadProblem(const http::request_header<>& head, size_t max_headers) {
  if (head.version() != 10 && head.version() != 11) return "Only HTTP/1.0 and HTTP/1.1 are served.";
  size_t lines = 0;
  for (auto it = head.begin(); it != head.end(); ++it) ++lines;
  if (lines > max_headers) return "The request has too many header lines.";
  if (head.count(http::field::content_length) > 1) {
    return "The request has two Content-Length headers.";
  }
  const auto te = head.find(http::field::transfer_encoding);
  if (te != head.end()) {
    if (head.version() == 10) return "An HTTP/1.0 request cannot use Transfer-Encoding.";
    if (!boost::beast::iequals(te->value(), "chunked")) {
      return "Only the chunked transfer coding is accepted.";
    }
  }
  return nullptr;
}

bool ExpectationMet(const http::request_header<>& head) {
  const auto expect = head.find(http::field::expect);
  if (expect == head.end()) return true;
  return boost::beast::iequals(expect->value(), "100-continue") && head.version() == 11;
}

const char* ParseProblem(const boost::system::error_code& ec) {
  if (ec == http::error::header_limit) return "The request head is too large.";
  if (ec == http::error::bad_content_length) {
    return "The request's Content-Length is invalid or contradicts another header.";
  }
  if (ec == http::error::bad_transfer_encoding) {
    return "The request's Transfer-Encoding is invalid or comes with a Content-Length.";
  }
  if (ec == http::error::bad_version) return "The request line's HTTP version is malformed.";
  if (ec == http::error::partial_message) return "The request head is incomplete.";
  return "The request head is malformed.";
}

}  // namespace morvane::host
