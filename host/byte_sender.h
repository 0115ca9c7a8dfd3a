// The last stage of an answer's way out: where framed bytes go.
//
// A sender takes a few pieces at once (a chunk's size line, its data and its
// end, say) and sends them in order as one write where it can, so that
// framing never copies the bytes it frames.
#ifndef MORVANE_HOST_BYTE_SENDER_H_
#define MORVANE_HOST_BYTE_SENDER_H_

#include <span>
#include <string_view>

namespace morvane::host {

class ByteSender {
 public:
  virtual ~ByteSender() = default;

  // Sends every byte of `pieces`, in order. Returns false when the
  // connection is gone; every later call then fails at once.
  virtual bool Send(std::span<const std::string_view> pieces) = 0;
};

}  // namespace morvane::host

#endif  // MORVANE_HOST_BYTE_SENDER_H_
