// POSIX implementation of the process-wide socket layer.
#include "http/net/socket_stack.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>

#include "common/ascii_text.h"
#include "http/net/net_error.h"

namespace brevis {
namespace {

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

std::mutex& UsageLock() {
  static std::mutex lock;
  return lock;
}

int g_usage_count = 0;
SocketStack* g_instance = nullptr;

int Family(IPVersion ip_version) {
  switch (ip_version) {
    case ivIPv4:
      return AF_INET;
    case ivIPv6:
      return AF_INET6;
  }
  throw NetIPVersionUnsupported();
}

// Parses four dot-separated decimal numbers 0..255 into `out`.
bool ParseIPv4(const std::string& text, uint8_t out[4]) {
  std::size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    const std::size_t start = pos;
    unsigned value = 0;
    while (pos < text.size() && ascii::IsDigit(text[pos])) {
      value = value * 10 + static_cast<unsigned>(text[pos] - '0');
      if (value > 255) return false;
      ++pos;
    }
    if (pos == start) return false;
    out[part] = static_cast<uint8_t>(value);
  }
  return pos == text.size();
}

// Socket address storage filled from an address text and port.
struct SockAddr {
  sockaddr_storage storage{};
  socklen_t length = 0;
  sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
};

SockAddr MakeAddress(const std::string& address, uint16_t port, IPVersion ip_version) {
  SockAddr result;
  if (ip_version == ivIPv4) {
    sockaddr_in in4{};
    in4.sin_family = AF_INET;
    in4.sin_port = htons(port);
    if (!address.empty()) {
      uint8_t octets[4];
      if (!ParseIPv4(address, octets)) SocketStack::RaiseSocketError(WSAEADDRNOTAVAIL);
      std::memcpy(&in4.sin_addr, octets, sizeof octets);
    } else {
      in4.sin_addr.s_addr = htonl(INADDR_ANY);
    }
    std::memcpy(&result.storage, &in4, sizeof in4);
    result.length = sizeof in4;
  } else if (ip_version == ivIPv6) {
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    if (!address.empty() && inet_pton(AF_INET6, address.c_str(), &in6.sin6_addr) != 1) {
      SocketStack::RaiseSocketError(WSAEADDRNOTAVAIL);
    }
    std::memcpy(&result.storage, &in6, sizeof in6);
    result.length = sizeof in6;
  } else {
    throw NetIPVersionUnsupported();
  }
  return result;
}

SocketAddress ReadAddress(const sockaddr_storage& storage) {
  SocketAddress result;
  char text[INET6_ADDRSTRLEN] = {};
  if (storage.ss_family == AF_INET) {
    sockaddr_in in4;
    std::memcpy(&in4, &storage, sizeof in4);
    inet_ntop(AF_INET, &in4.sin_addr, text, sizeof text);
    result.Port = ntohs(in4.sin_port);
    result.IPVersion = ivIPv4;
  } else if (storage.ss_family == AF_INET6) {
    sockaddr_in6 in6;
    std::memcpy(&in6, &storage, sizeof in6);
    inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
    result.Port = ntohs(in6.sin6_port);
    result.IPVersion = ivIPv6;
  } else {
    throw NetIPVersionUnsupported();
  }
  result.IP = text;
  return result;
}

}  // namespace

int RemainingMs(int milliseconds, std::chrono::steady_clock::time_point start) {
  if (milliseconds < 0) return -1;
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
  return static_cast<int>(std::max<long long>(0, milliseconds - elapsed));
}

SocketStack::SocketStack() {
  if (g_instance != nullptr) throw NetError(kMsgStackAlreadyCreated);
  g_instance = this;
}

SocketStack::~SocketStack() { g_instance = nullptr; }

void SocketStack::IncUsage() {
  std::lock_guard<std::mutex> guard(UsageLock());
  if (g_usage_count == 0) new SocketStack();
  ++g_usage_count;
}

void SocketStack::DecUsage() {
  std::lock_guard<std::mutex> guard(UsageLock());
  if (g_usage_count == 0) return;
  if (--g_usage_count == 0) delete g_instance;
}

int SocketStack::UsageCount() {
  std::lock_guard<std::mutex> guard(UsageLock());
  return g_usage_count;
}

bool SocketStack::Exists() {
  std::lock_guard<std::mutex> guard(UsageLock());
  return g_instance != nullptr;
}

bool SocketStack::IsIP(const std::string& text) {
  uint8_t octets[4];
  return ParseIPv4(text, octets);
}

