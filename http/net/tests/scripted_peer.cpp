// Loopback test peers.
#include "http/net/tests/scripted_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace brevis::test {
namespace {

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A socket bound to 127.0.0.1 at a port the system chooses; returns its port in `port`.
int BoundSocket(uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("test peer: socket failed");
  sockaddr_in address = Loopback(0);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    throw std::runtime_error("test peer: bind failed");
  }
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

PeerStep PeerStep::Send(std::string bytes, std::size_t chunk, int gap_ms) {
  PeerStep step;
  step.kind = Kind::kSend;
  step.bytes = std::move(bytes);
  step.chunk = chunk;
  step.ms = gap_ms;
  return step;
}

PeerStep PeerStep::SendByteByByte(std::string bytes, int gap_ms) {
  return Send(std::move(bytes), 1, gap_ms);
}

PeerStep PeerStep::ExpectBytes(std::size_t count) {
  PeerStep step;
  step.kind = Kind::kExpectBytes;
  step.count = count;
  return step;
}

PeerStep PeerStep::ExpectUntil(std::string marker) {
  PeerStep step;
  step.kind = Kind::kExpectUntil;
  step.bytes = std::move(marker);
  return step;
}

PeerStep PeerStep::Delay(int ms) {
  PeerStep step;
  step.kind = Kind::kDelay;
  step.ms = ms;
  return step;
}

PeerStep PeerStep::Close() {
  PeerStep step;
  step.kind = Kind::kClose;
  return step;
}

PeerStep PeerStep::Reset() {
  PeerStep step;
  step.kind = Kind::kReset;
  return step;
}

PeerStep PeerStep::WaitForClose() {
  PeerStep step;
  step.kind = Kind::kWaitForClose;
  return step;
}

// ScriptedPeer

ScriptedPeer::ScriptedPeer(PeerScript script, int step_timeout_ms)
    : ScriptedPeer(std::vector<PeerScript>{std::move(script)}, step_timeout_ms) {}

ScriptedPeer::ScriptedPeer(std::vector<PeerScript> scripts, int step_timeout_ms)
    : scripts_(std::move(scripts)), stepTimeoutMs_(step_timeout_ms) {
  if (::pipe2(stopPipe_, O_CLOEXEC) != 0) throw std::runtime_error("test peer: pipe failed");
  listener_ = BoundSocket(port_);
  if (::listen(listener_, 8) != 0) throw std::runtime_error("test peer: listen failed");
  thread_ = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer() {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(stopPipe_[1], &byte, 1);
  thread_.join();
  ::close(listener_);
  ::close(stopPipe_[0]);
  ::close(stopPipe_[1]);
}

bool ScriptedPeer::WaitDone(int timeout_ms) {
  std::unique_lock<std::mutex> guard(lock_);
  return doneSignal_.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                              [this] { return done_; });
}

std::string ScriptedPeer::Received(std::size_t index) const {
  std::lock_guard<std::mutex> guard(lock_);
  return index < received_.size() ? received_[index] : std::string();
}

std::size_t ScriptedPeer::Connections() const {
  std::lock_guard<std::mutex> guard(lock_);
  return received_.size();
}

std::string ScriptedPeer::Error() const {
  std::lock_guard<std::mutex> guard(lock_);
  return error_;
}

void ScriptedPeer::Fail(const std::string& message) {
  std::lock_guard<std::mutex> guard(lock_);
  if (error_.empty()) error_ = message;
}

bool ScriptedPeer::WaitReadable(int fd, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left < 0) return false;
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    const int rc = ::poll(fds, 2, static_cast<int>(left));
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return false;
    if (fds[1].revents != 0) return false;
    return true;
  }
}

bool ScriptedPeer::Sleep(int ms) {
  pollfd fd = {stopPipe_[0], POLLIN, 0};
  return ::poll(&fd, 1, ms) == 0;
}

bool ScriptedPeer::ReceiveSome(int fd, std::size_t index) {
  char buffer[65536];
  const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
  if (n <= 0) return false;
  std::lock_guard<std::mutex> guard(lock_);
  received_[index].append(buffer, static_cast<std::size_t>(n));
  return true;
}

