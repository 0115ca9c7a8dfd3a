// The content codings the host makes (body_coding.h), and the offer of one
// to an answer, as the request's Accept-Encoding chooses (accept_encoding.h).
//
// Memory per coded answer is bounded whatever the answer's length, beside
// the answer's own 64 KiB buffer:
//   - zstd: a 64 KiB window (windowLog 16) at every level, and above level
//     2 hash and chain tables of at most 2^15 entries: about 520 KiB at
//     level 1, 720 KiB at most up to level 15. Small windows cost nothing
//     here: a history's records repeat what the records just before them
//     held, and a near match is also a cheaper one. Each frame carries a
//     checksum of its content, so a client can tell a damaged answer.
//   - gzip: zlib's 32 KiB window (windowBits 15, which every decoder takes)
//     and memLevel 8, zlib's own default: 256 KiB, plus 16 KiB where the
//     records are gathered before zlib sees them (one call per record would
//     cost zlib twice the processor time).
// A body that ends before its first send is coded with tables sized to it.
//
// A coder makes nothing until its first call: an answer that ends up
// uncoded (a small one) costs an allocation of a few bytes.
#ifndef MORVANE_HOST_BODY_CODERS_H_
#define MORVANE_HOST_BODY_CODERS_H_

#include <memory>

#include "answer.h"
#include "body_coding.h"
#include "coding_settings.h"
#include "http_request.h"

namespace morvane::host {

// Requires: level from 1 to CodingSettings' maximum for the coding.
std::unique_ptr<BodyCoder> MakeZstdCoder(int level);
std::unique_ptr<BodyCoder> MakeGzipCoder(int level);

// Offers `answer` the coder `request` accepts among those `settings` offer,
// with "Vary: Accept-Encoding"; nothing when it accepts none of them.
// Requires: before Answer::Begin.
void OfferCoding(const HttpRequest& request, const CodingSettings& settings, Answer& answer);

}  // namespace morvane::host

#endif  // MORVANE_HOST_BODY_CODERS_H_
