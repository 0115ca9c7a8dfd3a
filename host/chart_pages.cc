#include "chart_pages.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "admin_handler.h"
#include "answer.h"
#include "embedded_files.h"
#include "extension_loader.h"
#include "response_head.h"
#include "web/extension_abi.h"

namespace morvane::host {

namespace {

constexpr std::string_view kText = "text/plain; charset=utf-8";

// The page's files: built into this server, so a browser may keep them
// only while they are the same (no-cache asks it to check).
void SendFile(Answer& answer, const EmbeddedFile& file) {
  ResponseHead head;
  head.Add("Content-Type", file.content_type);
  head.SetContentLength(file.body.size());
  head.Add("Cache-Control", "no-cache");
  head.Add("X-Content-Type-Options", "nosniff");
  // The page runs its own files only: no inline script, nothing fetched
  // from elsewhere. (Styles the library sets on its elements are allowed.)
  head.Add("Content-Security-Policy",
           "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; "
           "frame-ancestors 'none'");
  answer.Begin(std::move(head));
  answer.Write(file.body.data(), file.body.size());
  answer.End(true);
}

// One product per line; a tab, CR or LF inside a store's text would break
// the line, so control characters become blanks.
void AppendField(std::string* out, const char* text) {
  for (; *text != '\0'; ++text) {
    const auto c = static_cast<unsigned char>(*text);
    out->push_back(c < 0x20 || c == 0x7f ? ' ' : *text);
  }
}

void AddProduct(void* context, const char* symbol, const char* name) noexcept {
  try {
    auto* out = static_cast<std::string*>(context);
    AppendField(out, symbol != nullptr ? symbol : "");
    out->push_back('\t');
    AppendField(out, name != nullptr ? name : "");
    out->push_back('\n');
  } catch (...) {
    // Out of memory: the list ends short; the page still offers a field to
    // type a product into.
  }
}

void SendProducts(const ExtensionLoader& extension, Answer& answer) {
  const HSE_EXTENSION_SERVICES* services = extension.Services();
  constexpr size_t kNeeded =
      offsetof(HSE_EXTENSION_SERVICES, ListProducts) + sizeof(services->ListProducts);
  if (services == nullptr || services->cbSize < kNeeded || services->ListProducts == nullptr) {
    AdminHandler::SendPage(answer, 503, "Service Unavailable", kText,
                           "This extension does not list its products.\n");
    return;
  }
  std::string list;
  char problem[512] = "";
  uint32_t size = sizeof(problem);
  if (services->ListProducts(&AddProduct, &list, problem, &size) == 0) {
    problem[sizeof(problem) - 1] = '\0';
    AdminHandler::SendPage(answer, 503, "Service Unavailable", kText,
                           std::string("The products cannot be listed: ") +
                               (problem[0] != '\0' ? problem : "the extension failed") + "\n");
    return;
  }
  AdminHandler::SendPage(answer, 200, "OK", kText, list);
}

}  // namespace

void AddChartPages(AdminHandler& admin, const ExtensionLoader& extension, RequestHandler& handler) {
  for (const EmbeddedFile& file : EmbeddedFiles()) {
    admin.Add(std::string(file.path),
              [&file](const HttpRequest&, Answer& answer) { SendFile(answer, file); });
  }
  admin.Add(
      "/chart/symbols",
      [&extension](const HttpRequest&, Answer& answer) { SendProducts(extension, answer); },
      /*needs_turn=*/true);
  // The extension answers whatever the path: the request goes to it as it
  // came, so its answer, its report and its access log line are those of
  // the same request on the public port, but for the path.
  admin.Add(
      "/chart/data",
      [&handler](const HttpRequest& request, Answer& answer) { handler.Handle(request, answer); },
      /*needs_turn=*/true);
}

}  // namespace morvane::host
