// Settings files read once and kept while they stay as they were.
//
// Every request reads the settings file and every connect reads the alias
// file; parsing them each time cost more than a small answer. ReadIniCached
// gives the parsed file kept from an earlier read when the file at `path` is
// still the same file with the same size, modification and change times, and
// reads it afresh otherwise, so every caller still sees the file as it is at
// that moment. A file changed less than kSettleTime before it was read is
// read again at the next call (its change time cannot tell a second write in
// the same clock tick from none), so edits that land in quick succession are
// never missed. While the process's file watch (file_watch.h) vouches that
// nothing happened to the path since a kept file (or the absence of one) was
// last found, the file is not looked at at all; within a RequestScope that
// holds for changes complete before the scope began.
//
// Threads: safe for concurrent use; the files given out are immutable.
#ifndef MORVANE_SUPPORT_INI_FILE_CACHE_H_
#define MORVANE_SUPPORT_INI_FILE_CACHE_H_

#include <chrono>
#include <memory>
#include <string>

#include "support/ini_file.h"

namespace morvane {

inline constexpr std::chrono::seconds kSettleTime{2};

// The parsed file at `path`; a missing or unreadable file reads as empty, as
// TIniFile does (and is not kept).
std::shared_ptr<const TIniFile> ReadIniCached(const std::string& path);

// As ReadIniCached, but nullptr when `path` is not a regular file, for
// look-ups that try several places: one stat per place tried, where a test
// for the file and then ReadIniCached would cost two for the place found. A
// kept file is given out as the same object for as long as it is kept, so a
// caller may keep what it worked out from it while the pointer stays the same.
std::shared_ptr<const TIniFile> ReadIniCachedIfFile(const std::string& path);

}  // namespace morvane

#endif  // MORVANE_SUPPORT_INI_FILE_CACHE_H_
