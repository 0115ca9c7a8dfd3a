#include "support/held_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace morvane::testing {

HeldHttpServer::HeldHttpServer(std::string page) : page_(std::move(page)) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listen_fd_, 64) != 0) {
    throw std::runtime_error("held server: bind/listen failed");
  }
  socklen_t len = sizeof addr;
  getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  acceptor_ = std::thread([this] {
    while (!stopping_) {
      pollfd p{listen_fd_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      const int fd = accept(listen_fd_, nullptr, nullptr);
      if (fd < 0) continue;
      std::lock_guard<std::mutex> lock(mu_);
      workers_.emplace_back([this, fd] { Serve(fd); });
    }
  });
}

HeldHttpServer::~HeldHttpServer() {
  Release();
  stopping_ = true;
  acceptor_.join();
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(mu_);
    workers.swap(workers_);
  }
  for (auto& t : workers) t.join();
  close(listen_fd_);
}

void HeldHttpServer::Serve(int fd) {
  // Read the request head.
  std::string head;
  char buf[4096];
  while (head.find("\r\n\r\n") == std::string::npos) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 30000) <= 0) break;
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    head.append(buf, static_cast<size_t>(n));
  }
  {
    std::unique_lock<std::mutex> lock(mu_);
    const int arrival = ++arrived_;
    ++waiting_;
    cv_.notify_all();
    cv_.wait_for(lock, std::chrono::seconds(60),
                 [&] { return released_ || let_through_.count(arrival) > 0; });
    --waiting_;
  }
  const std::string answer = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                             std::to_string(page_.size()) + "\r\n\r\n" + page_;
  send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
  close(fd);
}

bool HeldHttpServer::WaitForWaiting(int n) {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, std::chrono::seconds(30), [&] { return waiting_ >= n; });
}

bool HeldHttpServer::WaitForArrivals(int n) {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, std::chrono::seconds(30), [&] { return arrived_ >= n; });
}

void HeldHttpServer::LetThrough(int k) {
  std::lock_guard<std::mutex> lock(mu_);
  let_through_.insert(k);
  cv_.notify_all();
}

void HeldHttpServer::Release() {
  std::lock_guard<std::mutex> lock(mu_);
  released_ = true;
  cv_.notify_all();
}

}  // namespace morvane::testing
