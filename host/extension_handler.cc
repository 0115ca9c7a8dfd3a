#include "extension_handler.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "extension_loader.h"
#include "response_head.h"
#include "web/extension_abi.h"

namespace morvane::host {

namespace {

// One request in flight: the control block's ConnID points here.
class Exchange {
 public:
  Exchange(const HttpRequest& request, Answer& answer, const EXTENSION_CONTROL_BLOCK& ecb)
      : request_(request), answer_(answer), ecb_(ecb) {}

  bool Variable(std::string_view name, std::string* value) const {
    if (name == "SERVER_PROTOCOL") {
      *value = request_.version == 10 ? "HTTP/1.0" : "HTTP/1.1";
    } else if (name == "CONTENT_LENGTH") {
      *value = std::to_string(request_.body.size());
    } else if (name == "REQUEST_METHOD") {
      *value = request_.method;
    } else if (name == "QUERY_STRING") {
      *value = request_.query;
    } else if (name == "PATH_INFO") {
      *value = request_.path;
    } else if (name == "REMOTE_ADDR") {
      *value = request_.remote_address;
    } else if (name == "CONTENT_TYPE") {
      const std::string* v = request_.Header("Content-Type");
      *value = v != nullptr ? *v : "";
    } else if (name.substr(0, 5) == "HTTP_") {
      // HTTP_<NAME>: the request header of that name, "-" spelled "_".
      std::string header(name.substr(5));
      std::replace(header.begin(), header.end(), '_', '-');
      const std::string* v = request_.Header(header);
      if (v == nullptr) return false;
      *value = *v;
    } else {
      return false;
    }
    return true;
  }

  bool SendHeader(const char* status_text, size_t status_len, const char* block) {
    if (answer_.Started()) return false;
    answer_.Begin(ResponseHead::Parse(status_text, status_len, block, ecb_.dwHttpStatusCode));
    return true;
  }

  bool Write(const char* data, size_t n) {
    if (!answer_.Started()) SendHeader(nullptr, 0, "");
    return answer_.Write(data, n);
  }

  // The extension's report: kept as far as its size and this host's idea
  // of it agree.
  bool Report(const HSE_REQUEST_REPORT* report) {
    if (report == nullptr || report->cbSize < offsetof(HSE_REQUEST_REPORT, qwRecords)) return false;
    HSE_REQUEST_REPORT r{};
    std::memcpy(&r, report, std::min<size_t>(report->cbSize, sizeof(r)));
    mode_ = r.dwMode <= 6 ? r.dwMode : r.dwMode == HSE_MODE_OTHER ? kModeOther : kModeNone;
    switch (r.dwOutcome) {
      case HSE_OUTCOME_ERROR_RECORDS:
        outcome_ = Outcome::kErrorRecords;
        break;
      case HSE_OUTCOME_LIMIT_PAGE:
        outcome_ = Outcome::kLimitPage;
        break;
      case HSE_OUTCOME_EXCEPTION:
        outcome_ = Outcome::kException;
        break;
      default:
        outcome_ = Outcome::kAnswered;
        break;
    }
    records_ = r.qwRecords;
    reported_ = true;
    return true;
  }

  FinishedRequest Finished() const {
    FinishedRequest f{.request = request_};
    f.status = answer_.status();
    f.body_bytes = answer_.BodyBytes();
    f.bytes_sent = answer_.BytesSent();
    f.first_byte = answer_.FirstByteAt();
    f.end = std::chrono::steady_clock::now();
    f.mode = mode_;
    f.records = records_;
    if (answer_.Failed()) {
      f.outcome = Outcome::kClientGone;
    } else if (reported_) {
      f.outcome = outcome_;
    } else {
      f.outcome = f.status >= 500 ? Outcome::kException : Outcome::kAnswered;
    }
    return f;
  }

  void Finish(uint32_t result) {
    if (!answer_.Started()) {
      if (result == HSE_STATUS_SUCCESS) {
        SendHeader("200 OK", 6, "");
      } else {
        SendHeader("500 Internal Server Error", 25, "Content-Length: 0\r\n\r\n");
      }
    }
    // The extension's own failures after its head are in its body (error
    // records, or a page with its length): the answer itself is whole.
    answer_.End(true);
  }

