// The framing rules a request must pass before any handler sees it, and
// the host's own answer when it does not.
//
// Beyond what the parser (Boost.Beast) refuses by itself, a request must
// not leave any doubt where it ends, so that a proxy in front of the server
// and the server itself can never disagree on it: only HTTP/1.0 and 1.1, at
// most HostLimits::max_headers header lines, one Content-Length, and no
// transfer coding but "chunked" (none at all in HTTP/1.0). A request that
// breaks a rule is answered with a fixed text (never bytes of the request)
// and its connection closed, so nothing behind it is read as a request.
#ifndef MORVANE_HOST_REQUEST_RULES_H_
#define MORVANE_HOST_REQUEST_RULES_H_

#include <boost/beast/http/error.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <cstddef>
#include <string>
#include <string_view>

namespace morvane::host {

// A complete answer of the host's own: `status` with `reason`, a plain-text
// body of `text` and a line end, and "Connection: close".
std::string HostPage(int status, std::string_view reason, std::string_view text);

// Why a parsed head must be refused with 400, or null when it is sound.
const char* HeadProblem(const boost::beast::http::request_header<>& head, size_t max_headers);

// Whether the head's Expect header, if any, is one the host meets
// ("100-continue" on HTTP/1.1). A head without Expect passes.
bool ExpectationMet(const boost::beast::http::request_header<>& head);

// The fixed text of a 400 for a head the parser refused with `ec`.
const char* ParseProblem(const boost::system::error_code& ec);

}  // namespace morvane::host

#endif  // MORVANE_HOST_REQUEST_RULES_H_
