// zstd as an answer's content coding (body_coders.h).
#include <zstd.h>

#include <span>

#include "body_coders.h"

namespace morvane::host {

namespace {

constexpr int kWindowLog = 16;
constexpr int kTableLog = 15;  // hash and chain tables above level 2

class ZstdCoder final : public BodyCoder {
 public:
  explicit ZstdCoder(int level) : level_(level) {}
  ~ZstdCoder() override { ZSTD_freeCCtx(context_); }
  ZstdCoder(const ZstdCoder&) = delete;
  ZstdCoder& operator=(const ZstdCoder&) = delete;

  std::string_view Name() const override { return "zstd"; }

  bool Code(const char* data, size_t n, BodyBuffer& out) override {
    return Ready(ZSTD_CONTENTSIZE_UNKNOWN) && Run(data, n, ZSTD_e_continue, out);
  }
  bool Flush(BodyBuffer& out) override {
    return Ready(ZSTD_CONTENTSIZE_UNKNOWN) && Run(nullptr, 0, ZSTD_e_flush, out);
  }
  bool End(BodyBuffer& out) override {
    return Ready(ZSTD_CONTENTSIZE_UNKNOWN) && Run(nullptr, 0, ZSTD_e_end, out);
  }
  // With the size known, zstd shrinks its window and tables to the body
  // and names the size in the frame.
  bool CodeWhole(const char* data, size_t n, BodyBuffer& out) override {
    return Ready(n) && Run(data, n, ZSTD_e_end, out);
  }

 private:
  bool Set(ZSTD_cParameter parameter, int value) {
    return !ZSTD_isError(ZSTD_CCtx_setParameter(context_, parameter, value));
  }

  bool Ready(unsigned long long size) {
    if (context_ != nullptr) return true;
    context_ = ZSTD_createCCtx();
    if (context_ == nullptr) return false;
    bool ok = Set(ZSTD_c_compressionLevel, level_) && Set(ZSTD_c_windowLog, kWindowLog) &&
              Set(ZSTD_c_checksumFlag, 1);
    // Levels 1 and 2 use smaller tables already; above, the level's own
    // would take megabytes.
    if (level_ > 2) ok = ok && Set(ZSTD_c_hashLog, kTableLog) && Set(ZSTD_c_chainLog, kTableLog);
    if (size != ZSTD_CONTENTSIZE_UNKNOWN) {
      ok = ok && !ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(context_, size));
    }
    return ok;
  }

  // Codes until the input is taken (continue) or the flush or end is done.
  bool Run(const char* data, size_t n, ZSTD_EndDirective mode, BodyBuffer& out) {
    ZSTD_inBuffer in{data, n, 0};
    for (;;) {
      const std::span<char> room = out.Room();
      ZSTD_outBuffer o{room.data(), room.size(), 0};
      const size_t left = ZSTD_compressStream2(context_, &o, &in, mode);
      if (ZSTD_isError(left)) return false;
      out.Commit(o.pos);
      if (mode == ZSTD_e_continue ? in.pos == in.size : left == 0) return true;
    }
  }

  const int level_;
  ZSTD_CCtx* context_ = nullptr;
};

}  // namespace

std::unique_ptr<BodyCoder> MakeZstdCoder(int level) {
  return std::make_unique<ZstdCoder>(level);
}

}  // namespace morvane::host
