// Fuzzes morvane-server's split of a request target into the decoded path
// handed to the extension and the raw query string.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "http_request.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "request target: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view target(reinterpret_cast<const char*>(data), size);
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
  return 0;
}
