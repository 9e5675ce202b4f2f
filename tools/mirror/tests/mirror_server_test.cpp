// MirrorServer on loopback with our own HttpClient (and raw sockets for requests it would never
// send): every endpoint, the answers read by the application's own lookup, malformed requests,
// injected faults, and the brevisfetch-mirror executable itself.
#include "tools/mirror/mirror_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cipher/rsa.h"
#include "common/stream.h"
#include "common/text.h"
#include "core/lookup_answers.h"
#include "http/http_client.h"
#include "http/http_errors.h"
#include "protocol/service_protocol.h"
#include "stand_in/mirror_data.h"
#include "stand_in/tests/serving_thread.h"

namespace brevis {
namespace {

namespace fs = std::filesystem;

using protocol::MirrorTarget;
using protocol::SearchTarget;

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string PageBytes(const std::string& number, int page) {
  return "II*\0page " + std::to_string(page) + " of " + number + std::string(3000, 'x');
}

// A small data folder: one patent per way of being held, and one broken manifest.
fs::path MakeData() {
  const fs::path dir =
      fs::temp_directory_path() / ("mirror_server_test_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  struct Patent {
    const char* number;
    const char* manifest;
    int pages;
  };
  const Patent kPatents[] = {
      {"200710038426", "kind = fmzl\nsource = mirror\n", 3},
      {"200820123456", "kind = syxx\nsource = office\n", 2},
      {"98123456", "kind = fmzl\nsource = office\n", 1},
      {"201010000001", "kind = fmzl\nsource = both\n", 1},
      {"200710000002", "kind = fmzl\nsource = attic\n", 1},
  };
  for (const Patent& p : kPatents) {
    WriteFile(dir / p.number / "manifest", p.manifest);
    for (int page = 1; page <= p.pages; ++page) {
      char name[16];
      std::snprintf(name, sizeof name, "%.6d.tif", page);
      WriteFile(dir / p.number / name, PageBytes(p.number, page));
    }
  }
  WriteFile(dir / "secret.txt", "outside every patent");
  return dir;
}

// A server on an ephemeral loopback port, serving on its own thread, with its log captured.
class RunningServer {
 public:
  explicit RunningServer(MirrorOptions options) : server_(Logged(std::move(options))) {}
  int Port() const { return server_.Port(); }
  int OpenConnections() const { return server_.Get().OpenConnections(); }
  std::string Url(const std::string& path, const std::string& host = "127.0.0.1") const {
    return "http://" + host + ":" + std::to_string(Port()) + path;
  }
  std::vector<std::string> Log() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return log_;
  }

 private:
  // The options with the log going to log_, which lives as long as the server.
  MirrorOptions Logged(MirrorOptions options) {
    options.Log = [this](const std::string& line) {
      const std::lock_guard<std::mutex> guard(lock_);
      log_.push_back(line);
    };
    return options;
  }

