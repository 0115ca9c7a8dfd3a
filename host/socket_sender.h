// Sends an answer's bytes straight to a connected, non-blocking socket from
// the thread that runs the request.
//
// A send that the socket cannot take at once waits for it to drain, in
// slices, so that a stop (`abandon`) is seen within a tenth of a second; a
// client that takes nothing for `stall_limit` loses the answer. After a
// failure every later send fails at once without touching the socket: the
// request sees the client as gone.
#ifndef MORVANE_HOST_SOCKET_SENDER_H_
#define MORVANE_HOST_SOCKET_SENDER_H_

#include <atomic>
#include <chrono>

#include "byte_sender.h"

namespace morvane::host {

class SocketSender final : public ByteSender {
 public:
  // Requires: `fd` is open for the sender's lifetime; `abandon` outlives it.
  SocketSender(int fd, std::chrono::milliseconds stall_limit, const std::atomic<bool>& abandon)
      : fd_(fd), stall_limit_(stall_limit), abandon_(abandon) {}

  bool Send(std::span<const std::string_view> pieces) override;
  bool Failed() const { return failed_; }

 private:
  const int fd_;
  const std::chrono::milliseconds stall_limit_;
  const std::atomic<bool>& abandon_;
  bool failed_ = false;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_SOCKET_SENDER_H_
