// What one request was and how it ended, as the extension reports it to the
// host at the end of HttpExtensionProc (HSE_REQ_REPORT_REQUEST in
// extension_abi.h): the host counts requests by mode and outcome and writes
// them into its access log.
//
// The frame makes one per request; the history handler fills in the mode
// and marks a failure it caught; the frame adds the record counts and the
// outcomes only it sees (the limit page, its own failure page). Used by the
// thread running the request only.
#ifndef MORVANE_WEB_REQUEST_REPORT_H_
#define MORVANE_WEB_REQUEST_REPORT_H_

#include <cstdint>
#include <string_view>

#include "web/extension_abi.h"

namespace morvane {

struct RequestReport {
  uint32_t mode = HSE_MODE_NONE;
  // Set by the handler when it caught and logged a failure.
  bool failed = false;
};

// The report's mode for a request's mode text: "0" to "6" are themselves,
// anything else (a mode that selects no generator) is HSE_MODE_OTHER.
inline uint32_t ModeCode(std::string_view mode) {
  if (mode.size() == 1 && mode[0] >= '0' && mode[0] <= '6') {
    return static_cast<uint32_t>(mode[0] - '0');
  }
  return HSE_MODE_OTHER;
}

}  // namespace morvane

#endif  // MORVANE_WEB_REQUEST_REPORT_H_
