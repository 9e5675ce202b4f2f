// Tests of buffered I/O over real loopback connections to scripted peers: line reads, block and
// stream reads, time-outs, the peer closing, Connected and write buffering.
#include "http/net/io_handler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "http/net/net_error.h"
#include "http/net/tcp_client.h"
#include "http/net/tests/scripted_peer.h"

namespace brevis {
namespace {

using test::PeerScript;
using test::PeerStep;
using test::ScriptedPeer;

// Every read in these tests is bounded, so that a fault fails the test instead of hanging it.
constexpr int kSafetyTimeoutMs = 5000;

std::unique_ptr<TcpClient> ConnectTo(const ScriptedPeer& peer,
                                     int read_timeout = kSafetyTimeoutMs) {
  auto client = std::make_unique<TcpClient>();
  client->SetHost(ScriptedPeer::Host());
  client->SetPort(peer.Port());
  client->SetReadTimeout(read_timeout);
  client->Connect();
  return client;
}

template <typename Exception>
std::string MessageOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Exception& e) {
    return e.what();
  }
  return "(no exception)";
}

// Line reads.

TEST(IOHandlerTest, ReadLnTerminators) {
  struct Case {
    const char* name;
    PeerScript script;
    std::vector<std::string> lines;
  };
  const std::string exact(16384, 'x');
  const std::string exact_cr = std::string(16383, 'y') + "\r";
  const Case kCases[] = {
      {"CR LF and LF", {PeerStep::Send("abc\r\ndef\n\n")}, {"abc", "def", ""}},
      {"CR CR LF keeps one CR", {PeerStep::Send("abc\r\r\n")}, {"abc\r"}},
      {"lone CR stays in the line", {PeerStep::Send("a\rb\n")}, {"a\rb"}},
      {"CR LF split across receives",
       {PeerStep::Send("abc\r"), PeerStep::Delay(50), PeerStep::Send("\ndef\r"),
        PeerStep::Delay(50), PeerStep::Send("\n")},
       {"abc", "def"}},
      {"one byte per receive",
       {PeerStep::SendByteByByte("HTTP/1.1 200 OK\r\nServer: x\r\n\r\n")},
       {"HTTP/1.1 200 OK", "Server: x", ""}},
      {"line of exactly the maximum", {PeerStep::Send(exact + "\n")}, {exact}},
      {"maximum counts the CR", {PeerStep::Send(exact_cr + "\n")}, {exact_cr.substr(0, 16383)}},
      {"long line in pieces", {PeerStep::Send(exact + "\nnext\r\n", 1000, 1)}, {exact, "next"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer(c.script);
    auto client = ConnectTo(peer);
    IOHandler& io = *client->GetIOHandler();
    for (const std::string& expected : c.lines) {
      const std::string line = io.ReadLn();
      EXPECT_FALSE(io.ReadLnTimedOut());
      EXPECT_EQ(line.size(), expected.size());
      EXPECT_EQ(line, expected);
    }
    client->Disconnect();
    EXPECT_TRUE(peer.WaitDone());
    EXPECT_EQ(peer.Error(), "");
  }
}

TEST(IOHandlerTest, ReadLnOtherTerminatorAndEncoding) {
  ScriptedPeer peer({PeerStep::Send("one||caf\xc3\xa9\n")});
  auto client = ConnectTo(peer);
  IOHandler& io = *client->GetIOHandler();
  EXPECT_EQ(io.ReadLn("||"), "one");
  EXPECT_EQ(io.ReadLn("\n", -1, -1, TextEncoding::kAscii), "caf??");
}

TEST(IOHandlerTest, ReadLnMaxLineLength) {
  const std::string over(16385, 'x');
  struct Case {
    const char* name;
    PeerScript script;
  };
  // The last case never sends a terminator and then stays silent: the read must fail as soon as
  // too much is buffered, not wait for the read time-out.
  const Case kCases[] = {
      {"16385 bytes before LF", {PeerStep::Send(over + "\n")}},
      {"16384 bytes and CR before LF", {PeerStep::Send(std::string(16384, 'x') + "\r\n")}},
      {"no terminator, silent peer", {PeerStep::Send(over), PeerStep::WaitForClose()}},
      {"no terminator, endless peer", {PeerStep::Send(std::string(200000, 'x'), 4096, 1)}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer(c.script);
    auto client = ConnectTo(peer, 60000);
    IOHandler& io = *client->GetIOHandler();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(MessageOf<NetReadLnMaxLineLengthExceeded>([&] { io.ReadLn(); }),
              "Max line length exceeded.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    // The buffer holds at most the maximum plus one receive block.
    EXPECT_LE(io.InputBuffer().Size(),
              static_cast<std::size_t>(io.MaxLineLength() + io.RecvBufferSize()));
    client->Disconnect();
  }

  // maSplit hands the line out in pieces of the maximum.
  ScriptedPeer peer({PeerStep::Send("abcdefgh\nxy\n")});
  auto client = ConnectTo(peer);
  IOHandler& io = *client->GetIOHandler();
  io.SetMaxLineAction(maSplit);
  EXPECT_EQ(io.ReadLn("\n", -1, 3), "abc");
  EXPECT_TRUE(io.ReadLnSplit());
  EXPECT_EQ(io.ReadLn("\n", -1, 3), "def");
  EXPECT_EQ(io.ReadLn("\n", -1, 3), "gh");
  EXPECT_FALSE(io.ReadLnSplit());
  EXPECT_EQ(io.ReadLn("\n", -1, 3), "xy");
}

TEST(IOHandlerTest, ReadLnPeerClosesBeforeLineEnd) {
  ScriptedPeer peer({PeerStep::Send("HTTP/1.1 200 OK"), PeerStep::Close()});
  auto client = ConnectTo(peer);
  IOHandler& io = *client->GetIOHandler();
  EXPECT_EQ(MessageOf<NetConnClosedGracefully>([&] { io.ReadLn(); }),
            "Connection Closed Gracefully.");
  // The bytes are still there for whoever wants them.
  EXPECT_EQ(io.InputBuffer().View(), "HTTP/1.1 200 OK");
}

// Time-outs. The peer stays silent until the client closes.

TEST(IOHandlerTest, ReadTimeouts) {
  ScriptedPeer peer({PeerStep::Send("partial"), PeerStep::WaitForClose()});
  auto client = ConnectTo(peer, 200);
  IOHandler& io = *client->GetIOHandler();

  // A line read that runs out returns an empty line and keeps what arrived.
  EXPECT_EQ(io.ReadLn(), "");
  EXPECT_TRUE(io.ReadLnTimedOut());
  EXPECT_EQ(io.InputBuffer().View(), "partial");

  // So does one with its own time-out for the whole line.
  io.SetReadTimeout(kSafetyTimeoutMs);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(io.ReadLn("\n", 150), "");
  EXPECT_TRUE(io.ReadLnTimedOut());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(140));

  // A block read fails.
  io.SetReadTimeout(200);
  std::vector<uint8_t> bytes;
  EXPECT_EQ(MessageOf<NetReadTimeout>([&] { io.ReadBytes(bytes, 100); }), "Read timed out.");
  MemoryStream stream;
  EXPECT_EQ(MessageOf<NetReadTimeout>([&] { io.ReadStream(stream, 100); }), "Read timed out.");
  // The stream got what had arrived, and the connection is still open.
  EXPECT_EQ(stream.ToString(), "partial");
  EXPECT_TRUE(client->Connected());
  client->Disconnect();
  EXPECT_TRUE(peer.WaitDone());
}

TEST(IOHandlerTest, ReadTimeoutZeroOrMinusOneWaitsWithoutLimit) {
  for (int read_timeout : {0, -1}) {
    SCOPED_TRACE(read_timeout);
    ScriptedPeer peer({PeerStep::Delay(300), PeerStep::Send("late\n")});
    auto client = ConnectTo(peer, read_timeout);
    IOHandler& io = *client->GetIOHandler();
    EXPECT_EQ(io.ReadLn(), "late");
    EXPECT_FALSE(io.ReadLnTimedOut());
  }
}

// Block and stream reads.

TEST(IOHandlerTest, ReadStreamKnownLength) {
  std::string body(100000, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + i / 251);
  ScriptedPeer peer({PeerStep::Send("HEAD\n" + body + "tail\n", 7000, 1)});
  auto client = ConnectTo(peer);
  IOHandler& io = *client->GetIOHandler();
  EXPECT_EQ(io.ReadLn(), "HEAD");
  MemoryStream stream("prefix");
  stream.SetPosition(6);
  io.ReadStream(stream, static_cast<int64_t>(body.size()));
  EXPECT_EQ(stream.Position(), stream.Size());
  EXPECT_TRUE(stream.ToString() == "prefix" + body);
  // Bytes after the block stay on the connection.
  EXPECT_EQ(io.ReadLn(), "tail");
}

TEST(IOHandlerTest, ReadStreamReservesAKnownLengthOnce) {
  // Longer than a receive and than any fixed first guess: room for all of it is made at once,
  // so the bytes are never moved while they arrive and no room is left over.
  const std::string body((9 << 20) + 12345, 'b');
  ScriptedPeer peer({PeerStep::Send(body)});
  auto client = ConnectTo(peer);
  MemoryStream stream("ab");
  stream.SetPosition(2);
  client->GetIOHandler()->ReadStream(stream, static_cast<int64_t>(body.size()));
  EXPECT_EQ(stream.Size(), static_cast<int64_t>(body.size() + 2));
  EXPECT_EQ(stream.Bytes().capacity(), body.size() + 2);
}

TEST(IOHandlerTest, PeerClosesMidBlock) {
  // Known length: the bytes that came are kept, the stream is cut there, and the read fails.
  {
    ScriptedPeer peer({PeerStep::Send("123456"), PeerStep::Close()});
    auto client = ConnectTo(peer);
    IOHandler& io = *client->GetIOHandler();
    MemoryStream stream;
    EXPECT_EQ(MessageOf<NetConnClosedGracefully>([&] { io.ReadStream(stream, 10); }),
              "Connection Closed Gracefully.");
    EXPECT_EQ(stream.ToString(), "123456");
    EXPECT_EQ(stream.Size(), 6);
    EXPECT_EQ(stream.Position(), 6);
  }
  // A block read of a known length that is larger than the announced part fails the same way.
  {
    ScriptedPeer peer({PeerStep::Send("1234"), PeerStep::Close()});
    auto client = ConnectTo(peer);
    std::vector<uint8_t> bytes;
    EXPECT_EQ(
        MessageOf<NetConnClosedGracefully>([&] { client->GetIOHandler()->ReadBytes(bytes, 5); }),
        "Connection Closed Gracefully.");
    EXPECT_TRUE(bytes.empty());
  }
  // Until disconnect: the close ends the read normally.
  {
    const std::string body(70000, 'b');
    ScriptedPeer peer({PeerStep::Send(body, 10000, 1), PeerStep::Close()});
    auto client = ConnectTo(peer);
    MemoryStream stream;
    client->GetIOHandler()->ReadStream(stream, -1, true);
    EXPECT_EQ(stream.Size(), 70000);
    EXPECT_FALSE(client->Connected());
  }
}

TEST(IOHandlerTest, LengthPrefixedStreamsAndDiscard) {
  ScriptedPeer peer({PeerStep::Send(std::string("\0\0\0\5hello", 9) + "junk!line\n"),
                     PeerStep::ExpectBytes(4 + 3)});
  auto client = ConnectTo(peer);
  IOHandler& io = *client->GetIOHandler();
  MemoryStream stream;
  io.ReadStream(stream);  // -1 reads the length first
  EXPECT_EQ(stream.ToString(), "hello");
  io.Discard(5);
  EXPECT_EQ(io.ReadLn(), "line");

  MemoryStream out("abc");
  io.Write(out, -1, true);  // the whole stream, after its length
  client->Disconnect();
  ASSERT_TRUE(peer.WaitDone());
  EXPECT_EQ(peer.Received(), std::string("\0\0\0\3abc", 7));
  EXPECT_EQ(peer.Error(), "");
}

// Connected while unread bytes remain.

TEST(IOHandlerTest, ConnectedUntilTheLastByteIsRead) {
  ScriptedPeer peer(
      {PeerStep::Send("line\n"), PeerStep::Delay(50), PeerStep::Send("rest"), PeerStep::Close()});
  auto client = ConnectTo(peer);
  IOHandler& io = *client->GetIOHandler();
  EXPECT_EQ(io.ReadLn(), "line");
  // Wait until the end of the stream has been seen; the socket is then closed.
  for (int i = 0; i < 100 && client->Connected() && !io.ClosedGracefully(); ++i) {
    io.CheckForDataOnSource(50);
  }
  ASSERT_TRUE(io.ClosedGracefully());
  EXPECT_FALSE(io.Opened());
  EXPECT_TRUE(client->Connected());  // "rest" is still unread
  std::vector<uint8_t> bytes;
  io.ReadBytes(bytes, 4);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "rest");
  EXPECT_FALSE(client->Connected());
  EXPECT_EQ(MessageOf<NetConnClosedGracefully>([&] { io.ReadLn(); }),
            "Connection Closed Gracefully.");
}

// Writes.

// Counts the sends that reach the socket.
class CountingHandler final : public IOHandlerStack {
 public:
  int sends = 0;

 protected:
  std::size_t WriteDataToTarget(const uint8_t* data, std::size_t size) override {
    ++sends;
    return IOHandlerStack::WriteDataToTarget(data, size);
  }
};

TEST(IOHandlerTest, WriteBufferingSendsTheHeadInOneSend) {
  const std::string head =
      "GET /cgi-bin/x.cgi?s=123 HTTP/1.1\r\nHost: host\r\nAccept: text/html, */*\r\n"
      "Accept-Encoding: identity\r\nUser-Agent: Mozilla/3.0 (compatible; Tesvaro Fetch)\r\n\r\n";
  ScriptedPeer peer({PeerStep::ExpectUntil("\r\n\r\n"), PeerStep::ExpectBytes(25)});
  CountingHandler handler;
  TcpClient client;
  client.SetIOHandler(&handler);
  client.SetHost(ScriptedPeer::Host());
  client.SetPort(peer.Port());
  client.SetReadTimeout(kSafetyTimeoutMs);
  client.Connect();
  EXPECT_FALSE(client.ManagedIOHandler());

  handler.WriteBufferOpen();
  EXPECT_TRUE(handler.WriteBufferingActive());
  handler.WriteLn("GET /cgi-bin/x.cgi?s=123 HTTP/1.1");
  handler.WriteLn("Host: host");
  handler.WriteLn("Accept: text/html, */*");
  handler.WriteLn("Accept-Encoding: identity");
  handler.WriteLn("User-Agent: Mozilla/3.0 (compatible; Tesvaro Fetch)");
  handler.WriteLn();
  EXPECT_EQ(handler.sends, 0);
  handler.WriteBufferClose();
  EXPECT_FALSE(handler.WriteBufferingActive());
  EXPECT_EQ(handler.sends, 1);

  // With a threshold, whole pieces leave as soon as they are complete.
  handler.WriteBufferOpen(10);
  handler.Write(std::string(25, 'z'));
  EXPECT_EQ(handler.sends, 3);
  handler.WriteBufferClose();
  EXPECT_EQ(handler.sends, 4);

  // Cancelled bytes never leave.
  handler.WriteBufferOpen();
  handler.Write("never");
  handler.WriteBufferCancel();
  EXPECT_EQ(handler.sends, 4);

  client.Disconnect();
  ASSERT_TRUE(peer.WaitDone());
  EXPECT_EQ(peer.Error(), "");
  EXPECT_EQ(peer.Received(), head + std::string(25, 'z'));
}

TEST(IOHandlerTest, WritingToAClosedPeerNeverRaisesSigpipe) {
  ScriptedPeer peer({PeerStep::ExpectBytes(1), PeerStep::Reset()});
  auto client = ConnectTo(peer);
  IOHandler& io = *client->GetIOHandler();
  io.Write("x");
  ASSERT_TRUE(peer.WaitDone());
  const std::string chunk(65536, 'w');
  bool failed = false;
  for (int i = 0; i < 100 && !failed; ++i) {
    try {
      io.Write(chunk);
    } catch (const NetError&) {
      failed = true;  // reset by the peer, or its end noticed: either way an exception
    }
  }
  EXPECT_TRUE(failed);
}

}  // namespace
}  // namespace brevis
