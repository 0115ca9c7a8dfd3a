// The pages of the admin listener (--admin-listen): a table of routes, each
// an exact path with the function that answers it. Answers GET and HEAD;
// another method on a known path gets 405, an unknown path 404.
//
// The monitoring pages (/metrics, /healthz, /readyz, admin_pages.h) are
// quick and never block, so they need no turn and are served even while
// every turn is taken. A route that runs the extension (a page whose data
// is a request's answer) says so when it is added, and waits for its turn
// like any request of the public port.
#ifndef MORVANE_HOST_ADMIN_HANDLER_H_
#define MORVANE_HOST_ADMIN_HANDLER_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "request_handler.h"

namespace morvane::host {

class AdminHandler final : public RequestHandler {
 public:
  // Answers `request` through `answer`; Handle ends the answer if the route
  // did not. Called on the thread that read the request.
  using Route = std::function<void(const HttpRequest& request, Answer& answer)>;

  // Adds `path`. Requires: before the listener starts; paths unique.
  void Add(std::string path, Route route, bool needs_turn = false);

  bool NeedsTurn(const HttpRequest& request) const override;
  void Handle(const HttpRequest& request, Answer& answer) override;

  // A whole page: the status, a Content-Type and Content-Length, the body
  // (left out for HEAD by the answer itself). Requires: the answer not
  // begun.
  static void SendPage(Answer& answer, int status, std::string_view reason,
                       std::string_view content_type, std::string_view body);

 private:
  struct Entry {
    std::string path;
    Route route;
    bool needs_turn;
  };
  const Entry* Find(std::string_view path) const;

  std::vector<Entry> routes_;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_ADMIN_HANDLER_H_
