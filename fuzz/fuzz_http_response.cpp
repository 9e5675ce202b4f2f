// Fuzz target: the HTTP response path (status line, header block, interim answers, cookies,
// chunked, sized and until-close bodies) through a real loopback connection. A peer thread
// answers each fetch with the input and then ends the stream; the fetch must either fail with
// an exception or return a 2xx body within the client's limits.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "common/stream.h"
#include "common/text.h"
#include "fuzz/fuzz_input.h"
#include "http/http_client.h"

namespace {

using brevis::fuzz::Check;

// Plays one answer per accepted connection: reads the request head, sends the answer, ends
// the stream and reads until the client closes.
class Peer {
 public:
  Peer() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        listen(listener_, 4) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      brevis::fuzz::Fail("loopback listener");
    }
    port_ = ntohs(addr.sin_port);
    std::thread([this] { Run(); }).detach();
  }

  uint16_t Port() const { return port_; }

  // Makes `answer` the reply to the next connection.
  void Serve(std::string answer) {
    std::lock_guard lock(mutex_);
    answer_ = std::move(answer);
    done_ = false;
  }
  // Waits until that connection was played to its end.
  void WaitDone() {
    std::unique_lock lock(mutex_);
    done_signal_.wait_for(lock, std::chrono::seconds(5), [this] { return done_; });
  }

 private:
  static bool WaitReadable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 3000) == 1;
  }

  void Run() {
    for (;;) {
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      std::string head;
      char buf[4096];
      while (head.find("\r\n\r\n") == std::string::npos && WaitReadable(fd)) {
        const ssize_t n = recv(fd, buf, sizeof(buf), 0);
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
      }
      std::string answer;
      {
        std::lock_guard lock(mutex_);
        answer = answer_;
      }
      size_t sent = 0;
      while (sent < answer.size()) {
        const ssize_t n = send(fd, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
      shutdown(fd, SHUT_WR);
      while (WaitReadable(fd) && recv(fd, buf, sizeof(buf), 0) > 0) {
      }
      close(fd);
      std::lock_guard lock(mutex_);
      done_ = true;
      done_signal_.notify_all();
    }
  }

  int listener_ = -1;
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::condition_variable done_signal_;
  std::string answer_;
  bool done_ = true;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Peer* const peer = new Peer();
  peer->Serve(std::string(reinterpret_cast<const char*>(data), size));
  {
    brevis::HttpClient client;
    client.SetReadTimeout(3000);
    brevis::MemoryStream body;
    bool ok = false;
    try {
      client.Get(brevis::Utf8ToUtf16("http://127.0.0.1:" + std::to_string(peer->Port()) + "/p"),
                 body);
      ok = true;
    } catch (const std::exception&) {
      // Every failure of a fetch is an exception; what it says is the client's business.
    }
    if (ok) {
      const int code = client.ResponseCode();
      Check(code >= 200 && code <= 299, "only a 2xx answer succeeds");
      Check(body.Size() <= static_cast<int64_t>(size), "the body comes from the answer");
      Check(body.Size() <= brevis::HttpClient::kMaxBodySize, "the body is within the limit");
      Check(body.Position() == body.Size(), "the stream ends where the body ends");
      Check(client.Response().RawHeaders.Count() <= 255, "at most MaxHeaderLines header lines");
    }
    if (const auto* store = client.GetCookieManager()) {
      Check(const_cast<brevis::CookieManager*>(store)->CookieCollection().Count() <=
                brevis::Cookies::kMaxCookies,
            "the cookie store is bounded");
    }
  }
  peer->WaitDone();
  return 0;
}