void ScriptedPeer::Run() {
  for (std::size_t index = 0; index < scripts_.size(); ++index) {
    if (!WaitReadable(listener_, stepTimeoutMs_)) {
      Fail("connection " + std::to_string(index) + " was not made");
      break;
    }
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      Fail("accept failed");
      break;
    }
    {
      std::lock_guard<std::mutex> guard(lock_);
      received_.emplace_back();
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const bool played = PlayScript(fd, index);
    if (fd >= 0) ::close(fd);
    if (!played) break;
  }
  std::lock_guard<std::mutex> guard(lock_);
  done_ = true;
  doneSignal_.notify_all();
}

bool ScriptedPeer::PlayScript(int fd, std::size_t index) {
  const std::string where = "connection " + std::to_string(index) + ", step ";
  std::size_t consumed = 0;
  PeerScript script = scripts_[index];
  if (script.empty() || (script.back().kind != PeerStep::Kind::kClose &&
                         script.back().kind != PeerStep::Kind::kReset)) {
    script.push_back(PeerStep::Close());
  }
  for (std::size_t s = 0; s < script.size(); ++s) {
    const PeerStep& step = script[s];
    const std::string here = where + std::to_string(s);
    switch (step.kind) {
      case PeerStep::Kind::kSend: {
        const std::size_t chunk = step.chunk == 0 ? step.bytes.size() : step.chunk;
        for (std::size_t pos = 0; pos < step.bytes.size(); pos += chunk) {
          if (pos > 0 && step.ms > 0 && !Sleep(step.ms)) return false;
          const std::string piece = step.bytes.substr(pos, chunk);
          std::size_t sent = 0;
          while (sent < piece.size()) {
            const ssize_t n = ::send(fd, piece.data() + sent, piece.size() - sent, kSendFlags);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
              Fail(here + ": send failed");
              return false;
            }
            sent += static_cast<std::size_t>(n);
          }
        }
        break;
      }
      case PeerStep::Kind::kExpectBytes:
      case PeerStep::Kind::kExpectUntil: {
        for (;;) {
          const std::string got = Received(index);
          if (step.kind == PeerStep::Kind::kExpectBytes) {
            if (got.size() >= consumed + step.count) {
              consumed += step.count;
              break;
            }
          } else {
            const std::size_t at = got.find(step.bytes, consumed);
            if (at != std::string::npos) {
              consumed = at + step.bytes.size();
              break;
            }
          }
          if (!WaitReadable(fd, stepTimeoutMs_) || !ReceiveSome(fd, index)) {
            Fail(here + ": expected bytes did not arrive");
            return false;
          }
        }
        break;
      }
      case PeerStep::Kind::kDelay:
        if (!Sleep(step.ms)) return false;
        break;
      case PeerStep::Kind::kWaitForClose:
        while (WaitReadable(fd, stepTimeoutMs_)) {
          if (!ReceiveSome(fd, index)) return true;
        }
        Fail(here + ": the client did not close");
        return false;
      case PeerStep::Kind::kClose:
        // A close with unread bytes would reset the connection; end the stream and read on
        // until the client closes, so that it always sees a graceful end.
        ::shutdown(fd, SHUT_WR);
        while (WaitReadable(fd, stepTimeoutMs_)) {
          if (!ReceiveSome(fd, index)) return true;
        }
        return true;
      case PeerStep::Kind::kReset: {
        const linger abort = {1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        return true;
      }
    }
  }
  return true;
}

// StalledListener

StalledListener::StalledListener() {
  listener_ = BoundSocket(port_);
  if (::listen(listener_, 0) != 0) throw std::runtime_error("stalled listener: listen failed");
  const sockaddr_in address = Loopback(port_);
  for (int i = 0; i < 16 && !stalled_; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) break;
    fillers_.push_back(fd);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) continue;
    if (errno != EINPROGRESS) break;
    pollfd p = {fd, POLLOUT, 0};
    if (::poll(&p, 1, 300) == 0) stalled_ = true;
  }
}

StalledListener::~StalledListener() {
  for (int fd : fillers_) ::close(fd);
  ::close(listener_);
}

// RefusingPort

RefusingPort::RefusingPort() { fd_ = BoundSocket(port_); }

RefusingPort::~RefusingPort() { ::close(fd_); }

}  // namespace brevis::test
