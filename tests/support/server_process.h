// A real morvane-server child process for end-to-end tests, and a plain HTTP
// client that shows the exact bytes of an answer.
#ifndef MORVANE_TESTS_SUPPORT_SERVER_PROCESS_H_
#define MORVANE_TESTS_SUPPORT_SERVER_PROCESS_H_

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace morvane::testing {

// Starts build/morvane-server on 127.0.0.1 with an ephemeral port, in
// `work_dir` as its current directory, with `env` added to its environment,
// and waits for its ready line. Stop() (or the destructor) sends SIGTERM and
// waits; Stop returns the exit status.
class ServerProcess {
 public:
  ServerProcess(const std::filesystem::path& work_dir,
                const std::map<std::string, std::string>& env,
                const std::vector<std::string>& extra_args = {});
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int port() const { return port_; }
  // The admin listener's port (started with --admin-listen), or 0.
  int admin_port() const { return admin_port_; }
  // The server's process id, for looking at it under /proc.
  pid_t pid() const { return pid_; }
  const std::string& ready_line() const { return ready_line_; }
  // SIGTERM, then the exit code (128 + signal when killed by a signal).
  int Stop();

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  int admin_port_ = 0;
  std::string ready_line_;
};

struct HttpAnswer {
  std::string raw;          // every byte received
  std::string status_line;  // "HTTP/1.1 200 OK"
  int status = 0;
  std::string headers;  // the header lines as received, each with CR LF
  std::string body;     // de-chunked when the answer was chunked
  bool chunked = false;
};

// Sends `request` (a complete HTTP request text) to 127.0.0.1:port, reads the
// answer until the server closes the connection, and splits it.
// A TCP connection to 127.0.0.1:`port`, or -1 when it cannot be made.
int ConnectLoopback(int port);

HttpAnswer RawHttp(int port, const std::string& request);

// GET `target` ("/path?query") with HTTP/1.1 and "Connection: close".
HttpAnswer HttpGet(int port, const std::string& target);
// POST `body` as application/x-www-form-urlencoded.
HttpAnswer HttpPost(int port, const std::string& target, const std::string& body);

}  // namespace morvane::testing

#endif  // MORVANE_TESTS_SUPPORT_SERVER_PROCESS_H_
