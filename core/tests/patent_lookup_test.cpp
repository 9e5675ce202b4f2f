// Tests of PatentLookup against a loopback server that plays the mirror and the patent office's
// search page: each cause with the pages, the address and the error it carries, the retries
// after Retry-After, and the answers that are not cipher text.
#include "core/patent_lookup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "cipher/rsa.h"
#include "common/text.h"
#include "core/lookup_answers.h"
#include "download/tests/page_server.h"
#include "http/net/tests/scripted_peer.h"
#include "protocol/service_protocol.h"

namespace brevis {
namespace {

class PatentLookupTest : public ::testing::Test {
 protected:
  PatentLookupTest()
      : server_([this](const std::string& target) { return Answer(target); }),
        cipher_(kAppKeyN, kAppKeyE, kAppKeyD) {}

  LookupSettings Settings(int tries = 1) const {
    LookupSettings settings;
    settings.Server = Utf8ToUtf16(server_.Base());
    settings.PatentOffice = Utf8ToUtf16(server_.Base());
    settings.Tries = tries;
    return settings;
  }
  // The mirror's body: `plain` enciphered, the empty text an empty body.
  std::string Enciphered(const std::u16string& plain) const {
    return Utf16ToUtf8(cipher_.Encrypt(plain));
  }
  void Set(test::Reply mirror, test::Reply search) {
    std::lock_guard<std::mutex> guard(lock_);
    mirror_ = std::move(mirror);
    search_ = std::move(search);
  }
  // The next `count` requests of the mirror, or of the search page, get `reply`.
  void LimitLookups(int count, test::Reply reply, bool search) {
    std::lock_guard<std::mutex> guard(lock_);
    limited_ = count;
    limitSearch_ = search;
    limitedReply_ = std::move(reply);
  }
  std::string MirrorTarget() const {
    return protocol::MirrorTarget<char>(Enciphered(u"200710038426"));
  }

  test::PageServer server_;
  RSA cipher_;

 private:
  test::Reply Answer(const std::string& target) {
    std::lock_guard<std::mutex> guard(lock_);
    const bool mirror = target.rfind(protocol::MirrorTarget<char>({}), 0) == 0;
    const bool search = target.rfind(std::string(protocol::kSearchScript) + "?", 0) == 0;
    if ((limitSearch_ ? search : mirror) && limited_ > 0) {
      --limited_;
      return limitedReply_;
    }
    if (mirror) return mirror_;
    if (search) return search_;
    return {404, "no such page"};
  }

