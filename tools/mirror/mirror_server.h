// MirrorServer: a local stand-in for the maker's mirror and update services and the patent
// office's search pages and page servers, over HTTP on top of cpp-httplib.
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
  // Receives one line per request; stderr when empty. Called from the serving threads, one call
  // at a time.
  std::function<void(const std::string&)> Log;
};

class MirrorServer {
 public:
  // Throws std::runtime_error for a data folder that does not exist, std::invalid_argument for
  // a fail rate outside [0, 1] or a negative delay.
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

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace brevis
