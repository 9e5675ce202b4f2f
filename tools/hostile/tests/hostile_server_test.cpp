// HostileServer on loopback, read with raw sockets: the proper lookup pointing the pages at
// itself, and what each mode sends a page request or the lookup, byte for byte where it ends.
#include "tools/hostile/hostile_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/lookup_answers.h"
#include "protocol/service_protocol.h"
#include "cipher/rsa.h"
#include "common/text.h"
#include "stand_in/tests/serving_thread.h"

namespace brevis {
namespace {

namespace fs = std::filesystem;

constexpr char kNumber[] = "200710038426";
constexpr int kTrickleMs = 20;
// How much of an endless answer is read before it counts as endless.
constexpr std::size_t kEndlessBytes = 256 * 1024;

std::string PageBytes(int page) {
  return std::string("II*\0", 4) + "page " + std::to_string(page) + std::string(3000, 'p');
}

// A data folder with one patent of two small pages.
class DataDir {
 public:
  DataDir()
      : path_(fs::temp_directory_path() / ("hostile_server_test_" + std::to_string(::getpid()))) {
    fs::remove_all(path_);
    fs::create_directories(path_ / kNumber);
    std::ofstream(path_ / kNumber / "manifest") << "kind = fmzl\nsource = mirror\n";
    for (int page = 1; page <= 2; ++page) {
      std::ofstream(path_ / kNumber / ("00000" + std::to_string(page) + ".tif"), std::ios::binary)
          << PageBytes(page);
    }
  }
  ~DataDir() { fs::remove_all(path_); }
  std::string Path() const { return path_.string(); }

