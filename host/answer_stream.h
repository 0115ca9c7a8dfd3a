// The bytes of one answer on their way from the worker that runs the
// extension to the connection that sends them.
//
// The worker must never wait on the network for long, and the connection
// must never hold a worker: between them sits a bounded queue of bytes. The
// worker appends (Send) and waits only while `capacity` bytes are already
// queued; the connection takes everything queued at once (Take) and writes
// it with one system call, so records the extension wrote one by one leave
// in large writes, in order. When the connection finds nothing queued it
// asks to be woken, and the worker calls `wake` on its next Send or Finish.
//
// A connection that can no longer send (the client stopped reading or went
// away, the server is stopping) calls Abandon: the worker's Send then fails
// at once, which the extension sees as a failed write.
//
// Thread-safe: one worker thread and one connection use an AnswerStream at
// the same time.
#ifndef MORVANE_HOST_ANSWER_STREAM_H_
#define MORVANE_HOST_ANSWER_STREAM_H_

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

#include "body_buffer.h"

namespace morvane::host {

class AnswerStream final : public ByteSender {
 public:
  // `wake` is called on the worker's thread, without the lock held.
  AnswerStream(size_t capacity, std::function<void()> wake)
      : capacity_(capacity), wake_(std::move(wake)) {}

  // Worker side. Queues `n` bytes, first waiting while the queue is full.
  // Returns false once the stream is abandoned. The last send wakes nobody:
  // Finish follows it at once, and one wake-up per answer is enough for a
  // small one.
  bool Send(const char* data, size_t n, bool last) override;
  // The answer is complete; `keep_alive` says whether the connection may
  // serve another request after it.
  void Finish(bool keep_alive);

  enum class Taken { kBytes, kWait, kDone };
  // Connection side. kBytes: the queued bytes are now in *out (whose old
  // contents are dropped, its storage handed back for reuse). kDone: the
  // answer is complete and every byte taken. kWait: nothing yet; `wake` will
  // be called when there is.
  Taken Take(std::string* out);
  void Abandon();

  bool Abandoned() const;
  bool KeepAlive() const;

 private:
  void WakeIfWaiting(std::unique_lock<std::mutex>& lock);

  const size_t capacity_;
  const std::function<void()> wake_;
  mutable std::mutex mu_;
  std::condition_variable room_;
  std::string queued_;
  bool waiting_ = false;
  bool finished_ = false;
  bool abandoned_ = false;
  bool keep_alive_ = false;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_ANSWER_STREAM_H_
