#include "version_strings.h"

#include <string_view>

#include "support/version_info.h"

namespace morvane::host {

std::vector<std::pair<std::string, std::string>> ReadOwnVersionStrings() {
  std::vector<std::pair<std::string, std::string>> strings;
  int error_code = 0;
  const std::optional<std::string> section = ElfVersionSource().Read(&error_code);
  if (!section) return strings;
  std::string_view records = *section;
  // Records are zero-terminated "path=value" texts; the string values sit
  // under "\StringFileInfo\<translation>\<key>".
  constexpr std::string_view kPrefix = "\\StringFileInfo\\";
  while (!records.empty()) {
    const size_t end = records.find('\0');
    const std::string_view record = records.substr(0, end);
    records = end == std::string_view::npos ? std::string_view() : records.substr(end + 1);
    if (record.substr(0, kPrefix.size()) != kPrefix) continue;
    const size_t eq = record.find('=');
    if (eq == std::string_view::npos) continue;
    const size_t key_at = record.rfind('\\', eq) + 1;
    strings.emplace_back(std::string(record.substr(key_at, eq - key_at)),
                         std::string(record.substr(eq + 1)));
  }
  return strings;
}

}  // namespace morvane::host
