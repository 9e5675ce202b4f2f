// The I/O handler over a socket binding, with the local-binding settings of a connection.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "http/io_handler.h"
#include "http/socket_handle.h"

namespace brevis {

class IOHandlerSocket : public IOHandler {
 public:
  using BindingEvent = std::function<void()>;

  IOHandlerSocket();
  ~IOHandlerSocket() override;

  // The socket binding; null until the first Open, then kept for every later connect.
  SocketHandle* Binding() const { return binding_.get(); }

  const std::string& BoundIP() const { return boundIP_; }
  void SetBoundIP(const std::string& ip) { boundIP_ = ip; }
  uint16_t BoundPort() const { return boundPort_; }
  void SetBoundPort(uint16_t port) { boundPort_ = port; }
  uint16_t BoundPortMin() const { return boundPortMin_; }
  void SetBoundPortMin(uint16_t port) { boundPortMin_ = port; }
  uint16_t BoundPortMax() const { return boundPortMax_; }
  void SetBoundPortMax(uint16_t port) { boundPortMax_ = port; }
  bool UseNagle() const { return useNagle_; }
  void SetUseNagle(bool use) { useNagle_ = use; }
  // When true, the socket asks for local address reuse before it is bound.
  bool ReuseSocket() const { return reuseSocket_; }
  void SetReuseSocket(bool reuse) { reuseSocket_ = reuse; }
  brevis::IPVersion IPVersion() const { return ipVersion_; }
  void SetIPVersion(brevis::IPVersion ip_version) { ipVersion_ = ip_version; }

  const BindingEvent& OnBeforeBind() const { return onBeforeBind_; }
  void SetOnBeforeBind(BindingEvent handler) { onBeforeBind_ = std::move(handler); }
  const BindingEvent& OnAfterBind() const { return onAfterBind_; }
  void SetOnAfterBind(BindingEvent handler) { onAfterBind_ = std::move(handler); }
  const BindingEvent& OnSocketAllocated() const { return onSocketAllocated_; }
  void SetOnSocketAllocated(BindingEvent handler) { onSocketAllocated_ = std::move(handler); }

  // Opens the handler on a fresh socket and, when Host and Port are set, connects it.
  void Open() override;
  // Closes the socket; unread bytes stay in the input buffer.
  void Close() override;

 protected:
  // Makes, binds and connects the binding's socket to Host and Port.
  virtual void ConnectSocket() = 0;

  void DoBeforeBind() {
    if (onBeforeBind_) onBeforeBind_();
  }
  void DoAfterBind() {
    if (onAfterBind_) onAfterBind_();
  }
  void DoSocketAllocated() {
    if (onSocketAllocated_) onSocketAllocated_();
  }

  std::unique_ptr<SocketHandle> binding_;

 private:
  std::string boundIP_;
  uint16_t boundPort_ = 0;
  uint16_t boundPortMin_ = 0;
  uint16_t boundPortMax_ = 0;
  bool useNagle_ = true;
  bool reuseSocket_ = false;
  brevis::IPVersion ipVersion_ = IPVersion::ivIPv4;
  BindingEvent onBeforeBind_;
  BindingEvent onAfterBind_;
  BindingEvent onSocketAllocated_;
};

}  // namespace brevis
