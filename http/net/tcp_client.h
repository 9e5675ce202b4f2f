// The TCP connection and client: one outgoing connection to a host and port over an I/O
// handler. The HTTP client derives from TcpClientBase.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "http/net/io_handler_stack.h"

namespace brevis {

// Owns (managed) or borrows an I/O handler. Used by one thread at a time.
class TcpConnection : public NetComponent {
 public:
  using Event = std::function<void()>;

  TcpConnection();
  // Closes the connection; a managed handler is freed with it.
  ~TcpConnection() override;

  IOHandler* GetIOHandler() const { return ioHandler_; }
  // Installs a handler that the caller keeps owning (null removes it); a managed handler in
  // place is freed.
  void SetIOHandler(IOHandler* handler);
  // The handler as a socket handler, or null.
  IOHandlerSocket* Socket() const { return socket_; }
  bool ManagedIOHandler() const { return managedIOHandler_ != nullptr; }

  const Event& OnDisconnected() const { return onDisconnected_; }
  void SetOnDisconnected(Event handler) { onDisconnected_ = std::move(handler); }

  // False without a handler, else the handler's answer (see IOHandler::Connected).
  virtual bool Connected();
  // Notifies the peer (nothing is sent for a plain TCP connection), then closes the handler and
  // drops any unread bytes.
  void Disconnect() { Disconnect(true); }
  virtual void Disconnect(bool notify_peer);
  // Runs the handler's disconnect check; without a handler throws NetError "Not Connected"
  // when `raise_if_disconnected`.
  void CheckForGracefulDisconnect(bool raise_if_disconnected = true);

 protected:
  // Tells the peer that this side is leaving; a plain TCP connection sends nothing.
  virtual void DisconnectNotifyPeer() {}
  // Makes a default handler owned by the connection.
  void CreateManagedIOHandler();
  // Frees a managed handler and leaves the connection without one.
  void FreeManagedIOHandler();

 private:
  void Attach(IOHandler* handler);

  IOHandler* ioHandler_ = nullptr;
  IOHandlerSocket* socket_ = nullptr;
  std::unique_ptr<IOHandler> managedIOHandler_;
  Event onDisconnected_;
};

class TcpClientBase : public TcpConnection {
 public:
  TcpClientBase();
  ~TcpClientBase() override;

  const std::string& Host() const { return host_; }
  void SetHost(const std::string& host) { host_ = host; }
  uint16_t Port() const { return port_; }
  void SetPort(uint16_t port) { port_ = port; }
  // "host:port"; setting it sets Host and Port as well.
  std::string Destination() const;
  void SetDestination(const std::string& destination);

  // Connect time-out in ms: 0 connects directly (limited only by the platform), -1 and -2 use a
  // connect thread without limit, a positive value gives up with NetConnectTimeout.
  int ConnectTimeout() const { return connectTimeout_; }
  void SetConnectTimeout(int milliseconds);
  // Read time-out in ms (-1 and 0: no limit); applies to the current handler at once.
  int ReadTimeout() const;
  void SetReadTimeout(int milliseconds);

  // Deadline and cancel flag of every wait (connect included); applies to the current handler at
  // once and to every handler a later Connect makes. See IOHandler::SetLimits.
  const WaitLimits& Limits() const { return limits_; }
  void SetLimits(const WaitLimits& limits);

  // The local binding handed to the socket handler at every Connect.
  const LocalBinding& Local() const { return local_; }
  LocalBinding& Local() { return local_; }

  void SetOnConnected(Event handler) { onConnected_ = std::move(handler); }
  void SetOnBeforeBind(Event handler) { onBeforeBind_ = std::move(handler); }
  void SetOnAfterBind(Event handler) { onAfterBind_ = std::move(handler); }
  void SetOnSocketAllocated(Event handler) { onSocketAllocated_ = std::move(handler); }

  // Connects to Host and Port on a new socket (making a default handler when there is none).
  // Throws NetAlreadyConnected, NetHostRequired, NetPortRequired, NetConnectTimeout or the
  // socket layer's errors; a failed connect closes the handler and frees a managed one.
  virtual void Connect();
  void Connect(const std::string& host, uint16_t port);

 private:
  std::string host_;
  uint16_t port_ = 0;
  std::string destination_;
  int connectTimeout_ = 0;
  int readTimeout_ = kTimeoutDefault;
  WaitLimits limits_;
  LocalBinding local_;
  Event onConnected_;
  Event onBeforeBind_;
  Event onAfterBind_;
  Event onSocketAllocated_;
};

class TcpClient final : public TcpClientBase {};

}  // namespace brevis
