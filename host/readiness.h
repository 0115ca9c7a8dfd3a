// Whether the server is ready for traffic, as /readyz answers it: the last
// result of a check that a thread of its own runs once a second, so that
// neither a readiness probe nor a request ever waits on a store.
//
// The check is the extension's (its settings, alias file and stores; see
// CheckReady in extension_abi.h); the admin pages add what only the host
// knows (that it is draining).
#ifndef MORVANE_HOST_READINESS_H_
#define MORVANE_HOST_READINESS_H_

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace morvane::host {

class Readiness {
 public:
  // Returns true when ready, else false with what failed in *problem. Called
  // from the readiness thread only.
  using Check = std::function<bool(std::string* problem)>;

  struct State {
    bool checked = false;  // false until the first check has ended
    bool ready = false;
    std::string problem;
  };

  // Starts the thread, which checks at once and then every `period`.
  explicit Readiness(Check check, std::chrono::milliseconds period = std::chrono::seconds(1));
  // Stops the thread (waiting for a check in progress to end).
  ~Readiness();
  Readiness(const Readiness&) = delete;
  Readiness& operator=(const Readiness&) = delete;

  // Stops checking; the last state stays. Safe to call again.
  void Stop();

  // The last check's result. Safe for concurrent use.
  State Current() const;

 private:
  void Run();

  const Check check_;
  const std::chrono::milliseconds period_;
  mutable std::mutex mu_;
  std::condition_variable wake_;
  State state_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_READINESS_H_
