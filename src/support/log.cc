#include "support/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <system_error>

#include "support/clock.h"
#include "support/date_time.h"
#include "support/error.h"
#include "support/version_info.h"

namespace morvane {
namespace {

// The open log. Every member but the count is guarded by `lock`.
struct LogState {
  std::mutex lock;
  int fd = -1;
  std::string file_name;
  std::atomic<uint64_t> lines_written{0};
};

LogState& State() {
  // Never destroyed: threads and static destructors of other units may still
  // log during shutdown, after this unit's statics would be gone.
  static LogState* const state = new LogState;
  return *state;
}

// One line per system call: the message and the line end go out together,
// so no other writer's bytes can land between them. Requires: state.lock.
void WriteLine(int fd, std::string_view message) {
  static constexpr char kCrLf[] = "\r\n";
  iovec parts[2] = {{const_cast<char*>(message.data()), message.size()},
                    {const_cast<char*>(kCrLf), 2}};
  std::size_t left = message.size() + 2;
  int first = 0;
  while (left > 0) {
    const ssize_t n = ::writev(fd, parts + first, 2 - first);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      throw EInOutError(std::string("Log write failed: ") + ErrnoText());
    }
    // A short write (disk nearly full) is finished rather than left as half a
    // line that the next line would run on from.
    auto done = static_cast<std::size_t>(n);
    left -= done;
    while (first < 2 && done >= parts[first].iov_len) {
      done -= parts[first++].iov_len;
    }
    if (first < 2) {
      parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + done;
      parts[first].iov_len -= done;
    }
  }
}

TDateTime LocalDateOf(time_t t) {
  tm local{};
  localtime_r(&t, &local);
  return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

std::string HeaderLine1(const TProgramVersionInfo& v) {
  std::string line = v.GetVersionString(8);  // ProductName
  if (line.empty()) {
    line = v.GetVersionString(7);  // OriginalFilename
  }
  if (const std::string internal = v.GetVersionString(4); !internal.empty()) {
    line.append("(").append(internal).append(")");
  }
  line.append(" ").append(v.GetVersionString(3));  // FileVersion
  return line;
}

std::string HeaderLine2(const TProgramVersionInfo& v) {
  std::string line = v.GetVersionString(1);  // CompanyName
  if (!line.empty()) {
    line += " ";
  }
  line += v.GetVersionString(5);  // LegalCopyright
  return line;
}

// Requires: state.lock.
void CloseLocked(LogState& s) {
  if (s.fd >= 0) {
    ::close(s.fd);
  }
  s.fd = -1;
  s.file_name.clear();
}

// Closes the log when the program ends or the library is unloaded; the state
// itself stays, so a late writer finds a closed log rather than freed memory.
struct CloseAtShutdown {
  CloseAtShutdown() = default;
  CloseAtShutdown(const CloseAtShutdown&) = delete;
  CloseAtShutdown& operator=(const CloseAtShutdown&) = delete;
  ~CloseAtShutdown() { omsLogClose(); }
};
const CloseAtShutdown g_close_at_shutdown;

}  // namespace

std::string LogPath() {
  // Nothing in the process changes the environment once threads run.
  const char* env = std::getenv("MORVANE_LOG");  // NOLINT(concurrency-mt-unsafe)
  if (env != nullptr && *env != '\0') {
    return env;
  }
  return "/var/log/morvane/KMDL.log";
}

void InitialLock() {
  omsLogOpen(LogPath());
}

int omsLogOpenFile(const std::string& path) {
  // Appending also after truncation keeps concurrent writers (a second
  // process started the same day) from overwriting each other's lines.
  int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || LocalDateOf(st.st_mtime) != Today()) {
    flags |= O_TRUNC;
  }
  const int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) {
    throw EInOutError("Cannot open log " + path + ": " + ErrnoText());
  }
  return fd;
}

void omsLogOpen(const std::string& path) {
  LogState& s = State();
  const std::lock_guard guard(s.lock);
  CloseLocked(s);
  try {
    s.fd = omsLogOpenFile(path);
    s.file_name = path;
  } catch (...) {
    return;
  }
  try {
    const TProgramVersionInfo version_info;
    WriteLine(s.fd, HeaderLine1(version_info));
    if (const std::string line2 = HeaderLine2(version_info); !line2.empty()) {
      WriteLine(s.fd, line2);
    }
  } catch (...) {
    // A program without readable version strings still gets its log.
  }
}

void omsLogMsg(std::string_view message) {
  LogState& s = State();
  const std::lock_guard guard(s.lock);
  if (s.file_name.empty()) {
    return;
  }
  WriteLine(s.fd, message);
  s.lines_written.fetch_add(1, std::memory_order_relaxed);
}

uint64_t LogLinesWritten() {
  return State().lines_written.load(std::memory_order_relaxed);
}

void DumpToFile(std::string_view message) {
  LogLine(message);
}

void LogLine(std::string_view message) {
  try {
    omsLogMsg(message);
  } catch (...) {
    // The log must never take a request down; the line is lost.
  }
}

void omsLogClose() {
  LogState& s = State();
  const std::lock_guard guard(s.lock);
  CloseLocked(s);
}

std::string LogFileName() {
  LogState& s = State();
  const std::lock_guard guard(s.lock);
  return s.file_name;
}

}  // namespace morvane
