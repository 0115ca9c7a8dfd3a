// One request as the extension sees it: the host's control block plus the
// method and the two field lists built from it.
//
// Lives for one request and is used only by the thread running it.
#ifndef MORVANE_WEB_WEB_REQUEST_H_
#define MORVANE_WEB_WEB_REQUEST_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "web/extension_abi.h"
#include "web/field_list.h"
#include "web/request_report.h"

namespace morvane {

class TWebRequest {
 public:
  // Requires: `ecb` valid for the life of the object.
  explicit TWebRequest(EXTENSION_CONTROL_BLOCK* ecb);
  TWebRequest(const TWebRequest&) = delete;
  TWebRequest& operator=(const TWebRequest&) = delete;

  EXTENSION_CONTROL_BLOCK* ECB() const { return ecb_; }

  // The method text exactly as the host gives it ("GET", "POST", ...).
  const std::string& Method() const { return method_; }
  std::string_view QueryString() const;
  std::string_view PathInfo() const;

  // The fields of the query string, built on first use. Raises
  // EConvertError on a malformed "%" escape; the list is then not kept, so
  // a later call raises again rather than answering with half a list.
  const FieldList& GetQueryFields();

  // The fields of the body, built on first use: nothing when
  // "CONTENT_LENGTH" is 0 or less (or not a number); otherwise the bytes the
  // host has already delivered, completed by at most one ReadClient of the
  // missing count. The body's content type is not looked at. Raises like
  // GetQueryFields.
  const FieldList& GetContentFields();

  // The host variable `name` read into a 4096-byte buffer, without its
  // terminating zero; an empty text when the host fails the call.
  std::string GetServerVariable(const char* name) const;

  // The body bytes as read for the content fields (the same rules), read
  // once and kept, so the host sees at most one ReadClient per request.
  const std::string& Content();

  // Where the handler notes the request's mode and a failure it caught,
  // for the frame's report to the host; null when nobody reports (tests
  // that make a request by hand).
  RequestReport* Report() const { return report_; }
  void SetReport(RequestReport* report) { report_ = report; }

 private:
  RequestReport* report_ = nullptr;
  EXTENSION_CONTROL_BLOCK* ecb_;
  std::string method_;
  std::optional<std::string> content_;
  std::optional<FieldList> query_fields_;
  std::optional<FieldList> content_fields_;
};

}  // namespace morvane

#endif  // MORVANE_WEB_WEB_REQUEST_H_
