// The services the extension offers a host that asks for them in
// GetExtensionVersion (HSE_VERSION_INFO_EX in extension_abi.h): its
// process-wide figures, the readiness check (data/store_check.h) and the
// list of valid products (data/product_list.h).
#ifndef MORVANE_WEB_EXTENSION_SERVICES_H_
#define MORVANE_WEB_EXTENSION_SERVICES_H_

#include "web/extension_abi.h"
#include "web/web_application.h"

namespace morvane {

// When `version` is the extended block (the host put the signature in its
// version field and a size that holds lpServices), sets lpServices to the
// services of `app` and returns true. Call before FillExtensionVersion,
// which overwrites the signature. Requires: `app` outlives the services
// (the library's life).
bool OfferExtensionServices(TWebApplication& app, HSE_VERSION_INFO* version) noexcept;

// The figures of `app` into the fields of `figures` that its cbSize holds.
void FillExtensionFigures(const TWebApplication& app, HSE_EXTENSION_FIGURES* figures) noexcept;

}  // namespace morvane

#endif  // MORVANE_WEB_EXTENSION_SERVICES_H_
