#include "data/session_ids.h"

#include <cstdio>
#include <mutex>

#include "support/clock.h"

namespace morvane {
namespace {

std::mutex g_session_id_lock;
std::string g_session_prefix = "000000";  // guarded by g_session_id_lock
int32_t g_session_counter = 100;          // guarded by g_session_id_lock
thread_local std::string t_thread_session_id;

}  // namespace

void InitialSessionID() {
  std::lock_guard<std::mutex> lock(g_session_id_lock);
  g_session_counter = 100;
  g_session_prefix = Hhnnss(TimeOfDay());
}

std::string GenNextSessionID() {
  std::lock_guard<std::mutex> lock(g_session_id_lock);
  ++g_session_counter;
  char digits[16];
  std::snprintf(digits, sizeof digits, "%8.8X", static_cast<unsigned>(g_session_counter));
  return g_session_prefix + digits;
}

const std::string& ThreadSessionID() {
  return t_thread_session_id;
}

void SetThreadSessionID(const std::string& id) {
  t_thread_session_id = id.substr(0, 32);
}

}  // namespace morvane
