// One request through the extension: the control block, its callbacks, and
// the framing of the answer the extension writes.
//
// The extension chooses the status line and header block; the host chooses
// the framing. An HTTP/1.1 answer without a length is sent chunked; an
// HTTP/1.0 one ends with the connection; a declared length is never
// exceeded, and an answer that falls short of it ends the connection. The
// bytes go to `sink` (an AnswerStream in the server) in large sends.
#ifndef MORVANE_HOST_EXTENSION_CALL_H_
#define MORVANE_HOST_EXTENSION_CALL_H_

#include <cstddef>

#include "body_buffer.h"
#include "http_request.h"

namespace morvane::host {

class ExtensionLoader;

struct CallOutcome {
  int status = 200;
  // Whether the answer's framing lets the connection carry another request.
  bool reusable = true;
};

// Runs HttpExtensionProc for `request` on the calling thread and sends the
// whole answer to `sink`, `write_buffer` bytes at a time at most.
CallOutcome RunExtension(const ExtensionLoader& extension, const HttpRequest& request,
                         ByteSender& sink, size_t write_buffer);

}  // namespace morvane::host

#endif  // MORVANE_HOST_EXTENSION_CALL_H_
