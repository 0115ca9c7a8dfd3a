// Stopping civetweb promptly.
//
// mg_stop() raises civetweb's stop flag and joins its listening thread, which
// only notices the flag when its poll() wakes: on a new connection or after
// civetweb's two-second poll quantum. StopServer() wakes it at once by
// connecting to the listening address while mg_stop() waits, so a stop takes
// as long as the connections still open, not two seconds more.
#ifndef MORVANE_HOST_SERVER_STOP_H_
#define MORVANE_HOST_SERVER_STOP_H_

#include <string>

struct mg_context;

namespace morvane::host {

// Stops `ctx` (mg_stop) and returns when civetweb has stopped. `host` and
// `port` are the listening address; a wildcard host ("0.0.0.0", "[::]" or
// empty) is reached through loopback.
void StopServer(mg_context* ctx, const std::string& host, int port);

}  // namespace morvane::host

#endif  // MORVANE_HOST_SERVER_STOP_H_
