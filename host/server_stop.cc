#include "server_stop.h"

#include <civetweb.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace morvane::host {
namespace {

std::string ConnectHost(const std::string& host) {
  if (host.empty() || host == "0.0.0.0") return "127.0.0.1";
  if (host == "[::]" || host == "::") return "::1";
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    return host.substr(1, host.size() - 2);
  }
  return host;
}

// One connection attempt, closed at once; failures do not matter (the
// listener may already be closed).
void Knock(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) return;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    const bool connected = connect(fd, a->ai_addr, a->ai_addrlen) == 0;
    close(fd);
    if (connected) break;
  }
  freeaddrinfo(found);
}

}  // namespace

void StopServer(mg_context* ctx, const std::string& host, int port) {
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    mg_stop(ctx);
    stopped = true;
  });
  // The stop flag is raised inside mg_stop(), at a moment this thread cannot
  // see, so knock until it has returned; a knock that lands before the flag
  // is an ordinary connection that closes without a request.
  const std::string target = ConnectHost(host);
  while (!stopped) {
    if (port > 0) Knock(target, port);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  stopper.join();
}

}  // namespace morvane::host