  mutable std::mutex lock_;
  std::vector<std::string> log_;
  test::ServingThread<MirrorServer> server_;  // last: stopped before the log goes
};

struct Fetched {
  int status = 0;  // 0: no HTTP answer
  std::string body;
  std::string error;  // message of a failure other than an HTTP status
};

// One GET with a fresh client, as a download worker makes it.
Fetched Fetch(const std::string& url) {
  Fetched reply;
  HttpClient client;
  client.SetReadTimeout(5000);
  MemoryStream body;
  try {
    client.Get(Utf8ToUtf16(url), body);
    reply.status = client.ResponseCode();
    reply.body = body.ToString();
  } catch (const HttpProtocolError& e) {
    reply.status = e.ErrorCode();
    reply.body = Utf16ToUtf8(e.ErrorMessage());
  } catch (const NetError& e) {
    reply.error = e.what();
  }
  return reply;
}

// Sends raw bytes and returns everything the server sends back until it closes.
std::string RawExchange(int port, const std::string& request) {
  const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    timeval timeout{5, 0};
    ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::send(sock, request.data(), request.size(), MSG_NOSIGNAL);
    char buffer[4096];
    for (ssize_t n; (n = ::recv(sock, buffer, sizeof buffer, 0)) > 0;) {
      answer.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(sock);
  return answer;
}

int StatusOf(const std::string& answer) {
  if (answer.compare(0, 9, "HTTP/1.1 ") != 0 || answer.size() < 12) return 0;
  return std::stoi(answer.substr(9, 3));
}

// A raw connection to the server that stays open between exchanges.
class RawConnection {
 public:
  explicit RawConnection(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawConnection() { ::close(fd_); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool Connected() const { return connected_; }
  bool Send(const std::string& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  // Reads until the server closes the connection or `ms` pass; `closed` tells which.
  std::string ReadUntilClosed(int ms, bool& closed) {
    return Read(ms, closed, [](const std::string&) { return false; });
  }
  // Reads one answer with a Content-Length (or none) without waiting for the connection's end;
  // the answer to a HEAD ends with its head.
  std::string ReadAnswer(int ms = 5000, bool head = false) {
    bool closed = false;
    return Read(ms, closed, [head](const std::string& got) {
      const std::size_t end = got.find("\r\n\r\n");
      if (end == std::string::npos) return false;
      const std::size_t at = got.find("Content-Length: ");
      const std::size_t length =
          !head && at != std::string::npos && at < end ? std::stoul(got.substr(at + 16)) : 0;
      return got.size() >= end + 4 + length;
    });
  }

 private:
  template <typename Done>
  std::string Read(int ms, bool& closed, Done done) {
    closed = false;
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done(got)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{fd_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1) break;
      char buffer[4096];
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) {
        closed = true;
        break;
      }
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }

  int fd_;
  bool connected_ = false;
};

// Waits up to 2 s for `done`, which the server's thread makes true; returns it.
template <typename Done>
bool WaitUntil(Done done) {
  for (int i = 0; i < 200 && !done(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

// The value of header `name` in an answer, empty when it has none.
std::string HeaderOf(const std::string& answer, const std::string& name) {
  const std::size_t end = answer.find("\r\n\r\n");
  const std::size_t at = answer.find("\r\n" + name + ": ");
  if (at == std::string::npos || at > end) return {};
  const std::size_t start = at + name.size() + 4;
  return answer.substr(start, answer.find("\r\n", start) - start);
}

std::string BodyOf(const std::string& answer) {
  const std::size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

// What the application's lookup reads from an answer body: the page count and the base address.
struct Found {
  int pages = 0;
  std::string base;
};

Found ReadMirror(const std::string& body) {
  ReRazavu result;
  ReadMirrorAnswer(RSA(kAppKeyN, kAppKeyE, kAppKeyD), Utf8ToUtf16(body), result);
  return {result.GkPages, Utf16ToUtf8(result.GkUrl)};
}

// The search page read as the application reads it for a patent of kind `leixin`.
Found ReadSearch(const std::string& page, const std::string& leixin) {
  ReRazavu result;
  ReadSearchPage(Utf8ToUtf16(page), Utf8ToUtf16(leixin), result);
  return {result.GkPages, Utf16ToUtf8(result.GkUrl)};
}

std::string Encipher(const std::string& number) {
  return Utf16ToUtf8(RSA(kAppKeyN, kAppKeyE, kAppKeyD).Encrypt(Utf8ToUtf16(number)));
}

std::string Decipher(const std::string& digits) {
  return Utf16ToUtf8(RSA(kAppKeyN, kAppKeyE, kAppKeyD).Decrypt(Latin1ToUtf16(digits)));
}

class MirrorServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { data_ = new fs::path(MakeData()); }
  static void TearDownTestSuite() {
    fs::remove_all(*data_);
    delete data_;
  }
  static MirrorOptions Options() {
    MirrorOptions options;
    options.DataDir = data_->string();
    return options;
  }
  static fs::path* data_;
};
fs::path* MirrorServerTest::data_ = nullptr;

// Mirror service.

TEST_F(MirrorServerTest, MirrorAnswersThePagesAndTheBaseInCipherText) {
  RunningServer server(Options());
  const Fetched reply = Fetch(server.Url(MirrorTarget<char>(Encipher("200710038426"))));
  ASSERT_EQ(reply.status, 200) << reply.error;
  EXPECT_EQ(reply.body.find_first_not_of("0123456789"), std::string::npos);
  const Found answer = ReadMirror(reply.body);
  EXPECT_EQ(answer.pages, 3);
  EXPECT_EQ(answer.base, server.Url("/pages/200710038426"));
  // The base address leads to the pages.
  const Fetched page = Fetch(answer.base + "/000003.tif");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.body, PageBytes("200710038426", 3));
}

TEST_F(MirrorServerTest, MirrorBaseAddressUsesTheHostTheRequestCameTo) {
  RunningServer server(Options());
  const std::string cipher = Encipher("201010000001");
  const Fetched named = Fetch(server.Url(MirrorTarget<char>(cipher), "localhost"));
  ASSERT_EQ(named.status, 200) << named.error;
  EXPECT_EQ(Decipher(named.body), "1\t" + server.Url("/pages/201010000001", "localhost"));

  // Without a Host header: the address and port the connection came to.
  const std::string answer =
      RawExchange(server.Port(), "GET " + MirrorTarget<char>(cipher) + " HTTP/1.0\r\n\r\n");
  ASSERT_EQ(StatusOf(answer), 200) << answer;
  EXPECT_EQ(Decipher(answer.substr(answer.find("\r\n\r\n") + 4)),
            "1\t" + server.Url("/pages/201010000001"));
}

TEST_F(MirrorServerTest, MirrorAnswersEmptyForPatentsItDoesNotHold) {
  RunningServer server(Options());
  for (const char* number : {"98123456", "200820123456", "123456789012", "1"}) {
    SCOPED_TRACE(number);
    const Fetched reply = Fetch(server.Url(MirrorTarget<char>(Encipher(number))));
    EXPECT_EQ(reply.status, 200) << reply.error;
    EXPECT_EQ(reply.body, "");
  }
}

// Patent office search page.

TEST_F(MirrorServerTest, SearchPageCarriesTheFragmentTheLookupReads) {
  RunningServer server(Options());
  struct Case {
    const char* number;
    const char* leixin;  // asked for
    const char* readAs;  // the kind the page is read for, which picks the fragment
    int pages;           // 0: nothing found
  };
  const Case kCases[] = {
      {"98123456", "fmzl", "fmzl", 1},
      {"200820123456", "syxx", "syxx", 2},
      {"201010000001", "fmzl", "fmzl", 1},
      // Only the fragment of the patent's own kind is there.
      {"98123456", "syxx", "syxx", 0},
      {"200820123456", "fmzl", "fmzl", 0},
      // Held by the mirror alone, or by nobody.
      {"200710038426", "fmzl", "fmzl", 0},
      {"200710038426", "fmzl", "syxx", 0},
      {"200710038427", "fmzl", "fmzl", 0},
      {"200720038427", "syxx", "syxx", 0},
      {"200720038427", "syxx", "fmzl", 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.number) + " " + c.leixin + " read as " + c.readAs);
    const Fetched reply = Fetch(server.Url(SearchTarget<char>(c.number, c.leixin)));
    ASSERT_EQ(reply.status, 200) << reply.error;
    EXPECT_NE(reply.body.find("<html"), std::string::npos);
    const Found found = ReadSearch(reply.body, c.readAs);
    EXPECT_EQ(found.pages, c.pages);
    if (c.pages == 0) {
      EXPECT_EQ(found.base, "");
      continue;
    }
    EXPECT_EQ(found.base, server.Url(std::string("/pages/") + c.number));
    EXPECT_EQ(Fetch(found.base + "/000001.tif").body, PageBytes(c.number, 1));
  }
}

// Page files.

TEST_F(MirrorServerTest, ServesPageFilesAndRefusesEverythingElseUnderPages) {
  RunningServer server(Options());
  EXPECT_EQ(Fetch(server.Url("/pages/200710038426/000002.tif")).body, PageBytes("200710038426", 2));
  struct Case {
    const char* path;
    int status;
  };
  const Case kCases[] = {
      {"/pages/200710038426/000004.tif", 404},  // past the last page
      {"/pages/200710038426/000000.tif", 404},
      {"/pages/200710038427/000001.tif", 404},   // no such patent
      {"/pages/200710038426/0000001.tif", 404},  // not the page's own name
      {"/pages/200710038426/1.tif", 404},
      {"/pages/200710038426/manifest", 404},
      {"/pages/200710038426/", 404},
      {"/secret.txt", 404},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(Fetch(server.Url(c.path)).status, c.status);
  }
}

// Update service, product and home pages.

TEST_F(MirrorServerTest, UpdateAnswersEmptyOrTheConfiguredAddress) {
  const std::string path = protocol::UpdateTarget<char>();
  {
    RunningServer server(Options());
    const Fetched reply = Fetch(server.Url(path));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "");
  }
  MirrorOptions options = Options();
  options.UpdateUrl = "http://127.0.0.1:8642/brevisfetch.html";
  RunningServer server(options);
  EXPECT_EQ(Fetch(server.Url(path)).body, options.UpdateUrl);
  EXPECT_EQ(Fetch(server.Url("/cgi-bin/update.cgi?pro=other&ver=20100410")).body, "");
}

TEST_F(MirrorServerTest, ProductAndHomePages) {
  RunningServer server(Options());
  const Fetched product = Fetch(server.Url("/brevisfetch.html"));
  EXPECT_EQ(product.status, 200);
  EXPECT_NE(product.body.find("BrevisFetch"), std::string::npos);
  const Fetched home = Fetch(server.Url("/"));
  EXPECT_EQ(home.status, 200);
  EXPECT_NE(home.body.find("/brevisfetch.html"), std::string::npos);
  // The home page lists the patents held, leaving out the broken one.
  EXPECT_NE(home.body.find("CN200710038426"), std::string::npos);
  EXPECT_NE(home.body.find("CN98123456"), std::string::npos);
  EXPECT_EQ(home.body.find("CN200710000002"), std::string::npos);
}

// Malformed requests.

TEST_F(MirrorServerTest, MalformedRequestsGetTheirStatusAndTheServerCarriesOn) {
  RunningServer server(Options());
  const std::string mirror = MirrorTarget<char>({});
  const std::string search = std::string(protocol::kSearchScript) + "?";
  const std::string head = " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  // Each row names the mirror's answer: 400 (Bad Request) for a message that breaks the syntax,
  // which RFC 9112 section 3.2 requires for a bad Host, or for a target that names nothing this
  // server could serve; 405 with its Allow for a method other than GET and HEAD. RFC 9110 would
  // rather have 501 for a method it does not know at all (section 9.1) and allows 505 for a major
  // version other than 1 (section 15.6.6).
  const struct {
    std::string request;
    int status;
  } kCases[] = {
      // Not HTTP at all.
      {"GARBAGE\r\n\r\n", 400},
      {std::string("\x00\xff\xfe\x01\r\n\r\n", 8), 400},
      {"GET\r\n\r\n", 400},
      {"GET / HTTP/9.9\r\n\r\n", 400},
      {"GET / HTTP/0.1\r\n\r\n", 400},
      {"BREW / HTTP/1.1\r\nConnection: close\r\n\r\n", 405},
      // Refused by the parser itself (a header line without a colon), whose answer would carry
      // the request's version.
      {"GET / HTTP/1.10\r\nbroken\r\n\r\n", 400},
      {"HCNET /pag/2s07e01038426 HTTP/1.98123456\nfmzl\n", 400},
      // Cipher text with letters, cut groups, too long, or deciphering to no number.
      {"GET " + mirror + "12a4" + head, 400},
      {"GET " + mirror + Encipher("200710038426").substr(0, 46) + head, 400},
      {"GET " + mirror + head, 400},
      {"GET " + std::string(protocol::kMirrorScript) + head, 400},
      {"GET " + mirror + Encipher("200710038426") + "&s=0000" + head, 400},
      {"GET " + mirror + std::string(68, '1') + head, 400},
      {"GET " + mirror + Encipher("CN200710038426") + head, 400},
      {"GET " + mirror + Encipher("../secret") + head, 400},
      // Search page without its parameters, or with ones that are no number or kind.
      {"GET " + search + "recid=200710038426&leixin=fmzl" + head, 400},
      {"GET " + search + "recid=CN&leixin=fmzl" + head, 400},
      {"GET " + search + "recid=CN98123456" + head, 400},
      {"GET " + search + "recid=CN98123456&leixin=FM%20ZL" + head, 400},
      {"GET " + search + "recid=CN..%2F98123456&leixin=fmzl" + head, 400},
      // Paths out of the data folder.
      {"GET /pages/../secret.txt" + head, 400},
      {"GET /pages/200710038426/../../secret.txt" + head, 400},
      {"GET /pages/%2e%2e/%2e%2e/etc/passwd" + head, 400},
      {"GET /../../../etc/passwd" + head, 400},
      // A Host that cannot stand in an address.
      {"GET " + mirror + Encipher("200710038426") +
           " HTTP/1.1\r\nHost: evil\"'<>\r\nConnection: close\r\n\r\n",
       400},
      // Update check without a version date.
      {"GET /cgi-bin/update.cgi?pro=brevisfetch&ver=2010" + head, 400},
      {"GET /cgi-bin/update.cgi" + head, 400},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.request);
    const std::string answer = RawExchange(server.Port(), c.request);
    EXPECT_EQ(StatusOf(answer), c.status) << answer;
    if (c.status == 405) {
      EXPECT_NE(answer.find("\r\nAllow: GET, HEAD\r\n"), std::string::npos) << answer;
    }
    EXPECT_EQ(answer.find("outside every patent"), std::string::npos);
  }
  EXPECT_EQ(Fetch(server.Url("/pages/98123456/000001.tif")).body, PageBytes("98123456", 1));
}

TEST_F(MirrorServerTest, BrokenManifestIsAServerErrorThatNamesIt) {
  RunningServer server(Options());
  const Fetched reply = Fetch(server.Url(MirrorTarget<char>(Encipher("200710000002"))));
  EXPECT_EQ(reply.status, 500);
  EXPECT_NE(reply.body.find("200710000002/manifest"), std::string::npos) << reply.body;
}

// Log.

TEST_F(MirrorServerTest, LogsOneLinePerRequest) {
  MirrorOptions options = Options();
  options.FailRate = 1.0;  // every page request fails, in each of the three ways
  options.Seed = 5;
  RunningServer server(options);
  Fetch(server.Url("/"));
  Fetch(server.Url("/nothing-here"));
  RawExchange(server.Port(), "GARBAGE\r\n\r\n");
  for (int i = 0; i < 12; ++i) Fetch(server.Url("/pages/200710038426/000001.tif"));
  // A line is written once the answer has gone out, so the last one may trail the client.
  std::vector<std::string> log = server.Log();
  for (int i = 0; i < 200 && log.size() < 15; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    log = server.Log();
  }
  ASSERT_EQ(log.size(), 15u);
  // Lines come in the order the answers finish, which need not be the order they were asked.
  const auto logged = [&log](const std::string& text) {
    return std::count_if(log.begin(), log.end(), [&text](const std::string& line) {
      return line.find(text) != std::string::npos;
    });
  };
  EXPECT_EQ(logged("\"GET / HTTP/1.1\" 200 "), 1);
  EXPECT_EQ(logged("\"GET /nothing-here HTTP/1.1\" 404 "), 1);
  EXPECT_EQ(logged("\"GARBAGE\" 400 "), 1);
  int faults = 0;
  for (const std::string& line : log) faults += line.find(" fault=") != std::string::npos;
  EXPECT_EQ(faults, 12);
}

// Injected faults.

// Outcome of each of `rounds` fetches of every page of 200710038426: "ok", a status, or the
// client's error.
std::vector<std::string> FetchPages(const RunningServer& server, int rounds) {
  std::vector<std::string> outcomes;
  for (int round = 0; round < rounds; ++round) {
    for (int page = 1; page <= 3; ++page) {
      const Fetched reply =
          Fetch(server.Url("/pages/200710038426/00000" + std::to_string(page) + ".tif"));
      if (reply.status == 200 && reply.body == PageBytes("200710038426", page)) {
        outcomes.push_back("ok");
      } else if (reply.status != 0) {
        outcomes.push_back(std::to_string(reply.status));
      } else {
        outcomes.push_back(reply.error);
      }
    }
  }
  return outcomes;
}

TEST_F(MirrorServerTest, FailRateHoldsAndASeedRepeatsTheSameFailures) {
  MirrorOptions options = Options();
  options.FailRate = 0.3;
  options.Seed = 11;
  constexpr int kRounds = 100;  // 300 requests
  std::vector<std::string> first;
  {
    RunningServer server(options);
    first = FetchPages(server, kRounds);
  }
  int ok = 0, status500 = 0, broken = 0;
  for (const std::string& outcome : first) {
    if (outcome == "ok") {
      ++ok;
    } else if (outcome == "500") {
      ++status500;
    } else {
      ++broken;  // dropped or cut short: no answer, or an incomplete one
    }
  }
  // Expected 90 failures; five standard deviations either side.
  EXPECT_NEAR(status500 + broken, 90, 40);
  EXPECT_GT(status500, 10);
  EXPECT_GT(broken, 20);
  EXPECT_EQ(ok + status500 + broken, 300);

  RunningServer again(options);
  EXPECT_EQ(FetchPages(again, kRounds), first);
  options.Seed = 12;
  RunningServer other(options);
  EXPECT_NE(FetchPages(other, kRounds), first);
}

TEST_F(MirrorServerTest, DelayIsAddedToEveryAnswer) {
  MirrorOptions options = Options();
  options.DelayMs = 150;
  RunningServer server(options);
  for (const char* path : {"/", "/pages/98123456/000001.tif", "/cgi-bin/fturl.cgi?s=1"}) {
    SCOPED_TRACE(path);
    const auto start = std::chrono::steady_clock::now();
    Fetch(server.Url(path));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
  }
}

// Page files as a file server serves them.

TEST_F(MirrorServerTest, PageFilesAnswerConditionalAndRangeRequests) {
  RunningServer server(Options());
  const std::string target = "/pages/200710038426/000002.tif";
  const std::string bytes = PageBytes("200710038426", 2);
  const auto ask = [&server, &target](const std::string& method, const std::string& fields) {
    RawConnection connection(server.Port());
    connection.Send(method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + fields + "\r\n");
    return connection.ReadAnswer(5000, method == "HEAD");
  };
  const std::string plain = ask("GET", "");
  ASSERT_EQ(StatusOf(plain), 200) << plain;
  EXPECT_EQ(BodyOf(plain), bytes);
  EXPECT_EQ(HeaderOf(plain, "Accept-Ranges"), "bytes");
  const std::string etag = HeaderOf(plain, "ETag");
  const std::string modified = HeaderOf(plain, "Last-Modified");
  ASSERT_FALSE(etag.empty());
  ASSERT_FALSE(modified.empty());
  const std::string size = std::to_string(bytes.size());
  struct Case {
    const char* method;
    std::string fields;
    int status;
    std::string body;
    std::string contentRange;
  };
  const Case kCases[] = {
      {"GET", "If-None-Match: " + etag + "\r\n", 304, "", ""},
      {"GET", "If-Modified-Since: " + modified + "\r\n", 304, "", ""},
      {"GET", "If-None-Match: \"other\"\r\n", 200, bytes, ""},
      {"GET", "Range: bytes=10-19\r\n", 206, bytes.substr(10, 10), "bytes 10-19/" + size},
      {"GET", "Range: bytes=-5\r\n", 206, bytes.substr(bytes.size() - 5), ""},
      {"GET", "Range: bytes=0-3\r\nIf-Range: \"other\"\r\n", 200, bytes, ""},
      {"GET", "Range: bytes=" + size + "-\r\n", 416, "Range not satisfiable\n", "bytes */" + size},
      {"HEAD", "", 200, "", ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.fields);
    const std::string answer = ask(c.method, c.fields);
    EXPECT_EQ(StatusOf(answer), c.status) << answer;
    EXPECT_EQ(BodyOf(answer), c.body);
    if (!c.contentRange.empty()) {
      EXPECT_EQ(HeaderOf(answer, "Content-Range"), c.contentRange);
    }
    if (c.status != 416) {
      EXPECT_EQ(HeaderOf(answer, "ETag"), etag);
    }
  }
  // A HEAD names the length of what a GET would send.
  EXPECT_EQ(HeaderOf(ask("HEAD", ""), "Content-Length"), size);
}

TEST_F(MirrorServerTest, PageFileRewrittenWhileServingIsServedAnew) {
  RunningServer server(Options());
  const fs::path folder = *data_ / "200710099999";
  WriteFile(folder / "manifest", "kind = fmzl\nsource = mirror\n");
  const std::string url = server.Url("/pages/200710099999/000001.tif");
  for (const std::string bytes : {"II*\x01first version", "II*\x01the second, longer version"}) {
    WriteFile(folder / "000001.tif", bytes);
    EXPECT_EQ(Fetch(url).body, bytes);
  }
  fs::remove_all(folder);
  EXPECT_EQ(Fetch(url).status, 404);
}

// Limits on what a client holds.

TEST_F(MirrorServerTest, SlowHeadIsCutOffAtTheHeaderTimeout) {
  MirrorOptions options = Options();
  options.HeaderTimeoutMs = 300;
  options.IdleTimeoutMs = 10000;
  RunningServer server(options);
  RawConnection connection(server.Port());
  ASSERT_TRUE(connection.Connected());
  // One byte every 50 ms keeps the connection busy, but the head never ends.
  const std::string head = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + std::string(200, 'x');
  const auto start = std::chrono::steady_clock::now();
  std::string answer;
  bool closed = false;
  for (char byte : head) {
    if (!connection.Send(std::string(1, byte))) break;
    answer += connection.ReadUntilClosed(50, closed);
    if (closed) break;
  }
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(closed);
  EXPECT_EQ(StatusOf(answer), 408) << answer;
  EXPECT_LT(took, std::chrono::seconds(3));
}

TEST_F(MirrorServerTest, IdleKeptConnectionIsClosedAtTheIdleTimeout) {
  MirrorOptions options = Options();
  options.IdleTimeoutMs = 300;
  options.HeaderTimeoutMs = 10000;
  RunningServer server(options);
  RawConnection connection(server.Port());
  connection.Send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  ASSERT_EQ(StatusOf(connection.ReadAnswer()), 200);
  bool closed = false;
  const auto start = std::chrono::steady_clock::now();
  connection.ReadUntilClosed(5000, closed);
  EXPECT_TRUE(closed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_TRUE(WaitUntil([&server] { return server.OpenConnections() == 0; }));
}

TEST_F(MirrorServerTest, ConnectionsOverALimitGet503AndRetryAfter) {
  struct Case {
    const char* name;
    int total;
    int perClient;
    int held;  // connections that fill the limit
  };
  const Case kCases[] = {{"in all", 3, 100, 3}, {"per client", 100, 2, 2}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    MirrorOptions options = Options();
    options.MaxConnections = c.total;
    options.MaxConnectionsPerClient = c.perClient;
    RunningServer server(options);
    std::vector<std::unique_ptr<RawConnection>> held;
    for (int i = 0; i < c.held; ++i) held.push_back(std::make_unique<RawConnection>(server.Port()));
    // The held connections are counted once the server has seen them.
    WaitUntil([&server, &c] { return server.OpenConnections() >= c.held; });
    const std::string refused = RawExchange(server.Port(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(StatusOf(refused), 503) << refused;
    EXPECT_EQ(HeaderOf(refused, "Retry-After"), "2");
    EXPECT_EQ(HeaderOf(refused, "Connection"), "close");
    // A held connection is served; once one goes, a newcomer is too.
    held[0]->Send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(StatusOf(held[0]->ReadAnswer()), 200);
    held.pop_back();
    WaitUntil([&server, &c] { return server.OpenConnections() < c.held; });
    EXPECT_EQ(Fetch(server.Url("/")).status, 200);
  }
}

TEST_F(MirrorServerTest, OversizedRequestLineOrHeadIsRefused) {
  MirrorOptions options = Options();
  options.MaxRequestLine = 200;
  options.MaxHeaderBytes = 1000;
  RunningServer server(options);
  struct Case {
    const char* name;
    std::string request;
    int status;
  };
  const std::string header = "X-Filler: " + std::string(80, 'x') + "\r\n";
  std::string headers;
  for (int i = 0; i < 15; ++i) headers += header;
  const Case kCases[] = {
      {"within the limits", "GET /?" + std::string(150, 'a') + " HTTP/1.1\r\n" + header + "\r\n",
       200},
      {"long line", "GET /?" + std::string(300, 'a') + " HTTP/1.1\r\n\r\n", 414},
      {"long line without end", "GET /?" + std::string(300, 'a'), 414},
      {"large head", "GET / HTTP/1.1\r\n" + headers + "\r\n", 431},
      {"endless head", "GET / HTTP/1.1\r\n" + headers, 431},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    RawConnection connection(server.Port());
    connection.Send(c.request);
    const std::string answer = connection.ReadAnswer();
    EXPECT_EQ(StatusOf(answer), c.status) << answer;
  }
}

// A soak: several clients, thousands of requests, faults injected, and nothing left over.
TEST_F(MirrorServerTest, SoakWithFaultsLeavesNoConnectionBehind) {
  MirrorOptions options = Options();
  options.FailRate = 0.2;
  options.Seed = 3;
  RunningServer server(options);
  constexpr int kClients = 4;
  constexpr int kRequests = 500;  // each
  std::vector<std::future<std::vector<std::string>>> clients;
  for (int client = 0; client < kClients; ++client) {
    clients.push_back(std::async(std::launch::async, [&server, client] {
      std::vector<std::string> wrong;
      for (int i = 0; i < kRequests; ++i) {
        const int page = 1 + (i + client) % 3;
        const bool kept = i % 2 == 0;
        const std::string target = "/pages/200710038426/00000" + std::to_string(page) + ".tif";
        if (kept) {
          // Two requests on one connection, the second a range.
          RawConnection connection(server.Port());
          connection.Send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\nGET " + target +
                          " HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: bytes=0-9\r\n\r\n");
          connection.ReadAnswer(5000);
          continue;
        }
        const Fetched reply = Fetch(server.Url(target));
        const bool good = reply.status == 200 && reply.body == PageBytes("200710038426", page);
        if (!good && reply.status != 500 && reply.status != 0) {
          wrong.push_back(std::to_string(reply.status) + " " + reply.error);
        }
      }
      return wrong;
    }));
  }
  for (auto& client : clients) EXPECT_EQ(client.get(), std::vector<std::string>());
  EXPECT_TRUE(WaitUntil([&server] { return server.OpenConnections() == 0; }));
  EXPECT_EQ(Fetch(server.Url("/")).status, 200);
}

TEST_F(MirrorServerTest, DelayedAnswersDoNotHoldBackOthers) {
  MirrorOptions options = Options();
  options.DelayMs = 400;
  RunningServer server(options);
  constexpr int kClients = 8;
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::future<int>> replies;
  for (int i = 0; i < kClients; ++i) {
    replies.push_back(
        std::async(std::launch::async, [&server] { return Fetch(server.Url("/")).status; }));
  }
  for (auto& reply : replies) EXPECT_EQ(reply.get(), 200);
  // One after another they would take 3.2 s.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1600));
}

// Starting.

TEST_F(MirrorServerTest, AddressesItCannotUseAreClearErrors) {
  RunningServer first(Options());
  struct Case {
    const char* name;
    std::string bind;
    int port;
    std::string message;
  };
  const Case kCases[] = {
      {"port in use", "127.0.0.1", first.Port(),
       "cannot listen on 127.0.0.1:" + std::to_string(first.Port()) + ": Address already in use"},
      // An address of another machine (TEST-NET-1), with a fixed port and with any port.
      {"not this machine's", "192.0.2.1", 8642,
       "cannot listen on 192.0.2.1:8642: Cannot assign requested address"},
      {"not this machine's, any port", "192.0.2.1", 0,
       "cannot listen on 192.0.2.1:0: Cannot assign requested address"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    MirrorOptions options = Options();
    options.Bind = c.bind;
    options.Port = c.port;
    MirrorServer second(options);
    try {
      second.Bind();
      ADD_FAILURE() << "the second server could bind";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
  MirrorOptions options = Options();
  options.DataDir = "/no/such/folder";
  EXPECT_THROW(MirrorServer{options}, std::runtime_error);
}

// Runs the executable with `args`, stdout and stderr to files; returns the child's pid.
pid_t Spawn(const std::vector<std::string>& args, const fs::path& out, const fs::path& err) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::freopen(out.c_str(), "w", stdout);
    std::freopen(err.c_str(), "w", stderr);
    std::vector<char*> argv;
    std::vector<std::string> owned = args;
    owned.insert(owned.begin(), BREVISFETCH_MIRROR);
    for (std::string& arg : owned) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(BREVISFETCH_MIRROR, argv.data());
    ::_exit(127);
  }
  return pid;
}

std::string ReadText(const fs::path& path) {
  std::ifstream file(path);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

int WaitStatus(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(MirrorServerTest, ExecutableServesUntilSignalledAndRefusesABusyPort) {
  const fs::path out = *data_ / "mirror.out";
  const fs::path err = *data_ / "mirror.err";
  const pid_t pid = Spawn({"--data", data_->string(), "--port", "0"}, out, err);
  // The first line names the address it listens on.
  std::string line;
  for (int i = 0; i < 500 && line.find('\n') == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    line = ReadText(out);
  }
  const std::string prefix =
      "brevisfetch-mirror: serving " + data_->string() + " on http://127.0.0.1:";
  ASSERT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
  const int port = std::stoi(line.substr(prefix.size()));
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  EXPECT_EQ(Fetch(base + "/pages/98123456/000001.tif").body, PageBytes("98123456", 1));

  const pid_t busy = Spawn({"--data", data_->string(), "--port", std::to_string(port)},
                           *data_ / "busy.out", *data_ / "busy.err");
  EXPECT_EQ(WaitStatus(busy), 1);
  EXPECT_EQ(ReadText(*data_ / "busy.err"), "brevisfetch-mirror: cannot listen on 127.0.0.1:" +
                                               std::to_string(port) + ": Address already in use\n");

  ::kill(pid, SIGTERM);
  EXPECT_EQ(WaitStatus(pid), 0);
  EXPECT_NE(ReadText(err).find("\"GET /pages/98123456/000001.tif HTTP/1.1\" 200 "),
            std::string::npos);
}

TEST_F(MirrorServerTest, ExecutableGeneratesPatentsInThePageRangeGiven) {
  struct Case {
    std::vector<std::string> args;
    int status;
    int minPages, maxPages;
  };
  const Case kCases[] = {
      {{"--patents", "3", "--pages", "2-3", "--seed", "4"}, 0, 2, 3},
      {{"--patents", "2", "--pages", "5-5"}, 0, 5, 5},
      // Usage errors.
      {{"--patents", "2", "--pages", "3"}, 2, 0, 0},
      {{"--patents", "2", "--pages", "0-2"}, 2, 0, 0},
      {{"--patents", "2", "--pages", "4-3"}, 2, 0, 0},
      {{"--patents", "2", "--pages", "1-10001"}, 2, 0, 0},
      {{"--patents", "2", "--pages", "1-x"}, 2, 0, 0},
      {{"--patents", "0"}, 2, 0, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const fs::path dir = *data_ / "generated";
    fs::remove_all(dir);
    std::vector<std::string> args = {"--make-sample", dir.string()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ASSERT_EQ(WaitStatus(Spawn(args, *data_ / "make.out", *data_ / "make.err")), c.status)
        << ReadText(*data_ / "make.err");
    if (c.status != 0) continue;
    const std::vector<PatentEntry> patents = MirrorData(dir.string()).List();
    EXPECT_EQ(patents.size(), static_cast<std::size_t>(std::stoi(c.args[1])));
    for (const PatentEntry& entry : patents) {
      EXPECT_GE(entry.Pages, c.minPages);
      EXPECT_LE(entry.Pages, c.maxPages);
    }
  }
}

TEST_F(MirrorServerTest, AccessLogIsInCombinedFormatAndReopensOnHangUp) {
  const fs::path log = *data_ / "access.log";
  fs::remove(log);
  fs::remove(log.string() + ".1");
  const pid_t pid = Spawn({"--data", data_->string(), "--port", "0", "--access-log", log.string()},
                          *data_ / "logged.out", *data_ / "logged.err");
  std::string line;
  for (int i = 0; i < 500 && line.find('\n') == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    line = ReadText(*data_ / "logged.out");
  }
  const int port = std::stoi(line.substr(line.rfind(':') + 1));
  const auto ask = [port](const std::string& target) {
    return StatusOf(
        RawExchange(port, "GET " + target +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\nReferer: http://a/\r\n"
                              "User-Agent: test \"agent\"\r\nConnection: close\r\n\r\n"));
  };
  EXPECT_EQ(ask("/pages/98123456/000001.tif"), 200);
  // logrotate moves the file away and signals; the next lines go to a new file of that name.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  fs::rename(log, log.string() + ".1");
  ::kill(pid, SIGHUP);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(ask("/nothing"), 404);
  ::kill(pid, SIGTERM);
  EXPECT_EQ(WaitStatus(pid), 0);
  const std::string size = std::to_string(PageBytes("98123456", 1).size());
  const std::regex first(
      "127\\.0\\.0\\.1 - - \\[\\d\\d/[A-Z][a-z][a-z]/\\d{4}:\\d\\d:\\d\\d:\\d\\d \\+0000\\] "
      "\"GET /pages/98123456/000001\\.tif HTTP/1\\.1\" 200 " +
      size + " \"http://a/\" \"test \\\\x22agent\\\\x22\" \\d+\\.\\d{3}\n");
  const std::string rotated = ReadText(log.string() + ".1");
  EXPECT_TRUE(std::regex_match(rotated, first)) << rotated;
  const std::string fresh = ReadText(log);
  EXPECT_NE(fresh.find("\"GET /nothing HTTP/1.1\" 404 "), std::string::npos) << fresh;
  EXPECT_EQ(std::count(fresh.begin(), fresh.end(), '\n'), 1) << fresh;
  EXPECT_EQ(ReadText(*data_ / "logged.err"), "");
}

}  // namespace
}  // namespace brevis
