// Chooses an answer's content coding from the request's Accept-Encoding
// field, as HTTP/1.1 defines it (RFC 9110, section 12.5.3).
//
// The field is a comma-separated list of codings, each with an optional
// weight ";q=" from 0 to 1 (at most three decimals); q=0 means "not
// acceptable". Several field lines count as one list. Names ignore case;
// "x-gzip" is "gzip". "*" stands for every coding not listed by name, and
// "identity" (no coding) is acceptable unless it is listed, or "*" is, with
// q=0. Codings the server does not know are skipped. A field that breaks
// this grammar anywhere (a bad weight, a parameter other than q, a name
// with characters a token may not hold) is treated as absent.
//
// The choice:
//   - no field, an empty one, or one treated as absent: no coding, so every
//     client that does not ask gets exactly the answer it always got;
//   - otherwise the offered coding of highest weight (zstd before gzip at
//     equal weight: the same size for a third of the processor time),
//     unless "identity" is listed (by name or through "*") with a higher
//     weight than it;
//   - when nothing offered is acceptable (say "br" alone, "identity;q=0"
//     alone, or "*;q=0"), no coding: the answer goes out as it is rather
//     than not at all (the RFC's advice, and what common servers do).
#ifndef MORVANE_HOST_ACCEPT_ENCODING_H_
#define MORVANE_HOST_ACCEPT_ENCODING_H_

#include <span>
#include <string_view>

#include "coding_settings.h"
#include "http_request.h"

namespace morvane::host {

enum class ContentCoding { kIdentity, kZstd, kGzip };

// The token of the coding in Content-Encoding ("" for identity).
std::string_view CodingName(ContentCoding coding);

// From the values of the field's lines in the order received (none: the
// field is absent), among the codings `offered`.
ContentCoding ChooseCoding(std::span<const std::string_view> field_lines,
                           const CodingSettings& offered);

// From the request's Accept-Encoding lines.
ContentCoding ChooseCoding(const HttpRequest& request, const CodingSettings& offered);

}  // namespace morvane::host

#endif  // MORVANE_HOST_ACCEPT_ENCODING_H_
