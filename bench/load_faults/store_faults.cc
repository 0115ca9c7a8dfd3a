// The append and damage scenarios: a day file of the SQLite tick store
// written to, or broken, while the server reads it.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

#include "load_faults.h"

namespace morvane::loadfaults {
namespace {

namespace fs = std::filesystem;

size_t CountTicks(const std::vector<std::string>& lines) {
  size_t n = 0;
  for (const std::string& l : lines) n += l.starts_with("TICK|");
  return n;
}

// Whether `lines` are the first lines of `whole`.
bool IsPrefix(const std::vector<std::string>& lines, const std::vector<std::string>& whole) {
  if (lines.size() > whole.size()) return false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] != whole[i]) return false;
  }
  return true;
}

// The CSV of one appended batch: `count` ticks of product 0005 today, after
// the close, one second apart from `first_second` past 16:00:00.
std::string BatchCsv(int first_second, int count) {
  std::string csv = "Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize\n";
  for (int i = 0; i < count; ++i) {
    const int s = first_second + i;
    char row[128];
    std::snprintf(row, sizeof row, "%s,%02d:%02d:%02d,0005,70.05,70.10,70.10,800,%d,1200\n", kToday,
                  16 + s / 3600, s / 60 % 60, s % 60, 9000000 + 100 * s);
    csv += row;
  }
  return csv;
}

}  // namespace

Result AppendScenario(const Options& o, const StoreDir& store) {
  Result r;
  ServerChild server;
  if (!StartServer(o, store, &server, &r)) return r;
  const std::string target = "/?symbol=0005&mode=0&dateStart=2026/12/9&dateOver=2026/12/9";
  const Answer before = Exchange(server.port(), target);
  if (!before.complete || before.status != 200) {
    r.Fail("answer alone: " + before.failure);
    return r;
  }
  const size_t n0 = CountTicks(BodyLines(before.body));
  const int batches = o.seconds >= 30 ? 40 : 10;
  const int per_batch = 250;
  for (int b = 0; b < batches; ++b) {
    WriteFile(store.dir + "/batch" + std::to_string(b) + ".csv",
              BatchCsv(1 + b * per_batch, per_batch));
  }

  std::vector<Answer> answers;
  std::mutex lock;
  std::atomic<bool> stop{false};
  std::atomic<int> loaded{0}, load_failures{0};
  std::string load_error;
  double longest_load = 0;
  std::thread loader([&] {
    for (int b = 0; b < batches; ++b) {
      std::string out;
      const auto started = Clock::now();
      const int rc = RunCommand({o.loader, "ticks", "batch" + std::to_string(b) + ".csv"},
                                store.dir, store.Env(), &out);
      const double took = std::chrono::duration<double>(Clock::now() - started).count();
      longest_load = std::max(longest_load, took);
      if (rc != 0) out += " (after " + std::to_string(took) + " s)";
      if (rc == 0) {
        ++loaded;
      } else if (load_failures++ == 0) {
        load_error = out;
      }
      Sleep(0.05);
    }
    stop = true;
  });
  const auto phase_start = Clock::now();
  RunClients(
      o.max_connection, 600, {target}, server.port(),
      [&](const std::string&, const Answer& a) {
        std::lock_guard<std::mutex> hold(lock);
        answers.push_back(a);
        return true;
      },
      &stop);
  loader.join();
  const double phase = std::chrono::duration<double>(Clock::now() - phase_start).count();

  const Answer after = Exchange(server.port(), target);
  const std::vector<std::string> final_lines = BodyLines(after.body);
  const size_t n_final = CountTicks(final_lines);
  // The lines before the first tick (the product's names) head every answer.
  size_t head = 0;
  while (head < final_lines.size() && !final_lines[head].starts_with("TICK|")) ++head;

  long whole = 0, snapshots_seen = 0, bad = 0, refused = 0;
  std::string first_bad;
  std::vector<bool> seen(static_cast<size_t>(batches) + 1, false);
  for (const Answer& a : answers) {
    if (IsLimitPage(a)) {
      ++refused;
      continue;
    }
    std::vector<std::string> lines = BodyLines(a.body);
    const size_t ticks = CountTicks(lines);
    const std::string count_line = "NOTE|RECORDCOUNT|" + std::to_string(ticks) + "|";
    bool ok = a.complete && a.status == 200 && !lines.empty() && lines.back() == count_line &&
              ticks >= n0 && (ticks - n0) % per_batch == 0 && lines.size() == head + ticks + 1;
    if (ok) {
      lines.pop_back();
      ok = IsPrefix(lines, final_lines);
    }
    if (ok) {
      ++whole;
      const size_t k = (ticks - n0) / per_batch;
      if (!seen[k]) ++snapshots_seen;
      seen[k] = true;
    } else if (bad++ == 0) {
      first_bad = std::to_string(ticks) + " ticks, " + std::to_string(lines.size()) + " lines" +
                  (a.complete ? "" : ", " + a.failure);
    }
  }
  char line[320];
  std::snprintf(line, sizeof line,
                "%d loads of %d ticks into today's table (%d failed) in %.1f s while %d clients "
                "read it: %zu answers, %ld whole snapshots (%ld different), %ld refused, %ld not "
                "whole",
                batches, per_batch, load_failures.load(), phase, o.max_connection, answers.size(),
                whole, snapshots_seen, refused, bad);
  r.Note(line);
  char longest[32];
  std::snprintf(longest, sizeof longest, "%.2f s", longest_load);
  r.Note("ticks of the product today: " + std::to_string(n0) + " before, " +
         std::to_string(n_final) + " after; the longest load took " + longest);
  if (load_failures > 0) r.Fail("morvane-load failed: " + load_error);
  if (n_final != n0 + static_cast<size_t>(loaded.load()) * per_batch) {
    r.Fail("the final answer does not hold every loaded tick");
  }
  if (bad > 0) r.Fail("an answer is not a whole snapshot: " + first_bad);
  if (!server.Alive()) r.Fail("server gone: " + server.Ending());
  CheckLog(store, &r);
  if (!server.Stop(15)) r.Fail("no clean exit on SIGTERM: " + server.Ending());
  for (int b = 0; b < batches; ++b) fs::remove(store.dir + "/batch" + std::to_string(b) + ".csv");
  return r;
}

