// One HTTP exchange with morvane-server over loopback, as plain sockets, so
// that the load-and-fault program sees every byte and every way an answer
// can end (complete, cut short, refused).
#ifndef MORVANE_BENCH_LOAD_FAULTS_HTTP_EXCHANGE_H_
#define MORVANE_BENCH_LOAD_FAULTS_HTTP_EXCHANGE_H_

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::loadfaults {

using Clock = std::chrono::steady_clock;

struct Answer {
  bool complete = false;  // the framing of the answer ended properly
  int status = 0;
  std::string head;     // status line and header lines, framing lines left out
  std::string body;     // de-chunked
  std::string failure;  // why the answer is not complete
};

// GET `target` on a fresh connection with "Connection: close" and reads the
// whole answer; gives up after `timeout` seconds.
Answer Exchange(int port, const std::string& target, double timeout = 30);

// An answer in one text: head, empty line, body. Two answers of one request
// are the same exactly when these are equal.
std::string Canonical(const Answer& a);

// Whether the answer is the extension's "too many requests at once" page.
bool IsLimitPage(const Answer& a);

enum class Abandoned { kAfterFirstBytes, kRefused, kFailed };

// Asks for `target` with a receive buffer of `rcvbuf` bytes, reads at least
// `first_bytes` of the answer and goes away: with a reset when `reset`, else
// with an orderly close. kRefused when the answer was the limit page,
// kFailed when the first bytes never came.
Abandoned AbandonAfterFirstBytes(int port, const std::string& target, size_t first_bytes,
                                 bool reset, int rcvbuf);

// The body split into lines without their CR LF; a last line without CR LF
// is kept as it is, so that a cut record shows.
std::vector<std::string> BodyLines(std::string_view body);

}  // namespace morvane::loadfaults

#endif  // MORVANE_BENCH_LOAD_FAULTS_HTTP_EXCHANGE_H_
