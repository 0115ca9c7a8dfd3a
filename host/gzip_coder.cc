// gzip as an answer's content coding (body_coders.h).
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>

#include "body_coders.h"

namespace morvane::host {

namespace {

constexpr int kWindowBits = 15;
constexpr int kMemLevel = 8;
constexpr int kGzipWrapper = 16;  // added to windowBits: a gzip header and trailer
constexpr size_t kGather = 16 * 1024;

class GzipCoder final : public BodyCoder {
 public:
  explicit GzipCoder(int level) : level_(level) {}
  ~GzipCoder() override {
    if (ready_) deflateEnd(&stream_);
  }
  GzipCoder(const GzipCoder&) = delete;
  GzipCoder& operator=(const GzipCoder&) = delete;

  std::string_view Name() const override { return "gzip"; }

  bool Code(const char* data, size_t n, BodyBuffer& out) override {
    if (!Ready(kWindowBits, kMemLevel)) return false;
    if (n == 0) return true;
    if (gathered_ + n > kGather) {
      if (!Deflate(gathered_bytes_.get(), gathered_, Z_NO_FLUSH, out)) return false;
      gathered_ = 0;
      if (n >= kGather) return Deflate(data, n, Z_NO_FLUSH, out);
    }
    std::memcpy(gathered_bytes_.get() + gathered_, data, n);
    gathered_ += n;
    return true;
  }
  bool Flush(BodyBuffer& out) override { return Drain(Z_SYNC_FLUSH, out); }
  bool End(BodyBuffer& out) override { return Drain(Z_FINISH, out); }
  // A window and tables no larger than the body needs (zlib takes 9 to 15
  // window bits with a gzip wrapper).
  bool CodeWhole(const char* data, size_t n, BodyBuffer& out) override {
    int bits = 9;
    while (bits < kWindowBits && (size_t{1} << bits) < n) ++bits;
    return Ready(bits, std::min(kMemLevel, bits - 7)) && Deflate(data, n, Z_FINISH, out);
  }

 private:
  bool Ready(int window_bits, int mem_level) {
    if (ready_) return true;
    if (deflateInit2(&stream_, level_, Z_DEFLATED, window_bits + kGzipWrapper, mem_level,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
      return false;
    }
    ready_ = true;
    gathered_bytes_ = std::make_unique_for_overwrite<char[]>(kGather);
    return true;
  }

  bool Drain(int flush, BodyBuffer& out) {
    if (!Ready(kWindowBits, kMemLevel)) return false;
    const bool ok = Deflate(gathered_bytes_.get(), gathered_, flush, out);
    gathered_ = 0;
    return ok;
  }

  // Feeds `data` to zlib and writes what it makes into the buffer's room,
  // until the input is taken and, for a flush or the end, all output is out.
  bool Deflate(const char* data, size_t n, int flush, BodyBuffer& out) {
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream_.avail_in = static_cast<uInt>(n);
    for (;;) {
      const std::span<char> room = out.Room();
      stream_.next_out = reinterpret_cast<Bytef*>(room.data());
      stream_.avail_out = static_cast<uInt>(room.size());
      const int rc = deflate(&stream_, flush);
      out.Commit(room.size() - stream_.avail_out);
      if (rc == Z_STREAM_END) return true;
      // Z_BUF_ERROR: nothing left to do (a flush with nothing new).
      if (rc != Z_OK && rc != Z_BUF_ERROR) return false;
      if (stream_.avail_in == 0 && stream_.avail_out > 0 && flush != Z_FINISH) return true;
      if (rc == Z_BUF_ERROR) return flush != Z_FINISH;
    }
  }

  const int level_;
  z_stream stream_{};
  bool ready_ = false;
  std::unique_ptr<char[]> gathered_bytes_;
  size_t gathered_ = 0;
};

}  // namespace

std::unique_ptr<BodyCoder> MakeGzipCoder(int level) {
  return std::make_unique<GzipCoder>(level);
}

}  // namespace morvane::host
