// Loading the extension library and calling its three entry points.
#ifndef MORVANE_HOST_EXTENSION_LOADER_H_
#define MORVANE_HOST_EXTENSION_LOADER_H_

#include <cstdint>
#include <string>

#include "web/extension_abi.h"

namespace morvane::host {

// One loaded extension. Load, GetVersion, Terminate and Unload are meant for
// the main thread at start-up and shutdown; Run is safe for concurrent use
// between them (the extension promises that much).
class ExtensionLoader {
 public:
  ExtensionLoader() = default;
  // Unloads the library if it is still loaded (without TerminateExtension).
  ~ExtensionLoader();
  ExtensionLoader(const ExtensionLoader&) = delete;
  ExtensionLoader& operator=(const ExtensionLoader&) = delete;

  // dlopens `path` and looks up the three entry points. On failure returns
  // false with the reason in *error and leaves nothing loaded.
  bool Load(const std::string& path, std::string* error);
  bool Loaded() const { return handle_ != nullptr; }

  // GetExtensionVersion, asking for the extension's services as well
  // (HSE_VERSION_INFO_EX); false when the extension refuses.
  bool GetVersion(HSE_VERSION_INFO* info);

  // The services the extension offered in GetVersion, or null (an extension
  // that offers none). Valid until Terminate.
  const HSE_EXTENSION_SERVICES* Services() const { return services_; }

  // HttpExtensionProc on the calling thread. Requires: Loaded().
  uint32_t Run(EXTENSION_CONTROL_BLOCK* ecb) const { return proc_(ecb); }

  // TerminateExtension(HSE_TERM_MUST_UNLOAD). Requires: no Run in flight,
  // and nothing using Services() any more.
  void Terminate();

  // dlclose; the library's own teardown runs here. Requires: no Run in
  // flight.
  void Unload();

 private:
  void* handle_ = nullptr;
  PFN_GETEXTENSIONVERSION get_version_ = nullptr;
  PFN_HTTPEXTENSIONPROC proc_ = nullptr;
  PFN_TERMINATEEXTENSION terminate_ = nullptr;
  const HSE_EXTENSION_SERVICES* services_ = nullptr;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_EXTENSION_LOADER_H_
