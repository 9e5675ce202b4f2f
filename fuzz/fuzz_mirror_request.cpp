// Fuzz target: the mirror's request handling, with one MirrorServer on loopback serving the
// sample data with small head limits. Each input is sent as a raw request and, read as fields, as
// a well-formed request to a route picked by its first byte (page files with hostile Range and
// validator fields among them), so that the heads' reading beside evhttp, the handlers and the
// file answers see hostile values. No answer may be a server error, every connection must end,
// no connection may stay open after its client's, and a proper request must still get a 200
// after every input.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "protocol/service_protocol.h"
#include "cipher/rsa.h"
#include "common/text.h"
#include "fuzz/fuzz_input.h"
#include "stand_in/mirror_data.h"
#include "tools/mirror/mirror_server.h"

namespace {

using brevis::fuzz::Check;
namespace fs = std::filesystem;

// Answers take milliseconds; a connection still open after this is wedged. Short enough that the
// first wedged connection is reported before libFuzzer's time-out.
constexpr int kAnswerWaitMs = 3000;

// The server, serving the sample data from a folder made for this process, on its own thread.
// Never destroyed: its threads may still run while the process ends.
class InProcessMirror {
 public:
  InProcessMirror() {
    const char* tmp = std::getenv("TMPDIR");
    const fs::path base = tmp != nullptr && *tmp != '\0' ? fs::path(tmp)
                          : fs::is_directory("/dev/shm") ? fs::path("/dev/shm")
                                                         : fs::temp_directory_path();
    dir_ = (base / ("fuzz_mirror_request-" + std::to_string(getpid()))).string();
    brevis::MirrorData::MakeSample(dir_);
    std::atexit([] { fs::remove_all(Get().dir_); });
    brevis::MirrorOptions options;
    options.DataDir = dir_;
    options.Port = 0;
    options.UpdateUrl = "http://127.0.0.1" + std::string(brevis::protocol::kProductPage);
    options.Seed = 1;
    options.Log = [](const std::string&) {};
    // Small enough that inputs reach them, large enough for every route's proper request.
    options.MaxRequestLine = 512;
    options.MaxHeaderBytes = 2048;
    server_ = new brevis::MirrorServer(options);
    port_ = static_cast<uint16_t>(server_->Bind());
    std::thread([this] { server_->Run(); }).detach();
  }

  static InProcessMirror& Get() {
    static InProcessMirror* const mirror = new InProcessMirror();
    return *mirror;
  }
  uint16_t Port() const { return port_; }
  int OpenConnections() const { return server_->OpenConnections(); }

