// The library's three exported entry points and its load-time set-up.
//
// Loading the library makes the application object, sets the pool's limit
// from GetMaxConnection (which also opens the diagnostic log and starts the
// session identifiers) and registers the data-module class, in that order,
// before the host can call in. Unloading it (or process exit) destroys the
// application and with it every data module and its connections, closes the
// links kept for reuse, then empties the data module's process-wide texts and
// closes the log.
#include <cstdint>
#include <memory>

#include "data/connection_pool.h"
#include "data/hist_data.h"
#include "support/log.h"
#include "web/extension_abi.h"
#include "web/extension_entry.h"
#include "web/extension_services.h"
#include "web/hist_web_module.h"
#include "web/web_application.h"

namespace morvane {
namespace {

std::unique_ptr<TWebModule> MakeDataModule() {
  return std::make_unique<THistWebModule>();
}

struct Extension {
  Extension() {
    app = std::make_unique<TWebApplication>(32);
    app->SetMaxConnections(GetMaxConnection());
    app->RegisterModuleClass(MakeDataModule);
  }
  ~Extension() {
    app.reset();
    db::ConnectionPool::Process().Clear();
    ClearDataModuleTexts();
    omsLogClose();
  }
  std::unique_ptr<TWebApplication> app;
};

// Made when the library is loaded; destroyed when it is unloaded.
Extension g_extension;

}  // namespace
}  // namespace morvane

extern "C" {

__attribute__((visibility("default"))) HSE_BOOL GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  // The services first: filling the version overwrites the host's signature.
  morvane::OfferExtensionServices(*morvane::g_extension.app, pVer);
  return morvane::FillExtensionVersion(*morvane::g_extension.app, pVer) ? 1 : 0;
}

__attribute__((visibility("default"))) uint32_t HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  return morvane::RunRequest(*morvane::g_extension.app, pECB);
}

// Nothing to do here: the modules and the log are released when the host
// unloads the library, after its last request has returned.
__attribute__((visibility("default"))) HSE_BOOL TerminateExtension(uint32_t /*dwFlags*/) {
  return 1;
}

}  // extern "C"
