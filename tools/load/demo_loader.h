// `morvane-load demo`: the demo market written into every store.
#ifndef MORVANE_TOOLS_LOAD_DEMO_LOADER_H_
#define MORVANE_TOOLS_LOAD_DEMO_LOADER_H_

#include <cstdint>
#include <string>

#include "demo_market.h"
#include "stores.h"

namespace morvane::load {

struct DemoCounts {
  int64_t ticks = 0, names = 0, daily = 0, base_bars = 0, sessions = 0, symbols = 0, intervals = 0;
};

// Holidays as the trading calendar reads them: MORVANE/HolidayFile names the
// holiday file (empty: the settings file itself), whose section named by the
// four-digit year lists the year's "mm/dd" items under Holiday. Read per
// year on first need; a file that cannot be read gives no holidays.
std::function<bool(TDateTime)> SettingsHolidays();

// Generates the market of `options` and writes it into the stores named by
// AliasFor (each role's alias, or `override_alias` for all). The rows of the
// demo's products that earlier runs left in those tables are replaced; other
// products' rows stay. All stores are written in one transaction each and
// committed together at the end; on an error every store is rolled back.
// The stores must have been initialised (`init`).
DemoCounts LoadDemo(const DemoOptions& options, const std::string& override_alias);

}  // namespace morvane::load

#endif  // MORVANE_TOOLS_LOAD_DEMO_LOADER_H_
