// The NetError exception family: every failure the HTTP client raises, from the socket layer up
// to the TCP client. Each class carries a fixed English message; socket errors carry their number.
#pragma once

#include <stdexcept>
#include <string>

namespace brevis {

// Message texts that are raised as plain NetError (no class of their own).
inline constexpr char kMsgStackAlreadyCreated[] = "Stack already created.";
inline constexpr char kMsgStackClassUndefined[] = "Stack Class is undefined.";
inline constexpr char kMsgNotConnected[] = "Not Connected";
inline constexpr char kMsgBufferTerminatorRequired[] = "Buffer terminator must be specified.";
inline constexpr char kMsgBufferStartInvalid[] = "Buffer start position is invalid.";

// Windows Sockets error numbers, the numbers every socket failure carries.
enum WSAError : int {
  WSA_NOT_ENOUGH_MEMORY = 8,
  WSAEINTR = 10004,
  WSAEBADF = 10009,
  WSAEACCES = 10013,
  WSAEFAULT = 10014,
  WSAEINVAL = 10022,
  WSAEMFILE = 10024,
  WSAEWOULDBLOCK = 10035,
  WSAEINPROGRESS = 10036,
  WSAEALREADY = 10037,
  WSAENOTSOCK = 10038,
  WSAEDESTADDRREQ = 10039,
  WSAEMSGSIZE = 10040,
  WSAEPROTOTYPE = 10041,
  WSAENOPROTOOPT = 10042,
  WSAEPROTONOSUPPORT = 10043,
  WSAESOCKTNOSUPPORT = 10044,
  WSAEOPNOTSUPP = 10045,
  WSAEPFNOSUPPORT = 10046,
  WSAEAFNOSUPPORT = 10047,
  WSAEADDRINUSE = 10048,
  WSAEADDRNOTAVAIL = 10049,
  WSAENETDOWN = 10050,
  WSAENETUNREACH = 10051,
  WSAENETRESET = 10052,
  WSAECONNABORTED = 10053,
  WSAECONNRESET = 10054,
  WSAENOBUFS = 10055,
  WSAEISCONN = 10056,
  WSAENOTCONN = 10057,
  WSAESHUTDOWN = 10058,
  WSAETOOMANYREFS = 10059,
  WSAETIMEDOUT = 10060,
  WSAECONNREFUSED = 10061,
  WSAELOOP = 10062,
  WSAENAMETOOLONG = 10063,
  WSAEHOSTDOWN = 10064,
  WSAEHOSTUNREACH = 10065,
  WSAENOTEMPTY = 10066,
  WSATYPE_NOT_FOUND = 10109,
  WSAHOST_NOT_FOUND = 11001,
  WSATRY_AGAIN = 11002,
  WSANO_RECOVERY = 11003,
  WSANO_DATA = 11004,
};

// Text of a socket error number: "Socket Error # <n>\r\n<text>", with an empty text for a
// number that has none.
std::string WSTranslateSocketErrorMsg(int error_number);

// Root of the family. Everything the HTTP client throws derives from it.
class NetError : public std::runtime_error {
 public:
  explicit NetError(const std::string& message) : std::runtime_error(message) {}
};

// Failures that end an exchange without being a fault of this side.
class NetSilentException : public NetError {
 public:
  using NetError::NetError;
};

// The peer ended the stream while more was needed, or a wait on a socket that is gone.
class NetConnClosedGracefully : public NetSilentException {
 public:
  NetConnClosedGracefully() : NetSilentException("Connection Closed Gracefully.") {}
};

// A failed socket call. LastError() is the Windows Sockets error number (10061 for a refused
// connection, 11001 for an unknown host, ...).
class NetSocketError : public NetError {
 public:
  explicit NetSocketError(int last_error)
      : NetError(WSTranslateSocketErrorMsg(last_error)), lastError_(last_error) {}
  // A socket error with a message recorded elsewhere (for example by a connect thread).
  NetSocketError(int last_error, const std::string& message)
      : NetError(message), lastError_(last_error) {}
  int LastError() const noexcept { return lastError_; }

