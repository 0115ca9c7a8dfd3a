// The local clock.
//
// Every read of the local date and time in the system goes through Clock, so
// that tests (and replays of a past trading day) can fix "today" and "now".
// When the environment variable MORVANE_CLOCK holds "YYYY-MM-DD HH:MM:SS" the
// first time the clock is read, the process clock is frozen at that instant;
// otherwise it is the system's local time.
#ifndef MORVANE_SUPPORT_CLOCK_H_
#define MORVANE_SUPPORT_CLOCK_H_

#include "support/date_time.h"

namespace morvane {

class Clock {
 public:
  virtual ~Clock() = default;
  // The local date and time now. Safe for concurrent use.
  virtual TDateTime Now() const = 0;
};

// The system's local time, read with millisecond precision.
class SystemClock final : public Clock {
 public:
  TDateTime Now() const override;
};

// A clock that always answers the instant it was given.
class FrozenClock final : public Clock {
 public:
  explicit FrozenClock(TDateTime at) : at_(at) {}
  TDateTime Now() const override { return at_; }

 private:
  TDateTime at_;
};

// The process clock: a test's clock when one is installed, else the clock
// chosen from MORVANE_CLOCK at first use. Safe for concurrent use.
const Clock& ProcessClock();

// Installs `clock` (not owned; must outlive its use) as the process clock, or
// restores the default with nullptr. For tests.
void SetClockForTesting(const Clock* clock);

// Shorthands over ProcessClock().
TDateTime Now();
TDateTime Today();      // the whole-day part of Now()
TDateTime TimeOfDay();  // the time-of-day part of Now()

}  // namespace morvane

#endif  // MORVANE_SUPPORT_CLOCK_H_
