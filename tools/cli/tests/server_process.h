// ServerProcess: a server program (brevisfetch-mirror, brevisfetch-hostile) run by a test in a
// process of its own on a free loopback port, found through the address on its first line.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace brevis::test {

class ServerProcess {
 public:
  // Runs `args` (the program's path first) with its stderr appended to `log`, and waits for
  // its first line on stdout, which must end with "http://HOST:PORT/". Throws
  // std::runtime_error when it does not.
  ServerProcess(std::vector<std::string> args, const std::filesystem::path& log) {
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      FILE* err = std::fopen(log.c_str(), "a");
      if (err != nullptr) ::dup2(::fileno(err), STDERR_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(out[0]);
    const std::size_t at = line.rfind("http://");
    if (at == std::string::npos) throw std::runtime_error("server did not start: " + line);
    base_ = line.substr(at, line.size() - at - 1);
  }
  // Ends the server (SIGTERM) and waits for it.
  ~ServerProcess() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // "http://HOST:PORT", without the closing "/".
  const std::string& Base() const { return base_; }

 private:
  pid_t pid_ = -1;
  std::string base_;
};

}  // namespace brevis::test