 private:
  int lastError_;
};

// Socket error WSAENOTSOCK (10038): an operation on something that is not a socket.
class NetNotASocket : public NetSocketError {
 public:
  explicit NetNotASocket(int last_error = WSAENOTSOCK) : NetSocketError(last_error) {}
};

// Failures of the socket object itself (binding, IP version).
class NetSocketHandleError : public NetError {
 public:
  using NetError::NetError;
};

class NetCouldNotBindSocket : public NetSocketHandleError {
 public:
  NetCouldNotBindSocket()
      : NetSocketHandleError("Could not bind socket. Address and port are already in use.") {}
};

class NetCanNotBindPortInRange : public NetSocketHandleError {
 public:
  NetCanNotBindPortInRange(int min_port, int max_port)
      : NetSocketHandleError("Can not bind in port range (" + std::to_string(min_port) + " - " +
                             std::to_string(max_port) + ")") {}
};

class NetInvalidPortRange : public NetSocketHandleError {
 public:
  NetInvalidPortRange(int min_port, int max_port)
      : NetSocketHandleError("Invalid Port Range (" + std::to_string(min_port) + " - " +
                             std::to_string(max_port) + ")") {}
};

class NetCannotSetIPVersionWhenConnected : public NetSocketHandleError {
 public:
  NetCannotSetIPVersionWhenConnected()
      : NetSocketHandleError("Cannot change IPVersion when connected") {}
};

// Failures of the process-wide socket layer.
class NetStackError : public NetError {
 public:
  using NetError::NetError;
};

class NetIPVersionUnsupported : public NetStackError {
 public:
  NetIPVersionUnsupported()
      : NetStackError("The requested IPVersion / Address family is not supported.") {}
};

// The socket layer could not start; the message is the text of the underlying failure.
class NetStackInitializationFailed : public NetStackError {
 public:
  using NetStackError::NetStackError;
};

class NetIPv6Unavailable : public NetError {
 public:
  NetIPv6Unavailable() : NetError("IPv6 unavailable") {}
};

// Buffered I/O and the TCP client.

class NetReadTimeout : public NetError {
 public:
  NetReadTimeout() : NetError("Read timed out.") {}
};

class NetConnectTimeout : public NetError {
 public:
  NetConnectTimeout() : NetError("Connect timed out.") {}
};

// "300 s" for 300000 ms, "1.5 s" for 1500 ms: a whole allowance as a person reads it.
std::string SecondsText(int milliseconds);

// An exchange was still under way when the deadline its client set for the whole of it (connect,
// request, answer) had passed. `budget_ms` is that allowance.
class NetFetchTimeout : public NetError {
 public:
  explicit NetFetchTimeout(int budget_ms)
      : NetError("Fetch took longer than " + SecondsText(budget_ms) + ".") {}
};

// An exchange was stopped on its client's request (the cancel flag was set) while it waited.
class NetFetchCancelled : public NetSilentException {
 public:
  NetFetchCancelled() : NetSilentException("Fetch cancelled.") {}
};

// A connect with a time-out failed without a socket error; the message is the failure's text.
class NetConnectException : public NetError {
 public:
  using NetError::NetError;
};

class NetReadLnMaxLineLengthExceeded : public NetError {
 public:
  NetReadLnMaxLineLengthExceeded() : NetError("Max line length exceeded.") {}
};

class NetAlreadyConnected : public NetError {
 public:
  NetAlreadyConnected() : NetError("Already connected.") {}
};

class NetHostRequired : public NetError {
 public:
  NetHostRequired() : NetError("") {}
};

class NetPortRequired : public NetError {
 public:
  NetPortRequired() : NetError("") {}
};

// A receive was asked to raise but the socket is gone.
class NetClosedSocket : public NetError {
 public:
  NetClosedSocket() : NetError("Disconnected.") {}
};

// A receive was asked to raise but the handler is not open.
class NetNotConnected : public NetError {
 public:
  NetNotConnected() : NetError(kMsgNotConnected) {}
};

// Failures of the I/O handler's stream transfers.
class NetIOHandler : public NetError {
 public:
  using NetError::NetError;
};

class NetIOHandlerStreamDataTooLarge : public NetIOHandler {
 public:
  NetIOHandlerStreamDataTooLarge() : NetIOHandler("Data is too large for stream") {}
};

class NetTooMuchDataInBuffer : public NetError {
 public:
  NetTooMuchDataInBuffer() : NetError("Too much data in buffer.") {}
};

class NetNotEnoughDataInBuffer : public NetError {
 public:
  NetNotEnoughDataInBuffer() : NetError("Not enough data in buffer.") {}
};

}  // namespace brevis
