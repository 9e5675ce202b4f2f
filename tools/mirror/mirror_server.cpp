// MirrorServer: routes, answers and injected faults of brevisfetch-mirror on libevent's evhttp,
// which parses the requests and drives the connections from one event loop. This file adds what
// evhttp leaves out: limits on what a client holds (deadlines, connection caps, head sizes), the
// access log, page files served as a file server serves them, and faults that cut a connection.
#include "tools/mirror/mirror_server.h"

#include <arpa/inet.h>
#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/http.h>
#include <event2/http_struct.h>
#include <event2/keyvalq_struct.h>
#include <event2/listener.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/queue.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cipher/rsa.h"
#include "common/ascii_text.h"
#include "protocol/service_protocol.h"
#include "stand_in/mirror_data.h"
#include "stand_in/service_answers.h"
#include "stand_in/serving.h"
#include "tools/mirror/fault_plan.h"
#include "tools/mirror/file_answer.h"

namespace brevis {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kHtml[] = "text/html; charset=utf-8";
constexpr char kText[] = "text/plain; charset=utf-8";
// What a refused connection is told to wait, in seconds.
constexpr int kRetryAfterSeconds = 2;
// How long a connection over a limit may take to send the request its 503 answers.
constexpr int kRefusedHeadMs = 1000;
// The page files mapped at once, and the bytes they may hold, before the oldest go.
constexpr std::size_t kMappedFiles = 256;
constexpr uint64_t kMappedBytes = 64u << 20;
// The most one write to a connection sends.
constexpr std::size_t kMaxSingleWrite = 256 * 1024;
// The access log is written out when this much has gathered, and at least every 200 ms.
constexpr std::size_t kLogBufferBytes = 64 * 1024;
constexpr timeval kLogFlushInterval{0, 200 * 1000};

timeval Milliseconds(int ms) { return timeval{ms / 1000, (ms % 1000) * 1000}; }

std::string Page(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
         title + "</title>\n</head>\n<body>\n" + body + "</body>\n</html>\n";
}

// The request's method. evhttp gives a method it does not know a value outside its enumeration,
// which must not be read as one.
unsigned Method(const evhttp_request* req) {
  unsigned method = 0;
  static_assert(sizeof req->type == sizeof method);
  std::memcpy(&method, &req->type, sizeof method);
  return method;
}

// An answer built by a route, sent by Reply.
struct Answer {
  int status = 200;
  std::string type = kText;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

Answer Text(int status, std::string body) {
  Answer answer;
  answer.status = status;
  answer.body = std::move(body);
  return answer;
}

Answer BadRequest(const std::string& why) { return Text(400, "Bad request: " + why + "\n"); }

Answer Html(std::string body) {
  Answer answer;
  answer.type = kHtml;
  answer.body = std::move(body);
  return answer;
}

// The page of an error status without a text of its own.
Answer ErrorPage(int status) {
  const std::string code = std::to_string(status);
  Answer answer = Html(Page(code, "<h1>" + code + "</h1>\n"));
  answer.status = status;
  return answer;
}

// The query of a request's target, decoded; Count is 0 for every name of a query that cannot be
// read.
class Query {
 public:
  explicit Query(const char* query) {
    TAILQ_INIT(&fields_);
    if (query != nullptr && evhttp_parse_query_str(query, &fields_) != 0)
      evhttp_clear_headers(&fields_);
  }
  ~Query() { evhttp_clear_headers(&fields_); }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  int Count(std::string_view name) const {
    int count = 0;
    const evkeyval* field;
    TAILQ_FOREACH(field, &fields_, next) count += name == field->key;
    return count;
  }
  std::string Value(std::string_view name) const {
    const evkeyval* field;
    TAILQ_FOREACH(field, &fields_, next) {
      if (name == field->key) return field->value;
    }
    return {};
  }

 private:
  evkeyvalq fields_;
};

// A page file mapped into memory, shared by the answers that send parts of it.
struct MappedFile {
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  MappedFile(void* address, const struct stat& info) : data(address), facts() {
    facts.size = static_cast<uint64_t>(info.st_size);
    facts.mtime = info.st_mtim.tv_sec;
    facts.mtimeNsec = info.st_mtim.tv_nsec;
    device = info.st_dev;
    inode = info.st_ino;
  }
  ~MappedFile() {
    if (data != nullptr) ::munmap(data, facts.size);
  }
  bool Same(const struct stat& info) const {
    return info.st_dev == device && info.st_ino == inode &&
           static_cast<uint64_t>(info.st_size) == facts.size &&
           info.st_mtim.tv_sec == facts.mtime && info.st_mtim.tv_nsec == facts.mtimeNsec;
  }

  void* data;  // null for an empty file
  FileFacts facts;
  dev_t device = 0;
  ino_t inode = 0;
};

// Page files by path, each mapped once and checked against the file before every use, so that a
// file replaced while the server runs is mapped anew. Holds at most kMappedFiles files and
// kMappedBytes bytes; the least recently used go first (answers still sending them keep them).
class MappedFiles {
 public:
  // The file at `path`; nullptr when it cannot be opened.
  std::shared_ptr<MappedFile> Get(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
    const auto found = files_.find(path);
    if (found != files_.end() && found->second.file->Same(info)) {
      found->second.used = ++clock_;
      return found->second.file;
    }
    if (found != files_.end()) Forget(found);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    if (::fstat(fd, &info) != 0) {
      ::close(fd);
      return nullptr;
    }
    void* data = nullptr;
    if (info.st_size > 0) {
      data = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_SHARED, fd, 0);
      if (data == MAP_FAILED) data = nullptr;
    }
    ::close(fd);
    if (data == nullptr && info.st_size > 0) return nullptr;
    auto file = std::make_shared<MappedFile>(data, info);
    while (!files_.empty() &&
           (files_.size() >= kMappedFiles || bytes_ + file->facts.size > kMappedBytes)) {
      auto oldest = files_.begin();
      for (auto it = files_.begin(); it != files_.end(); ++it) {
        if (it->second.used < oldest->second.used) oldest = it;
      }
      Forget(oldest);
    }
    files_[path] = {file, ++clock_};
    bytes_ += file->facts.size;
    return file;
  }

