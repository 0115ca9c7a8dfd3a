// An in-process stand-in for the HTTP host: a control block whose callbacks
// record what the extension sends, so tests can check bytes exactly.
#ifndef MORVANE_TESTS_UNIT_WEB_FAKE_HOST_H_
#define MORVANE_TESTS_UNIT_WEB_FAKE_HOST_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "web/extension_abi.h"

namespace morvane::testing {

class FakeHost {
 public:
  FakeHost(std::string method, std::string query, std::string body = "",
           std::string protocol = "HTTP/1.1")
      : method_(std::move(method)), query_(std::move(query)), body_(std::move(body)) {
    variables_["SERVER_PROTOCOL"] = std::move(protocol);
    variables_["CONTENT_LENGTH"] = std::to_string(body_.size());
    ecb_.cbSize = sizeof(ecb_);
    ecb_.ConnID = this;
    ecb_.dwHttpStatusCode = 200;
    ecb_.lpszMethod = method_.c_str();
    ecb_.lpszQueryString = query_.c_str();
    ecb_.lpszPathInfo = path_.c_str();
    ecb_.lpszContentType = "";
    ecb_.cbTotalBytes = static_cast<uint32_t>(body_.size());
    ecb_.cbAvailable = static_cast<uint32_t>(body_.size());
    ecb_.lpbData = reinterpret_cast<const unsigned char*>(body_.data());
    ecb_.GetServerVariable = &GetServerVariable;
    ecb_.WriteClient = &WriteClient;
    ecb_.ReadClient = &ReadClient;
    ecb_.ServerSupportFunction = &ServerSupportFunction;
  }
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  EXTENSION_CONTROL_BLOCK* ecb() { return &ecb_; }

  // Delivers only the first `n` body bytes up front; the rest comes through
  // ReadClient.
  void DeliverOnly(uint32_t n) { ecb_.cbAvailable = n; }
  // Refuses every WriteClient after the first `n` (a client that hung up).
  void RefuseWritesAfter(size_t n) { write_limit_ = n; }
  // WriteClient calls, refused ones included.
  size_t write_calls() const { return write_calls_; }
  void SetVariable(const std::string& name, std::string value) {
    variables_[name] = std::move(value);
  }

  struct Header {
    std::string status;
    std::string block;
  };
  const std::vector<Header>& headers() const { return headers_; }
  const std::vector<std::string>& writes() const { return writes_; }
  std::string body() const {
    std::string all;
    for (const auto& w : writes_) all += w;
    return all;
  }
  int read_calls() const { return read_calls_; }

 private:
  static FakeHost* Self(HCONN conn) { return static_cast<FakeHost*>(conn); }

  static HSE_BOOL GetServerVariable(HCONN conn, const char* name, void* buffer, uint32_t* size) {
    FakeHost* self = Self(conn);
    const auto it = self->variables_.find(name);
    if (it == self->variables_.end()) {
      *size = 0;
      return 0;
    }
    const uint32_t needed = static_cast<uint32_t>(it->second.size() + 1);
    if (*size < needed) {
      *size = needed;
      return 0;
    }
    std::memcpy(buffer, it->second.c_str(), needed);
    *size = needed;
    return 1;
  }

  static HSE_BOOL WriteClient(HCONN conn, const void* buffer, uint32_t* bytes, uint32_t) {
    FakeHost* self = Self(conn);
    if (++self->write_calls_ > self->write_limit_) return 0;
    self->writes_.emplace_back(static_cast<const char*>(buffer), *bytes);
    return 1;
  }

  static HSE_BOOL ReadClient(HCONN conn, void* buffer, uint32_t* size) {
    FakeHost* self = Self(conn);
    ++self->read_calls_;
    const size_t from = self->ecb_.cbAvailable + self->read_offset_;
    const size_t n = std::min<size_t>(*size, self->body_.size() - from);
    std::memcpy(buffer, self->body_.data() + from, n);
    self->read_offset_ += n;
    *size = static_cast<uint32_t>(n);
    return 1;
  }

  static HSE_BOOL ServerSupportFunction(HCONN conn, uint32_t request, void* buffer, uint32_t*,
                                        void* data_type) {
    if (request != HSE_REQ_SEND_RESPONSE_HEADER) return 0;
    Self(conn)->headers_.push_back({buffer ? static_cast<const char*>(buffer) : "200 OK",
                                    data_type ? static_cast<const char*>(data_type) : ""});
    return 1;
  }

  std::string method_;
  std::string query_;
  std::string body_;
  std::string path_ = "/anything";
  std::map<std::string, std::string> variables_;
  EXTENSION_CONTROL_BLOCK ecb_{};
  std::vector<Header> headers_;
  std::vector<std::string> writes_;
  int read_calls_ = 0;
  size_t read_offset_ = 0;
  size_t write_limit_ = SIZE_MAX;
  size_t write_calls_ = 0;
};

}  // namespace morvane::testing

#endif  // MORVANE_TESTS_UNIT_WEB_FAKE_HOST_H_