std::string SocketStack::ResolveHost(const std::string& host, IPVersion ip_version) {
  if (ip_version != ivIPv4 && ip_version != ivIPv6) {
    throw NetIPVersionUnsupported();
  }
  if (ascii::EqualsIgnoreCase(host, "LOCALHOST")) {
    return ip_version == ivIPv4 ? "127.0.0.1" : "::1";
  }
  if (ip_version == ivIPv4 && IsIP(host)) return host;
  return HostByName(host, ip_version);
}

std::string SocketStack::HostByName(const std::string& host, IPVersion ip_version) {
  addrinfo hints{};
  hints.ai_family = Family(ip_version);
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* raw = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &raw);
  if (rc != 0) RaiseSocketError(TranslateAddrInfoError(rc, errno));
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(raw, &freeaddrinfo);
  if (list == nullptr || list->ai_addr == nullptr) RaiseSocketError(WSANO_DATA);
  sockaddr_storage storage{};
  std::memcpy(&storage, list->ai_addr,
              std::min<std::size_t>(list->ai_addrlen, sizeof(sockaddr_storage)));
  return ReadAddress(storage).IP;
}

SocketId SocketStack::NewSocketHandle(int socket_type, int protocol, IPVersion ip_version,
                                      bool /*overlapped*/) {
  const int fd = ::socket(Family(ip_version), socket_type | SOCK_CLOEXEC, protocol);
  if (fd < 0) RaiseLastSocketError();
#ifdef SO_NOSIGPIPE
  SetSocketOption(fd, SOL_SOCKET, SO_NOSIGPIPE, 1);
#endif
  return fd;
}

void SocketStack::Bind(SocketId handle, const std::string& address, uint16_t port,
                       IPVersion ip_version) {
  SockAddr addr = MakeAddress(address, port, ip_version);
  CheckForSocketError(::bind(handle, addr.get(), addr.length));
}

void SocketStack::Connect(SocketId handle, const std::string& address, uint16_t port,
                          IPVersion ip_version, int cancel_fd) {
  SockAddr addr = MakeAddress(address, port, ip_version);
  // The connect runs non-blocking and the wait for its end happens in poll(), so that a signal
  // or a cancel request cannot leave it half-done; the socket is blocking again afterwards.
  const int flags = ::fcntl(handle, F_GETFL, 0);
  if (flags < 0) RaiseLastSocketError();
  if (::fcntl(handle, F_SETFL, flags | O_NONBLOCK) < 0) RaiseLastSocketError();
  struct RestoreFlags {
    int handle, flags;
    ~RestoreFlags() { ::fcntl(handle, F_SETFL, flags); }
  } restore{handle, flags};

  if (::connect(handle, addr.get(), addr.length) == 0) return;
  if (errno != EINPROGRESS && errno != EINTR) RaiseLastSocketError();
  for (;;) {
    pollfd fds[2] = {{handle, POLLOUT, 0}, {cancel_fd, POLLIN, 0}};
    const int rc = ::poll(fds, cancel_fd >= 0 ? 2 : 1, -1);
    if (rc < 0) {
      if (errno == EINTR) continue;
      RaiseLastSocketError();
    }
    if (cancel_fd >= 0 && (fds[1].revents & POLLIN) != 0) RaiseSocketError(WSAEINTR);
    if (fds[0].revents != 0) break;
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &length) < 0) RaiseLastSocketError();
  if (error != 0) RaiseSocketError(TranslateErrno(error));
}

void SocketStack::Disconnect(SocketId handle) { ::shutdown(handle, SHUT_WR); }

void SocketStack::CloseSocket(SocketId handle) { ::close(handle); }

std::size_t SocketStack::Receive(SocketId handle, uint8_t* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::recv(handle, buffer, size, 0);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) RaiseLastSocketError();
  }
}

std::size_t SocketStack::Send(SocketId handle, const uint8_t* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::send(handle, data, size, kSendFlags);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) RaiseLastSocketError();
  }
}

SocketAddress SocketStack::GetSocketName(SocketId handle) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  CheckForSocketError(::getsockname(handle, reinterpret_cast<sockaddr*>(&storage), &length));
  return ReadAddress(storage);
}

SocketAddress SocketStack::GetPeerName(SocketId handle) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  CheckForSocketError(::getpeername(handle, reinterpret_cast<sockaddr*>(&storage), &length));
  return ReadAddress(storage);
}

void SocketStack::SetSocketOption(SocketId handle, int level, int option, int value) {
  CheckForSocketError(::setsockopt(handle, level, option, &value, sizeof value));
}

bool SocketStack::WaitReadable(SocketId handle, int milliseconds) {
  if (milliseconds < 0) milliseconds = -1;
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    pollfd fd = {handle, POLLIN, 0};
    const int rc = ::poll(&fd, 1, RemainingMs(milliseconds, start));
    if (rc >= 0) return rc > 0;
    if (errno != EINTR) RaiseLastSocketError();
  }
}

