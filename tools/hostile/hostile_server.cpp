// HostileServer: accept loop, request heads, the proper lookup answer and each misbehaviour.
#include "tools/hostile/hostile_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "cipher/rsa.h"
#include "common/ascii_text.h"
#include "protocol/service_protocol.h"
#include "stand_in/mirror_data.h"
#include "stand_in/page_generator.h"
#include "stand_in/service_answers.h"
#include "stand_in/serving.h"

namespace brevis {

namespace {

constexpr std::size_t kMaxHead = 16384;
constexpr int kHeadWaitMs = 10000;
constexpr std::size_t kBlock = 65536;

// The answer a mode starts from: status line, headers and body of a proper answer.
struct Answer {
  std::string type;
  std::string body;
  int status = 200;
};

std::string Head(int status, const std::string& type, const std::string& extra) {
  const char* reason = status == 200   ? "OK"
                       : status == 404 ? "Not Found"
                       : status == 429 ? "Too Many Requests"
                                       : "Bad Request";
  return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Type: " + type +
         "\r\n" + extra + "Connection: close\r\n\r\n";
}

}  // namespace

struct HostileServer::Impl {
  explicit Impl(HostileOptions o) : options(std::move(o)), rsa(kAppKeyN, kAppKeyE, kAppKeyD) {
    if (options.Pages < 1) throw std::invalid_argument("The page count must be at least 1.");
    if (options.TrickleMs < 1)
      throw std::invalid_argument("The trickle pause must be 1 ms or more.");
    if (options.RetryAfterS < 1)
      throw std::invalid_argument("The Retry-After must be 1 s or more.");
    if (!options.DataDir.empty()) data.emplace(options.DataDir);
    if (::pipe(stopPipe) != 0) throw std::runtime_error("pipe failed");
  }
  ~Impl() {
    if (listener >= 0) ::close(listener);
    ::close(stopPipe[0]);
    ::close(stopPipe[1]);
  }

  void Log(const std::string& line) {
    const std::lock_guard<std::mutex> guard(logLock);
    if (options.Log) {
      options.Log(line);
    } else {
      std::cerr << line << '\n' << std::flush;
    }
  }

  bool Stopping() const { return stopping.load(); }

  // kRetryAfter: the seconds left, rounded up, of the window that the first call opens; 0 once
  // it has passed.
  int RateLimitWait(std::chrono::steady_clock::time_point arrival) {
    const std::lock_guard<std::mutex> guard(limitLock);
    if (!limitedSince) limitedSince = arrival;
    const auto end = *limitedSince + std::chrono::seconds(options.RetryAfterS);
    if (arrival >= end) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::seconds>(end - arrival).count());
  }

  // Waits for `events` on `fd` in short slices, so that Stop is noticed; false on stop, error
  // or after `timeout_ms` (negative: no limit).
  bool WaitFor(int fd, short events, int timeout_ms) const {
    const auto start = std::chrono::steady_clock::now();
    while (!Stopping()) {
      pollfd fds[2] = {{fd, events, 0}, {stopPipe[0], POLLIN, 0}};
      const int n = ::poll(fds, 2, 100);
      if (n < 0 && errno != EINTR) return false;
      if (n > 0 && fds[1].revents != 0) return false;
      if (n > 0 && fds[0].revents != 0) return (fds[0].revents & events) != 0;
      if (timeout_ms >= 0 &&
          std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(timeout_ms)) {
        return false;
      }
    }
    return false;
  }

