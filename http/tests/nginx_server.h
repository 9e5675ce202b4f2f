// NginxServer: a private nginx on a free loopback port, with its own temporary configuration,
// document root, logs and temp paths; for tests and benchmarks against a real HTTP/1.1 server.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace brevis::testing {

class NginxServer {
 public:
  // Makes the temporary folder and document root; the server starts with Start().
  NginxServer();
  // Stops the server and removes the folder.
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  // Where to put the files to serve ("/" of the server).
  const std::filesystem::path& Root() const { return root_; }
  // Writes a file of `size` bytes under Root() with a byte pattern that depends on `seed`, and
  // returns its content.
  std::string MakeFile(const std::string& relative_path, std::size_t size, unsigned seed);

  // Starts nginx and waits until it accepts connections. Besides the static files it serves
  // /chunked/* through a body filter (chunked coding), /close/* with "Connection: close" and
  // /empty with status 204. Returns false (with Error()) when nginx cannot be started.
  bool Start();
  void Stop();

  std::uint16_t Port() const { return port_; }
  std::string Url(const std::string& path) const;
  // The access log: one line per request, "<connection number> <request line> <status>".
  std::string AccessLog() const;
  const std::string& Error() const { return error_; }

 private:
  std::filesystem::path dir_;
  std::filesystem::path root_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
  std::string error_;
};

}  // namespace brevis::testing
