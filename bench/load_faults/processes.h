// The processes the load-and-fault program runs: morvane-server as a child
// it watches, and one-shot commands (morvane-load, the PostgreSQL cluster
// script) whose output it keeps.
#ifndef MORVANE_BENCH_LOAD_FAULTS_PROCESSES_H_
#define MORVANE_BENCH_LOAD_FAULTS_PROCESSES_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace morvane::loadfaults {

// Runs argv[0] (a path) in `dir` with `env` added to this process's
// environment, waits, and gives its exit status (128 + signal when killed,
// -1 when it could not start). Its standard output and error go to *output.
int RunCommand(const std::vector<std::string>& argv, const std::string& dir,
               const std::vector<std::string>& env, std::string* output);

// A morvane-server child on 127.0.0.1 and a port of its choosing, started in
// `dir` (where it finds oms.ini and aliases.ini) with its standard error in
// dir/server.err. The destructor kills it if it still runs.
class ServerChild {
 public:
  ServerChild() = default;
  ~ServerChild();
  ServerChild(const ServerChild&) = delete;
  ServerChild& operator=(const ServerChild&) = delete;

  // False with *error set when the server did not report ready within 10 s.
  bool Start(const std::string& server, const std::string& dir, const std::vector<std::string>& env,
             const std::vector<std::string>& args, std::string* error);
  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  bool Alive();
  // How it ended: "running", "exit N" or "killed by signal N".
  std::string Ending() const;
  // Open descriptors and resident KiB from /proc; -1 when unreadable.
  int OpenFds() const;
  long RssKiB() const;
  // SIGTERM and a wait of up to `seconds`; then SIGKILL. Whether it exited 0.
  bool Stop(double seconds);

 private:
  void Reaped(int status);

  pid_t pid_ = -1;
  int port_ = 0;
  int out_ = -1;
  bool exited_ = false;
  int status_ = 0;
};

}  // namespace morvane::loadfaults

#endif  // MORVANE_BENCH_LOAD_FAULTS_PROCESSES_H_