 private:
  struct Entry {
    std::shared_ptr<MappedFile> file;
    uint64_t used = 0;
  };
  void Forget(std::unordered_map<std::string, Entry>::iterator it) {
    bytes_ -= it->second.file->facts.size;
    files_.erase(it);
  }

  std::unordered_map<std::string, Entry> files_;
  uint64_t bytes_ = 0;
  uint64_t clock_ = 0;
};

// The access log: lines gathered and written out in blocks to a file reopened on request, or
// handed one by one to a callback or to stderr.
class AccessLog {
 public:
  AccessLog(std::string path, std::function<void(const std::string&)> sink)
      : path_(std::move(path)), sink_(std::move(sink)) {
    if (!path_.empty()) Open();
  }
  ~AccessLog() {
    Flush();
    if (file_ != nullptr) std::fclose(file_);
  }
  AccessLog(const AccessLog&) = delete;
  AccessLog& operator=(const AccessLog&) = delete;

  void Write(const std::string& line) {
    if (path_.empty() && sink_) {
      sink_(line);
      return;
    }
    // Scripts and tests read stderr while the server runs: each line goes out at once.
    if (path_.empty()) {
      std::fprintf(stderr, "%s\n", line.c_str());
      return;
    }
    buffer_ += line;
    buffer_ += '\n';
    if (buffer_.size() >= kLogBufferBytes) Flush();
  }
  void Flush() {
    if (buffer_.empty()) return;
    if (file_ != nullptr) {
      std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
      std::fflush(file_);
    }
    buffer_.clear();
  }
  // Writes out what has gathered and opens the file again under its name, which logrotate may
  // have given to a new file. A file that cannot be opened now is reported on stderr; the lines
  // are then lost until the next reopening succeeds.
  void Reopen() {
    if (path_.empty()) return;
    Flush();
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    try {
      Open();
    } catch (const std::runtime_error& e) {
      std::cerr << "brevisfetch-mirror: " << e.what() << '\n';
    }
  }

 private:
  void Open() {
    file_ = std::fopen(path_.c_str(), "ae");
    if (file_ == nullptr) {
      throw std::runtime_error("cannot open the access log " + path_ + ": " + std::strerror(errno));
    }
  }

  std::string path_;
  std::function<void(const std::string&)> sink_;
  FILE* file_ = nullptr;
  std::string buffer_;
};

// "10/Oct/2000:13:55:36 +0000", the time of a Common Log Format line, in UTC.
// Made once a second: every line of that second shares it.
const std::string& LogTime() {
  thread_local std::time_t last = -1;
  thread_local std::string stamp;
  const std::time_t now = std::time(nullptr);
  if (now != last) {
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%d/%b/%Y:%H:%M:%S +0000", &utc);
    stamp = text;
    last = now;
  }
  return stamp;
}

}  // namespace

struct MirrorServer::Impl {
  // What the server knows about one connection, from its opening until evhttp frees it. A
  // connection is set up (its evhttp_connection found, counted against the limits) at its first
  // event; until then it is known by its bufferevent only.
  struct Connection {
    Impl* impl = nullptr;
    bufferevent* bev = nullptr;
    evhttp_connection* evcon = nullptr;
    event* timer = nullptr;  // the deadline of the current wait; first, the setting up
    enum class Wait { kSetUp, kFirstHead, kIdle, kHead, kNone } wait = Wait::kSetUp;
    bool setUp = false;
    bool counted = false;     // counted against the limits (not refused)
    bool refused = false;     // over a limit: its request gets a 503
    bool closing = false;     // shut down on purpose: nothing more is answered or logged
    bool answering = false;   // a route's answer is under way
    bool badVersion = false;  // the request's HTTP version is not 1.x
    std::string peer;

    // The request heads as they arrive, read here beside evhttp so that the limits hold on the
    // bytes themselves and every request line can be logged, also one evhttp rejects.
    bool inHead = false;
    bool firstLineDone = false;
    std::size_t lineBytes = 0;
    std::size_t headBytes = 0;
    std::string line;                       // the request line of the head being read
    std::deque<std::string> lines;          // request lines of heads read, not yet answered
    std::deque<Clock::time_point> arrived;  // when each of those heads was complete

    // The answer under way.
    Fault fault = Fault::kNone;
    uint64_t bodyBytes = 0;
  };

  // A request whose answer waits out --delay-ms on a timer of its own.
  struct Delayed {
    Impl* impl;
    evhttp_request* req;
    event* timer;
  };

