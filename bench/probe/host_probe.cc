// morvane-host-probe: holds many hostile connections against morvane-server
// and checks that an ordinary client is still served quickly meanwhile.
//
// The probe starts the server itself on a free loopback port (with the echo
// extension, whose request limit it lifts through MORVANE_ECHO_LIMIT) and
// runs these loads one after another, each for --seconds:
//
//   slow-headers  N clients send a request head one byte every ~10 s, never
//                 finishing it
//   slow-body     N clients send a complete head announcing 100000 body bytes,
//                 then one byte every 2 s
//   slow-read     N clients ask for a long answer (200000 records) with a
//                 4 KiB receive buffer and read 16 bytes every 3 s
//   idle          2N clients connect and send nothing
//   busy          N/10 clients send small requests back to back, each on one
//                 kept-alive connection
//   sigterm       N slow-body clients and one request in flight when the
//                 server gets SIGTERM: it must exit 0 within --drain-bound
//                 seconds (+1) and finish the answer in flight
//
// Clients the server closes come back 100 ms later. Throughout, a canary
// makes one ordinary request every 100 ms on a fresh connection from
// 127.0.0.2 (the load comes from 127.0.0.1, so a per-address limit does not
// touch it) and records its latency; a request fails if it does not get a
// complete 200 answer within 5 s. After each load the probe closes its
// sockets and gives the server 5 s to come back to the descriptor count and
// resident size it had before the first load.
//
// One line per load: clients held at once at the peak, clients closed by the
// server, canary requests, failures and latencies, the server's descriptors
// and resident KiB before/after, and the verdict. A load passes with no
// canary failure, a canary p99 under 100 ms, the descriptors back to where
// they were and the server still running. The exit status is 0 only if
// every load passes.
//
//   morvane-host-probe [--server PATH] [--extension PATH] [--seconds S]
//       [--connections N] [--drain-bound SEC] [--short] [--only NAME]
//       [--server-log PATH] [-- SERVER-OPTION...]
//
// Options after "--" go to the server as given. bench/host-probe builds the
// release tree and runs the probe there.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr auto kCanaryPeriod = milliseconds(100);
constexpr auto kRequestTimeout = milliseconds(5000);
constexpr auto kSettleTimeout = milliseconds(5000);
constexpr auto kReconnectDelay = milliseconds(100);
constexpr long kRssSlackKiB = 8 * 1024;
constexpr double kCanaryP99LimitMs = 100.0;

constexpr const char* kCanaryRequest =
    "GET /?symbol=0005&mode=2 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
constexpr const char* kBusyRequest = "GET /?n=1 HTTP/1.1\r\nHost: x\r\n\r\n";
constexpr const char* kInFlightRequest =
    "GET /?sleep=500&records=3 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";

double MsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

Clock::duration Seconds(double s) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

void SleepUntil(Clock::time_point t, const std::atomic<bool>* stop) {
  while (Clock::now() < t && !(stop && stop->load())) {
    std::this_thread::sleep_for(std::min<Clock::duration>(t - Clock::now(), milliseconds(50)));
  }
}

// ---------------------------------------------------------------------------
// Options

struct Options {
  std::string server = "./morvane-server";
  std::string extension = "./libecho_extension.so";
  std::string server_log;  // empty: the server's stderr is ours
  double seconds = 60;
  int connections = 1000;
  double drain_bound = 10;
  std::string only;
  std::vector<std::string> server_args;
};

constexpr const char* kUsage =
    "Usage: morvane-host-probe [options] [-- server options]\n"
    "\n"
    "Starts morvane-server with the echo extension on a loopback port, holds\n"
    "hostile connections against it (slow-headers, slow-body, slow-read, idle,\n"
    "busy, sigterm) while a canary client measures ordinary requests, and\n"
    "prints one line per load with its verdict. Exits 0 if every load passes.\n"
    "\n"
    "  --server PATH        the server (default ./morvane-server)\n"
    "  --extension PATH     the echo extension (default ./libecho_extension.so)\n"
    "  --seconds S          length of each load (default 60)\n"
    "  --connections N      hostile clients per load (default 1000; idle uses\n"
    "                       2N, busy N/10)\n"
    "  --drain-bound SEC    time the server may take to exit on SIGTERM\n"
    "                       (default 10; one more second is allowed)\n"
    "  --short              5 s per load with 200 clients\n"
    "  --only NAME          run one load only\n"
    "  --server-log PATH    write the server's stderr to PATH\n"
    "  -- ARGS...           pass ARGS to the server\n";

bool ParseNumber(const char* text, double min, double max, double* out) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !(v >= min && v <= max)) return false;
  *out = v;
  return true;
}

