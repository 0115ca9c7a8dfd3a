// How the host names one request for its counts and its access log: the
// mode it asked for and how it ended. Both are small fixed sets, so that a
// metric's labels can never be made of request text.
#ifndef MORVANE_HOST_REQUEST_OUTCOME_H_
#define MORVANE_HOST_REQUEST_OUTCOME_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace morvane::host {

// Modes "0" to "6" are 0 to 6; then a mode that selects no generator, and
// a request whose mode is not known (refused before the extension read its
// fields, or served by an extension that does not report).
inline constexpr size_t kModeOther = 7;
inline constexpr size_t kModeNone = 8;
inline constexpr size_t kModes = 9;
inline constexpr std::array<std::string_view, kModes> kModeNames = {"0", "1", "2",     "3",   "4",
                                                                    "5", "6", "other", "none"};

enum class Outcome : uint8_t {
  kAnswered,      // the answer went out whole
  kErrorRecords,  // ... holding error records only
  kLimitPage,     // the extension's page at MaxConnection
  kRefused,       // by the framing rules, before any handler saw it
  kClientGone,    // hung up while waiting, or before its answer was whole
  kException,     // a failure the handler caught, or a failure page
};
inline constexpr size_t kOutcomes = 6;
inline constexpr std::array<std::string_view, kOutcomes> kOutcomeNames = {
    "answered", "error_records", "limit_page", "refused", "client_gone", "exception"};

inline std::string_view ModeName(size_t mode) {
  return kModeNames[mode < kModes ? mode : kModeNone];
}
inline std::string_view OutcomeName(Outcome outcome) {
  return kOutcomeNames[static_cast<size_t>(outcome)];
}

}  // namespace morvane::host

#endif  // MORVANE_HOST_REQUEST_OUTCOME_H_
