#include "support/settings_location.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "support/error.h"
#include "support/http_client.h"
#include "support/ini_file_cache.h"
#include "support/registry.h"

namespace morvane {
namespace {

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  if (slash == 0) {
    return "/";
  }
  return path.substr(0, slash);
}

std::string ExecutablePath() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) {
    return {};
  }
  return std::string(buf, static_cast<std::size_t>(n));
}

// The directory of the file that holds this code. The library does not move
// while loaded, so it is worked out once.
const std::string& OwnDirectory() {
  static const std::string dir = []() -> std::string {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&SystemConfigDir), &info) != 0 &&
        info.dli_fname != nullptr && info.dli_fname[0] == '/') {
      return DirectoryOf(info.dli_fname);
    }
    // Linked into the executable, the loader reports the program by the name
    // it was started with (or none), which is unreliable once the current
    // directory changes; the kernel's link is not.
    const std::string exe = ExecutablePath();
    return exe.empty() ? std::string() : DirectoryOf(exe);
  }();
  return dir;
}

// The file descriptor closes on every path out of SaveDownloadFile.
class TempFile {
 public:
  explicit TempFile(const std::string& target) : name_(target + ".XXXXXX") {
    fd_ = ::mkstemp(name_.data());
    if (fd_ < 0) {
      throw EInOutError("Cannot create " + name_ + ": " + ErrnoText());
    }
  }
  ~TempFile() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    if (!kept_) {
      ::unlink(name_.c_str());
    }
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  void Write(std::string_view data) {
    while (!data.empty()) {
      const ssize_t n = ::write(fd_, data.data(), data.size());
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n <= 0) {
        throw EInOutError("Cannot write " + name_ + ": " + ErrnoText());
      }
      data.remove_prefix(static_cast<std::size_t>(n));
    }
  }

  void RenameTo(const std::string& target) {
    // Readers open the file by name; give it the usual permissions rather
    // than mkstemp's owner-only ones.
    ::fchmod(fd_, 0644);
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0 || ::rename(name_.c_str(), target.c_str()) != 0) {
      throw EInOutError("Cannot store " + target + ": " + ErrnoText());
    }
    kept_ = true;
  }

 private:
  std::string name_;
  int fd_ = -1;
  bool kept_ = false;
};

}  // namespace

std::string SystemConfigDir() {
  // Nothing in the process changes the environment once threads run.
  const char* env = std::getenv("MORVANE_SYSCONFDIR");  // NOLINT(concurrency-mt-unsafe)
  if (env != nullptr && *env != '\0') {
    return env;
  }
  return "/etc/morvane";
}

std::string SettingsPageAddress() {
  const RegistryReader& registry = ProcessRegistry();
  const std::string server = registry.ReadValue("iniServer");
  std::string address = "http://" + (server.empty() ? std::string(kDefaultDownloadHost) : server);
  address += "/";
  for (const char* name : {"iniFirm", "iniRole", "iniCustom"}) {
    const std::string segment = registry.ReadValue(name);
    if (!segment.empty()) {
      address += segment;
      address += "/";
    }
  }
  address += kSettingsPageName;
  return address;
}

bool SaveDownloadFile(const std::string& address, const std::string& path) {
  const HttpResponse response = ProcessHttpClient().Get(address);
  if (response.status < 200 || response.status > 299) {
    return false;
  }
  TempFile temp(path);
  temp.Write(response.body);
  temp.Write("\r\n");
  temp.RenameTo(path);
  return true;
}

std::string GetINILocation() {
  SaveDownloadFile(SettingsPageAddress(), kDownloadedSettingsPath);
  return kDownloadedSettingsPath;
}

// The places a settings file named `n` is looked for, in order, each
// handed to `take` until it returns true.
template <typename Take>
void ForEachSettingsPlace(const std::string& name, Take take) {
  const std::string n = name.empty() ? std::string(kSettingsFileName) : name;
  // On Windows a name with a directory or drive joined to another directory
  // names no file; here "./" + "sub/x.ini" would, so such names skip the
  // directory search outright to behave the same everywhere.
  if (n.find('/') != std::string::npos) return;
  // Every request looks the file up: the places after the first are put
  // together only when it is not there.
  std::string path = "./" + n;
  if (take(path)) return;
  for (const std::string& dir : {OwnDirectory(), SystemConfigDir()}) {
    if (dir.empty()) continue;
    path = dir;
    path += '/';
    path += n;
    if (take(path)) return;
  }
}

std::string FindLocalSettingsFile(const std::string& name) {
  std::string found;
  ForEachSettingsPlace(name, [&](const std::string& path) {
    if (!IsRegularFile(path)) return false;
    found = path;
    return true;
  });
  return found;
}

std::shared_ptr<const TIniFile> omsIniFile(const std::string& name) {
  // One look per place: the cache's own stat both finds the file and tells
  // whether the copy it holds is still that file.
  std::shared_ptr<const TIniFile> found;
  ForEachSettingsPlace(name, [&](const std::string& path) {
    found = ReadIniCachedIfFile(path);
    return found != nullptr;
  });
  if (found) return found;
  return std::make_shared<const TIniFile>(GetINILocation());
}

}  // namespace morvane
