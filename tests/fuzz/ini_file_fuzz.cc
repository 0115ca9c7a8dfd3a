// Fuzzes the settings-file reader with arbitrary file contents: the reads
// the system makes (a key of MORVANE, whole sections) and the reader's
// promises about what comes back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_files.h"
#include "support/ascii_text.h"
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
  return 0;
}
