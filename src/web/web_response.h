// The answer to one request: status, content type, the header block and the
// body bytes, all sent through the host's control block.
//
// Nothing is buffered here: the header block leaves on SendResponse and each
// body write leaves at once (in host writes of at most 8192 bytes), so a long
// answer streams to the client while it is being formed. Lives for one
// request and is used only by the thread running it.
#ifndef MORVANE_WEB_WEB_RESPONSE_H_
#define MORVANE_WEB_WEB_RESPONSE_H_

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>

#include "records/response_sink.h"

namespace morvane {

class TWebRequest;

// The reason phrase of an HTTP status code ("OK" for 200); empty for codes
// without a known phrase.
std::string_view StatusString(int code);

class TWebResponse final : public ResponseSink {
 public:
  // The largest piece handed to one WriteClient call.
  static constexpr size_t kMaxWrite = 8192;

  // Starts at status 200, reason "OK", content type "text/html", empty
  // content. Requires: `request` outlives the response.
  explicit TWebResponse(TWebRequest& request);

  int StatusCode() const { return status_code_; }
  // Also sets the reason phrase to StatusString(code).
  void SetStatusCode(int code);
  const std::string& ReasonString() const { return reason_; }
  void SetReasonString(std::string reason) { reason_ = std::move(reason); }

  const std::string& ContentType() const { return content_type_; }
  void SetContentType(std::string type) { content_type_ = std::move(type); }

  // A body given whole; written by SendResponse, with a "Content-Length"
  // line. The system streams its bodies instead and leaves this empty.
  const std::string& Content() const { return content_; }
  void SetContent(std::string content) { content_ = std::move(content); }

  bool Sent() const { return sent_; }

  // Sends the status line and header block now, then the content (if any),
  // and marks the response sent. When the request carries no protocol
  // version ("SERVER_PROTOCOL" empty) no header block is sent, only the
  // content. The block holds the set header lines and the line "Content:"
  // and an empty line, so a normal answer's block is exactly
  //   "Content-Type: text/plain\r\nContent:\r\n\r\n"
  // with no length: the body's end is the end of the request.
  void SendResponse();

  // Writes the stream from its current position to its end, in pieces of
  // at most kMaxWrite bytes, each at once; stops when the client is gone.
  void SendStream(std::istream& stream);

  // ResponseSink: writes the bytes to the client now, in pieces of at most
  // kMaxWrite bytes. Once the host has refused one piece (the client hung
  // up), this and every later write return false without calling the host.
  bool WriteBytes(const char* data, size_t n) override;

 private:
  TWebRequest& request_;
  int status_code_ = 200;
  std::string reason_ = "OK";
  std::string content_type_ = "text/html";
  std::string content_;
  bool sent_ = false;
  bool client_gone_ = false;
};

}  // namespace morvane

#endif  // MORVANE_WEB_WEB_RESPONSE_H_
