// Tests of "brevisfetch-cli lookup": the program is run against a loopback server that plays the
// mirror and the patent office's search page.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "protocol/service_protocol.h"
#include "cipher/rsa.h"
#include "common/text.h"
#include "download/tests/page_server.h"

namespace brevis {
namespace {

struct LookupRun {
  int status;
  std::string output;  // stdout and stderr together
};

LookupRun Lookup(const std::string& number, const std::string& host) {
  ::setenv("BREVISFETCH_SERVER", host.c_str(), 1);
  ::setenv("BREVISFETCH_PATENT_OFFICE", host.c_str(), 1);
  const std::string command = std::string(BREVISFETCH_CLI) + " lookup '" + number + "' 2>&1";
  LookupRun run{-1, ""};
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[512];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) run.output.append(buffer, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(LookupCommandTest, PrintsTheLookupOrTheReasonForNothing) {
  const RSA cipher(kAppKeyN, kAppKeyE, kAppKeyD);
  const std::string found = Utf16ToUtf8(cipher.Encrypt(u"12\thttp://img.test/gk/CN200710038426"));
  test::PageServer server([&](const std::string& target) -> test::Reply {
    const bool mirror = target.rfind(protocol::MirrorTarget<char>({}), 0) == 0;
    // 200710038426 is on the mirror; 88200001 only on the search page; for 200710099999 the
    // mirror fails; every other number is unknown.
    if (target.find("recid=CN88200001&leixin=syxx") != std::string::npos) {
      return {200, "<td>'xx','3','http://img.test/xx/000001.tif'</td>"};
    }
    if (!mirror) return {200, "<html>no result</html>"};
    if (target == protocol::MirrorTarget<char>(Utf16ToUtf8(cipher.Encrypt(u"200710038426")))) {
      return {200, found};
    }
    if (target == protocol::MirrorTarget<char>(Utf16ToUtf8(cipher.Encrypt(u"200710099999")))) {
      return {200, "<html>Proxy error</html>"};
    }
    return {200, ""};
  });

  struct Case {
    const char* number;
    int status;
    std::string output;
  };
  const Case kCases[] = {
      {"CN200710038426", 0,
       "number: 200710038426\nkind: fmzl\nkind name: 发明专利\npages: 12\n"
       "base: http://img.test/gk/CN200710038426\n"},
      {"zl88200001.2", 0,
       "number: 88200001\nkind: syxx\nkind name: 实用新型专利\npages: 3\nbase: "
       "http://img.test/xx\n"},
      {"200810001234", 1,
       "未发现全文下载，可能的原因是：\n\n您输入了错误的专利申请号，请检查后重新输入。\n"},
      {"CN200710099999", 1, "'m' is not a valid integer value\n"},
      {"CN 2007", 1, "'CN 2007' is not a valid Chinese patent application number.\n"},
      {"CN200710038426.7", 1,
       "'CN200710038426.7' is not a valid Chinese patent application number.\n"
       "Its check character is wrong: 200710038426 ends in 6.\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.number);
    const LookupRun run = Lookup(c.number, server.Base());
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.output, c.output);
  }
}

TEST(LookupCommandTest, FailingServicesEndWithStatusOneAndTheCause) {
  test::PageServer down([](const std::string&) { return test::Reply{500, "down"}; });
  // Port 1 on loopback, where nobody listens.
  const std::string closed = "http://127.0.0.1:1";
  struct Case {
    const char* name;
    std::string server;
    const char* cause;  // on the line under the message, after the address
  };
  const Case kCases[] = {
      {"server error", down.Base(), "HTTP/1.1 500"},
      {"nobody listening", closed, "Connection refused"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const LookupRun run = Lookup("CN200710038426", c.server);
    EXPECT_EQ(run.status, 1);
    const std::string message =
        "下载遇到问题，可能的原因是: \n\n网络问题，请检查您是否已经正常连接到互联网。\n";
    ASSERT_EQ(run.output.substr(0, message.size()), message) << run.output;
    const std::string cause = run.output.substr(message.size());
    EXPECT_EQ(cause.rfind(c.server + "/cgi-bin/fturl.cgi?s=", 0), 0u) << cause;
    EXPECT_NE(cause.find(c.cause), std::string::npos) << cause;
  }
}

}  // namespace
}  // namespace brevis
