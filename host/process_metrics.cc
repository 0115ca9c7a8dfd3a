#include "process_metrics.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace morvane::host {

namespace {

using prometheus::MetricType;

// /proc/self/stat's fields after the command name (which may hold blanks
// and parentheses, so the split starts after its last ')'). Field 3 of the
// manual page is the first.
bool StatFields(std::string* rest) {
  std::ifstream in("/proc/self/stat");
  std::string line;
  if (!std::getline(in, line)) return false;
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return false;
  *rest = line.substr(close + 1);
  return true;
}

double BootTimeSeconds() {
  std::ifstream in("/proc/stat");
  std::string key;
  double value = 0;
  while (in >> key) {
    if (key == "btime" && (in >> value)) return value;
    in.ignore(1 << 16, '\n');
  }
  return 0;
}

int OpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int n = 0;
  while (const dirent* e = readdir(dir)) {
    if (e->d_name[0] != '.') ++n;
  }
  closedir(dir);
  return n - 1;  // the directory's own descriptor
}

}  // namespace

ProcessMetrics::ProcessMetrics() {
  std::string rest;
  const double boot = BootTimeSeconds();
  const long ticks = sysconf(_SC_CLK_TCK);
  if (boot <= 0 || ticks <= 0 || !StatFields(&rest)) return;
  // starttime is field 22; `rest` starts at field 3.
  std::istringstream fields(rest);
  std::string field;
  for (int i = 3; i < 22 && fields >> field; ++i) {
  }
  unsigned long long start_ticks = 0;
  if (fields >> start_ticks) {
    start_time_seconds_ = boot + static_cast<double>(start_ticks) / static_cast<double>(ticks);
  }
}

void ProcessMetrics::Collect(Families* out) const {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) == 0) {
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    AddSingle(out, "process_cpu_seconds_total", "Total user and system CPU time spent in seconds.",
              MetricType::Counter, cpu);
  }
  std::ifstream statm("/proc/self/statm");
  unsigned long long pages = 0;
  unsigned long long resident = 0;
  if (statm >> pages >> resident) {
    const auto page = static_cast<double>(sysconf(_SC_PAGESIZE));
    AddSingle(out, "process_resident_memory_bytes", "Resident memory size in bytes.",
              MetricType::Gauge, static_cast<double>(resident) * page);
    AddSingle(out, "process_virtual_memory_bytes", "Virtual memory size in bytes.",
              MetricType::Gauge, static_cast<double>(pages) * page);
  }
  if (const int fds = OpenDescriptors(); fds >= 0) {
    AddSingle(out, "process_open_fds", "Number of open file descriptors.", MetricType::Gauge, fds);
  }
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    AddSingle(out, "process_max_fds", "Maximum number of open file descriptors.", MetricType::Gauge,
              static_cast<double>(limit.rlim_cur));
  }
  if (start_time_seconds_ > 0) {
    AddSingle(out, "process_start_time_seconds",
              "Start time of the process since unix epoch in seconds.", MetricType::Gauge,
              start_time_seconds_);
  }
}

}  // namespace morvane::host
