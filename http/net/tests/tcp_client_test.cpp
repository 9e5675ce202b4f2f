// Tests of the TCP client: the connect sequence, its failures and time-out, reconnecting, and
// the status it reports.
#include "http/net/tcp_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "http/net/net_error.h"
#include "http/net/tests/scripted_peer.h"

namespace brevis {
namespace {

using test::PeerStep;
using test::ScriptedPeer;

TEST(TcpClientTest, RefusedConnectLeavesNoHandler) {
  for (int connect_timeout : {0, 2000}) {  // directly, and through the connect thread
    SCOPED_TRACE(connect_timeout);
    test::RefusingPort refusing;
    TcpClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(refusing.Port());
    client.SetConnectTimeout(connect_timeout);
    try {
      client.Connect();
      FAIL() << "connected to a port nobody listens on";
    } catch (const NetSocketError& e) {
      EXPECT_EQ(e.LastError(), 10061);
      EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
    }
    EXPECT_EQ(client.GetIOHandler(), nullptr);
    EXPECT_FALSE(client.Connected());
  }
}

TEST(TcpClientTest, ConnectTimeout) {
  test::StalledListener stalled;
  ASSERT_TRUE(stalled.Stalled()) << "could not fill the listener's accept queue";
  TcpClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(stalled.Port());
  client.SetConnectTimeout(300);
  const auto start = std::chrono::steady_clock::now();
  try {
    client.Connect();
    FAIL() << "connected to a listener that cannot take more connections";
  } catch (const NetConnectTimeout& e) {
    EXPECT_STREQ(e.what(), "Connect timed out.");
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(280));
  EXPECT_LT(elapsed, std::chrono::seconds(10));  // gave up, rather than waiting for the platform
  EXPECT_EQ(client.GetIOHandler(), nullptr);
}

TEST(TcpClientTest, ConnectTimeoutThatIsNotNeeded) {
  ScriptedPeer peer({PeerStep::Send("hi\n")});
  TcpClient client;
  client.SetHost("LOCALHOST");
  client.SetPort(peer.Port());
  client.SetConnectTimeout(5000);
  client.SetReadTimeout(5000);
  client.Connect();
  auto* socket = client.Socket();
  ASSERT_NE(socket, nullptr);
  EXPECT_EQ(socket->Binding()->PeerIP(), "127.0.0.1");
  EXPECT_EQ(socket->Binding()->PeerPort(), peer.Port());
  EXPECT_EQ(client.GetIOHandler()->ReadLn(), "hi");
}

TEST(TcpClientTest, RequiredSettings) {
  TcpClient client;
  EXPECT_THROW(client.Connect(), NetHostRequired);
  client.SetHost("127.0.0.1");
  EXPECT_THROW(client.Connect(), NetPortRequired);
  EXPECT_EQ(client.GetIOHandler(), nullptr);
  client.SetDestination("example.invalid:8080");
  EXPECT_EQ(client.Host(), "example.invalid");
  EXPECT_EQ(client.Port(), 8080);
  EXPECT_THROW(client.CheckForGracefulDisconnect(true), NetError);
  EXPECT_NO_THROW(client.CheckForGracefulDisconnect(false));
}

TEST(TcpClientTest, AlreadyConnectedAndReconnect) {
  ScriptedPeer peer(std::vector<test::PeerScript>{
      {PeerStep::Send("first\nleftover"), PeerStep::WaitForClose()},
      {PeerStep::Send("second\n")},
  });
  TcpClient client;
  client.SetHost(ScriptedPeer::Host());
  client.SetPort(peer.Port());
  client.SetReadTimeout(5000);
  client.Connect();
  IOHandler* io = client.GetIOHandler();
  ASSERT_NE(io, nullptr);
  EXPECT_TRUE(client.ManagedIOHandler());
  EXPECT_EQ(io->ReadLn(), "first");
  for (int i = 0; i < 100 && io->InputBuffer().Size() < 8; ++i) io->CheckForDataOnSource(50);
  ASSERT_EQ(io->InputBuffer().View(), "leftover");

  try {
    client.Connect();
    FAIL() << "a second connect must fail";
  } catch (const NetAlreadyConnected& e) {
    EXPECT_STREQ(e.what(), "Already connected.");
  }
  client.Disconnect();
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(io->InputBufferIsEmpty());
  client.Connect();
  // The same handler and binding, a new connection, an empty input buffer.
  EXPECT_EQ(client.GetIOHandler(), io);
  EXPECT_TRUE(client.Socket()->Binding()->HandleAllocated());
  EXPECT_EQ(io->ReadLn(), "second");
  client.Disconnect();
  ASSERT_TRUE(peer.WaitDone());
  EXPECT_EQ(peer.Error(), "");
  EXPECT_EQ(peer.Connections(), 2u);
}

TEST(TcpClientTest, StatusAndReadTimeoutReachTheHandler) {
  ScriptedPeer peer({PeerStep::Send("x")});
  TcpClient client;
  std::vector<std::string> texts;
  client.SetOnStatus([&](ConnStatus, const std::string& text) { texts.push_back(text); });
  int connected = 0;
  int disconnected = 0;
  client.SetOnConnected([&] { ++connected; });
  client.SetOnDisconnected([&] { ++disconnected; });
  client.SetReadTimeout(1234);
  client.Connect(ScriptedPeer::Host(), peer.Port());
  EXPECT_EQ(client.GetIOHandler()->ReadTimeout(), 1234);
  client.SetReadTimeout(4321);
  EXPECT_EQ(client.GetIOHandler()->ReadTimeout(), 4321);
  EXPECT_EQ(client.ReadTimeout(), 4321);
  client.Disconnect();
  client.Disconnect();  // a second disconnect does nothing
  EXPECT_EQ(connected, 1);
  EXPECT_EQ(disconnected, 1);
  const std::vector<std::string> expected = {"Connecting to 127.0.0.1.", "Connected.",
                                             "Disconnecting.", "Disconnected."};
  EXPECT_EQ(texts, expected);
}

}  // namespace
}  // namespace brevis
