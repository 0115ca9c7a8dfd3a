// morvane-load-faults: load and faults against a real morvane-server on
// loopback, bounded in requests and time, with figures and a verdict.
//
// It makes a demo store (SQLite files; and, unless --no-postgres, the same
// market in a throwaway PostgreSQL cluster made with tests/pg_cluster.sh),
// starts morvane-server on it with MaxConnection 4 and its clock frozen at
// 2026-12-09 16:30, and runs these scenarios, each on a server of its own:
//
//   load          4 x MaxConnection clients over modes 0-6 for --seconds:
//                 each answer byte-identical to the same request's answer
//                 alone, or the limit page; descriptors and resident size
//                 before and after; every log line whole
//   clients-gone  --abandon clients that read the first bytes of a long tick
//                 history and go away (half with a reset): the server stays
//                 up, every module comes back to the pool, no descriptor
//                 stays open
//   settings      oms.ini rewritten (temporary file and rename, then in
//                 place) while requests read it: no answer reflects a half
//                 file
//   append        morvane-load appends ticks to today's table while requests
//                 read it: each answer a whole snapshot (a prefix of the
//                 final answer ending at a load's boundary)
//   damage        a day file truncated, overwritten in the middle, its header
//                 broken, and truncated under readers: the requests over that
//                 day end early with the failure logged; other days answer
//                 as before; the server stays up
//   postgres      the PostgreSQL server stopped (fast and immediate) during
//                 and between requests and started again: no crash, every
//                 answer after the restart right, without restarting
//                 morvane-server; the module's kept connection to the order
//                 database is reported
//
// Each scenario also checks that every line of the diagnostic log is whole.
// One block per scenario: its figures, then PASS or FAIL. Exit status 0
// when every scenario passes.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "load_faults.h"

namespace morvane::loadfaults {
namespace fs = std::filesystem;

std::vector<std::string> StoreDir::Env() const {
  return {"MORVANE_LOG=" + LogPath(), "MORVANE_ALIASES=" + dir + "/aliases.ini",
          "MORVANE_SYSCONFDIR=" + dir + "/etc", "MORVANE_CLOCK="};
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool SoloAnswers(int port, const std::vector<std::string>& targets,
                 std::map<std::string, std::string>* solo, std::string* bad) {
  for (const std::string& t : targets) {
    const Answer a = Exchange(port, t);
    if (!a.complete || a.status != 200) {
      *bad = t + ": " + (a.complete ? "status " + std::to_string(a.status) : a.failure);
      return false;
    }
    (*solo)[t] = Canonical(a);
  }
  return true;
}

void RunClients(int threads, double seconds, const std::vector<std::string>& targets, int port,
                const std::function<bool(const std::string&, const Answer&)>& check,
                std::atomic<bool>* stop) {
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(seconds));
  std::vector<std::thread> clients;
  for (int i = 0; i < threads; ++i) {
    clients.emplace_back([&, i] {
      std::minstd_rand random(static_cast<unsigned>(i + 1));
      size_t next = random() % targets.size();
      while (!stop->load() && Clock::now() < end) {
        const std::string& t = targets[next++ % targets.size()];
        check(t, Exchange(port, t));
      }
    });
  }
  for (auto& c : clients) c.join();
}

int BrokenLogLines(const std::string& log, std::string* first) {
  int broken = 0;
  size_t pos = 0;
  while (pos < log.size()) {
    const size_t lf = log.find('\n', pos);
    const std::string_view line(log.data() + pos,
                                (lf == std::string::npos ? log.size() : lf + 1) - pos);
    pos += line.size();
    bool bad = !line.ends_with("\r\n");
    // A time stamp "yyyy/mm/dd hh:nn:ss =>" anywhere but at the start.
    for (size_t at = line.find(" =>", 1); !bad && at != std::string_view::npos;
         at = line.find(" =>", at + 1)) {
      bad = at >= 19 && at != 19 && line[at - 3] == ':' && line[at - 6] == ':' &&
            line[at - 9] == ' ' && line[at - 12] == '/' && line[at - 15] == '/';
    }
    if (bad && broken++ == 0) *first = std::string(line.substr(0, 200));
  }
  return broken;
}

void CheckLog(const StoreDir& store, Result* r) {
  std::string first_broken;
  const std::string log = ReadFile(store.LogPath());
  const int broken = BrokenLogLines(log, &first_broken);
  long lines = 0;
  for (char c : log) lines += c == '\n';
  r->Note("log: " + std::to_string(lines) + " lines, " + std::to_string(broken) + " not whole");
  if (broken > 0) r->Fail("log line not whole: " + first_broken);
}

int SettleFds(ServerChild& server, int fds, double seconds) {
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(seconds));
  int now = server.OpenFds();
  while (now > fds && Clock::now() < end && server.Alive()) {
    Sleep(0.1);
    now = server.OpenFds();
  }
  return now;
}

