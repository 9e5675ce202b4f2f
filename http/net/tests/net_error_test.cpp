// Tests of the NetError family: class tree and exact message texts.
#include "http/net/net_error.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace brevis {
namespace {

TEST(NetErrorTest, SocketErrorTexts) {
  struct Case {
    int number;
    const char* message;
  };
  constexpr Case kCases[] = {
      {10061, "Socket Error # 10061\r\nConnection refused."},
      {11001, "Socket Error # 11001\r\nHost not found."},
      {10004, "Socket Error # 10004\r\nInterrupted system call."},
      {10066, "Socket Error # 10066\r\nDirectory not empty"},
      // Numbers without a text keep only the number and the line end.
      {11002, "Socket Error # 11002\r\n"},
      {0, "Socket Error # 0\r\n"},
      {-5, "Socket Error # -5\r\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.number);
    EXPECT_EQ(WSTranslateSocketErrorMsg(c.number), c.message);
    NetSocketError error(c.number);
    EXPECT_EQ(error.LastError(), c.number);
    EXPECT_STREQ(error.what(), c.message);
  }
  NetNotASocket not_a_socket;
  EXPECT_EQ(not_a_socket.LastError(), 10038);
  EXPECT_STREQ(not_a_socket.what(), "Socket Error # 10038\r\nSocket operation on non-socket.");
}

// The class tree, checked when this file compiles.
static_assert(std::is_base_of_v<std::runtime_error, NetError>);
static_assert(std::is_base_of_v<NetSilentException, NetConnClosedGracefully>);
static_assert(std::is_base_of_v<NetSocketError, NetNotASocket>);
static_assert(std::is_base_of_v<NetSocketHandleError, NetCouldNotBindSocket>);
static_assert(std::is_base_of_v<NetSocketHandleError, NetCanNotBindPortInRange>);
static_assert(std::is_base_of_v<NetSocketHandleError, NetInvalidPortRange>);
static_assert(std::is_base_of_v<NetSocketHandleError, NetCannotSetIPVersionWhenConnected>);
static_assert(std::is_base_of_v<NetStackError, NetIPVersionUnsupported>);
static_assert(std::is_base_of_v<NetStackError, NetStackInitializationFailed>);
static_assert(std::is_base_of_v<NetIOHandler, NetIOHandlerStreamDataTooLarge>);
static_assert(std::is_base_of_v<NetError, NetReadTimeout>);
static_assert(std::is_base_of_v<NetError, NetIPv6Unavailable>);

TEST(NetErrorTest, FixedMessages) {
  struct Case {
    std::string actual;
    const char* expected;
  };
  const Case kCases[] = {
      {NetConnClosedGracefully().what(), "Connection Closed Gracefully."},
      {NetCouldNotBindSocket().what(),
       "Could not bind socket. Address and port are already in use."},
      {NetCanNotBindPortInRange(1000, 1010).what(), "Can not bind in port range (1000 - 1010)"},
      {NetInvalidPortRange(20, 10).what(), "Invalid Port Range (20 - 10)"},
      {NetCannotSetIPVersionWhenConnected().what(), "Cannot change IPVersion when connected"},
      {NetIPVersionUnsupported().what(),
       "The requested IPVersion / Address family is not supported."},
      {NetIPv6Unavailable().what(), "IPv6 unavailable"},
      {NetReadTimeout().what(), "Read timed out."},
      {NetConnectTimeout().what(), "Connect timed out."},
      {NetReadLnMaxLineLengthExceeded().what(), "Max line length exceeded."},
      {NetAlreadyConnected().what(), "Already connected."},
      {NetHostRequired().what(), ""},
      {NetPortRequired().what(), ""},
      {NetClosedSocket().what(), "Disconnected."},
      {NetNotConnected().what(), "Not Connected"},
      {NetIOHandlerStreamDataTooLarge().what(), "Data is too large for stream"},
      {NetTooMuchDataInBuffer().what(), "Too much data in buffer."},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(c.actual, c.expected);
  }
}

}  // namespace
}  // namespace brevis
