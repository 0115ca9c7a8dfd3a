#include "extension_call.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "extension_loader.h"
#include "support/ascii_text.h"
#include "web/extension_abi.h"

namespace morvane::host {

namespace {

// One request in flight: the control block's ConnID points here.
class Exchange {
 public:
  Exchange(const HttpRequest& request, ByteSender& sink, size_t write_buffer)
      : request_(request),
        out_(write_buffer, sink),
        version_(request.version == 10 ? "1.0" : "1.1") {}

  const CallOutcome& outcome() const { return outcome_; }

  bool Variable(std::string_view name, std::string* value) const {
    if (name == "SERVER_PROTOCOL") {
      *value = "HTTP/" + version_;
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

  void SetBlock(const EXTENSION_CONTROL_BLOCK* ecb) { ecb_ = ecb; }

  // The extension's status text and header block become the status line and
  // headers; nothing in them may end a line early or take over the framing.
  bool SendHeader(const char* status_text, size_t status_len, const char* block) {
    const uint32_t fallback_code = ecb_ != nullptr ? ecb_->dwHttpStatusCode : 200;
    if (out_.Started()) return false;
    std::string_view status(status_text ? std::string_view(status_text, status_len) : "200 OK");
    int code = 0;
    std::string_view reason;
    if (status.size() >= 3 &&
        std::all_of(status.begin(), status.begin() + 3,
                    [](char c) { return c >= '0' && c <= '9'; }) &&
        (status.size() == 3 || status[3] == ' ')) {
      code = (status[0] - '0') * 100 + (status[1] - '0') * 10 + (status[2] - '0');
      reason = status.size() > 4 ? status.substr(4) : std::string_view();
    } else {
      code = (fallback_code >= 100 && fallback_code <= 999) ? static_cast<int>(fallback_code) : 200;
      reason = status;
    }
    if (code < 100) code = 200;
    outcome_.status = code;

    std::string head = "HTTP/" + version_ + " " + std::to_string(code) + " ";
    for (char c : reason) head.push_back(static_cast<unsigned char>(c) < 0x20 ? ' ' : c);
    head += "\r\n";

    declared_length_ = -1;
    std::string_view lines(block ? block : "");
    while (!lines.empty()) {
      const size_t end = lines.find("\r\n");
      const std::string_view line = lines.substr(0, end);
      lines = end == std::string_view::npos ? std::string_view() : lines.substr(end + 2);
      if (line.empty()) break;  // the block's closing empty line
      const size_t colon = line.find(':');
      if (colon == std::string_view::npos || line.find_first_of("\r\n") != std::string_view::npos) {
        continue;  // not a header line; never let it through
      }
      const std::string_view name = TrimBlanks(line.substr(0, colon));
      if (EqualsIgnoringCase(name, "Transfer-Encoding") || EqualsIgnoringCase(name, "Connection")) {
        continue;  // framing is the host's
      }
      if (EqualsIgnoringCase(name, "Content-Length")) {
        const std::string_view v = TrimBlanks(line.substr(colon + 1));
        long long n = 0;
        bool digits = !v.empty() && v.size() < 16;
        for (char c : v) digits = digits && c >= '0' && c <= '9';
        if (!digits || declared_length_ >= 0) continue;
        for (char c : v) n = n * 10 + (c - '0');
        declared_length_ = n;
      }
      head.append(line);
      head += "\r\n";
    }

    BodyBuffer::Framing framing = BodyBuffer::Framing::kRaw;
    if (declared_length_ < 0) {
      if (request_.version == 11) {
        head += "Transfer-Encoding: chunked\r\n";
        framing = BodyBuffer::Framing::kChunked;
      } else {
        head += "Connection: close\r\n";
        outcome_.reusable = false;
      }
    }
    if (request_.IsHead()) framing = BodyBuffer::Framing::kNone;
    head += "\r\n";
    out_.Start(head, framing);
    return true;
  }

  bool Write(const char* data, size_t n) {
    if (!out_.Started()) SendHeader(nullptr, 0, "");
    if (declared_length_ >= 0) {
      // Never more than the length announced: the rest would be read as
      // the start of the next answer on a kept-alive connection.
      const auto room = static_cast<size_t>(
          std::max<long long>(0, declared_length_ - static_cast<long long>(out_.BodyBytes())));
      n = std::min(n, room);
    }
    out_.Append(data, n);
    return !out_.Failed();
  }

  void Finish(uint32_t result) {
    if (!out_.Started()) {
      if (result == HSE_STATUS_SUCCESS) {
        SendHeader("200 OK", 6, "");
      } else {
        SendHeader("500 Internal Server Error", 25, "Content-Length: 0\r\n\r\n");
      }
    }
    out_.Finish();
    if (!request_.IsHead() && declared_length_ >= 0 &&
        out_.BodyBytes() < static_cast<uint64_t>(declared_length_)) {
      outcome_.reusable = false;  // the client waits for bytes that will never come
    }
    if (out_.Failed()) outcome_.reusable = false;
  }

 private:
  const HttpRequest& request_;
  const EXTENSION_CONTROL_BLOCK* ecb_ = nullptr;
  BodyBuffer out_;
  std::string version_;
  long long declared_length_ = -1;
  CallOutcome outcome_;
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
  if (request != HSE_REQ_SEND_RESPONSE_HEADER) return 0;
  const auto* status = static_cast<const char*>(buffer);
  size_t len = 0;
  if (status != nullptr) len = strnlen(status, size != nullptr && *size > 0 ? *size : 4096);
  return Of(conn)->SendHeader(status, len, static_cast<const char*>(data_type)) ? 1 : 0;
}

}  // namespace

CallOutcome RunExtension(const ExtensionLoader& extension, const HttpRequest& request,
                         ByteSender& sink, size_t write_buffer) {
  Exchange exchange(request, sink, write_buffer);
  const std::string* content_type = request.Header("Content-Type");
  EXTENSION_CONTROL_BLOCK ecb{};
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

  exchange.SetBlock(&ecb);
  const uint32_t result = extension.Run(&ecb);
  exchange.Finish(result);
  return exchange.outcome();
}

}  // namespace morvane::host
