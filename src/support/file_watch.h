// Whether a file may have changed since a moment, known without asking the
// file system about each file every time.
//
// Every small request read the settings file, the alias file (once per
// connect) and each kept store file it reached, and asked the file system
// about each of them: one path look-up per file and request, most of what a
// small request spent in the kernel beyond its socket. A watch on the
// directories that hold those files tells instead when anything happened to
// one of their names.
//
// How a caller keeps what it worked out from the file at `path`:
//   const uint64_t mark = watch.Mark(path, FileWatch::kContent);
//   ... look at the file (stat, read), keep the result with `mark` ...
//   later: watch.Unchanged(mark) ? the kept result : look again (new mark).
// Mark is taken before looking, so that a change made while the caller looks
// counts as a change.
//
// What counts as a change of `path`: the name created, deleted or renamed in
// or out of its directory; with kContent also its contents or attributes
// written (through the name; a hard link elsewhere is not seen); and any
// directory on the way to it renamed, deleted or replaced. Unchanged(mark) is
// false when such a change was complete before the call; it may also be
// false without one (then the caller merely looks again). A path that cannot
// be watched (the system refuses, a symbolic link on its way, a directory
// that does not exist, a file system that other hosts change too, such as
// NFS) gets mark 0, which is never Unchanged: the caller
// looks every time, as without a watch. After an event the watch cannot
// account for (its queue overflowed, a directory on the way was renamed,
// removed or replaced) every mark of the paths concerned is stale, and their
// next Mark watches them afresh.
//
// Within a RequestScope on the calling thread, Unchanged answers as of the
// scope's start (one look at the system per request, not per file): a change
// complete before a request starts is seen by that request; one made while it
// runs, by the next.
//
// Threads: safe for concurrent use.
#ifndef MORVANE_SUPPORT_FILE_WATCH_H_
#define MORVANE_SUPPORT_FILE_WATCH_H_

#include <cstdint>
#include <string>

namespace morvane {

class FileWatch {
 public:
  enum Interest {
    kIdentity,  // which file is at the path (created, deleted, renamed)
    kContent,   // that, and what it holds (written, attributes changed)
  };
  virtual ~FileWatch() = default;
  virtual uint64_t Mark(const std::string& path, Interest interest) = 0;
  virtual bool Unchanged(uint64_t mark) = 0;
  // As Unchanged, but as of this call even within a RequestScope: for
  // questions whose answer must be that of the moment (whether a crashed
  // writer left its journal beside a store file).
  virtual bool UnchangedNow(uint64_t mark) = 0;
  // Takes in what the system reported so far (RequestScope's start).
  virtual void Refresh() = 0;
};

// The process's watch: inotify on Linux; one that watches nothing when the
// system gives none.
FileWatch& ProcessFileWatch();

// Unchanged on this thread answers as of the outermost scope's start.
class RequestScope {
 public:
  RequestScope();
  ~RequestScope();
  RequestScope(const RequestScope&) = delete;
  RequestScope& operator=(const RequestScope&) = delete;
};

}  // namespace morvane

#endif  // MORVANE_SUPPORT_FILE_WATCH_H_
