// Fuzzes morvane-server's reading of a request: the split of a request
// target into the decoded path handed to the extension and the raw query
// string, and the choice of a content coding from Accept-Encoding.
//
// Input: the target, then optionally a line end and an Accept-Encoding
// value.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "accept_encoding.h"
#include "http_request.h"

namespace {

using morvane::host::ChooseCoding;
using morvane::host::CodingName;
using morvane::host::CodingSettings;
using morvane::host::ContentCoding;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "request: %s\n", what);
    std::abort();
  }
}

void CheckTarget(std::string_view target) {
  std::string path, query;
  morvane::host::SplitTarget(target, &path, &query);
  // The extension reads the path as a C string: an escaped zero byte must
  // not cut it short.
  if (target.find('\0') == target.npos) Check(path.find('\0') == path.npos, "a zero byte in path");
  // Escapes only ever shorten the path, and the query is taken as sent.
  Check(path.size() + query.size() <= target.size(), "the split is longer than the target");
  Check(target.ends_with(query), "the query is not the end of the target");
  // A plain origin-form target splits without any change.
  if (target.starts_with('/') && target.find('%') == target.npos) {
    const std::string joined = target.find('?') == target.npos ? path : path + "?" + query;
    Check(joined == target, "a target without escapes does not split into itself");
  }
}

ContentCoding Choose(std::initializer_list<std::string_view> lines, const CodingSettings& s) {
  return ChooseCoding(std::span<const std::string_view>(lines.begin(), lines.size()), s);
}

void CheckAcceptEncoding(std::string_view value) {
  const CodingSettings both;
  const CodingSettings gzip_only{.zstd_level = 0, .gzip_level = 1};
  const CodingSettings none{.zstd_level = 0, .gzip_level = 0};
  const ContentCoding chosen = Choose({value}, both);
  // Only what is offered, and only what the client named (or "*").
  Check(Choose({value}, none) == ContentCoding::kIdentity, "a coding nobody offered");
  Check(Choose({value}, gzip_only) != ContentCoding::kZstd, "zstd while it is off");
  std::string lower(value);
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  if (chosen != ContentCoding::kIdentity) {
    Check(lower.find(CodingName(chosen)) != std::string::npos || lower.find('*') != lower.npos,
          "a coding the client did not name");
  }
  // Names and the weight's "q" ignore case.
  std::string upper(value);
  for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  Check(Choose({upper}, both) == chosen, "the choice depends on letter case");
  // A list split over two field lines is the same list.
  if (const size_t comma = value.find(','); comma != value.npos) {
    Check(Choose({value.substr(0, comma), value.substr(comma + 1)}, both) == chosen,
          "two field lines are not one list");
  }
  // Listing identity after everything never makes an unwanted coding win.
  if (chosen == ContentCoding::kIdentity) {
    const std::string more = std::string(value) + ", identity";
    Check(Choose({more}, both) == ContentCoding::kIdentity, "identity added, a coding chosen");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t line_end = input.find('\n');
  CheckTarget(input.substr(0, line_end));
  if (line_end != input.npos) CheckAcceptEncoding(input.substr(line_end + 1));
  return 0;
}
