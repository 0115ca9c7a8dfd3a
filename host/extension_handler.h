// The request handler that runs the extension: one request through
// HttpExtensionProc, with the control block and its callbacks.
//
// The extension chooses the status line and header block (parsed and
// cleaned by ResponseHead); the answer path chooses the framing. Its writes
// go to the answer as they come; a write fails once the answer has failed
// (the client is gone), which the extension sees as the client gone.
//
// The extension's report of each request (its mode, outcome and records,
// HSE_REQ_REPORT_REQUEST) reaches the observers with what the host saw of
// the answer; an extension that does not report leaves the mode unknown.
#ifndef MORVANE_HOST_EXTENSION_HANDLER_H_
#define MORVANE_HOST_EXTENSION_HANDLER_H_

#include <vector>

#include "request_handler.h"
#include "request_observer.h"

namespace morvane::host {

class ExtensionLoader;

class ExtensionHandler final : public RequestHandler {
 public:
  // Requires: `extension` is loaded and outlives the handler.
  explicit ExtensionHandler(const ExtensionLoader& extension) : extension_(extension) {}

  // Every request of the extension holds a data module: it waits its turn.
  bool NeedsTurn(const HttpRequest& /*request*/) const override { return true; }
  void Handle(const HttpRequest& request, Answer& answer) override;
  void Unanswered(const HttpRequest& request, int status) override;

  // Tells `observer` of every request from now on. Requires: before the
  // first request; `observer` outlives the handler.
  void AddObserver(RequestObserver* observer) { observers_.push_back(observer); }

 private:
  void Tell(const FinishedRequest& finished) const;

  const ExtensionLoader& extension_;
  std::vector<RequestObserver*> observers_;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_EXTENSION_HANDLER_H_
