// PageServer: accepts on 127.0.0.1, reads one request head per connection, answers it with
// "Connection: close" and closes.
#include "download/tests/page_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace brevis::test {

namespace {

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    case 429:
      return "Too Many Requests";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

void SendAll(int fd, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

}  // namespace

PageServer::PageServer(Handler handler) : handler_(std::move(handler)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::pipe(stopPipe_) != 0) {
    throw std::runtime_error("PageServer: cannot listen on loopback");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

PageServer::~PageServer() {
  const char stop = 's';
  (void)!::write(stopPipe_[1], &stop, 1);
  acceptor_.join();
  // The acceptor has ended, so no connection thread is added any more.
  for (std::thread& connection : connections_) connection.join();
  ::close(listener_);
  ::close(stopPipe_[0]);
  ::close(stopPipe_[1]);
}

std::string PageServer::Base() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> PageServer::Requests() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

std::size_t PageServer::Count(const std::string& target) const {
  std::lock_guard<std::mutex> guard(lock_);
  return static_cast<std::size_t>(std::count(requests_.begin(), requests_.end(), target));
}

bool PageServer::WaitReadable(int fd) const {
  pollfd fds[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
  if (::poll(fds, 2, 10000) <= 0) return false;
  return (fds[1].revents & POLLIN) == 0;
}

void PageServer::AcceptLoop() {
  while (WaitReadable(listener_)) {
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) continue;
    connections_.emplace_back([this, fd] { Serve(fd); });
  }
}

void PageServer::Serve(int fd) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && WaitReadable(fd)) {
    const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
    if (n <= 0) break;
    head.append(buffer, static_cast<std::size_t>(n));
  }
  // "GET <target> HTTP/1.1"
  const std::size_t start = head.find(' ');
  const std::size_t end = start == std::string::npos ? start : head.find(' ', start + 1);
  if (end != std::string::npos) {
    const std::string target = head.substr(start + 1, end - start - 1);
    {
      std::lock_guard<std::mutex> guard(lock_);
      requests_.push_back(target);
    }
    const Reply reply = handler_(target);
    SendAll(fd, "HTTP/1.1 " + std::to_string(reply.status) + " " + ReasonPhrase(reply.status) +
                    "\r\n" + reply.headers +
                    "Content-Length: " + std::to_string(reply.body.size()) +
                    "\r\nConnection: close\r\n\r\n" + reply.body);
  }
  ::shutdown(fd, SHUT_WR);
  // Let the client read everything and close first, so that no reset cuts the answer short.
  while (WaitReadable(fd) && ::recv(fd, buffer, sizeof(buffer), 0) > 0) {
  }
  ::close(fd);
}

}  // namespace brevis::test
