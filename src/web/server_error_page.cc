#include "web/server_error_page.h"

#include <cstdint>

namespace morvane {

namespace {

void AppendHtmlEscaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out.push_back(c);
    }
  }
}

}  // namespace

std::string ServerErrorBody(std::string_view class_name, std::string_view message) {
  std::string body =
      "<html><title>Internal Server Error 500</title>\r\n"
      "<h1>Internal Server Error 500</h1><hr>\r\n"
      "Exception: ";
  AppendHtmlEscaped(body, class_name);
  body += "<br>\r\nMessage: ";
  AppendHtmlEscaped(body, message);
  body += "<br></html>\r\n";
  return body;
}

std::string ServerErrorStatus(std::string_view message) {
  std::string status = "500 ";
  for (const char c : message) {
    const auto u = static_cast<unsigned char>(c);
    status.push_back(u < 0x20 || u == 0x7F ? ' ' : c);
  }
  return status;
}

void HandleServerException(EXTENSION_CONTROL_BLOCK* ecb, std::string_view class_name,
                           std::string_view message) noexcept {
  try {
    const std::string body = ServerErrorBody(class_name, message);
    std::string status = ServerErrorStatus(message);
    std::string block =
        "Content-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nContent:\r\n\r\n";
    ecb->dwHttpStatusCode = 500;
    if (ecb->ServerSupportFunction != nullptr) {
      auto status_size = static_cast<uint32_t>(status.size());
      ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, status.data(),
                                 &status_size, block.data());
    }
    if (ecb->WriteClient != nullptr) {
      auto bytes = static_cast<uint32_t>(body.size());
      ecb->WriteClient(ecb->ConnID, body.data(), &bytes, HSE_IO_SYNC);
    }
  } catch (...) {
    // Out of memory while building a page of a few hundred bytes: there is
    // nothing left to tell the client with.
  }
}

}  // namespace morvane
