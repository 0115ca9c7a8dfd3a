// The registry values that tell where to download the settings page.
//
// Windows keeps them under HKEY_LOCAL_MACHINE\Software\Pellaro; on Linux the
// stand-in is a read-only INI file, <SystemConfigDir()>/registry.ini, whose
// section [Software\Pellaro] holds the same value names:
//
//   [Software\Pellaro]
//   iniServer=settings.example.com
//   iniFirm=acme
//   iniRole=
//   iniCustom=desk7
//
// Nothing in the system writes these values.
#ifndef MORVANE_SUPPORT_REGISTRY_H_
#define MORVANE_SUPPORT_REGISTRY_H_

#include <string>
#include <string_view>

namespace morvane {

// The key (and, in the stand-in file, the section) holding the values.
inline constexpr std::string_view kRegistryKey = "Software\\Pellaro";
// The stand-in file's name inside the system configuration directory.
inline constexpr std::string_view kRegistryFileName = "registry.ini";

class RegistryReader {
 public:
  virtual ~RegistryReader() = default;
  // The text value `name` under kRegistryKey; "" when the value or the key is
  // missing. Safe for concurrent use.
  virtual std::string ReadValue(std::string_view name) const = 0;
};

// Reads <SystemConfigDir()>/registry.ini afresh on every call, so an edit is
// seen by the next download without a restart.
class IniRegistryReader final : public RegistryReader {
 public:
  std::string ReadValue(std::string_view name) const override;
};

// The reader the settings download uses: a test's when one is installed, else
// an IniRegistryReader. Safe for concurrent use.
const RegistryReader& ProcessRegistry();

// Installs `reader` (not owned; must outlive its use), or restores the
// default with nullptr. For tests.
void SetRegistryReaderForTesting(const RegistryReader* reader);

}  // namespace morvane

#endif  // MORVANE_SUPPORT_REGISTRY_H_
