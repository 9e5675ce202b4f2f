// MirrorServer: routes, answers and injected faults of brevisfetch-mirror. cpp-httplib parses
// the requests; connections are driven here so that a fault can drop one without any answer.
#include "tools/mirror/mirror_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "app/core/service_protocol.h"
#include "cipher/rsa.h"
#include "stand_in/mirror_data.h"
#include "stand_in/service_answers.h"
#include "stand_in/serving.h"
#include "tools/mirror/fault_plan.h"

namespace brevis {

namespace {

constexpr char kHtml[] = "text/html; charset=utf-8";
constexpr char kText[] = "text/plain; charset=utf-8";

// What the serving thread knows about the request it is answering.
struct RequestState {
  bool routed = false;  // reached the routing stage (so it gets a log line)
  bool logged = false;
  Fault fault = Fault::kNone;
  std::size_t providedBytes = 0;  // body length of a streamed answer
};

// A connection's socket as cpp-httplib's stream, with reads buffered and a switch that makes
// every further write fail after closing the connection.
class ConnectionStream final : public httplib::Stream {
 public:
  ConnectionStream(int sock, int readTimeoutMs, int writeTimeoutMs)
      : sock_(sock), readTimeoutMs_(readTimeoutMs), writeTimeoutMs_(writeTimeoutMs) {}

  bool is_readable() const override { return start_ < end_ || Wait(POLLIN, readTimeoutMs_); }
  bool is_writable() const override { return !dropped_ && Wait(POLLOUT, writeTimeoutMs_); }

