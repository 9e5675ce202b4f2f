// The service protocol as both sides build it: request targets byte for byte, and the stand-ins'
// answers read back by the application's own lookup.
#include "stand_in/service_answers.h"

#include <gtest/gtest.h>

#include <string>

#include "common/ascii_text.h"
#include "common/text.h"
#include "core/lookup_answers.h"
#include "protocol/service_protocol.h"

namespace brevis {
namespace {

TEST(ServiceProtocolTest, TargetsAreTheSameBytesInBothKindsOfText) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
    const char* wire;
  };
  const Case kCases[] = {
      {protocol::MirrorTarget<char>("00012773"), protocol::MirrorTarget<char16_t>(u"00012773"),
       "/cgi-bin/fturl.cgi?s=00012773"},
      {protocol::SearchTarget<char>("98123456", "fmzl"),
       protocol::SearchTarget<char16_t>(u"98123456", u"fmzl"),
       "/sipo/zljs/hyjs-yx-new.jsp?recid=CN98123456&leixin=fmzl&title=&ipc="},
      {protocol::UpdateTarget<char>(), protocol::UpdateTarget<char16_t>(),
       "/cgi-bin/update.cgi?pro=brevisfetch&ver=20100410"},
      {protocol::Text<char>(protocol::kProductPage),
       protocol::Text<char16_t>(protocol::kProductPage), "/brevisfetch.html"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.wire);
    EXPECT_EQ(c.utf8, c.wire);
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.wire);
  }
}

TEST(ServiceAnswersTest, MirrorAnswerReadsBackThroughTheLookup) {
  const RSA rsa(kAppKeyN, kAppKeyE, kAppKeyD);
  struct Case {
    int pages;
    const char* host;
    const char* number;
  };
  constexpr Case kCases[] = {
      {12, "127.0.0.1:8642", "200710038426"},
      {1, "[::1]:80", "98123456"},
      {10000, "mirror.example.lan", "201910987654"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.number);
    const std::string base = std::string("http://") + c.host + "/pages/" + c.number;
    EXPECT_EQ(PageBaseAddress(c.host, c.number), base);
    const std::string cipher = MirrorAnswerCipher(rsa, c.pages, c.host, c.number);
    EXPECT_TRUE(ascii::IsDigits(cipher));
    EXPECT_EQ(DecipherText(rsa, cipher), std::to_string(c.pages) + "\t" + base);
    ReRazavu read;
    ReadMirrorAnswer(rsa, Latin1ToUtf16(cipher), read);
    EXPECT_EQ(read.GkPages, c.pages);
    EXPECT_EQ(Utf16ToUtf8(read.GkUrl), base);
  }
}

TEST(ServiceAnswersTest, SearchFragmentIsFoundForItsOwnKindOnly) {
  EXPECT_EQ(protocol::SearchFragment("fmzl", "7", "http://h/pages/1"),
            "'fm','7','http://h/pages/1/000001.tif'");
  EXPECT_EQ(protocol::SearchFragment("syxx", "3", "http://h/pages/2"),
            "'xx','3','http://h/pages/2/000001.tif'");
  struct Case {
    const char* written;  // the patent's kind on the page
    const char* read;     // the kind the lookup asks for
    int pages;            // 0: nothing found
  };
  constexpr Case kCases[] = {
      {"fmzl", "fmzl", 7},
      {"syxx", "syxx", 7},
      // Every kind but fmzl has the 'xx' fragment.
      {"abcd", "syxx", 7},
      {"fmzl", "syxx", 0},
      {"syxx", "fmzl", 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.written) + " read as " + c.read);
    const std::string page = "<script>\nshowTif(" +
                             protocol::SearchFragment(c.written, "7", "http://h/pages/1") +
                             ");\n</script>";
    ReRazavu read;
    ReadSearchPage(Utf8ToUtf16(page), Utf8ToUtf16(c.read), read);
    EXPECT_EQ(read.GkPages, c.pages);
    EXPECT_EQ(Utf16ToUtf8(read.GkUrl), c.pages > 0 ? "http://h/pages/1" : "");
  }
}

TEST(ServiceAnswersTest, NumberCipherIsUpToSixteenGroupsOfFourDigits) {
  struct Case {
    std::string text;
    bool cipher;
  };
  const Case kCases[] = {
      {"1234", true},  {"12345678", true}, {std::string(64, '9'), true},
      {"", false},     {"123", false},     {"12345", false},
      {"12a4", false}, {" 1234", false},   {std::string(68, '9'), false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(IsNumberCipher(c.text), c.cipher);
  }
}

}  // namespace
}  // namespace brevis
