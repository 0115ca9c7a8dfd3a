// The load, clients-gone and settings scenarios: many requests at once on
// the SQLite demo store.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <thread>

#include "load_faults.h"

namespace morvane::loadfaults {
namespace {

// Every mode, on three products, with the demo store's days.
std::vector<std::string> MixedTargets() {
  std::vector<std::string> targets;
  for (const char* s : {"0005", "0700", "0001"}) {
    const std::vector<std::string> modes = EveryModeTargets(s);
    targets.insert(targets.end(), modes.begin(), modes.end());
    targets.push_back(std::string("/?symbol=") + s + "&mode=0&timeStart=10:00&timeOver=11:00");
  }
  targets.push_back("/?symbol=0005&dateStart=2026/12/1");  // an ERROR record
  return targets;
}

// Classifies an answer under load against the answers alone.
bool Classify(const std::map<std::string, std::string>& solo, const std::string& target,
              const Answer& a, Tally* tally, std::mutex* lock) {
  if (a.complete && a.status == 200 && Canonical(a) == solo.at(target)) {
    ++tally->served;
    return true;
  }
  if (IsLimitPage(a)) {
    ++tally->refused;
    return true;
  }
  if (tally->mismatched++ == 0) {
    std::lock_guard<std::mutex> hold(*lock);
    tally->first_mismatch = target + " -> " +
                            (a.complete ? "status " + std::to_string(a.status) + ", " +
                                              std::to_string(a.body.size()) + " body bytes"
                                        : a.failure);
  }
  return false;
}

// Leaves `n` long answers at once after their first bytes (with a reset),
// so that every module of a pool of `n` is busy with a request whose client
// is gone, then asks for `n` short answers at once, again and again, until
// all of them are served: the milliseconds from the last hang-up to the end
// of that burst, an upper bound of the time the modules took to be free.
// -2 when the long answers were not all left after their first bytes, -1
// when the modules were not free within 10 s.
double MillisecondsUntilFree(int port, int n, const std::string& long_target,
                             const std::string& probe, const std::string& probe_answer) {
  std::atomic<int> left{0};
  std::vector<std::thread> leaving;
  for (int i = 0; i < n; ++i) {
    leaving.emplace_back([&] {
      // A module of the round before may still be on its way back to the
      // pool when its answer has reached the client: a long request turned
      // away with the limit page asks again a moment later.
      for (int tries = 0; tries < 500; ++tries) {
        const Abandoned a = AbandonAfterFirstBytes(port, long_target, 2000, true, 4096);
        if (a == Abandoned::kAfterFirstBytes) ++left;
        if (a != Abandoned::kRefused) break;
        Sleep(0.002);
      }
    });
  }
  for (auto& t : leaving) t.join();
  const auto gone = Clock::now();
  if (left != n) return -2;
  while (Clock::now() - gone < std::chrono::seconds(10)) {
    std::vector<Answer> answers(static_cast<size_t>(n));
    std::vector<std::thread> burst;
    for (size_t i = 0; i < answers.size(); ++i) {
      burst.emplace_back([&, i] { answers[i] = Exchange(port, probe); });
    }
    for (auto& b : burst) b.join();
    bool all = true;
    for (const Answer& a : answers) {
      all = all && a.complete && a.status == 200 && Canonical(a) == probe_answer;
    }
    if (all) return std::chrono::duration<double, std::milli>(Clock::now() - gone).count();
    Sleep(0.001);
  }
  return -1;
}

}  // namespace

Result LoadScenario(const Options& o, const StoreDir& store) {
  Result r;
  ServerChild server;
  if (!StartServer(o, store, &server, &r)) return r;
  const std::vector<std::string> targets = MixedTargets();
  std::map<std::string, std::string> solo;
  std::string bad;
  if (!SoloAnswers(server.port(), targets, &solo, &bad)) {
    r.Fail("answer alone: " + bad);
    return r;
  }
  const int clients = 4 * o.max_connection;
  std::mutex lock;
  std::atomic<bool> stop{false};
  // A short load first, so that every data module and buffer the load needs
  // exists before the baseline is taken.
  Tally warm;
  RunClients(
      clients, 1.0, targets, server.port(),
      [&](const std::string& t, const Answer& a) { return Classify(solo, t, a, &warm, &lock); },
      &stop);
  Sleep(0.5);
  const int fds_before = server.OpenFds();
  const long rss_before = server.RssKiB();

  Tally tally;
  int peak_fds = 0;
  long peak_rss = 0;
  std::thread watch([&] {
    while (!stop) {
      peak_fds = std::max(peak_fds, server.OpenFds());
      peak_rss = std::max(peak_rss, server.RssKiB());
      Sleep(0.2);
    }
  });
  const auto start = Clock::now();
  RunClients(
      clients, o.seconds, targets, server.port(),
      [&](const std::string& t, const Answer& a) { return Classify(solo, t, a, &tally, &lock); },
      &stop);
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  stop = true;
  watch.join();
  const int fds_after = SettleFds(server, fds_before + kKeptLinkFds, 5);
  const long rss_after = SettleRss(server, rss_before + kRssNoiseKiB, 10);

  char line[256];
  std::snprintf(line, sizeof line,
                "%d clients, MaxConnection %d, %zu requests over modes 0-6, %.1f s: served %ld "
                "(%.0f/s), refused %ld, mismatched %ld",
                clients, o.max_connection, targets.size(), took, tally.served.load(),
                static_cast<double>(tally.served) / took, tally.refused.load(),
                tally.mismatched.load());
  r.Note(line);
  r.Note("descriptors before/peak/after: " + std::to_string(fds_before) + "/" +
         std::to_string(peak_fds) + "/" + std::to_string(fds_after) +
         "; resident before/peak/after: " + Kib(rss_before) + "/" + Kib(peak_rss) + "/" +
         Kib(rss_after));
  CheckLog(store, &r);

  if (!server.Alive()) r.Fail("server gone: " + server.Ending());
  if (tally.mismatched > 0 || warm.mismatched > 0) {
    r.Fail("answer differs from its answer alone: " +
           (tally.mismatched > 0 ? tally.first_mismatch : warm.first_mismatch));
  }
  if (tally.served == 0) r.Fail("nothing served");
  if (fds_after > fds_before + kKeptLinkFds) r.Fail("descriptors not back");
  if (rss_after > rss_before + kRssNoiseKiB) r.Fail("resident size grew");
  if (!server.Stop(15)) r.Fail("no clean exit on SIGTERM: " + server.Ending());
  return r;
}

Result ClientsGoneScenario(const Options& o, const StoreDir& store) {
  Result r;
  ServerChild server;
  if (!StartServer(o, store, &server, &r)) return r;
  // The longest answer of the store: every tick of a product over all days.
  const std::string long_target = "/?symbol=0005&mode=0&dateStart=2026/12/3&dateOver=2026/12/9";
  const std::vector<std::string> normal = {"/?symbol=0700&mode=2",
                                           "/?symbol=0001&mode=1&dateStart=2026/12/1"
                                           "&dateOver=2026/12/9"};
  std::map<std::string, std::string> solo;
  std::string bad;
  if (!SoloAnswers(server.port(), normal, &solo, &bad) ||
      !SoloAnswers(server.port(), {long_target}, &solo, &bad)) {
    r.Fail("answer alone: " + bad);
    return r;
  }
  const size_t long_size = solo[long_target].size();
  // Every data module made before the baseline: each keeps its connection
  // to the order database (a file of its own) for its life, and the engine
  // keeps the links (the day files) that the modules' requests used, long
  // history included, for the next requests.
  {
    std::vector<std::string> warm = normal;
    warm.push_back(long_target);
    std::atomic<bool> stop{false};
    RunClients(
        4 * o.max_connection, 1.0, warm, server.port(),
        [](const std::string&, const Answer&) { return true; }, &stop);
  }
  Sleep(0.3);
  const int fds_before = server.OpenFds();
  const long rss_before = server.RssKiB();

  std::atomic<int> next{0}, refused{0}, failed{0};
  std::atomic<bool> done{false};
  long peak_rss = 0;
  int peak_fds = 0;
  std::thread watch([&] {
    while (!done) {
      peak_fds = std::max(peak_fds, server.OpenFds());
      peak_rss = std::max(peak_rss, server.RssKiB());
      Sleep(0.2);
    }
  });
  std::vector<std::thread> clients;
  const auto start = Clock::now();
  // As many at once as the pool has modules. A client turned away with the
  // limit page (the modules are still busy with requests whose clients have
  // gone) tries again a moment later, so that every one of the --abandon
  // requests is a long answer left after its first bytes.
  for (int i = 0; i < o.max_connection; ++i) {
    clients.emplace_back([&] {
      for (int n; (n = next++) < o.abandon;) {
        // A few hundred bytes up to 16 KiB of an answer that is far longer,
        // through a 4 KiB receive window.
        const size_t first = 200 + static_cast<size_t>(n) * 7919 % 16000;
        for (int tries = 0; tries < 2000; ++tries) {
          const Abandoned a =
              AbandonAfterFirstBytes(server.port(), long_target, first, n % 2 == 0, 4096);
          if (a == Abandoned::kAfterFirstBytes) break;
          if (a == Abandoned::kFailed) {
            ++failed;
            break;
          }
          ++refused;
          Sleep(0.002);
        }
      }
    });
  }
  for (auto& c : clients) c.join();
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  done = true;
  watch.join();

  // Every module back in the pool: MaxConnection requests at once are all
  // served (none refused) once the abandoned requests have ended.
  const auto settle_start = Clock::now();
  bool whole = false;
  std::string last;
  while (!whole && server.Alive() &&
         std::chrono::duration<double>(Clock::now() - settle_start).count() < 30) {
    std::vector<Answer> answers(static_cast<size_t>(o.max_connection));
    std::vector<std::thread> burst;
    for (size_t i = 0; i < answers.size(); ++i) {
      burst.emplace_back([&, i] { answers[i] = Exchange(server.port(), normal[i % 2]); });
    }
    for (auto& b : burst) b.join();
    whole = true;
    for (size_t i = 0; i < answers.size(); ++i) {
      const bool same = answers[i].complete && answers[i].status == 200 &&
                        Canonical(answers[i]) == solo[normal[i % 2]];
      if (!same) last = IsLimitPage(answers[i]) ? "refused" : "wrong answer";
      whole = whole && same;
    }
    if (!whole) Sleep(0.2);
  }
  const double settle = std::chrono::duration<double>(Clock::now() - settle_start).count();
  const int fds_after = SettleFds(server, fds_before + kKeptLinkFds, 10);
  const long rss_after = SettleRss(server, rss_before + kRssNoiseKiB, 10);

  // How soon a module whose client has gone is free again: all of them left
  // at once, a round at a time.
  std::vector<double> freed;
  for (int round = 0; round < 10 && whole && server.Alive(); ++round) {
    freed.push_back(MillisecondsUntilFree(server.port(), o.max_connection, long_target, normal[0],
                                          solo[normal[0]]));
    if (freed.back() < 0) break;
  }

  char line[256];
  std::snprintf(line, sizeof line,
                "%d clients left a %zu-byte tick history after its first bytes, half by reset, "
                "in %.1f s (%d turned away first, %d failed); %d requests at once all served "
                "%.1f s later",
                o.abandon, long_size, took, refused.load(), failed.load(), o.max_connection,
                settle);
  r.Note(line);
  if (!freed.empty()) {
    std::vector<double> sorted = freed;
    std::sort(sorted.begin(), sorted.end());
    std::snprintf(line, sizeof line,
                  "modules free again after their clients hung up (%d at once, %zu rounds): "
                  "median %.1f ms, max %.1f ms (goal 50 ms)",
                  o.max_connection, freed.size(), sorted[sorted.size() / 2], sorted.back());
    r.Note(line);
  }
  r.Note("descriptors before/peak/after: " + std::to_string(fds_before) + "/" +
         std::to_string(peak_fds) + "/" + std::to_string(fds_after) +
         "; resident before/peak/after: " + Kib(rss_before) + "/" + Kib(peak_rss) + "/" +
         Kib(rss_after));
  if (!server.Alive()) r.Fail("server gone: " + server.Ending());
  if (failed > 0) r.Fail("the first bytes of a long answer never came");
  if (!freed.empty() && freed.back() == -2) {
    r.Fail("a round's long answers were not all left after their first bytes");
  } else if (!freed.empty() && freed.back() < 0) {
    r.Fail("modules not free within 10 s of their clients hanging up");
  }
  if (!whole) r.Fail("modules not back in the pool after 30 s: " + last);
  if (fds_after > fds_before + kKeptLinkFds) r.Fail("descriptors not back");
  if (rss_after > rss_before + kRssNoiseKiB) r.Fail("resident size not back");
  CheckLog(store, &r);
  if (!server.Stop(15)) r.Fail("no clean exit on SIGTERM: " + server.Ending());
  return r;
}

namespace {

// One version of the settings file: CalcMode last, so that a reader that
// sees only part of the file sees the default calculation.
std::string SettingsVersion(const Options& o, char version, const char* calc_mode) {
  std::string text = SettingsText(o, "DBMode=PARADOX\r\n");
  // Comments that differ between the versions, to give the file a realistic
  // length (over a kilobyte) and the rewrite something to change.
  for (int i = 0; i < 24; ++i) {
    text += "; version ";
    text += version;
    text += ", note " + std::to_string(i) + ": settings are read afresh on every request\r\n";
  }
  return text + "CalcMode=" + calc_mode + "\r\n";
}

// Rewrites the settings file in place: truncated, then written in one write.
bool RewriteInPlace(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}

bool RewriteByRename(const std::string& path, const std::string& text) {
  const std::string temp = path + ".new";
  return WriteFile(temp, text) && rename(temp.c_str(), path.c_str()) == 0;
}

}  // namespace

Result SettingsScenario(const Options& o, const StoreDir& store) {
  Result r;
  const std::string path = store.dir + "/oms.ini";
  const std::string original = ReadFile(path);
  ServerChild server;
  if (!StartServer(o, store, &server, &r)) return r;

  // Mode 3 answers differently under CalcMode DC and UW.
  std::vector<std::string> targets;
  for (const char* s : {"0005", "0700", "0001", "0002"}) {
    targets.push_back(std::string("/?symbol=") + s + "&mode=3&timeStart=10:00&timeOver=12:00");
  }
  std::map<std::string, std::string> dc, uw;
  std::string bad;
  RewriteByRename(path, SettingsVersion(o, 'A', "DC"));
  const bool dc_ok = SoloAnswers(server.port(), targets, &dc, &bad);
  RewriteByRename(path, SettingsVersion(o, 'A', "UW"));
  if (!dc_ok || !SoloAnswers(server.port(), targets, &uw, &bad)) {
    r.Fail("answer alone: " + bad);
    WriteFile(path, original);
    return r;
  }
  int differ = 0;
  for (const std::string& t : targets) differ += dc[t] != uw[t];
  r.Note("settings file of " + std::to_string(SettingsVersion(o, 'A', "UW").size()) +
         " bytes, CalcMode=UW on its last line; " + std::to_string(differ) + " of " +
         std::to_string(targets.size()) + " mode 3 answers differ between UW and DC");
  if (differ == 0) r.Fail("no answer tells UW from DC");

  const double phase = std::max(2.0, o.seconds / 2);
  for (const bool in_place : {false, true}) {
    std::atomic<bool> stop{false};
    std::atomic<long> rewrites{0};
    std::thread writer([&] {
      // A hundred rewrites a second: far more often than any operator.
      for (char version = 'A'; !stop; version = version == 'A' ? 'B' : 'A') {
        const std::string text = SettingsVersion(o, version, "UW");
        if (in_place ? RewriteInPlace(path, text) : RewriteByRename(path, text)) ++rewrites;
        Sleep(0.01);
      }
    });
    Tally tally;
    std::atomic<long> as_default{0};
    std::mutex lock;
    RunClients(
        o.max_connection, phase, targets, server.port(),
        [&](const std::string& t, const Answer& a) {
          if (a.complete && a.status == 200 && Canonical(a) == dc[t] && dc[t] != uw[t]) {
            ++as_default;
          }
          return Classify(uw, t, a, &tally, &lock);
        },
        &stop);
    stop = true;
    writer.join();
    char line[256];
    std::snprintf(line, sizeof line,
                  "%s: %ld rewrites, %ld answers: %ld as the file says, %ld refused, %ld not "
                  "(%ld of them with the defaults of a half-read file)",
                  in_place ? "rewritten in place (truncate, one write)"
                           : "rewritten by temporary file and rename",
                  rewrites.load(), tally.served + tally.refused + tally.mismatched,
                  tally.served.load(), tally.refused.load(), tally.mismatched.load(),
                  as_default.load());
    r.Note(line);
    if (tally.mismatched > 0)
      r.Fail("an answer reflects part of the file: " + tally.first_mismatch);
  }
  WriteFile(path, original);
  if (!server.Alive()) r.Fail("server gone: " + server.Ending());
  CheckLog(store, &r);
  if (!server.Stop(15)) r.Fail("no clean exit on SIGTERM: " + server.Ending());
  return r;
}

}  // namespace morvane::loadfaults
