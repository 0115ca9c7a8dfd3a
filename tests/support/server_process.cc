#include "support/server_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <stdexcept>

#include "support/test_env.h"

namespace morvane::testing {

ServerProcess::ServerProcess(const std::filesystem::path& work_dir,
                             const std::map<std::string, std::string>& env,
                             const std::vector<std::string>& extra_args) {
  const std::string server = (BuildDir() / "morvane-server").string();
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> args = {server, "--listen", "127.0.0.1:0"};
  args.insert(args.end(), extra_args.begin(), extra_args.end());

  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    if (chdir(work_dir.c_str()) != 0) _exit(127);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);

  // Read the ready line, which names the address with its port.
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (got.find('\n') == std::string::npos) {
    pollfd p{out[0], POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[256];
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  close(out[0]);
  ready_line_ = got.substr(0, got.find('\n'));
  std::smatch m;
  static const std::regex kPort(R"(127\.0\.0\.1:(\d+))");
  if (!std::regex_search(ready_line_, m, kPort)) {
    Stop();
    throw std::runtime_error("morvane-server did not report its address: '" + got + "'");
  }
  port_ = std::stoi(m[1]);
  // Printed with the ready line, in the same write.
  static const std::regex kAdmin(R"(admin pages on http://127\.0\.0\.1:(\d+))");
  if (std::regex_search(got, m, kAdmin)) admin_port_ = std::stoi(m[1]);
}

ServerProcess::~ServerProcess() {
  Stop();
}

int ServerProcess::Stop() {
  if (pid_ <= 0) return 0;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

namespace {

std::string Dechunk(const std::string& body) {
  std::string out;
  size_t pos = 0;
  while (pos < body.size()) {
    const size_t eol = body.find("\r\n", pos);
    if (eol == std::string::npos) break;
    const size_t len = std::stoul(body.substr(pos, eol - pos), nullptr, 16);
    pos = eol + 2;
    if (len == 0) break;
    out.append(body, pos, len);
    pos += len + 2;
  }
  return out;
}

}  // namespace

int ConnectLoopback(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

HttpAnswer RawHttp(int port, const std::string& request) {
  const int fd = ConnectLoopback(port);
  if (fd < 0) throw std::runtime_error("connect failed");
  size_t sent = 0;
  while (sent < request.size()) {
    const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  HttpAnswer a;
  char buf[65536];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 60000) <= 0) break;
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    a.raw.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  const size_t line_end = a.raw.find("\r\n");
  const size_t head_end = a.raw.find("\r\n\r\n");
  if (line_end == std::string::npos || head_end == std::string::npos) return a;
  a.status_line = a.raw.substr(0, line_end);
  if (a.status_line.size() > 12) a.status = std::atoi(a.status_line.c_str() + 9);
  a.headers = a.raw.substr(line_end + 2, head_end + 2 - (line_end + 2));
  a.body = a.raw.substr(head_end + 4);
  std::string lower = a.headers;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.find("transfer-encoding: chunked") != std::string::npos) {
    a.chunked = true;
    a.body = Dechunk(a.body);
  }
  return a;
}

HttpAnswer HttpGet(int port, const std::string& target) {
  return RawHttp(port,
                 "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

HttpAnswer HttpPost(int port, const std::string& target, const std::string& body) {
  return RawHttp(port, "POST " + target +
                           " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                           std::to_string(body.size()) + "\r\n\r\n" + body);
}

}  // namespace morvane::testing