 private:
  fs::path path_;
};

using RunningServer = test::ServingThread<HostileServer>;

struct Received {
  std::string bytes;
  bool closed = false;  // the server ended the connection
};

// Sends `request`, then reads until the server closes, `limit` bytes have come or `waitMs` has
// passed, whichever is first.
Received Exchange(int port, const std::string& request, std::size_t limit, int waitMs) {
  Received received;
  const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(sock);
    ADD_FAILURE() << "cannot connect";
    return received;
  }
  ::send(sock, request.data(), request.size(), MSG_NOSIGNAL);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  char buffer[16384];
  while (received.bytes.size() < limit) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd fd{sock, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0) break;
    const ssize_t n = ::recv(sock, buffer, sizeof buffer, 0);
    if (n <= 0) {
      received.closed = true;
      break;
    }
    received.bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(sock);
  return received;
}

std::string Get(const std::string& target) {
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

std::string ProperAnswer(int status, const std::string& type, const std::string& body) {
  return "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Bad Request") +
         "\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

std::string MirrorTarget(const std::string& number) {
  const RSA rsa(kAppKeyN, kAppKeyE, kAppKeyD);
  return protocol::MirrorTarget<char>(Utf16ToUtf8(rsa.Encrypt(Utf8ToUtf16(number))));
}

class HostileServerTest : public ::testing::Test {
 protected:
  HostileOptions Options() const {
    HostileOptions options;
    options.DataDir = data_.Path();
    options.TrickleMs = kTrickleMs;
    options.Log = [](const std::string&) {};
    return options;
  }
  DataDir data_;
};

TEST_F(HostileServerTest, LookupPointsThePagesAtItselfAndTheRestIsProper) {
  RunningServer server(Options());
  const Received lookup = Exchange(server.Port(), Get(MirrorTarget(kNumber)), kEndlessBytes, 5000);
  ASSERT_TRUE(lookup.closed);
  const std::string body = lookup.bytes.substr(lookup.bytes.find("\r\n\r\n") + 4);
  EXPECT_EQ(lookup.bytes, ProperAnswer(200, "text/plain", body));
  // Read as the application reads it.
  ReRazavu read;
  ReadMirrorAnswer(RSA(kAppKeyN, kAppKeyE, kAppKeyD), Utf8ToUtf16(body), read);
  EXPECT_EQ(read.GkPages, 2);
  const std::string base =
      "http://127.0.0.1:" + std::to_string(server.Port()) + "/pages/" + kNumber;
  EXPECT_EQ(Utf16ToUtf8(read.GkUrl), base);

  struct Case {
    std::string target;
    std::string answer;
  };
  const Case kCases[] = {
      {"/pages/" + std::string(kNumber) + "/000002.tif",
       ProperAnswer(200, "image/tiff", PageBytes(2))},
      {protocol::UpdateTarget<char>(), ProperAnswer(200, "text/plain", "")},
      // A number the folder does not hold: an empty lookup answer.
      {MirrorTarget("200710099999"), ProperAnswer(200, "text/plain", "")},
      {protocol::MirrorTarget<char>("12a4"), ProperAnswer(400, "text/plain", "Bad request\n")},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.target);
    const Received received = Exchange(server.Port(), Get(c.target), kEndlessBytes, 5000);
    EXPECT_TRUE(received.closed);
    EXPECT_EQ(received.bytes, c.answer);
  }
}

TEST_F(HostileServerTest, EachModeMisbehavesAsNamed) {
  enum class Shape {
    kProper,    // the proper answer, then the connection closes
    kCutShort,  // the proper head and half the body, then the connection closes
    kExact,     // `start` exactly, then the connection closes
    kEndless,   // `start`, then more than kEndlessBytes in all without `never`, never closing
    kTrickle,   // a beginning of the proper answer, a byte a pause, the connection open
    kNothing,   // not a byte, the connection open
  };
  struct Case {
    HostileMode mode;
    bool lookup;  // the mode is the lookup's and the request the mirror's; else a page's
    Shape shape;
    std::string start;
    std::string never;
  };
  const std::string notTiff = "<html><body><h1>Service unavailable</h1></body></html>\n";
  const Case kCases[] = {
      {HostileMode::kGood, false, Shape::kProper, "", ""},
      {HostileMode::kGarbageStatus, false, Shape::kExact,
       std::string("\0\x01\x7F\x1B[2J\xFF garbage\0\r\n\r\n", 20), ""},
      {HostileMode::kEndlessHeaders, false, Shape::kEndless, "HTTP/1.1 200 OK\r\nX-Filler-0: h",
       "\r\n\r\n"},
      {HostileMode::kEndlessChunks, false, Shape::kEndless,
       "HTTP/1.1 200 OK\r\nContent-Type: image/tiff\r\nTransfer-Encoding: chunked\r\n"
       "Connection: close\r\n\r\n10000\r\nccc",
       "\r\n0\r\n"},
      {HostileMode::kEndlessBody, false, Shape::kEndless,
       "HTTP/1.1 200 OK\r\nContent-Type: image/tiff\r\nConnection: close\r\n\r\nbbb", "Length"},
      {HostileMode::kEndlessContinue, false, Shape::kEndless,
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 100 Continue\r\n\r\n", "200"},
      {HostileMode::kCutShort, false, Shape::kCutShort, "", ""},
      {HostileMode::kTrickle, false, Shape::kTrickle, "", ""},
      {HostileMode::kSilent, false, Shape::kNothing, "", ""},
      {HostileMode::kNotTiff, false, Shape::kExact, ProperAnswer(200, "text/html", notTiff), ""},
      // The lookup's answer in a bad way.
      {HostileMode::kCutShort, true, Shape::kCutShort, "", ""},
      {HostileMode::kTrickle, true, Shape::kTrickle, "", ""},
      {HostileMode::kSilent, true, Shape::kNothing, "", ""},
      {HostileMode::kNotTiff, true, Shape::kExact, ProperAnswer(200, "text/html", notTiff), ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(ModeName(c.mode)) + (c.lookup ? " lookup" : " pages"));
    HostileOptions options = Options();
    (c.lookup ? options.LookupMode : options.PageMode) = c.mode;
    RunningServer server(options);
    // The proper answer, as the good mode sends it.
    std::string proper;
    if (c.lookup) {
      const RSA rsa(kAppKeyN, kAppKeyE, kAppKeyD);
      const std::string base = "http://127.0.0.1:" + std::to_string(server.Port()) + "/pages/";
      proper = ProperAnswer(200, "text/plain",
                            Utf16ToUtf8(rsa.Encrypt(Utf8ToUtf16("2\t" + base + kNumber))));
    } else {
      proper = ProperAnswer(200, "image/tiff", PageBytes(1));
    }
    const std::string request =
        Get(c.lookup ? MirrorTarget(kNumber) : "/pages/" + std::string(kNumber) + "/000001.tif");
    const std::size_t head = proper.find("\r\n\r\n") + 4;
    const std::size_t bodySize = proper.size() - head;

    switch (c.shape) {
      case Shape::kProper:
      case Shape::kCutShort:
      case Shape::kExact: {
        const Received received = Exchange(server.Port(), request, kEndlessBytes, 5000);
        EXPECT_TRUE(received.closed);
        const std::string expected = c.shape == Shape::kProper ? proper
                                     : c.shape == Shape::kCutShort
                                         ? proper.substr(0, head + bodySize / 2)
                                         : c.start;
        EXPECT_EQ(received.bytes, expected);
        break;
      }
      case Shape::kEndless: {
        const Received received = Exchange(server.Port(), request, kEndlessBytes, 10000);
        EXPECT_FALSE(received.closed);
        EXPECT_GE(received.bytes.size(), kEndlessBytes);
        EXPECT_EQ(received.bytes.compare(0, c.start.size(), c.start), 0);
        EXPECT_EQ(received.bytes.find(c.never), std::string::npos);
        break;
      }
      case Shape::kTrickle: {
        constexpr int kWaitMs = 300;
        const Received received = Exchange(server.Port(), request, proper.size(), kWaitMs);
        EXPECT_FALSE(received.closed);
        EXPECT_GE(received.bytes.size(), 1u);
        // One byte, then one more after each pause.
        EXPECT_LE(received.bytes.size(), std::size_t{kWaitMs / kTrickleMs + 1});
        EXPECT_EQ(proper.compare(0, received.bytes.size(), received.bytes), 0);
        break;
      }
      case Shape::kNothing: {
        const Received received = Exchange(server.Port(), request, proper.size(), 300);
        EXPECT_FALSE(received.closed);
        EXPECT_EQ(received.bytes, "");
        break;
      }
    }
  }
}

TEST_F(HostileServerTest, RetryAfterModeRefusesForItsWindowThenServes) {
  HostileOptions options = Options();
  options.PageMode = HostileMode::kRetryAfter;
  options.RetryAfterS = 1;
  std::vector<std::string> log;
  options.Log = [&log](const std::string& line) { log.push_back(line); };
  {
    RunningServer server(options);
    const std::string request = Get("/pages/" + std::string(kNumber) + "/000001.tif");
    const std::string refusal =
        "HTTP/1.1 429 Too Many Requests\r\nContent-Type: text/plain\r\nRetry-After: 1\r\n"
        "Content-Length: 18\r\nConnection: close\r\n\r\nToo many requests\n";
    // The first request opens the window; the next one inside it is refused too.
    EXPECT_EQ(Exchange(server.Port(), request, kEndlessBytes, 5000).bytes, refusal);
    EXPECT_EQ(Exchange(server.Port(), request, kEndlessBytes, 5000).bytes, refusal);
    // The lookup is not limited.
    EXPECT_EQ(Exchange(server.Port(), Get(MirrorTarget(kNumber)), kEndlessBytes, 5000)
                  .bytes.substr(0, 15),
              "HTTP/1.1 200 OK");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(Exchange(server.Port(), request, kEndlessBytes, 5000).bytes,
              ProperAnswer(200, "image/tiff", PageBytes(1)));
  }  // the log is read once the server's threads have ended
  ASSERT_EQ(log.size(), 4u);
  EXPECT_NE(log[0].find("\" 429 mode=retry-after at="), std::string::npos) << log[0];
  EXPECT_TRUE(log[0].ends_with(" retry-after=1")) << log[0];
  EXPECT_NE(log[3].find("\" 200 mode=retry-after at="), std::string::npos) << log[3];
}

}  // namespace
}  // namespace brevis
