// morvane-server: a small HTTP server that loads the Morvane extension and
// hands it every request.
//
//   morvane-server [--listen ADDR:PORT] [--threads N] [--extension PATH] ...
//                  (morvane-server --help lists every option)
//
// Prints one line with its address when it is ready; on SIGINT or SIGTERM it
// stops accepting, lets the requests in flight finish (for a bounded time),
// tells the extension, unloads it and exits 0.
#include <limits.h>
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <boost/beast/version.hpp>
#include <boost/version.hpp>
#include <cmath>
#include <memory>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "coding_settings.h"
#include "extension_handler.h"
#include "extension_loader.h"
#include "host_limits.h"
#include "http_server.h"
#include "monitoring.h"
#include "version_strings.h"
#include "web/extension_abi.h"

namespace {

using morvane::host::ExtensionHandler;
using morvane::host::ExtensionLoader;
using morvane::host::HostLimits;
using morvane::host::HttpServer;
using morvane::host::Monitoring;

struct Options {
  std::string listen = "127.0.0.1:8080";
  std::string extension;
  std::string clock;
  HostLimits limits;
  morvane::host::MonitoringOptions monitoring;
};

constexpr const char* kUsage =
    "Usage: morvane-server [options]\n"
    "\n"
    "Serves Morvane's historical market data over HTTP: every request, whatever\n"
    "its path and method, goes to the Morvane extension library.\n"
    "\n"
    "Options:\n"
    "  --listen ADDR:PORT    address to listen on (default 127.0.0.1:8080); port 0\n"
    "                        picks a free port, printed when ready\n"
    "  --threads N           threads that serve connections and run requests\n"
    "                        (default 16); a connection holds one only while its\n"
    "                        request is being answered\n"
    "  --extension PATH      the extension library (default: libmorvane.so beside\n"
    "                        this program)\n"
    "  --clock \"YYYY-MM-DD HH:MM:SS\"\n"
    "                        fix the extension's clock at that local time\n"
    "                        (sets MORVANE_CLOCK)\n"
    "  --max-body BYTES      largest request body accepted (default 1048576);\n"
    "                        larger bodies get 413 without reaching the extension\n"
    "  --idle-timeout SEC    close a connection silent this long, new or between\n"
    "                        requests (default 15)\n"
    "  --header-timeout SEC  a request head must arrive whole within this\n"
    "                        (default 10)\n"
    "  --body-timeout SEC    a request body must arrive whole within this, or 400\n"
    "                        (default 30)\n"
    "  --write-timeout SEC   a client that reads nothing for this long loses its\n"
    "                        answer and connection (default 30)\n"
    "  --drain-timeout SEC   on SIGTERM, how long requests in flight may take to\n"
    "                        finish before every connection is closed (default 10)\n"
    "  --max-connections N   open connections in all (default 10000, at most the\n"
    "                        descriptor limit allows)\n"
    "  --max-per-address N   open connections from one client address (default\n"
    "                        512; raise it behind a load balancer)\n"
    "  --max-active-per-address N\n"
    "                        requests from one client address running at once;\n"
    "                        more wait their turn (default 4; raise it behind a\n"
    "                        load balancer)\n"
    "  --admin-listen ADDR:PORT\n"
    "                        also serve /metrics (Prometheus), /healthz,\n"
    "                        /readyz and the chart page /chart on this address\n"
    "                        (off by default; keep it on loopback or a private\n"
    "                        network)\n"
    "  --access-log PATH     append one line per request to PATH (the combined\n"
    "                        format, then duration, bytes sent, mode, outcome);\n"
    "                        SIGHUP reopens it (off by default)\n"
    "  --compression LIST    codings offered to clients that ask for one, with\n"
    "                        their levels: \"zstd:1,gzip:1\" (the default), a\n"
    "                        part of it (\"zstd\", \"gzip:6\"), or \"off\"\n"
    "  --help                show this text\n"
    "  --version             show the version strings\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "morvane-server: %s\n(see morvane-server --help)\n", message.c_str());
  return 2;
}

// Whole or decimal seconds ("0.5"), kept as milliseconds.
bool ParseSeconds(std::string_view text, HostLimits::Duration* out) {
  if (text.empty() || text.size() > 12) return false;
  double seconds = 0;
  double scale = 0;
  for (char c : text) {
    if (c == '.' && scale == 0) {
      scale = 1;
    } else if (c >= '0' && c <= '9') {
      if (scale > 0) {
        scale /= 10;
        seconds += (c - '0') * scale;
      } else {
        seconds = seconds * 10 + (c - '0');
      }
    } else {
      return false;
    }
  }
  const double ms = std::round(seconds * 1000);
  if (ms < 1 || ms > 86400000) return false;
  *out = HostLimits::Duration(static_cast<long long>(ms));
  return true;
}

