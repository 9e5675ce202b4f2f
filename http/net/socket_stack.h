// The process-wide socket layer: a usage-counted singleton over POSIX sockets that resolves
// names, makes, binds, connects and closes sockets, and reports failures as socket errors.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "http/net/net_types.h"

namespace brevis {

// An address and port as read back from a socket.
struct SocketAddress {
  std::string IP;
  uint16_t Port = 0;
  brevis::IPVersion IPVersion = ivIPv4;
};

// One instance per process while anything uses it. Every operation is stateless apart from the
// usage count, so they are static and may be called from any thread. Failures of platform calls
// throw NetSocketError (NetNotASocket for 10038) carrying the Windows Sockets error number that
// the platform's errno maps to.
class SocketStack {
 public:
  SocketStack(const SocketStack&) = delete;
  SocketStack& operator=(const SocketStack&) = delete;

  // Usage counting under a process-wide lock: the instance is made when the count goes from 0 to
  // 1 and destroyed when it returns to 0.
  static void IncUsage();
  static void DecUsage();
  static int UsageCount();
  // True while an instance exists.
  static bool Exists();

  // Name resolution. "LOCALHOST" (any case) is the loopback address without asking the platform;
  // an IPv4 text for which IsIP holds is returned unchanged; anything else goes to HostByName.
  static std::string ResolveHost(const std::string& host, IPVersion ip_version);
  // Asks getaddrinfo; returns the first address as text. Throws NetSocketError (11001 for an
  // unknown host, see TranslateAddrInfoError).
  static std::string HostByName(const std::string& host, IPVersion ip_version);
  // Four dot-separated decimal numbers 0..255 and nothing else.
  static bool IsIP(const std::string& text);

  // Socket calls. `address` is dotted decimal (IPv4) or an IPv6 literal; empty means any.
  static SocketId NewSocketHandle(int socket_type, int protocol, IPVersion ip_version,
                                  bool overlapped = false);
  static void Bind(SocketId handle, const std::string& address, uint16_t port,
                   IPVersion ip_version);
  // Blocking connect. When `cancel_fd` is not -1 the wait also ends, with socket error 10004,
  // as soon as that descriptor becomes readable; the socket is left blocking in every case.
  static void Connect(SocketId handle, const std::string& address, uint16_t port,
                      IPVersion ip_version, int cancel_fd = -1);
  // Shuts the socket down for sending.
  static void Disconnect(SocketId handle);
  static void CloseSocket(SocketId handle);
  // One receive; 0 means the peer ended the stream.
  static std::size_t Receive(SocketId handle, uint8_t* buffer, std::size_t size);
  // One send; never raises SIGPIPE.
  static std::size_t Send(SocketId handle, const uint8_t* data, std::size_t size);
  static SocketAddress GetSocketName(SocketId handle);
  static SocketAddress GetPeerName(SocketId handle);
  static void SetSocketOption(SocketId handle, int level, int option, int value);
  // Waits until the socket is readable (data waiting, or the end of the peer's stream).
  // -1 and -2 wait without limit, 0 polls. Throws NetSocketError on a wait error.
  static bool WaitReadable(SocketId handle, int milliseconds);

  // Error reporting.
  // Returns `result` unless it is -1, in which case the last socket error is raised.
  static long CheckForSocketError(long result);
  // As above, but a last error in `ignore` is returned (as a positive number) instead of raised.
  static long CheckForSocketError(long result, std::initializer_list<int> ignore);
  [[noreturn]] static void RaiseLastSocketError();
  [[noreturn]] static void RaiseSocketError(int error_number);
  static std::string WSTranslateSocketErrorMsg(int error_number);
  // The Windows Sockets number for the calling thread's errno.
  static int WSGetLastError();

  // Mapping of platform error codes onto Windows Sockets numbers.
  static int TranslateErrno(int errno_value);
  // `errno_value` is consulted for EAI_SYSTEM.
  static int TranslateAddrInfoError(int eai_error, int errno_value);

 private:
  SocketStack();
  ~SocketStack();
};

// Milliseconds left of a wait of `milliseconds` that began at `start`, never below 0; -1 (no
// limit) for a negative `milliseconds`.
int RemainingMs(int milliseconds, std::chrono::steady_clock::time_point start);

// Holds one usage of the socket layer for its lifetime.
class SocketStackUsage {
 public:
  SocketStackUsage() { SocketStack::IncUsage(); }
  ~SocketStackUsage() { SocketStack::DecUsage(); }
  SocketStackUsage(const SocketStackUsage&) : SocketStackUsage() {}
  SocketStackUsage& operator=(const SocketStackUsage&) { return *this; }
};

}  // namespace brevis
