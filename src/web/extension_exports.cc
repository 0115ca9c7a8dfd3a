// The library's three exported entry points and its load-time set-up.
//
// Loading the library makes the application object, sets the pool's limit
// and registers the data-module class, in that order, before the host can
// call in; unloading it (or process exit) destroys the application and with
// it every data module.
#include <cstdint>
#include <memory>

#include "web/extension_abi.h"
#include "web/extension_entry.h"
#include "web/web_application.h"
#include "web/web_module.h"
#include "web/web_response.h"

namespace morvane {
namespace {

// Answers every request with the header block and an empty body until the
// data module is wired in here.
class EmptyAnswerModule final : public TWebModule {
 public:
  bool DispatchAction(TWebRequest& /*request*/, TWebResponse& response) override {
    response.SetContentType("text/plain");
    response.SendResponse();
    return true;
  }
};

int32_t LoadMaxConnection() {
  return 10;
}

std::unique_ptr<TWebModule> MakeDataModule() {
  return std::make_unique<EmptyAnswerModule>();
}

struct Extension {
  Extension() {
    app = std::make_unique<TWebApplication>(32);
    app->SetMaxConnections(LoadMaxConnection());
    app->RegisterModuleClass(MakeDataModule);
  }
  std::unique_ptr<TWebApplication> app;
};

// Made when the library is loaded; destroyed when it is unloaded.
Extension g_extension;

}  // namespace
}  // namespace morvane

extern "C" {

__attribute__((visibility("default"))) HSE_BOOL GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  return morvane::FillExtensionVersion(*morvane::g_extension.app, pVer) ? 1 : 0;
}

__attribute__((visibility("default"))) uint32_t HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  return morvane::RunRequest(*morvane::g_extension.app, pECB);
}

__attribute__((visibility("default"))) HSE_BOOL TerminateExtension(uint32_t /*dwFlags*/) {
  return 1;
}

}  // extern "C"