  // Sends every byte; false once the peer is gone or the server stops.
  bool SendAll(int fd, std::string_view bytes) const {
    while (!bytes.empty()) {
      if (!WaitFor(fd, POLLOUT, -1)) return false;
      const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  // Sleeps, or returns false at once when the server stops.
  bool Pause(int ms) const {
    pollfd fd{stopPipe[0], POLLIN, 0};
    return ::poll(&fd, 1, ms) == 0;
  }

  // The request head, or nothing when the peer sends none in time.
  std::optional<std::string> ReadHead(int fd) const {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
      if (head.size() > kMaxHead || !WaitFor(fd, POLLIN, kHeadWaitMs)) return std::nullopt;
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return std::nullopt;
      head.append(buffer, static_cast<std::size_t>(n));
    }
    return head;
  }

  // "host:port" of the connection's local end, for addresses that point back here.
  static std::string LocalAddress(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
      const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
      ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
      std::string host = "[";
      host += text;
      return host + "]:" + std::to_string(ntohs(v6->sin6_port));
    }
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(v4->sin_port));
  }

  int PageCount(const std::string& number) const {
    if (!data) return options.Pages;
    const std::optional<PatentEntry> patent = data->Find(number);
    return patent ? patent->Pages : 0;
  }

  // The page file's bytes, or nothing for a page the number does not have.
  std::optional<std::string> PageBytes(const std::string& number, int page) {
    if (data) {
      const std::optional<std::string> path = data->PagePath(number, page);
      if (!path) return std::nullopt;
      std::ifstream file(*path, std::ios::binary);
      std::ostringstream bytes;
      bytes << file.rdbuf();
      return bytes.str();
    }
    if (page < 1 || page > options.Pages) return std::nullopt;
    const std::lock_guard<std::mutex> guard(pageLock);
    const auto key = std::make_pair(number, page);
    auto found = pageCache.find(key);
    if (found == pageCache.end()) {
      found = pageCache.emplace(key, PageGenerator(number, options.Pages).Tiff(page)).first;
    }
    return found->second;
  }

  // What a proper server answers to `target`, and the mode to send it in.
  std::pair<Answer, HostileMode> Route(const std::string& target, int fd) {
    const Answer bad{"text/plain", "Bad request\n", 400};
    const std::string mirrorPrefix = protocol::MirrorTarget<char>({});
    if (target.rfind(mirrorPrefix, 0) == 0) {
      const std::string cipher = target.substr(mirrorPrefix.size());
      if (!IsNumberCipher(cipher)) return {bad, HostileMode::kGood};
      const std::string number = DecipherText(rsa, cipher);
      const int pages = ascii::IsDigits(number) ? PageCount(number) : 0;
      if (pages < 1) return {{"text/plain", ""}, options.LookupMode};
      return {{"text/plain", MirrorAnswerCipher(rsa, pages, LocalAddress(fd), number)},
              options.LookupMode};
    }
    if (target.rfind(protocol::kUpdateScript, 0) == 0) {
      return {{"text/plain", ""}, HostileMode::kGood};
    }
    // /pages/<number>/<six digits>.tif
    if (target.rfind(protocol::kPagesPrefix, 0) == 0) {
      const std::string rest = target.substr(protocol::kPagesPrefix.size());
      const std::size_t slash = rest.find('/');
      if (slash != std::string::npos && rest.size() == slash + 11 &&
          rest.compare(slash + 7, 4, ".tif") == 0) {
        const std::string number = rest.substr(0, slash);
        const std::string digits = rest.substr(slash + 1, 6);
        if (ascii::IsDigits(number) && number.size() <= 16 && ascii::IsDigits(digits)) {
          if (auto bytes = PageBytes(number, std::stoi(digits))) {
            return {{"image/tiff", std::move(*bytes)}, options.PageMode};
          }
        }
      }
    }
    return {{"text/plain", "Not found\n", 404}, HostileMode::kGood};
  }

  // Sends `answer` the way `mode` says, until done, the peer is gone or the server stops.
  void Send(int fd, const Answer& answer, HostileMode mode) {
    const std::string length = "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
    switch (mode) {
      case HostileMode::kGood:
      case HostileMode::kRetryAfter:  // once its window has passed
        SendAll(fd, Head(answer.status, answer.type, length) + answer.body);
        return;
      case HostileMode::kGarbageStatus:
        SendAll(fd, std::string("\0\x01\x7F\x1B[2J\xFF garbage\0\r\n\r\n", 20));
        return;
      case HostileMode::kEndlessHeaders: {
        if (!SendAll(fd, "HTTP/1.1 200 OK\r\n")) return;
        for (long i = 0;
             SendAll(fd, "X-Filler-" + std::to_string(i) + ": " + std::string(64, 'h') + "\r\n");
             ++i) {
        }
        return;
      }
      case HostileMode::kEndlessChunks: {
        if (!SendAll(fd, Head(200, answer.type, "Transfer-Encoding: chunked\r\n"))) return;
        const std::string chunk = "10000\r\n" + std::string(kBlock, 'c') + "\r\n";
        while (SendAll(fd, chunk)) {
        }
        return;
      }
      case HostileMode::kEndlessBody: {
        if (!SendAll(fd, Head(200, answer.type, ""))) return;
        const std::string block(kBlock, 'b');
        while (SendAll(fd, block)) {
        }
        return;
      }
      case HostileMode::kEndlessContinue:
        while (SendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n")) {
        }
        return;
      case HostileMode::kCutShort:
        SendAll(fd, Head(answer.status, answer.type, length) +
                        answer.body.substr(0, answer.body.size() / 2));
        return;
      case HostileMode::kTrickle: {
        const std::string all = Head(answer.status, answer.type, length) + answer.body;
        for (const char c : all) {
          if (!SendAll(fd, std::string_view(&c, 1)) || !Pause(options.TrickleMs)) return;
        }
        return;
      }
      case HostileMode::kSilent: {
        // Until the client gives up (its close makes the socket readable) or the server stops.
        char sink[4096];
        while (WaitFor(fd, POLLIN, -1) && ::recv(fd, sink, sizeof sink, 0) > 0) {
        }
        return;
      }
      case HostileMode::kNotTiff: {
        const std::string html = "<html><body><h1>Service unavailable</h1></body></html>\n";
        SendAll(fd,
                Head(200, "text/html", "Content-Length: " + std::to_string(html.size()) + "\r\n") +
                    html);
        return;
      }
    }
  }

  void Serve(int fd) {
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    if (const std::optional<std::string> head = ReadHead(fd)) {
      const auto arrival = std::chrono::steady_clock::now();
      const std::string line = head->substr(0, head->find("\r\n"));
      const std::size_t first = line.find(' ');
      const std::size_t second = line.find(' ', first == std::string::npos ? 0 : first + 1);
      std::string target;
      if (first != std::string::npos && second != std::string::npos) {
        target = line.substr(first + 1, second - first - 1);
      }
      auto [answer, mode] = Route(target, fd);
      const int wait = mode == HostileMode::kRetryAfter ? RateLimitWait(arrival) : 0;
      std::string entry = "\"";
      entry += LogSafe(line);
      entry += "\" " + std::to_string(wait > 0 ? 429 : answer.status) + " mode=";
      entry += ModeName(mode);
      entry +=
          " at=" +
          std::to_string(
              std::chrono::duration_cast<std::chrono::milliseconds>(arrival - started).count());
      if (wait > 0) entry += " retry-after=" + std::to_string(wait);
      Log(entry);
      if (wait > 0) {
        const std::string body = "Too many requests\n";
        SendAll(fd, Head(429, "text/plain",
                         "Retry-After: " + std::to_string(wait) +
                             "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n") +
                        body);
      } else {
        Send(fd, answer, mode);
      }
    }
    // Forgotten before it is closed, so that Run never shuts down a number reused by accept.
    {
      const std::lock_guard<std::mutex> guard(connectionLock);
      open.erase(fd);
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
    // Its last step: Run may join this thread from now on.
    const std::lock_guard<std::mutex> guard(connectionLock);
    finished.push_back(std::this_thread::get_id());
  }

  // With connectionLock held: joins the connection threads that have ended, so that a long run
  // does not keep one ended thread per request.
  void ReapLocked() {
    for (const std::thread::id id : finished) {
      const auto thread = std::find_if(threads.begin(), threads.end(),
                                       [id](const std::thread& t) { return t.get_id() == id; });
      if (thread == threads.end()) continue;
      thread->join();
      threads.erase(thread);
    }
    finished.clear();
  }

  HostileOptions options;
  RSA rsa;
  std::optional<MirrorData> data;
  int listener = -1;
  int stopPipe[2] = {-1, -1};
  std::atomic<bool> stopping{false};
  const std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  std::mutex limitLock;  // guards limitedSince
  std::optional<std::chrono::steady_clock::time_point> limitedSince;
  std::mutex logLock;
  std::mutex pageLock;  // guards pageCache
  std::map<std::pair<std::string, int>, std::string> pageCache;
  std::mutex connectionLock;  // guards open, threads and finished
  std::set<int> open;
  std::list<std::thread> threads;
  std::vector<std::thread::id> finished;  // threads whose Serve has returned
};

