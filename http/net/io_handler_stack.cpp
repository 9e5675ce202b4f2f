// Socket I/O handler over the process-wide socket layer.
#include "http/net/io_handler_stack.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>

#include "http/net/connect_thread.h"
#include "http/net/net_error.h"

namespace brevis {
namespace {

// The canonical text of an IPv6 literal, or "" when `host` is none.
std::string CanonicalIPv6(const std::string& host) {
  in6_addr address{};
  if (inet_pton(AF_INET6, host.c_str(), &address) != 1) return std::string();
  char text[INET6_ADDRSTRLEN] = {};
  inet_ntop(AF_INET6, &address, text, sizeof text);
  return text;
}

}  // namespace

IOHandlerStack::IOHandlerStack() = default;

IOHandlerStack::~IOHandlerStack() = default;

void IOHandlerStack::CheckForDisconnect(bool raise_if_disconnected, bool ignore_buffer) {
  bool disconnected;
  if (closedGracefully_) {
    if (binding_ != nullptr && binding_->HandleAllocated()) {
      Close();
      DoStatus(hsDisconnected);
    }
    disconnected = true;
  } else {
    disconnected = binding_ == nullptr || !binding_->HandleAllocated();
  }
  if (disconnected && (InputBufferIsEmpty() || ignore_buffer) && raise_if_disconnected) {
    throw NetConnClosedGracefully();
  }
}

bool IOHandlerStack::Connected() {
  // Unread bytes already answer the question; polling then would only let the buffer grow.
  if (InputBufferIsEmpty()) ReceiveIntoBuffer(false, 0, false);
  const bool socket_there = binding_ != nullptr && binding_->HandleAllocated();
  return (socket_there && IOHandler::Connected()) || !InputBufferIsEmpty();
}

bool IOHandlerStack::Readable(int milliseconds) {
  if (binding_ == nullptr) throw NetConnClosedGracefully();
  return binding_->Readable(milliseconds);
}

bool IOHandlerStack::SourceIsAvailable() const {
  return binding_ != nullptr && binding_->HandleAllocated();
}

std::size_t IOHandlerStack::ReadDataFromSource(uint8_t* buffer, std::size_t size) {
  return binding_->Receive(buffer, size);
}

std::size_t IOHandlerStack::WriteDataToTarget(const uint8_t* data, std::size_t size) {
  if (binding_ == nullptr) throw NetConnClosedGracefully();
  return binding_->Send(data, size);
}

void IOHandlerStack::ConnectSocket() {
  DoBeforeBind();
  const LocalBinding& local = Local();
  binding_->SetLocal(local);
  binding_->AllocateSocket();
  DoSocketAllocated();

  if (local.ReuseSocket) binding_->SetSockOpt(SOL_SOCKET, SO_REUSEADDR, 1);
  if (local.NeedsBind()) binding_->Bind();
  binding_->SetSockOpt(IPPROTO_TCP, TCP_NODELAY, UseNagle() ? 0 : 1);
  DoAfterBind();

  std::string address;
  if (local.IPVersion == ivIPv4) {
    if (SocketStack::IsIP(Host())) {
      address = Host();
    } else {
      DoStatus(hsResolving, Host());
      address = SocketStack::ResolveHost(Host(), local.IPVersion);
    }
  } else {
    address = CanonicalIPv6(Host());
    if (address.empty()) {
      DoStatus(hsResolving, Host());
      address = SocketStack::ResolveHost(Host(), local.IPVersion);
    }
  }
  binding_->SetPeer(address, Port(), local.IPVersion);
  DoStatus(hsConnecting, binding_->PeerIP());

  if (ConnectTimeout() != 0) {
    ConnectWithTimeout(ConnectTimeout());
  } else if (HasLimits()) {
    // A direct connect could not be cut short by the deadline or the cancel flag.
    ConnectWithTimeout(kTimeoutInfinite);
  } else {
    binding_->Connect();
  }
}

void IOHandlerStack::ConnectWithTimeout(int timeout) {
  if (timeout == kTimeoutDefault) timeout = kTimeoutInfinite;
  ConnectThread thread(*binding_);
  const auto give_up = [&] {
    thread.Stop();
    thread.Join();
    Close();
  };
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    const int left = timeout < 0 ? -1 : static_cast<int>(std::max<int64_t>(timeout - elapsed, 0));
    if (thread.WaitFor(LimitSlice(left))) break;
    try {
      CheckLimits();
    } catch (...) {
      give_up();
      throw;
    }
    if (left >= 0 &&
        std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(timeout)) {
      give_up();
      throw NetConnectTimeout();
    }
  }
  thread.Join();
  if (!thread.ExceptionMessage().empty()) {
    if (thread.LastSocketError() != 0) {
      throw NetSocketError(thread.LastSocketError(), thread.ExceptionMessage());
    }
    throw NetConnectException(thread.ExceptionMessage());
  }
}

}  // namespace brevis
