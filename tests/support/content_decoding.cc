#include "support/content_decoding.h"

#include <zlib.h>
#include <zstd.h>

namespace morvane::testing {

std::string DecodeBody(std::string_view coding, std::string_view coded, bool* whole) {
  std::string out;
  char chunk[16384];
  *whole = false;
  if (coding == "zstd") {
    ZSTD_DCtx* d = ZSTD_createDCtx();
    ZSTD_inBuffer in{coded.data(), coded.size(), 0};
    size_t left = 1;
    for (;;) {
      ZSTD_outBuffer o{chunk, sizeof chunk, 0};
      left = ZSTD_decompressStream(d, &o, &in);
      if (ZSTD_isError(left)) break;
      out.append(chunk, o.pos);
      if (o.pos < o.size && in.pos == in.size) break;
    }
    *whole = !ZSTD_isError(left) && left == 0 && in.pos == in.size;
    ZSTD_freeDCtx(d);
  } else if (coding == "gzip") {
    z_stream z{};
    inflateInit2(&z, 15 + 16);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(coded.data()));
    z.avail_in = static_cast<uInt>(coded.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
      z.next_out = reinterpret_cast<Bytef*>(chunk);
      z.avail_out = sizeof chunk;
      rc = inflate(&z, Z_NO_FLUSH);
      out.append(chunk, sizeof chunk - z.avail_out);
    }
    *whole = rc == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
  }
  return out;
}

}  // namespace morvane::testing
