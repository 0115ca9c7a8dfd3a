#include "web/web_application.h"

#include <algorithm>

#include "support/error.h"
#include "web/web_request.h"
#include "web/web_response.h"

namespace morvane {

TWebApplication::TWebApplication(int32_t max_connections) : max_connections_(max_connections) {}

TWebApplication::~TWebApplication() {
  std::lock_guard<std::mutex> guard(lock_);
  active_.clear();
  idle_.clear();
  // Newest first, so modules go in the reverse order of their making.
  while (!modules_.empty()) modules_.pop_back();
}

void TWebApplication::RegisterModuleClass(WebModuleFactory factory) {
  std::lock_guard<std::mutex> guard(lock_);
  if (factory_) throw Exception("Only one data module per application");
  factory_ = std::move(factory);
}

int32_t TWebApplication::MaxConnections() const {
  std::lock_guard<std::mutex> guard(lock_);
  return max_connections_;
}

void TWebApplication::SetMaxConnections(int32_t limit) {
  std::lock_guard<std::mutex> guard(lock_);
  max_connections_ = limit;
}

bool TWebApplication::CacheConnections() const {
  std::lock_guard<std::mutex> guard(lock_);
  return caching_;
}

void TWebApplication::SetCacheConnections(bool on) {
  std::lock_guard<std::mutex> guard(lock_);
  caching_ = on;
}

TWebModule* TWebApplication::ActivateWebModule() {
  std::unique_lock<std::mutex> guard(lock_);
  // Modules being made count against the limit: their requests are running.
  if (max_connections_ > 0 && active_.size() + making_ >= static_cast<size_t>(max_connections_)) {
    throw Exception(kTooManyConnectionsMessage);
  }
  if (!idle_.empty()) {
    TWebModule* module = idle_.front();
    idle_.pop_front();
    active_.push_back(module);
    return module;
  }
  if (!factory_) throw Exception("No data module class registered");

  // Making a module logs in to the stores and may download the settings
  // file, which can take as long as a store takes to answer. It runs outside
  // the lock, so that one slow store never holds up the requests that take
  // or return the modules already made; the reserved slot keeps the limit.
  ++making_;
  guard.unlock();
  std::unique_ptr<TWebModule> made;
  try {
    // Registered at load, before any request, and never replaced.
    made = factory_();
    if (!made) throw Exception("The data module factory made no module");
  } catch (...) {
    guard.lock();
    --making_;
    throw;
  }
  try {
    made->WebModuleCreate();
  } catch (...) {
    // The module keeps what its creation handler set up before failing;
    // the handler reports its own failures.
  }
  TWebModule* const module = made.get();
  guard.lock();
  --making_;
  try {
    modules_.push_back(std::move(made));  // leaves `made` as it was if it fails
    active_.push_back(module);
  } catch (...) {
    if (!made) {
      made = std::move(modules_.back());
      modules_.pop_back();
    }
    guard.unlock();  // a module closes its links as it goes: not under the lock
    throw;
  }
  return module;
}

void TWebApplication::DeactivateWebModule(TWebModule* module) {
  std::lock_guard<std::mutex> guard(lock_);
  const auto it = std::find(active_.begin(), active_.end(), module);
  if (it == active_.end()) return;
  active_.erase(it);
  if (caching_) {
    idle_.push_back(module);
    return;
  }
  const auto owned = std::find_if(modules_.begin(), modules_.end(),
                                  [module](const auto& m) { return m.get() == module; });
  if (owned != modules_.end()) modules_.erase(owned);
}

bool TWebApplication::HandleRequest(TWebRequest& request, TWebResponse& response) {
  TWebModule* module = ActivateWebModule();
  // Hands the module back however this scope is left.
  struct Return {
    TWebApplication* app;
    TWebModule* module;
    ~Return() { app->DeactivateWebModule(module); }
  } give_back{this, module};

  const bool handled = module->DispatchAction(request, response);
  if (handled && !response.Sent()) response.SendResponse();
  return handled;
}

size_t TWebApplication::ActiveCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return active_.size();
}

size_t TWebApplication::IdleCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return idle_.size();
}

}  // namespace morvane
