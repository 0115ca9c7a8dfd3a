#include "http_binding.h"

#include <civetweb.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "body_buffer.h"
#include "extension_loader.h"
#include "support/ascii_text.h"
#include "web/extension_abi.h"

namespace morvane::host {

namespace {

// civetweb decides after the handler returns whether to keep the connection,
// from the request's "Connection" header and version alone; it does not look
// at the answer we wrote ourselves. An answer whose end is the end of the
// connection (HTTP/1.0 without a length, a body shorter than its length)
// must make it close, so the header it will read says "close": rewritten
// when the request has one, added when it has none (HTTP/1.1 keeps a
// connection without it). The request info is civetweb's own per-connection
// record, handed out read-only but not const in itself.
void ForceClose(mg_connection* conn) {
  auto* info = const_cast<mg_request_info*>(mg_get_request_info(conn));
  bool found = false;
  for (int i = 0; i < info->num_headers; ++i) {
    if (info->http_headers[i].name != nullptr &&
        EqualsIgnoringCase(info->http_headers[i].name, "Connection")) {
      info->http_headers[i].value = "close";
      found = true;
    }
  }
  if (!found && info->num_headers < MG_MAX_HEADERS) {
    info->http_headers[info->num_headers++] = {"Connection", "close"};
  }
}

// One request in flight: the control block's ConnID points here.
class Exchange final : public ByteSender {
 public:
  Exchange(mg_connection* conn, const BindingOptions& options)
      : conn_(conn),
        info_(mg_get_request_info(conn)),
        out_(options.write_buffer, *this),
        http11_(info_->http_version != nullptr && std::strcmp(info_->http_version, "1.0") != 0),
        head_request_(info_->request_method != nullptr &&
                      std::strcmp(info_->request_method, "HEAD") == 0) {
    version_ = info_->http_version != nullptr ? info_->http_version : "1.1";
  }

  std::string& body() { return body_; }
  int status() const { return status_; }

  bool Send(const char* data, size_t n) override {
    return mg_write(conn_, data, n) == static_cast<int>(n);
  }

  bool Variable(std::string_view name, std::string* value) const {
    if (name == "SERVER_PROTOCOL") {
      *value = "HTTP/" + version_;
    } else if (name == "CONTENT_LENGTH") {
      *value = std::to_string(body_.size());
    } else if (name == "REQUEST_METHOD") {
      *value = OrEmpty(info_->request_method);
    } else if (name == "QUERY_STRING") {
      *value = OrEmpty(info_->query_string);
    } else if (name == "PATH_INFO") {
      *value = OrEmpty(info_->local_uri);
    } else if (name == "REMOTE_ADDR") {
      *value = info_->remote_addr;
    } else if (name == "CONTENT_TYPE") {
      *value = OrEmpty(mg_get_header(conn_, "Content-Type"));
    } else if (name.substr(0, 5) == "HTTP_") {
      // HTTP_<NAME>: the request header of that name, "-" spelled "_".
      std::string header(name.substr(5));
      std::replace(header.begin(), header.end(), '_', '-');
      const char* v = mg_get_header(conn_, header.c_str());
      if (v == nullptr) return false;
      *value = v;
    } else {
      return false;
    }
    return true;
  }

  // The extension's status text and header block become the status line and
  // headers; the framing is the host's to choose.
  void SetBlock(const EXTENSION_CONTROL_BLOCK* ecb) { ecb_ = ecb; }

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
    status_ = code;

    std::string head = "HTTP/" + version_ + " " + std::to_string(code) + " ";
    // Nothing in the reason may end the status line.
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
        if (!digits) continue;
        for (char c : v) n = n * 10 + (c - '0');
        declared_length_ = n;
      }
      head.append(line);
      head += "\r\n";
    }