// 0 to go on, otherwise the exit status.
int ParseOptions(int argc, char** argv, Options* o) {
  bool short_run = false;
  bool seconds_set = false;
  bool connections_set = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    auto fail = [&](const char* what) {
      std::fprintf(stderr, "morvane-host-probe: %s %s\n%s", argv[i], what, kUsage);
      return 2;
    };
    double v = 0;
    if (arg == "--") {
      o->server_args.assign(argv + i + 1, argv + argc);
      break;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return -1;
    } else if (arg == "--short") {
      short_run = true;
      continue;
    } else if (arg != "--server" && arg != "--extension" && arg != "--server-log" &&
               arg != "--only" && arg != "--seconds" && arg != "--connections" &&
               arg != "--drain-bound") {
      return fail("is unknown");
    } else if (value == nullptr) {
      return fail("needs a value");
    } else if (arg == "--server") {
      o->server = value;
    } else if (arg == "--extension") {
      o->extension = value;
    } else if (arg == "--server-log") {
      o->server_log = value;
    } else if (arg == "--only") {
      o->only = value;
    } else if (arg == "--seconds") {
      if (!ParseNumber(value, 0.5, 86400, &v)) return fail("needs seconds from 0.5");
      o->seconds = v;
      seconds_set = true;
    } else if (arg == "--connections") {
      if (!ParseNumber(value, 1, 100000, &v)) return fail("needs a count from 1");
      o->connections = static_cast<int>(v);
      connections_set = true;
    } else if (arg == "--drain-bound") {
      if (!ParseNumber(value, 0, 3600, &v)) return fail("needs seconds");
      o->drain_bound = v;
    }
    ++i;
  }
  if (short_run && !seconds_set) o->seconds = 5;
  if (short_run && !connections_set) o->connections = 200;
  return 0;
}

// ---------------------------------------------------------------------------
// Sockets

sockaddr_in Loopback(const char* address, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, address, &a.sin_addr);
  return a;
}

// A non-blocking socket whose connect to 127.0.0.1:port has been started,
// -1 on failure. Without a source address the connection comes from
// 127.0.0.1; with one, from there (all of 127/8 is loopback), the port
// still chosen at connect.
int StartConnect(const char* source, int port, int rcvbuf) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (source != nullptr) {
    const int one = 1;
    setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
    const sockaddr_in local = Loopback(source, 0);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
      close(fd);
      return -1;
    }
  }
  if (rcvbuf > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  const int nodelay = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nodelay, sizeof nodelay);
  const sockaddr_in server = Loopback("127.0.0.1", port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0 &&
      errno != EINPROGRESS) {
    close(fd);
    return -1;
  }
  return fd;
}

int SocketError(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

// Waits for events on fd until the deadline, in slices so that a stop
// request is seen: the poll revents, 0 on timeout or stop.
short WaitFd(int fd, short events, Clock::time_point deadline, const std::atomic<bool>* stop) {
  for (;;) {
    const auto now = Clock::now();
    if (now >= deadline || (stop && stop->load())) return 0;
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - now).count() + 1;
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, static_cast<int>(std::min<long long>(left, 100)));
    if (n > 0) return p.revents;
    if (n < 0 && errno != EINTR) return POLLERR;
  }
}

