// The per-request settings: their defaults, and the on-only tick flag.
#include "web/request_settings.h"

#include <gtest/gtest.h>

#include <string>

#include "support/date_time.h"
#include "support/test_env.h"

namespace morvane {
namespace {

std::string Shown(const RequestSettings& s) {
  return Hms(s.nominal_update_timestamp) + " " + (s.execution_tick_only ? "Y" : "N") + " " +
         s.calc_mode + " " + s.db_mode;
}

TEST(RequestSettings, DefaultsAndAnOnOnlyTickFlagThatLowercaseYSwitchesOn) {
  testing::TempDir dir;
  const testing::ScopedCwd cwd(dir.path());
  const testing::ScopedEnv sysconf("MORVANE_SYSCONFDIR", (dir / "etc").c_str());
  const std::pair<const char*, const char*> cases[] = {
      {"[MORVANE]\n", "16:00:00 N DC PARADOX"},
      {"[MORVANE]\nExecutionTickOnly=n\nCalcMode=UW\nDBMode=SQL\n", "16:00:00 N UW SQL"},
      {"[MORVANE]\nExecutionTickOnly=yes\nNominalUpdateTimestamp=15:30\n", "15:30:00 Y DC PARADOX"},
      // Once on, it stays on for the rest of the process.
      {"[MORVANE]\nExecutionTickOnly=N\nCalcMode=\n", "16:00:00 Y  PARADOX"},
  };
  std::string got;
  std::string want;
  for (const auto& [settings, shown] : cases) {
    testing::WriteFile(dir / "oms.ini", settings);
    got += Shown(ReadRequestSettings()) + "\n";
    want += std::string(shown) + "\n";
  }
  EXPECT_EQ(got, want);
}

}  // namespace
}  // namespace morvane
