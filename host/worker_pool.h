// A fixed set of threads that run queued jobs in the order they came.
// Requests wait here, complete, until a worker is free; the connections
// that sent them cost no thread meanwhile.
#ifndef MORVANE_HOST_WORKER_POOL_H_
#define MORVANE_HOST_WORKER_POOL_H_

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace morvane::host {

class WorkerPool {
 public:
  explicit WorkerPool(int threads);
  // Requires: Stop() returned true, or the process is exiting without it.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Queues `job`. Safe for concurrent use.
  void Submit(std::function<void()> job);

  // Runs the jobs already queued, then lets the threads end. Returns true
  // when they all ended within `wait`; false leaves them running (a job is
  // still inside the extension) and the pool must then not be destroyed.
  bool Stop(std::chrono::milliseconds wait);

 private:
  void Work();

  std::mutex mu_;
  std::condition_variable ready_;
  std::condition_variable idle_;
  std::deque<std::function<void()>> jobs_;
  int running_ = 0;  // threads that have not yet ended
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_WORKER_POOL_H_
