// A loopback HTTP server for tests that answers every GET with one fixed
// page, but only once the test releases it: requests that reach it wait.
// Used to hold a request of morvane-server in progress (its settings
// download waits here) for as long as a test needs.
#ifndef MORVANE_TESTS_SUPPORT_HELD_HTTP_SERVER_H_
#define MORVANE_TESTS_SUPPORT_HELD_HTTP_SERVER_H_

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace morvane::testing {

class HeldHttpServer {
 public:
  explicit HeldHttpServer(std::string page);
  ~HeldHttpServer();
  HeldHttpServer(const HeldHttpServer&) = delete;
  HeldHttpServer& operator=(const HeldHttpServer&) = delete;

  int port() const { return port_; }
  // Blocks until `n` requests are waiting (or 30 s pass); true when they are.
  bool WaitForWaiting(int n);
  // Blocks until `n` requests have arrived in all, counted from the start
  // (or 30 s pass); true when they have.
  bool WaitForArrivals(int n);
  // Lets the `k`-th request to arrive (counted from 1) have its answer now,
  // while the others keep waiting.
  void LetThrough(int k);
  // Lets every waiting and future request have its answer.
  void Release();

 private:
  void Serve(int fd);
  std::string page_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::mutex mu_;
  std::condition_variable cv_;
  int waiting_ = 0;
  int arrived_ = 0;
  std::set<int> let_through_;
  bool released_ = false;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::vector<std::thread> workers_;
};

}  // namespace morvane::testing

#endif  // MORVANE_TESTS_SUPPORT_HELD_HTTP_SERVER_H_
