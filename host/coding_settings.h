// Which content codings the server offers its clients, and at what level
// (the --compression option).
//
// The option's text is "off", or a comma-separated list of codings, each
// with an optional level: "zstd:1,gzip:1" (the default). A coding left out
// of the list is not offered. Levels: zstd 1 to 15, gzip 1 to 9; the level
// is the one every answer in that coding is made with (clients cannot ask
// for another). Higher levels cost more processor time per byte for a
// smaller answer; memory per answer stays bounded at every level
// (docs/operations.md, "Compressed answers").
#ifndef MORVANE_HOST_CODING_SETTINGS_H_
#define MORVANE_HOST_CODING_SETTINGS_H_

#include <string>
#include <string_view>

namespace morvane::host {

struct CodingSettings {
  static constexpr int kMaxZstdLevel = 15;
  static constexpr int kMaxGzipLevel = 9;

  // 0: not offered.
  int zstd_level = 1;
  int gzip_level = 1;

  bool AnyOffered() const { return zstd_level > 0 || gzip_level > 0; }
};

// Reads the option's text into `out`. On failure returns false with a
// message for the operator in `error`, and leaves `out` as it was.
bool ParseCodingSettings(std::string_view text, CodingSettings* out, std::string* error);

}  // namespace morvane::host

#endif  // MORVANE_HOST_CODING_SETTINGS_H_
