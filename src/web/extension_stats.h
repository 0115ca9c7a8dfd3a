// Process-wide counts of what the request handler met: daily-history
// retries and store errors by the alias they name. Read by the extension's
// figures for the host (extension_services.h).
//
// Counted where the handler catches a failure, never per record. Safe for
// concurrent use.
#ifndef MORVANE_WEB_EXTENSION_STATS_H_
#define MORVANE_WEB_EXTENSION_STATS_H_

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane {

class THistData;

// Aliases are few (those of the alias file that requests use); errors that
// name none of the module's aliases are counted under this name.
inline constexpr std::string_view kNoAlias = "none";

void CountDailyRetry();
uint64_t DailyRetries();

// Counts `e` against the alias of `module` that its message names, when it
// is a store error (EDatabaseError); other failures are not store errors.
void CountStoreError(const THistData& module, const std::exception& e);
// Counts a store error of a known alias.
void CountStoreError(std::string_view alias);

// Every alias counted so far, with its count, in the order first seen.
std::vector<std::pair<std::string, uint64_t>> StoreErrors();

}  // namespace morvane

#endif  // MORVANE_WEB_EXTENSION_STATS_H_
