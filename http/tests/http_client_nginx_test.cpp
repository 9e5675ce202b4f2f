// HttpClient against a real server: nginx on a free loopback port with its own configuration.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "common/ascii_text.h"
#include "common/text.h"
#include "http/http_client.h"
#include "http/http_errors.h"
#include "http/tests/nginx_server.h"

namespace brevis {
namespace {

class HttpClientNginxTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new testing::NginxServer();
    for (std::size_t size : kSizes) {
      files_[size] = server_->MakeFile("files/f" + std::to_string(size) + ".bin", size,
                                       static_cast<unsigned>(size));
      server_->MakeFile("close/f" + std::to_string(size) + ".bin", size, 7);
    }
    std::string text;
    for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i) + " zzzz\n";
    std::filesystem::create_directories(server_->Root() / "chunked");
    std::ofstream(server_->Root() / "chunked/page.html") << text;
    chunkedText_ = text;
    for (std::size_t at = chunkedText_.find("zzzz"); at != std::string::npos;
         at = chunkedText_.find("zzzz", at)) {
      chunkedText_.replace(at, 4, "yyyy");
    }
    std::filesystem::create_directories(server_->Root() / "dir");
    started_ = server_->Start();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (!started_) GTEST_SKIP() << server_->Error();
  }

  static std::u16string Url(const std::string& path) { return Utf8ToUtf16(server_->Url(path)); }
  // Connection number of each logged request, in order.
  static std::vector<std::string> LoggedConnections() {
    std::vector<std::string> out;
    std::istringstream log(server_->AccessLog());
    std::string connection, rest;
    while (log >> connection && std::getline(log, rest)) out.push_back(connection);
    return out;
  }

  static constexpr std::size_t kSizes[] = {0, 1, 1000, 32768, 61440, 65537, 1048579};
  static inline testing::NginxServer* server_ = nullptr;
  static inline bool started_ = false;
  static inline std::map<std::size_t, std::string> files_;
  static inline std::string chunkedText_;
};

TEST_F(HttpClientNginxTest, FetchesFilesOfSeveralSizesOverOneConnection) {
  const std::size_t logged_before = LoggedConnections().size();
  HttpClient client;
  client.SetReadTimeout(10000);
  for (int round = 0; round < 2; ++round) {
    for (std::size_t size : kSizes) {
      SCOPED_TRACE(size);
      MemoryStream body;
      client.Get(Url("/files/f" + std::to_string(size) + ".bin"), body);
      EXPECT_EQ(client.ResponseCode(), 200);
      EXPECT_TRUE(body.ToString() == files_[size]) << "body differs";
      EXPECT_EQ(body.Size(), static_cast<int64_t>(size));
    }
  }
  client.Disconnect();
  const std::vector<std::string> logged = LoggedConnections();
  ASSERT_EQ(logged.size(), logged_before + 2 * std::size(kSizes));
  const std::set<std::string> connections(logged.begin() + static_cast<long>(logged_before),
                                          logged.end());
  EXPECT_EQ(connections.size(), 1u);
}

TEST_F(HttpClientNginxTest, ChunkedBodiesNoContentAndErrors) {
  HttpClient client;
  client.SetReadTimeout(10000);
  MemoryStream page;
  client.Get(Url("/chunked/page.html"), page);
  EXPECT_EQ(client.Response().RawHeaders.Values(u"Transfer-Encoding"), u"chunked");
  EXPECT_TRUE(page.ToString() == chunkedText_) << "chunked body differs";

  MemoryStream empty;
  client.Get(Url("/empty"), empty);
  EXPECT_EQ(client.ResponseCode(), 204);
  EXPECT_EQ(empty.Size(), 0);

  struct Case {
    const char* path;
    int code;
    const char* status_line;
  };
  const Case kCases[] = {
      {"/files/missing.bin", 404, "HTTP/1.1 404 Not Found"},
      {"/dir", 301, "HTTP/1.1 301 Moved Permanently"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path);
    MemoryStream body;
    try {
      client.Get(Url(c.path), body);
      ADD_FAILURE() << "no exception";
    } catch (const HttpProtocolError& e) {
      EXPECT_EQ(e.ErrorCode(), c.code);
      EXPECT_STREQ(e.what(), c.status_line);
      EXPECT_NE(Utf16ToUtf8(e.ErrorMessage()).find(c.status_line + 9), std::string::npos)
          << Utf16ToUtf8(e.ErrorMessage());
    }
    EXPECT_EQ(body.Size(), 0);
    EXPECT_FALSE(client.Connected());
  }
  // After the failures the client connects again.
  MemoryStream again;
  client.Get(Url("/files/f1000.bin"), again);
  EXPECT_TRUE(again.ToString() == files_[1000]);
}

TEST_F(HttpClientNginxTest, ConnectionCloseMakesEachFetchConnectAnew) {
  const std::size_t logged_before = LoggedConnections().size();
  HttpClient client;
  client.SetReadTimeout(10000);
  for (std::size_t size : {std::size_t{1000}, std::size_t{61440}, std::size_t{1000}}) {
    MemoryStream body;
    client.Get(Url("/close/f" + std::to_string(size) + ".bin"), body);
    EXPECT_TRUE(ascii::EqualsIgnoreCase(client.Response().Connection, u"close"));
    EXPECT_EQ(body.Size(), static_cast<int64_t>(size));
    EXPECT_FALSE(client.Connected());
  }
  const std::vector<std::string> logged = LoggedConnections();
  ASSERT_EQ(logged.size(), logged_before + 3);
  const std::set<std::string> connections(logged.begin() + static_cast<long>(logged_before),
                                          logged.end());
  EXPECT_EQ(connections.size(), 3u);
}

}  // namespace
}  // namespace brevis