  ssize_t read(char* ptr, size_t size) override {
    if (start_ == end_) {
      if (!Wait(POLLIN, readTimeoutMs_)) return -1;
      const ssize_t n = ::recv(sock_, buffer_, sizeof buffer_, 0);
      if (n <= 0) return n;
      start_ = 0;
      end_ = static_cast<std::size_t>(n);
    }
    const std::size_t count = std::min(size, end_ - start_);
    std::memcpy(ptr, buffer_ + start_, count);
    start_ += count;
    return static_cast<ssize_t>(count);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (dropped_) return -1;
    if (!Wait(POLLOUT, writeTimeoutMs_)) return -1;
    return ::send(sock_, ptr, size, MSG_NOSIGNAL);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    Address(::getpeername, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    Address(::getsockname, ip, port);
  }
  socket_t socket() const override { return sock_; }

  bool HasBufferedInput() const { return start_ < end_; }
  // Closes the connection at once; the answer under way is never sent.
  void Drop() {
    dropped_ = true;
    ::shutdown(sock_, SHUT_RDWR);
  }

 private:
  bool Wait(short events, int timeoutMs) const {
    pollfd fd{sock_, events, 0};
    int n;
    do {
      n = ::poll(&fd, 1, timeoutMs);
    } while (n < 0 && errno == EINTR);
    return n > 0 && (fd.revents & (events | POLLHUP)) != 0;
  }

  template <typename Fn>
  void Address(Fn fn, std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ip.clear();
    port = -1;
    if (fn(sock_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return;
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
      const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
      ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
      port = ntohs(v4->sin_port);
    } else if (address.ss_family == AF_INET6) {
      const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
      ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
      port = ntohs(v6->sin6_port);
    }
    ip = text;
  }

  int sock_;
  int readTimeoutMs_;
  int writeTimeoutMs_;
  char buffer_[4096];
  std::size_t start_ = 0;
  std::size_t end_ = 0;
  bool dropped_ = false;
};

thread_local ConnectionStream* tlsStream = nullptr;
thread_local RequestState* tlsRequest = nullptr;

std::string FormatLogLine(const httplib::Request& req, int status, std::size_t bytes, Fault fault) {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  // A request that could not be parsed has no addresses yet; the connection knows them.
  std::string peer = req.remote_addr;
  int port = req.remote_port;
  if (peer.empty() && tlsStream != nullptr) tlsStream->get_remote_ip_and_port(peer, port);
  std::ostringstream line;
  line << stamp << ' ' << (peer.empty() ? "-" : peer) << ':' << port << " \"" << LogSafe(req.method)
       << ' ' << LogSafe(req.target) << ' ' << LogSafe(req.version) << "\" ";
  if (fault == Fault::kDrop) {
    line << "- -";
  } else {
    line << status << ' ' << bytes;
  }
  if (fault != Fault::kNone) line << " fault=" << FaultName(fault);
  return line.str();
}

// The host and port the request came to, for the addresses in the answers: the Host header when
// it is a plain host name or address, the local socket address for a request without one.
// Empty for a Host header with other characters.
std::string RequestHost(const httplib::Request& req) {
  if (req.has_header("Host")) {
    const std::string host = req.get_header_value("Host");
    if (host.empty() || host.size() > 255 ||
        host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "0123456789.-:[]") != std::string::npos) {
      return {};
    }
    return host;
  }
  const bool v6 = req.local_addr.find(':') != std::string::npos;
  return (v6 ? "[" + req.local_addr + "]" : req.local_addr) + ":" + std::to_string(req.local_port);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("Cannot read " + path + ".");
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

void BadRequest(httplib::Response& res, const std::string& why) {
  res.status = 400;
  res.set_content("Bad request: " + why + "\n", kText);
}

std::string Page(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
         title + "</title>\n</head>\n<body>\n" + body + "</body>\n</html>\n";
}

// cpp-httplib's server with every connection driven by this file: the requests are parsed and
// routed by cpp-httplib, on a stream that a fault can cut off.
class HttpServer final : public httplib::Server {
 public:
  using LogFn = std::function<void(const std::string&)>;
  explicit HttpServer(LogFn log) : log_(std::move(log)) {}

 private:
  bool process_and_close_socket(socket_t sock) override {
    ConnectionStream stream(sock, TimeoutMs(read_timeout_sec_, read_timeout_usec_),
                            TimeoutMs(write_timeout_sec_, write_timeout_usec_));
    bool ok = false;
    for (std::size_t left = keep_alive_max_count_; left > 0; --left) {
      if (!WaitForRequest(stream)) break;
      RequestState state;
      tlsStream = &stream;
      tlsRequest = &state;
      bool closed = false;
      ok = process_request(stream, left == 1, closed, nullptr);
      tlsStream = nullptr;
      tlsRequest = nullptr;
      // A request that never reached the routes could not be parsed: after its 400 the rest of
      // the connection cannot be trusted either.
      if (!ok || closed || !state.routed || state.fault == Fault::kDrop ||
          state.fault == Fault::kCutShort) {
        break;
      }
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
  }

  static int TimeoutMs(time_t sec, time_t usec) {
    return static_cast<int>(sec * 1000 + usec / 1000);
  }

  // Waits for the next request on a kept connection, giving up after the keep-alive time-out
  // or when the server stops.
  bool WaitForRequest(const ConnectionStream& stream) const {
    if (stream.HasBufferedInput()) return true;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
    while (svr_sock_ != INVALID_SOCKET && std::chrono::steady_clock::now() < deadline) {
      pollfd fd{stream.socket(), POLLIN, 0};
      const int n = ::poll(&fd, 1, 50);
      if (n > 0) return true;
      if (n < 0 && errno != EINTR) return false;
    }
    return false;
  }

  LogFn log_;
};

}  // namespace

struct MirrorServer::Impl {
  explicit Impl(MirrorOptions o)
      : options(std::move(o)),
        data(options.DataDir),
        faults(options.FailRate, options.Seed ? *options.Seed : std::random_device{}()),
        rsa(kAppKeyN, kAppKeyE, kAppKeyD),
        server([this](const std::string& line) { Log(line); }) {
    if (options.DelayMs < 0) throw std::invalid_argument("The delay must not be negative.");
    Install();
  }

  void Log(const std::string& line) {
    const std::lock_guard<std::mutex> guard(logLock);
    if (options.Log) {
      options.Log(line);
    } else {
      std::cerr << line << '\n' << std::flush;
    }
  }

  void Install();
  void Mirror(const httplib::Request& req, httplib::Response& res);
  void Search(const httplib::Request& req, httplib::Response& res);
  void PageFile(const httplib::Request& req, httplib::Response& res);
  void Update(const httplib::Request& req, httplib::Response& res);
  void Home(const httplib::Request& req, httplib::Response& res);
  void Product(const httplib::Request& req, httplib::Response& res);

  MirrorOptions options;
  MirrorData data;
  FaultPlan faults;
  RSA rsa;
  HttpServer server;
  std::mutex logLock;
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> runEntered{false};
  std::atomic<bool> runEnded{false};
  bool bound = false;
};

void MirrorServer::Impl::Install() {
  server.set_socket_options([](socket_t sock) {
    // Reuse a port in TIME_WAIT, but never share it with a server that still listens.
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server.set_tcp_nodelay(true);
  server.set_keep_alive_max_count(100);
  server.set_payload_max_length(64 * 1024);
  server.new_task_queue = [] { return new httplib::ThreadPool(32); };

  server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (tlsRequest != nullptr) tlsRequest->routed = true;
    if (options.DelayMs > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(options.DelayMs));
    // No answer ever names a file outside the data folder, but say so plainly.
    std::istringstream segments(req.path);
    for (std::string segment; std::getline(segments, segment, '/');) {
      if (segment == "..") {
        BadRequest(res, "'..' in the path");
        return httplib::Server::HandlerResponse::Handled;
      }
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
    const RequestState* state = tlsRequest;
    if (state != nullptr && state->logged) return;
    const std::size_t bytes =
        state != nullptr && state->providedBytes > 0 ? state->providedBytes : res.body.size();
    Log(FormatLogLine(req, res.status, bytes, state != nullptr ? state->fault : Fault::kNone));
    if (tlsRequest != nullptr) tlsRequest->logged = true;
  });
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty()) {
      const std::string status = std::to_string(res.status);
      res.set_content(Page(status, "<h1>" + status + "</h1>\n"), kHtml);
    }
  });
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
        res.status = 500;
        std::string what = "unknown error";
        try {
          std::rethrow_exception(error);
        } catch (const std::exception& e) {
          what = e.what();
        } catch (...) {
        }
        res.set_content("Server error: " + what + "\n", kText);
      });

