#include "web/extension_services.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include "data/connection_pool.h"
#include "data/product_list.h"
#include "data/store_check.h"
#include "support/log.h"
#include "web/extension_stats.h"

namespace morvane {
namespace {

// The services are plain C functions without a context argument; the
// library has one application.
TWebApplication* g_app = nullptr;

HSE_STORE_FIGURES* StoreFor(HSE_EXTENSION_FIGURES* f, const std::string& alias) {
  for (uint32_t i = 0; i < f->dwStores; ++i) {
    if (alias.compare(0, HSE_ALIAS_LEN - 1, f->Stores[i].szAlias) == 0) return &f->Stores[i];
  }
  if (f->dwStores == HSE_MAX_STORES) return nullptr;
  HSE_STORE_FIGURES* s = &f->Stores[f->dwStores++];
  const size_t n = std::min<size_t>(alias.size(), HSE_ALIAS_LEN - 1);
  std::memcpy(s->szAlias, alias.data(), n);
  s->szAlias[n] = '\0';
  return s;
}

HSE_BOOL GetFigures(HSE_EXTENSION_FIGURES* figures) {
  if (figures == nullptr || g_app == nullptr) return 0;
  FillExtensionFigures(*g_app, figures);
  return 1;
}

void PutProblem(const std::string& text, char* problem, uint32_t* size) {
  if (problem != nullptr && size != nullptr && *size > 0) {
    const size_t n = std::min<size_t>(text.size(), *size - 1);
    std::memcpy(problem, text.data(), n);
    problem[n] = '\0';
    *size = static_cast<uint32_t>(n + 1);
  }
}

HSE_BOOL CheckReady(char* problem, uint32_t* size) {
  const StoreCheck check = CheckStores();
  if (check.ready) return 1;
  PutProblem(check.problem, problem, size);
  return 0;
}

HSE_BOOL ListProducts(PFN_HSE_LISTED_PRODUCT each, void* context, char* problem, uint32_t* size) {
  if (each == nullptr) return 0;
  const ProductList list = ListValidProducts();
  if (!list.ok) {
    PutProblem(list.problem, problem, size);
    return 0;
  }
  for (const ListedProduct& p : list.products) each(context, p.symbol.c_str(), p.name.c_str());
  return 1;
}

constexpr HSE_EXTENSION_SERVICES kServices = {sizeof(HSE_EXTENSION_SERVICES), &GetFigures,
                                              &CheckReady, &ListProducts};

}  // namespace

bool OfferExtensionServices(TWebApplication& app, HSE_VERSION_INFO* version) noexcept {
  if (version == nullptr || version->dwExtensionVersion != HSE_VERSION_INFO_EX_SIGNATURE) {
    return false;
  }
  auto* ex = reinterpret_cast<HSE_VERSION_INFO_EX*>(version);
  if (ex->cbSize < offsetof(HSE_VERSION_INFO_EX, lpServices) + sizeof(ex->lpServices)) {
    return false;
  }
  g_app = &app;
  ex->lpServices = &kServices;
  return true;
}

void FillExtensionFigures(const TWebApplication& app, HSE_EXTENSION_FIGURES* figures) noexcept {
  HSE_EXTENSION_FIGURES all{};
  try {
    all.dwModulesInUse = static_cast<uint32_t>(app.ActiveCount());
    all.dwModulesIdle = static_cast<uint32_t>(app.IdleCount());
    all.lModulesMax = app.MaxConnections();
    all.qwDailyRetries = DailyRetries();
    all.qwLogLines = LogLinesWritten();
    for (const auto& s : db::ConnectionPool::Process().Stats()) {
      if (HSE_STORE_FIGURES* f = StoreFor(&all, s.alias)) {
        f->qwLinksKept = s.kept;
        f->qwLinksOpened = s.opened;
        f->qwLinksReused = s.reused;
        f->qwLinksDiscarded = s.discarded;
      }
    }
    for (const auto& [alias, errors] : StoreErrors()) {
      if (HSE_STORE_FIGURES* f = StoreFor(&all, alias)) f->qwErrors = errors;
    }
  } catch (...) {
    // Out of memory while copying the lists: the figures gathered so far.
  }
  const uint32_t size = std::min<uint32_t>(figures->cbSize, sizeof(all));
  all.cbSize = figures->cbSize;
  std::memcpy(figures, &all, size);
}

}  // namespace morvane
