#include "web/web_response.h"

#include <algorithm>
#include <cstdint>

#include "web/extension_abi.h"
#include "web/web_request.h"

namespace morvane {

std::string_view StatusString(int code) {
  switch (code) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 202:
      return "Accepted";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Moved Temporarily";
    case 304:
      return "Not Modified";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 413:
      return "Request Entity Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    default:
      return "";
  }
}

TWebResponse::TWebResponse(TWebRequest& request) : request_(request) {}

void TWebResponse::SetStatusCode(int code) {
  status_code_ = code;
  reason_ = std::string(StatusString(code));
}

void TWebResponse::SendResponse() {
  EXTENSION_CONTROL_BLOCK* ecb = request_.ECB();
  if (!request_.GetServerVariable("SERVER_PROTOCOL").empty()) {
    std::string status;
    if (reason_.empty() || status_code_ <= 0) {
      status = "200 OK";
    } else {
      status = std::to_string(status_code_);
      status += ' ';
      status += reason_;
    }
    // Only header lines with a value are sent. "Content:" is always there:
    // it closes the block the way clients of this service have always seen
    // it, and carries nothing. Formed in one piece: every request sends it.
    std::string block;
    block.reserve(64 + content_type_.size());
    if (!content_type_.empty()) {
      block += "Content-Type: ";
      block += content_type_;
      block += "\r\n";
    }
    if (!content_.empty()) {
      block += "Content-Length: ";
      block += std::to_string(content_.size());
      block += "\r\n";
    }
    block += "Content:\r\n\r\n";

    ecb->dwHttpStatusCode = static_cast<uint32_t>(status_code_);
    auto status_size = static_cast<uint32_t>(status.size());
    if (ecb->ServerSupportFunction != nullptr) {
      ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, status.data(),
                                 &status_size, block.data());
    }
  }
  if (!content_.empty()) WriteBytes(content_.data(), content_.size());
  sent_ = true;
}

void TWebResponse::SendStream(std::istream& stream) {
  char piece[kMaxWrite];
  while (stream.read(piece, sizeof(piece)) || stream.gcount() > 0) {
    if (!WriteBytes(piece, static_cast<size_t>(stream.gcount()))) return;
  }
}

bool TWebResponse::WriteBytes(const char* data, size_t n) {
  if (client_gone_) return false;
  EXTENSION_CONTROL_BLOCK* ecb = request_.ECB();
  if (ecb->WriteClient == nullptr) return true;
  while (n > 0) {
    const size_t piece = std::min(n, kMaxWrite);
    auto bytes = static_cast<uint32_t>(piece);
    // A refused write means the client is gone (the host reports a reset
    // or hang-up, and refuses every later write of the answer): nothing
    // more of the answer can reach anyone.
    if (ecb->WriteClient(ecb->ConnID, data, &bytes, HSE_IO_SYNC) == 0) {
      client_gone_ = true;
      return false;
    }
    data += piece;
    n -= piece;
  }
  return true;
}

}  // namespace morvane
