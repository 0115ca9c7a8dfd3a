// The version strings this executable carries (the records the build puts
// into its ".morvane_version" section), for --version.
#ifndef MORVANE_HOST_VERSION_STRINGS_H_
#define MORVANE_HOST_VERSION_STRINGS_H_

#include <string>
#include <utility>
#include <vector>

namespace morvane::host {

// The string values as (key, value) pairs in the order they were stored
// ("ProductName", "FileVersion", ...); empty when the running executable
// carries none or cannot be read.
std::vector<std::pair<std::string, std::string>> ReadOwnVersionStrings();

}  // namespace morvane::host

#endif  // MORVANE_HOST_VERSION_STRINGS_H_
