// The fastest answer an HTTP server of the kind Morvane once ran on can
// give: civetweb, tcp_nodelay on, answering every request with the same
// 200-byte body. The benchmarks compare Morvane's small answers with it.
//
//   morvane-bare-civetweb PORT [THREADS]      (port 0: any free port)
//
// Prints "ready PORT" when it listens; runs until SIGTERM or SIGINT.
#include <civetweb.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Answer(mg_connection* conn, void* /*data*/) {
  static const std::string body = [] {
    std::string b;
    while (b.size() < 200) b += "TICK|0|2003/07/07|15:00:00|50.15|50.2|50.2|400|123456|800|\r\n";
    b.resize(200);
    return b;
  }();
  mg_printf(conn, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: %zu\r\n\r\n",
            body.size());
  mg_write(conn, body.data(), body.size());
  return 200;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PORT [THREADS]\n", argv[0]);
    return 2;
  }
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  const std::string ports = std::string("127.0.0.1:") + argv[1];
  const char* threads = argc > 2 ? argv[2] : "32";
  const char* options[] = {
      "listening_ports",   ports.c_str(), "num_threads", threads, "tcp_nodelay", "1",
      "enable_keep_alive", "yes",         nullptr};
  mg_init_library(0);
  mg_callbacks callbacks{};
  mg_context* ctx = mg_start(&callbacks, nullptr, options);
  if (ctx == nullptr) {
    std::fprintf(stderr, "cannot listen on %s\n", ports.c_str());
    return 1;
  }
  mg_set_request_handler(ctx, "/", &Answer, nullptr);
  mg_server_port port{};
  mg_get_server_ports(ctx, 1, &port);
  std::printf("ready %d\n", port.port);
  std::fflush(stdout);
  int sig = 0;
  sigwait(&stop, &sig);
  mg_stop(ctx);
  mg_exit_library();
  return 0;
}
