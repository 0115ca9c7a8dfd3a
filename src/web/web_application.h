// The web application object: one per loaded library, owning the pool of data
// modules that requests borrow.
//
// Modules are costly to make (each opens database connections), so they are
// made on demand, kept after their request and reused, oldest idle first, for
// the life of the library. The connection limit bounds how many requests run
// in the handler at once; a request beyond it is refused at once rather than
// queued, because the host's worker threads would otherwise pile up behind a
// slow database.
//
// Thread safety: every member function is safe for concurrent use, except
// RegisterModuleClass, SetMaxConnections and SetTitle, which are meant for
// load time before the first request.
#ifndef MORVANE_WEB_WEB_APPLICATION_H_
#define MORVANE_WEB_WEB_APPLICATION_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "web/web_module.h"

namespace morvane {

class TWebRequest;
class TWebResponse;

// Makes one new data module. May raise; the error then reaches the client as
// the failure page.
using WebModuleFactory = std::function<std::unique_ptr<TWebModule>()>;

// The exact refusal message at the limit (two blanks after the first stop).
inline constexpr const char* kTooManyConnectionsMessage =
    "Maximum number of concurrent connections exceeded.  Please try again later";

class TWebApplication {
 public:
  // An application without module class, caching on, with `max_connections`
  // as its limit (0 or less: no limit).
  explicit TWebApplication(int32_t max_connections = 32);
  // Destroys every module, idle or active. Requires: no request running.
  ~TWebApplication();
  TWebApplication(const TWebApplication&) = delete;
  TWebApplication& operator=(const TWebApplication&) = delete;

  // Registers the data-module class. Raises Exception("Only one data module
  // per application") when one is already registered.
  void RegisterModuleClass(WebModuleFactory factory);

  int32_t MaxConnections() const;
  void SetMaxConnections(int32_t limit);

  // On (the default): returned modules are kept for reuse. Off: a returned
  // module is destroyed at once.
  bool CacheConnections() const;
  void SetCacheConnections(bool on);

  // Reported as the extension's description; empty in this system.
  const std::string& Title() const { return title_; }
  void SetTitle(std::string title) { title_ = std::move(title); }

  // Takes a module for one request:
  //   - at the limit (limit > 0 and the active modules, with those being
  //     made, are at least the limit) raises Exception(kTooManyConnectionsMessage);
  //   - else the module idle longest, or a new one from the factory (whose
  //     WebModuleCreate runs at once; what it raises is dropped).
  // The pool's lock is held only to look at and change the lists: a new
  // module is made outside it, its place counted against the limit
  // meanwhile, so a slow creation delays no request that finds an idle
  // module or returns one. Creations may therefore run at the same time.
  // Raises Exception when no module class is registered, and whatever the
  // factory raises. The caller owns the module's use until it hands it back
  // with DeactivateWebModule.
  TWebModule* ActivateWebModule();

  // Hands a module back: it joins the end of the idle list (or is destroyed
  // when caching is off). Requires: `module` came from ActivateWebModule and
  // was not handed back yet.
  void DeactivateWebModule(TWebModule* module);

  // Runs one request on a pooled module: activate, dispatch, send the
  // response if the handler left it unsent, deactivate (also when dispatch
  // raised). Returns whether the request was handled. Raises whatever
  // activation or dispatch raised; the caller answers with the failure page.
  bool HandleRequest(TWebRequest& request, TWebResponse& response);

  // Counts, for tests and diagnostics.
  size_t ActiveCount() const;
  size_t IdleCount() const;

 private:
  mutable std::mutex lock_;
  WebModuleFactory factory_;
  int32_t max_connections_;
  bool caching_ = true;
  std::string title_;
  // Every module the pool has made; the two lists below point into it.
  std::vector<std::unique_ptr<TWebModule>> modules_;
  std::vector<TWebModule*> active_;
  std::deque<TWebModule*> idle_;  // front: idle longest
  size_t making_ = 0;             // modules being made for their requests
};

}  // namespace morvane

#endif  // MORVANE_WEB_WEB_APPLICATION_H_
