// Request fields: splitting, decoding and look-up by name.
#include "web/field_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/error.h"
#include "unit/web/fake_host.h"
#include "web/web_request.h"

namespace morvane {
namespace {

std::vector<std::string> Split(std::string_view content) {
  FieldList fields;
  ExtractHeaderFields(content, fields);
  std::vector<std::string> out;
  for (size_t i = 0; i < fields.Count(); ++i) out.push_back(fields[i]);
  return out;
}

TEST(HTTPDecode, DecodesPlusPercentPairsAndEscapes) {
  EXPECT_EQ(HTTPDecode("a+b%20c"), "a b c");
  EXPECT_EQ(HTTPDecode("100%%"), "100%");
  EXPECT_EQ(HTTPDecode("%%41"), "%41");  // "%%" is consumed first
  EXPECT_EQ(HTTPDecode("%41%62%7e%7E"), "Ab~~");
  EXPECT_EQ(HTTPDecode("%2B+"), "+ ");
  EXPECT_EQ(HTTPDecode("a%2fb%2Fc"), "a/b/c");
  EXPECT_EQ(HTTPDecode("%00x"), std::string("\0x", 2));
  EXPECT_EQ(HTTPDecode(""), "");
}

TEST(HTTPDecode, MalformedEscapesRaiseConvertError) {
  for (const char* bad : {"%zz", "a%g1", "%1", "%", "abc%4", "%4%", "% 4"}) {
    EXPECT_THROW(HTTPDecode(bad), EConvertError) << bad;
  }
}

TEST(ExtractHeaderFields, SplitsAtAmpersandsAndLineEnds) {
  EXPECT_EQ(Split("symbol=0005&mode=1"), (std::vector<std::string>{"symbol=0005", "mode=1"}));
  // Empty fields are dropped, CR and LF end a field and are skipped at the
  // start of the next.
  EXPECT_EQ(Split("&&a=1&&b=2&"), (std::vector<std::string>{"a=1", "b=2"}));
  EXPECT_EQ(Split("a=1\r\nb=2\r\n"), (std::vector<std::string>{"a=1", "b=2"}));
  EXPECT_EQ(Split("\r\n\na=1\rb=2"), (std::vector<std::string>{"a=1", "b=2"}));
  EXPECT_EQ(Split(""), std::vector<std::string>{});
}

TEST(ExtractHeaderFields, QuotedStretchKeepsAmpersandAndQuotes) {
  EXPECT_EQ(Split("name=\"a&b\"&mode=1"), (std::vector<std::string>{"name=\"a&b\"", "mode=1"}));
  // An unclosed quote runs to the end of the text.
  EXPECT_EQ(Split("a=\"x&y\r\nz"), (std::vector<std::string>{"a=\"x&y\r\nz"}));
  // Encoded separators and quotes do not split.
  EXPECT_EQ(Split("a=x%26y%22&b=1"), (std::vector<std::string>{"a=x&y\"", "b=1"}));
}

TEST(ExtractHeaderFields, DecodesEachFieldAndRaisesOnMalformedEscape) {
  EXPECT_EQ(Split("s=a+b%20c&p=%%"), (std::vector<std::string>{"s=a b c", "p=%"}));
  FieldList fields;
  EXPECT_THROW(ExtractHeaderFields("a=1&b=%zz&c=3", fields), EConvertError);
}

TEST(FieldList, LookupIgnoresCaseAndFirstMatchWins) {
  FieldList fields;
  ExtractHeaderFields("symbol=0005&MODE=3&symbol=0006&flag&=anon&empty=&x=a=b", fields);
  EXPECT_EQ(fields.Values("SYMBOL"), "0005");
  EXPECT_EQ(fields.Values("Symbol"), "0005");
  EXPECT_EQ(fields.Values("mode"), "3");
  EXPECT_EQ(fields.Values("x"), "a=b");  // value: everything after the first "="
  EXPECT_EQ(fields.Values("empty"), "");
  EXPECT_EQ(fields.IndexOfName("empty"), 5);
  // An entry without "=" has no name and is never found.
  EXPECT_EQ(fields.Values("flag"), "");
  EXPECT_EQ(fields.IndexOfName("flag"), -1);
  EXPECT_EQ(fields.IndexOfName(""), 4);  // "=anon" has the empty name
  EXPECT_EQ(fields.IndexOfName("absent"), -1);
}

TEST(TWebRequest, QueryFieldsComeFromTheQueryString) {
  testing::FakeHost host("GET", "symbol=0005&mode=1", "symbol=9999");
  TWebRequest request(host.ecb());
  EXPECT_EQ(request.Method(), "GET");
  EXPECT_EQ(request.GetQueryFields().Values("symbol"), "0005");
  EXPECT_EQ(request.GetContentFields().Values("symbol"), "9999");

  testing::FakeHost lower("GET", "symbol=a%2fb");  // lowercase hex digits
  EXPECT_EQ(TWebRequest(lower.ecb()).GetQueryFields().Values("symbol"), "a/b");
}

TEST(TWebRequest, ContentFieldsReadTheMissingBytesWithOneReadClient) {
  testing::FakeHost host("POST", "", "symbol=0005&mode=1");
  host.DeliverOnly(5);
  TWebRequest request(host.ecb());
  EXPECT_EQ(request.GetContentFields().Values("MODE"), "1");
  EXPECT_EQ(request.GetContentFields().Values("symbol"), "0005");
  EXPECT_EQ(host.read_calls(), 1);
}

TEST(TWebRequest, ContentLengthZeroOrMalformedGivesNoFields) {
  for (const char* length : {"0", "-5", "abc", ""}) {
    testing::FakeHost host("POST", "", "symbol=0005");
    host.SetVariable("CONTENT_LENGTH", length);
    TWebRequest request(host.ecb());
    EXPECT_EQ(request.GetContentFields().Count(), 0u) << length;
    EXPECT_EQ(host.read_calls(), 0);
  }
}

TEST(TWebRequest, ContentLengthShorterThanDeliveredCutsTheBody) {
  testing::FakeHost host("POST", "", "a=1&b=2");
  host.SetVariable("CONTENT_LENGTH", "3");
  TWebRequest request(host.ecb());
  EXPECT_EQ(request.Content(), "a=1");
  EXPECT_EQ(request.GetContentFields().Values("b"), "");
}

TEST(TWebRequest, MalformedEscapeRaisesOnEveryLookAndReadsOnce) {
  testing::FakeHost host("POST", "", "a=%zz");
  host.DeliverOnly(2);
  TWebRequest request(host.ecb());
  EXPECT_THROW(request.GetContentFields(), EConvertError);
  EXPECT_THROW(request.GetContentFields(), EConvertError);
  EXPECT_EQ(host.read_calls(), 1);
}

}  // namespace
}  // namespace morvane
