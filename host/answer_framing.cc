#include "answer_framing.h"

#include <algorithm>
#include <array>

namespace morvane::host {

namespace {

constexpr size_t kSizeDigits = 8;
constexpr size_t kSizeLine = kSizeDigits + 2;
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kLastChunk = "0\r\n\r\n";

}  // namespace

void AnswerFraming::Start(std::string head, Framing framing) {
  started_ = true;
  framing_ = framing;
  head_ = std::move(head);
}

size_t AnswerFraming::BlockRoom(size_t write_size) const {
  size_t overhead = head_.size();
  if (framing_ == Framing::kChunked) overhead += kSizeLine;
  return write_size > overhead ? write_size - overhead : 1;
}

void AnswerFraming::Send(std::string_view data, bool last) {
  if (failed_) return;
  if (framing_ == Framing::kNone) data = {};
  std::array<char, kSizeLine> size_line{};
  std::array<std::string_view, 5> pieces{};
  size_t n = 0;
  pieces[n++] = head_;
  if (framing_ == Framing::kChunked && !data.empty()) {
    static constexpr char kHex[] = "0123456789abcdef";
    size_t size = data.size();
    for (size_t i = kSizeDigits; i-- > 0; size >>= 4) size_line[i] = kHex[size & 15];
    size_line[kSizeDigits] = '\r';
    size_line[kSizeDigits + 1] = '\n';
    pieces[n++] = std::string_view(size_line.data(), size_line.size());
    pieces[n++] = data;
    pieces[n++] = kLineEnd;
  } else {
    pieces[n++] = data;
  }
  if (last && framing_ == Framing::kChunked) pieces[n++] = kLastChunk;
  const bool any = std::any_of(pieces.begin(), pieces.begin() + static_cast<std::ptrdiff_t>(n),
                               [](std::string_view p) { return !p.empty(); });
  if (!head_.empty()) head_sent_at_ = std::chrono::steady_clock::now();
  if (any && !sender_.Send(std::span<const std::string_view>(pieces.data(), n))) {
    failed_ = true;
  } else {
    for (size_t i = 0; i < n; ++i) bytes_sent_ += pieces[i].size();
  }
  head_.clear();
}

}  // namespace morvane::host
