// Socket object: allocation, binding, connect, readiness wait, send/receive and close.
#include "http/net/socket_handle.h"

#include <sys/socket.h>

#include "http/net/net_error.h"

namespace brevis {

SocketHandle::SocketHandle() = default;

SocketHandle::~SocketHandle() { CloseSocket(); }

void SocketHandle::SetIPVersion(IPVersion ip_version) {
  if (ip_version == local_.IPVersion) return;
  if (HandleAllocated()) throw NetCannotSetIPVersionWhenConnected();
  local_.IPVersion = ip_version;
}

void SocketHandle::SetLocal(const LocalBinding& local) {
  SetIPVersion(local.IPVersion);
  local_ = local;
}

void SocketHandle::SetHandle(SocketId handle) {
  const SocketId old = handle_.load();
  if (old != kInvalidSocket) readList_.Remove(old);
  handle_.store(handle);
  handleAllocated_.store(handle != kInvalidSocket);
  if (handle != kInvalidSocket) readList_.Add(handle);
}

SocketId SocketHandle::RequireHandle() const {
  const SocketId handle = handle_.load();
  // A call on a closed socket is what the platform reports as a bad descriptor.
  if (handle == kInvalidSocket) SocketStack::RaiseSocketError(WSAEBADF);
  return handle;
}

void SocketHandle::AllocateSocket() { AllocateSocket(SOCK_STREAM, 0); }

void SocketHandle::AllocateSocket(int socket_type, int protocol) {
  if (local_.IPVersion != ivIPv4 && local_.IPVersion != ivIPv6) {
    throw NetIPVersionUnsupported();
  }
  CloseSocket();
  SetHandle(SocketStack::NewSocketHandle(socket_type, protocol, local_.IPVersion, OverLapped()));
}

void SocketHandle::Bind() {
  const SocketId handle = RequireHandle();
  if (local_.Port != 0 || local_.PortMin == 0 || local_.PortMax == 0) {
    try {
      SocketStack::Bind(handle, local_.IP, local_.Port, local_.IPVersion);
    } catch (const NetSocketError&) {
      throw NetCouldNotBindSocket();
    }
    UpdateBindingLocal();
    return;
  }
  if (local_.PortMax < local_.PortMin) throw NetInvalidPortRange(local_.PortMin, local_.PortMax);
  for (int port = local_.PortMax; port >= local_.PortMin; --port) {
    try {
      SocketStack::Bind(handle, local_.IP, static_cast<uint16_t>(port), local_.IPVersion);
    } catch (const NetSocketError&) {
      continue;
    }
    UpdateBindingLocal();
    return;
  }
  throw NetCanNotBindPortInRange(local_.PortMin, local_.PortMax);
}

void SocketHandle::Connect(int cancel_fd) {
  SocketStack::Connect(RequireHandle(), peerIP_, peerPort_, local_.IPVersion, cancel_fd);
  std::lock_guard<std::mutex> guard(connectionLock_);
  if (HandleAllocated()) {
    UpdateBindingLocal();
    UpdateBindingPeer();
  }
}

void SocketHandle::CloseSocket() {
  if (!HandleAllocated()) return;
  std::lock_guard<std::mutex> guard(connectionLock_);
  const SocketId handle = handle_.load();
  if (handle == kInvalidSocket) return;
  handleAllocated_.store(false);
  SocketStack::Disconnect(handle);
  SocketStack::CloseSocket(handle);
  SetHandle(kInvalidSocket);
}

void SocketHandle::SetPeer(const std::string& ip, uint16_t port, IPVersion ip_version) {
  peerIP_ = ip;
  peerPort_ = port;
  SetIPVersion(ip_version);
}

bool SocketHandle::Readable(int milliseconds) {
  if (milliseconds == kTimeoutDefault) milliseconds = kTimeoutInfinite;
  if (!HandleAllocated()) throw NetConnClosedGracefully();
  return readList_.SelectRead(milliseconds);
}

bool SocketHandle::Select(int milliseconds) { return Readable(milliseconds); }

std::size_t SocketHandle::Receive(uint8_t* buffer, std::size_t size) {
  return SocketStack::Receive(RequireHandle(), buffer, size);
}

std::size_t SocketHandle::Send(const uint8_t* data, std::size_t size) {
  return SocketStack::Send(RequireHandle(), data, size);
}

void SocketHandle::SetSockOpt(int level, int option, int value) {
  SocketStack::SetSocketOption(RequireHandle(), level, option, value);
}

void SocketHandle::UpdateBindingLocal() {
  const SocketAddress local = SocketStack::GetSocketName(RequireHandle());
  local_.IP = local.IP;
  local_.Port = local.Port;
}

void SocketHandle::UpdateBindingPeer() {
  const SocketAddress peer = SocketStack::GetPeerName(RequireHandle());
  peerIP_ = peer.IP;
  peerPort_ = peer.Port;
}

void SocketHandle::Reset(bool reset_local) {
  SetHandle(kInvalidSocket);
  peerIP_.clear();
  peerPort_ = 0;
  local_.IPVersion = ivIPv4;
  if (reset_local) {
    local_.IP.clear();
    local_.Port = 0;
  }
}

}  // namespace brevis
