#include "support/settings_location.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "support/error.h"
#include "support/http_client.h"
#include "support/registry.h"
#include "support/test_env.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using testing::ScopedCwd;
using testing::ScopedEnv;
using testing::TempDir;
using testing::WriteFile;

// A one-answer-fits-all HTTP server on 127.0.0.1, on a port the kernel picks.
// It records the request lines it saw.
class LoopbackHttpServer {
 public:
  LoopbackHttpServer(int status, std::string body) : status_(status), body_(std::move(body)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      ADD_FAILURE() << "cannot listen on loopback";
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackHttpServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> RequestLines() const {
    const std::lock_guard guard(mu_);
    return requests_;
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const int conn = ::accept(listener_, nullptr, nullptr);
      if (conn < 0) continue;
      std::string request;
      char buf[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ::read(conn, buf, sizeof buf);
        if (n <= 0) break;
        request.append(buf, static_cast<std::size_t>(n));
      }
      {
        const std::lock_guard guard(mu_);
        requests_.push_back(request.substr(0, request.find("\r\n")));
      }
      const std::string answer = "HTTP/1.1 " + std::to_string(status_) +
                                 " X\r\nContent-Length: " + std::to_string(body_.size()) +
                                 "\r\nConnection: close\r\n\r\n" + body_;
      std::size_t sent = 0;
      while (sent < answer.size()) {
        const ssize_t n = ::write(conn, answer.data() + sent, answer.size() - sent);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
      ::close(conn);
    }
  }

  int status_;
  std::string body_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mu_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A loopback port nobody listens on: connecting is refused at once.
int ClosedLoopbackPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ::bind(s, reinterpret_cast<sockaddr*>(&addr), len);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(s);
  return ntohs(addr.sin_port);
}

class FakeRegistry final : public RegistryReader {
 public:
  FakeRegistry(std::string server, std::string firm, std::string role, std::string custom)
      : values_{std::move(server), std::move(firm), std::move(role), std::move(custom)} {}
  std::string ReadValue(std::string_view name) const override {
    if (name == "iniServer") return values_[0];
    if (name == "iniFirm") return values_[1];
    if (name == "iniRole") return values_[2];
    if (name == "iniCustom") return values_[3];
    return "unexpected";
  }

 private:
  std::string values_[4];
};

// Counts downloads and answers with a fixed list of bodies in turn.
class FakeHttp final : public HttpClient {
 public:
  explicit FakeHttp(int status, std::vector<std::string> bodies = {"[MORVANE]\nDBUSER=web"})
      : status_(status), bodies_(std::move(bodies)) {}
  HttpResponse Get(const std::string& /*url*/) const override {
    const std::size_t n = calls_++;
    return HttpResponse{status_, bodies_[n % bodies_.size()]};
  }
  std::size_t calls() const { return calls_; }

 private:
  int status_;
  std::vector<std::string> bodies_;
  mutable std::atomic<std::size_t> calls_{0};
};

// Every test runs in its own current directory and system configuration
// directory, with the platform stand-ins restored afterwards.
class SettingsLocation : public ::testing::Test {
 protected:
  SettingsLocation()
      : cwd_guard_(cwd_.path()), sysconf_env_("MORVANE_SYSCONFDIR", sysconf_.path().c_str()) {}
  ~SettingsLocation() override {
    SetRegistryReaderForTesting(nullptr);
    SetHttpClientForTesting(nullptr);
  }

