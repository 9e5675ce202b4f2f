// Socket object: allocation, binding, connect, readiness wait, send/receive and close.
#include "http/socket_handle.h"

#include "http/net_error.h"

namespace brevis {

SocketHandle::SocketHandle() = default;

SocketHandle::~SocketHandle() { CloseSocket(); }

void SocketHandle::SetIPVersion(IPVersion ip_version) {
  if (ip_version == ipVersion_) return;
  if (HandleAllocated()) throw NetCannotSetIPVersionWhenConnected();
  ipVersion_ = ip_version;
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
  if (handle == kInvalidSocket) SocketStack::RaiseSocketError(10009);
  return handle;
}

void SocketHandle::AllocateSocket(int socket_type, int protocol) {
  if (ipVersion_ != IPVersion::ivIPv4 && ipVersion_ != IPVersion::ivIPv6) {
    throw NetIPVersionUnsupported();
  }
  CloseSocket();
  SetHandle(SocketStack::NewSocketHandle(socket_type, protocol, ipVersion_, OverLapped()));
}

void SocketHandle::Bind() {
  const SocketId handle = RequireHandle();
  if (port_ != 0 || clientPortMin_ == 0 || clientPortMax_ == 0) {
    try {
      SocketStack::Bind(handle, ip_, port_, ipVersion_);
    } catch (const NetSocketError&) {
      throw NetCouldNotBindSocket();
    }
    UpdateBindingLocal();
    return;
  }
  if (clientPortMax_ < clientPortMin_) throw NetInvalidPortRange(clientPortMin_, clientPortMax_);
  for (int port = clientPortMax_; port >= clientPortMin_; --port) {
    try {
      SocketStack::Bind(handle, ip_, static_cast<uint16_t>(port), ipVersion_);
    } catch (const NetSocketError&) {
      continue;
    }
    UpdateBindingLocal();
    return;
  }
  throw NetCanNotBindPortInRange(clientPortMin_, clientPortMax_);
}

void SocketHandle::Connect(int cancel_fd) {
  SocketStack::Connect(RequireHandle(), peerIP_, peerPort_, ipVersion_, cancel_fd);
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
  ip_ = local.ip;
  port_ = local.port;
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
  ipVersion_ = IPVersion::ivIPv4;
  if (reset_local) {
    ip_.clear();
    port_ = 0;
  }
}

}  // namespace brevis
