// Session identifiers of the private connections.
//
// Every data module opens its private connection under an engine session of
// its own, named by a fresh identifier: the time of day the process started as
// "hhnnss" followed by a counter as 8 upper-case hexadecimal digits. The
// counter starts at 100, so the first identifier of a process ends in 00000065.
// The prefix keeps identifiers of two processes on one store apart.
#ifndef MORVANE_DATA_SESSION_IDS_H_
#define MORVANE_DATA_SESSION_IDS_H_

#include <string>

namespace morvane {

// Sets the counter to 100 and the prefix to the current time of day. Called
// once at start-up, before any module exists.
void InitialSessionID();

// The next identifier (14 characters). Safe for concurrent use; never fails.
std::string GenNextSessionID();

// Empties the prefix (at unload); identifiers made afterwards are only the
// counter's 8 digits.
void ClearSessionPrefix();

// The identifier the calling thread last gave to a private connection (at
// most 32 characters); empty on a thread that never did.
const std::string& ThreadSessionID();
void SetThreadSessionID(const std::string& id);

}  // namespace morvane

#endif  // MORVANE_DATA_SESSION_IDS_H_
