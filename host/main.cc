// morvane-server: a small HTTP server that loads the Morvane extension and
// hands it every request.
//
//   morvane-server [--listen ADDR:PORT] [--threads N] [--extension PATH]
//                  [--clock "YYYY-MM-DD HH:MM:SS"] [--max-body BYTES]
//
// Prints one line with its address when it is ready; on SIGINT or SIGTERM it
// stops accepting, lets the requests in flight finish, tells the extension,
// unloads it and exits 0.
#include <civetweb.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "extension_loader.h"
#include "http_binding.h"
#include "server_stop.h"
#include "version_strings.h"
#include "web/extension_abi.h"

namespace {

using morvane::host::BindingOptions;
using morvane::host::ExtensionLoader;
using morvane::host::HttpBinding;

struct Options {
  std::string listen = "127.0.0.1:8080";
  // Each kept-alive connection holds a worker thread, and the extension
  // refuses requests beyond its pool limit (10 by default) anyway; 32 leaves
  // room for idle connections and for the refusals to be answered quickly.
  int threads = 32;
  std::string extension;
  std::string clock;
  size_t max_body = 1024 * 1024;
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
    "  --threads N           worker threads (default 32)\n"
    "  --extension PATH      the extension library (default: libmorvane.so beside\n"
    "                        this program)\n"
    "  --clock \"YYYY-MM-DD HH:MM:SS\"\n"
    "                        fix the extension's clock at that local time\n"
    "                        (sets MORVANE_CLOCK)\n"
    "  --max-body BYTES      largest request body accepted (default 1048576);\n"
    "                        larger bodies get 413 without reaching the extension\n"
    "  --help                show this text\n"
    "  --version             show the version strings\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "morvane-server: %s\n(see morvane-server --help)\n", message.c_str());
  return 2;
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
  std::printf("civetweb %s\n", mg_version());
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
    } else if (arg == "--threads") {
      unsigned long long n = 0;
      if (!value(&v) || !ParseCount(v, 1024, &n) || n == 0) {
        return UsageError("--threads needs a number from 1 to 1024");
      }
      options->threads = static_cast<int>(n);
    } else if (arg == "--extension") {
      if (!value(&options->extension) || options->extension.empty()) {
        return UsageError("--extension needs a path");
      }
    } else if (arg == "--clock") {
      if (!value(&options->clock) || !LooksLikeClock(options->clock)) {
        return UsageError("--clock needs \"YYYY-MM-DD HH:MM:SS\"");
      }
    } else if (arg == "--max-body") {
      unsigned long long n = 0;
      if (!value(&v) || !ParseCount(v, 0xFFFFFFFFull, &n)) {
        return UsageError("--max-body needs a byte count up to 4294967295");
      }
      options->max_body = static_cast<size_t>(n);
    } else {
      return UsageError("unknown option " + std::string(arg));
    }
  }
  return 0;
}

int LogCivetweb(const mg_connection* /*conn*/, const char* message) {
  std::fprintf(stderr, "morvane-server: %s\n", message);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool done = false;
  if (const int rc = ParseOptions(argc, argv, &options, &done); rc != 0 || done) return rc;

  // The signals are taken by sigwait below; blocked before any thread
  // starts, so civetweb's threads inherit the mask and never take them.
  // A shell starts background jobs with SIGINT ignored, and an ignored
  // signal is dropped rather than left pending for sigwait: restore the
  // default first.
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

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

  BindingOptions binding_options;
  binding_options.max_body = options.max_body;
  HttpBinding binding(extension, binding_options);

  const std::string threads = std::to_string(options.threads);
  const char* config[] = {"listening_ports", options.listen.c_str(), "num_threads", threads.c_str(),
                          // Without it the header block and the first body bytes wait for the
                          // client's delayed acknowledgement, some 40 ms per answer.
                          "tcp_nodelay", "1", "enable_keep_alive", "yes", "keep_alive_timeout_ms",
                          "5000", nullptr};
  mg_callbacks callbacks{};
  callbacks.log_message = &LogCivetweb;

  mg_init_library(0);
  mg_context* ctx = mg_start(&callbacks, nullptr, config);
  if (ctx == nullptr) {
    std::fprintf(stderr, "morvane-server: cannot listen on %s\n", options.listen.c_str());
    extension.Terminate();
    extension.Unload();
    mg_exit_library();
    return 1;
  }
  // "/" is a prefix of every path: every request reaches the extension.
  mg_set_request_handler(ctx, "/", &HttpBinding::Handle, &binding);

  std::string host = options.listen.substr(0, options.listen.rfind(':'));
  mg_server_port ports[4];
  const int n = mg_get_server_ports(ctx, 4, ports);
  const int port = n > 0 ? ports[0].port : 0;
  std::printf("morvane-server listening on http://%s:%d\n", host.c_str(), port);
  std::fflush(stdout);

  int signal_number = 0;
  while (sigwait(&stop_signals, &signal_number) != 0) {
  }

  // civetweb stops sending the moment it is told to stop, so the requests
  // in flight are let finish first; new ones are turned away meanwhile. A
  // second signal stops at once.
  binding.StopTakingRequests();
  const timespec tick{0, 50 * 1000 * 1000};
  while (binding.InFlight() > 0) {
    if (sigtimedwait(&stop_signals, nullptr, &tick) > 0) break;
  }
  // Closes the listening socket and the idle connections and waits for the
  // workers.
  morvane::host::StopServer(ctx, host, port);
  extension.Terminate();
  extension.Unload();
  mg_exit_library();
  return 0;
}
