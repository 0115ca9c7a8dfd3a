#include "web/extension_entry.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "support/error.h"
#include "web/server_error_page.h"
#include "web/web_request.h"
#include "web/web_response.h"

namespace morvane {

bool FillExtensionVersion(const TWebApplication& app, HSE_VERSION_INFO* version) noexcept {
  if (version == nullptr) return false;
  version->dwExtensionVersion = HSE_MAKE_VERSION(HSE_VERSION_MAJOR, HSE_VERSION_MINOR);
  const std::string& title = app.Title();
  const size_t n = std::min(title.size(), sizeof(version->lpszExtensionDesc) - 1);
  std::memcpy(version->lpszExtensionDesc, title.data(), n);
  version->lpszExtensionDesc[n] = '\0';
  return true;
}

uint32_t RunRequest(TWebApplication& app, EXTENSION_CONTROL_BLOCK* ecb) noexcept {
  if (ecb == nullptr) return HSE_STATUS_ERROR;
  try {
    TWebRequest request(ecb);
    TWebResponse response(request);
    return app.HandleRequest(request, response) ? HSE_STATUS_SUCCESS : HSE_STATUS_ERROR;
  } catch (const std::exception& e) {
    HandleServerException(ecb, ClassNameOf(e), e.what());
  } catch (...) {
    HandleServerException(ecb, "Exception", "Unknown error");
  }
  return HSE_STATUS_ERROR;
}

}  // namespace morvane
