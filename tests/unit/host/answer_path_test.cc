// The answer path on its own: the extension's head parsed and cleaned, the
// framing of each kind of answer, the buffer's block sizes, the timed flush
// and the end reaching a coder, against a sender that records every write.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <thread>
#include <vector>

#include "answer.h"
#include "response_head.h"

namespace morvane::host {
namespace {

class RecordingSender final : public ByteSender {
 public:
  bool Send(std::span<const std::string_view> pieces) override {
    if (fail) return false;
    std::string write;
    for (auto p : pieces) write.append(p);
    writes.push_back(write);
    return true;
  }
  std::string Wire() const {
    std::string all;
    for (const auto& w : writes) all += w;
    return all;
  }
  std::vector<std::string> writes;
  bool fail = false;
};

HttpRequest Request(int version, const char* method = "GET") {
  HttpRequest r;
  r.method = method;
  r.version = version;
  return r;
}

TEST(ResponseHead, ParsesAndCleansTheExtensionsBlock) {
  struct Case {
    const char* status;
    const char* block;
    uint32_t fallback;
    const char* head;  // serialized for HTTP/1.1, chunked unless a length is kept
    long long length;
  };
  const Case cases[] = {
      {"200 OK", "Content-Type: text/plain\r\nContent:\r\n\r\n", 200,
       "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent:\r\nTransfer-Encoding: "
       "chunked\r\n\r\n",
       -1},
      {nullptr, "", 200, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", -1},
      // The frame's failure page: its reason is the error text, its length its own.
      {"500 Too many\x01 at once", "Content-Type: text/html\r\nContent-Length: 12\r\n\r\n", 200,
       "HTTP/1.1 500 Too many  at once\r\nContent-Type: text/html\r\nContent-Length: 12\r\n\r\n",
       12},
      // Odd spacing is kept as sent; a second or non-numeric length is dropped.
      {"200 OK", "Content-Length :  7 \r\nContent-Length: 9\r\nX:  a  b\r\n\r\n", 200,
       "HTTP/1.1 200 OK\r\nContent-Length :  7 \r\nX:  a  b\r\n\r\n", 7},
      {"200 OK", "Content-Length: 7x\r\n\r\n", 200,
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", -1},
      // Framing is the host's; lines that are not header lines never pass.
      {"200 OK",
       "Transfer-Encoding: gzip\r\nconnection: keep-alive\r\nno colon\r\nA: b\rc\r\nB: 1\r\n\r\n"
       "After: end\r\n",
       200, "HTTP/1.1 200 OK\r\nB: 1\r\nTransfer-Encoding: chunked\r\n\r\n", -1},
      // A status text without a code: the control block's status, or 200.
      {"Fine", "", 404, "HTTP/1.1 404 Fine\r\nTransfer-Encoding: chunked\r\n\r\n", -1},
      {"Fine", "", 7, "HTTP/1.1 200 Fine\r\nTransfer-Encoding: chunked\r\n\r\n", -1},
      {"204", "", 200, "HTTP/1.1 204 \r\nTransfer-Encoding: chunked\r\n\r\n", -1},
  };
  for (const Case& c : cases) {
    const std::string status = c.status ? c.status : "";
    const ResponseHead head = ResponseHead::Parse(c.status, status.size(), c.block, c.fallback);
    EXPECT_EQ(head.content_length, c.length) << c.head;
    EXPECT_EQ(head.Serialize(1, c.length < 0, false), c.head);
  }
}

TEST(Answer, FramesEachKindOfAnswer) {
  const ResponseHead plain =
      ResponseHead::Parse("200 OK", 6, "Content-Type: text/plain\r\n\r\n", 200);
  const ResponseHead sized = ResponseHead::Parse("200 OK", 6, "Content-Length: 5\r\n\r\n", 200);
  struct Case {
    const char* name;
    HttpRequest request;
    ResponseHead head;
    std::string body;
    bool clean;
    std::string wire;
    bool reusable;
  };
  const std::string type = "Content-Type: text/plain\r\n";
  const Case cases[] = {
      {"chunked", Request(11), plain, "abc", true,
       "HTTP/1.1 200 OK\r\n" + type +
           "Transfer-Encoding: chunked\r\n\r\n00000003\r\nabc\r\n0\r\n\r\n",
       true},
      {"chunked, broken off", Request(11), plain, "abc", false,
       "HTTP/1.1 200 OK\r\n" + type + "Transfer-Encoding: chunked\r\n\r\n00000003\r\nabc\r\n",
       false},
      {"empty chunked", Request(11), plain, "", true,
       "HTTP/1.1 200 OK\r\n" + type + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n", true},
      {"HTTP/1.0 ends with the connection", Request(10), plain, "abc", true,
       "HTTP/1.0 200 OK\r\n" + type + "Connection: close\r\n\r\nabc", false},
      {"HEAD", Request(11, "HEAD"), plain, "abc", true,
       "HTTP/1.1 200 OK\r\n" + type + "Transfer-Encoding: chunked\r\n\r\n", true},
      {"length kept, excess dropped", Request(11), sized, "abcdefg", true,
       "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nabcde", true},
      {"short of its length", Request(11), sized, "abc", true,
       "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nabc", false},
  };
  for (const Case& c : cases) {
    RecordingSender sender;
    Answer answer(c.request, sender, {});
    answer.Begin(c.head);
    answer.Write(c.body.data(), c.body.size());
    answer.End(c.clean);
    EXPECT_EQ(sender.writes.size(), 1u) << c.name;  // a short answer leaves in one write
    EXPECT_EQ(sender.Wire(), c.wire) << c.name;
    EXPECT_EQ(answer.Reusable(), c.reusable) << c.name;
  }
}

// Every full write is write_size bytes of head, size line and data, plus
// the chunk's closing line end, and the chunks carry the body whole and in
// order.
TEST(Answer, LongBodyLeavesInFullWritesOfOneChunkEach) {
  const HttpRequest request = Request(11);
  RecordingSender sender;
  Answer answer(request, sender, {.write_size = 1000, .max_wait = std::chrono::hours(1)});
  answer.Begin(ResponseHead::Parse("200 OK", 6, "", 200));
  std::string body;
  for (int i = 0; i < 700; ++i) body += "TICK|" + std::to_string(i) + "|\r\n";
  for (size_t at = 0; at < body.size(); at += 7) {
    answer.Write(body.data() + at, std::min<size_t>(7, body.size() - at));
  }
  answer.End(true);
  std::string joined;
  for (size_t i = 0; i < sender.writes.size(); ++i) {
    std::string w = sender.writes[i];
    if (i + 1 < sender.writes.size()) {
      EXPECT_EQ(w.size(), 1002u) << i;
    }
    if (i == 0) w = w.substr(w.find("\r\n\r\n") + 4);
    const size_t size = std::stoul(w.substr(0, 8), nullptr, 16);
    EXPECT_EQ(w.substr(8, 2), "\r\n");
    joined += w.substr(10, size);
  }
  EXPECT_EQ(joined, body);
  EXPECT_TRUE(sender.writes.back().ends_with("\r\n0\r\n\r\n"));
}

// A coder that holds everything until told to flush, and upper-cases it.
class HoldingCoder final : public BodyCoder {
 public:
  explicit HoldingCoder(bool fail_at_end) : fail_at_end_(fail_at_end) {}
  std::string_view Name() const override { return "upper"; }
  bool Code(const char* data, size_t n, BodyBuffer&) override {
    held_.append(data, n);
    return true;
  }
  bool Flush(BodyBuffer& out) override {
    for (char& c : held_) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    out.Append(held_.data(), held_.size());
    held_.clear();
    return true;
  }
  bool End(BodyBuffer& out) override { return !fail_at_end_ && Flush(out); }

 private:
  std::string held_;
  bool fail_at_end_;
};

TEST(Answer, TimedFlushAndEndReachTheCoder) {
  const HttpRequest request = Request(11);
  for (const bool fail : {false, true}) {
    RecordingSender sender;
    Answer answer(request, sender, {.max_wait = std::chrono::microseconds(200)});
    answer.OfferCoder(std::make_unique<HoldingCoder>(fail));
    answer.Begin(ResponseHead::Parse("200 OK", 6, "", 200));
    answer.Write("ab", 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    answer.Write("cd", 2);  // "ab" has waited too long: flushed through the coder first
    answer.End(true);
    ASSERT_EQ(sender.writes.size(), fail ? 1u : 2u);
    EXPECT_EQ(sender.writes[0],
              "HTTP/1.1 200 OK\r\nContent-Encoding: upper\r\nTransfer-Encoding: "
              "chunked\r\n\r\n00000002\r\nAB\r\n");
    // A coder that fails at the end leaves the body unterminated.
    if (!fail) {
      EXPECT_EQ(sender.writes[1], "00000002\r\nCD\r\n0\r\n\r\n");
    }
    EXPECT_EQ(answer.Reusable(), !fail);
  }
}

}  // namespace
}  // namespace morvane::host
