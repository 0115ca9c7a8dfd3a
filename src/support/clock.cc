#include "support/clock.h"

#include <atomic>
#include <cstdlib>
#include <ctime>

namespace morvane {
namespace {

std::atomic<const Clock*> g_test_clock{nullptr};

const Clock& DefaultClock() {
  // Chosen once, the first time any thread reads the clock; static
  // initialisation makes the choice thread-safe.
  static const Clock* const clock = []() -> const Clock* {
    if (const char* env = std::getenv("MORVANE_CLOCK"); env != nullptr && *env != '\0') {
      if (auto at = ParseIsoDateTime(env)) return new FrozenClock(*at);
    }
    return new SystemClock();
  }();
  return *clock;
}

}  // namespace

TDateTime SystemClock::Now() const {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  return EncodeDateTime(
      {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday},
      {local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ts.tv_nsec / 1000000)});
}

const Clock& ProcessClock() {
  if (const Clock* c = g_test_clock.load(std::memory_order_acquire)) return *c;
  return DefaultClock();
}

void SetClockForTesting(const Clock* clock) {
  g_test_clock.store(clock, std::memory_order_release);
}

TDateTime Now() {
  return ProcessClock().Now();
}
TDateTime Today() {
  return DateOf(Now());
}
TDateTime TimeOfDay() {
  return TimeOf(Now());
}

}  // namespace morvane