HostLimits::Duration* TimeoutOption(std::string_view arg, HostLimits* limits) {
  if (arg == "--idle-timeout") return &limits->idle_timeout;
  if (arg == "--header-timeout") return &limits->header_timeout;
  if (arg == "--body-timeout") return &limits->body_timeout;
  if (arg == "--write-timeout") return &limits->write_timeout;
  if (arg == "--drain-timeout") return &limits->drain_timeout;
  return nullptr;
}

size_t* CountOption(std::string_view arg, HostLimits* limits) {
  if (arg == "--max-connections") return &limits->max_connections;
  if (arg == "--max-per-address") return &limits->max_per_address;
  if (arg == "--max-active-per-address") return &limits->max_active_per_address;
  return nullptr;
}

bool ParseCount(std::string_view text, unsigned long long max, unsigned long long* out) {
  if (text.empty() || text.size() > 19) return false;
  unsigned long long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned long long>(c - '0');
  }
  if (v > max) return false;
  *out = v;
  return true;
}

// "YYYY-MM-DD HH:MM:SS" by shape; the extension judges the values.
bool LooksLikeClock(std::string_view t) {
  constexpr std::string_view kShape = "dddd-dd-dd dd:dd:dd";
  if (t.size() != kShape.size()) return false;
  for (size_t i = 0; i < t.size(); ++i) {
    if (kShape[i] == 'd' ? (t[i] < '0' || t[i] > '9') : t[i] != kShape[i]) return false;
  }
  return true;
}

std::string DefaultExtensionPath() {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (n <= 0) return "libmorvane.so";
  std::string dir(self, static_cast<size_t>(n));
  dir.erase(dir.rfind('/') + 1);
  return dir + "libmorvane.so";
}

int PrintVersion() {
  const auto strings = morvane::host::ReadOwnVersionStrings();
  std::string version;
  for (const auto& [key, value] : strings) {
    if (key == "FileVersion") version = value;
  }
  std::printf("morvane-server %s\n",
              version.empty() ? "(no version information)" : version.c_str());
  for (const auto& [key, value] : strings) std::printf("%s: %s\n", key.c_str(), value.c_str());
  std::printf("Boost.Beast %d (Boost %d.%d)\n", BOOST_BEAST_VERSION, BOOST_VERSION / 100000,
              BOOST_VERSION / 100 % 1000);
  return 0;
}

int ParseOptions(int argc, char** argv, Options* options, bool* done) {
  *done = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      *done = true;
      return 0;
    } else if (arg == "--version") {
      *done = true;
      return PrintVersion();
    } else if (arg == "--listen") {
      if (!value(&options->listen) || options->listen.find(':') == std::string::npos) {
        return UsageError("--listen needs ADDR:PORT");
      }
    } else if (arg == "--threads" || arg == "--workers") {
      unsigned long long n = 0;
      if (!value(&v) || !ParseCount(v, 1024, &n) || n == 0) {
        return UsageError(std::string(arg) + " needs a number from 1 to 1024");
      }
      options->limits.threads = static_cast<int>(n);
    } else if (HostLimits::Duration* d = TimeoutOption(arg, &options->limits)) {
      if (!value(&v) || !ParseSeconds(v, d)) {
        return UsageError(std::string(arg) + " needs seconds, from 0.001 to 86400");
      }
    } else if (size_t* limit = CountOption(arg, &options->limits)) {
      unsigned long long n = 0;
      if (!value(&v) || !ParseCount(v, 1000000, &n) || n == 0) {
        return UsageError(std::string(arg) + " needs a number from 1 to 1000000");
      }
      *limit = static_cast<size_t>(n);
    } else if (arg == "--admin-listen") {
      if (!value(&options->monitoring.admin_listen) ||
          options->monitoring.admin_listen.find(':') == std::string::npos) {
        return UsageError("--admin-listen needs ADDR:PORT");
      }
    } else if (arg == "--access-log") {
      if (!value(&options->monitoring.access_log) || options->monitoring.access_log.empty()) {
        return UsageError("--access-log needs a path");
      }
    } else if (arg == "--extension") {
      if (!value(&options->extension) || options->extension.empty()) {
        return UsageError("--extension needs a path");
      }
    } else if (arg == "--clock") {
      if (!value(&options->clock) || !LooksLikeClock(options->clock)) {
        return UsageError("--clock needs \"YYYY-MM-DD HH:MM:SS\"");
      }
    } else if (arg == "--compression") {
      std::string problem;
      if (!value(&v) || !morvane::host::ParseCodingSettings(v, &options->limits.coding, &problem)) {
        return UsageError("--compression: " +
                          (problem.empty() ? std::string("needs a list, or off") : problem));
      }
    } else if (arg == "--max-body") {
      unsigned long long n = 0;
      if (!value(&v) || !ParseCount(v, 0xFFFFFFFFull, &n)) {
        return UsageError("--max-body needs a byte count up to 4294967295");
      }
      options->limits.max_body = static_cast<size_t>(n);
    } else {
      return UsageError("unknown option " + std::string(arg));
    }
  }
  return 0;
}

