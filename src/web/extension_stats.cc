#include "web/extension_stats.h"

#include <atomic>
#include <mutex>

#include "data/hist_data.h"
#include "support/error.h"

namespace morvane {
namespace {

struct Stats {
  std::atomic<uint64_t> daily_retries{0};
  // Errors are rare (a failing store fails a request, not a record), so a
  // lock is cheap here and keeps the list simple.
  std::mutex mu;
  std::vector<std::pair<std::string, uint64_t>> store_errors;
};

Stats& Process() {
  // Never destroyed: read by the host until the library is unloaded.
  static Stats* const stats = new Stats;
  return *stats;
}

// Every driver names the alias of a failure as "alias 'NAME'" in its
// message. Only the module's own aliases are looked for, so a label is
// never made of request text that a message may also carry.
std::string_view AliasNamedBy(const THistData& module, std::string_view message) {
  // A module whose private connection could not be opened has none to name.
  const std::string* names[] = {&module.HistDB.AliasName(), &module.HistSQLDB.AliasName(),
                                &module.PLRDB.AliasName(),
                                module.OrdDB ? &module.OrdDB->AliasName() : nullptr};
  for (const std::string* name : names) {
    if (name == nullptr || name->empty()) continue;
    const std::string pattern = "alias '" + *name + "'";
    if (message.find(pattern) != std::string_view::npos) return *name;
  }
  return kNoAlias;
}

}  // namespace

void CountDailyRetry() {
  Process().daily_retries.fetch_add(1, std::memory_order_relaxed);
}

uint64_t DailyRetries() {
  return Process().daily_retries.load(std::memory_order_relaxed);
}

void CountStoreError(const THistData& module, const std::exception& e) {
  if (dynamic_cast<const EDatabaseError*>(&e) == nullptr) return;
  CountStoreError(AliasNamedBy(module, e.what()));
}

void CountStoreError(std::string_view alias) {
  Stats& s = Process();
  std::lock_guard lock(s.mu);
  for (auto& [name, count] : s.store_errors) {
    if (name == alias) {
      ++count;
      return;
    }
  }
  s.store_errors.emplace_back(std::string(alias), 1);
}

std::vector<std::pair<std::string, uint64_t>> StoreErrors() {
  Stats& s = Process();
  std::lock_guard lock(s.mu);
  return s.store_errors;
}

}  // namespace morvane
