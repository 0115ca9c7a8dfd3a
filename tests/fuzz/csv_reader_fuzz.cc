// Fuzzes the loader's CSV reading: arbitrary file contents read as the kind
// of file whose columns the header names (in any order), every field then
// converted by the loader's value parsers. A file either reads to its end or
// raises LoadError; a value that converts prints back to its own text.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "csv_reader.h"
#include "field_parse.h"
#include "fuzz/fuzz_files.h"
#include "support/date_time.h"

namespace {

using namespace morvane;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "loader CSV: %s\n", what);
    std::abort();
  }
}

// "yyyy/mm/dd" as the CSV spells it, "yyyy-mm-dd".
std::string CsvDate(TDateTime v) {
  std::string s = YmdSlashed(v);
  for (char& c : s) c = c == '/' ? '-' : c;
  return s;
}

void ConvertField(std::string_view s) {
  if (const auto d = load::ParseCsvDate(s)) {
    Check(CsvDate(*d) == s, "a date does not print back to its text");
  }
  if (const auto t = load::ParseCsvTime(s)) {
    Check(*t >= 0 && *t < 1, "a time of day is outside the day");
    Check(Hms(*t) == s.substr(0, 8), "a time does not print back to its text");
  }
  if (const auto dt = load::ParseCsvDateTime(s)) {
    Check(CsvDate(*dt) == s.substr(0, 10) && Hms(*dt) == s.substr(11, 8),
          "a date-time does not print back to its text");
  }
  if (const auto n = load::ParseCsvNumber(s)) Check(std::isfinite(*n), "a number is not finite");
  load::ParseCsvInteger(s);
}

// The columns of each kind of file the loader reads (tools/load/loaders.h).
const std::vector<std::string_view> kFileKinds[] = {
    {"Date", "Time", "Symbol", "Bid", "Offer", "Price", "BidSize", "Volume", "OfferSize"},
    {"Stock_code", "name_e", "name_c"},
    {"c_date", "stock_code", "high", "low", "closing", "shares_traded", "turnover"},
    {"Symbol", "TimeBegin", "Duration", "SeqNo", "PriceOpen", "PriceHigh", "PriceLow", "PriceClose",
     "Volume"},
    {"Symbol", "TimeOpen", "TimeClose"},
    {"symbol", "isValid"},
    {"Symbol", "Date", "Time", "Open", "High", "Low", "Close", "Volume"},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto path = fuzz::ScratchDir() / "load.csv";
  fuzz::WriteBytes(path, data, size);
  // The file is read as the kind whose header it has; a header of no kind
  // is refused by every one.
  for (const std::vector<std::string_view>& columns : kFileKinds) {
    try {
      load::CsvReader reader(path.string());
      try {
        reader.ReadHeader(columns);
      } catch (const load::LoadError&) {
        continue;
      }
      int64_t last_line = 1;
      while (reader.Next()) {
        Check(reader.Line() > last_line, "records do not advance through the file");
        last_line = reader.Line();
        for (size_t i = 0; i < columns.size(); ++i) {
          const load::CsvField& f = reader.Field(i);
          Check(!f.null || f.text.empty(), "a null field has text");
          ConvertField(f.text);
        }
      }
    } catch (const load::LoadError&) {
      // A malformed file: the loader reports it and loads nothing.
    }
    break;
  }
  return 0;
}