  TempDir cwd_;
  TempDir sysconf_;
  ScopedCwd cwd_guard_;
  ScopedEnv sysconf_env_;
};

fs::path ExecutableDir() {
  return fs::read_symlink("/proc/self/exe").parent_path();
}

TEST_F(SettingsLocation, LookupOrderIsRedoneOnEveryCall) {
  const FakeHttp http(404);
  SetHttpClientForTesting(&http);
  // A name no other test uses, since the executable's directory is shared.
  const std::string name = "lookup-" + std::to_string(::getpid()) + ".ini";
  const fs::path own = ExecutableDir() / name;
  struct Remove {
    fs::path p;
    ~Remove() { fs::remove(p); }
  } cleanup{own};

  EXPECT_EQ(omsIniFile(name)->FileName(), "./omsurl.ini");
  EXPECT_EQ(http.calls(), 1u);

  WriteFile(sysconf_ / name, "[S]\nfrom=sysconf\n");
  EXPECT_EQ(omsIniFile(name)->ReadString("S", "from", ""), "sysconf");

  WriteFile(own, "[S]\nfrom=own\n");
  EXPECT_EQ(omsIniFile(name)->ReadString("S", "from", ""), "own");

  WriteFile(cwd_ / name, "[S]\nfrom=cwd\n");
  const std::shared_ptr<const TIniFile> in_cwd = omsIniFile(name);
  EXPECT_EQ(in_cwd->ReadString("S", "from", ""), "cwd");
  EXPECT_EQ(in_cwd->FileName(), "./" + name);

  // A changed file is read afresh, a removed one is no longer found.
  WriteFile(cwd_ / name, "[S]\nfrom=cwd, edited\n");
  EXPECT_EQ(omsIniFile(name)->ReadString("S", "from", ""), "cwd, edited");
  fs::remove(cwd_ / name);
  EXPECT_EQ(omsIniFile(name)->ReadString("S", "from", ""), "own");
  fs::remove(own);
  EXPECT_EQ(omsIniFile(name)->ReadString("S", "from", ""), "sysconf");
  EXPECT_EQ(http.calls(), 1u);
}

TEST_F(SettingsLocation, EmptyNameMeansOmsIniAndDirectoriesAreNotFiles) {
  const FakeHttp http(404);
  SetHttpClientForTesting(&http);
  fs::create_directory(cwd_ / "oms.ini");  // not a file: passed over
  WriteFile(sysconf_ / "oms.ini", "[MORVANE]\nMaxConnection=3\n");
  EXPECT_EQ(omsIniFile()->ReadString("MORVANE", "MaxConnection", "10"), "3");
  EXPECT_EQ(http.calls(), 0u);
}

TEST_F(SettingsLocation, NameWithADirectoryIsNeverLookedFor) {
  const FakeHttp http(404);
  SetHttpClientForTesting(&http);
  fs::create_directory(cwd_ / "sub");
  WriteFile(cwd_ / "sub" / "holidays.ini", "[2004]\nHoliday=01/01\n");
  for (const std::string& name :
       {(cwd_ / "sub" / "holidays.ini").string(), std::string("sub/holidays.ini")}) {
    const std::shared_ptr<const TIniFile> ini = omsIniFile(name);
    EXPECT_EQ(ini->FileName(), "./omsurl.ini") << name;
    EXPECT_EQ(ini->ReadString("2004", "Holiday", "none"), "none");
  }
  EXPECT_EQ(http.calls(), 2u);
}

TEST_F(SettingsLocation, PageAddressFromTheRegistryValues) {
  LoopbackHttpServer server(200, "[MORVANE]\nDBUSER=downloaded");
  const FakeRegistry registry(server.HostPort(), "acme", "", "desk7");
  SetRegistryReaderForTesting(&registry);
  EXPECT_EQ(SettingsPageAddress(), "http://" + server.HostPort() + "/acme/desk7/omsini.htm");

  const std::shared_ptr<const TIniFile> ini = omsIniFile();
  EXPECT_EQ(ini->FileName(), "./omsurl.ini");
  EXPECT_EQ(ini->ReadString("MORVANE", "DBUSER", "sa"), "downloaded");
  EXPECT_EQ(server.RequestLines(),
            (std::vector<std::string>{"GET /acme/desk7/omsini.htm HTTP/1.1"}));
  EXPECT_EQ(testing::ReadFile(cwd_ / "omsurl.ini"), "[MORVANE]\nDBUSER=downloaded\r\n");

  const FakeRegistry all(server.HostPort(), "f", "r", "c");
  SetRegistryReaderForTesting(&all);
  EXPECT_EQ(SettingsPageAddress(), "http://" + server.HostPort() + "/f/r/c/omsini.htm");
  const FakeRegistry none("", "", "", "");
  SetRegistryReaderForTesting(&none);
  EXPECT_EQ(SettingsPageAddress(), std::string("http://") + kDefaultDownloadHost + "/omsini.htm");
}

TEST_F(SettingsLocation, RegistryStandInFile) {
  WriteFile(sysconf_ / "registry.ini",
            "[Other]\niniFirm=wrong\n[software\\pellaro]\niniServer=h.example\niniFirm=acme\n"
            "iniRole=\n");
  const IniRegistryReader reader;
  EXPECT_EQ(reader.ReadValue("iniServer"), "h.example");
  EXPECT_EQ(reader.ReadValue("iniFirm"), "acme");
  EXPECT_EQ(reader.ReadValue("iniRole"), "");
  EXPECT_EQ(reader.ReadValue("iniCustom"), "");
  EXPECT_EQ(SettingsPageAddress(), "http://h.example/acme/omsini.htm");
  fs::remove(sysconf_ / "registry.ini");
  EXPECT_EQ(reader.ReadValue("iniServer"), "");
}

TEST_F(SettingsLocation, FailedAnswerKeepsTheEarlierDownload) {
  WriteFile(cwd_ / "omsurl.ini", "[MORVANE]\nDBUSER=earlier\r\n");
  LoopbackHttpServer server(404, "not here");
  const FakeRegistry registry(server.HostPort(), "", "", "");
  SetRegistryReaderForTesting(&registry);

  EXPECT_FALSE(SaveDownloadFile(SettingsPageAddress(), "./omsurl.ini"));
  EXPECT_EQ(omsIniFile()->ReadString("MORVANE", "DBUSER", "sa"), "earlier");
  fs::remove(cwd_ / "omsurl.ini");
  EXPECT_EQ(omsIniFile()->ReadString("MORVANE", "DBUSER", "sa"), "sa");
  EXPECT_FALSE(fs::exists(cwd_ / "omsurl.ini"));
  EXPECT_EQ(server.RequestLines().size(), 3u);
}

TEST_F(SettingsLocation, UnreachableHostRaisesToTheReader) {
  WriteFile(cwd_ / "omsurl.ini", "[MORVANE]\nDBUSER=earlier\r\n");
  const FakeRegistry registry("127.0.0.1:" + std::to_string(ClosedLoopbackPort()), "", "", "");
  SetRegistryReaderForTesting(&registry);
  EXPECT_THROW(omsIniFile(), EInOutError);
  EXPECT_THROW(SaveDownloadFile(SettingsPageAddress(), "./omsurl.ini"), EInOutError);
  EXPECT_EQ(testing::ReadFile(cwd_ / "omsurl.ini"), "[MORVANE]\nDBUSER=earlier\r\n");
  // Nothing but the earlier file is left in the directory.
  EXPECT_EQ(std::distance(fs::directory_iterator(cwd_.path()), fs::directory_iterator()), 1);
}

TEST_F(SettingsLocation, ConcurrentDownloadsNeverShowAHalfWrittenFile) {
  // Large, distinct bodies make a torn or partial file show.
  const std::string a = "[MORVANE]\nDBUSER=" + std::string(1 << 20, 'a');
  const std::string b = "[MORVANE]\nDBUSER=" + std::string(1 << 20, 'b');
  const FakeHttp http(200, {a, b});
  SetHttpClientForTesting(&http);
  ASSERT_TRUE(SaveDownloadFile("http://x/omsini.htm", "./omsurl.ini"));

  std::atomic<bool> done{false};
  std::vector<std::thread> writers;
  for (int t = 0; t < 3; ++t) {
    writers.emplace_back([&] {
      for (int i = 0; i < 15; ++i) SaveDownloadFile("http://x/omsini.htm", "./omsurl.ini");
    });
  }
  std::size_t reads = 0;
  std::size_t torn = 0;
  std::thread reader([&] {
    while (!done) {
      const std::string text = testing::ReadFile(cwd_ / "omsurl.ini");
      ++reads;
      if (text != a + "\r\n" && text != b + "\r\n") ++torn;
    }
  });
  for (std::thread& w : writers) w.join();
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0u) << "of " << reads << " reads";
  EXPECT_EQ(std::distance(fs::directory_iterator(cwd_.path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace morvane