HostileServer::HostileServer(HostileOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

HostileServer::~HostileServer() { Stop(); }

int HostileServer::Bind() {
  const HostileOptions& o = impl_->options;
  const std::string where = o.Bind + ":" + std::to_string(o.Port);
  if (o.Port < 0 || o.Port > 65535) throw std::runtime_error("cannot listen on " + where);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(o.Port));
  if (::inet_pton(AF_INET, o.Bind.c_str(), &address.sin_addr) != 1) {
    throw std::runtime_error("cannot listen on " + where + ": not an IPv4 address");
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 64) != 0) {
    const int error = errno;
    ::close(fd);
    throw std::runtime_error("cannot listen on " + where + ": " + std::strerror(error));
  }
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  impl_->listener = fd;
  return ntohs(address.sin_port);
}

void HostileServer::Run() {
  if (impl_->listener < 0) throw std::logic_error("HostileServer::Run before Bind.");
  while (impl_->WaitFor(impl_->listener, POLLIN, -1)) {
    const int fd = ::accept4(impl_->listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const std::lock_guard<std::mutex> guard(impl_->connectionLock);
    impl_->ReapLocked();
    impl_->open.insert(fd);
    impl_->threads.emplace_back([this, fd] { impl_->Serve(fd); });
  }
  // Stopping: wake every connection still sending or waiting, then wait for their threads.
  std::list<std::thread> threads;
  {
    const std::lock_guard<std::mutex> guard(impl_->connectionLock);
    for (const int fd : impl_->open) ::shutdown(fd, SHUT_RDWR);
    threads = std::move(impl_->threads);
  }
  for (std::thread& thread : threads) thread.join();
}

void HostileServer::Stop() {
  if (impl_->stopping.exchange(true)) return;
  const char byte = 0;
  // The pipe wakes every wait at once; a full pipe would mean it is awake already.
  [[maybe_unused]] const ssize_t n = ::write(impl_->stopPipe[1], &byte, 1);
}

}  // namespace brevis