  server.Get(std::string(protocol::kMirrorScript),
             [this](const httplib::Request& req, httplib::Response& res) { Mirror(req, res); });
  server.Get(std::string(protocol::kSearchScript),
             [this](const httplib::Request& req, httplib::Response& res) { Search(req, res); });
  server.Get(std::string(protocol::kPagesPrefix) + R"((\d{1,16})/(\d{6,9})\.tif)",
             [this](const httplib::Request& req, httplib::Response& res) { PageFile(req, res); });
  server.Get(std::string(protocol::kUpdateScript),
             [this](const httplib::Request& req, httplib::Response& res) { Update(req, res); });
  server.Get(std::string(protocol::kProductPage),
             [this](const httplib::Request& req, httplib::Response& res) { Product(req, res); });
  server.Get("/", [this](const httplib::Request& req, httplib::Response& res) { Home(req, res); });
}

// The mirror service: the number arrives enciphered; the answer is the enciphered
// "<pages>\t<base address>", or empty when the mirror does not hold the patent.
void MirrorServer::Impl::Mirror(const httplib::Request& req, httplib::Response& res) {
  const std::string param(protocol::kMirrorParam);
  if (req.get_param_value_count(param) != 1) return BadRequest(res, "one parameter s expected");
  const std::string cipher = req.get_param_value(param);
  if (!IsNumberCipher(cipher)) return BadRequest(res, "s must be groups of four decimal digits");
  const std::string number = DecipherText(rsa, cipher);
  if (!MirrorData::IsNumber(number)) {
    return BadRequest(res, "s does not decipher to an application number");
  }
  const std::optional<PatentEntry> patent = data.Find(number);
  if (!patent || !patent->Mirror || patent->Pages < 1) {
    res.set_content("", kText);
    return;
  }
  const std::string host = RequestHost(req);
  if (host.empty()) return BadRequest(res, "bad Host header");
  res.set_content(MirrorAnswerCipher(rsa, patent->Pages, host, number), kText);
}

