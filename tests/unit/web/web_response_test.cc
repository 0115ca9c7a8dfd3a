// The response: the exact header block, the body in host-sized pieces, and
// the failure page.
#include "web/web_response.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "records/record_writer.h"
#include "unit/web/fake_host.h"
#include "web/server_error_page.h"
#include "web/web_request.h"

namespace morvane {
namespace {

TEST(TWebResponse, StartsAsOkHtml) {
  testing::FakeHost host("GET", "");
  TWebRequest request(host.ecb());
  TWebResponse response(request);
  EXPECT_EQ(response.StatusCode(), 200);
  EXPECT_EQ(response.ReasonString(), "OK");
  EXPECT_EQ(response.ContentType(), "text/html");
  EXPECT_FALSE(response.Sent());
  response.SetStatusCode(404);
  EXPECT_EQ(response.ReasonString(), "Not Found");
}

TEST(TWebResponse, SendResponseSendsTheExactBlockWithoutLength) {
  testing::FakeHost host("GET", "");
  TWebRequest request(host.ecb());
  TWebResponse response(request);
  response.SetContentType("text/plain");
  response.SendResponse();
  EXPECT_TRUE(response.Sent());
  EXPECT_EQ(host.ecb()->dwHttpStatusCode, 200u);
  ASSERT_EQ(host.headers().size(), 1u);
  EXPECT_EQ(host.headers()[0].status, "200 OK");
  EXPECT_EQ(host.headers()[0].block, "Content-Type: text/plain\r\nContent:\r\n\r\n");
  EXPECT_TRUE(host.writes().empty());
}

TEST(TWebResponse, EmptyReasonOrNonPositiveCodeReportsOk) {
  testing::FakeHost host("GET", "");
  TWebRequest request(host.ecb());
  TWebResponse response(request);
  response.SetStatusCode(299);  // no phrase known
  response.SendResponse();
  EXPECT_EQ(host.headers().at(0).status, "200 OK");
}

TEST(TWebResponse, ContentIsSentWithItsLength) {
  testing::FakeHost host("GET", "");
  TWebRequest request(host.ecb());
  TWebResponse response(request);
  response.SetContent("hello");
  response.SendResponse();
  EXPECT_EQ(host.headers().at(0).block,
            "Content-Type: text/html\r\nContent-Length: 5\r\nContent:\r\n\r\n");
  EXPECT_EQ(host.body(), "hello");
}

TEST(TWebResponse, NoProtocolMeansNoHeaderBlock) {
  testing::FakeHost host("GET", "", "", /*protocol=*/"");
  TWebRequest request(host.ecb());
  TWebResponse response(request);
  response.SetContentType("text/plain");
  response.SendResponse();
  EXPECT_TRUE(response.Sent());
  EXPECT_TRUE(host.headers().empty());
  response.Write("TICK|1|");
  EXPECT_EQ(host.body(), "TICK|1|");
}

TEST(TWebResponse, WritesGoOutInPiecesOfAtMost8192Bytes) {
  testing::FakeHost host("GET", "");
  TWebRequest request(host.ecb());
  TWebResponse response(request);
  std::string big(8192 * 2 + 100, 'a');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  response.Write(big);
  ASSERT_EQ(host.writes().size(), 3u);
  EXPECT_EQ(host.writes()[0].size(), 8192u);
  EXPECT_EQ(host.writes()[1].size(), 8192u);
  EXPECT_EQ(host.writes()[2].size(), 100u);
  EXPECT_EQ(host.body(), big);

  testing::FakeHost streamed("GET", "");
  TWebRequest request2(streamed.ecb());
  TWebResponse response2(request2);
  std::istringstream stream(big);
  stream.ignore(100);  // from the stream's current position
  response2.SendStream(stream);
  EXPECT_EQ(streamed.writes().size(), 2u);
  EXPECT_EQ(streamed.body(), big.substr(100));
}

// Once the host refuses a write (the client hung up), later writes fail
// without reaching the host, and the record writer raises at the record
// whose write failed, so that a generator stops there.
TEST(TWebResponse, AfterARefusedWriteNothingMoreReachesTheHost) {
  testing::FakeHost host("GET", "");
  TWebRequest request(host.ecb());
  TWebResponse response(request);
  host.RefuseWritesAfter(1);
  RecordWriter out(response);
  out.Begin("TICK").Int(0).End();
  EXPECT_THROW(out.Begin("TICK").Int(1).End(), EClientGone);
  EXPECT_FALSE(response.Write("more"));
  EXPECT_FALSE(response.Write(std::string(3 * TWebResponse::kMaxWrite, 'x')));
  EXPECT_THROW(out.WriteRecordCount(2), EClientGone);
  EXPECT_EQ(host.write_calls(), 2u);
  EXPECT_EQ(host.body(), "TICK|0|\r\n");
}

TEST(ServerErrorPage, EscapesClassAndMessageButNotTheStatusText) {
  EXPECT_EQ(ServerErrorBody("E<x>", "a<b>&\"c\"'d'"),
            "<html><title>Internal Server Error 500</title>\r\n"
            "<h1>Internal Server Error 500</h1><hr>\r\n"
            "Exception: E&lt;x&gt;<br>\r\n"
            "Message: a&lt;b&gt;&amp;&quot;c&quot;&#39;d&#39;<br></html>\r\n");
  EXPECT_EQ(ServerErrorStatus("a<b>&c"), "500 a<b>&c");
  // A line break in a message must not end the status line.
  EXPECT_EQ(ServerErrorStatus("bad\r\nSet-Cookie: x"), "500 bad  Set-Cookie: x");
}

TEST(ServerErrorPage, SendsStatusBlockWithLengthThenBodyInOneWrite) {
  testing::FakeHost host("GET", "");
  HandleServerException(host.ecb(), "EDatabaseError", "no <store>");
  const std::string body = ServerErrorBody("EDatabaseError", "no <store>");
  EXPECT_EQ(host.ecb()->dwHttpStatusCode, 500u);
  ASSERT_EQ(host.headers().size(), 1u);
  EXPECT_EQ(host.headers()[0].status, "500 no <store>");
  EXPECT_EQ(host.headers()[0].block, "Content-Type: text/html\r\nContent-Length: " +
                                         std::to_string(body.size()) + "\r\nContent:\r\n\r\n");
  ASSERT_EQ(host.writes().size(), 1u);
  EXPECT_EQ(host.writes()[0], body);
}

}  // namespace
}  // namespace morvane
