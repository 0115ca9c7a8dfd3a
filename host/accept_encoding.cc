#include "accept_encoding.h"

#include <algorithm>

#include "support/ascii_text.h"

namespace morvane::host {

namespace {

constexpr int kUnlisted = -1;

// Weights in thousandths, as listed; kUnlisted when a name is not.
struct Weights {
  int zstd = kUnlisted;
  int gzip = kUnlisted;
  int identity = kUnlisted;
  int any = kUnlisted;  // "*"
};

bool IsTokenChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// qvalue = ( "0" [ "." 0*3DIGIT ] ) / ( "1" [ "." 0*3("0") ] )
bool ParseQvalue(std::string_view text, int* thousandths) {
  if (text.empty() || (text[0] != '0' && text[0] != '1')) return false;
  int value = (text[0] - '0') * 1000;
  if (text.size() > 1) {
    if (text[1] != '.' || text.size() > 5) return false;
    int scale = 100;
    for (char c : text.substr(2)) {
      if (c < '0' || c > '9') return false;
      value += (c - '0') * scale;
      scale /= 10;
    }
  }
  if (value > 1000) return false;
  *thousandths = value;
  return true;
}

// One list element: a coding and its optional weight. False when it breaks
// the grammar; an empty element is allowed and adds nothing.
bool ParseElement(std::string_view element, Weights* w) {
  element = TrimBlanks(element);
  if (element.empty()) return true;
  const size_t semicolon = element.find(';');
  const std::string_view name = TrimBlanks(element.substr(0, semicolon));
  if (name.empty() || !std::all_of(name.begin(), name.end(), IsTokenChar)) return false;
  int q = 1000;
  if (semicolon != std::string_view::npos) {
    const std::string_view weight = TrimBlanks(element.substr(semicolon + 1));
    if (weight.size() < 2 || LowerAscii(weight[0]) != 'q' || weight[1] != '=') return false;
    if (!ParseQvalue(weight.substr(2), &q)) return false;
  }
  int* slot = nullptr;
  if (EqualsIgnoringCase(name, "zstd")) {
    slot = &w->zstd;
  } else if (EqualsIgnoringCase(name, "gzip") || EqualsIgnoringCase(name, "x-gzip")) {
    slot = &w->gzip;
  } else if (EqualsIgnoringCase(name, "identity")) {
    slot = &w->identity;
  } else if (name == "*") {
    slot = &w->any;
  }
  // A coding listed twice counts with its higher weight.
  if (slot != nullptr) *slot = std::max(*slot, q);
  return true;
}

// Adds one field line's elements; false when the line breaks the grammar.
bool AddLine(std::string_view line, Weights* w) {
  for (;;) {
    const size_t comma = line.find(',');
    if (!ParseElement(line.substr(0, comma), w)) return false;
    if (comma == std::string_view::npos) return true;
    line.remove_prefix(comma + 1);
  }
}

ContentCoding Choose(const Weights& w, const CodingSettings& offered) {
  const auto weight = [&](int listed) { return listed != kUnlisted ? listed : w.any; };
  const int zstd = offered.zstd_level > 0 ? weight(w.zstd) : kUnlisted;
  const int gzip = offered.gzip_level > 0 ? weight(w.gzip) : kUnlisted;
  const ContentCoding best = zstd >= gzip ? ContentCoding::kZstd : ContentCoding::kGzip;
  const int best_weight = std::max(zstd, gzip);
  if (best_weight <= 0) return ContentCoding::kIdentity;
  // Unlisted, identity is acceptable but comes after every listed coding.
  const int identity = weight(w.identity);
  return identity > best_weight ? ContentCoding::kIdentity : best;
}

}  // namespace

std::string_view CodingName(ContentCoding coding) {
  switch (coding) {
    case ContentCoding::kZstd:
      return "zstd";
    case ContentCoding::kGzip:
      return "gzip";
    case ContentCoding::kIdentity:
      break;
  }
  return "";
}

ContentCoding ChooseCoding(std::span<const std::string_view> field_lines,
                           const CodingSettings& offered) {
  Weights w;
  for (std::string_view line : field_lines) {
    if (!AddLine(line, &w)) return ContentCoding::kIdentity;
  }
  return Choose(w, offered);
}

ContentCoding ChooseCoding(const HttpRequest& request, const CodingSettings& offered) {
  if (!offered.AnyOffered()) return ContentCoding::kIdentity;
  Weights w;
  for (const auto& [name, value] : request.headers) {
    if (EqualsIgnoringCase(name, "Accept-Encoding") && !AddLine(value, &w)) {
      return ContentCoding::kIdentity;
    }
  }
  return Choose(w, offered);
}

}  // namespace morvane::host
