// The I/O handler over a socket binding, with the local-binding settings of a connection.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "http/net/io_handler.h"
#include "http/net/local_binding.h"
#include "http/net/socket_handle.h"

namespace brevis {

class IOHandlerSocket : public IOHandler {
 public:
  using BindingEvent = std::function<void()>;

  IOHandlerSocket();
  ~IOHandlerSocket() override;

  // The socket binding; null until the first Open, then kept for every later connect.
  SocketHandle* Binding() const { return binding_.get(); }

  // The local binding the next connect uses: address, port, port range, IP version, reuse.
  const LocalBinding& Local() const { return local_; }
  LocalBinding& Local() { return local_; }
  void SetLocal(const LocalBinding& local) { local_ = local; }
  bool UseNagle() const { return useNagle_; }
  void SetUseNagle(bool use) { useNagle_ = use; }

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
  LocalBinding local_;
  bool useNagle_ = true;
  BindingEvent onBeforeBind_;
  BindingEvent onAfterBind_;
  BindingEvent onSocketAllocated_;
};

}  // namespace brevis
