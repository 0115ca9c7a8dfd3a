// SQLite's own file system layer with one question answered from the file
// watch (support/file_watch.h) instead of the file system: whether a store
// file has a journal or a write-ahead log beside it. Internal to the SQLite
// driver.
//
// Each read transaction asks both, besides its locks: two path look-ups per
// file and request that almost always find nothing. A name that did not
// exist is remembered with the watch's mark, and while the watch vouches
// for it the answer is "none" without a look:
//   - the journal (a writer that died mid-commit leaves it, and the reader
//     must roll it back) is vouched for as of the question itself, since
//     the question comes once the reader holds its lock;
//   - the log is vouched for as of the request's start: a store switched to
//     a write-ahead log says so in its own header, which SQLite reads on
//     every read transaction anyway.
// Everything else is SQLite's default layer unchanged.
#ifndef MORVANE_DATA_SQLITE_WATCHED_VFS_H_
#define MORVANE_DATA_SQLITE_WATCHED_VFS_H_

namespace morvane::db::sqlite {

// The layer's name for sqlite3_open_v2, registered at the first call;
// nullptr (SQLite's default) when it could not be.
const char* WatchedVfsName();

}  // namespace morvane::db::sqlite

#endif  // MORVANE_DATA_SQLITE_WATCHED_VFS_H_