long SettleRss(ServerChild& server, long limit_kib, double seconds) {
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(seconds));
  long now = server.RssKiB();
  while (now > limit_kib && Clock::now() < end && server.Alive()) {
    Sleep(0.1);
    now = server.RssKiB();
  }
  return now;
}

std::string Kib(long kib) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(kib) / 1024.0);
  return text;
}

void Sleep(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

std::vector<std::string> EveryModeTargets(const std::string& product) {
  const std::string p = "/?symbol=" + product;
  return {p + "&mode=0&dateStart=2026/12/7&dateOver=2026/12/9",
          p + "&mode=1&dateStart=2026/12/1&dateOver=2026/12/9",
          p + "&mode=2",
          p + "&mode=3&dateStart=2026/12/8&dateOver=2026/12/9",
          p + "&mode=4&interval=60&dateStart=2026/12/8&dateOver=2026/12/9",
          p + "&mode=5&interval=5&iunit=1&timeStart=10:00&timeOver=12:00",
          p + "&mode=6&interval=300&timeStart=09:30&timeOver=16:00"};
}

std::string SettingsText(const Options& o, const std::string& extra) {
  return "; Morvane settings for the load-and-fault run.\r\n"
         "[MORVANE]\r\n"
         "MaxConnection=" +
         std::to_string(o.max_connection) +
         "\r\n"
         "NominalUpdateTimestamp=16:00:00\r\n"
         "SplitTime=09:00:00\r\n" +
         extra;
}

bool StartServer(const Options& o, const StoreDir& store, ServerChild* server, Result* r) {
  std::string error;
  // The per-address bound is lifted so that the extension's own limit is
  // the one the load meets (every client comes from 127.0.0.1).
  if (!server->Start(o.server, store.dir, store.Env(),
                     {"--clock", kServerClock, "--max-active-per-address", "64"}, &error)) {
    r->Fail(error);
    return false;
  }
  return true;
}

namespace {

constexpr const char* kUsage =
    "usage: morvane-load-faults --server PATH --loader PATH --pg-script PATH --work DIR\n"
    "           [--seconds S] [--abandon N] [--ticks-per-day N] [--no-postgres]\n"
    "           [--only NAME] [--short]\n"
    "\n"
    "Runs load and fault scenarios (load, clients-gone, settings, append, damage,\n"
    "postgres) against morvane-server on loopback and prints their figures.\n"
    "--short: 8 s of load, 200 clients that go away, 1000 ticks per day.\n";

int Usage(const char* what) {
  std::fprintf(stderr, "morvane-load-faults: %s\n%s", what, kUsage);
  return 2;
}

// The SQLite demo store: the tick tables a directory of day files.
bool MakeSqliteStore(const Options& o, StoreDir* store, std::string* error) {
  store->dir = o.work + "/sqlite";
  fs::create_directories(store->dir + "/ticks");
  fs::create_directories(store->dir + "/etc");
  WriteFile(store->dir + "/oms.ini", SettingsText(o, "CalcMode=DC\r\nDBMode=PARADOX\r\n"));
  WriteFile(store->dir + "/aliases.ini",
            "[HISTDATA]\nDRIVER=SQLITE\nPATH=ticks\n\n[Historical]\nDRIVER=SQLITE\n"
            "PATH=historical.db\n\n[plrdata]\nDRIVER=SQLITE\nPATH=plrdata.db\n\n"
            "[omsdata]\nDRIVER=SQLITE\nPATH=omsdata.db\n");
  std::string out;
  if (RunCommand({o.loader, "init"}, store->dir, store->Env(), &out) != 0 ||
      RunCommand({o.loader, "demo", "--end", kToday, "--days", "5", "--symbols", "8",
                  "--ticks-per-day", std::to_string(o.ticks_per_day)},
                 store->dir, store->Env(), &out) != 0) {
    *error = "morvane-load: " + out;
    return false;
  }
  return true;
}

void Print(const Result& r) {
  std::printf("== %s\n", r.name.c_str());
  for (const std::string& f : r.figures) std::printf("   %s\n", f.c_str());
  std::printf("   %s\n", r.pass ? "PASS" : "FAIL");
  std::fflush(stdout);
}

}  // namespace
}  // namespace morvane::loadfaults