 private:
  const HttpRequest& request_;
  Answer& answer_;
  const EXTENSION_CONTROL_BLOCK& ecb_;
  size_t mode_ = kModeNone;
  Outcome outcome_ = Outcome::kAnswered;
  uint64_t records_ = 0;
  bool reported_ = false;
};

Exchange* Of(HCONN conn) {
  return static_cast<Exchange*>(conn);
}

HSE_BOOL GetServerVariable(HCONN conn, const char* name, void* buffer, uint32_t* size) {
  if (name == nullptr || size == nullptr) return 0;
  std::string value;
  if (!Of(conn)->Variable(name, &value)) {
    *size = 0;
    return 0;
  }
  const auto needed = static_cast<uint32_t>(value.size() + 1);
  if (buffer == nullptr || *size < needed) {
    *size = needed;
    return 0;
  }
  std::memcpy(buffer, value.c_str(), needed);
  *size = needed;
  return 1;
}

HSE_BOOL WriteClient(HCONN conn, const void* buffer, uint32_t* bytes, uint32_t /*reserved*/) {
  if (bytes == nullptr || (buffer == nullptr && *bytes > 0)) return 0;
  return Of(conn)->Write(static_cast<const char*>(buffer), *bytes) ? 1 : 0;
}

HSE_BOOL ReadClient(HCONN /*conn*/, void* /*buffer*/, uint32_t* size) {
  // The whole body was read before the extension was called.
  if (size != nullptr) *size = 0;
  return 1;
}

HSE_BOOL ServerSupport(HCONN conn, uint32_t request, void* buffer, uint32_t* size,
                       void* data_type) {
  if (request == HSE_REQ_REPORT_REQUEST) {
    return Of(conn)->Report(static_cast<const HSE_REQUEST_REPORT*>(buffer)) ? 1 : 0;
  }
  if (request != HSE_REQ_SEND_RESPONSE_HEADER) return 0;
  const auto* status = static_cast<const char*>(buffer);
  size_t len = 0;
  if (status != nullptr) len = strnlen(status, size != nullptr && *size > 0 ? *size : 4096);
  return Of(conn)->SendHeader(status, len, static_cast<const char*>(data_type)) ? 1 : 0;
}

}  // namespace

void ExtensionHandler::Handle(const HttpRequest& request, Answer& answer) {
  const std::string* content_type = request.Header("Content-Type");
  EXTENSION_CONTROL_BLOCK ecb{};
  Exchange exchange(request, answer, ecb);
  ecb.cbSize = sizeof(ecb);
  ecb.ConnID = &exchange;
  ecb.dwHttpStatusCode = 200;
  ecb.lpszMethod = request.method.c_str();
  ecb.lpszQueryString = request.query.c_str();
  ecb.lpszPathInfo = request.path.c_str();
  ecb.lpszContentType = content_type != nullptr ? content_type->c_str() : "";
  ecb.cbTotalBytes = static_cast<uint32_t>(request.body.size());
  ecb.cbAvailable = static_cast<uint32_t>(request.body.size());
  ecb.lpbData = reinterpret_cast<const unsigned char*>(request.body.data());
  ecb.GetServerVariable = &GetServerVariable;
  ecb.WriteClient = &WriteClient;
  ecb.ReadClient = &ReadClient;
  ecb.ServerSupportFunction = &ServerSupport;
  exchange.Finish(extension_.Run(&ecb));
  if (!observers_.empty()) Tell(exchange.Finished());
}

void ExtensionHandler::Unanswered(const HttpRequest& request, int status) {
  if (observers_.empty()) return;
  FinishedRequest f{.request = request};
  f.status = status;
  f.end = std::chrono::steady_clock::now();
  f.outcome = status == 0 ? Outcome::kClientGone : Outcome::kRefused;
  Tell(f);
}

void ExtensionHandler::Tell(const FinishedRequest& finished) const {
  for (RequestObserver* o : observers_) o->Finished(finished);
}

}  // namespace morvane::host
