// Socket object: allocation, binding, connect, readiness wait, send/receive and close.
#include "http/net/socket_handle.h"

#include <sys/socket.h>

#include "http/net/net_error.h"

namespace brevis {

SocketHandle::SocketHandle() = default;

SocketHandle::~SocketHandle() { CloseSocket(); }

void SocketHandle::SetIPVersion(IPVersion ip_version) {
  if (ip_version == local_.ipVersion) return;
  if (HandleAllocated()) throw NetCannotSetIPVersionWhenConnected();
  local_.ipVersion = ip_version;
}

void SocketHandle::SetLocal(const LocalBinding& local) {
  SetIPVersion(local.ipVersion);
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
  if (local_.ipVersion != ivIPv4 && local_.ipVersion != ivIPv6) {
    throw NetIPVersionUnsupported();
  }
  CloseSocket();
  SetHandle(SocketStack::NewSocketHandle(socket_type, protocol, local_.ipVersion, OverLapped()));
}

void SocketHandle::Bind() {
  const SocketId handle = RequireHandle();
  if (local_.port != 0 || local_.portMin == 0 || local_.portMax == 0) {
    try {
      SocketStack::Bind(handle, local_.ip, local_.port, local_.ipVersion);
    } catch (const NetSocketError&) {
      throw NetCouldNotBindSocket();
    }
    UpdateBindingLocal();
    return;
  }
  if (local_.portMax < local_.portMin) throw NetInvalidPortRange(local_.portMin, local_.portMax);
  for (int port = local_.portMax; port >= local_.portMin; --port) {
    try {
      SocketStack::Bind(handle, local_.ip, static_cast<uint16_t>(port), local_.ipVersion);
    } catch (const NetSocketError&) {
      continue;
    }
    UpdateBindingLocal();
    return;
  }
  throw NetCanNotBindPortInRange(local_.portMin, local_.portMax);
}

void SocketHandle::Connect(int cancel_fd) {
  SocketStack::Connect(RequireHandle(), peerIP_, peerPort_, local_.ipVersion, cancel_fd);
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
  local_.ip = local.ip;
  local_.port = local.port;
}

void SocketHandle::UpdateBindingPeer() {
  const SocketAddress peer = SocketStack::GetPeerName(RequireHandle());
  peerIP_ = peer.ip;
  peerPort_ = peer.port;
}

void SocketHandle::Reset(bool reset_local) {
  SetHandle(kInvalidSocket);
  peerIP_.clear();
  peerPort_ = 0;
  local_.ipVersion = ivIPv4;
  if (reset_local) {
    local_.ip.clear();
    local_.port = 0;
  }
}

}  // namespace brevis
