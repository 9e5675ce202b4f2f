// Test support: a stand-in server (MirrorServer or HostileServer) on an ephemeral loopback port,
// serving on a thread of its own for as long as the object lives.
#pragma once

#include <memory>
#include <thread>
#include <utility>

namespace brevis::test {

// `Server` has Bind (returning the port), Run and Stop, and takes options with a `Port` field.
template <typename Server>
class ServingThread {
 public:
  template <typename Options>
  explicit ServingThread(Options options) {
    options.Port = 0;
    server_ = std::make_unique<Server>(std::move(options));
    port_ = server_->Bind();
    thread_ = std::thread([this] { server_->Run(); });
  }
  // Stops the server and waits for its thread.
  ~ServingThread() {
    server_->Stop();
    thread_.join();
  }
  ServingThread(const ServingThread&) = delete;
  ServingThread& operator=(const ServingThread&) = delete;

  int Port() const { return port_; }
  const Server& Get() const { return *server_; }

 private:
  std::unique_ptr<Server> server_;
  int port_ = 0;
  std::thread thread_;
};

}  // namespace brevis::test
