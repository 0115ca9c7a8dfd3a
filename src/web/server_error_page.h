// The frame's own failure answer: status 500 and a small HTML page naming the
// error, sent when something raises in the frame itself (the pool is full, a
// data module cannot be made). Request problems never come here: the
// request handler answers those with "ERROR|" records in a 200 body.
#ifndef MORVANE_WEB_SERVER_ERROR_PAGE_H_
#define MORVANE_WEB_SERVER_ERROR_PAGE_H_

#include <string>
#include <string_view>

#include "web/extension_abi.h"

namespace morvane {

// The page's body for an error of class `class_name` with `message`. Both
// are HTML-escaped ("<", ">", "&", '"', "'"), since a message may carry text
// that came from outside (a database's error, a product name) and must not
// become markup in a browser.
std::string ServerErrorBody(std::string_view class_name, std::string_view message);

// The status text "500 " and the message, with every control character
// (CR and LF above all) replaced by a blank so that a message can never end
// the status line early and smuggle in header lines. Not HTML-escaped: it is
// not HTML.
std::string ServerErrorStatus(std::string_view message);

// Sends the failure answer through `ecb`: dwHttpStatusCode 500, the status
// text, the header block "Content-Type: text/html", "Content-Length: <n>",
// "Content:", an empty line, then the body in one WriteClient. Never raises.
void HandleServerException(EXTENSION_CONTROL_BLOCK* ecb, std::string_view class_name,
                           std::string_view message) noexcept;

}  // namespace morvane

#endif  // MORVANE_WEB_SERVER_ERROR_PAGE_H_