  std::mutex lock_;
  test::Reply mirror_;
  test::Reply search_;
  int limited_ = 0;
  bool limitSearch_ = false;
  test::Reply limitedReply_;
};

TEST_F(PatentLookupTest, AsksTheMirrorThenTheSearchPage) {
  const std::string fragment =
      "<script>show('fm','7','http://img.test/abc/def/000001.tif');"
      "show('xx','3','http://img.test/x/000001.tif')</script>";
  std::string hostile;
  while (hostile.size() < 208000) hostile += "'fm','1','abc";
  const std::string search_target = "/sipo/zljs/hyjs-yx-new.jsp?recid=CN200710038426&leixin=";
  struct Case {
    const char* name;
    std::u16string mirrorPlain;  // enciphered by the mirror; empty: empty body
    int mirrorStatus;
    test::Reply search;
    const char16_t* leixin;
    LookupCause cause;
    int pages;
    const char16_t* url;
    int32_t refused = 0;
    const char* failedTarget = nullptr;  // the service that failed: its target
    const char* error = nullptr;         // and its error
  };
  const Case kCases[] = {
      {"mirror answers",
       u"12\thttp://img.test/m/abc",
       200,
       {},
       u"fmzl",
       LookupCause::kFound,
       12,
       u"http://img.test/m/abc"},
      {"search page, invention",
       u"",
       200,
       {200, fragment},
       u"fmzl",
       LookupCause::kFound,
       7,
       u"http://img.test/abc/def"},
      {"search page, utility model",
       u"",
       200,
       {200, fragment},
       u"syxx",
       LookupCause::kFound,
       3,
       u"http://img.test/x"},
      {"largest page count",
       u"10000\thttp://i",
       200,
       {},
       u"fmzl",
       LookupCause::kFound,
       10000,
       u"http://i"},
      // Answers that name no pages.
      {"search page without the kind's fragment",
       u"",
       200,
       {200, "'fm','7','http://img.test/abc/000001.tif'"},
       u"syxx",
       LookupCause::kNothingFound,
       0,
       u""},
      // A page on which the search runs out of its step budget is one without the fragment.
      {"hostile search page",
       u"",
       200,
       {200, hostile},
       u"fmzl",
       LookupCause::kNothingFound,
       0,
       u""},
      {"search page with page count 0",
       u"",
       200,
       {200, "'fm','0','http://i/000001.tif'"},
       u"fmzl",
       LookupCause::kNothingFound,
       0,
       u"http://i"},
      {"mirror answer without a tab",
       u"12 http://img.test/m",
       200,
       {},
       u"fmzl",
       LookupCause::kNothingFound,
       0,
       u""},
      {"mirror answer with page count 0",
       u"0\thttp://i",
       200,
       {},
       u"fmzl",
       LookupCause::kNothingFound,
       0,
       u"http://i"},
      // A larger count is taken as a broken answer.
      {"count above the cap",
       u"10001\thttp://i",
       200,
       {},
       u"fmzl",
       LookupCause::kTooManyPages,
       0,
       u"http://i",
       10001},
      {"search page's count above the cap",
       u"",
       200,
       {200, "'fm','123456','http://i/000001.tif'"},
       u"fmzl",
       LookupCause::kTooManyPages,
       0,
       u"http://i",
       123456},
      // Services that fail: the search page is asked only after an empty mirror answer.
      {"mirror fails",
       u"",
       500,
       {200, fragment},
       u"fmzl",
       LookupCause::kMirrorFailed,
       0,
       u"",
       0,
       "/cgi-bin/fturl.cgi?s=",
       "HTTP/1.1 500"},
      {"search page fails",
       u"",
       200,
       {503, "busy"},
       u"fmzl",
       LookupCause::kSearchFailed,
       0,
       u"",
       0,
       "/sipo/zljs/hyjs-yx-new.jsp?recid=CN200710038426&leixin=fmzl",
       "HTTP/1.1 503"},
  };
  PatentLookup lookup(Settings());
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::size_t requests_before = server_.Requests().size();
    Set({c.mirrorStatus, Enciphered(c.mirrorPlain)}, c.search);

    const LookupResult r = lookup.Find(u"200710038426", c.leixin);
    EXPECT_EQ(r.Cause, c.cause);
    EXPECT_EQ(r.Found.Apn, u"200710038426");
    EXPECT_EQ(r.Found.LeiXin, c.leixin);
    EXPECT_EQ(r.Found.GkPages, c.pages);
    EXPECT_EQ(r.Found.GkUrl, c.url);
    EXPECT_EQ(r.Found.SdPages, 0);
    EXPECT_EQ(r.RefusedPages, c.refused);
    if (c.failedTarget == nullptr) {
      EXPECT_EQ(r.ServiceFailure(), "");
    } else {
      // "<address>: <error>", the address with the target that was asked.
      EXPECT_EQ(r.Address.rfind(server_.Base() + c.failedTarget, 0), 0u) << r.Address;
      EXPECT_NE(r.Error.find(c.error), std::string::npos) << r.Error;
      EXPECT_EQ(r.ServiceFailure(), r.Address + ": " + r.Error);
    }

    const std::vector<std::string> requests = server_.Requests();
    ASSERT_GE(requests.size(), requests_before + 1);
    EXPECT_EQ(requests[requests_before], MirrorTarget());
    const bool searched = c.mirrorPlain.empty() && c.mirrorStatus == 200;
    ASSERT_EQ(requests.size(), requests_before + (searched ? 2 : 1));
    if (searched) {
      EXPECT_EQ(requests.back(), search_target + Utf16ToUtf8(c.leixin) + "&title=&ipc=");
    }
  }
}

TEST_F(PatentLookupTest, AnswerThatIsNotCipherTextThrows) {
  PatentLookup lookup(Settings());
  for (const std::string& body : {std::string("<html><body>Bad gateway</body></html>"),
                                  Enciphered(u"99999999999\thttp://i")}) {
    SCOPED_TRACE(body);
    Set({200, body}, {});
    EXPECT_THROW(lookup.Find(u"200710038426", u"fmzl"), ConvertError);
  }
}

TEST_F(PatentLookupTest, UnreachableMirrorFailsWithoutAskingTheSearchPage) {
  const test::RefusingPort refusing;
  LookupSettings settings = Settings();
  settings.Server = Utf8ToUtf16("http://127.0.0.1:" + std::to_string(refusing.Port()));
  PatentLookup lookup(settings);
  const LookupResult r = lookup.Find(u"200710038426", u"fmzl");
  EXPECT_EQ(r.Cause, LookupCause::kMirrorFailed);
  EXPECT_EQ(r.Found.GkPages, 0);
  EXPECT_EQ(r.Address.rfind(Utf16ToUtf8(settings.Server) + "/cgi-bin/fturl.cgi?s=", 0), 0u);
  EXPECT_FALSE(r.Error.empty());
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(PatentLookupTest, RateLimitedLookupIsTriedAgainAfterItsRetryAfter) {
  struct Case {
    const char* name;
    int limited;  // lookup requests answered with `reply`
    test::Reply reply;
    bool mirrorAnswers;  // else the mirror's body is empty and the search page is limited
    LookupCause cause;
    int pages;
    std::size_t requests;
    std::chrono::milliseconds atLeast;  // from the first request to the lookup's end
  };
  const Case kCases[] = {
      {"429, Retry-After 1",
       1,
       {429, "slow down", "Retry-After: 1\r\n"},
       true,
       LookupCause::kFound,
       12,
       2,
       std::chrono::milliseconds(1000)},
      {"search page 503, Retry-After 0",
       2,
       {503, "busy", "Retry-After: 0\r\n"},
       false,
       LookupCause::kFound,
       7,
       4,
       std::chrono::milliseconds(0)},
      // Without a Retry-After, or past the tries, the lookup fails as before.
      {"429 without Retry-After",
       1,
       {429, "slow down"},
       true,
       LookupCause::kMirrorFailed,
       0,
       1,
       std::chrono::milliseconds(0)},
      {"503 at every try",
       99,
       {503, "busy", "Retry-After: 0\r\n"},
       true,
       LookupCause::kMirrorFailed,
       0,
       3,
       std::chrono::milliseconds(0)},
  };
  PatentLookup lookup(Settings(/*tries=*/3));
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    if (c.mirrorAnswers) {
      Set({200, Enciphered(u"12\thttp://img.test/p")}, {});
    } else {
      Set({200, ""}, {200, "'fm','7','http://img.test/abc/000001.tif'"});
    }
    LimitLookups(c.limited, c.reply, !c.mirrorAnswers);
    const std::size_t requests_before = server_.Requests().size();
    const auto start = std::chrono::steady_clock::now();
    const LookupResult r = lookup.Find(u"200710038426", u"fmzl");
    EXPECT_GE(std::chrono::steady_clock::now() - start, c.atLeast);
    EXPECT_EQ(r.Cause, c.cause);
    EXPECT_EQ(r.Found.GkPages, c.pages);
    EXPECT_EQ(server_.Requests().size() - requests_before, c.requests);
  }
  LimitLookups(0, {}, false);
}

}  // namespace
}  // namespace brevis