  explicit Impl(MirrorOptions o)
      : options(std::move(o)),
        data(options.DataDir),
        faults(options.FailRate, options.Seed ? *options.Seed : std::random_device{}()),
        rsa(kAppKeyN, kAppKeyE, kAppKeyD),
        log(options.AccessLog, options.Log) {
    if (options.DelayMs < 0) throw std::invalid_argument("The delay must not be negative.");
    for (const int limit :
         {options.HeaderTimeoutMs, options.IdleTimeoutMs, options.MaxConnections,
          options.MaxConnectionsPerClient, options.MaxRequestLine, options.MaxHeaderBytes}) {
      if (limit < 1) throw std::invalid_argument("Every time-out and limit must be at least 1.");
    }
    ::signal(SIGPIPE, SIG_IGN);
    // epoll_ctl calls are gathered per turn of the loop: evhttp switches a connection between
    // reading and writing for every answer.
    event_config* config = event_config_new();
    event_config_set_flag(config, EVENT_BASE_FLAG_EPOLL_USE_CHANGELIST);
    base = event_base_new_with_config(config);
    event_config_free(config);
    http = evhttp_new(base);
    if (base == nullptr || http == nullptr) throw std::runtime_error("cannot start libevent");
    evhttp_set_allowed_methods(http, 0xFFFF);
    // evhttp's own limits stand behind ours, which answer with the proper status first.
    evhttp_set_max_headers_size(http, 2 * options.MaxHeaderBytes + 1024);
    evhttp_set_max_body_size(http, 64 * 1024);
    const timeval idle = Milliseconds(options.IdleTimeoutMs);
    evhttp_set_timeout_tv(http, &idle);
    // Every connection waits for one of these three; libevent keeps such common time-outs in
    // queues rather than in its heap of timers.
    const timeval header = Milliseconds(options.HeaderTimeoutMs);
    const timeval refused = Milliseconds(std::min(kRefusedHeadMs, options.HeaderTimeoutMs));
    headerWait = event_base_init_common_timeout(base, &header);
    idleWait = event_base_init_common_timeout(base, &idle);
    refusedWait = event_base_init_common_timeout(base, &refused);
    evhttp_set_bevcb(http, &Impl::NewBufferEvent, this);
    evhttp_set_gencb(http, &Impl::OnRequest, this);
    // Stop, from any thread, ends the loop through this pipe.
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
      throw std::runtime_error(std::string("cannot start the server: ") + std::strerror(errno));
    }
    stopEvent = event_new(
        base, stopPipe[0], EV_READ,
        [](evutil_socket_t, short, void* arg) {
          event_base_loopbreak(static_cast<event_base*>(arg));
        },
        base);
    event_add(stopEvent, nullptr);
  }

  ~Impl() {
    Shutdown();
    if (http != nullptr) evhttp_free(http);
    // What evhttp has let go of before it was set up.
    std::vector<Connection*> left;
    for (const auto& [bev, connection] : connections) left.push_back(connection);
    for (Connection* c : left) Forget(c);
    for (event* e : {stopEvent, hangUpEvent, flushEvent}) {
      if (e != nullptr) event_free(e);
    }
    if (base != nullptr) event_base_free(base);
    if (stopPipe[0] >= 0) ::close(stopPipe[0]);
    if (stopPipe[1] >= 0) ::close(stopPipe[1]);
  }

  // Connections.
  static bufferevent* NewBufferEvent(event_base* base, void* arg);
  static void OnInput(evbuffer* buffer, const evbuffer_cb_info* info, void* arg);
  static void OnOutput(evbuffer* buffer, const evbuffer_cb_info* info, void* arg);
  static void OnTimer(evutil_socket_t, short, void* arg);
  static void OnClose(evhttp_connection* evcon, void* arg);
  bool SetUp(Connection* c);
  void ReadHead(Connection* c, const char* bytes, std::size_t size);
  void Arm(Connection* c, Connection::Wait wait, const timeval* after);
  void RefuseHead(Connection* c, int status, const char* reason);
  void Close(Connection* c);
  void Forget(Connection* c);
  void Shutdown();

  // Requests and answers.
  static void OnRequest(evhttp_request* req, void* arg);
  static void OnDelayed(evutil_socket_t, short, void* arg);
  static void OnComplete(evhttp_request* req, void* arg);
  void Answer(evhttp_request* req);
  void Route(evhttp_request* req, Connection* c);
  void Reply(evhttp_request* req, Connection* c, brevis::Answer answer);
  void WriteLogLine(Connection* c, const std::string& requestLine, int status, uint64_t bytes,
                    const evhttp_request* req, Fault fault);
  Connection* ConnectionOf(evhttp_request* req);

  brevis::Answer Mirror(evhttp_request* req, const Query& query);
  brevis::Answer Search(evhttp_request* req, const Query& query);
  void PageFile(evhttp_request* req, Connection* c, const std::string& path,
                const std::string& number, const std::string& name);
  brevis::Answer Update(const Query& query);
  brevis::Answer Home();
  std::string RequestHost(evhttp_request* req);

  MirrorOptions options;
  MirrorData data;
  FaultPlan faults;
  RSA rsa;
  AccessLog log;
  MappedFiles mapped;

  event_base* base = nullptr;
  evhttp* http = nullptr;
  evhttp_bound_socket* bound = nullptr;
  event* stopEvent = nullptr;
  event* hangUpEvent = nullptr;
  event* flushEvent = nullptr;
  int stopPipe[2] = {-1, -1};
  const timeval* headerWait = nullptr;
  const timeval* idleWait = nullptr;
  const timeval* refusedWait = nullptr;

  // Touched by the serving thread only, but for the counts, which others read.
  std::unordered_map<bufferevent*, Connection*> connections;
  std::map<std::string, int> perClient;
  std::atomic<int> open{0};
  int counted = 0;
  std::vector<Delayed*> delayed;

  std::atomic<bool> stopRequested{false};
};

// Connections.

// evhttp asks for a bufferevent for each connection it accepts; the Connection is born here. A
// reference is held until the connection is set up, so that a connection evhttp frees before
// that (a client that closes at once) is still there to be looked at.
bufferevent* MirrorServer::Impl::NewBufferEvent(event_base* loop, void* arg) {
  auto* impl = static_cast<Impl*>(arg);
  bufferevent* bev = bufferevent_socket_new(loop, -1, BEV_OPT_CLOSE_ON_FREE);
  if (bev == nullptr) return nullptr;
  // A page's answer goes out in one write rather than in bufferevent's 16 KiB steps.
  bufferevent_set_max_single_write(bev, kMaxSingleWrite);
  auto* c = new Connection;
  c->impl = impl;
  c->bev = bev;
  c->timer = evtimer_new(loop, &Impl::OnTimer, c);
  bufferevent_incref(bev);
  evbuffer_add_cb(bufferevent_get_input(bev), &Impl::OnInput, c);
  evbuffer_add_cb(bufferevent_get_output(bev), &Impl::OnOutput, c);
  impl->connections[bev] = c;
  ++impl->open;
  // Set up at the next turn of the loop, when evhttp has taken the bufferevent in.
  const timeval now{0, 0};
  evtimer_add(c->timer, &now);
  return bev;
}

