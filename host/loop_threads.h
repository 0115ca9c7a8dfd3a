// The threads of morvane-server: they serve every connection's events and
// run the requests, and there are always a few free to serve events.
//
// A request runs on the thread that read it, and its answer is written
// from that thread straight to the socket: no hand-over between threads,
// which on a small answer costs more than the answer itself. While a thread
// is inside a request it serves nothing else, so entering one wakes a
// parked thread whenever fewer than `spare` would be left serving events;
// a thread that comes back from a request when more than enough are serving
// parks again. Idle, slow or hostile connections therefore never wait for a
// request to end, and only a couple of threads take turns at the event
// queue when the load is light.
#ifndef MORVANE_HOST_LOOP_THREADS_H_
#define MORVANE_HOST_LOOP_THREADS_H_

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace morvane::host {

class LoopThreads {
 public:
  // `serve_one` serves one event (or returns false when the loop has
  // stopped); `total` threads in all, `spare` of them kept serving.
  LoopThreads(std::function<bool()> serve_one, int total, int spare);
  ~LoopThreads();
  LoopThreads(const LoopThreads&) = delete;
  LoopThreads& operator=(const LoopThreads&) = delete;

  // Around a request, on the thread that runs it.
  void EnterRequest();
  void LeaveRequest();

  // Waits up to `wait` for every thread to end (the loop must have been
  // stopped). False leaves them running, detached: one is still inside a
  // request.
  bool Join(std::chrono::milliseconds wait);

 private:
  void Run();
  // Parking and waking cost a switch each: a few extra serving threads are
  // cheaper than parking one after every request.
  bool TooMany() const { return serving_ > spare_ + 3; }

  const std::function<bool()> serve_one_;
  const int spare_;
  std::mutex mu_;
  std::condition_variable unpark_;
  std::condition_variable ended_;
  int serving_ = 0;  // in the loop and not inside a request
  int running_ = 0;  // not yet ended
  bool stopped_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_LOOP_THREADS_H_
