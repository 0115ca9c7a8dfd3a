// What the scenarios of morvane-load-faults share: the options, the store
// directories they run on, their report, and a few helpers.
#ifndef MORVANE_BENCH_LOAD_FAULTS_LOAD_FAULTS_H_
#define MORVANE_BENCH_LOAD_FAULTS_LOAD_FAULTS_H_

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "http_exchange.h"
#include "processes.h"

namespace morvane::loadfaults {

struct Options {
  std::string server;     // morvane-server
  std::string loader;     // morvane-load
  std::string pg_script;  // tests/pg_cluster.sh
  std::string work;       // scratch directory, remade
  double seconds = 60;    // length of the load
  int abandon = 2000;     // clients that go away
  int ticks_per_day = 4000;
  int max_connection = 4;
  bool postgres = true;
  std::string only;
};

// The demo market's days: five trading days ending on the server's frozen
// today, 2026-12-09 (a Wednesday), whose clock stands at 16:30.
inline constexpr const char* kToday = "2026-12-09";
inline constexpr const char* kServerClock = "2026-12-09 16:30:00";

// A directory with oms.ini, aliases.ini, the stores and the diagnostic log.
struct StoreDir {
  std::string dir;
  std::vector<std::string> Env() const;  // for the server and morvane-load
  std::string LogPath() const { return dir + "/KMDL.log"; }
};

struct Result {
  std::string name;
  bool pass = true;
  std::vector<std::string> figures;
  void Note(const std::string& line) { figures.push_back(line); }
  void Fail(const std::string& line) {
    pass = false;
    figures.push_back("FAULT: " + line);
  }
};

// How answers under load compare with the answers given alone.
struct Tally {
  std::atomic<long> served{0};      // byte-identical to the answer alone
  std::atomic<long> refused{0};     // the limit page
  std::atomic<long> mismatched{0};  // anything else
  std::string first_mismatch;       // guarded by the caller's lock
};

// Writes `text` to `path` in one write.
bool WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);

// Requests of every mode, 0 to 6, for `product` over the demo store's days.
std::vector<std::string> EveryModeTargets(const std::string& product);

// Every target's answer alone; false (with the target in *bad) when one is
// not a complete 200 answer.
bool SoloAnswers(int port, const std::vector<std::string>& targets,
                 std::map<std::string, std::string>* solo, std::string* bad);

// `threads` clients, each asking for the targets in turn from a place of
// its own, until `stop` is set or `seconds` have passed; each answer goes to
// `check`, which returns false for a wrong one.
void RunClients(int threads, double seconds, const std::vector<std::string>& targets, int port,
                const std::function<bool(const std::string&, const Answer&)>& check,
                std::atomic<bool>* stop);

// Lines of the log that are not whole: not ended by CR LF, or holding a
// time stamp after their start (two writers' bytes run together).
int BrokenLogLines(const std::string& log, std::string* first);

// Notes the length of the store's log and fails `r` if a line is not
// whole. Each server started on a frozen clock begins the log afresh (its
// day differs from the file's), so a scenario checks it before the next.
void CheckLog(const StoreDir& store, Result* r);

// Descriptors back to at most `fds` within `seconds`: the count seen last.
int SettleFds(ServerChild& server, int fds, double seconds);

// Descriptors more after a load than before that are not a leak: the engine
// keeps the links its requests used idle for the next ones (a day file each),
// and which of them are kept depends on which requests overlapped last. A
// leak per request would be thousands after a load of thousands.
inline constexpr int kKeptLinkFds = 4;

// Resident size back under `limit_kib` within `seconds` (the server gives
// memory back to the system a moment after a burst): the size seen last.
long SettleRss(ServerChild& server, long limit_kib, double seconds);

// Growth of the resident size that counts as noise: allocator pages kept for
// reuse. A leak per request would be far beyond it after thousands of them.
inline constexpr long kRssNoiseKiB = 4096;

std::string Kib(long kib);
void Sleep(double seconds);

Result LoadScenario(const Options& o, const StoreDir& store);
Result ClientsGoneScenario(const Options& o, const StoreDir& store);
Result SettingsScenario(const Options& o, const StoreDir& store);
Result AppendScenario(const Options& o, const StoreDir& store);
Result DamageScenario(const Options& o, const StoreDir& store);
Result PostgresScenario(const Options& o);

// The settings file the scenarios write: MaxConnection first, `extra`
// lines last.
std::string SettingsText(const Options& o, const std::string& extra);

// Starts the server on `store`; false with the reason in *r.
bool StartServer(const Options& o, const StoreDir& store, ServerChild* server, Result* r);

}  // namespace morvane::loadfaults

#endif  // MORVANE_BENCH_LOAD_FAULTS_LOAD_FAULTS_H_