// Finds the connection's evhttp_connection (the argument evhttp gives its bufferevent's
// callbacks), counts it against the limits and starts the wait for its first head. False when
// evhttp has freed the connection already; the Connection is then gone too.
bool MirrorServer::Impl::SetUp(Connection* c) {
  if (c->setUp) return true;
  bufferevent_data_cb readcb = nullptr;
  bufferevent_data_cb writecb = nullptr;
  bufferevent_event_cb eventcb = nullptr;
  void* cbarg = nullptr;
  bufferevent_getcb(c->bev, &readcb, &writecb, &eventcb, &cbarg);
  if (readcb == nullptr || cbarg == nullptr) {
    Forget(c);
    return false;
  }
  c->setUp = true;
  c->evcon = static_cast<evhttp_connection*>(cbarg);
  evhttp_connection_set_closecb(c->evcon, &Impl::OnClose, c);
  bufferevent_decref(c->bev);
  const int fd = bufferevent_getfd(c->bev);
  const int yes = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  char* address = nullptr;
  uint16_t port = 0;
  evhttp_connection_get_peer(c->evcon, &address, &port);
  c->peer = address != nullptr ? address : "-";
  int& mine = perClient[c->peer];
  if (counted >= options.MaxConnections || mine >= options.MaxConnectionsPerClient) {
    c->refused = true;
    if (mine == 0) perClient.erase(c->peer);
    Arm(c, Connection::Wait::kFirstHead, refusedWait);
  } else {
    c->counted = true;
    ++counted;
    ++mine;
    Arm(c, Connection::Wait::kFirstHead, headerWait);
  }
  return true;
}

void MirrorServer::Impl::Arm(Connection* c, Connection::Wait wait, const timeval* after) {
  c->wait = wait;
  if (wait == Connection::Wait::kNone) {
    evtimer_del(c->timer);
    return;
  }
  evtimer_add(c->timer, after);
}

void MirrorServer::Impl::OnTimer(evutil_socket_t, short, void* arg) {
  auto* c = static_cast<Connection*>(arg);
  Impl* impl = c->impl;
  switch (c->wait) {
    case Connection::Wait::kSetUp:
      impl->SetUp(c);
      return;
    case Connection::Wait::kFirstHead:
    case Connection::Wait::kHead:
      if (c->inHead) {
        impl->RefuseHead(c, 408, "Request Timeout");
      } else {
        impl->Close(c);
      }
      return;
    case Connection::Wait::kIdle:
      impl->Close(c);
      return;
    case Connection::Wait::kNone:
      return;
  }
}

// Every byte a client sends passes here before evhttp parses it: the heads are followed so that
// their deadline starts with their first byte, their sizes are held to the limits, and their
// request lines are kept for the log.
void MirrorServer::Impl::OnInput(evbuffer* buffer, const evbuffer_cb_info* info, void* arg) {
  auto* c = static_cast<Connection*>(arg);
  if (info->n_added == 0 || c->closing) return;
  if (!c->impl->SetUp(c)) return;
  const std::size_t length = evbuffer_get_length(buffer);
  evbuffer_ptr start;
  evbuffer_ptr_set(buffer, &start, length - std::min(info->n_added, length), EVBUFFER_PTR_SET);
  evbuffer_iovec pieces[8];
  std::size_t left = std::min(info->n_added, length);
  while (left > 0 && !c->closing) {
    const int n = evbuffer_peek(buffer, static_cast<ev_ssize_t>(left), &start, pieces, 8);
    if (n <= 0) break;
    for (int i = 0; i < std::min(n, 8) && left > 0 && !c->closing; ++i) {
      const std::size_t size = std::min(pieces[i].iov_len, left);
      c->impl->ReadHead(c, static_cast<const char*>(pieces[i].iov_base), size);
      left -= size;
      evbuffer_ptr_set(buffer, &start, size, EVBUFFER_PTR_ADD);
    }
  }
}

void MirrorServer::Impl::ReadHead(Connection* c, const char* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size && !c->closing; ++i) {
    const char byte = bytes[i];
    if (!c->inHead) {
      // Empty lines before a request line are skipped, as evhttp skips them.
      if (byte == '\r' || byte == '\n') continue;
      c->inHead = true;
      c->firstLineDone = false;
      c->lineBytes = 0;
      c->headBytes = 0;
      c->line.clear();
      if (c->wait != Connection::Wait::kFirstHead) Arm(c, Connection::Wait::kHead, headerWait);
    }
    ++c->headBytes;
    if (byte == '\n') {
      if (!c->firstLineDone) {
        c->firstLineDone = true;
      } else if (c->lineBytes == 0) {
        c->inHead = false;
        c->lines.push_back(std::move(c->line));
        c->line.clear();
        c->arrived.push_back(Clock::now());
        Arm(c, Connection::Wait::kNone, nullptr);
        continue;
      }
      c->lineBytes = 0;
      continue;
    }
    if (byte == '\r') continue;
    ++c->lineBytes;
    if (!c->firstLineDone) {
      c->line += byte;
      if (c->lineBytes > static_cast<std::size_t>(options.MaxRequestLine)) {
        RefuseHead(c, 414, "URI Too Long");
        return;
      }
    }
    if (c->headBytes > static_cast<std::size_t>(options.MaxHeaderBytes)) {
      RefuseHead(c, 431, "Request Header Fields Too Large");
      return;
    }
  }
}

// Answers a head that broke a limit with `status` and closes the connection; whatever evhttp
// still makes of the bytes gets no answer.
void MirrorServer::Impl::RefuseHead(Connection* c, int status, const char* reason) {
  const std::string body = std::to_string(status) + " " + reason + "\n";
  const std::string answer =
      "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Type: " + kText +
      "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  const int fd = bufferevent_getfd(c->bev);
  if (fd >= 0) ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  std::string line = c->line;
  if (line.size() > 1024) line.resize(1024);
  WriteLogLine(c, line, status, body.size(), nullptr, Fault::kNone);
  Close(c);
}

