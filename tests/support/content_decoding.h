// A client's decoders for the host's content codings, from the coding
// libraries themselves (libzstd, zlib), for checking compressed answers.
#ifndef MORVANE_TESTS_SUPPORT_CONTENT_DECODING_H_
#define MORVANE_TESTS_SUPPORT_CONTENT_DECODING_H_

#include <string>
#include <string_view>

namespace morvane::testing {

// Decodes `coded` ("zstd" or "gzip") as far as it goes. `whole`: the coded
// stream ended as a complete one, with nothing after it.
std::string DecodeBody(std::string_view coding, std::string_view coded, bool* whole);

}  // namespace morvane::testing

#endif  // MORVANE_TESTS_SUPPORT_CONTENT_DECODING_H_
