// The seam between a connection and what answers its requests.
//
// A connection reads and frames a request (connection.h), then hands it,
// complete and checked, to the handler of the listener it came through:
// the extension (extension_handler.h) on the public port; pages of the
// host's own on another. The connection never knows which.
#ifndef MORVANE_HOST_REQUEST_HANDLER_H_
#define MORVANE_HOST_REQUEST_HANDLER_H_

#include "answer.h"
#include "http_request.h"

namespace morvane::host {

class RequestHandler {
 public:
  virtual ~RequestHandler() = default;

  // Whether the request must wait for its turn (turn_queue.h) before it is
  // handled: true for work that holds a thread and a data module for long.
  // A handler whose answers are quick and never block says false, so they
  // are served even while every turn is taken. Safe for concurrent use.
  virtual bool NeedsTurn(const HttpRequest& request) const = 0;

  // Answers `request` through `answer`, on the calling thread, and ends the
  // answer (Answer::End) before returning; the connection ends it, broken
  // off, if the handler did not. Safe for concurrent use.
  virtual void Handle(const HttpRequest& request, Answer& answer) = 0;

  // A request of this listener that no handler answered: refused by the
  // framing rules with the host's page of `status` (the request holds what
  // its head said, if it was read), or given up by its client while it
  // waited for a turn (`status` 0). For counting and logging; the default
  // does nothing. Safe for concurrent use.
  virtual void Unanswered(const HttpRequest& /*request*/, int /*status*/) {}
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_REQUEST_HANDLER_H_