    BodyBuffer::Framing framing = BodyBuffer::Framing::kRaw;
    if (declared_length_ < 0) {
      if (http11_) {
        head += "Transfer-Encoding: chunked\r\n";
        framing = BodyBuffer::Framing::kChunked;
      } else {
        head += "Connection: close\r\n";
        ForceClose(conn_);
      }
    }
    if (head_request_) framing = BodyBuffer::Framing::kNone;
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
    if (!head_request_ && declared_length_ >= 0 &&
        out_.BodyBytes() < static_cast<uint64_t>(declared_length_)) {
      ForceClose(conn_);  // the client waits for bytes that will never come
    }
  }

 private:
  static std::string OrEmpty(const char* s) { return s ? s : ""; }

  mg_connection* conn_;
  const mg_request_info* info_;
  const EXTENSION_CONTROL_BLOCK* ecb_ = nullptr;
  BodyBuffer out_;
  bool http11_;
  bool head_request_;
  std::string version_;
  std::string body_;
  int status_ = 200;
  long long declared_length_ = -1;
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

}  // namespace

int HttpBinding::Handle(mg_connection* conn, void* self) {
  auto* binding = static_cast<HttpBinding*>(self);
  // Counted before the check, so that a request that passes the check is
  // always seen by a drain that starts right after it.
  ++binding->in_flight_;
  int status = 503;
  if (binding->draining_.load()) {
    mg_send_http_error(conn, 503, "%s", "The server is shutting down");
  } else {
    status = binding->Serve(conn);
  }
  --binding->in_flight_;
  return status;
}

int HttpBinding::Serve(mg_connection* conn) const {
  const mg_request_info* info = mg_get_request_info(conn);
  Exchange exchange(conn, options_);

  // The body, whole, before the extension runs: it then never waits on a
  // slow client while it holds a data module.
  const char* te = mg_get_header(conn, "Transfer-Encoding");
  const bool chunked_request = te != nullptr && std::strstr(te, "chunked") != nullptr;
  if (info->content_length > static_cast<long long>(options_.max_body)) {
    mg_send_http_error(conn, 413, "Request body larger than %zu bytes", options_.max_body);
    return 413;
  }
  if (info->content_length > 0 || chunked_request) {
    std::string& body = exchange.body();
    char piece[16 * 1024];
    for (;;) {
      const int n = mg_read(conn, piece, sizeof(piece));
      if (n <= 0) break;
      body.append(piece, static_cast<size_t>(n));
      if (body.size() > options_.max_body) {
        mg_send_http_error(conn, 413, "Request body larger than %zu bytes", options_.max_body);
        return 413;
      }
    }
  }

  const std::string& body = exchange.body();
  const char* content_type = mg_get_header(conn, "Content-Type");
  EXTENSION_CONTROL_BLOCK ecb{};
  ecb.cbSize = sizeof(ecb);
  ecb.ConnID = &exchange;
  ecb.dwHttpStatusCode = 200;
  ecb.lpszMethod = info->request_method ? info->request_method : "";
  ecb.lpszQueryString = info->query_string ? info->query_string : "";
  ecb.lpszPathInfo =
      info->local_uri ? info->local_uri : (info->request_uri ? info->request_uri : "");
  ecb.lpszContentType = content_type ? content_type : "";
  ecb.cbTotalBytes = static_cast<uint32_t>(body.size());
  ecb.cbAvailable = static_cast<uint32_t>(body.size());
  ecb.lpbData = reinterpret_cast<const unsigned char*>(body.data());
  ecb.GetServerVariable = &GetServerVariable;
  ecb.WriteClient = &WriteClient;
  ecb.ReadClient = &ReadClient;
  ecb.ServerSupportFunction = [](HCONN c, uint32_t request, void* buffer, uint32_t* size,
                                 void* data_type) -> HSE_BOOL {
    if (request != HSE_REQ_SEND_RESPONSE_HEADER) return 0;
    const auto* status = static_cast<const char*>(buffer);
    size_t len = 0;
    if (status != nullptr) len = strnlen(status, size != nullptr && *size > 0 ? *size : 4096);
    return Of(c)->SendHeader(status, len, static_cast<const char*>(data_type)) ? 1 : 0;
  };

  exchange.SetBlock(&ecb);
  const uint32_t result = extension_.Run(&ecb);
  exchange.Finish(result);
  return exchange.status();
}

}  // namespace morvane::host