long SocketStack::CheckForSocketError(long result) {
  if (result == -1) RaiseLastSocketError();
  return result;
}

long SocketStack::CheckForSocketError(long result, std::initializer_list<int> ignore) {
  if (result != -1) return result;
  const int error = WSGetLastError();
  if (std::find(ignore.begin(), ignore.end(), error) != ignore.end()) return error;
  RaiseSocketError(error);
}

void SocketStack::RaiseLastSocketError() { RaiseSocketError(WSGetLastError()); }

void SocketStack::RaiseSocketError(int error_number) {
  if (error_number == WSAENOTSOCK) throw NetNotASocket(error_number);
  throw NetSocketError(error_number);
}

std::string SocketStack::WSTranslateSocketErrorMsg(int error_number) {
  return brevis::WSTranslateSocketErrorMsg(error_number);
}

int SocketStack::WSGetLastError() { return TranslateErrno(errno); }

int SocketStack::TranslateErrno(int errno_value) {
  struct ErrnoMapping {
    int errno_value;
    int wsa;
  };
  static constexpr ErrnoMapping kTable[] = {
      {EINTR, WSAEINTR},
      {EBADF, WSAEBADF},
      {EACCES, WSAEACCES},
      {EPERM, WSAEACCES},
      {EFAULT, WSAEFAULT},
      {EINVAL, WSAEINVAL},
      {EMFILE, WSAEMFILE},
      {ENFILE, WSAEMFILE},
      {EWOULDBLOCK, WSAEWOULDBLOCK},
      {EAGAIN, WSAEWOULDBLOCK},
      {EINPROGRESS, WSAEINPROGRESS},
      {EALREADY, WSAEALREADY},
      {ENOTSOCK, WSAENOTSOCK},
      {EDESTADDRREQ, WSAEDESTADDRREQ},
      {EMSGSIZE, WSAEMSGSIZE},
      {EPROTOTYPE, WSAEPROTOTYPE},
      {ENOPROTOOPT, WSAENOPROTOOPT},
      {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
      {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
      {EOPNOTSUPP, WSAEOPNOTSUPP},
      {EPFNOSUPPORT, WSAEPFNOSUPPORT},
      {EAFNOSUPPORT, WSAEAFNOSUPPORT},
      {EADDRINUSE, WSAEADDRINUSE},
      {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
      {ENETDOWN, WSAENETDOWN},
      {ENETUNREACH, WSAENETUNREACH},
      {ENETRESET, WSAENETRESET},
      {ECONNABORTED, WSAECONNABORTED},
      {ECONNRESET, WSAECONNRESET},
      // A send after the peer went away: on Windows Sockets this is a reset connection.
      {EPIPE, WSAECONNRESET},
      {ENOBUFS, WSAENOBUFS},
      {ENOMEM, WSAENOBUFS},
      {EISCONN, WSAEISCONN},
      {ENOTCONN, WSAENOTCONN},
      {ESHUTDOWN, WSAESHUTDOWN},
      {ETOOMANYREFS, WSAETOOMANYREFS},
      {ETIMEDOUT, WSAETIMEDOUT},
      {ECONNREFUSED, WSAECONNREFUSED},
      {ELOOP, WSAELOOP},
      {ENAMETOOLONG, WSAENAMETOOLONG},
      {EHOSTDOWN, WSAEHOSTDOWN},
      {EHOSTUNREACH, WSAEHOSTUNREACH},
      {ENOTEMPTY, WSAENOTEMPTY},
  };
  for (const ErrnoMapping& entry : kTable) {
    if (entry.errno_value == errno_value) return entry.wsa;
  }
  return errno_value;
}

int SocketStack::TranslateAddrInfoError(int eai_error, int errno_value) {
  switch (eai_error) {
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return 0;
#endif
    case EAI_AGAIN:
      return WSATRY_AGAIN;
    case EAI_BADFLAGS:
      return WSAEINVAL;
    case EAI_FAIL:
      return WSANO_RECOVERY;
    case EAI_FAMILY:
      return WSAEAFNOSUPPORT;
    case EAI_MEMORY:
      return WSA_NOT_ENOUGH_MEMORY;
#if defined(EAI_NODATA) && EAI_NODATA != EAI_NONAME
    case EAI_NODATA:
      return WSANO_DATA;
#endif
    case EAI_NONAME:
      return WSAHOST_NOT_FOUND;
    case EAI_SERVICE:
      return WSATYPE_NOT_FOUND;
    case EAI_SOCKTYPE:
      return WSAESOCKTNOSUPPORT;
    case EAI_SYSTEM:
      return TranslateErrno(errno_value);
    default:
      return eai_error;
  }
}

}  // namespace brevis
