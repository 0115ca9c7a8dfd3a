#include "body_coders.h"

#include "accept_encoding.h"

namespace morvane::host {

void OfferCoding(const HttpRequest& request, const CodingSettings& settings, Answer& answer) {
  switch (ChooseCoding(request, settings)) {
    case ContentCoding::kZstd:
      answer.OfferCoder(MakeZstdCoder(settings.zstd_level), "Accept-Encoding");
      break;
    case ContentCoding::kGzip:
      answer.OfferCoder(MakeGzipCoder(settings.gzip_level), "Accept-Encoding");
      break;
    case ContentCoding::kIdentity:
      break;
  }
}

}  // namespace morvane::host
