#include <atomic>

#include "support/ini_file.h"
#include "support/registry.h"
#include "support/settings_location.h"

namespace morvane {
namespace {

std::atomic<const RegistryReader*> g_test_registry{nullptr};

}  // namespace

std::string IniRegistryReader::ReadValue(std::string_view name) const {
  const TIniFile file(SystemConfigDir() + "/" + std::string(kRegistryFileName));
  return file.ReadString(kRegistryKey, name, "");
}

const RegistryReader& ProcessRegistry() {
  if (const RegistryReader* r = g_test_registry.load(std::memory_order_acquire)) {
    return *r;
  }
  static const IniRegistryReader reader;
  return reader;
}

void SetRegistryReaderForTesting(const RegistryReader* reader) {
  g_test_registry.store(reader, std::memory_order_release);
}

}  // namespace morvane
