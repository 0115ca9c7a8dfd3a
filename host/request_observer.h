// Who hears about every request of a listener once it is over: the
// metrics (request_metrics.h) and the access log (access_log.h).
//
// Called on the thread that ran the request, after its answer's last byte
// was handed to the socket (or when it was refused or given up), once per
// request. An observer must be quick and must not block: it runs on the
// request's thread, before the connection serves its next request.
#ifndef MORVANE_HOST_REQUEST_OBSERVER_H_
#define MORVANE_HOST_REQUEST_OBSERVER_H_

#include <chrono>
#include <cstdint>

#include "http_request.h"
#include "request_outcome.h"

namespace morvane::host {

struct FinishedRequest {
  using Clock = std::chrono::steady_clock;

  const HttpRequest& request;      // as far as it was read (a refused head may be empty)
  int status = 0;                  // 0: no answer was sent
  uint64_t body_bytes = 0;         // as the handler wrote them, before any coding
  uint64_t bytes_sent = 0;         // head, framing and body, as they left
  Clock::time_point first_byte{};  // when the head left; zero when it never did
  Clock::time_point end{};
  size_t mode = kModeNone;  // request_outcome.h
  Outcome outcome = Outcome::kAnswered;
  uint64_t records = 0;

  Clock::duration Duration() const { return end - request.received; }
};

class RequestObserver {
 public:
  virtual ~RequestObserver() = default;
  // Safe for concurrent use: requests end on many threads at once.
  virtual void Finished(const FinishedRequest& request) = 0;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_REQUEST_OBSERVER_H_