int main(int argc, char** argv) {
  using namespace morvane::loadfaults;  // NOLINT: the program's own names
  Options o;
  bool short_run = false;
  bool seconds_set = false, abandon_set = false, ticks_set = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--short") {
      short_run = true;
      continue;
    }
    if (arg == "--no-postgres") {
      o.postgres = false;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (i + 1 >= argc) return Usage(("unknown option or missing value: " + arg).c_str());
    const std::string v = argv[++i];
    if (arg == "--server") {
      o.server = v;
    } else if (arg == "--loader") {
      o.loader = v;
    } else if (arg == "--pg-script") {
      o.pg_script = v;
    } else if (arg == "--work") {
      o.work = v;
    } else if (arg == "--only") {
      o.only = v;
    } else if (arg == "--seconds") {
      o.seconds = std::atof(v.c_str());
      seconds_set = true;
    } else if (arg == "--abandon") {
      o.abandon = std::atoi(v.c_str());
      abandon_set = true;
    } else if (arg == "--ticks-per-day") {
      o.ticks_per_day = std::atoi(v.c_str());
      ticks_set = true;
    } else {
      return Usage(("unknown option " + arg).c_str());
    }
  }
  if (short_run) {
    if (!seconds_set) o.seconds = 8;
    if (!abandon_set) o.abandon = 200;
    if (!ticks_set) o.ticks_per_day = 1000;
  }
  if (o.server.empty() || o.loader.empty() || o.work.empty() ||
      (o.postgres && o.pg_script.empty()) || o.seconds <= 0 || o.abandon < 1 ||
      o.ticks_per_day < 10) {
    return Usage("--server, --loader, --work (and --pg-script) are needed");
  }
  // The commands run in the store directories.
  for (std::string* path : {&o.server, &o.loader, &o.pg_script}) {
    if (!path->empty()) *path = std::filesystem::absolute(*path).string();
  }
  signal(SIGPIPE, SIG_IGN);
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);

  // Whatever happens, the run ends.
  const double limit = 6 * o.seconds + 600;
  std::thread([limit] {
    std::this_thread::sleep_for(std::chrono::duration<double>(limit));
    std::fprintf(stderr, "morvane-load-faults: still running after %.0f s, giving up\n", limit);
    std::_Exit(3);
  }).detach();

  std::error_code ec;
  std::filesystem::remove_all(o.work, ec);
  std::filesystem::create_directories(o.work);
  o.work = std::filesystem::canonical(o.work).string();
  StoreDir store;
  std::string error;
  const auto made = Clock::now();
  if (!MakeSqliteStore(o, &store, &error)) {
    std::fprintf(stderr, "morvane-load-faults: %s\n", error.c_str());
    return 2;
  }
  std::printf("demo store: 8 products, 5 days, %d ticks per product and day, made in %.1f s\n",
              o.ticks_per_day, std::chrono::duration<double>(Clock::now() - made).count());

  const std::vector<std::pair<std::string, Result (*)(const Options&, const StoreDir&)>> scenarios =
      {{"load", &LoadScenario},
       {"clients-gone", &ClientsGoneScenario},
       {"settings", &SettingsScenario},
       {"append", &AppendScenario},
       {"damage", &DamageScenario}};
  bool all = true;
  for (const auto& [name, run] : scenarios) {
    if (!o.only.empty() && o.only != name) continue;
    Result r = run(o, store);
    r.name = name;
    Print(r);
    all = all && r.pass;
  }
  if (o.postgres && (o.only.empty() || o.only == "postgres")) {
    Result r = PostgresScenario(o);
    r.name = "postgres";
    Print(r);
    all = all && r.pass;
  }
  return all ? 0 : 1;
}
