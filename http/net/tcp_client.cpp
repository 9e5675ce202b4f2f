// TCP connection and client: the connect sequence and disconnect over an I/O handler.
#include "http/net/tcp_client.h"

#include <exception>

#include "http/net/net_error.h"

namespace brevis {

// TcpConnection

TcpConnection::TcpConnection() = default;

TcpConnection::~TcpConnection() {
  try {
    Disconnect(false);
  } catch (...) {
    // Nothing can be reported from a destructor; the socket is closed by the binding anyway.
  }
  if (ioHandler_ != nullptr) ioHandler_->SetWorkTarget(nullptr);
}

void TcpConnection::Attach(IOHandler* handler) {
  if (ioHandler_ != nullptr && ioHandler_ != handler) ioHandler_->SetWorkTarget(nullptr);
  ioHandler_ = handler;
  socket_ = dynamic_cast<IOHandlerSocket*>(handler);
  if (ioHandler_ != nullptr) ioHandler_->SetWorkTarget(this);
}

void TcpConnection::SetIOHandler(IOHandler* handler) {
  if (handler == ioHandler_) return;
  std::unique_ptr<IOHandler> old = std::move(managedIOHandler_);
  Attach(handler);
}

void TcpConnection::CreateManagedIOHandler() {
  auto handler = std::make_unique<IOHandlerStack>();
  handler->SetOnStatus(OnStatus());
  IOHandler* raw = handler.get();
  managedIOHandler_ = std::move(handler);
  Attach(raw);
}

void TcpConnection::FreeManagedIOHandler() {
  if (managedIOHandler_ == nullptr) return;
  Attach(nullptr);
  managedIOHandler_.reset();
}

bool TcpConnection::Connected() { return ioHandler_ != nullptr && ioHandler_->Connected(); }

void TcpConnection::Disconnect(bool notify_peer) {
  // The handler is closed whether or not notifying the peer failed; the failure then goes on.
  std::exception_ptr failure;
  if (notify_peer) {
    try {
      if (Connected()) DisconnectNotifyPeer();
    } catch (...) {
      failure = std::current_exception();
    }
  }
  if (ioHandler_ != nullptr && ioHandler_->Opened()) {
    DoStatus(hsDisconnecting);
    ioHandler_->Close();
    if (onDisconnected_) onDisconnected_();
    DoStatus(hsDisconnected);
  }
  // Unread bytes of a connection this side has given up on are not wanted any more; left in
  // place they would keep Connected() true, and every later Connect would fail.
  if (ioHandler_ != nullptr) ioHandler_->InputBuffer().Clear();
  if (failure) std::rethrow_exception(failure);
}

void TcpConnection::CheckForGracefulDisconnect(bool raise_if_disconnected) {
  if (ioHandler_ != nullptr) {
    ioHandler_->CheckForDisconnect(raise_if_disconnected, false);
  } else if (raise_if_disconnected) {
    throw NetError(kMsgNotConnected);
  }
}

// TcpClientBase

TcpClientBase::TcpClientBase() = default;

TcpClientBase::~TcpClientBase() = default;

std::string TcpClientBase::Destination() const { return host_ + ":" + std::to_string(port_); }

void TcpClientBase::SetDestination(const std::string& destination) {
  destination_ = destination;
  SplitDestination(destination, host_, port_);
}

void TcpClientBase::SetConnectTimeout(int milliseconds) {
  connectTimeout_ = milliseconds;
  if (GetIOHandler() != nullptr) GetIOHandler()->SetConnectTimeout(milliseconds);
}

int TcpClientBase::ReadTimeout() const {
  return GetIOHandler() != nullptr ? GetIOHandler()->ReadTimeout() : readTimeout_;
}

void TcpClientBase::SetReadTimeout(int milliseconds) {
  readTimeout_ = milliseconds;
  if (GetIOHandler() != nullptr) GetIOHandler()->SetReadTimeout(milliseconds);
}

void TcpClientBase::SetLimits(const WaitLimits& limits) {
  limits_ = limits;
  if (GetIOHandler() != nullptr) GetIOHandler()->SetLimits(limits);
}

void TcpClientBase::Connect(const std::string& host, uint16_t port) {
  host_ = host;
  port_ = port;
  Connect();
}

void TcpClientBase::Connect() {
  if (Connected()) throw NetAlreadyConnected();
  if (host_.empty()) throw NetHostRequired();
  if (port_ == 0) throw NetPortRequired();
  if (GetIOHandler() == nullptr) CreateManagedIOHandler();
  IOHandler* handler = GetIOHandler();
  try {
    if (!destination_.empty()) handler->SetDestination(destination_);
    handler->SetPort(port_);
    handler->SetHost(host_);
    handler->SetConnectTimeout(connectTimeout_);
    handler->SetReadTimeout(readTimeout_);
    handler->SetLimits(limits_);
    if (IOHandlerSocket* socket = Socket()) {
      socket->SetLocal(local_);
      socket->SetOnBeforeBind(onBeforeBind_);
      socket->SetOnAfterBind(onAfterBind_);
      socket->SetOnSocketAllocated(onSocketAllocated_);
    }
    handler->Open();
    DoStatus(hsConnected, host_);
    if (onConnected_) onConnected_();
  } catch (...) {
    try {
      handler->Close();
    } catch (...) {
      // The connect's own failure is the one to report.
    }
    FreeManagedIOHandler();
    throw;
  }
}

}  // namespace brevis