// The patent office's search page. For a patent the office holds it carries the fragment
// 'fm','<pages>','<base address>/000001.tif' (invention patents) or 'xx',... (utility models).
void MirrorServer::Impl::Search(const httplib::Request& req, httplib::Response& res) {
  const std::string recidParam(protocol::kSearchNumberParam);
  const std::string kindParam(protocol::kSearchKindParam);
  if (req.get_param_value_count(recidParam) != 1 || req.get_param_value_count(kindParam) != 1) {
    return BadRequest(res, "recid and leixin expected");
  }
  const std::string recid = req.get_param_value(recidParam);
  const std::string kind = req.get_param_value(kindParam);
  const std::size_t prefix = protocol::kNumberPrefix.size();
  if (recid.size() <= prefix || recid.compare(0, prefix, protocol::kNumberPrefix) != 0 ||
      !MirrorData::IsNumber(recid.substr(prefix))) {
    return BadRequest(res, "recid must be CN and the application number");
  }
  if (kind.empty() || kind.size() > 8 ||
      kind.find_first_not_of("abcdefghijklmnopqrstuvwxyz") != std::string::npos) {
    return BadRequest(res, "leixin must be a kind code");
  }
  const std::string number = recid.substr(prefix);
  const std::string host = RequestHost(req);
  if (host.empty()) return BadRequest(res, "bad Host header");

  std::string body = "<h1>中国专利检索</h1>\n<p>申请号：CN" + number + "</p>\n";
  const std::optional<PatentEntry> patent = data.Find(number);
  if (patent && patent->Office && patent->Pages > 0) {
    const std::string pages = std::to_string(patent->Pages);
    const std::string base = PageBaseAddress(host, number);
    const bool invention = patent->Kind == protocol::kInventionKind;
    body += "<p>" + std::string(invention ? "发明专利申请公开说明书" : "实用新型专利说明书") +
            "，共 " + pages + " 页</p>\n<script type=\"text/javascript\">\nshowTif(" +
            protocol::SearchFragment(patent->Kind, pages, base) + ");\n</script>\n<p><a href=\"" +
            base + "/" + std::string(protocol::kFirstPageFile) + "\">查看全文</a></p>\n";
  } else {
    body += "<p>没有检索到该申请号的全文图像。</p>\n";
  }
  res.set_content(Page("专利检索 - CN" + number, body), kHtml);
}

// A page image; some of them fail on purpose under --fail-rate.
void MirrorServer::Impl::PageFile(const httplib::Request& req, httplib::Response& res) {
  const std::string number = req.matches[1].str();
  const std::string name = req.matches[2].str() + ".tif";
  const int page = std::stoi(req.matches[2].str());
  const Fault fault = faults.Next(req.path);
  if (tlsRequest != nullptr) tlsRequest->fault = fault;
  switch (fault) {
    case Fault::kNone:
      break;
    case Fault::kServerError:
      res.status = 500;
      res.set_content("Server error (injected)\n", kText);
      return;
    case Fault::kDrop:
      if (tlsStream != nullptr) {
        // No answer reaches the client; log the request here, as nothing else will.
        tlsStream->Drop();
        Log(FormatLogLine(req, 0, 0, fault));
        tlsRequest->logged = true;
        return;
      }
      break;
    case Fault::kCutShort:
      break;
  }
  const std::optional<std::string> path = data.PagePath(number, page);
  if (!path || MirrorData::PageFileName(page) != name) {
    res.status = 404;
    return;
  }
  auto bytes = std::make_shared<std::string>(ReadWholeFile(*path));
  if (fault != Fault::kCutShort) {
    res.set_content(*bytes, "image/tiff");
    return;
  }
  // Announce the whole length, send half of it, then close.
  const std::size_t cut = bytes->size() / 2;
  if (tlsRequest != nullptr) tlsRequest->providedBytes = cut;
  res.set_content_provider(
      bytes->size(), "image/tiff",
      [bytes, cut](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        if (offset >= cut) return false;
        sink.write(bytes->data() + offset, std::min(length, cut - offset));
        return true;
      });
}

