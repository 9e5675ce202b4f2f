// Tests of the patent's file names: page numbers, page and PDF paths, and the page-name rule.
#include "core/patent_paths.h"

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"

namespace brevis {
namespace {

TEST(PatentPathsTest, PageNumbersHaveAtLeastSixDigits) {
  struct Case {
    int page;
    const char16_t* text;
  };
  constexpr Case kCases[] = {
      {1, u"000001"}, {12, u"000012"}, {999999, u"999999"}, {1234567, u"1234567"}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.page);
    EXPECT_EQ(PageNumberText(c.page), c.text);
  }
}

TEST(PatentPathsTest, PagesAndPdfsLieInThePatentsFolder) {
  EXPECT_EQ(PatentFolder(u"/r", u"200710038426"), u"/r/CN200710038426");
  EXPECT_EQ(PagePath(u"/r", u"200710038426", u"gk", 1234567), u"/r/CN200710038426/gk_1234567.tif");
  EXPECT_EQ(PagePath(u"/r", u"88100001", u"sd", 3), u"/r/CN88100001/sd_000003.tif");
  EXPECT_EQ(PdfPath(u"/r", u"200710038426"), u"/r/CN200710038426/CN200710038426_gk.pdf");
  EXPECT_EQ(PdfPath(u"/r", u"88100001", u"sd"), u"/r/CN88100001/CN88100001_sd.pdf");
}

TEST(PatentPathsTest, PageFileNamesAreToldFromOtherFiles) {
  // A page file, the saved text of one, and a file of patent CN200710038426 at all.
  struct Case {
    const char* name;
    bool page;
    bool text = false;
    bool patent = page;
  };
  constexpr Case kCases[] = {
      {"gk_000001.tif", true},
      {"sd_000012.tif", true},
      {"gk_1234567.tif", true},
      {"gk_00001.tif", false},
      {"gk_000001.tiff", false},
      {"xx_000001.tif", false},
      {"gk_00000a.tif", false},
      {"gk_.tif", false},
      {"CN200710038426_gk.pdf", false, false, true},
      {"CN200710038426_sd.txt", false, false, true},
      {"notes.txt", false},
      {"gk_000001.ocr", false, true, true},
      {"sd_1234567.ocr", false, true, true},
      {"gk_00001.ocr", false},
      {"gk_000001.tif.ocr", false},
      {"xx_000001.ocr", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsPageFileName(c.name), c.page);
    EXPECT_EQ(IsPageTextFileName(c.name), c.text);
    EXPECT_EQ(IsPatentFileName(u"200710038426", c.name), c.patent);
  }
  // Every page path's file name follows the rule, and so does the name of its saved text.
  const std::string path = Utf16ToUtf8(PagePath(u"/r", u"1", u"sd", 42));
  EXPECT_TRUE(IsPageFileName(path.substr(path.rfind('/') + 1)));
  const std::string text = PageTextPath(path);
  EXPECT_EQ(text, "/r/CN1/sd_000042.ocr");
  EXPECT_TRUE(IsPageTextFileName(text.substr(text.rfind('/') + 1)));
  EXPECT_EQ(PageTextPath("/r/scan.png"), "");
}

TEST(PatentPathsTest, InstalledProgramsKeepNoRepositoryBesideThem) {
  const std::pair<const char*, bool> kFolders[] = {
      {"/usr/bin", true},       {"/usr/local/bin", true},   {"/bin", true},
      {"/sbin/", true},         {"/opt/brevisfetch", true}, {"/usr/bin/../lib", true},
      {"/home/a/build", false}, {"/usrx/bin", false},       {"/tmp/bin", false},
      {"/optical", false},
  };
  for (const auto& [folder, system] : kFolders) {
    EXPECT_EQ(IsSystemProgramFolder(folder), system) << folder;
  }
}

}  // namespace

}  // namespace brevis
