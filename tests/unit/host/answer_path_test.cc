// The answer path on its own: the extension's head parsed and cleaned, the
// framing of each kind of answer, the buffer's block sizes, the timed flush
// and the end reaching a coder, and the zstd and gzip coders in place,
// against a sender that records every write.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <thread>
#include <vector>

#include "answer.h"
#include "body_coders.h"
#include "response_head.h"
#include "support/content_decoding.h"

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

  // A head that fills a whole write with its size line still leaves with a
  // byte of the body, never alone.
  RecordingSender tight;
  Answer small(request, tight, {.write_size = 64, .max_wait = std::chrono::hours(1)});
  small.Begin(ResponseHead::Parse("200 OK", 6, "X: 12\r\n\r\n", 200));
  small.Write("abcdef", 6);
  small.End(true);
  EXPECT_EQ(tight.Wire(),
            "HTTP/1.1 200 OK\r\nX: 12\r\nTransfer-Encoding: chunked\r\n\r\n"
            "00000001\r\na\r\n00000005\r\nbcdef\r\n0\r\n\r\n");
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

// A coded answer goes out as the client asked, and decodes to exactly the
// body written; a small one, a HEAD, a body of known length or one with a
// coding of its own goes out as it is; a broken one never decodes as whole.
TEST(Answer, CodesTheBodiesThatGainFromIt) {
  std::string longer;  // several full writes once coded
  for (int i = 0; i < 20000; ++i) longer += "TICK|" + std::to_string(i * 7919 % 100003) + "|\r\n";
  const std::string medium = longer.substr(0, 5000);  // over one packet, under one write
  const std::string small = longer.substr(0, 1399);
  const std::string plain = "Content-Type: text/plain\r\n\r\n";
  struct Case {
    const char* name;
    int version;
    const char* method;
    std::string block;
    const std::string& body;
    bool clean;
    bool coded;
    const char* framing;  // the head's last line before the empty one
    bool whole;
  };
  const Case cases[] = {
      {"small: as it is", 11, "GET", plain, small, true, false, "Transfer-Encoding: chunked", true},
      {"over a packet", 11, "GET", plain, medium, true, true, "Transfer-Encoding: chunked", true},
      {"long", 11, "GET", plain, longer, true, true, "Transfer-Encoding: chunked", true},
      {"HTTP/1.0: ends with the connection", 10, "GET", plain, longer, true, true,
       "Connection: close", true},
      {"broken off", 11, "GET", plain, longer, false, true, "Transfer-Encoding: chunked", false},
      {"HTTP/1.0 broken off", 10, "GET", plain, longer, false, true, "Connection: close", false},
      {"HEAD", 11, "HEAD", plain, longer, true, false, "Transfer-Encoding: chunked", true},
      {"known length", 11, "GET", "Content-Length: 5000\r\n\r\n", medium, true, false,
       "Content-Length: 5000", true},
      {"a coding of its own", 11, "GET", "Content-Encoding: br\r\n\r\n", longer, true, false,
       "Transfer-Encoding: chunked", true},
  };
  for (const std::string_view coding : {"zstd", "gzip"}) {
    for (const Case& c : cases) {
      const std::string label = std::string(coding) + ", " + c.name;
      const HttpRequest request = Request(c.version, c.method);
      RecordingSender sender;
      Answer answer(request, sender, {.max_wait = std::chrono::hours(1)});
      answer.OfferCoder(coding == "zstd" ? MakeZstdCoder(1) : MakeGzipCoder(1), "Accept-Encoding");
      answer.Begin(ResponseHead::Parse("200 OK", 6, c.block.c_str(), 200));
      for (size_t at = 0; at < c.body.size(); at += 50) {
        answer.Write(c.body.data() + at, std::min<size_t>(50, c.body.size() - at));
      }
      answer.End(c.clean);

      const std::string wire = sender.Wire();
      const size_t head_end = wire.find("\r\n\r\n") + 4;
      const std::string head = wire.substr(0, head_end);
      std::string body = wire.substr(head_end);
      bool terminated = true;
      if (std::string(c.framing).starts_with("Transfer") && c.method != std::string("HEAD")) {
        std::string joined;
        size_t at = 0;
        terminated = false;
        while (at < body.size()) {
          const size_t size = std::stoul(body.substr(at, 8), nullptr, 16);
          if (size == 0) {
            terminated = body.substr(at) == "0\r\n\r\n";
            break;
          }
          joined += body.substr(at + 10, size);
          at += 10 + size + 2;
        }
        body = joined;
      }
      const bool own_length = c.block.find("Content-Length") != std::string::npos;
      const bool offered = c.method == std::string("GET") && !own_length &&
                           c.block.find("Content-Encoding") == std::string::npos;
      std::string want_head = "HTTP/1." + std::to_string(c.version % 10) + " 200 OK\r\n" +
                              c.block.substr(0, c.block.size() - 2);
      if (offered) want_head += "Vary: Accept-Encoding\r\n";
      if (c.coded) want_head += "Content-Encoding: " + std::string(coding) + "\r\n";
      if (!own_length) want_head += std::string(c.framing) + "\r\n";
      EXPECT_EQ(head, want_head + "\r\n") << label;
      bool whole = true;
      const std::string got = c.coded ? testing::DecodeBody(coding, body, &whole) : body;
      const std::string want = c.method == std::string("HEAD") ? "" : c.body;
      EXPECT_EQ(got == want && whole && terminated, c.whole) << label;
      // Whatever arrived of a broken answer is the body's start.
      EXPECT_EQ(want.substr(0, got.size()), got) << label;
      EXPECT_EQ(answer.Reusable(), c.clean && c.version == 11) << label;
      EXPECT_EQ(answer.Coding(), c.coded ? coding : "") << label;
    }
  }
}

}  // namespace
}  // namespace morvane::host
