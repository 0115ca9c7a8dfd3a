#include "generators/minute_bars.h"

#include <cmath>

namespace morvane {

bool CheckTradeSession(const std::vector<MarketSession>& sessions, TDateTime x) {
  const TDateTime t = x - std::floor(x);
  for (const MarketSession& s : sessions) {
    if (s.open - t > kSessionTolerance) return false;
    if (t - s.close <= -kSessionTolerance) return true;
  }
  return false;
}

}  // namespace morvane
