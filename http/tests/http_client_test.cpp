// HttpClient against scripted loopback peers: exact request heads, body codings, status
// decisions, limits, connection reuse and cookies.
#include "http/http_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <typeinfo>

#include "common/text.h"
#include "http/http_errors.h"
#include "http/net/io_handler_stack.h"
#include "http/net/tests/scripted_peer.h"
#include "http/request_pacer.h"

namespace brevis {
namespace {

using test::PeerScript;
using test::PeerStep;
using test::ScriptedPeer;

constexpr char kHead[] = "\r\n\r\n";

std::u16string Url(const ScriptedPeer& peer, const std::string& path,
                   const std::string& host = "127.0.0.1") {
  return Utf8ToUtf16("http://" + host + ":" + std::to_string(peer.Port()) + path);
}

std::string Body(const MemoryStream& stream) { return stream.ToString(); }

std::string ExpectedHead(const std::string& target, const std::string& host,
                         const std::string& extra = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: " + host +
         "\r\nAccept: text/html, */*\r\nAccept-Encoding: identity\r\n"
         "User-Agent: Mozilla/3.0 (compatible; Tesvaro Fetch)\r\n" +
         extra + "\r\n";
}

TEST(HttpClientTest, SendsTheExactRequestHead) {
  ScriptedPeer peer({PeerStep::ExpectUntil(kHead),
                     PeerStep::Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello")});
  HttpClient client;
  MemoryStream body;
  client.Get(Url(peer, "/cgi-bin/x.cgi?s=123"), body);
  ASSERT_TRUE(peer.WaitDone());
  EXPECT_EQ(peer.Error(), "");
  const std::string host = "127.0.0.1:" + std::to_string(peer.Port());
  EXPECT_EQ(peer.Received(0), ExpectedHead("/cgi-bin/x.cgi?s=123", host));
  EXPECT_EQ(Body(body), "hello");
  EXPECT_EQ(client.ResponseCode(), 200);
  EXPECT_EQ(client.ResponseText(), u"HTTP/1.1 200 OK");
}

TEST(HttpClientTest, HostHeaderLeavesOutPort80) {
  HttpClient client;
  client.SetConnectTimeout(300);
  client.SetReadTimeout(300);
  MemoryStream body;
  try {
    client.Get(u"http://127.0.0.1:80/a", body);
  } catch (const std::exception&) {
    // Whatever answers on port 80 (usually nobody), the head was built first.
  }
  EXPECT_EQ(client.Request().Host, u"127.0.0.1");
  EXPECT_EQ(client.Request().URL, u"/a");
  // An IPv6 literal keeps its brackets, so that the port does not run into it.
  try {
    client.Get(u"http://[::1]:1/b?c", body);
  } catch (const std::exception&) {
    // Nothing listens there.
  }
  EXPECT_EQ(client.Request().Host, u"[::1]:1");
  EXPECT_EQ(client.Request().URL, u"/b?c");
}

// One exchange: the peer reads the request head, sends `response` and ends the stream.
struct BodyCase {
  const char* title;
  std::string response;
  std::string body;
};

void RunBodyCase(const BodyCase& c, bool byte_by_byte) {
  SCOPED_TRACE(std::string(c.title) + (byte_by_byte ? " (one byte at a time)" : ""));
  ScriptedPeer peer(
      {PeerStep::ExpectUntil(kHead),
       byte_by_byte ? PeerStep::SendByteByByte(c.response, 1) : PeerStep::Send(c.response),
       PeerStep::Close()});
  MemoryStream body;
  {
    HttpClient client;
    client.SetReadTimeout(5000);
    try {
      client.Get(Url(peer, "/p"), body);
    } catch (const std::exception& e) {
      ADD_FAILURE() << typeid(e).name() << ": " << e.what();
    }
  }  // the client closes a kept connection
  EXPECT_EQ(Body(body), c.body);
  EXPECT_EQ(body.Position(), static_cast<int64_t>(c.body.size()));
  EXPECT_TRUE(peer.WaitDone());
  // Sending byte by byte, the peer may still be sending bytes beyond the body when the client
  // has what it needs and closes.
  if (!byte_by_byte) {
    EXPECT_EQ(peer.Error(), "");
  }
}

// A 200 with the body "ok" after `count` header lines of its own (and its Content-Length).
std::string ManyHeaderLines(int count) {
  std::string out = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < count; ++i) out += "X-" + std::to_string(i) + ": v\r\n";
  return out + "Content-Length: 2\r\n\r\nok";
}

// `count` interim answers, each setting a cookie, then a final 200 with the body "ok".
std::string InterimAnswers(int count) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    out += "HTTP/1.1 100 Continue\r\nSet-Cookie: c" + std::to_string(i) + "=1\r\n\r\n";
  }
  return out + "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
}

const BodyCase kBodyCases[] = {
    // Sized bodies; bytes after them stay on the connection.
    {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", "hello"},
    {"length with more behind", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA", "hello"},
    {"length 0", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\nignored", ""},
    {"LF line ends", "HTTP/1.1 200 OK\nContent-Length: 2\n\nhi", "hi"},
    // Read until the peer ends the stream.
    {"until close", "HTTP/1.1 200 OK\r\n\r\nall of this\r\nand this", "all of this\r\nand this"},
    {"length not a number", "HTTP/1.0 200 OK\r\nContent-Length: x\r\n\r\nrest", "rest"},
    // Chunked bodies.
    {"chunked",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n",
     "hello world"},
    {"chunked upper case",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n1A\r\n"
     "abcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n",
     "abcdefghijklmnopqrstuvwxyz"},
    {"chunk size 1a",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1a\r\n"
     "abcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n",
     "abcdefghijklmnopqrstuvwxyz"},
    {"chunk extensions",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;name=\"v\"\r\nabc\r\n"
     "2 ; x\r\nde\r\n0;last\r\n\r\n",
     "abcde"},
    {"chunked trailer",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n"
     "X-Trailer: 1\r\n\r\n",
     "ok"},
    // Interim answers and statuses without a body.
    {"100 continue", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
     "ok"},
    {"two 100 continue",
     "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 100 Continue\r\nX: y\r\n\r\n"
     "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
     "ok"},
    {"204 with late bytes", "HTTP/1.1 204 No Content\r\n\r\nlate bytes", ""},
    {"201 with Location", "HTTP/1.1 201 Created\r\nLocation: /new\r\nContent-Length: 2\r\n\r\nok",
     "ok"},
    {"folded header", "HTTP/1.1 200 OK\r\nContent-Length:\r\n 3\r\n\r\nabc", "abc"},
    // Up to the limits, which one line or answer more breaks.
    {"255 header lines", ManyHeaderLines(254), "ok"},
    {"32 interim answers", InterimAnswers(32), "ok"},
};

TEST(HttpClientTest, ReadsBodies) {
  for (const BodyCase& c : kBodyCases) RunBodyCase(c, false);
}

TEST(HttpClientTest, ReadsBodiesSentOneByteAtATime) {
  for (const BodyCase& c : kBodyCases) RunBodyCase(c, true);
}

TEST(HttpClientTest, Status204DropsLateBytes) {
  // Bytes that follow the header block, found only once the block has been read, are read and
  // dropped up to the close. The client takes no more than the header block in one receive, so
  // that the bytes behind it are still on the socket when it looks for them, however the
  // scheduler runs the peer and the client; a pause before sending them would race the 100 ms
  // the client gives them.
  const std::string head = "HTTP/1.1 204 No Content\r\n\r\n";
  ScriptedPeer peer(
      {PeerStep::ExpectUntil(kHead), PeerStep::Send(head + "late"), PeerStep::Close()});
  IOHandlerStack handler;
  handler.SetRecvBufferSize(static_cast<int>(head.size()));
  HttpClient client;
  client.SetIOHandler(&handler);
  MemoryStream body;
  client.Get(Url(peer, "/"), body);
  EXPECT_EQ(Body(body), "");
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(peer.WaitDone());
  EXPECT_EQ(peer.Error(), "");
}

// Each failure case is one line: the response and the error it must give.
struct FailCase {
  const char* title;
  std::string response;
  std::function<bool(const std::exception&)> is_expected_type;
  std::string message;
  int code = 0;  // the HttpProtocolError code, when it is one
  std::string error_message = "";
  // The caller's stream is left untouched: always for a status failure, and for a length
  // beyond the limit, for which nothing may be presized.
  bool keeps_stream = false;
};

template <typename E>
std::function<bool(const std::exception&)> Is() {
  return [](const std::exception& e) { return dynamic_cast<const E*>(&e) != nullptr; };
}

TEST(HttpClientTest, FailuresAndStatusDecisions) {
  const FailCase kCases[] = {
      // Statuses outside 2xx and redirects.
      {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone", Is<HttpProtocolError>(),
       "HTTP/1.1 404 Not Found", 404, "gone"},
      {"404 latin-1 body",
       "HTTP/1.1 404 Nope\r\nContent-Type: text/plain; charset=ISO-8859-1\r\n"
       "Content-Length: 1\r\n\r\n\xE9",
       Is<HttpProtocolError>(), "HTTP/1.1 404 Nope", 404, "\xC3\xA9"},
      {"500 until close", "HTTP/1.1 500 Oops\r\n\r\nbroken", Is<HttpProtocolError>(),
       "HTTP/1.1 500 Oops", 500, "broken"},
      {"301", "HTTP/1.1 301 Moved\r\nLocation: http://x/\r\nContent-Length: 3\r\n\r\nabc",
       Is<HttpProtocolError>(), "HTTP/1.1 301 Moved", 301, "abc"},
      {"302", "HTTP/1.1 302 Found\r\nLocation: /y\r\nContent-Length: 0\r\n\r\n",
       Is<HttpProtocolError>(), "HTTP/1.1 302 Found", 302},
      {"200 with Location", "HTTP/1.1 200 OK\r\nLocation: /y\r\nContent-Length: 2\r\n\r\nok",
       Is<HttpProtocolError>(), "HTTP/1.1 200 OK", 200, "ok"},
      {"304", "HTTP/1.1 304 Not Modified\r\n\r\n", Is<HttpProtocolError>(),
       "HTTP/1.1 304 Not Modified", 304},
      {"101", "HTTP/1.1 101 Switching\r\n\r\n", Is<HttpProtocolError>(), "HTTP/1.1 101 Switching",
       101},
      {"401",
       "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
       "Content-Length: 0\r\n\r\n",
       Is<HttpProtocolError>(), "HTTP/1.1 401 Unauthorized", 401},
      {"status without number", "HTTP/1.1 OK\r\nContent-Length: 0\r\n\r\n", Is<HttpProtocolError>(),
       "HTTP/1.1 OK", -1},
      // Status lines that say nothing are described rather than quoted.
      {"empty status line", "\r\n\r\n", Is<HttpResponseError>(), "Response status line is empty."},
      {"blank status line", " \t\r\nContent-Length: 0\r\n\r\n", Is<HttpResponseError>(),
       "Response status line is empty."},
      {"status line not HTTP", "\x1b[2J\r\n\r\n", Is<HttpResponseError>(),
       "Response status line is not HTTP: \x1b[2J"},
      // The peer ends the stream too early.
      {"closed before status", "", Is<NetConnClosedGracefully>(), "Connection Closed Gracefully."},
      {"closed inside status", "HTTP/1.1 200 OK", Is<NetConnClosedGracefully>(),
       "Connection Closed Gracefully."},
      {"short body", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello",
       Is<NetConnClosedGracefully>(), "Connection Closed Gracefully."},
      {"short chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nhello",
       Is<NetConnClosedGracefully>(), "Connection Closed Gracefully."},
      // A corrupted chunked body fails; what came before the damage is never the whole body.
      {"chunk size not hexadecimal",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\nzz\r\n"
       "world\r\n0\r\n\r\n",
       Is<HttpResponseError>(), "Chunk size line is not a hexadecimal number."},
      {"negative chunk size",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-5\r\nhello\r\n0\r\n\r\n",
       Is<HttpResponseError>(), "Chunk size line is not a hexadecimal number."},
      {"empty chunk size line",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n\r\nhello\r\n0\r\n\r\n",
       Is<HttpResponseError>(), "Chunk size line is not a hexadecimal number."},
      {"chunk longer than its size",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nhello\r\n0\r\n\r\n",
       Is<HttpResponseError>(), "Chunk data is not followed by a line end."},
      {"no last chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n",
       Is<NetConnClosedGracefully>(), "Connection Closed Gracefully."},
      // Limits.
      {"status line too long", "HTTP/1.1 200 " + std::string(16400, 'x') + "\r\n\r\n",
       Is<NetReadLnMaxLineLengthExceeded>(), "Max line length exceeded."},
      {"33 interim answers", InterimAnswers(33), Is<HttpResponseError>(),
       "Response has more than 32 interim answers."},
      {"256 header lines", ManyHeaderLines(255), Is<HttpResponseError>(),
       "Response header has more than 255 lines."},
      {"length over 256 MiB", "HTTP/1.1 200 OK\r\nContent-Length: 268435457\r\n\r\nabc",
       Is<HttpResponseError>(), "Response body is larger than the 268435456 bytes a fetch accepts.",
       0, "", true},
      {"chunk over 256 MiB", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10000001\r\nab",
       Is<HttpResponseError>(), "Response body is larger than the 268435456 bytes a fetch accepts.",
       0, "", true},
      {"chunks over 256 MiB",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n"
       "FFFFFFF\r\nab",
       Is<HttpResponseError>(),
       "Response body is larger than the 268435456 bytes a fetch accepts."},
  };
  for (const FailCase& c : kCases) {
    SCOPED_TRACE(c.title);
    ScriptedPeer peer(
        {PeerStep::ExpectUntil(kHead), PeerStep::Send(c.response), PeerStep::Close()});
    HttpClient client;
    client.SetReadTimeout(5000);
    MemoryStream body("keep");
    body.SetPosition(4);
    try {
      client.Get(Url(peer, "/p"), body);
      ADD_FAILURE() << "no exception";
    } catch (const std::exception& e) {
      EXPECT_TRUE(c.is_expected_type(e)) << typeid(e).name() << ": " << e.what();
      EXPECT_EQ(e.what(), c.message);
      if (const auto* protocol = dynamic_cast<const HttpProtocolError*>(&e)) {
        EXPECT_EQ(protocol->ErrorCode(), c.code);
        EXPECT_EQ(Utf16ToUtf8(protocol->ErrorMessage()), c.error_message);
      }
    }
    if (c.code != 0 || c.keeps_stream) {
      EXPECT_EQ(body.ToString(), "keep");
    }
    // A failed fetch closes the connection.
    EXPECT_FALSE(client.Connected());
    EXPECT_TRUE(peer.WaitDone());
  }
}

TEST(HttpClientTest, ReadTimeOut) {
  ScriptedPeer silent({PeerStep::ExpectUntil(kHead), PeerStep::WaitForClose()});
  ScriptedPeer slow_body({PeerStep::ExpectUntil(kHead),
                          PeerStep::Send("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\npart"),
                          PeerStep::WaitForClose()});
  for (ScriptedPeer* peer : {&silent, &slow_body}) {
    HttpClient client;
    client.SetReadTimeout(150);
    MemoryStream body;
    try {
      client.Get(Url(*peer, "/"), body);
      ADD_FAILURE() << "no exception";
    } catch (const NetReadTimeout& e) {
      EXPECT_STREQ(e.what(), "Read timed out.");
    }
    EXPECT_FALSE(client.Connected());
    EXPECT_TRUE(peer->WaitDone());
  }
}

TEST(HttpClientTest, AddressFailures) {
  struct Case {
    const char16_t* url;
    std::function<bool(const std::exception&)> is_expected_type;
    std::string message;
  };
  const test::RefusingPort refusing;
  const std::string refused = "http://127.0.0.1:" + std::to_string(refusing.Port()) + "/";
  const Case kCases[] = {
      {u"/relative/first", Is<NetUnknownProtocol>(), "Unknown Protocol"},
      {u"gopher://host/x", Is<NetUnknownProtocol>(), "Unknown Protocol"},
      {u"https://127.0.0.1/", Is<NetIOHandlerPropInvalid>(), "IOHandler value is not valid"},
      {u"http:///nohost", Is<NetHostRequired>(), ""},
      {u"http://127.0.0.1:70000/", Is<std::out_of_range>(), "Range check error"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.url));
    HttpClient client;
    MemoryStream body;
    try {
      client.Get(c.url, body);
      ADD_FAILURE() << "no exception";
    } catch (const std::exception& e) {
      EXPECT_TRUE(c.is_expected_type(e)) << typeid(e).name() << ": " << e.what();
      EXPECT_EQ(e.what(), c.message);
    }
  }
  HttpClient client;
  MemoryStream body;
  try {
    client.Get(Utf8ToUtf16(refused), body);
    ADD_FAILURE() << "no exception";
  } catch (const NetSocketError& e) {
    EXPECT_EQ(e.LastError(), 10061);
  }
}

TEST(HttpClientTest, StreamReceivesBodyAtItsPosition) {
  ScriptedPeer peer({PeerStep::ExpectUntil(kHead),
                     PeerStep::Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello")});
  HttpClient client;
  MemoryStream body("XYZWVUTSRQ");
  body.SetPosition(1);
  client.Get(Url(peer, "/"), body);
  EXPECT_EQ(Body(body), "Xhello");
  EXPECT_EQ(body.Position(), 6);
}

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

TEST(HttpClientTest, ReusesTheConnectionForTheSameHostAndPort) {
  ScriptedPeer peer(std::vector<PeerScript>{
      {PeerStep::ExpectUntil(kHead), PeerStep::Send(kOk), PeerStep::ExpectUntil(kHead),
       PeerStep::Send(kOk), PeerStep::ExpectUntil(kHead), PeerStep::Send(kOk)},
      {PeerStep::ExpectUntil(kHead), PeerStep::Send(kOk)}});
  HttpClient client;
  for (const char* path : {"/a/b.cgi", "/c", "../d"}) {
    SCOPED_TRACE(path);
    MemoryStream body;
    client.Get(path[0] == '.' ? Utf8ToUtf16(path) : Url(peer, path), body);
    EXPECT_EQ(Body(body), "ok");
  }
  EXPECT_EQ(peer.Connections(), 1u);
  // Another host name for the same server: a new connection.
  MemoryStream body;
  client.Get(Url(peer, "/e", "localhost"), body);
  EXPECT_TRUE(peer.WaitDone());
  EXPECT_EQ(peer.Connections(), 2u);
  const std::string host = "127.0.0.1:" + std::to_string(peer.Port());
  EXPECT_EQ(peer.Received(0),
            ExpectedHead("/a/b.cgi", host) + ExpectedHead("/c", host) + ExpectedHead("/d", host));
  EXPECT_EQ(peer.Received(1), ExpectedHead("/e", "localhost:" + std::to_string(peer.Port())));
}

TEST(HttpClientTest, ReconnectsAfterCloseOrFailure) {
  const std::string close = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok";
  const std::string not_found = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
  ScriptedPeer peer(std::vector<PeerScript>{
      // "Connection: close": the client closes; the peer sees the close.
      {PeerStep::ExpectUntil(kHead), PeerStep::Send(close), PeerStep::WaitForClose()},
      // A failed fetch closes the connection too, even though the error body was read.
      {PeerStep::ExpectUntil(kHead), PeerStep::Send(not_found), PeerStep::WaitForClose()},
      // The peer closes a kept connection between fetches: noticed, and a new one is made.
      {PeerStep::ExpectUntil(kHead), PeerStep::Send(kOk), PeerStep::Close()},
      {PeerStep::ExpectUntil(kHead), PeerStep::Send(kOk)}});
  HttpClient client;
  MemoryStream first, second, third, body;
  client.Get(Url(peer, "/1"), first);
  EXPECT_FALSE(client.Connected());
  EXPECT_THROW(client.Get(Url(peer, "/2"), second), HttpProtocolError);
  EXPECT_FALSE(client.Connected());
  client.Get(Url(peer, "/3"), third);
  // Let the peer's close arrive before the next fetch.
  for (int i = 0; i < 100 && peer.Connections() == 3 && client.Connected(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  client.Get(Url(peer, "/4"), body);
  EXPECT_EQ(Body(first) + Body(second) + Body(third) + Body(body), "okokok");
  EXPECT_TRUE(peer.WaitDone());
  EXPECT_EQ(peer.Connections(), 4u);
  EXPECT_EQ(peer.Error(), "");
}

TEST(HttpClientTest, SendsStoredCookiesBack) {
  const std::string set =
      "HTTP/1.1 200 OK\r\nSet-Cookie2: N=1; Version=1\r\nSet-Cookie: N=ignored\r\n"
      "Set-Cookie2: M=2; Version=1; Path=/a\r\nContent-Length: 2\r\n\r\nok";
  const std::string interim = "HTTP/1.1 100 Continue\r\nSet-Cookie2: C=3; Version=1\r\n\r\n" + kOk;
  ScriptedPeer peer({PeerStep::ExpectUntil(kHead), PeerStep::Send(set),
                     PeerStep::ExpectUntil(kHead), PeerStep::Send(interim),
                     PeerStep::ExpectUntil(kHead), PeerStep::Send(kOk)});
  HttpClient client;
  EXPECT_EQ(client.GetCookieManager(), nullptr);
  MemoryStream body;
  client.Get(Url(peer, "/a/x", "localhost"), body);
  ASSERT_NE(client.GetCookieManager(), nullptr);
  client.Get(Url(peer, "/a/y", "localhost"), body);
  client.Get(Url(peer, "/b/z", "localhost"), body);
  ASSERT_TRUE(peer.WaitDone());
  const std::string host = "localhost:" + std::to_string(peer.Port());
  const std::string cookie2 = "Cookie2: $Version=\"1\"\r\n";
  EXPECT_EQ(peer.Received(0), ExpectedHead("/a/x", host) +
                                  ExpectedHead("/a/y", host, "Cookie: N=1; M=2\r\n" + cookie2) +
                                  ExpectedHead("/b/z", host, "Cookie: N=1; C=3\r\n" + cookie2));
}

// The deadline bounds the whole exchange however the peer spreads its bytes: each byte in time
// for the read time-out, or none at all with no read time-out.
TEST(HttpClientTest, FetchDeadlineEndsATricklingExchange) {
  const std::string endless_status = "HTTP/1.1 200 " + std::string(2000, 'x');
  const std::string endless_headers = ManyHeaderLines(200);
  const std::string endless_body =
      "HTTP/1.1 200 OK\r\nContent-Length: 2000\r\n\r\n" + std::string(2000, 'b');
  struct Case {
    const char* title;
    PeerStep answer;
  };
  const Case kCases[] = {
      {"status line", PeerStep::SendByteByByte(endless_status, 20)},
      {"header lines", PeerStep::SendByteByByte(endless_headers, 20)},
      {"body", PeerStep::Send(endless_body, 1, 20)},
      {"silence", PeerStep::WaitForClose()},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.title);
    ScriptedPeer peer({PeerStep::ExpectUntil(kHead), c.answer});
    HttpClient client;
    client.SetReadTimeout(0);
    client.FetchDeadline = 400;
    MemoryStream body;
    const auto start = std::chrono::steady_clock::now();
    try {
      client.Get(Url(peer, "/p"), body);
      ADD_FAILURE() << "no exception";
    } catch (const NetFetchTimeout& e) {
      EXPECT_STREQ(e.what(), "Fetch took longer than 0.4 s.");
    }
    // Without the deadline the peer would take 40 s or for ever.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(client.Connected());
  }
}

TEST(HttpClientTest, FetchDeadlineIsPerExchangeAndLeavesAKeptConnection) {
  ScriptedPeer peer({PeerStep::ExpectUntil(kHead), PeerStep::Send(kOk), PeerStep::Delay(300),
                     PeerStep::ExpectUntil(kHead), PeerStep::Send(kOk)});
  HttpClient client;
  client.FetchDeadline = 200;
  MemoryStream first, second;
  client.Get(Url(peer, "/1"), first);
  // Longer than the deadline between the fetches: the next one has an allowance of its own.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(client.Connected());
  client.Get(Url(peer, "/2"), second);
  EXPECT_EQ(Body(first) + Body(second), "okok");
  EXPECT_EQ(peer.Connections(), 1u);
}

// "Sun, 06 Nov 1994 08:49:37 GMT" of a moment `from_now` away.
std::string HttpDate(std::chrono::seconds from_now) {
  const std::time_t when =
      std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() + from_now);
  std::tm parts{};
  ::gmtime_r(&when, &parts);
  char text[40];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
  return text;
}

TEST(HttpClientTest, RetryAfterOfA429Or503HoldsThePacerOff) {
  using std::chrono::seconds;
  struct Case {
    const char* title;
    int status;
    std::string retryAfter;  // empty: no such header
    std::optional<seconds> hold;
  };
  const Case kCases[] = {
      {"429 delta-seconds", 429, "120", seconds(120)},
      {"503 delta-seconds", 503, " 7 ", seconds(7)},
      {"429 HTTP-date", 429, HttpDate(seconds(300)), seconds(300)},
      {"503 HTTP-date gone by", 503, HttpDate(seconds(-60)), seconds(0)},
      // The pacer cuts a long one short.
      {"429 years", 429, "99999999999999999999", seconds(600)},
      // Malformed values are ignored.
      {"429 word", 429, "soon", std::nullopt},
      {"429 negative", 429, "-5", std::nullopt},
      {"429 number and text", 429, "12 s", std::nullopt},
      {"429 empty", 429, "", std::nullopt},
      // Other statuses say nothing about the pace.
      {"500", 500, "120", std::nullopt},
      {"200", 200, "120", std::nullopt},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.title);
    const std::string header = c.retryAfter.empty() ? "" : "Retry-After: " + c.retryAfter + "\r\n";
    ScriptedPeer peer({PeerStep::ExpectUntil(kHead),
                       PeerStep::Send("HTTP/1.1 " + std::to_string(c.status) + " X\r\n" + header +
                                      "Content-Length: 2\r\n\r\nno"),
                       PeerStep::Close()});
    RequestPacer pacer(0);
    HttpClient client;
    client.Pacer = &pacer;
    MemoryStream body;
    const auto before = RequestPacer::Clock::now();
    try {
      client.Get(Url(peer, "/p"), body);
      EXPECT_EQ(c.status, 200);
    } catch (const HttpProtocolError& e) {
      EXPECT_EQ(e.ErrorCode(), c.status);
    }
    const auto after = RequestPacer::Clock::now();
    EXPECT_EQ(client.RetryAfter().has_value(), c.hold.has_value());
    if (c.hold && *c.hold > seconds(0)) {
      // An HTTP-date is read to the second.
      const seconds slack(c.retryAfter.size() > 20 ? 1 : 0);
      EXPECT_GE(pacer.HeldUntil(), before + *c.hold - slack);
      EXPECT_LE(pacer.HeldUntil(), after + *c.hold + slack);
    } else {
      EXPECT_LT(pacer.HeldUntil(), before);
    }
  }
}

TEST(HttpClientTest, RequestWaitsForThePacerOutsideTheDeadline) {
  ScriptedPeer peer({PeerStep::ExpectUntil(kHead), PeerStep::Send(kOk)});
  RequestPacer pacer(0);
  pacer.HoldOff(std::chrono::milliseconds(300));
  HttpClient client;
  client.Pacer = &pacer;
  client.FetchDeadline = 100;
  MemoryStream body;
  const auto start = std::chrono::steady_clock::now();
  client.Get(Url(peer, "/p"), body);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_EQ(Body(body), "ok");
}

TEST(HttpClientTest, FetchDeadlineBoundsAConnectThatHangs) {
  test::StalledListener stalled;
  if (!stalled.Stalled()) GTEST_SKIP() << "the accept queue could not be filled";
  HttpClient client;
  client.FetchDeadline = 300;
  MemoryStream body;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(
      client.Get(Utf8ToUtf16("http://127.0.0.1:" + std::to_string(stalled.Port()) + "/"), body),
      NetFetchTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(HttpClientTest, CancelFlagStopsAFetchInFlight) {
  ScriptedPeer peer({PeerStep::ExpectUntil(kHead),
                     PeerStep::Send("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\npart"),
                     PeerStep::WaitForClose()});
  std::atomic<bool> cancel{false};
  HttpClient client;
  client.SetReadTimeout(0);
  client.CancelFlag = &cancel;
  MemoryStream body;
  std::thread canceller([&cancel] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    cancel = true;
  });
  try {
    client.Get(Url(peer, "/p"), body);
    ADD_FAILURE() << "no exception";
  } catch (const NetFetchCancelled& e) {
    EXPECT_STREQ(e.what(), "Fetch cancelled.");
  }
  canceller.join();
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(peer.WaitDone());
}

TEST(HttpClientTest, MaxBodySizeIsTheCallersLimit) {
  const std::string message = "Response body is larger than the 10 bytes a fetch accepts.";
  struct Case {
    const char* title;
    std::string response;
    const char* message;
  };
  const Case kCases[] = {
      {"length at the limit", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789", ""},
      {"length over it", "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n0123456789a",
       message.c_str()},
      {"chunks over it",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: "
       "chunked\r\n\r\n6\r\n012345\r\n5\r\n6789a\r\n0\r\n\r\n",
       message.c_str()},
      {"until close over it", "HTTP/1.1 200 OK\r\n\r\n0123456789a", message.c_str()},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.title);
    ScriptedPeer peer(
        {PeerStep::ExpectUntil(kHead), PeerStep::Send(c.response), PeerStep::Close()});
    HttpClient client;
    client.MaxBodySize = 10;
    MemoryStream body;
    try {
      client.Get(Url(peer, "/p"), body);
      EXPECT_STREQ(c.message, "");
    } catch (const HttpResponseError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_TRUE(peer.WaitDone());
  }
}

// A control byte in a header would end the line early on the wire; the request is refused
// before any of it is sent.
TEST(HttpClientTest, RefusesHeadersThatWouldBreakTheRequest) {
  struct Case {
    const char* title;
    std::u16string line;
  };
  const Case kCases[] = {
      {"LF", u"X-Note: a\nX-Injected: 1"},
      {"CR LF", u"X-Note: a\r\n\r\nGET /other HTTP/1.1"},
      {"lone CR", u"X-Note: a\rb"},
      {"NUL", std::u16string(u"X-Note: a\0b", 11)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.title);
    ScriptedPeer peer(PeerScript{PeerStep::WaitForClose()}, 2000);
    HttpClient client;
    client.Request().CustomHeaders.Add(c.line);
    MemoryStream body;
    try {
      client.Get(Url(peer, "/p"), body);
      ADD_FAILURE() << "no exception";
    } catch (const HttpRequestError& e) {
      EXPECT_STREQ(e.what(), "Request header contains a control character: X-Note.");
    }
    EXPECT_TRUE(peer.WaitDone());
    EXPECT_EQ(peer.Received(0), "");
  }
  // A tab inside a value is fine.
  ScriptedPeer peer({PeerStep::ExpectUntil(kHead), PeerStep::Send(kOk)});
  HttpClient client;
  client.Request().CustomHeaders.Add(u"X-Note: a\tb");
  MemoryStream body;
  client.Get(Url(peer, "/p"), body);
  EXPECT_EQ(Body(body), "ok");
}

// An HTTP/1.0 answer closes the connection unless it announced keep-alive.
TEST(HttpClientTest, Http10AnswerKeepsTheConnectionOnlyWhenItSaysSo) {
  const std::string plain = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok";
  const std::string kept =
      "HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 2\r\n\r\nok";
  ScriptedPeer peer(std::vector<PeerScript>{
      {PeerStep::ExpectUntil(kHead), PeerStep::Send(plain), PeerStep::WaitForClose()},
      {PeerStep::ExpectUntil(kHead), PeerStep::Send(kept), PeerStep::ExpectUntil(kHead),
       PeerStep::Send(kOk)}});
  {
    HttpClient client;
    MemoryStream body;
    client.Get(Url(peer, "/1"), body);
    EXPECT_FALSE(client.Connected());
    client.Get(Url(peer, "/2"), body);
    EXPECT_TRUE(client.Connected());
    client.Get(Url(peer, "/3"), body);
  }  // the client closes the kept connection
  EXPECT_TRUE(peer.WaitDone());
  EXPECT_EQ(peer.Connections(), 2u);
  EXPECT_EQ(peer.Error(), "");
}

}  // namespace
}  // namespace brevis
