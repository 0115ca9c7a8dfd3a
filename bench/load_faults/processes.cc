#include "processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace morvane::loadfaults {
namespace {

using Clock = std::chrono::steady_clock;

// This environment with `add` put over it (a NAME=value of `add` replaces
// the inherited one).
std::vector<std::string> Environment(const std::vector<std::string>& add) {
  std::vector<std::string> env = add;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry = *e;
    const std::string_view name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const std::string& a : add) replaced = replaced || a.starts_with(std::string(name) + "=");
    if (!replaced) env.emplace_back(entry);
  }
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (std::string& t : texts) out.push_back(t.data());
  out.push_back(nullptr);
  return out;
}

// Spawns argv in dir with stdout (and stderr unless err_file is given) on
// the write end of a pipe whose read end is returned in *out_fd.
pid_t Spawn(std::vector<std::string> argv, const std::string& dir,
            const std::vector<std::string>& env_add, const std::string& err_file, int* out_fd) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return -1;
  std::vector<std::string> env = Environment(env_add);
  std::vector<char*> args = Pointers(argv);
  std::vector<char*> envp = Pointers(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  if (err_file.empty()) {
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
  }
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int s : {SIGPIPE, SIGINT, SIGTERM}) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr,
                           static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0].c_str(), &actions, &attr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    return -1;
  }
  *out_fd = out[0];
  return pid;
}

int ExitCode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

int RunCommand(const std::vector<std::string>& argv, const std::string& dir,
               const std::vector<std::string>& env, std::string* output) {
  int fd = -1;
  const pid_t pid = Spawn(argv, dir, env, "", &fd);
  output->clear();
  if (pid < 0) {
    *output = "cannot start " + argv[0];
    return -1;
  }
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      output->append(buf, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(fd);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return ExitCode(status);
}

ServerChild::~ServerChild() {
  if (out_ >= 0) close(out_);
  if (pid_ > 0 && !exited_) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
}

bool ServerChild::Start(const std::string& server, const std::string& dir,
                        const std::vector<std::string>& env, const std::vector<std::string>& args,
                        std::string* error) {
  std::vector<std::string> argv = {server, "--listen", "127.0.0.1:0"};
  argv.insert(argv.end(), args.begin(), args.end());
  int fd = -1;
  pid_ = Spawn(argv, dir, env, dir + "/server.err", &fd);
  exited_ = false;
  if (pid_ < 0) {
    *error = "cannot start " + server;
    return false;
  }
  // The ready line: "morvane-server listening on http://127.0.0.1:PORT".
  std::string line;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buf[256];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  out_ = fd;  // kept open: the server writes nothing more there, and must not meet a closed pipe
  const size_t colon = line.rfind(':');
  port_ = colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
  if (!line.starts_with("morvane-server listening on http://") || port_ <= 0) {
    *error = "no ready line from the server (" + line + ")";
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    Reaped(status);
    return false;
  }
  return true;
}

void ServerChild::Reaped(int status) {
  exited_ = true;
  status_ = status;
}

bool ServerChild::Alive() {
  if (pid_ < 0 || exited_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) Reaped(status);
  return !exited_;
}

std::string ServerChild::Ending() const {
  if (!exited_) return "running";
  if (WIFSIGNALED(status_)) return "killed by signal " + std::to_string(WTERMSIG(status_));
  return "exit " + std::to_string(ExitCode(status_));
}

int ServerChild::OpenFds() const {
  const std::string path = "/proc/" + std::to_string(pid_) + "/fd";
  DIR* d = opendir(path.c_str());
  if (d == nullptr) return -1;
  int n = 0;
  while (const dirent* e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

long ServerChild::RssKiB() const {
  const std::string path = "/proc/" + std::to_string(pid_) + "/status";
  FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, "VmRSS:", 6) == 0) kib = std::atol(line + 6);
  }
  std::fclose(f);
  return kib;
}

bool ServerChild::Stop(double seconds) {
  if (!Alive()) return exited_ && WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
  kill(pid_, SIGTERM);
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(seconds));
  while (Alive() && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (Alive()) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    Reaped(status);
    return false;
  }
  return WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
}

}  // namespace morvane::loadfaults
