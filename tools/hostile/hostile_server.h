// HostileServer: a loopback HTTP peer on plain POSIX sockets that answers BrevisFetch's lookup
// properly, pointing the pages at itself, and then serves the pages (or the lookup answer) in
// one of the HostileMode ways, so that clients can be tried against every misbehaviour.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "tools/hostile/hostile_mode.h"

namespace brevis {

struct HostileOptions {
  std::string Bind = "127.0.0.1";
  int Port = 8643;  // 0: any free port
  HostileMode PageMode = HostileMode::kGood;
  HostileMode LookupMode = HostileMode::kGood;  // how the mirror's answer is sent
  int Pages = 3;  // page count of every number, when no data folder is given
  // A mirror data folder (brevisfetch-mirror --make-sample): page counts and page files from
  // there. Empty: pages are drawn by the page generator.
  std::string DataDir;
  int TrickleMs = 1000;  // pause between two bytes in kTrickle
  // kRetryAfter: the first request in that mode opens a window of this many seconds, during
  // which every request in that mode gets 429 with the seconds left (rounded up) as Retry-After.
  int RetryAfterS = 2;
  // Receives one line per request: the request line, the status answered, the mode, the arrival
  // in milliseconds since the server was made ("at=1234") and, for a 429, the Retry-After sent.
  // Stderr when empty. Called from the connection threads, one call at a time.
  std::function<void(const std::string&)> Log;
};

class HostileServer {
 public:
  // Throws std::invalid_argument for a page count below 1, a trickle pause below 1 ms or a
  // Retry-After below 1 s, and std::runtime_error for a data folder that does not exist.
  explicit HostileServer(HostileOptions options);
  // Stops serving and waits for every connection's thread.
  ~HostileServer();
  HostileServer(const HostileServer&) = delete;
  HostileServer& operator=(const HostileServer&) = delete;

  // Binds and listens; returns the port. Throws std::runtime_error with the reason.
  int Bind();
  // Accepts connections, one thread each, until Stop; then ends every connection and returns.
  void Run();
  // Ends Run; callable from any thread (not from a signal handler), also before Run.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace brevis
