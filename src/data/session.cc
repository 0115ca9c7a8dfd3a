// TSession: the process-wide registry of engine sessions by name.
#include <algorithm>
#include <map>
#include <mutex>
#include <set>

#include "data/engine.h"

namespace morvane::db {
namespace {

constexpr std::string_view kAutoPrefix = "HistSession_";

}  // namespace

// Every live session, by name; sessions made by OpenSession are owned here
// and live until the process ends (the engine keeps named sessions open).
struct SessionRegistry {
  std::mutex mu;
  std::map<std::string, TSession*> by_name;
  std::vector<std::unique_ptr<TSession>> owned;
  TSession* current = nullptr;

  static SessionRegistry& Get() {
    // Never destroyed: sessions may be released by other static objects'
    // destructors at process exit.
    static auto* r = new SessionRegistry;
    return *r;
  }
};

TSession::TSession(std::string name) : name_(std::move(name)) {
  SessionRegistry& r = SessionRegistry::Get();
  std::lock_guard lock(r.mu);
  if (!r.by_name.emplace(name_, this).second) {
    throw EDatabaseError("A session named '" + name_ + "' already exists");
  }
}

TSession::~TSession() {
  SessionRegistry& r = SessionRegistry::Get();
  std::lock_guard lock(r.mu);
  auto it = r.by_name.find(name_);
  if (it != r.by_name.end() && it->second == this) r.by_name.erase(it);
  if (r.current == this) r.current = nullptr;
}

TSession* TSession::FindSession(const std::string& name) {
  SessionRegistry& r = SessionRegistry::Get();
  std::lock_guard lock(r.mu);
  auto it = r.by_name.find(name);
  return it == r.by_name.end() ? nullptr : it->second;
}

TSession* TSession::OpenSession(const std::string& name) {
  SessionRegistry& r = SessionRegistry::Get();
  std::lock_guard lock(r.mu);
  // Looked up and made under one lock: two threads opening one name get the
  // same session.
  auto [it, inserted] = r.by_name.try_emplace(name, nullptr);
  if (inserted) {
    try {
      // Room first, so that handing the new session over below cannot throw
      // (its destructor takes the lock held here).
      if (r.owned.size() == r.owned.capacity()) r.owned.reserve(2 * r.owned.size() + 1);
      it->second = new TSession(name, NoRegistration{});
    } catch (...) {
      r.by_name.erase(it);
      throw;
    }
    r.owned.emplace_back(it->second);
  }
  TSession* s = it->second;
  s->SetActive(true);
  return s;
}

std::unique_ptr<TSession> TSession::MakeAutoNamed() {
  SessionRegistry& r = SessionRegistry::Get();
  std::unique_lock lock(r.mu);
  // The lowest number no live session holds: the map is ordered by name, but
  // "HistSession_10" sorts before "HistSession_2", so collect the numbers.
  std::set<long> taken;
  for (auto it = r.by_name.lower_bound(std::string(kAutoPrefix));
       it != r.by_name.end() && it->first.starts_with(kAutoPrefix); ++it) {
    const std::string digits = it->first.substr(kAutoPrefix.size());
    if (!digits.empty() && digits.size() < 10 && digits.front() != '0' &&
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      taken.insert(std::stol(digits));
    }
  }
  long n = 1;
  while (taken.count(n) != 0) ++n;
  std::string name = std::string(kAutoPrefix) + std::to_string(n);
  // Register while still holding the lock so that two threads never pick the
  // same number.
  auto s = std::unique_ptr<TSession>(new TSession(std::move(name), NoRegistration{}));
  r.by_name.emplace(s->name_, s.get());
  lock.unlock();
  s->SetActive(true);
  return s;
}

void TSession::FreeSession(const std::string& name) {
  SessionRegistry& r = SessionRegistry::Get();
  std::unique_ptr<TSession> doomed;
  {
    std::lock_guard lock(r.mu);
    auto it = std::find_if(r.owned.begin(), r.owned.end(),
                           [&](const auto& s) { return s->name_ == name; });
    if (it == r.owned.end()) return;
    doomed = std::move(*it);
    r.owned.erase(it);
  }
  // The destructor takes the lock itself to unregister the name.
}

void TSession::MakeCurrent(TSession* s) {
  SessionRegistry& r = SessionRegistry::Get();
  std::lock_guard lock(r.mu);
  r.current = s;
}

TSession* TSession::Current() {
  SessionRegistry& r = SessionRegistry::Get();
  std::lock_guard lock(r.mu);
  return r.current;
}

}  // namespace morvane::db
