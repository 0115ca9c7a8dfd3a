// Fuzzes the road from the raw text of a request (a query string or a form
// body) to its converted values: field splitting and %-decoding, look-up by
// name, the integer, date and time conversions and the pair rule. The input
// is the text a client sends; it is read both as a GET query string and as a
// POST body delivered in two parts.
//
// Besides running clean under the sanitizers, the conversions must agree with
// the text forms the answers print: a date or a time that parses prints back
// to a text that parses to the same value, and any bytes %-encoded decode to
// themselves.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "support/date_time.h"
#include "support/error.h"
#include "support/int_parse.h"
#include "web/field_list.h"
#include "web/history_params.h"
#include "web/web_request.h"

namespace morvane {
namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "request fields: %s\n", what);
    std::abort();
  }
}

// A body host: the first half of the body comes with the control block, the
// rest through ReadClient.
struct BodyHost {
  std::string body;
  std::string length;
  size_t read = 0;
  size_t up_front = 0;

  static HSE_BOOL Variable(HCONN conn, const char* name, void* buffer, uint32_t* size) {
    const auto* self = static_cast<BodyHost*>(conn);
    if (std::strcmp(name, "CONTENT_LENGTH") != 0 || *size < self->length.size() + 1) {
      *size = 0;
      return 0;
    }
    std::memcpy(buffer, self->length.c_str(), self->length.size() + 1);
    *size = static_cast<uint32_t>(self->length.size() + 1);
    return 1;
  }
  static HSE_BOOL Read(HCONN conn, void* buffer, uint32_t* size) {
    auto* self = static_cast<BodyHost*>(conn);
    const size_t from = self->up_front + self->read;
    const size_t n = std::min<size_t>(*size, self->body.size() - from);
    std::memcpy(buffer, self->body.data() + from, n);
    self->read += n;
    *size = static_cast<uint32_t>(n);
    return 1;
  }
};

// What the extension reads for "dateStart" must print back to itself.
void CheckDate(std::string_view text, TDateTime today) {
  const auto d = ParseShortDate(text, today);
  if (!d) return;
  Check(*d == DateOf(*d), "a parsed date carries a time of day");
  const auto again = ParseShortDate(ShortDate(*d), today);
  Check(again && *again == *d, "a parsed date does not survive its printed form");
}

void CheckTime(std::string_view text) {
  const auto t = ParseTimeOfDay(text);
  if (!t) return;
  Check(*t >= 0 && *t < 1, "a parsed time of day is outside the day");
  const auto again = ParseTimeOfDay(Hms(*t));
  Check(again && Hms(*again) == Hms(*t), "a parsed time does not survive its printed form");
}

// Plain decimal texts (blanks, a sign, at most 18 digits) against a 64-bit
// conversion: they parse exactly when the value fits 32 bits.
void CheckInt(std::string_view text) {
  const auto v = ParseInt32(text);
  std::string_view s = text;
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || s.size() > 18 || s.find_first_not_of("0123456789") != s.npos) return;
  int64_t model = 0;
  std::from_chars(s.data(), s.data() + s.size(), model);
  if (negative) model = -model;
  const bool fits = model >= INT32_MIN && model <= INT32_MAX;
  Check(v.has_value() == fits, "a decimal text parses as an int32 exactly when it fits");
  Check(!v || *v == model, "a decimal text parses to its value");
}

void CheckEscapes(std::string_view raw) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : raw) {
    const auto b = static_cast<unsigned char>(c);
    encoded += '%';
    encoded += kHex[b >> 4];
    encoded += kHex[b & 15];
  }
  Check(HTTPDecode(encoded) == raw, "%-encoded bytes do not decode to themselves");
}

void ConvertFields(const FieldList& fields, TDateTime today) {
  for (const char* calc_mode : {"DC", "UW"}) {
    RequestSettings settings;
    settings.calc_mode = calc_mode;
    HistoryParams params;
    std::string_view error_record;
    ParseHistoryParams([&](std::string_view name) { return fields.Values(name); }, settings, today,
                       &params, &error_record);
  }
  for (size_t i = 0; i < fields.Count(); ++i) {
    const std::string& entry = fields[i];
    const std::string_view value = entry.find('=') == entry.npos
                                       ? std::string_view(entry)
                                       : std::string_view(entry).substr(entry.find('=') + 1);
    CheckDate(value, today);
    CheckTime(value);
    CheckInt(value);
  }
}

}  // namespace
}  // namespace morvane

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morvane;
  const std::string text(reinterpret_cast<const char*>(data), size);
  // A date in the 2000s and one in the last century: two-digit years take
  // the century of "today".
  const TDateTime today = size % 2 ? EncodeDate(2003, 3, 12) : EncodeDate(1999, 12, 31);

  CheckEscapes(text.substr(0, 64));

  BodyHost host;
  host.body = text;
  host.length = std::to_string(size);
  host.up_front = size / 2;
  EXTENSION_CONTROL_BLOCK ecb{};
  ecb.cbSize = sizeof(ecb);
  ecb.ConnID = &host;
  ecb.lpszMethod = "POST";
  ecb.lpszQueryString = text.c_str();
  ecb.lpszPathInfo = "/";
  ecb.lpszContentType = "application/x-www-form-urlencoded";
  ecb.cbTotalBytes = static_cast<uint32_t>(size);
  ecb.cbAvailable = static_cast<uint32_t>(host.up_front);
  ecb.lpbData = data;
  ecb.GetServerVariable = &BodyHost::Variable;
  ecb.ReadClient = &BodyHost::Read;

  TWebRequest request(&ecb);
  Check(request.Content() == text, "the body read is not the body sent");
  for (const bool body : {false, true}) {
    try {
      ConvertFields(body ? request.GetContentFields() : request.GetQueryFields(), today);
    } catch (const EConvertError&) {
      // A malformed escape: the handler answers it like any conversion error.
    }
  }
  return 0;
}
