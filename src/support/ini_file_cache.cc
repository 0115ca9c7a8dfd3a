// ReadIniCached: settings files kept while their identity and times hold.
#include "support/ini_file_cache.h"

#include <sys/stat.h>
#include <time.h>

#include <mutex>
#include <unordered_map>

#include "support/file_watch.h"

namespace morvane {
namespace {

struct Identity {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  timespec ctime{};
  bool operator==(const Identity& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
           ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

struct Kept {
  Identity id;
  std::shared_ptr<const TIniFile> file;  // nullptr: no regular file at the path
  // FileWatch's mark taken before the file was last looked at; 0 when it is
  // looked at every time.
  uint64_t mark = 0;
};

// Made on first use (the library's load-time set-up already reads the
// settings) and never destroyed, so safe whatever order globals go in.
struct Store {
  std::mutex mu;
  std::unordered_map<std::string, Kept> kept;
};
Store& TheStore() {
  static Store* const store = new Store();
  return *store;
}

bool Stat(const std::string& path, Identity* id) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *id = {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
  return true;
}

// Whether `t` lies at least kSettleTime before `now`.
bool Settled(const timespec& t, const timespec& now) {
  return now.tv_sec - t.tv_sec > kSettleTime.count() ||
         (now.tv_sec - t.tv_sec == kSettleTime.count() && now.tv_nsec >= t.tv_nsec);
}

}  // namespace

namespace {

// What the kept entry of `path` says while the watch vouches for it: whether
// there is one, and the file (nullptr: none at the path).
bool KeptUnchanged(const std::string& path, std::shared_ptr<const TIniFile>* file) {
  Store& store = TheStore();
  uint64_t mark = 0;
  {
    std::lock_guard lock(store.mu);
    const auto it = store.kept.find(path);
    if (it == store.kept.end() || it->second.mark == 0) return false;
    mark = it->second.mark;
    *file = it->second.file;
  }
  return ProcessFileWatch().Unchanged(mark);
}

// No regular file at `path` since `mark`.
void KeepAbsent(const std::string& path, uint64_t mark) {
  Store& store = TheStore();
  std::lock_guard lock(store.mu);
  if (mark == 0) {
    store.kept.erase(path);
  } else {
    store.kept[path] = {Identity{}, nullptr, mark};
  }
}

// The file at `path` whose identity `before` was just taken, after the
// watch's `mark`: the kept parse when it matches, else a fresh one (kept
// when it has settled).
std::shared_ptr<const TIniFile> ReadKnownFile(const std::string& path, const Identity& before,
                                              uint64_t mark) {
  Store& store = TheStore();
  {
    std::lock_guard lock(store.mu);
    const auto it = store.kept.find(path);
    if (it != store.kept.end() && it->second.file && it->second.id == before) {
      it->second.mark = mark;
      return it->second.file;
    }
  }
  auto file = std::make_shared<const TIniFile>(path);
  // Kept only when the file did not change while it was read and had
  // settled before: otherwise the next call reads it again.
  Identity after;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::lock_guard lock(store.mu);
  if (Stat(path, &after) && after == before && Settled(before.mtime, now) &&
      Settled(before.ctime, now)) {
    store.kept[path] = {before, file, mark};
  } else {
    store.kept.erase(path);
  }
  return file;
}

}  // namespace

std::shared_ptr<const TIniFile> ReadIniCached(const std::string& path) {
  auto file = ReadIniCachedIfFile(path);
  return file ? file : std::make_shared<const TIniFile>(path);
}

std::shared_ptr<const TIniFile> ReadIniCachedIfFile(const std::string& path) {
  std::shared_ptr<const TIniFile> kept;
  if (KeptUnchanged(path, &kept)) return kept;
  const uint64_t mark = ProcessFileWatch().Mark(path, FileWatch::kContent);
  Identity before;
  if (!Stat(path, &before)) {
    KeepAbsent(path, mark);
    return nullptr;
  }
  return ReadKnownFile(path, before, mark);
}

}  // namespace morvane
