// The diagnostic log: one text file per process, written line by line.
//
// Every part of the system writes through DumpToFile (or LogLine); lines are
// written verbatim, each followed by CR LF, and each is on disk when the call
// returns. The first two lines each process writes are a header naming the
// program (see omsLogOpen). Lines of an earlier process of the same day stay
// above; the first process of a new day starts the file afresh, the day being
// the file's last-modification date on the local calendar against the
// process clock's Today().
//
// Nothing in here ever raises to the system: a log that cannot be opened
// means no log for the process, and a line that cannot be written is lost.
//
// All functions are safe for concurrent use: one lock serialises every
// write, open and close, and each line reaches the file in a single system
// call, so lines from several threads (or processes appending to the same
// file) never interleave.
#ifndef MORVANE_SUPPORT_LOG_H_
#define MORVANE_SUPPORT_LOG_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace morvane {

// The log's path: $MORVANE_LOG when set and non-empty, else
// "/var/log/morvane/KMDL.log". Read afresh on every call.
std::string LogPath();

// Called once at start-up: opens the log at LogPath() (omsLogOpen).
void InitialLock();

// Writes `message` as one line to the log opened at start-up. Never throws.
void DumpToFile(std::string_view message);

// The same as DumpToFile.
void LogLine(std::string_view message);

// Opens the log at `path`, closing any log open before, and writes the header:
//   1. ProductName (or, when empty, OriginalFilename), then "(" InternalName
//      ")" when InternalName is non-empty, then a blank and FileVersion;
//      always written, so a program without version strings gives " ";
//   2. CompanyName and a blank (only when CompanyName is non-empty), then
//      LegalCopyright; written only when not empty.
// When the file cannot be opened (directory missing, access denied) the log
// stays closed and every later write is a no-op. Never throws.
void omsLogOpen(const std::string& path);

// Opens `path` for the log: for appending when it exists and was last
// modified today, else created or emptied. Returns the open descriptor, which
// the caller owns. Raises EInOutError when the file cannot be opened.
int omsLogOpenFile(const std::string& path);

// Writes `message` and CR LF to the open log; does nothing when the log is
// not open. Raises EInOutError when the write fails.
void omsLogMsg(std::string_view message);

// Closes the log if it is open; later writes are no-ops until the next
// omsLogOpen.
void omsLogClose();

// The path of the open log, or "" when it is closed.
std::string LogFileName();

// Lines written by omsLogMsg (and so DumpToFile and LogLine) since the
// process started; the header lines are not counted. Safe for concurrent use.
uint64_t LogLinesWritten();

}  // namespace morvane

#endif  // MORVANE_SUPPORT_LOG_H_