int ConnectBefore(const char* source, int port, Clock::time_point deadline,
                  const std::atomic<bool>* stop) {
  const int fd = StartConnect(source, port, 0);
  if (fd < 0) return -1;
  if (WaitFd(fd, POLLOUT, deadline, stop) == 0 || SocketError(fd) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, std::string_view data, Clock::time_point deadline,
             const std::atomic<bool>* stop) {
  while (!data.empty()) {
    const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n > 0) {
      data.remove_prefix(static_cast<size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (WaitFd(fd, POLLOUT, deadline, stop) == 0) return false;
    } else {
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Answers

constexpr size_t kIncomplete = 0;
constexpr size_t kBroken = static_cast<size_t>(-1);

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The value of a header in a lowercased head, or empty.
std::string_view HeaderValue(std::string_view head, std::string_view name) {
  const std::string key = "\r\n" + std::string(name) + ":";
  const size_t at = head.find(key);
  if (at == std::string_view::npos) return {};
  size_t begin = at + key.size();
  const size_t end = std::min(head.find("\r\n", begin), head.size());
  while (begin < end && head[begin] == ' ') ++begin;
  return head.substr(begin, end - begin);
}

// The length of the one complete answer at the start of buf, kIncomplete
// while more is to come, kBroken if its framing is broken. eof: the
// server has closed, which ends an answer without a declared length.
size_t AnswerLength(std::string_view buf, bool eof) {
  const size_t head_end = buf.find("\r\n\r\n");
  if (head_end == std::string_view::npos) return eof ? kBroken : kIncomplete;
  const std::string head = Lower(buf.substr(0, head_end + 2));
  size_t pos = head_end + 4;
  if (HeaderValue(head, "transfer-encoding").find("chunked") != std::string_view::npos) {
    for (;;) {
      const size_t line_end = buf.find("\r\n", pos);
      if (line_end == std::string_view::npos) return eof ? kBroken : kIncomplete;
      size_t size = 0;
      size_t digits = 0;
      for (size_t i = pos; i < line_end && buf[i] != ';'; ++i, ++digits) {
        const int d = HexDigit(buf[i]);
        if (d < 0 || digits >= 15) return kBroken;
        size = size * 16 + static_cast<size_t>(d);
      }
      if (digits == 0) return kBroken;
      pos = line_end + 2;
      if (size == 0) {
        // Trailer lines up to an empty one.
        for (;;) {
          const size_t end = buf.find("\r\n", pos);
          if (end == std::string_view::npos) return eof ? kBroken : kIncomplete;
          if (end == pos) return end + 2;
          pos = end + 2;
        }
      }
      pos += size + 2;
      if (pos > buf.size()) return eof ? kBroken : kIncomplete;
      if (buf.substr(pos - 2, 2) != "\r\n") return kBroken;
    }
  }
  if (const auto length = HeaderValue(head, "content-length"); !length.empty()) {
    const size_t n = std::strtoull(std::string(length).c_str(), nullptr, 10);
    if (pos + n <= buf.size()) return pos + n;
    return eof ? kBroken : kIncomplete;
  }
  return eof ? buf.size() : kIncomplete;
}

// The body of a complete chunked answer, joined.
std::string Dechunk(std::string_view answer) {
  std::string body;
  size_t pos = answer.find("\r\n\r\n");
  if (pos == std::string_view::npos) return body;
  pos += 4;
  for (;;) {
    const size_t line_end = answer.find("\r\n", pos);
    if (line_end == std::string_view::npos) return body;
    const size_t size =
        std::strtoull(std::string(answer.substr(pos, line_end - pos)).c_str(), nullptr, 16);
    if (size == 0 || line_end + 2 + size > answer.size()) return body;
    body.append(answer.substr(line_end + 2, size));
    pos = line_end + 2 + size + 2;
  }
}

enum class Outcome { kComplete, kClosed, kTimedOut, kMalformed, kStopped };

const char* OutcomeName(Outcome o) {
  static constexpr const char* kNames[] = {"complete", "closed early", "timed out", "malformed",
                                           "stopped"};
  return kNames[static_cast<size_t>(o)];
}

// Reads one answer into *answer; anything after it is dropped.
Outcome ReadAnswer(int fd, Clock::time_point deadline, const std::atomic<bool>* stop,
                   std::string* answer) {
  answer->clear();
  char chunk[16384];
  for (;;) {
    const size_t have = AnswerLength(*answer, false);
    if (have == kBroken) return Outcome::kMalformed;
    if (have != kIncomplete) {
      answer->resize(have);
      return Outcome::kComplete;
    }
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      answer->append(chunk, static_cast<size_t>(n));
    } else if (n == 0) {
      const size_t len = AnswerLength(*answer, true);
      if (len == kBroken) return answer->empty() ? Outcome::kClosed : Outcome::kMalformed;
      answer->resize(len);
      return Outcome::kComplete;
    } else if (errno == EAGAIN || errno == EINTR) {
      if (WaitFd(fd, POLLIN, deadline, stop) == 0) {
        return stop && stop->load() ? Outcome::kStopped : Outcome::kTimedOut;
      }
    } else {
      return Outcome::kClosed;
    }
  }
}

bool Is200(std::string_view answer) {
  return answer.substr(0, 12) == "HTTP/1.1 200";
}

// ---------------------------------------------------------------------------
// The server process

std::atomic<pid_t> g_server_pid{-1};

class Server {
 public:
  ~Server() { Kill(); }

  bool Start(const Options& o, std::string* error) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return Fail(error, "pipe");
    std::vector<std::string> args = {o.server, "--listen", "127.0.0.1:0", "--extension",
                                     o.extension};
    args.insert(args.end(), o.server_args.begin(), o.server_args.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Enough concurrent requests for the echo extension that its pool
    // limit never answers instead of the server.
    std::vector<std::string> env = {"MORVANE_ECHO_LIMIT=1000"};
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::strncmp(*e, "MORVANE_ECHO_LIMIT=", 19) != 0) env.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (!o.server_log.empty()) {
      posix_spawn_file_actions_addopen(&actions, 2, o.server_log.c_str(),
                                       O_WRONLY | O_CREAT | O_APPEND, 0644);
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
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(
        &attr,
        static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP));
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, o.server.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(out[1]);
    if (rc != 0) {
      close(out[0]);
      return Fail(error, std::string("cannot start ") + o.server + ": " + std::strerror(rc));
    }
    pid_ = pid;
    exited_ = false;
    g_server_pid = pid;
    out_ = out[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);

    // The ready line, within 10 s.
    std::string line;
    const auto deadline = Clock::now() + milliseconds(10000);
    while (line.find('\n') == std::string::npos) {
      char buf[256];
      const ssize_t n = read(out_, buf, sizeof buf);
      if (n > 0) {
        line.append(buf, static_cast<size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR) ||
                 WaitFd(out_, POLLIN, deadline, nullptr) == 0) {
        Kill();
        return Fail(error, "no ready line from the server (" + ExitDescription() + ")");
      }
    }
    line.resize(line.find('\n'));
    const size_t colon = line.rfind(':');
    port_ = colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
    if (line.rfind("morvane-server listening on http://", 0) != 0 || port_ <= 0) {
      Kill();
      return Fail(error, "unexpected ready line: " + line);
    }
    return true;
  }

  int port() const { return port_; }
  pid_t pid() const { return pid_; }

  bool Alive() {
    Drain();
    if (pid_ < 0 || exited_) return false;
    if (waitpid(pid_, &status_, WNOHANG) == pid_) Reaped();
    return !exited_;
  }

  // How the server ended.
  std::string ExitDescription() const {
    if (!exited_) return "running";
    char text[64];
    if (WIFEXITED(status_)) {
      std::snprintf(text, sizeof text, "exit %d", WEXITSTATUS(status_));
    } else if (WIFSIGNALED(status_)) {
      std::snprintf(text, sizeof text, "killed by signal %d", WTERMSIG(status_));
    } else {
      std::snprintf(text, sizeof text, "status %d", status_);
    }
    return text;
  }
  bool ExitedZero() const { return exited_ && WIFEXITED(status_) && WEXITSTATUS(status_) == 0; }

  int OpenFds() const {
    const std::string path = "/proc/" + std::to_string(pid_) + "/fd";
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return -1;
    int n = 0;
    while (const dirent* e = readdir(dir)) {
      if (e->d_name[0] != '.') ++n;
    }
    closedir(dir);
    return n;
  }

  long RssKiB() const {
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

  void Signal(int sig) const {
    if (pid_ > 0 && !exited_) kill(pid_, sig);
  }

  // Waits for the exit until the deadline: whether it happened.
  bool WaitExit(Clock::time_point deadline) {
    while (Alive()) {
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
  }

  void Kill() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      if (waitpid(pid_, &status_, 0) == pid_) Reaped();
    }
    if (out_ >= 0) close(out_);
    out_ = -1;
  }

 private:
  static bool Fail(std::string* error, const std::string& message) {
    *error = message;
    return false;
  }
  void Reaped() {
    exited_ = true;
    g_server_pid = -1;
  }
  // Whatever the server writes on stdout after its ready line is dropped.
  void Drain() {
    char buf[4096];
    while (out_ >= 0 && read(out_, buf, sizeof buf) > 0) {
    }
  }

  pid_t pid_ = -1;
  int port_ = 0;
  int out_ = -1;
  bool exited_ = false;
  int status_ = 0;
};

// ---------------------------------------------------------------------------
// The canary: one ordinary request every 100 ms from 127.0.0.2

struct CanaryStats {
  int requests = 0;
  int failures = 0;
  double p50 = 0, p99 = 0, max = 0;
  std::string first_failure;
};

class Canary {
 public:
  explicit Canary(int port) : port_(port) {}
  ~Canary() { Stop(); }
  void Start() {
    thread_ = std::thread([this] { Run(); });
  }
  // Lets the request under way finish (5 s at most).
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  CanaryStats Stats() const {
    CanaryStats s;
    s.requests = static_cast<int>(latencies_.size());
    s.failures = failures_;
    s.first_failure = first_failure_;
    std::vector<double> sorted = latencies_;
    std::sort(sorted.begin(), sorted.end());
    auto at = [&](double q) {
      const auto i = static_cast<size_t>(std::ceil(q * static_cast<double>(sorted.size())));
      return sorted[std::clamp<size_t>(i, 1, sorted.size()) - 1];
    };
    if (!sorted.empty()) {
      s.p50 = at(0.50);
      s.p99 = at(0.99);
      s.max = sorted.back();
    }
    return s;
  }

 private:
  void Run() {
    auto next = Clock::now();
    while (!stop_) {
      const auto start = Clock::now();
      const auto deadline = start + kRequestTimeout;
      std::string answer;
      std::string failure;
      const int fd = ConnectBefore("127.0.0.2", port_, deadline, nullptr);
      if (fd < 0) {
        failure = "connect failed or timed out";
      } else {
        if (!SendAll(fd, kCanaryRequest, deadline, nullptr)) {
          failure = "send failed";
        } else if (const Outcome o = ReadAnswer(fd, deadline, nullptr, &answer);
                   o != Outcome::kComplete) {
          failure = std::string("answer ") + OutcomeName(o);
        } else if (!Is200(answer)) {
          failure = answer.substr(0, answer.find('\r'));
        }
        close(fd);
      }
      latencies_.push_back(MsBetween(start, Clock::now()));
      if (!failure.empty() && failures_++ == 0) first_failure_ = failure;
      next = std::max(next + kCanaryPeriod, Clock::now());
      SleepUntil(next, &stop_);
    }
  }

  const int port_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::vector<double> latencies_;
  int failures_ = 0;
  std::string first_failure_;
};

// ---------------------------------------------------------------------------
// Loads

class Load {
 public:
  virtual ~Load() = default;
  virtual void Start() = 0;
  virtual void Stop() = 0;  // closes every socket
  virtual int Peak() const = 0;
  virtual int Closes() const = 0;
  virtual std::string Notes() const = 0;
};

enum class Kind { kSlowHeaders, kSlowBody, kSlowRead, kIdle };

// Many connections, each a small state machine, driven by one epoll loop.
class Attackers final : public Load {
 public:
  Attackers(Kind kind, int count, int port) : kind_(kind), port_(port), clients_(count) {}
  ~Attackers() override { Stop(); }

  void Start() override {
    thread_ = std::thread([this] { Run(); });
  }
  void Stop() override {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  int Peak() const override { return peak_; }
  int Closes() const override { return closes_; }
  std::string Notes() const override {
    return connect_failures_ > 0 ? "connect failures " + std::to_string(connect_failures_) : "";
  }

 private:
  enum class State { kWaiting, kConnecting, kConnected };
  struct Client {
    int fd = -1;
    State state = State::kWaiting;
    Clock::time_point next;  // the next connect or trickle
    Clock::time_point connect_deadline;
    uint32_t watched = 0;  // the events asked of epoll
    std::string out;
    size_t sent = 0;
    size_t trickled = 0;
  };

  void Run() {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    const auto start = Clock::now();
    for (auto& c : clients_) c.next = start;
    std::vector<epoll_event> events(512);
    auto next_scan = start;
    while (!stop_) {
      const int n = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 10);
      for (int i = 0; i < n; ++i)
        OnEvent(clients_[events[static_cast<size_t>(i)].data.u32],
                events[static_cast<size_t>(i)].events);
      const auto now = Clock::now();
      if (now < next_scan) continue;
      next_scan = now + milliseconds(10);
      for (size_t i = 0; i < clients_.size(); ++i) OnTime(i, now);
    }
    for (auto& c : clients_) {
      if (c.fd >= 0) close(c.fd);
      c.fd = -1;
    }
    close(epoll_);
  }

  uint32_t Interest(const Client& c) const {
    if (c.state == State::kConnecting) return EPOLLOUT;
    uint32_t m = EPOLLRDHUP;
    if (kind_ != Kind::kSlowRead) m |= EPOLLIN;
    if (c.sent < c.out.size()) m |= EPOLLOUT;
    return m;
  }

  void Watch(size_t index, int op) {
    Client& c = clients_[index];
    epoll_event e{};
    e.events = c.watched = Interest(c);
    e.data.u32 = static_cast<uint32_t>(index);
    epoll_ctl(epoll_, op, c.fd, &e);
  }

  // Ends the connection: by the server (counted) or a failed connect.
  void Drop(Client& c, bool by_server) {
    close(c.fd);
    c.fd = -1;
    c.out.clear();
    c.sent = 0;
    if (c.state == State::kConnected) --held_;
    if (by_server) {
      ++closes_;
    } else {
      ++connect_failures_;
    }
    c.state = State::kWaiting;
    c.next = Clock::now() + kReconnectDelay;
  }

  // What a client sends on connecting, and how often it then trickles a
  // byte (or, reading slowly, reads a few): by Kind.
  struct Behaviour {
    const char* head;
    int period_ms;
  };
  static constexpr Behaviour kBehaviours[] = {
      {"GET / HTTP/1.1\r\nHost: x\r\n", 10000},
      {"POST / HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
       "Content-Length: 100000\r\n\r\n",
       2000},
      {"GET /?records=200000 HTTP/1.1\r\nHost: x\r\n\r\n", 3000},
      {"", 0},
  };
  const Behaviour& behaviour() const { return kBehaviours[static_cast<size_t>(kind_)]; }

  void Connected(size_t index) {
    Client& c = clients_[index];
    c.state = State::kConnected;
    peak_ = std::max(peak_.load(), ++held_);
    c.out = behaviour().head;
    c.sent = 0;
    c.trickled = 0;
    // Spread the trickles over the period.
    const int period = behaviour().period_ms;
    c.next = period > 0 ? Clock::now() + milliseconds(random_() % static_cast<unsigned>(period))
                        : Clock::time_point::max();
    Flush(index);
  }

  // Sends what is pending; the rest waits for EPOLLOUT.
  void Flush(size_t index) {
    Client& c = clients_[index];
    while (c.sent < c.out.size()) {
      const ssize_t n = send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
      if (n > 0) {
        c.sent += static_cast<size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && errno == EAGAIN) {
        break;
      } else {
        Drop(c, true);
        return;
      }
    }
    if (c.sent == c.out.size()) {
      c.out.clear();
      c.sent = 0;
    }
    if (Interest(c) != c.watched) Watch(index, EPOLL_CTL_MOD);
  }

  void OnEvent(Client& c, uint32_t events) {
    const auto index = static_cast<size_t>(&c - clients_.data());
    if (c.fd < 0) return;
    if (c.state == State::kConnecting) {
      if ((events & (EPOLLERR | EPOLLHUP)) || SocketError(c.fd) != 0) {
        Drop(c, false);
      } else {
        Connected(index);
      }
      return;
    }
    if (events & EPOLLIN) {
      char buf[4096];
      for (;;) {
        const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
        if (n > 0) continue;
        if (n < 0 && errno == EAGAIN) break;
        if (n < 0 && errno == EINTR) continue;
        Drop(c, true);
        return;
      }
    }
    if (events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
      Drop(c, true);
      return;
    }
    if (events & EPOLLOUT) Flush(index);
  }

  void OnTime(size_t index, Clock::time_point now) {
    Client& c = clients_[index];
    if (c.state == State::kConnecting && now >= c.connect_deadline) {
      Drop(c, false);
      return;
    }
    if (now < c.next) return;
    if (c.state == State::kWaiting) {
      c.fd = StartConnect(nullptr, port_, kind_ == Kind::kSlowRead ? 4096 : 0);
      if (c.fd < 0) {
        ++connect_failures_;
        c.next = now + kReconnectDelay;
        return;
      }
      c.state = State::kConnecting;
      c.connect_deadline = now + milliseconds(10000);
      c.next = Clock::time_point::max();
      Watch(index, EPOLL_CTL_ADD);
      return;
    }
    if (c.state != State::kConnected) return;
    c.next += milliseconds(behaviour().period_ms);
    if (kind_ == Kind::kSlowRead) {
      char buf[16];
      const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) Drop(c, true);
      return;
    }
    // One more byte of a header line that never ends the head, or of the
    // body.
    static constexpr std::string_view kLine = "X-a: b\r\n";
    c.out += kind_ == Kind::kSlowHeaders ? kLine[c.trickled++ % kLine.size()] : 'a';
    Flush(index);
  }

  const Kind kind_;
  const int port_;
  std::vector<Client> clients_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  int epoll_ = -1;
  std::minstd_rand random_{42};
  std::atomic<int> held_{0};
  std::atomic<int> peak_{0};
  std::atomic<int> closes_{0};
  std::atomic<int> connect_failures_{0};
};

// Threads each sending small requests back to back on one kept-alive
// connection, reading each answer to its end.
class BusyClients final : public Load {
 public:
  BusyClients(int count, int port) : count_(count), port_(port) {}
  ~BusyClients() override { Stop(); }

  void Start() override {
    for (int i = 0; i < count_; ++i) threads_.emplace_back([this] { Run(); });
  }
  void Stop() override {
    stop_ = true;
    for (auto& t : threads_) t.join();
    threads_.clear();
  }
  int Peak() const override { return peak_; }
  int Closes() const override { return closes_; }
  std::string Notes() const override {
    std::string notes = "busy answers " + std::to_string(answers_);
    if (not_ok_ > 0) notes += ", not 200 " + std::to_string(not_ok_);
    if (timeouts_ > 0) notes += ", timed out " + std::to_string(timeouts_);
    if (connect_failures_ > 0) notes += ", connect failures " + std::to_string(connect_failures_);
    return notes;
  }

 private:
  void Run() {
    int fd = -1;
    std::string answer;
    auto drop = [&](bool by_server) {
      close(fd);
      fd = -1;
      --held_;
      if (by_server) ++closes_;
    };
    while (!stop_) {
      if (fd < 0) {
        fd = ConnectBefore(nullptr, port_, Clock::now() + kRequestTimeout, &stop_);
        if (fd < 0) {
          if (!stop_) ++connect_failures_;
          SleepUntil(Clock::now() + kReconnectDelay, &stop_);
          continue;
        }
        peak_ = std::max(peak_.load(), ++held_);
      }
      const auto deadline = Clock::now() + kRequestTimeout;
      if (!SendAll(fd, kBusyRequest, deadline, &stop_)) {
        drop(!stop_);
        continue;
      }
      const Outcome o = ReadAnswer(fd, deadline, &stop_, &answer);
      if (o == Outcome::kComplete) {
        ++answers_;
        if (!Is200(answer)) ++not_ok_;
        const std::string head = Lower(answer.substr(0, answer.find("\r\n\r\n") + 2));
        if (HeaderValue(head, "connection") == "close") drop(true);
      } else if (o == Outcome::kStopped) {
        break;
      } else {
        if (o == Outcome::kTimedOut) ++timeouts_;
        drop(o != Outcome::kTimedOut);
      }
    }
    if (fd >= 0) drop(false);
  }

  const int count_;
  const int port_;
  std::vector<std::thread> threads_;
  std::atomic<bool> stop_{false};
  std::atomic<int> held_{0};
  std::atomic<int> peak_{0};
  std::atomic<int> closes_{0};
  std::atomic<long> answers_{0};
  std::atomic<long> not_ok_{0};
  std::atomic<long> timeouts_{0};
  std::atomic<long> connect_failures_{0};
};

// ---------------------------------------------------------------------------
// Scenarios

struct Baseline {
  int fds = -1;
  long rss = -1;
};

struct Row {
  std::string name;
  int held = 0;
  int closes = 0;
  CanaryStats canary;
  Baseline before, after;
  bool pass = false;
  std::vector<std::string> notes;
};

bool CanaryOk(const CanaryStats& s) {
  return s.requests > 0 && s.failures == 0 && s.p99 < kCanaryP99LimitMs;
}

void NoteCanary(Row* row) {
  const CanaryStats& c = row->canary;
  if (c.failures > 0) row->notes.push_back("canary: " + c.first_failure);
  if (c.failures == 0 && c.p99 >= kCanaryP99LimitMs) row->notes.push_back("canary slow");
}

// A few ordinary requests and one kept-alive exchange, so that what the
// server sets up on first use is counted in the baseline.
Baseline WarmUp(Server& server) {
  const auto deadline = Clock::now() + kRequestTimeout;
  std::string answer;
  for (int i = 0; i < 3; ++i) {
    const int fd = ConnectBefore("127.0.0.2", server.port(), deadline, nullptr);
    if (fd < 0) break;
    if (SendAll(fd, kCanaryRequest, deadline, nullptr)) ReadAnswer(fd, deadline, nullptr, &answer);
    close(fd);
  }
  if (const int fd = ConnectBefore(nullptr, server.port(), deadline, nullptr); fd >= 0) {
    if (SendAll(fd, kBusyRequest, deadline, nullptr)) ReadAnswer(fd, deadline, nullptr, &answer);
    close(fd);
  }
  std::this_thread::sleep_for(milliseconds(300));
  return {server.OpenFds(), server.RssKiB()};
}

// Runs a load with the canary for the given time, then waits for the
// server to settle back to the baseline.
Row RunLoad(const std::string& name, Load& load, Server& server, const Baseline& base,
            double seconds) {
  Row row;
  row.name = name;
  row.before = base;
  Canary canary(server.port());
  load.Start();
  canary.Start();
  int peak_fds = 0;
  long peak_rss = 0;
  const auto end = Clock::now() + Seconds(seconds);
  while (Clock::now() < end && server.Alive()) {
    peak_fds = std::max(peak_fds, server.OpenFds());
    peak_rss = std::max(peak_rss, server.RssKiB());
    SleepUntil(std::min(end, Clock::now() + milliseconds(250)), nullptr);
  }
  load.Stop();
  canary.Stop();
  row.held = load.Peak();
  row.closes = load.Closes();
  row.canary = canary.Stats();

  const auto settle = Clock::now() + kSettleTimeout;
  while (server.Alive()) {
    row.after = {server.OpenFds(), server.RssKiB()};
    if ((row.after.fds == base.fds && row.after.rss <= base.rss + kRssSlackKiB) ||
        Clock::now() >= settle) {
      break;
    }
    std::this_thread::sleep_for(milliseconds(100));
  }
  const bool alive = server.Alive();
  row.pass = alive && CanaryOk(row.canary) && row.after.fds == base.fds;
  if (!alive) row.notes.push_back("server gone: " + server.ExitDescription());
  NoteCanary(&row);
  if (alive && row.after.fds != base.fds) row.notes.push_back("descriptors not back");
  if (alive && row.after.rss > base.rss + kRssSlackKiB) row.notes.push_back("RSS not back");
  row.notes.push_back("peak fds " + std::to_string(peak_fds) + ", RSS " + std::to_string(peak_rss) +
                      " KiB");
  if (const std::string n = load.Notes(); !n.empty()) row.notes.push_back(n);
  return row;
}

// SIGTERM with slow-body clients connected and one request in flight: the
// server must exit 0 within the drain bound (and a second) and finish the
// answer under way.
Row RunSigterm(const Options& o, Server& server, const Baseline& base) {
  Row row;
  row.name = "sigterm";
  row.before = base;
  Attackers tricklers(Kind::kSlowBody, o.connections, server.port());
  Canary canary(server.port());
  tricklers.Start();
  canary.Start();
  SleepUntil(Clock::now() + Seconds(std::min(o.seconds, 3.0)), nullptr);
  canary.Stop();
  row.canary = canary.Stats();
  NoteCanary(&row);

  const auto send_deadline = Clock::now() + kRequestTimeout;
  const int fd = ConnectBefore("127.0.0.2", server.port(), send_deadline, nullptr);
  const bool sent = fd >= 0 && SendAll(fd, kInFlightRequest, send_deadline, nullptr);
  if (!sent) row.notes.push_back("in-flight request not sent");
  // Into the extension's sleep before the signal.
  std::this_thread::sleep_for(milliseconds(150));

  const auto bound = Seconds(o.drain_bound + 1);
  const auto signalled = Clock::now();
  Outcome outcome = Outcome::kStopped;
  std::string answer;
  std::thread reader;
  if (sent) {
    reader = std::thread([&] { outcome = ReadAnswer(fd, signalled + bound, nullptr, &answer); });
  }
  server.Signal(SIGTERM);
  const bool exited = server.WaitExit(signalled + bound);
  const double took = MsBetween(signalled, Clock::now()) / 1000.0;
  // Counted before a kill, which would close them all.
  row.held = tricklers.Peak();
  row.closes = tricklers.Closes();
  if (!exited) server.Kill();
  if (reader.joinable()) reader.join();
  if (fd >= 0) close(fd);
  tricklers.Stop();

  const bool complete = outcome == Outcome::kComplete && Is200(answer) && answer.size() >= 5 &&
                        answer.substr(answer.size() - 5) == "0\r\n\r\n" &&
                        Dechunk(answer).find("NOTE|RECORDCOUNT|3|") != std::string::npos;
  char text[96];
  if (exited) {
    std::snprintf(text, sizeof text, "%s after %.2f s", server.ExitDescription().c_str(), took);
  } else {
    std::snprintf(text, sizeof text, "still running after %.2f s, killed", took);
  }
  row.notes.push_back(text);
  if (sent) {
    row.notes.push_back(complete
                            ? "in-flight answer complete"
                            : std::string("in-flight answer ") +
                                  (outcome == Outcome::kComplete ? "wrong" : OutcomeName(outcome)));
  }
  row.pass = exited && server.ExitedZero() && complete && CanaryOk(row.canary);
  return row;
}

void PrintHeader() {
  std::printf("%-13s %6s %7s %6s %5s %8s %8s %8s %11s %19s  %-7s %s\n", "scenario", "held",
              "closes", "canary", "fail", "p50ms", "p99ms", "maxms", "fds b/a", "RSS KiB b/a",
              "verdict", "notes");
  std::fflush(stdout);
}

void PrintRow(const Row& r) {
  auto number = [](long v) { return v < 0 ? std::string("-") : std::to_string(v); };
  const std::string fds = number(r.before.fds) + "/" + number(r.after.fds);
  const std::string rss = number(r.before.rss) + "/" + number(r.after.rss);
  std::string notes;
  for (const auto& n : r.notes) notes += (notes.empty() ? "" : "; ") + n;
  std::printf("%-13s %6d %7d %6d %5d %8.1f %8.1f %8.1f %11s %19s  %-7s %s\n", r.name.c_str(),
              r.held, r.closes, r.canary.requests, r.canary.failures, r.canary.p50, r.canary.p99,
              r.canary.max, fds.c_str(), rss.c_str(), r.pass ? "PASS" : "FAIL", notes.c_str());
  std::fflush(stdout);
}

void OnSignal(int) {
  const pid_t pid = g_server_pid.load();
  if (pid > 0) kill(pid, SIGKILL);
  _exit(130);
}

const char* const kScenarios[] = {"slow-headers", "slow-body", "slow-read",
                                  "idle",         "busy",      "sigterm"};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const int rc = ParseOptions(argc, argv, &o); rc != 0) return rc < 0 ? 0 : rc;
  std::vector<std::string> scenarios;
  for (const char* s : kScenarios) {
    if (o.only.empty() || o.only == s) scenarios.emplace_back(s);
  }
  if (scenarios.empty()) {
    std::fprintf(stderr, "morvane-host-probe: no scenario named %s\n", o.only.c_str());
    return 2;
  }

  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_cur < static_cast<rlim_t>(2 * o.connections + 100)) {
    std::fprintf(stderr, "morvane-host-probe: warning: descriptor limit %llu is below %d\n",
                 static_cast<unsigned long long>(files.rlim_cur), 2 * o.connections + 100);
  }
  signal(SIGPIPE, SIG_IGN);
  signal(SIGINT, &OnSignal);
  signal(SIGTERM, &OnSignal);

  // Whatever the server does, the probe ends: each load takes its time, up
  // to 5 s for the canary's last request and 5 s to settle; the SIGTERM
  // load up to the drain bound.
  const double limit =
      static_cast<double>(scenarios.size()) * (o.seconds + 15) + o.drain_bound + 20;
  std::thread([limit] {
    std::this_thread::sleep_for(Seconds(limit));
    std::fprintf(stderr, "morvane-host-probe: still running after %.0f s, giving up\n", limit);
    const pid_t pid = g_server_pid.load();
    if (pid > 0) kill(pid, SIGKILL);
    _exit(3);
  }).detach();

  Server server;
  std::string error;
  if (!server.Start(o, &error)) {
    std::fprintf(stderr, "morvane-host-probe: %s\n", error.c_str());
    return 2;
  }
  Baseline base = WarmUp(server);
  std::fprintf(stderr,
               "morvane-host-probe: server pid %d on port %d; %.0f s per load, %d clients\n",
               server.pid(), server.port(), o.seconds, o.connections);
  PrintHeader();

  bool all_pass = true;
  for (const auto& name : scenarios) {
    bool restarted = false;
    if (!server.Alive()) {
      server.Kill();
      if (!server.Start(o, &error)) {
        Row row;
        row.name = name;
        row.notes.push_back("server did not start again: " + error);
        PrintRow(row);
        all_pass = false;
        continue;
      }
      base = WarmUp(server);
      restarted = true;
    }
    std::unique_ptr<Load> load;
    if (name == "slow-headers") {
      load = std::make_unique<Attackers>(Kind::kSlowHeaders, o.connections, server.port());
    } else if (name == "slow-body") {
      load = std::make_unique<Attackers>(Kind::kSlowBody, o.connections, server.port());
    } else if (name == "slow-read") {
      load = std::make_unique<Attackers>(Kind::kSlowRead, o.connections, server.port());
    } else if (name == "idle") {
      load = std::make_unique<Attackers>(Kind::kIdle, 2 * o.connections, server.port());
    } else if (name == "busy") {
      load = std::make_unique<BusyClients>(std::max(1, o.connections / 10), server.port());
    }
    Row row = load ? RunLoad(name, *load, server, base, o.seconds) : RunSigterm(o, server, base);
    if (restarted) row.notes.insert(row.notes.begin(), "server restarted");
    PrintRow(row);
    all_pass = all_pass && row.pass;
  }

  if (server.Alive()) {
    server.Signal(SIGTERM);
    server.WaitExit(Clock::now() + Seconds(o.drain_bound + 1));
  }
  server.Kill();
  return all_pass ? 0 : 1;
}