 private:
  std::string dir_;
  brevis::MirrorServer* server_ = nullptr;
  uint16_t port_ = 0;
};

// Connects `fd` to `addr`. A connect interrupted by a signal goes on in the background; it is
// waited for then.
bool Connect(int fd, const sockaddr_in& addr) {
  if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return true;
  if (errno != EINTR) return false;
  pollfd p{fd, POLLOUT, 0};
  int ready;
  do {
    ready = poll(&p, 1, kAnswerWaitMs);
  } while (ready < 0 && errno == EINTR);
  int error = 0;
  socklen_t length = sizeof error;
  if (ready != 1 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
  errno = error;
  return error == 0;
}

// Sends `request`, ends the sending side and reads until the server closes the connection or
// `wait_ms` pass. Returns what arrived; `closed` tells whether the server closed.
std::string Exchange(std::string_view request, int wait_ms, bool& closed) {
  closed = false;
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(InProcessMirror::Get().Port());
  if (fd < 0 || !Connect(fd, addr)) {
    const std::string what = std::string("the server takes connections: ") + std::strerror(errno);
    brevis::fuzz::Fail(what.c_str());
  }
  size_t sent = 0;
  while (sent < request.size()) {
    // The server may answer and close before it has read everything; that is its right.
    const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  shutdown(fd, SHUT_WR);
  std::string answer;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    // libFuzzer's time-out alarm interrupts waits now and then.
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready != 1) break;
    char buf[8192];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      closed = true;
      break;
    }
    answer.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return answer;
}

// The status code of an answer's status line, or 0 when it has none.
int Status(const std::string& answer) {
  if (answer.size() < 12 || answer.compare(0, 9, "HTTP/1.1 ") != 0) return 0;
  int code = 0;
  for (size_t i = 9; i < 12; ++i) {
    if (answer[i] < '0' || answer[i] > '9') return 0;
    code = code * 10 + (answer[i] - '0');
  }
  return code;
}

// Sends a request and checks that the connection ends and that no answer is a server error.
// Returns the answer's status, 0 for none.
int Send(std::string_view request) {
  bool closed = false;
  const std::string answer = Exchange(request, kAnswerWaitMs, closed);
  Check(closed, "the server ends every connection");
  const int status = Status(answer);
  Check(answer.empty() || status != 0, "an answer starts with a status line");
  Check(status < 500, "no request makes a handler fail");
  return status;
}

// Bytes as a query or path value: everything but unreserved characters as %XX.
std::string Encode(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
        b == '.' || b == '_' || b == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

// A well-formed request built from the input: byte 0 picks the route, then three fields
// separated by "\n": two values for the route and the Host header (none when empty).
std::string StructuredRequest(const uint8_t* data, size_t size) {
  static const brevis::RSA cipher(brevis::kAppKeyN, brevis::kAppKeyE, brevis::kAppKeyD);
  const auto fields_of = brevis::fuzz::Fields(data + 1, size - 1, 3);
  const std::string a = Encode(fields_of[0]);
  const std::string b = Encode(fields_of[1]);
  namespace protocol = brevis::protocol;
  // "<script>?<name>=<value>&<name>=<value>", the values as they stand.
  const auto query = [](std::string_view script, std::string_view name, const std::string& value,
                        std::string_view name2, const std::string& value2) {
    return std::string(script) + "?" + std::string(name) + "=" + value + "&" + std::string(name2) +
           "=" + value2;
  };
  std::string target;
  std::string fields;  // header fields beyond Host
  switch (data[0] % 10) {
    case 0:
      target = protocol::MirrorTarget<char>(a);
      break;
    case 1:  // cipher text of the value, which reaches the patents and the Host header
      target = protocol::MirrorTarget<char>(
          Encode(brevis::Utf16ToUtf8(cipher.Encrypt(brevis::Latin1ToUtf16(fields_of[0])))));
      break;
    case 2:
      target = query(protocol::kSearchScript, protocol::kSearchNumberParam, a,
                     protocol::kSearchKindParam, b) +
               std::string(protocol::kSearchTail);
      break;
    case 3:
      target = std::string(protocol::kPagesPrefix) + a + "/" + b + ".tif";
      break;
    case 4:
      target = query(protocol::kUpdateScript, protocol::kUpdateProductParam, a,
                     protocol::kUpdateVersionParam, b);
      break;
    case 5:
      target = std::string(protocol::kProductPage) + "?" + a;
      break;
    case 6:
      target = "/" + a;
      break;
    case 7:
    case 8: {
      // A page file with the values as Range and If-Range, or as the validators.
      const auto field = [](std::string_view value) {
        std::string text;
        for (char c : value) {
          if (c != '\r' && c != '\n' && c != '\0') text += c;
        }
        return text;
      };
      target = std::string(protocol::kPagesPrefix) + "200710038426/000001.tif";
      fields = data[0] % 10 == 7 ? "Range: " + field(fields_of[0]) +
                                       "\r\nIf-Range: " + field(fields_of[1]) + "\r\n"
                                 : "If-None-Match: " + field(fields_of[0]) +
                                       "\r\nIf-Modified-Since: " + field(fields_of[1]) + "\r\n";
      break;
    }
    default:
      // The value as it stands, but for bytes that would end the request line.
      for (char c : fields_of[0]) {
        const auto byte = static_cast<uint8_t>(c);
        target += byte <= ' ' || byte == 0x7F ? Encode(std::string_view(&c, 1)) : std::string(1, c);
      }
      if (target.empty() || target[0] != '/') {
        target.insert(0, std::string(protocol::kMirrorScript) + "?");
      }
      break;
  }
  std::string host;
  for (char c : fields_of[2]) {
    if (c != '\r' && c != '\n' && c != '\0') host += c;
  }
  return "GET " + target + " HTTP/1.1\r\n" + (host.empty() ? "" : "Host: " + host + "\r\n") +
         fields + "Connection: close\r\n\r\n";
}

}  // namespace

// The mirror and its sample data (66 drawn pages, seconds under the sanitizers) are made before
// the first input, so that their making is not counted against an input's time-out.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InProcessMirror::Get();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InProcessMirror::Get();
  Send(std::string_view(reinterpret_cast<const char*>(data), size));
  if (size > 0) Send(StructuredRequest(data, size));
  const int status = Send("GET " + brevis::protocol::UpdateTarget<char>() +
                          " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  Check(status == 200, "a proper request still gets a 200");
  // Every connection of this input has ended on the client's side; the server lets go of each
  // once it has read the end, within a moment.
  for (int i = 0; i < 200 && InProcessMirror::Get().OpenConnections() > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  Check(InProcessMirror::Get().OpenConnections() == 0, "the server lets go of every connection");
  return 0;
}