// Ends the connection: evhttp reads its end and frees it, which calls OnClose.
void MirrorServer::Impl::Close(Connection* c) {
  c->closing = true;
  Arm(c, Connection::Wait::kNone, nullptr);
  const int fd = bufferevent_getfd(c->bev);
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

// evhttp frees the connection.
void MirrorServer::Impl::OnClose(evhttp_connection*, void* arg) {
  auto* c = static_cast<Connection*>(arg);
  c->impl->connections.erase(c->bev);
  c->impl->Forget(c);
}

// Uncounts and deletes a Connection whose connection evhttp is done with.
void MirrorServer::Impl::Forget(Connection* c) {
  if (c->counted) {
    --counted;
    const auto it = perClient.find(c->peer);
    if (it != perClient.end() && --it->second == 0) perClient.erase(it);
  }
  connections.erase(c->bev);
  evbuffer_remove_cb(bufferevent_get_input(c->bev), &Impl::OnInput, c);
  evbuffer_remove_cb(bufferevent_get_output(c->bev), &Impl::OnOutput, c);
  if (!c->setUp) bufferevent_decref(c->bev);
  event_free(c->timer);
  --open;
  delete c;
}

// evhttp answers some requests itself (one it cannot parse gets a 400): they are logged when
// their answer is written, with the status it carries.
void MirrorServer::Impl::OnOutput(evbuffer* buffer, const evbuffer_cb_info* info, void* arg) {
  auto* c = static_cast<Connection*>(arg);
  if (info->n_added == 0 || c->answering || c->closing) return;
  // evhttp writes the request's own version into such an answer ("HTTP/1.10", or "HTTP/1.-64"
  // for a minor number beyond a byte): every answer says HTTP/1.1, the version this server speaks.
  const evbuffer_ptr blank = evbuffer_search(buffer, " ", 1, nullptr);
  if (blank.pos < 0 || blank.pos > 32) return;
  char version[33] = {};
  evbuffer_copyout(buffer, version, static_cast<std::size_t>(blank.pos));
  if (std::strncmp(version, "HTTP/", 5) != 0) return;
  if (std::strcmp(version, "HTTP/1.1") != 0) {
    // Rewriting the buffer calls this again: the answer is taken as seen first.
    c->answering = true;
    evbuffer_drain(buffer, static_cast<std::size_t>(blank.pos));
    evbuffer_prepend(buffer, "HTTP/1.1", 8);
    c->answering = false;
  }
  char status[13] = {};
  if (evbuffer_copyout(buffer, status, 12) != 12) return;
  // A "100 Continue" is no answer yet.
  if (std::strncmp(status + 9, "100", 3) == 0) return;
  std::string line = c->lines.empty() ? c->line : c->lines.front();
  if (!c->lines.empty()) {
    c->lines.pop_front();
    c->arrived.pop_front();
  }
  c->inHead = false;
  c->impl->WriteLogLine(c, line, std::atoi(status + 9), 0, nullptr, Fault::kNone);
  // The connection closes after such an answer; nothing more from it is logged.
  c->closing = true;
}

// Drops the answers still waiting out their delay; evhttp_free frees their requests with their
// connections, and those of clients that went away are freed here.
void MirrorServer::Impl::Shutdown() {
  for (Delayed* d : delayed) {
    if (evhttp_request_get_connection(d->req) == nullptr) evhttp_request_free(d->req);
    event_free(d->timer);
    delete d;
  }
  delayed.clear();
}

// Requests and answers.

MirrorServer::Impl::Connection* MirrorServer::Impl::ConnectionOf(evhttp_request* req) {
  evhttp_connection* evcon = evhttp_request_get_connection(req);
  if (evcon == nullptr) return nullptr;
  const auto found = connections.find(evhttp_connection_get_bufferevent(evcon));
  if (found == connections.end()) return nullptr;
  Connection* c = found->second;
  return SetUp(c) ? c : nullptr;
}

void MirrorServer::Impl::OnRequest(evhttp_request* req, void* arg) {
  auto* impl = static_cast<Impl*>(arg);
  Connection* c = impl->ConnectionOf(req);
  if (c == nullptr || c->closing) {
    // Cut off on purpose: this answer is never written, and frees the request.
    evhttp_send_reply(req, 503, nullptr, nullptr);
    return;
  }
  // Answers say HTTP/1.1, the highest version this server speaks; an HTTP/1.0 request that did
  // not ask to keep the connection still has it closed after the answer, and one of another
  // major version gets a 400 and the connection closed.
  c->badVersion = req->major != 1;
  const char* connection = evhttp_find_header(evhttp_request_get_input_headers(req), "Connection");
  if (c->badVersion ||
      (req->minor == 0 &&
       (connection == nullptr || evutil_ascii_strcasecmp(connection, "keep-alive") != 0))) {
    evhttp_add_header(evhttp_request_get_output_headers(req), "Connection", "close");
  }
  req->major = 1;
  req->minor = 1;
  c->answering = true;
  c->fault = Fault::kNone;
  c->bodyBytes = 0;
  evhttp_request_set_on_complete_cb(req, &Impl::OnComplete, c);
  if (impl->options.DelayMs > 0 && !c->refused) {
    // The answer waits on a timer; the loop serves the other connections meanwhile.
    auto* d = new Delayed{impl, req, nullptr};
    d->timer = evtimer_new(impl->base, &Impl::OnDelayed, d);
    impl->delayed.push_back(d);
    const timeval after = Milliseconds(impl->options.DelayMs);
    // Counted from now, not from the time libevent took when the loop woke.
    event_base_update_cache_time(impl->base);
    evtimer_add(d->timer, &after);
    return;
  }
  impl->Answer(req);
}

void MirrorServer::Impl::OnDelayed(evutil_socket_t, short, void* arg) {
  auto* d = static_cast<Delayed*>(arg);
  Impl* impl = d->impl;
  evhttp_request* req = d->req;
  std::erase(impl->delayed, d);
  event_free(d->timer);
  delete d;
  impl->Answer(req);
}

void MirrorServer::Impl::Answer(evhttp_request* req) {
  Connection* c = ConnectionOf(req);
  if (c == nullptr || c->closing) {
    // The client left while the answer waited: sending frees the request, and goes nowhere.
    evhttp_send_reply(req, 503, nullptr, nullptr);
    return;
  }
  if (c->refused) {
    brevis::Answer refusal = Text(503, "Too many connections; try again shortly.\n");
    refusal.headers = {{"Retry-After", std::to_string(kRetryAfterSeconds)},
                       {"Connection", "close"}};
    return Reply(req, c, std::move(refusal));
  }
  try {
    Route(req, c);
  } catch (const std::exception& e) {
    Reply(req, c, Text(500, std::string("Server error: ") + e.what() + "\n"));
  }
}

void MirrorServer::Impl::Route(evhttp_request* req, Connection* c) {
  const unsigned method = Method(req);
  if (c->badVersion) return Reply(req, c, BadRequest("HTTP/1.0 or 1.1 only"));
  const evhttp_uri* uri = evhttp_request_get_evhttp_uri(req);
  const char* rawPath = uri != nullptr ? evhttp_uri_get_path(uri) : nullptr;
  if (rawPath == nullptr || rawPath[0] != '/') return Reply(req, c, BadRequest("bad target"));
  std::size_t decodedLength = 0;
  char* decoded = evhttp_uridecode(rawPath, 0, &decodedLength);
  if (decoded == nullptr) return Reply(req, c, BadRequest("bad target"));
  const std::string path(decoded, decodedLength);
  std::free(decoded);
  if (path.find('\0') != std::string::npos) return Reply(req, c, BadRequest("NUL in the path"));
  // No answer ever names a file outside the data folder, but say so plainly.
  std::istringstream segments(path);
  for (std::string segment; std::getline(segments, segment, '/');) {
    if (segment == "..") return Reply(req, c, BadRequest("'..' in the path"));
  }
  if (method != EVHTTP_REQ_GET && method != EVHTTP_REQ_HEAD) {
    brevis::Answer answer = ErrorPage(405);
    answer.headers = {{"Allow", "GET, HEAD"}};
    return Reply(req, c, std::move(answer));
  }
  const Query query(evhttp_uri_get_query(uri));
  if (path == protocol::kMirrorScript) return Reply(req, c, Mirror(req, query));
  if (path == protocol::kSearchScript) return Reply(req, c, Search(req, query));
  if (path == protocol::kUpdateScript) return Reply(req, c, Update(query));
  if (path == protocol::kProductPage) {
    return Reply(
        req, c,
        Html(Page("BrevisFetch",
                  "<h1>BrevisFetch</h1>\n<p>中国专利全文下载：输入申请号，下载全部页面并合成一个 "
                  "PDF 文件。</p>\n<p>Fetches the full text of a Chinese patent as one PDF.</p>\n"
                  "<p>Version " +
                      std::string(kVersion) + ".</p>\n<p><a href=\"/\">Home</a></p>\n")));
  }
  if (path == "/") return Reply(req, c, Home());
  // /pages/<1-16 digits>/<6-9 digits>.tif
  const std::string prefix(protocol::kPagesPrefix);
  if (path.compare(0, prefix.size(), prefix) == 0) {
    const std::string rest = path.substr(prefix.size());
    const std::size_t slash = rest.find('/');
    const auto digits = [](const std::string& text, std::size_t low, std::size_t high) {
      return text.size() >= low && text.size() <= high && ascii::IsDigits(text);
    };
    if (slash != std::string::npos && rest.size() > slash + 5 &&
        rest.compare(rest.size() - 4, 4, ".tif") == 0) {
      const std::string number = rest.substr(0, slash);
      const std::string page = rest.substr(slash + 1, rest.size() - slash - 5);
      if (digits(number, 1, 16) && digits(page, 6, 9)) {
        return PageFile(req, c, path, number, page + ".tif");
      }
    }
  }
  Reply(req, c, ErrorPage(404));
}

void MirrorServer::Impl::Reply(evhttp_request* req, Connection* c, brevis::Answer answer) {
  evkeyvalq* headers = evhttp_request_get_output_headers(req);
  if (!answer.type.empty()) evhttp_add_header(headers, "Content-Type", answer.type.c_str());
  for (const auto& [name, value] : answer.headers) {
    evhttp_add_header(headers, name.c_str(), value.c_str());
  }
  // evhttp would send a HEAD answer's body too: it gets the length alone.
  if (Method(req) == EVHTTP_REQ_HEAD) {
    evhttp_add_header(headers, "Content-Length", std::to_string(answer.body.size()).c_str());
    c->bodyBytes = 0;
  } else {
    evbuffer_add(evhttp_request_get_output_buffer(req), answer.body.data(), answer.body.size());
    c->bodyBytes = answer.body.size();
  }
  evhttp_send_reply(req, answer.status, nullptr, nullptr);
}

// The answer has been written: its log line.
void MirrorServer::Impl::OnComplete(evhttp_request* req, void* arg) {
  auto* c = static_cast<Connection*>(arg);
  Impl* impl = c->impl;
  std::string line;
  if (!c->lines.empty()) {
    line = std::move(c->lines.front());
    c->lines.pop_front();
  }
  impl->WriteLogLine(c, line, evhttp_request_get_response_code(req), c->bodyBytes, req, c->fault);
  if (!c->arrived.empty()) c->arrived.pop_front();
  c->answering = false;
  // The wait for the next request, unless its head has begun already (its deadline runs from
  // its first byte) or arrived whole.
  if (!c->closing && !c->inHead && c->lines.empty()) {
    impl->Arm(c, Connection::Wait::kIdle, impl->idleWait);
  }
}

// "127.0.0.1 - - [10/Oct/2000:13:55:36 +0000] "GET / HTTP/1.1" 200 2326 "-" "curl/7.88" 0.003",
// the Combined Log Format with the seconds from the head's arrival to the answer's end, and
// " fault=NAME" for an injected fault.
void MirrorServer::Impl::WriteLogLine(Connection* c, const std::string& requestLine, int status,
                                      uint64_t bytes, const evhttp_request* req, Fault fault) {
  double seconds = 0;
  if (!c->arrived.empty()) {
    seconds = std::chrono::duration<double>(Clock::now() - c->arrived.front()).count();
  }
  const auto header = [req](const char* name) -> std::string {
    if (req == nullptr) return "-";
    const char* value = evhttp_find_header(
        evhttp_request_get_input_headers(const_cast<evhttp_request*>(req)), name);
    return value != nullptr ? LogSafe(value) : "-";
  };
  char duration[32];
  std::snprintf(duration, sizeof duration, "%.3f", seconds);
  std::string line = c->peer.empty() ? "-" : c->peer;
  line += " - - [" + LogTime() + "] \"" + LogSafe(requestLine) + "\" " + std::to_string(status) +
          " " + std::to_string(bytes) + " \"" + header("Referer") + "\" \"" + header("User-Agent") +
          "\" " + duration;
  if (fault != Fault::kNone) line += std::string(" fault=") + FaultName(fault);
  log.Write(line);
}

// The mirror service: the number arrives enciphered; the answer is the enciphered
// "<pages>\t<base address>", or empty when the mirror does not hold the patent.
brevis::Answer MirrorServer::Impl::Mirror(evhttp_request* req, const Query& query) {
  const std::string param(protocol::kMirrorParam);
  if (query.Count(param) != 1) return BadRequest("one parameter s expected");
  const std::string cipher = query.Value(param);
  if (!IsNumberCipher(cipher)) return BadRequest("s must be groups of four decimal digits");
  const std::string number = DecipherText(rsa, cipher);
  if (!MirrorData::IsNumber(number))
    return BadRequest("s does not decipher to an application number");
  const std::optional<PatentEntry> patent = data.Find(number);
  if (!patent || !patent->Mirror || patent->Pages < 1) return Text(200, "");
  const std::string host = RequestHost(req);
  if (host.empty()) return BadRequest("bad Host header");
  return Text(200, MirrorAnswerCipher(rsa, patent->Pages, host, number));
}

// The patent office's search page. For a patent the office holds it carries the fragment
// 'fm','<pages>','<base address>/000001.tif' (invention patents) or 'xx',... (utility models).
brevis::Answer MirrorServer::Impl::Search(evhttp_request* req, const Query& query) {
  const std::string recidParam(protocol::kSearchNumberParam);
  const std::string kindParam(protocol::kSearchKindParam);
  if (query.Count(recidParam) != 1 || query.Count(kindParam) != 1) {
    return BadRequest("recid and leixin expected");
  }
  const std::string recid = query.Value(recidParam);
  const std::string kind = query.Value(kindParam);
  const std::size_t prefix = protocol::kNumberPrefix.size();
  if (recid.size() <= prefix || recid.compare(0, prefix, protocol::kNumberPrefix) != 0 ||
      !MirrorData::IsNumber(recid.substr(prefix))) {
    return BadRequest("recid must be CN and the application number");
  }
  if (kind.empty() || kind.size() > 8 ||
      kind.find_first_not_of("abcdefghijklmnopqrstuvwxyz") != std::string::npos) {
    return BadRequest("leixin must be a kind code");
  }
  const std::string number = recid.substr(prefix);
  const std::string host = RequestHost(req);
  if (host.empty()) return BadRequest("bad Host header");

  std::string body = "<h1>中国专利检索</h1>\n<p>申请号：CN" + number + "</p>\n";
  const std::optional<PatentEntry> patent = data.Find(number);
  if (patent && patent->Office && patent->Pages > 0) {
    const std::string pages = std::to_string(patent->Pages);
    const std::string pagesBase = PageBaseAddress(host, number);
    const bool invention = patent->Kind == protocol::kInventionKind;
    body += "<p>" + std::string(invention ? "发明专利申请公开说明书" : "实用新型专利说明书") +
            "，共 " + pages + " 页</p>\n<script type=\"text/javascript\">\nshowTif(" +
            protocol::SearchFragment(patent->Kind, pages, pagesBase) +
            ");\n</script>\n<p><a href=\"" + pagesBase + "/" +
            std::string(protocol::kFirstPageFile) + "\">查看全文</a></p>\n";
  } else {
    body += "<p>没有检索到该申请号的全文图像。</p>\n";
  }
  return Html(Page("专利检索 - CN" + number, body));
}

// A page image, as a file server sends it; some of them fail on purpose under --fail-rate.
void MirrorServer::Impl::PageFile(evhttp_request* req, Connection* c, const std::string& path,
                                  const std::string& number, const std::string& name) {
  const int page = std::stoi(name.substr(0, name.size() - 4));
  const Fault fault = faults.Next(path);
  c->fault = fault;
  switch (fault) {
    case Fault::kNone:
    case Fault::kCutShort:
      break;
    case Fault::kServerError:
      return Reply(req, c, Text(500, "Server error (injected)\n"));
    case Fault::kDrop: {
      // No answer reaches the client; log the request here, as nothing else will. The reply
      // below goes to a closed socket and only frees the request.
      std::string line = c->lines.empty() ? std::string() : c->lines.front();
      if (!c->lines.empty()) c->lines.pop_front();
      WriteLogLine(c, line, 444, 0, req, fault);
      if (!c->arrived.empty()) c->arrived.pop_front();
      Close(c);
      evhttp_send_reply(req, 500, nullptr, nullptr);
      return;
    }
  }
  // The data folder's page file, which mapped.Get finds a regular file or nothing.
  if (page < 1 || MirrorData::PageFileName(page) != name) return Reply(req, c, ErrorPage(404));
  const std::shared_ptr<MappedFile> mappedFile = mapped.Get(data.Dir() + "/" + number + "/" + name);
  if (!mappedFile) return Reply(req, c, ErrorPage(404));

  evkeyvalq* in = evhttp_request_get_input_headers(req);
  const auto field = [in](const char* fieldName) -> std::optional<std::string> {
    const char* value = evhttp_find_header(in, fieldName);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  };
  FileConditions conditions;
  conditions.head = Method(req) == EVHTTP_REQ_HEAD;
  conditions.ifNoneMatch = field("If-None-Match");
  conditions.ifModifiedSince = field("If-Modified-Since");
  conditions.range = field("Range");
  conditions.ifRange = field("If-Range");
  const FileAnswer answer = AnswerFile(mappedFile->facts, conditions);

  evkeyvalq* out = evhttp_request_get_output_headers(req);
  evhttp_add_header(out, "ETag", answer.etag.c_str());
  evhttp_add_header(out, "Last-Modified", answer.lastModified.c_str());
  evhttp_add_header(out, "Accept-Ranges", "bytes");
  if (!answer.contentRange.empty()) {
    evhttp_add_header(out, "Content-Range", answer.contentRange.c_str());
  }
  if (answer.status == 304) {
    c->fault = Fault::kNone;
    evhttp_send_reply(req, 304, nullptr, nullptr);
    return;
  }
  if (answer.status == 416) {
    c->fault = Fault::kNone;
    return Reply(req, c, Text(416, "Range not satisfiable\n"));
  }
  evhttp_add_header(out, "Content-Type", "image/tiff");
  uint64_t length = answer.length;
  if (fault == Fault::kCutShort && !conditions.head) {
    // Announce the whole length, send half of it, then close.
    evhttp_add_header(out, "Content-Length", std::to_string(length).c_str());
    evhttp_add_header(out, "Connection", "close");
    length /= 2;
  }
  if (length > 0 && !conditions.head) {
    // The body refers to the mapped file, which the reference keeps until it has been sent.
    auto* keep = new std::shared_ptr<MappedFile>(mappedFile);
    evbuffer_add_reference(
        evhttp_request_get_output_buffer(req),
        static_cast<const char*>(mappedFile->data) + answer.offset, length,
        [](const void*, size_t, void* extra) {
          delete static_cast<std::shared_ptr<MappedFile>*>(extra);
        },
        keep);
  }
  // A HEAD answer gets the length alone (evhttp would send the body too).
  if (conditions.head) evhttp_add_header(out, "Content-Length", std::to_string(length).c_str());
  c->bodyBytes = conditions.head ? 0 : length;
  evhttp_send_reply(req, answer.status, nullptr, nullptr);
}

// The update service: the update page's address, or empty when there is nothing new.
brevis::Answer MirrorServer::Impl::Update(const Query& query) {
  const std::string productParam(protocol::kUpdateProductParam);
  const std::string versionParam(protocol::kUpdateVersionParam);
  if (query.Count(productParam) != 1 || query.Count(versionParam) != 1) {
    return BadRequest("pro and ver expected");
  }
  const std::string product = query.Value(productParam);
  const std::string version = query.Value(versionParam);
  if (product.empty() || !ascii::IsDigits(version) || version.size() != 8) {
    return BadRequest("ver must be a date YYYYMMDD");
  }
  return Text(200, product == protocol::kProductName ? options.UpdateUrl : "");
}

// The home page lists the patents this mirror holds.
brevis::Answer MirrorServer::Impl::Home() {
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
  return Html(Page("brevisfetch-mirror",
                   "<h1>brevisfetch-mirror</h1>\n<p>A local mirror for <a href=\"" +
                       std::string(protocol::kProductPage) +
                       "\">BrevisFetch</a>.</p>\n<table>\n"
                       "<tr><th>number</th><th>kind</th><th>held by</th><th>pages</th></tr>\n" +
                       rows + "</table>\n"));
}

// The host and port the request came to, for the addresses in the answers: the Host header when
// it is a plain host name or address, the local socket address for a request without one.
// Empty for a Host header with other characters.
std::string MirrorServer::Impl::RequestHost(evhttp_request* req) {
  const char* given = evhttp_find_header(evhttp_request_get_input_headers(req), "Host");
  if (given != nullptr) {
    const std::string host = given;
    if (host.empty() || host.size() > 255 ||
        host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "0123456789.-:[]") != std::string::npos) {
      return {};
    }
    return host;
  }
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  const int fd =
      bufferevent_getfd(evhttp_connection_get_bufferevent(evhttp_request_get_connection(req)));
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
    ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    return "[" + std::string(text) + "]:" + std::to_string(ntohs(v6->sin6_port));
  }
  const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
  ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(v4->sin_port));
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
  // evhttp listens with SO_REUSEADDR, which reuses a port in TIME_WAIT but never shares it with
  // a server that still listens.
  impl_->bound =
      evhttp_bind_socket_with_handle(impl_->http, o.Bind.c_str(), static_cast<uint16_t>(o.Port));
  if (impl_->bound == nullptr) throw std::runtime_error("cannot listen on " + where);
  // Out of descriptors, accepting pauses for 100 ms instead of failing in a tight loop.
  evconnlistener_set_error_cb(evhttp_bound_socket_get_listener(impl_->bound),
                              [](evconnlistener* listener, void*) {
                                evconnlistener_disable(listener);
                                const timeval pause{0, 100 * 1000};
                                event_base_once(
                                    evconnlistener_get_base(listener), -1, EV_TIMEOUT,
                                    [](evutil_socket_t, short, void* arg) {
                                      evconnlistener_enable(static_cast<evconnlistener*>(arg));
                                    },
                                    listener, &pause);
                              });
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  ::getsockname(evhttp_bound_socket_get_fd(impl_->bound), reinterpret_cast<sockaddr*>(&address),
                &length);
  return address.ss_family == AF_INET6
             ? ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port)
             : ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

void MirrorServer::Run() {
  Impl& impl = *impl_;
  if (impl.bound == nullptr) throw std::logic_error("MirrorServer::Run before Bind.");
  if (impl.stopRequested) return;
  impl.flushEvent = event_new(
      impl.base, -1, EV_PERSIST,
      [](evutil_socket_t, short, void* arg) { static_cast<Impl*>(arg)->log.Flush(); }, &impl);
  event_add(impl.flushEvent, &kLogFlushInterval);
  if (!impl.options.AccessLog.empty()) {
    impl.hangUpEvent = evsignal_new(
        impl.base, SIGHUP,
        [](evutil_socket_t, short, void* arg) { static_cast<Impl*>(arg)->log.Reopen(); }, &impl);
    event_add(impl.hangUpEvent, nullptr);
  }
  // A Stop from now on has written to the pipe, which ends the loop at once.
  event_base_dispatch(impl.base);
  impl.log.Flush();
}

void MirrorServer::Stop() {
  impl_->stopRequested = true;
  const char byte = 0;
  [[maybe_unused]] const ssize_t n = ::write(impl_->stopPipe[1], &byte, 1);
}

int MirrorServer::OpenConnections() const { return impl_->open; }

}  // namespace brevis
