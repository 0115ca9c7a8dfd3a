// What the library's exported entry points do, as plain functions over an
// application object, so that tests can drive a request in-process through a
// fake control block and the exports stay a few lines of glue.
#ifndef MORVANE_WEB_EXTENSION_ENTRY_H_
#define MORVANE_WEB_EXTENSION_ENTRY_H_

#include <cstdint>

#include "web/extension_abi.h"
#include "web/web_application.h"

namespace morvane {

// GetExtensionVersion: version 2.0 and the application's title (cut to fit,
// always zero terminated). Returns false instead of raising.
bool FillExtensionVersion(const TWebApplication& app, HSE_VERSION_INFO* version) noexcept;

// HttpExtensionProc: makes the request and response objects on `ecb`, runs
// the request on a pooled module (TWebApplication::HandleRequest), and
// answers with the failure page when anything raises in the frame. Returns
// HSE_STATUS_SUCCESS when the request was handled, HSE_STATUS_ERROR when it
// was not or when the failure page was sent. Never raises. Safe for
// concurrent use.
uint32_t RunRequest(TWebApplication& app, EXTENSION_CONTROL_BLOCK* ecb) noexcept;

}  // namespace morvane

#endif  // MORVANE_WEB_EXTENSION_ENTRY_H_