// The update service: the update page's address, or empty when there is nothing new.
void MirrorServer::Impl::Update(const httplib::Request& req, httplib::Response& res) {
  const std::string productParam(protocol::kUpdateProductParam);
  const std::string versionParam(protocol::kUpdateVersionParam);
  if (req.get_param_value_count(productParam) != 1 ||
      req.get_param_value_count(versionParam) != 1) {
    return BadRequest(res, "pro and ver expected");
  }
  const std::string product = req.get_param_value(productParam);
  const std::string version = req.get_param_value(versionParam);
  if (product.empty() || !IsDigits(version) || version.size() != 8) {
    return BadRequest(res, "ver must be a date YYYYMMDD");
  }
  res.set_content(product == protocol::kProductName ? options.UpdateUrl : "", kText);
}

void MirrorServer::Impl::Product(const httplib::Request&, httplib::Response& res) {
  res.set_content(
      Page("BrevisFetch",
           "<h1>BrevisFetch</h1>\n<p>中国专利全文下载：输入申请号，下载全部页面并合成一个 PDF "
           "文件。</p>\n<p>Fetches the full text of a Chinese patent as one PDF.</p>\n"
           "<p>Version 20100410.</p>\n<p><a href=\"/\">Home</a></p>\n"),
      kHtml);
}

// The home page lists the patents this mirror holds.
void MirrorServer::Impl::Home(const httplib::Request&, httplib::Response& res) {
  std::string rows;
  for (const PatentEntry& patent : data.List()) {
    const std::string source = patent.Mirror && patent.Office ? "mirror, office"
                               : patent.Mirror                ? "mirror"
                                                              : "office";
    rows += "<tr><td>CN" + patent.Number + "</td><td>" + patent.Kind + "</td><td>" + source +
            "</td><td><a href=\"" + std::string(protocol::kPagesPrefix) + patent.Number + "/" +
            std::string(protocol::kFirstPageFile) + "\">" + std::to_string(patent.Pages) +
            "</a></td></tr>\n";
  }
  res.set_content(Page("brevisfetch-mirror",
                       "<h1>brevisfetch-mirror</h1>\n<p>A local mirror for <a href=\"" +
                           std::string(protocol::kProductPage) +
                           "\">BrevisFetch</a>.</p>\n<table>\n"
                           "<tr><th>number</th><th>kind</th><th>held by</th><th>pages</th></tr>\n" +
                           rows + "</table>\n"),
                  kHtml);
}

MirrorServer::MirrorServer(MirrorOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

MirrorServer::~MirrorServer() { Stop(); }

int MirrorServer::Bind() {
  const MirrorOptions& o = impl_->options;
  const std::string where = o.Bind + ":" + std::to_string(o.Port);
  if (o.Port < 0 || o.Port > 65535)
    throw std::runtime_error("cannot listen on " + where + ": bad port");
  // Try the address first with a plain socket, for the system's reason when it is taken or is
  // not one of this machine's (port 0 tries any free port).
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const int lookup = ::getaddrinfo(o.Bind.c_str(), std::to_string(o.Port).c_str(), &hints, &found);
  if (lookup != 0) {
    throw std::runtime_error("cannot listen on " + where + ": " + ::gai_strerror(lookup));
  }
  const int probe = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
  int yes = 1;
  ::setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  const int result = ::bind(probe, found->ai_addr, found->ai_addrlen);
  const int error = errno;
  ::close(probe);
  ::freeaddrinfo(found);
  if (result != 0)
    throw std::runtime_error("cannot listen on " + where + ": " + std::strerror(error));
  if (o.Port == 0) {
    const int port = impl_->server.bind_to_any_port(o.Bind);
    if (port <= 0) throw std::runtime_error("cannot listen on " + where);
    impl_->bound = true;
    return port;
  }
  if (!impl_->server.bind_to_port(o.Bind, o.Port)) {
    throw std::runtime_error("cannot listen on " + where);
  }
  impl_->bound = true;
  return o.Port;
}

void MirrorServer::Run() {
  if (!impl_->bound) throw std::logic_error("MirrorServer::Run before Bind.");
  impl_->runEntered = true;
  if (!impl_->stopRequested) impl_->server.listen_after_bind();
  impl_->runEnded = true;
}

void MirrorServer::Stop() {
  impl_->stopRequested = true;
  if (!impl_->runEntered) return;
  // Run may not have started listening yet; stopping before it does would be lost.
  while (!impl_->runEnded && !impl_->server.is_running()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  impl_->server.stop();
}

}  // namespace brevis
