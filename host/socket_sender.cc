#include "socket_sender.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace morvane::host {

bool SocketSender::Send(std::span<const std::string_view> pieces) {
  using Clock = std::chrono::steady_clock;
  constexpr std::chrono::milliseconds kSlice{100};
  constexpr size_t kMaxPieces = 8;
  std::array<iovec, kMaxPieces> iov{};
  size_t count = 0;
  size_t used = 0;  // pieces taken into `iov`
  for (; used < pieces.size() && count < kMaxPieces; ++used) {
    if (pieces[used].empty()) continue;
    iov[count++] = iovec{const_cast<char*>(pieces[used].data()), pieces[used].size()};
  }
  iovec* next = iov.data();
  auto stalled_since = Clock::now();
  while (count > 0 && !failed_) {
    if (abandon_.load(std::memory_order_relaxed)) {
      failed_ = true;
      break;
    }
    msghdr message{};
    message.msg_iov = next;
    message.msg_iovlen = count;
    const ssize_t sent = ::sendmsg(fd_, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      // Step past what went out: whole pieces, then part of the next one.
      auto left = static_cast<size_t>(sent);
      while (count > 0 && left >= next->iov_len) {
        left -= next->iov_len;
        ++next;
        --count;
      }
      if (count > 0) {
        next->iov_base = static_cast<char*>(next->iov_base) + left;
        next->iov_len -= left;
      }
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
  // More pieces than any framing makes: the rest go in a second write.
  if (!failed_ && used < pieces.size()) return Send(pieces.subspan(used));
  return !failed_;
}

}  // namespace morvane::host
