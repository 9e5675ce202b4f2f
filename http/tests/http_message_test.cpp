// Byte-level parsing of message heads and the header-name table, without sockets: one case a
// line.
#include "http/http_message.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "common/text.h"

namespace brevis {
namespace {

std::string U8(std::u16string_view s) { return Utf16ToUtf8(s); }

constexpr std::int64_t kInt64Max = INT64_MAX;

TEST(HttpMessageTest, ParsesStatusCodes) {
  struct Case {
    const char16_t* line;
    int code;
  };
  constexpr Case kCases[] = {
      {u"HTTP/1.1 200 OK", 200},
      {u"HTTP/1.0 404", 404},
      {u"HTTP/1.1  301  Moved", 301},  // blanks around the code
      {u"HTTP/1.1 +206 Partial", 206},
      {u"HTTP/1.1 2147483647 X", 2147483647},
      {u"HTTP/1.1 2147483648 X", -1},  // does not fit in 32 bits
      {u"HTTP/1.1 abc", -1},
      {u"HTTP/1.1 20x OK", -1},
      {u"HTTP/1.1", -1},  // no code at all
      {u"", -1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(U8(c.line));
    EXPECT_EQ(ParseStatusCode(c.line), c.code);
  }
}

TEST(HttpMessageTest, ParsesContentType) {
  struct Case {
    const char16_t* value;
    const char* type;
    const char* charset;
  };
  constexpr Case kCases[] = {
      {u"", "", ""},
      {u"text/html", "text/html", ""},
      {u"text/html; charset=UTF-8", "text/html", "UTF-8"},
      {u"text/html;CHARSET=\"gbk\"", "text/html", "gbk"},
      {u" text/plain ; format=flowed ; charset = x", "text/plain; format=flowed; charset = x",
       ""},  // "charset = x" is no charset parameter
      {u"text/plain; charset =x", "text/plain; charset =x", ""},
      {u"; charset=a", "", "a"},
      {u"charset=a", "charset=a", ""},  // the first item is always the type
      {u"a;;b", "a; b", ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(U8(c.value));
    const ContentTypeValue value = ParseContentType(c.value);
    EXPECT_EQ(U8(value.type), c.type);
    EXPECT_EQ(U8(value.charset), c.charset);
  }
}

TEST(HttpMessageTest, ParsesContentRange) {
  struct Case {
    const char16_t* value;
    std::int64_t start, end, instance;
  };
  constexpr Case kCases[] = {
      {u"bytes 0-499/1234", 0, 499, 1234},
      {u"bytes 500-999/*", 500, 999, 0},
      {u"bytes */1234", 0, 0, 1234},
      {u"bytes 1-2", 1, 2, 0},
      {u"bytes0-1/2", 0, 0, 0},  // no blank: no range
      {u"", 0, 0, 0},
      {u"bytes 9223372036854775807-x/9223372036854775808", kInt64Max, 0, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(U8(c.value));
    const ContentRangeValue range = ParseContentRange(c.value);
    EXPECT_EQ(range.start, c.start);
    EXPECT_EQ(range.end, c.end);
    EXPECT_EQ(range.instanceLength, c.instance);
  }
}

TEST(HttpMessageTest, ParsesChunkSizes) {
  struct Case {
    const char16_t* line;
    std::optional<std::int64_t> size;
  };
  const Case kCases[] = {
      {u"0", 0},
      {u"1a", 26},
      {u"1A;name=value", 26},
      {u"ff  ", 255},
      {u"10 ; ext", 16},
      {u"7fffffffffffffff", kInt64Max},
      {u"8000000000000000", std::nullopt},  // over 63 bits
      {u"", std::nullopt},
      {u"xyz", std::nullopt},
      {u"-1", std::nullopt},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(U8(c.line));
    EXPECT_EQ(ParseChunkSize(c.line), c.size);
  }
}

TEST(HttpMessageTest, WritesRequestHeadersInWireOrder) {
  HttpRequest request;
  request.Connection = u"keep-alive";
  request.ContentType = u"text/plain";
  request.CharSet = u"utf-8";
  request.ContentLength = 12;
  request.Date = SysSeconds(std::chrono::seconds(0));
  request.CustomHeaders.Add(u"X-Custom: 1");
  request.Host = u"example.test:8080";
  request.Range = u"0-99";
  request.LastModified = SysSeconds(std::chrono::seconds(86400));
  request.RawHeaders.Add(u"Stale: gone");
  WriteRequestHeaders(request);

  const std::vector<std::u16string> expected = {
      u"Connection: keep-alive",
      u"Content-Type: text/plain; charset=utf-8",
      u"Content-Length: 12",
      u"Date: Thu, 01-Jan-1970 00:00:00 GMT",
      u"X-Custom: 1",
      u"Host: example.test:8080",
      u"Accept: text/html, */*",
      u"User-Agent: Mozilla/3.0 (compatible; Tesvaro Fetch)",
      u"Range: bytes=0-99",
      u"If-Modified-Since: Fri, 02-Jan-1970 00:00:00 GMT",
  };
  EXPECT_EQ(request.RawHeaders.Lines(), expected);
}

TEST(HttpMessageTest, ReadsResponseHeadersIntoFields) {
  HttpResponse response;
  response.ResponseText = u"HTTP/1.0 206 Partial";
  for (const char16_t* line :
       {u"cache-control: no-cache", u"Connection: close", u"Content-Type: text/html; charset=gbk",
        u"Content-Length: 42", u"Content-Range: bytes 0-41/100", u"ETag: \"e\"", u"Pragma: p",
        u"Location: /next", u"Server: test", u"Proxy-Connection: keep-alive",
        u"Accept-Ranges: bytes", u"WWW-Authenticate: Basic", u"WWW-Authenticate: Digest",
        u"Date: Thu, 01 Jan 1970 00:00:10 GMT"}) {
    response.RawHeaders.Add(line);
  }
  ReadResponseHeaders(response);

  EXPECT_EQ(U8(response.CacheControl), "no-cache");
  EXPECT_EQ(U8(response.Connection), "close");
  EXPECT_EQ(U8(response.ContentType), "text/html");
  EXPECT_EQ(U8(response.CharSet), "gbk");
  EXPECT_EQ(response.ContentLength, 42);
  EXPECT_EQ(response.ContentRangeEnd, 41);
  EXPECT_EQ(response.ContentRangeInstanceLength, 100);
  EXPECT_EQ(U8(response.ETag), "\"e\"");
  EXPECT_EQ(U8(response.Pragma), "p");
  EXPECT_EQ(U8(response.Location), "/next");
  EXPECT_EQ(U8(response.Server), "test");
  EXPECT_EQ(U8(response.ProxyConnection), "keep-alive");
  EXPECT_EQ(U8(response.AcceptRanges), "bytes");
  EXPECT_EQ(response.WWWAuthenticate, (std::vector<std::u16string>{u"Basic", u"Digest"}));
  EXPECT_EQ(response.Date, SysSeconds(std::chrono::seconds(10)));
  EXPECT_FALSE(response.Expires.has_value());
  EXPECT_EQ(response.ResponseVersion, pv1_0);
  EXPECT_EQ(response.ResponseCode(), 206);

  // Without the headers every field is empty again, the length none.
  response.RawHeaders.Clear();
  ReadResponseHeaders(response);
  EXPECT_EQ(U8(response.ContentType), "");
  EXPECT_FALSE(response.HasContentLength());
  EXPECT_TRUE(response.WWWAuthenticate.empty());
}

}  // namespace
}  // namespace brevis
