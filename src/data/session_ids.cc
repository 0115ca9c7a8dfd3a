#include "data/session_ids.h"

#include <cstdio>
#include <mutex>

#include "support/clock.h"

namespace morvane {
namespace {

struct SessionCounter {
  std::mutex lock;                // SessionIDLock
  std::string prefix = "000000";  // guarded by lock
  int32_t counter = 100;          // guarded by lock
};

SessionCounter& Counter() {
  // Never destroyed: the prefix is emptied when the library is unloaded, by
  // a global object of another file whose destruction is not ordered with
  // this file's.
  static SessionCounter* const c = new SessionCounter;
  return *c;
}

thread_local std::string t_thread_session_id;

}  // namespace

void InitialSessionID() {
  SessionCounter& c = Counter();
  std::lock_guard<std::mutex> lock(c.lock);
  c.counter = 100;
  c.prefix = Hhnnss(TimeOfDay());
}

std::string GenNextSessionID() {
  SessionCounter& c = Counter();
  std::lock_guard<std::mutex> lock(c.lock);
  ++c.counter;
  char digits[16];
  std::snprintf(digits, sizeof digits, "%8.8X", static_cast<unsigned>(c.counter));
  return c.prefix + digits;
}

void ClearSessionPrefix() {
  SessionCounter& c = Counter();
  std::lock_guard<std::mutex> lock(c.lock);
  c.prefix.clear();
}

const std::string& ThreadSessionID() {
  return t_thread_session_id;
}

void SetThreadSessionID(const std::string& id) {
  t_thread_session_id = id.substr(0, 32);
}

}  // namespace morvane