namespace {

enum class Damage { kTruncate, kMiddle, kHeader, kTruncateUnderReaders };

const char* DamageName(Damage d) {
  switch (d) {
    case Damage::kTruncate:
      return "truncated to half";
    case Damage::kMiddle:
      return "middle third overwritten";
    case Damage::kHeader:
      return "header overwritten";
    case Damage::kTruncateUnderReaders:
      return "truncated to half under readers";
  }
  return "";
}

// Breaks the file in place, as a failing disk or a careless copy would.
void Break(const std::string& path, Damage d) {
  const auto size = static_cast<off_t>(fs::file_size(path));
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;
  if (d == Damage::kTruncate || d == Damage::kTruncateUnderReaders) {
    if (ftruncate(fd, size / 2) != 0) std::perror("ftruncate");
  } else {
    const off_t from = d == Damage::kHeader ? 0 : size / 3;
    const off_t length = d == Damage::kHeader ? 100 : size / 3;
    const std::string junk(static_cast<size_t>(length), '\x5a');
    if (pwrite(fd, junk.data(), junk.size(), from) < 0) std::perror("pwrite");
  }
  close(fd);
}

}  // namespace

Result DamageScenario(const Options& o, const StoreDir& store) {
  Result r;
  ServerChild server;
  if (!StartServer(o, store, &server, &r)) return r;
  // The damaged day is 2026-12-07, the third of the five. Requests over it
  // end there; requests over other days do not touch it.
  const std::string day_file = store.dir + "/ticks/hist261207.db";
  const std::string saved = store.dir + "/hist261207.saved";
  fs::copy_file(day_file, saved, fs::copy_options::overwrite_existing);
  std::vector<std::string> over_damage, elsewhere;
  for (const char* s : {"0005", "0700"}) {
    const std::string p = std::string("/?symbol=") + s;
    over_damage.push_back(p + "&mode=0&dateStart=2026/12/3&dateOver=2026/12/9");
    over_damage.push_back(p + "&mode=4&interval=60&dateStart=2026/12/3&dateOver=2026/12/9");
    elsewhere.push_back(p + "&mode=0&dateStart=2026/12/8&dateOver=2026/12/9");
    elsewhere.push_back(p + "&mode=0&dateStart=2026/12/3&dateOver=2026/12/4");
    elsewhere.push_back(p + "&mode=1&dateStart=2026/12/1&dateOver=2026/12/9");
    elsewhere.push_back(p + "&mode=2");
    elsewhere.push_back(p + "&mode=5&interval=5&iunit=1&timeStart=10:00&timeOver=12:00");
    elsewhere.push_back(p + "&mode=6&interval=300&timeStart=09:30&timeOver=16:00");
  }
  std::vector<std::string> all = over_damage;
  all.insert(all.end(), elsewhere.begin(), elsewhere.end());
  std::map<std::string, std::string> solo;
  std::string bad;
  if (!SoloAnswers(server.port(), all, &solo, &bad)) {
    r.Fail("answer alone: " + bad);
    return r;
  }
  std::map<std::string, std::vector<std::string>> solo_lines;
  for (const auto& [t, text] : solo)
    solo_lines[t] = BodyLines(text.substr(text.find("\r\n\r\n") + 4));

  for (const Damage d :
       {Damage::kTruncate, Damage::kMiddle, Damage::kHeader, Damage::kTruncateUnderReaders}) {
    fs::copy_file(saved, day_file, fs::copy_options::overwrite_existing);
    const size_t log_before = ReadFile(store.LogPath()).size();
    std::atomic<long> same{0}, cut{0}, wrong{0}, refused{0};
    std::mutex lock;
    std::string first_wrong;
    const auto check = [&](const std::string& t, const Answer& a) {
      if (IsLimitPage(a)) {
        ++refused;
        return true;
      }
      if (a.complete && a.status == 200 && Canonical(a) == solo[t]) {
        ++same;
        return true;
      }
      const bool may_end =
          std::find(over_damage.begin(), over_damage.end(), t) != over_damage.end();
      if (may_end && a.complete && a.status == 200 && IsPrefix(BodyLines(a.body), solo_lines[t])) {
        ++cut;
        return true;
      }
      if (wrong++ == 0) {
        std::lock_guard<std::mutex> hold(lock);
        first_wrong =
            t + " -> " + (a.complete ? std::to_string(a.body.size()) + " body bytes" : a.failure);
      }
      return false;
    };
    std::atomic<bool> stop{false};
    if (d == Damage::kTruncateUnderReaders) {
      std::thread breaker([&] {
        Sleep(0.3);
        Break(day_file, d);
      });
      RunClients(o.max_connection, 2.0, over_damage, server.port(), check, &stop);
      breaker.join();
    } else {
      Break(day_file, d);
      for (const std::string& t : all) check(t, Exchange(server.port(), t));
      RunClients(o.max_connection, 1.0, all, server.port(), check, &stop);
    }
    const std::string log_tail = ReadFile(store.LogPath()).substr(log_before);
    long failures_logged = 0;
    for (size_t at = log_tail.find("Exception: "); at != std::string::npos;
         at = log_tail.find("Exception: ", at + 1)) {
      ++failures_logged;
    }
    char line[256];
    std::snprintf(
        line, sizeof line,
        "%s: %ld answers as before, %ld ended at the damaged day, %ld refused, %ld wrong; "
        "%ld failures logged",
        DamageName(d), same.load(), cut.load(), refused.load(), wrong.load(), failures_logged);
    r.Note(line);
    if (wrong > 0) r.Fail(std::string(DamageName(d)) + ": " + first_wrong);
    if (cut > 0 && failures_logged == 0) r.Fail("answers ended early with nothing logged");
    if (!server.Alive()) {
      r.Fail(std::string(DamageName(d)) + ": server gone: " + server.Ending());
      break;
    }
  }
  fs::copy_file(saved, day_file, fs::copy_options::overwrite_existing);
  fs::remove(saved);
  // Repaired, the day answers as before.
  if (server.Alive()) {
    std::map<std::string, std::string> again;
    if (!SoloAnswers(server.port(), all, &again, &bad) || again != solo) {
      r.Fail("answers after the repair differ");
    }
  }
  CheckLog(store, &r);
  if (!server.Stop(15)) r.Fail("no clean exit on SIGTERM: " + server.Ending());
  return r;
}

}  // namespace morvane::loadfaults
