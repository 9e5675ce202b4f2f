// NginxServer: starts /usr/sbin/nginx in the foreground with a generated configuration.
#include "http/tests/nginx_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace brevis::testing {

namespace {

std::uint16_t FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  std::uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  ::close(fd);
  return port;
}

bool Accepts(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace

NginxServer::NginxServer() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "brevis-nginx-XXXXXX").string();
  std::vector<char> buffer(tmpl.begin(), tmpl.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) != nullptr) dir_ = buffer.data();
  root_ = dir_ / "www";
  std::filesystem::create_directories(root_);
}

NginxServer::~NginxServer() {
  Stop();
  std::error_code ec;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

std::string NginxServer::MakeFile(const std::string& relative_path, std::size_t size,
                                  unsigned seed) {
  std::string content(size, '\0');
  unsigned state = seed * 2654435761u + 1;
  for (char& c : content) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 23);
  }
  const std::filesystem::path path = root_ / relative_path;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary)
      .write(content.data(), static_cast<std::streamsize>(content.size()));
  return content;
}

bool NginxServer::Start() {
  if (pid_ > 0) return true;
  if (dir_.empty()) {
    error_ = "no temporary folder";
    return false;
  }
  if (::access(BREVISFETCH_NGINX, X_OK) != 0) {
    error_ = std::string(BREVISFETCH_NGINX) + " is not installed";
    return false;
  }
  for (const char* sub : {"body", "proxy", "fastcgi", "uwsgi", "scgi", "logs"}) {
    std::filesystem::create_directories(dir_ / sub);
  }
  const std::string d = dir_.string();
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = FreeLoopbackPort();
    std::ofstream conf(dir_ / "nginx.conf");
    conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
         << "pid " << d << "/nginx.pid;\nerror_log " << d << "/logs/error.log warn;\n"
         << "events { worker_connections 128; }\n"
         << "http {\n"
         << "  default_type application/octet-stream;\n"
         << "  types { text/html html; }\n"
         << "  log_format brevis '$connection \"$request\" $status';\n"
         << "  access_log " << d << "/logs/access.log brevis;\n"
         << "  client_body_temp_path " << d << "/body;\n"
         << "  proxy_temp_path " << d << "/proxy;\n"
         << "  fastcgi_temp_path " << d << "/fastcgi;\n"
         << "  uwsgi_temp_path " << d << "/uwsgi;\n"
         << "  scgi_temp_path " << d << "/scgi;\n"
         << "  keepalive_requests 100000;\n  keepalive_timeout 60s;\n"
         << "  sendfile on;\n  tcp_nopush on;\n"
         << "  server {\n"
         << "    listen 127.0.0.1:" << port_ << ";\n"
         << "    root " << root_.string() << ";\n"
         << "    location /chunked/ { sub_filter_types *; sub_filter 'zzzz' 'yyyy'; "
            "sub_filter_once off; }\n"
         << "    location /close/ { keepalive_timeout 0; }\n"
         << "    location = /empty { return 204; }\n"
         << "  }\n"
         << "}\n";
    conf.close();
    const std::string conf_path = (dir_ / "nginx.conf").string();
    std::vector<std::string> args = {BREVISFETCH_NGINX,    "-p", d, "-c", conf_path, "-e",
                                     d + "/logs/error.log"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
      error_ = "fork failed";
      return false;
    }
    if (pid == 0) {
      // Only async-signal-safe calls here. nginx ends with this process even when it dies
      // without stopping it, and does not hold the parent's output open.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      const int null_fd = ::open("/dev/null", O_RDWR);
      if (null_fd >= 0) {
        ::dup2(null_fd, STDIN_FILENO);
        ::dup2(null_fd, STDOUT_FILENO);
        ::dup2(null_fd, STDERR_FILENO);
      }
      ::execve(BREVISFETCH_NGINX, argv.data(), environ);
      ::_exit(127);
    }
    pid_ = pid;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;  // exited: perhaps the port was taken meanwhile; try another one
      }
      if (Accepts(port_)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Stop();
  }
  error_ = "nginx did not start: " + ReadFile(dir_ / "logs/error.log");
  return false;
}

void NginxServer::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

std::string NginxServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string NginxServer::AccessLog() const { return ReadFile(dir_ / "logs/access.log"); }

}  // namespace brevis::testing