// Descriptors: one per connection. The usual soft limit (1,024) would turn
// clients away long before memory or time run short, so it is raised to the
// hard limit, and the connection limit kept under what remains.
void FitConnectionsToDescriptors(HostLimits* limits) {
  rlimit fds{};
  if (getrlimit(RLIMIT_NOFILE, &fds) != 0) return;
  if (fds.rlim_cur < fds.rlim_max) {
    fds.rlim_cur = fds.rlim_max;
    setrlimit(RLIMIT_NOFILE, &fds);
    getrlimit(RLIMIT_NOFILE, &fds);
  }
  // Room for the stores, the log and the extension's own files.
  constexpr rlim_t kReserve = 128;
  if (fds.rlim_cur != RLIM_INFINITY && fds.rlim_cur > kReserve &&
      limits->max_connections > fds.rlim_cur - kReserve) {
    limits->max_connections = fds.rlim_cur - kReserve;
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool done = false;
  if (const int rc = ParseOptions(argc, argv, &options, &done); rc != 0 || done) return rc;

  // The signals are taken by sigwait below; blocked before any thread
  // starts, so the server's threads inherit the mask and never take them.
  // A shell starts background jobs with SIGINT ignored, and an ignored
  // signal is dropped rather than left pending for sigwait: restore the
  // default first.
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  // SIGHUP reopens the access log (logrotate) and never stops the server.
  sigset_t waited = stop_signals;
  sigaddset(&waited, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &waited, nullptr);
  signal(SIGPIPE, SIG_IGN);
  FitConnectionsToDescriptors(&options.limits);
  // One heap per thread (the allocator's default, up to eight per core)
  // keeps each thread's peak; a few shared heaps keep the server small.
  mallopt(M_ARENA_MAX, 4);

  // The extension reads its clock setting when it first looks at the
  // clock, so the variable must be in place before it is loaded.
  if (!options.clock.empty()) setenv("MORVANE_CLOCK", options.clock.c_str(), 1);

  if (options.extension.empty()) options.extension = DefaultExtensionPath();
  ExtensionLoader extension;
  std::string error;
  if (!extension.Load(options.extension, &error)) {
    std::fprintf(stderr, "morvane-server: %s\n", error.c_str());
    return 1;
  }
  HSE_VERSION_INFO version{};
  if (!extension.GetVersion(&version)) {
    std::fprintf(stderr, "morvane-server: %s refused GetExtensionVersion\n",
                 options.extension.c_str());
    return 1;
  }

  const size_t colon = options.listen.rfind(':');
  const std::string host = options.listen.substr(0, colon);
  ExtensionHandler handler(extension);
  auto server = std::make_unique<HttpServer>(options.limits);
  auto monitoring =
      Monitoring::Create(options.monitoring, options.limits, extension, handler, &error);
  const bool listening =
      monitoring && server->Listen(host, options.listen.substr(colon + 1), handler, &error);
  if (!listening || !monitoring->ListenAdmin(*server, &error)) {
    std::fprintf(stderr, "morvane-server: %s\n", error.c_str());
    if (listening) server->Drain([] { return true; });
    if (monitoring) monitoring->Stop();
    server.reset();
    extension.Terminate();
    extension.Unload();
    return 1;
  }
  std::printf("morvane-server listening on http://%s:%d\n", host.c_str(), server->port());
  if (!monitoring->AdminAddress().empty()) {
    std::printf("morvane-server admin pages on %s\n", monitoring->AdminAddress().c_str());
  }
  std::fflush(stdout);

  int signal_number = 0;
  while (sigwait(&waited, &signal_number) != 0 || signal_number == SIGHUP) {
    if (signal_number == SIGHUP) monitoring->Reopen();
    signal_number = 0;
  }

  // Requests in flight may finish within the drain bound; a second signal
  // cuts it short.
  const bool clean = server->Drain([&] {
    const timespec now{0, 0};
    return sigtimedwait(&stop_signals, nullptr, &now) > 0;
  });
  monitoring->Stop();
  if (!clean) {
    // A thread is still inside the extension: it cannot be told to stop,
    // nor unloaded under it. Everything it holds goes with the process.
    std::fprintf(stderr,
                 "morvane-server: a request was still running after the drain; exiting without "
                 "unloading the extension\n");
    std::fflush(stderr);
    _exit(0);
  }
  server.reset();
  extension.Terminate();
  extension.Unload();
  return 0;
}
