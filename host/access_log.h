// The access log (--access-log PATH): one line per request of the public
// port, in the combined format nginx and Apache write, followed by the
// duration in seconds, the bytes sent in all, the mode and the outcome:
//
//   127.0.0.1 - - [07/Jul/2003:16:30:00 +0000] "GET /?symbol=0001&mode=2 HTTP/1.1" 200 61 "-"
//   "curl/7.88.1" 0.001 174 2 answered
//
// (one line). Request text (the target, Referer, User-Agent) is escaped as
// nginx does: '"', '\' and every byte below 0x20 or from 0x7f up become
// \xHH, and in the target a blank too, so no line can be forged or split.
// A request given up while it waited shows status 499; one refused before
// its head was read shows "-" for its request line.
//
// A request never waits on the disk: its line is formatted on its own
// thread into a buffer, and a writer thread sends the buffer to the file at
// least once a second (sooner when 64 KiB are waiting) and at Close. Past
// 8 MiB waiting (a disk that cannot keep up) lines are dropped and counted.
// Reopen (on SIGHUP) makes the writer write out what waits and open the
// path afresh, so that logrotate can move the file away.
#ifndef MORVANE_HOST_ACCESS_LOG_H_
#define MORVANE_HOST_ACCESS_LOG_H_

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "metric_families.h"
#include "request_observer.h"

namespace morvane::host {

class AccessLog final : public RequestObserver {
 public:
  static constexpr size_t kFlushBytes = 64 * 1024;
  static constexpr size_t kMaxWaiting = 8 * 1024 * 1024;

  // Opens `path` for appending (made 0640 if missing) and starts the
  // writer. Null with the reason in *error when it cannot be opened.
  static std::unique_ptr<AccessLog> Open(const std::string& path, std::string* error);
  // Close().
  ~AccessLog() override;
  AccessLog(const AccessLog&) = delete;
  AccessLog& operator=(const AccessLog&) = delete;

  void Finished(const FinishedRequest& request) override;

  // Has the writer write out what waits and open the path again. Returns
  // at once. Safe to call from any thread.
  void Reopen();
  // Writes out everything and stops the writer; later lines are dropped.
  void Close();

  // morvane_access_log_lines_total, _dropped_lines_total,
  // _write_errors_total.
  void Collect(Families* out) const;

  // The line of `request` ending at wall-clock `when` (local time), with
  // its line end. For the tests as much as for Finished.
  static void FormatLine(const FinishedRequest& request, std::time_t when, std::string* line);
  // `text` escaped as the log escapes request text; `blank` too when set.
  static void AppendEscaped(std::string_view text, bool blank, std::string* out);

 private:
  AccessLog(std::string path, int fd);
  void Run();
  void WriteOut(const std::string& bytes);

  const std::string path_;
  int fd_;  // the writer's only, once it runs
  std::mutex mu_;
  std::condition_variable wake_;
  std::string waiting_;  // guarded by mu_
  bool reopen_ = false;  // guarded by mu_
  bool stopping_ = false;
  std::atomic<uint64_t> lines_{0};
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> write_errors_{0};
  std::thread writer_;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_ACCESS_LOG_H_
