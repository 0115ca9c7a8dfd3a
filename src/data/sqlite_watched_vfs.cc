#include "data/sqlite_watched_vfs.h"

#include <sqlite3.h>

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "support/file_watch.h"

namespace morvane::db::sqlite {
namespace {

constexpr const char* kName = "morvane-watched";

// Looked up by SQLite's own text: the question comes four times a request,
// and forming a string for it cost more than the rest of the answer.
struct NameHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
};

// Names found missing, with the watch's mark taken before the look.
struct Missing {
  // A bound on what a walk over many day files can make it hold.
  static constexpr size_t kMaxEntries = 4096;
  std::mutex mu;
  std::unordered_map<std::string, uint64_t, NameHash, std::equal_to<>> marks;
};

Missing& TheMissing() {
  // Never destroyed: connections may close while other globals go.
  static auto* const missing = new Missing;
  return *missing;
}

bool EndsWith(std::string_view s, std::string_view end) {
  return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

// The default layer. Its functions are handed the copy (their own
// pAppData and sizes are in it too), except that xAccess goes through here.
sqlite3_vfs* g_real = nullptr;

int Access(sqlite3_vfs* /*self*/, const char* path, int flags, int* out) {
  sqlite3_vfs* const real = g_real;
  const std::string_view name(path);
  const bool journal = EndsWith(name, "-journal");
  if (flags != SQLITE_ACCESS_EXISTS || (!journal && !EndsWith(name, "-wal"))) {
    return real->xAccess(real, path, flags, out);
  }
  FileWatch& watch = ProcessFileWatch();
  Missing& missing = TheMissing();
  uint64_t mark = 0;
  {
    std::lock_guard lock(missing.mu);
    if (const auto it = missing.marks.find(name); it != missing.marks.end()) {
      mark = it->second;
    }
  }
  if (journal ? watch.UnchangedNow(mark) : watch.Unchanged(mark)) {
    *out = 0;
    return SQLITE_OK;
  }
  mark = watch.Mark(std::string(name), FileWatch::kIdentity);
  const int rc = real->xAccess(real, path, flags, out);
  std::lock_guard lock(missing.mu);
  if (rc == SQLITE_OK && *out == 0 && mark != 0) {
    if (missing.marks.size() >= Missing::kMaxEntries) missing.marks.clear();
    missing.marks[std::string(name)] = mark;
  } else if (const auto it = missing.marks.find(name); it != missing.marks.end()) {
    missing.marks.erase(it);
  }
  return rc;
}

}  // namespace

const char* WatchedVfsName() {
  static const char* const name = []() -> const char* {
    if (sqlite3_initialize() != SQLITE_OK) return nullptr;
    sqlite3_vfs* const real = sqlite3_vfs_find(nullptr);
    if (real == nullptr) return nullptr;
    g_real = real;
    static sqlite3_vfs vfs = *real;
    vfs.pNext = nullptr;
    vfs.zName = kName;
    vfs.xAccess = &Access;
    return sqlite3_vfs_register(&vfs, 0) == SQLITE_OK ? kName : nullptr;
  }();
  return name;
}

}  // namespace morvane::db::sqlite
