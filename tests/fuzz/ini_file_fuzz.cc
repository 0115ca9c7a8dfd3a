// Fuzzes the settings-file reader with arbitrary file contents: the reads
// the system makes (a key of MORVANE, whole sections) and the reader's
// promises about what comes back; then the trading calendar's reading of the
// same file (holiday list and split time).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "calendar/comma_text.h"
#include "calendar/trading_calendar.h"
#include "fuzz/fuzz_files.h"
#include "support/ini_file.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "settings file: %s\n", what);
    std::abort();
  }
}

// Section and key names the system reads, in the letter case of the file or
// not: look-ups ignore case.
constexpr std::string_view kSections[] = {"MORVANE", "morvane", "OMS_DATABASE", "2003", "", "x"};
// The default of the reads below; the checks never depend on it.
constexpr std::string_view kAbsent =
    "\x01"
    "absent";
constexpr std::string_view kKeys[] = {"MaxConnection", "DBUSER", "CalcMode", "Holiday", "", "k"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The calendar reads the section of the current year: 2003 here.
  setenv("MORVANE_CLOCK", "2003-03-12 10:45:12", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morvane;
  const auto path = fuzz::ScratchDir() / "oms.ini";
  fuzz::WriteBytes(path, data, size);
  const TIniFile ini(path.string());

  for (const std::string_view section : kSections) {
    for (const std::string_view key : kKeys) {
      const std::string value = ini.ReadString(section, key, kAbsent);
      Check(value.size() <= kMaxIniValueLength, "a value is longer than the cut");
      Check(value.find('\n') == value.npos, "a value runs over a line end");
    }
    // Every entry a section lists reads back, through its key, as listed.
    for (const std::string& entry : ini.ReadSectionValues(section)) {
      const size_t eq = entry.find('=');
      Check(eq != entry.npos && eq > 0, "a listed entry has no key");
      const std::string_view key = std::string_view(entry).substr(0, eq);
      Check(ini.ReadString(section, key, kAbsent) == entry.substr(eq + 1),
            "a listed entry does not read back through its key");
    }
  }

  // The holiday list of a year section, and the calendar loaded from this
  // file as the settings file (HolidayFile empty names the file itself).
  const std::vector<std::string> items = HolidayItems(ini.ReadString("2003", "Holiday", ""));
  const std::vector<std::string_view> views(items.begin(), items.end());
  Check(SplitCommaText(JoinCommaText(views)) == items, "comma text does not read back its items");
  // A holiday file of another name is looked for on disk and, when missing,
  // downloaded: not something to do per input.
  if (ini.ReadString("MORVANE", "HolidayFile", "").empty()) {
    ResetCalendarForTesting();
    InitialHolidayList(ini);
    Check(SplitTime() >= 0 && SplitTime() < 1, "the split time is outside the day");
  }
  return 0;
}
