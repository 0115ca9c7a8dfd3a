// Whether the data module can serve: the question a load balancer's
// readiness probe asks (the host's /readyz, through the extension's
// services).
//
// Ready when the settings file can be read (found where omsIniFile looks,
// or the copy of the settings page a download left; the check itself never
// downloads), the alias file can be read, and every store a request uses
// can be opened: HISTDATA, Historical, plrdata and the order database
// (DSN_source), each with the read-only mode and login the data module
// gives it. Stores are opened and closed as a request does, so a kept link
// is taken and given back, and a link the store closed meanwhile is found.
//
// Never raises. Safe for concurrent use, also with requests; takes as long
// as connecting to a store takes.
#ifndef MORVANE_DATA_STORE_CHECK_H_
#define MORVANE_DATA_STORE_CHECK_H_

#include <string>

namespace morvane {

struct StoreCheck {
  bool ready = false;
  // What failed, one short clause each, separated by "; "; empty when ready.
  std::string problem;
};

StoreCheck CheckStores();

}  // namespace morvane

#endif  // MORVANE_DATA_STORE_CHECK_H_
