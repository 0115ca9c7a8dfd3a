#include "web/web_request.h"

#include <algorithm>
#include <cstring>

#include "support/int_parse.h"

namespace morvane {

namespace {

// A body longer than this is never read past what the host has delivered:
// the count comes from the client, and trusting it would let one request
// make the extension reserve gigabytes. Hosts that deliver the whole body up
// front (ours does, under its own smaller cap) never reach the read at all.
constexpr uint32_t kMaxBodyRead = 16u * 1024 * 1024;

std::string_view OrEmpty(const char* s) {
  return s ? std::string_view(s) : std::string_view();
}

}  // namespace

TWebRequest::TWebRequest(EXTENSION_CONTROL_BLOCK* ecb)
    : ecb_(ecb), method_(OrEmpty(ecb->lpszMethod)) {}

std::string_view TWebRequest::QueryString() const {
  return OrEmpty(ecb_->lpszQueryString);
}

std::string_view TWebRequest::PathInfo() const {
  return OrEmpty(ecb_->lpszPathInfo);
}

std::string TWebRequest::GetServerVariable(const char* name) const {
  char buffer[4096];
  uint32_t size = sizeof(buffer);
  if (ecb_->GetServerVariable == nullptr ||
      !ecb_->GetServerVariable(ecb_->ConnID, name, buffer, &size)) {
    return std::string();
  }
  // The size reported includes the terminating zero; a host that reports
  // more than it wrote must not make us read past the buffer.
  const size_t limit = std::min<size_t>(size, sizeof(buffer));
  return std::string(buffer, strnlen(buffer, limit));
}

const std::string& TWebRequest::Content() {
  if (content_) return *content_;
  content_.emplace();
  const int32_t length = ParseInt32Or(GetServerVariable("CONTENT_LENGTH"), 0);
  if (length <= 0) return *content_;
  const auto wanted = static_cast<uint32_t>(length);

  const uint32_t available =
      ecb_->lpbData != nullptr ? std::min(ecb_->cbAvailable, wanted) : uint32_t{0};
  std::string& body = *content_;
  if (available > 0) body.assign(reinterpret_cast<const char*>(ecb_->lpbData), available);
  if (available < wanted && ecb_->ReadClient != nullptr) {
    const uint32_t missing = std::min(wanted - available, kMaxBodyRead);
    body.resize(available + missing);
    uint32_t got = missing;
    if (!ecb_->ReadClient(ecb_->ConnID, body.data() + available, &got)) got = 0;
    body.resize(available + std::min(got, missing));
  }
  return body;
}

const FieldList& TWebRequest::GetQueryFields() {
  if (!query_fields_) {
    FieldList fields;
    ExtractHeaderFields(QueryString(), fields);
    query_fields_ = std::move(fields);
  }
  return *query_fields_;
}

const FieldList& TWebRequest::GetContentFields() {
  if (!content_fields_) {
    FieldList fields;
    ExtractHeaderFields(Content(), fields);
    content_fields_ = std::move(fields);
  }
  return *content_fields_;
}

}  // namespace morvane
