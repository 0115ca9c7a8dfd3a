// Choosing an answer's coding from Accept-Encoding, and the --compression
// option that says which codings are offered.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "accept_encoding.h"
#include "coding_settings.h"

namespace morvane::host {
namespace {

constexpr CodingSettings kBoth{};
constexpr CodingSettings kGzipOnly{.zstd_level = 0, .gzip_level = 1};
constexpr CodingSettings kNone{.zstd_level = 0, .gzip_level = 0};

TEST(AcceptEncoding, ChoosesTheCodingAsHttpDefinesIt) {
  struct Case {
    std::vector<std::string> lines;  // Accept-Encoding field lines, in order
    CodingSettings offered;
    const char* chosen;  // "" for identity
  };
  const Case cases[] = {
      {{}, kBoth, ""},  // a client that does not ask
      {{""}, kBoth, ""},
      {{" , ,"}, kBoth, ""},
      {{"identity"}, kBoth, ""},
      {{"gzip"}, kBoth, "gzip"},
      {{"zstd"}, kBoth, "zstd"},
      {{"gzip, deflate, br, zstd"}, kBoth, "zstd"},  // equal weights: zstd
      {{"gzip, deflate, br, zstd"}, kGzipOnly, "gzip"},
      {{"gzip, zstd"}, kNone, ""},
      {{"gzip;q=1, zstd;q=0.5"}, kBoth, "gzip"},
      {{"gzip ; q=0.5 ,zstd;q=0.501"}, kBoth, "zstd"},
      {{"GZIP;Q=0.9, ZsTd;q=0.8"}, kBoth, "gzip"},
      {{"x-gzip"}, kBoth, "gzip"},
      {{"zstd;q=0"}, kBoth, ""},
      {{"zstd;q=0.000, gzip;q=0.001"}, kBoth, "gzip"},
      {{"zstd;q=0, zstd;q=1"}, kBoth, "zstd"},  // named twice: the higher weight
      // identity and "*"
      {{"gzip;q=0.5, identity"}, kBoth, ""},
      {{"gzip;q=0.5"}, kBoth, "gzip"},  // identity unlisted comes last
      {{"gzip, identity"}, kBoth, "gzip"},
      {{"identity;q=0"}, kBoth, ""},  // nothing acceptable left: sent as it is
      {{"br, identity;q=0"}, kBoth, ""},
      {{"*"}, kBoth, "zstd"},
      {{"*"}, kGzipOnly, "gzip"},
      {{"*;q=0"}, kBoth, ""},
      {{"*;q=0, gzip"}, kBoth, "gzip"},
      {{"zstd;q=0, *"}, kBoth, "gzip"},
      {{"gzip;q=0.5, *;q=0.2"}, kBoth, "gzip"},
      {{"gzip;q=0.5, *;q=0.7"}, kBoth, "zstd"},
      {{"br, compress"}, kBoth, ""},  // unknown codings are skipped
      {{"br;q=1, gzip;q=0.1"}, kBoth, "gzip"},
      // several field lines are one list
      {{"gzip;q=0.2", "zstd;q=0.1"}, kBoth, "gzip"},
      {{"zstd;q=0", "", "zstd"}, kBoth, "zstd"},
      {{"identity;q=0", "gzip"}, kBoth, "gzip"},
      // a field that breaks the grammar counts as absent, in any line
      {{"gzip;q=2"}, kBoth, ""},
      {{"gzip;q=1.001"}, kBoth, ""},
      {{"gzip;q=0.1234"}, kBoth, ""},
      {{"gzip;q=.5"}, kBoth, ""},
      {{"gzip;q="}, kBoth, ""},
      {{"gzip;"}, kBoth, ""},
      {{"gzip;level=9"}, kBoth, ""},
      {{"gzip;q=0.5;q=0.5"}, kBoth, ""},
      {{"gzip q=0.5"}, kBoth, ""},
      {{"g\"zip\", zstd"}, kBoth, ""},
      {{";q=1"}, kBoth, ""},
      {{"zstd", "gzip;q=x"}, kBoth, ""},
      {{"\x01zstd"}, kBoth, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string_view> views(c.lines.begin(), c.lines.end());
    HttpRequest request;
    request.headers.emplace_back("Host", "x");
    for (const std::string& line : c.lines) request.headers.emplace_back("accept-encoding", line);
    std::string label;
    for (const std::string& line : c.lines) label += "[" + line + "]";
    EXPECT_EQ(CodingName(ChooseCoding(views, c.offered)), c.chosen) << label;
    EXPECT_EQ(CodingName(ChooseCoding(request, c.offered)), c.chosen) << label;
  }
}

TEST(CodingSettings, ReadsTheCompressionOption) {
  struct Case {
    const char* text;
    bool ok;
    int zstd;
    int gzip;
  };
  const Case cases[] = {
      {"zstd:1,gzip:1", true, 1, 1}, {"off", true, 0, 0},     {"OFF", true, 0, 0},
      {"zstd", true, 1, 0},          {"gzip:9", true, 0, 9},  {" gzip:6 , zstd:15 ", true, 15, 6},
      {"zstd:16", false, 7, 7},      {"gzip:0", false, 7, 7}, {"gzip:", false, 7, 7},
      {"zstd,zstd", false, 7, 7},    {"br", false, 7, 7},     {"", false, 7, 7},
      {"zstd,", false, 7, 7},
  };
  for (const Case& c : cases) {
    CodingSettings s{.zstd_level = 7, .gzip_level = 7};
    std::string error;
    EXPECT_EQ(ParseCodingSettings(c.text, &s, &error), c.ok) << c.text;
    EXPECT_EQ(s.zstd_level, c.zstd) << c.text;
    EXPECT_EQ(s.gzip_level, c.gzip) << c.text;
    EXPECT_EQ(error.empty(), c.ok) << c.text << ": " << error;
  }
}

}  // namespace
}  // namespace morvane::host
