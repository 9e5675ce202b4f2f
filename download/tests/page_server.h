// PageServer: a loopback HTTP/1.1 server for tests that answers every GET through a handler,
// one thread per connection, and records the request targets it saw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace brevis::test {

struct Reply {
  // Not an aggregate, so that {status, body} leaves the headers out without a warning.
  Reply(int status_code = 200, std::string body_bytes = {}, std::string header_lines = {})
      : status(status_code), body(std::move(body_bytes)), headers(std::move(header_lines)) {}

  int status;
  std::string body;
  // Further header lines, each ending in "\r\n".
  std::string headers;
};

class PageServer {
 public:
  // Called with the request target (path and query) on the connection's thread; several calls
  // may run at once.
  using Handler = std::function<Reply(const std::string& target)>;

  explicit PageServer(Handler handler);
  // Stops accepting, wakes every connection and waits for their threads.
  ~PageServer();
  PageServer(const PageServer&) = delete;
  PageServer& operator=(const PageServer&) = delete;

  uint16_t Port() const { return port_; }
  // "http://127.0.0.1:<port>"
  std::string Base() const;
  // Targets of all requests so far, in the order they arrived.
  std::vector<std::string> Requests() const;
  // How often `target` was requested.
  std::size_t Count(const std::string& target) const;

 private:
  void AcceptLoop();
  void Serve(int fd);
  // Waits until `fd` is readable; false when the server stops or 10 s pass.
  bool WaitReadable(int fd) const;

  Handler handler_;
  int listener_ = -1;
  int stopPipe_[2] = {-1, -1};
  uint16_t port_ = 0;
  mutable std::mutex lock_;
  std::vector<std::string> requests_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

}  // namespace brevis::test
