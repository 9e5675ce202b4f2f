// Tests of the socket layer: address rules, error mapping, usage counting and the socket object.
#include "http/net/socket_stack.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>

#include "http/net/net_error.h"
#include "http/net/socket_handle.h"
#include "http/net/tests/scripted_peer.h"

namespace brevis {
namespace {

TEST(SocketStackTest, IsIPAndResolveHost) {
  struct Case {
    const char* text;
    bool is_ip;
  };
  constexpr Case kCases[] = {
      {"127.0.0.1", true},
      {"0.0.0.0", true},
      {"255.255.255.255", true},
      {"010.001.0.9", true},
      {"10.0.0.256", false},
      {"1.2.3", false},
      {"1.2.3.4.", false},
      {"1.2.3.4.5", false},
      {"1..2.3", false},
      {" 1.2.3.4", false},
      {"1.2.3.4 ", false},
      {"a.b.c.d", false},
      {"", false},
      {"99999999999.1.1.1", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(SocketStack::IsIP(c.text), c.is_ip);
  }
  // "LOCALHOST" in any case never reaches the platform's lookup; an address stays unchanged.
  EXPECT_EQ(SocketStack::ResolveHost("LOCALHOST", ivIPv4), "127.0.0.1");
  EXPECT_EQ(SocketStack::ResolveHost("LocalHost", ivIPv4), "127.0.0.1");
  EXPECT_EQ(SocketStack::ResolveHost("127.0.0.1", ivIPv4), "127.0.0.1");
  EXPECT_EQ(SocketStack::ResolveHost("192.0.2.7", ivIPv4), "192.0.2.7");
}

TEST(SocketStackTest, ErrnoAndAddrInfoMapping) {
  struct Case {
    int from;
    int to;
  };
  constexpr Case kErrno[] = {
      {ECONNREFUSED, 10061}, {ETIMEDOUT, 10060},  {ECONNRESET, 10054}, {EHOSTUNREACH, 10065},
      {ENETUNREACH, 10051},  {EADDRINUSE, 10048}, {ENOTSOCK, 10038},   {EBADF, 10009},
      {EINTR, 10004},        {EPIPE, 10054},      {EINVAL, 10022},     {EADDRNOTAVAIL, 10049},
  };
  for (const Case& c : kErrno) {
    SCOPED_TRACE(c.from);
    EXPECT_EQ(SocketStack::TranslateErrno(c.from), c.to);
  }
  const Case kEai[] = {
      {EAI_NONAME, 11001}, {EAI_AGAIN, 11002}, {EAI_FAIL, 11003},    {EAI_BADFLAGS, 10022},
      {EAI_FAMILY, 10047}, {EAI_MEMORY, 8},    {EAI_SERVICE, 10109}, {EAI_SOCKTYPE, 10044},
#ifdef EAI_NODATA
      {EAI_NODATA, 11004},
#endif
#ifdef EAI_ADDRFAMILY
      {EAI_ADDRFAMILY, 0},
#endif
      {EAI_SYSTEM, 10061},  // the system error (here ECONNREFUSED) is what is raised
      {-12345, -12345},     // anything else unchanged
  };
  for (const Case& c : kEai) {
    SCOPED_TRACE(c.from);
    EXPECT_EQ(SocketStack::TranslateAddrInfoError(c.from, ECONNREFUSED), c.to);
  }
}

TEST(SocketStackTest, RaiseSocketErrorChoosesClass) {
  try {
    SocketStack::RaiseSocketError(10038);
  } catch (const NetNotASocket& e) {
    EXPECT_EQ(e.LastError(), 10038);
  }
  try {
    SocketStack::RaiseSocketError(10054);
  } catch (const NetNotASocket&) {
    ADD_FAILURE() << "10054 is not 10038";
  } catch (const NetSocketError& e) {
    EXPECT_STREQ(e.what(), "Socket Error # 10054\r\nConnection reset by peer.");
  }
  EXPECT_EQ(SocketStack::CheckForSocketError(5), 5);
  errno = ECONNRESET;
  EXPECT_EQ(SocketStack::CheckForSocketError(-1, {10054}), 10054);
  errno = ECONNREFUSED;
  EXPECT_THROW(SocketStack::CheckForSocketError(-1, {10054}), NetSocketError);
}

TEST(SocketStackTest, UsageCountCreatesAndDestroysTheInstance) {
  const int before = SocketStack::UsageCount();
  {
    SocketStackUsage usage;
    EXPECT_EQ(SocketStack::UsageCount(), before + 1);
    EXPECT_TRUE(SocketStack::Exists());
    {
      SocketHandle binding;  // every socket object holds a usage too
      EXPECT_EQ(SocketStack::UsageCount(), before + 2);
    }
  }
  EXPECT_EQ(SocketStack::UsageCount(), before);
  EXPECT_EQ(SocketStack::Exists(), before > 0);
}

TEST(SocketHandleTest, RefusedConnectGives10061) {
  test::RefusingPort refusing;
  SocketHandle binding;
  binding.AllocateSocket();
  binding.SetPeer("127.0.0.1", refusing.Port(), ivIPv4);
  try {
    binding.Connect();
    FAIL() << "connected to a port nobody listens on";
  } catch (const NetSocketError& e) {
    EXPECT_EQ(e.LastError(), 10061);
    EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
  }
  // A failed call leaves the socket to the caller.
  EXPECT_TRUE(binding.HandleAllocated());
}

TEST(SocketHandleTest, ConnectReadsBackAddressesAndWaits) {
  test::ScriptedPeer peer({test::PeerStep::Delay(300), test::PeerStep::Send("x")});
  SocketHandle binding;
  binding.AllocateSocket();
  EXPECT_EQ(binding.ReadList().Count(), 1u);
  EXPECT_THROW(binding.SetIPVersion(ivIPv6), NetCannotSetIPVersionWhenConnected);
  binding.SetPeer("127.0.0.1", peer.Port(), ivIPv4);
  binding.Connect();
  EXPECT_EQ(binding.PeerIP(), "127.0.0.1");
  EXPECT_EQ(binding.PeerPort(), peer.Port());
  EXPECT_EQ(binding.IP(), "127.0.0.1");
  EXPECT_NE(binding.Port(), 0);

  EXPECT_FALSE(binding.Readable(0));  // a wait of 0 polls
  EXPECT_TRUE(binding.Readable(5000));
  uint8_t byte = 0;
  EXPECT_EQ(binding.Receive(&byte, 1), 1u);
  EXPECT_EQ(byte, 'x');

  binding.CloseSocket();
  EXPECT_FALSE(binding.HandleAllocated());
  EXPECT_EQ(binding.Handle(), kInvalidSocket);
  EXPECT_EQ(binding.ReadList().Count(), 0u);
  try {
    binding.Readable(0);
    FAIL() << "a wait on a closed socket must fail";
  } catch (const NetConnClosedGracefully& e) {
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
}

TEST(SocketHandleTest, BindRules) {
  test::RefusingPort taken;  // bound and kept, so binding it again fails
  const uint16_t p = taken.Port();
  SocketHandle binding;
  binding.AllocateSocket();
  binding.SetClientPortMin(20);
  binding.SetClientPortMax(10);
  try {
    binding.Bind();
    FAIL();
  } catch (const NetInvalidPortRange& e) {
    EXPECT_STREQ(e.what(), "Invalid Port Range (20 - 10)");
  }
  binding.SetClientPortMin(p);
  binding.SetClientPortMax(p);
  try {
    binding.Bind();
    FAIL();
  } catch (const NetCanNotBindPortInRange& e) {
    EXPECT_EQ(std::string(e.what()),
              "Can not bind in port range (" + std::to_string(p) + " - " + std::to_string(p) + ")");
  }
  binding.SetClientPortMin(0);
  binding.SetClientPortMax(0);
  binding.SetIP("127.0.0.1");
  binding.SetPort(p);
  try {
    binding.Bind();
    FAIL();
  } catch (const NetCouldNotBindSocket& e) {
    EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
  }
  binding.SetPort(0);
  binding.Bind();
  EXPECT_EQ(binding.IP(), "127.0.0.1");
  EXPECT_NE(binding.Port(), 0);
}

}  // namespace
}  // namespace brevis
