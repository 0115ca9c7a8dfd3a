// FileWatch on Linux: one inotify instance for the process, a watch on the
// directory of each watched path and on every directory on the way to it.
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <shared_mutex>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "support/file_watch.h"

namespace morvane {
namespace {

// What happens to a name of a watched directory.
constexpr uint32_t kNameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr uint32_t kContentEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE;
// What happens to a watched directory itself.
constexpr uint32_t kSelfEvents = IN_DELETE_SELF | IN_MOVE_SELF;
constexpr uint32_t kWatchMask = kNameEvents | kContentEvents | kSelfEvents | IN_ONLYDIR;

thread_local int t_scope_depth = 0;

// File systems whose changes all pass through this kernel, so that inotify
// sees every one of them. On a network file system another host's changes
// would go unseen: paths there are looked at every time.
bool LocalFileSystem(const std::string& dir) {
  struct statfs fs {};
  if (::statfs(dir.c_str(), &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0x794C7630:  // overlayfs
    case 0x2FC12FC1:  // zfs
    case 0xF2F52010:  // f2fs
      return true;
    default:
      return false;
  }
}

class InotifyWatch final : public FileWatch {
 public:
  InotifyWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
  ~InotifyWatch() override {
    if (fd_ >= 0) ::close(fd_);
  }

  uint64_t Mark(const std::string& path, Interest interest) override {
    if (fd_ < 0) return 0;
    const uint64_t mark = generation_.load(std::memory_order_acquire);
    {
      std::shared_lock lock(mu_);
      if (const auto it = paths_.find(path); it != paths_.end()) {
        return it->second >= interest ? mark : Register(path, interest, mark);
      }
    }
    return Register(path, interest, mark);
  }

  bool Unchanged(uint64_t mark) override {
    if (mark == 0) return false;
    if (t_scope_depth == 0) Refresh();
    return Current(mark);
  }

  bool UnchangedNow(uint64_t mark) override {
    if (mark == 0) return false;
    Refresh();
    return Current(mark);
  }

  void Refresh() override {
    if (fd_ < 0) return;
    polling_.fetch_add(1, std::memory_order_acq_rel);
    Stale stale;
    const bool changed = Drain(&stale);
    // The paths whose watches no longer stand for them are watched afresh
    // at their next Mark; they must be let go before the generation moves,
    // or a Mark in between would hand out the new generation on the old
    // watches.
    if (stale.all || !stale.dirs.empty()) Forget(stale);
    if (changed) generation_.fetch_add(1, std::memory_order_acq_rel);
    // Another thread may be holding an event it read but has not counted
    // yet; this caller must not take the generation as current meanwhile.
    if (polling_.fetch_sub(1, std::memory_order_acq_rel) != 1) {
      generation_.fetch_add(1, std::memory_order_acq_rel);
    }
  }

 private:
  // Watches that no longer stand for the paths they were added for.
  struct Stale {
    bool all = false;       // events were lost
    std::vector<int> dirs;  // by watch descriptor
  };

  // What a watched directory's names mean to its watchers.
  struct Names {
    std::unordered_map<std::string, Interest> files;  // paths' last names
    std::unordered_set<std::string> way;              // directories on a path's way
  };

  // Watches the way to `path`; returns `mark`, or 0 when it cannot be
  // watched (remembered: such a path is never watched).
  uint64_t Register(const std::string& path, Interest interest, uint64_t mark) {
    std::unique_lock lock(mu_);
    if (const auto it = paths_.find(path); it != paths_.end() && it->second >= interest) {
      return mark;
    }
    if (paths_.size() >= kMaxPaths || unwatchable_.contains(path)) return 0;
    if (!WatchWay(path, interest)) {
      if (unwatchable_.size() < kMaxPaths) unwatchable_.insert(path);
      return 0;
    }
    paths_[path] = interest;
    return mark;
  }

  // Adds the watches for `path`: its directory for its last name, and each
  // directory above for the next name on the way. A relative path is taken
  // from the current directory as a directory (its inode), not by its name:
  // renaming the current directory changes nothing a relative name finds.
  bool WatchWay(const std::string& path, Interest interest) {
    if (path.empty() || path.back() == '/') return false;
    struct stat st {};
    // A symbolic link on the way would need the watch to follow its
    // target's directories too.
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
      if (::lstat(path.substr(0, slash).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    }
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return false;
    const size_t last_slash = path.rfind('/');
    if (!LocalFileSystem(last_slash == std::string::npos ? std::string(".")
                         : last_slash == 0               ? std::string("/")
                                                         : path.substr(0, last_slash))) {
      return false;
    }
    std::string_view rest = path;
    std::string name;
    bool last = true;
    while (true) {
      const size_t slash = rest.rfind('/');
      name.assign(slash == std::string_view::npos ? rest : rest.substr(slash + 1));
      std::string dir;
      if (slash == std::string_view::npos) {
        dir = ".";
      } else if (slash == 0) {
        dir = "/";
      } else {
        dir.assign(rest.substr(0, slash));
      }
      if (name != "." && !name.empty()) {
        if (name == "..") return false;
        const int wd = ::inotify_add_watch(fd_, dir.c_str(), kWatchMask);
        if (wd < 0) return false;
        Names& n = dirs_[wd];
        dependents_[wd].insert(path);
        if (last) {
          auto [it, added] = n.files.emplace(name, interest);
          if (!added && it->second < interest) it->second = interest;
        } else {
          n.way.insert(name);
        }
        last = false;
      }
      if (slash == std::string_view::npos || slash == 0) break;
      rest = rest.substr(0, slash);
    }
    return !last;
  }

  // Reads every event queued; true when one concerns a watched name.
  bool Drain(Stale* stale) {
    alignas(inotify_event) char buf[4096];
    bool changed = false;
    while (true) {
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      std::shared_lock lock(mu_);
      for (ssize_t i = 0; i < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buf + i);
        i += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        if (Concerns(*e, stale)) changed = true;
      }
    }
    return changed;
  }

  bool Concerns(const inotify_event& e, Stale* stale) {
    // Lost events, or a watched directory gone from its place, or another
    // put in the place of one on the way: the watches no longer stand for
    // the paths through them.
    if ((e.mask & IN_Q_OVERFLOW) != 0) {
      stale->all = true;
      return true;
    }
    if ((e.mask & (IN_IGNORED | IN_UNMOUNT | kSelfEvents)) != 0) {
      stale->dirs.push_back(e.wd);
      return true;
    }
    if (e.len == 0) return true;  // the directory's own attributes
    const auto dir = dirs_.find(e.wd);
    if (dir == dirs_.end()) return false;
    const std::string name(e.name);
    if (dir->second.way.contains(name)) {
      if ((e.mask & kNameEvents) != 0) stale->dirs.push_back(e.wd);
      return true;
    }
    const auto file = dir->second.files.find(name);
    if (file == dir->second.files.end()) return false;
    return (e.mask & kNameEvents) != 0 || file->second == kContent;
  }

  bool Current(uint64_t mark) const { return generation_.load(std::memory_order_acquire) == mark; }

  void Forget(const Stale& stale) {
    std::unique_lock lock(mu_);
    if (stale.all) {
      paths_.clear();
      dependents_.clear();
      return;
    }
    for (const int wd : stale.dirs) {
      const auto it = dependents_.find(wd);
      if (it == dependents_.end()) continue;
      for (const std::string& path : it->second) paths_.erase(path);
      dependents_.erase(it);
    }
  }

  // A bound on what a caller asking for ever new paths can make it hold.
  static constexpr size_t kMaxPaths = 4096;

  const int fd_;
  std::atomic<uint64_t> generation_{1};
  std::atomic<int> polling_{0};
  std::shared_mutex mu_;  // guards the maps
  std::unordered_map<int, Names> dirs_;
  std::unordered_map<int, std::unordered_set<std::string>> dependents_;  // paths by watch
  std::unordered_map<std::string, Interest> paths_;
  std::unordered_set<std::string> unwatchable_;
};

}  // namespace

FileWatch& ProcessFileWatch() {
  // Never destroyed: requests may run while other globals go.
  static auto* const watch = new InotifyWatch();
  return *watch;
}

RequestScope::RequestScope() {
  if (t_scope_depth++ == 0) ProcessFileWatch().Refresh();
}

RequestScope::~RequestScope() {
  --t_scope_depth;
}

}  // namespace morvane
