#include "web/extension_entry.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>

#include "support/error.h"
#include "web/request_report.h"
#include "web/server_error_page.h"
#include "web/web_request.h"
#include "web/web_response.h"

namespace morvane {

namespace {

bool IsLimitRefusal(const std::exception& e) {
  return std::strcmp(e.what(), kTooManyConnectionsMessage) == 0;
}

// The mode of a request turned away before its handler read its fields: read
// here, as the handler would have, so that the limit page is counted against
// the mode that met it. A request whose fields cannot be read has none.
uint32_t ModeOfFields(TWebRequest& request) noexcept {
  try {
    const std::string mode =
        (request.Method() == "GET" ? request.GetQueryFields() : request.GetContentFields())
            .Values("mode");
    return ModeCode(mode.empty() ? "0" : mode);
  } catch (...) {
    return HSE_MODE_NONE;
  }
}

// A host that does not know the request code fails the call, and nothing
// else happens.
void SendReport(EXTENSION_CONTROL_BLOCK* ecb, const HSE_REQUEST_REPORT& report) noexcept {
  if (ecb->ServerSupportFunction == nullptr) return;
  HSE_REQUEST_REPORT copy = report;
  ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_REPORT_REQUEST, &copy, nullptr, nullptr);
}

}  // namespace

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
  RequestReport facts;
  HSE_REQUEST_REPORT report{};
  report.cbSize = sizeof(report);
  report.dwOutcome = HSE_OUTCOME_EXCEPTION;
  uint32_t result = HSE_STATUS_ERROR;
  std::optional<TWebRequest> request;
  try {
    request.emplace(ecb);
    request->SetReport(&facts);
    TWebResponse response(*request);
    result = app.HandleRequest(*request, response) ? HSE_STATUS_SUCCESS : HSE_STATUS_ERROR;
    report.qwRecords = response.Records();
    report.qwErrorRecords = response.ErrorRecords();
    if (facts.failed) {
      report.dwOutcome = HSE_OUTCOME_EXCEPTION;
    } else if (report.qwRecords > 0 && report.qwRecords == report.qwErrorRecords) {
      report.dwOutcome = HSE_OUTCOME_ERROR_RECORDS;
    } else {
      report.dwOutcome = HSE_OUTCOME_ANSWERED;
    }
  } catch (const std::exception& e) {
    if (IsLimitRefusal(e)) {
      report.dwOutcome = HSE_OUTCOME_LIMIT_PAGE;
      if (request) facts.mode = ModeOfFields(*request);
    }
    HandleServerException(ecb, ClassNameOf(e), e.what());
  } catch (...) {
    HandleServerException(ecb, "Exception", "Unknown error");
  }
  report.dwMode = facts.mode;
  SendReport(ecb, report);
  return result;
}

}  // namespace morvane
