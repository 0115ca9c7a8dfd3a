#include "socket_sender.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace morvane::host {

bool SocketSender::Send(const char* data, size_t n, bool /*last*/) {
  using Clock = std::chrono::steady_clock;
  constexpr std::chrono::milliseconds kSlice{100};
  auto stalled_since = Clock::now();
  while (n > 0 && !failed_) {
    if (abandon_.load(std::memory_order_relaxed)) {
      failed_ = true;
      break;
    }
    const ssize_t sent = ::send(fd_, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      data += sent;
      n -= static_cast<size_t>(sent);
      stalled_since = Clock::now();
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN) {
      failed_ = true;  // reset, or closed under us by a stop
      break;
    }
    const auto waited = Clock::now() - stalled_since;
    if (waited >= stall_limit_) {
      failed_ = true;
      break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(stall_limit_ - waited);
    pollfd p{fd_, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(std::min(left, kSlice).count()) + 1);
  }
  return !failed_;
}

}  // namespace morvane::host
