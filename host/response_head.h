// The status line and header block of one answer, as a value.
//
// The extension chooses the status and its header lines; the host chooses
// the framing (and, where the client asked for one, a content coding). The
// extension's block is parsed and cleaned once, here:
//   - the status text "NNN reason" gives the code and the reason phrase; a
//     text without a code keeps the whole text as the reason and takes the
//     code from the control block (200 when that is no status either);
//   - control characters in the reason become blanks, so that it cannot end
//     the status line early;
//   - a line without a colon, or holding a bare CR or LF, is dropped, as are
//     Transfer-Encoding and Connection (framing is the host's);
//   - the first Content-Length whose value is all digits is kept and read;
//     any other Content-Length line is dropped.
// Lines that pass are kept byte for byte, in order.
#ifndef MORVANE_HOST_RESPONSE_HEAD_H_
#define MORVANE_HOST_RESPONSE_HEAD_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace morvane::host {

struct ResponseHead {
  int status = 200;
  std::string reason = "OK";
  std::string lines;              // header lines, each ending "\r\n"
  long long content_length = -1;  // the declared body length; -1 when none

  // `status_text` null: "200 OK". `block` null: no header lines.
  static ResponseHead Parse(const char* status_text, size_t status_len, const char* block,
                            uint32_t fallback_status);

  // Whether a header line of that name (case-insensitive) is present.
  bool Has(std::string_view name) const;
  // Adds a line "name: value". Requires: both free of CR and LF.
  void Add(std::string_view name, std::string_view value);
  // Declares a body of `n` bytes: its Content-Length line and the length
  // the answer holds the body to.
  void SetContentLength(size_t n);

  // The head as sent: the status line for HTTP/1.`minor_version`, the
  // lines, the framing's own line ("Transfer-Encoding: chunked" when
  // `chunked`, "Connection: close" when `closes`) and the empty line.
  std::string Serialize(int minor_version, bool chunked, bool closes) const;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_RESPONSE_HEAD_H_
