#include "http_exchange.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace morvane::loadfaults {
namespace {

int Connect(int port, int rcvbuf) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // Set before connecting, so that the window the server sees is this small.
  if (rcvbuf > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool WaitReadable(int fd, Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    const int n = poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

bool SendRequest(int fd, const std::string& target) {
  const std::string request =
      "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  std::string_view rest = request;
  while (!rest.empty()) {
    const ssize_t n = send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return false;
    }
    rest.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Splits the raw bytes of a closed connection into the answer.
Answer Parse(const std::string& raw) {
  Answer a;
  const size_t head_end = raw.find("\r\n\r\n");
  if (head_end == std::string::npos) {
    a.failure = raw.empty() ? "no answer" : "head cut short";
    return a;
  }
  a.status = std::atoi(raw.c_str() + std::min<size_t>(9, raw.size()));
  bool chunked = false;
  long long length = -1;
  size_t line = 0;
  while (line < head_end) {
    const size_t eol = raw.find("\r\n", line);
    const std::string_view text(raw.data() + line, eol - line);
    const std::string lower = Lower(text);
    line = eol + 2;
    if (lower.starts_with("transfer-encoding:")) {
      chunked = lower.find("chunked") != std::string::npos;
      continue;  // framing, which varies with timing
    }
    if (lower.starts_with("connection:")) continue;
    if (lower.starts_with("content-length:")) length = std::atoll(lower.c_str() + 15);
    a.head.append(text);
    a.head += "\r\n";
  }
  size_t pos = head_end + 4;
  if (!chunked) {
    a.body = raw.substr(pos);
    if (length >= 0 && static_cast<size_t>(length) != a.body.size()) {
      a.failure = "body of " + std::to_string(a.body.size()) + " bytes, " + std::to_string(length) +
                  " announced";
      return a;
    }
    a.complete = true;
    return a;
  }
  for (;;) {
    const size_t eol = raw.find("\r\n", pos);
    if (eol == std::string::npos) {
      a.failure = "chunked body cut short";
      return a;
    }
    char* end = nullptr;
    const unsigned long long size = std::strtoull(raw.c_str() + pos, &end, 16);
    if (end == raw.c_str() + pos) {
      a.failure = "bad chunk size";
      return a;
    }
    pos = eol + 2;
    if (size == 0) {
      a.complete = raw.compare(pos, std::string::npos, "\r\n") == 0;
      if (!a.complete) a.failure = "bytes after the last chunk";
      return a;
    }
    if (pos + size + 2 > raw.size() || raw.compare(pos + size, 2, "\r\n") != 0) {
      a.failure = "chunk cut short";
      return a;
    }
    a.body.append(raw, pos, size);
    pos += size + 2;
  }
}

}  // namespace

Answer Exchange(int port, const std::string& target, double timeout) {
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(timeout));
  const int fd = Connect(port, 0);
  Answer a;
  if (fd < 0) {
    a.failure = std::string("connect: ") + std::strerror(errno);
    return a;
  }
  if (!SendRequest(fd, target)) {
    close(fd);
    a.failure = "send failed";
    return a;
  }
  std::string raw;
  char buf[65536];
  for (;;) {
    if (!WaitReadable(fd, deadline)) {
      close(fd);
      a = Parse(raw);
      a.complete = false;
      a.failure = "timed out";
      return a;
    }
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n > 0) {
      raw.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      const std::string why = std::strerror(errno);
      close(fd);
      a = Parse(raw);
      a.complete = false;
      a.failure = "receive: " + why;
      return a;
    }
  }
  close(fd);
  return Parse(raw);
}

std::string Canonical(const Answer& a) {
  return a.head + "\r\n" + a.body;
}

bool IsLimitPage(const Answer& a) {
  return a.complete && a.status == 500 &&
         a.body.find(
             "Maximum number of concurrent connections exceeded.  Please try again later") !=
             std::string::npos;
}

Abandoned AbandonAfterFirstBytes(int port, const std::string& target, size_t first_bytes,
                                 bool reset, int rcvbuf) {
  const int fd = Connect(port, rcvbuf);
  if (fd < 0) return Abandoned::kFailed;
  std::string got;
  if (SendRequest(fd, target)) {
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    char buf[4096];
    while (got.size() < first_bytes && WaitReadable(fd, deadline)) {
      const ssize_t n = recv(fd, buf, std::min(sizeof buf, first_bytes - got.size()), 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
  }
  if (reset) {
    const linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  close(fd);
  if (got.starts_with("HTTP/1.1 500 ")) return Abandoned::kRefused;
  return got.size() >= first_bytes ? Abandoned::kAfterFirstBytes : Abandoned::kFailed;
}

std::vector<std::string> BodyLines(std::string_view body) {
  std::vector<std::string> lines;
  while (!body.empty()) {
    const size_t eol = body.find("\r\n");
    if (eol == std::string_view::npos) {
      lines.emplace_back(body);
      break;
    }
    lines.emplace_back(body.substr(0, eol));
    body.remove_prefix(eol + 2);
  }
  return lines;
}

}  // namespace morvane::loadfaults
