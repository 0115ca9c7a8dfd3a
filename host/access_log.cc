#include "access_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace morvane::host {

namespace {

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int OpenForAppend(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
}

// "[07/Jul/2003:16:30:00 +0200]": the month's name in English whatever the
// locale, as log readers expect.
void AppendTime(std::time_t when, std::string* out) {
  std::tm t{};
  localtime_r(&when, &t);
  const long offset_minutes = t.tm_gmtoff / 60;
  const long abs_minutes = offset_minutes < 0 ? -offset_minutes : offset_minutes;
  char text[64];
  const int n =
      std::snprintf(text, sizeof(text), "[%02d/%s/%04d:%02d:%02d:%02d %c%02ld%02ld]", t.tm_mday,
                    kMonths[t.tm_mon % 12], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec,
                    offset_minutes < 0 ? '-' : '+', abs_minutes / 60, abs_minutes % 60);
  out->append(text, static_cast<size_t>(n > 0 ? n : 0));
}

void AppendQuotedHeader(const HttpRequest& request, std::string_view name, std::string* out) {
  out->push_back('"');
  const std::string* value = request.Header(name);
  if (value == nullptr) {
    out->push_back('-');
  } else {
    AccessLog::AppendEscaped(*value, false, out);
  }
  out->push_back('"');
}

}  // namespace

void AccessLog::AppendEscaped(std::string_view text, bool blank, std::string* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b >= 0x7f || c == '"' || c == '\\' || (blank && c == ' ')) {
      const char escaped[4] = {'\\', 'x', kHex[b >> 4], kHex[b & 15]};
      out->append(escaped, 4);
    } else {
      out->push_back(c);
    }
  }
}

void AccessLog::FormatLine(const FinishedRequest& r, std::time_t when, std::string* line) {
  const HttpRequest& request = r.request;
  line->clear();
  AppendEscaped(request.remote_address.empty() ? "-" : request.remote_address, true, line);
  line->append(" - - ");
  AppendTime(when, line);
  line->append(" \"");
  if (request.method.empty()) {
    line->push_back('-');
  } else {
    AppendEscaped(request.method, true, line);
    line->push_back(' ');
    AppendEscaped(request.path.empty() ? "/" : request.path, true, line);
    if (!request.query.empty()) {
      line->push_back('?');
      AppendEscaped(request.query, true, line);
    }
    line->append(request.version == 10 ? " HTTP/1.0" : " HTTP/1.1");
  }
  char numbers[96];
  const double seconds = std::chrono::duration<double>(r.Duration()).count();
  int n = std::snprintf(numbers, sizeof(numbers), "\" %d %llu ", r.status == 0 ? 499 : r.status,
                        static_cast<unsigned long long>(request.IsHead() ? 0 : r.body_bytes));
  line->append(numbers, static_cast<size_t>(n));
  AppendQuotedHeader(request, "Referer", line);
  line->push_back(' ');
  AppendQuotedHeader(request, "User-Agent", line);
  n = std::snprintf(numbers, sizeof(numbers), " %.3f %llu ", seconds > 0 ? seconds : 0.0,
                    static_cast<unsigned long long>(r.bytes_sent));
  line->append(numbers, static_cast<size_t>(n));
  line->append(ModeName(r.mode));
  line->push_back(' ');
  line->append(OutcomeName(r.outcome));
  line->push_back('\n');
}

std::unique_ptr<AccessLog> AccessLog::Open(const std::string& path, std::string* error) {
  const int fd = OpenForAppend(path);
  if (fd < 0) {
    *error = "cannot open the access log " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<AccessLog>(new AccessLog(path, fd));
}

AccessLog::AccessLog(std::string path, int fd)
    : path_(std::move(path)), fd_(fd), writer_([this] { Run(); }) {}

AccessLog::~AccessLog() {
  Close();
}

void AccessLog::Finished(const FinishedRequest& request) {
  // One buffer per thread, grown once to the longest line: formatting costs
  // no allocation per request.
  thread_local std::string line;
  FormatLine(request, std::time(nullptr), &line);
  bool wake = false;
  {
    std::lock_guard lock(mu_);
    if (stopping_ || waiting_.size() + line.size() > kMaxWaiting) {
      dropped_.fetch_add(1, std::memory_order_relaxed);
      return;
    }
    const bool was_below = waiting_.size() < kFlushBytes;
    waiting_ += line;
    wake = was_below && waiting_.size() >= kFlushBytes;
  }
  lines_.fetch_add(1, std::memory_order_relaxed);
  if (wake) wake_.notify_one();
}

void AccessLog::Reopen() {
  {
    std::lock_guard lock(mu_);
    reopen_ = true;
  }
  wake_.notify_one();
}

void AccessLog::Close() {
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (writer_.joinable()) writer_.join();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

void AccessLog::WriteOut(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size() && fd_ >= 0) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      write_errors_.fetch_add(1, std::memory_order_relaxed);
      return;
    }
    done += static_cast<size_t>(n);
  }
}

void AccessLog::Run() {
  std::string batch;
  std::unique_lock lock(mu_);
  for (;;) {
    wake_.wait_for(lock, std::chrono::seconds(1),
                   [this] { return stopping_ || reopen_ || waiting_.size() >= kFlushBytes; });
    batch.swap(waiting_);
    const bool reopen = reopen_;
    const bool stop = stopping_;
    reopen_ = false;
    lock.unlock();
    WriteOut(batch);
    batch.clear();
    if (reopen) {
      // A new file at the path (logrotate moved the old one away). Lines
      // written meanwhile wait; when the path cannot be opened they go on
      // to the old file.
      const int fd = OpenForAppend(path_);
      if (fd >= 0) {
        ::close(fd_);
        fd_ = fd;
      } else {
        write_errors_.fetch_add(1, std::memory_order_relaxed);
      }
    }
    lock.lock();
    if (stop && waiting_.empty()) return;
  }
}

void AccessLog::Collect(Families* out) const {
  using prometheus::MetricType;
  AddSingle(out, "morvane_access_log_lines_total", "Lines handed to the access log.",
            MetricType::Counter, static_cast<double>(lines_.load(std::memory_order_relaxed)));
  AddSingle(out, "morvane_access_log_dropped_lines_total",
            "Access log lines dropped because the file could not keep up.", MetricType::Counter,
            static_cast<double>(dropped_.load(std::memory_order_relaxed)));
  AddSingle(out, "morvane_access_log_write_errors_total",
            "Failed writes or reopens of the access log.", MetricType::Counter,
            static_cast<double>(write_errors_.load(std::memory_order_relaxed)));
}

}  // namespace morvane::host
