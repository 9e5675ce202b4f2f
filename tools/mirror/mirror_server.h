// MirrorServer: a local stand-in for the maker's mirror and update services and the patent
// office's search pages and page servers, over HTTP on libevent's event-driven server (evhttp):
// one thread serves every connection, and everything a client can hold is bounded.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brevis {

struct MirrorOptions {
  std::string DataDir;  // the patents, as MirrorData reads them
  std::string Bind = "127.0.0.1";
  int Port = 8642;               // 0: any free port
  std::string UpdateUrl;         // the update service's answer; empty: no update
  double FailRate = 0.0;         // share of page requests that fail on purpose
  int DelayMs = 0;               // added before every answer
  std::optional<uint64_t> Seed;  // fault choices; a random seed when none

  // What one client can hold. A request head must arrive in full within HeaderTimeoutMs of its
  // first byte (of the connection's opening, for its first request), or the connection gets a
  // 408 and is closed; a connection that sends nothing and takes nothing for IdleTimeoutMs is
  // closed (between requests, and while an answer waits for a client that does not read).
  int HeaderTimeoutMs = 10000;
  int IdleTimeoutMs = 15000;
  // Connections open at once, in all and from one client address; one more is answered 503 with
  // Retry-After and closed.
  int MaxConnections = 1024;
  int MaxConnectionsPerClient = 128;
  // Sizes of a request line (414 past it) and of a whole request head (431 past it), in bytes.
  int MaxRequestLine = 8192;
  int MaxHeaderBytes = 16384;

  // One line per request in the Combined Log Format with the duration (and the fault, if one was
  // injected) appended. AccessLog names a file to append them to, reopened on SIGHUP (for
  // logrotate); without one they go to Log, or to stderr when Log is empty too. Log is called
  // from the serving thread.
  std::string AccessLog;
  std::function<void(const std::string&)> Log;
};

class MirrorServer {
 public:
  // Throws std::runtime_error for a data folder that does not exist or an access log that
  // cannot be opened, std::invalid_argument for a fail rate outside [0, 1], a negative delay or
  // a limit below 1. Ignores SIGPIPE in the whole process: a client that goes away while its
  // answer is written must not end the server.
  explicit MirrorServer(MirrorOptions options);
  ~MirrorServer();
  MirrorServer(const MirrorServer&) = delete;
  MirrorServer& operator=(const MirrorServer&) = delete;

  // Binds the listening socket and returns its port. Throws std::runtime_error with the reason
  // ("cannot listen on 127.0.0.1:8642: Address already in use") when that fails.
  int Bind();
  // Serves on the bound socket until Stop is called. Call Bind first.
  void Run();
  // Ends Run; callable from any thread, also before Run has started.
  void Stop();
  // Connections open now (also the refused ones still being answered); from any thread.
  int OpenConnections() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace brevis
