#include "coding_settings.h"

#include "support/ascii_text.h"

namespace morvane::host {

namespace {

bool ParseLevel(std::string_view text, int max, int* level) {
  if (text.empty() || text.size() > 2) return false;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < 1 || v > max) return false;
  *level = v;
  return true;
}

}  // namespace

bool ParseCodingSettings(std::string_view text, CodingSettings* out, std::string* error) {
  if (EqualsIgnoringCase(TrimBlanks(text), "off")) {
    *out = CodingSettings{.zstd_level = 0, .gzip_level = 0};
    return true;
  }
  CodingSettings parsed{.zstd_level = 0, .gzip_level = 0};
  const CodingSettings defaults;
  while (true) {
    const size_t comma = text.find(',');
    const std::string_view item = TrimBlanks(text.substr(0, comma));
    const size_t colon = item.find(':');
    const std::string_view name = item.substr(0, colon);
    const std::string_view level =
        colon == std::string_view::npos ? std::string_view() : item.substr(colon + 1);
    int* slot = nullptr;
    int max = 0;
    int fallback = 0;
    if (EqualsIgnoringCase(name, "zstd")) {
      slot = &parsed.zstd_level;
      max = CodingSettings::kMaxZstdLevel;
      fallback = defaults.zstd_level;
    } else if (EqualsIgnoringCase(name, "gzip")) {
      slot = &parsed.gzip_level;
      max = CodingSettings::kMaxGzipLevel;
      fallback = defaults.gzip_level;
    } else {
      *error = "unknown coding \"" + std::string(name) + "\" (zstd, gzip or off)";
      return false;
    }
    if (*slot != 0) {
      *error = "coding " + std::string(name) + " named twice";
      return false;
    }
    if (colon == std::string_view::npos) {
      *slot = fallback;
    } else if (!ParseLevel(level, max, slot)) {
      *error = std::string(name) + " level must be from 1 to " + std::to_string(max);
      return false;
    }
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  *out = parsed;
  return true;
}

}  // namespace morvane::host
