// Tests of the lookup's answer reading: the mirror's text and cipher text, the search page's
// fragments by kind, the 32-bit page count and the page-count cap.
#include "core/lookup_answers.h"

#include <gtest/gtest.h>

#include <string>

#include "cipher/big_int.h"

namespace brevis {
namespace {

constexpr int kThrows = -1;

TEST(LookupAnswersTest, MirrorText) {
  struct Case {
    const char16_t* text;
    int pages;  // kThrows: ConvertError
    const char16_t* url;
  };
  constexpr Case kCases[] = {
      {u"12\thttp://img.test/m/abc", 12, u"http://img.test/m/abc"},
      {u"junk 007\tb\t", 7, u"b\t"},  // searched anywhere; the address takes the rest
      {u"12 http://img.test/m", 0, u""},
      {u"12\t", 0, u""},
      {u"", 0, u""},
      {u"2147483647\thttp://i", 2147483647, u"http://i"},
      {u"2147483648\thttp://i", kThrows, u""},
      {u"99999999999999999999\thttp://i", kThrows, u""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text)));
    ReRazavu r;
    if (c.pages == kThrows) {
      EXPECT_THROW(ReadMirrorText(c.text, r), ConvertError);
      continue;
    }
    ReadMirrorText(c.text, r);
    EXPECT_EQ(r.GkPages, c.pages);
    EXPECT_EQ(r.GkUrl, c.url);
    EXPECT_EQ(r.SdPages, 0);
  }
}

TEST(LookupAnswersTest, MirrorAnswerIsDecipheredFirst) {
  const RSA cipher(kAppKeyN, kAppKeyE, kAppKeyD);
  ReRazavu r;
  ReadMirrorAnswer(cipher, cipher.Encrypt(u"12\thttp://img.test/m/abc") + u"99", r);
  EXPECT_EQ(r.GkPages, 12);
  EXPECT_EQ(r.GkUrl, u"http://img.test/m/abc");
  EXPECT_THROW(ReadMirrorAnswer(cipher, u"<html><body>Bad gateway</body></html>", r), ConvertError);
}

TEST(LookupAnswersTest, SearchPageByKind) {
  const std::u16string page =
      u"<script>show('fm','7','http://img.test/abc/def/000001.tif');"
      u"show('xx','3','http://img.test/x/000001.tif')</script>";
  struct Case {
    std::u16string page;
    const char16_t* leixin;
    int pages;
    const char16_t* url;
  };
  const Case kCases[] = {
      {page, u"fmzl", 7, u"http://img.test/abc/def"},
      {page, u"syxx", 3, u"http://img.test/x"},
      {page, u"FMZL", 3, u"http://img.test/x"},  // only "fmzl" exactly picks the 'fm' fragment
      {u"'fm','7','http://img.test/abc/000001.tif'", u"syxx", 0, u""},
      {u"'fm','0','http://i/000001.tif'", u"fmzl", 0, u"http://i"},
      {u"'fm','7','http://i/000001.tiff'", u"fmzl", 0, u""},
      {u"<html>keine Treffer</html>", u"fmzl", 0, u""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.leixin, c.leixin + 4));
    ReRazavu r;
    ReadSearchPage(c.page, c.leixin, r);
    EXPECT_EQ(r.GkPages, c.pages);
    EXPECT_EQ(r.GkUrl, c.url);
  }
  ReRazavu r;
  EXPECT_THROW(ReadSearchPage(u"'xx','4294967296','u/1.tif'", u"syxx", r), ConvertError);
}

TEST(LookupAnswersTest, PageCountCap) {
  struct Case {
    int32_t gk, sd;
    int32_t refused;  // what CapPageCounts returns; both counts are then 0
  };
  constexpr Case kCases[] = {
      {kMaxLookupPages, 0, 0},
      {12, kMaxLookupPages, 0},
      {kMaxLookupPages + 1, 3, kMaxLookupPages + 1},
      {3, 2147483647, 2147483647},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.gk);
    ReRazavu r;
    r.GkPages = c.gk;
    r.SdPages = c.sd;
    EXPECT_EQ(CapPageCounts(r), c.refused);
    EXPECT_EQ(r.GkPages, c.refused == 0 ? c.gk : 0);
    EXPECT_EQ(r.SdPages, c.refused == 0 ? c.sd : 0);
  }
}

}  // namespace
}  // namespace brevis
