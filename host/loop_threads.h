// The threads of morvane-server: they serve every connection's events and
// run the requests, and no connection waits long for a free one.
//
// A request runs on the thread that read it, and its answer is written
// from that thread straight to the socket: no hand-over between threads,
// which on a small answer costs more than the answer itself. Every thread
// runs the event loop (`serve`); the loop is told that it runs on one
// thread at a time (Asio's concurrency hint 1), so handing out an event
// never wakes a second thread: the threads that are not needed wait inside
// the loop, costing nothing.
//
// While a thread is inside a request, though, it serves no events. Waking
// another thread at the start of every request would cost a switch or two
// per request, most of them for nothing: a small answer is done before the
// woken thread has looked. So the wake is left to a watchdog: when a
// request has been running for a whole tick (`grace`) with no request
// entered or ended meanwhile, it calls `wake`, which sets one waiting
// thread serving events. Other connections' events wait at most about two
// ticks behind a long request, and a run of short requests one client after
// another wakes nobody. When it finds a request in flight at two looks in a
// row, the loop is saturated: it wakes one more thread (at most one a
// tick), so that a steady load spreads over the cores.
// The watchdog sleeps a tick at a time while requests come, and parks when
// none has come for a while (the next request wakes it).
#ifndef MORVANE_HOST_LOOP_THREADS_H_
#define MORVANE_HOST_LOOP_THREADS_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace morvane::host {

class LoopThreads {
 public:
  // `serve` runs the event loop until it is stopped; `wake` makes one
  // thread waiting in it serve events (a no-op posted to it). `total`
  // threads serve.
  LoopThreads(std::function<void()> serve, std::function<void()> wake, int total,
              std::chrono::microseconds grace = std::chrono::milliseconds(1));
  // Requires: the loop has been stopped (the threads are joined here).
  ~LoopThreads();
  LoopThreads(const LoopThreads&) = delete;
  LoopThreads& operator=(const LoopThreads&) = delete;

  // Around a request, on the thread that runs it. Safe for concurrent use.
  void EnterRequest();
  void LeaveRequest() { leaves_.fetch_add(1); }

  // Waits up to `wait` for every thread to end (the loop must have been
  // stopped). False leaves them running, detached: one is still inside a
  // request.
  bool Join(std::chrono::milliseconds wait);

 private:
  void Watch();

  const std::function<void()> serve_;
  const std::function<void()> wake_;
  const std::chrono::microseconds grace_;
  std::atomic<uint64_t> entries_{0};  // requests entered, ever
  std::atomic<uint64_t> leaves_{0};   // and left
  std::atomic<bool> watch_parked_{false};
  std::mutex mu_;  // guards the two below; the watchdog parks on `watch_`
  int running_ = 0;
  bool stopped_ = false;
  std::condition_variable watch_;
  std::condition_variable ended_;
  std::vector<std::thread> threads_;
  std::thread watcher_;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_LOOP_THREADS_H_
