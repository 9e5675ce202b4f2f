// The recognizer on a small fixture page of four printed lines (Chinese, mixed with Latin and
// numbers, English), the joining of words into lines, and the check of the language data.
#include "ocr/recognizer.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common/text.h"
#include "ocr/tests/text_measures.h"
#include "pdf/tiff_import.h"
#include "stand_in/page_generator.h"

namespace brevis {
namespace {

const std::string kFixture = std::string(OCR_TEST_DATA_DIR) + "/four_lines.tif";
// What four_lines.tif prints, line by line, and the rows each line's glyphs lie in.
const std::vector<std::u16string> kPrinted = {
    u"本发明涉及一种阀门，特别是一种用于管道的截止阀。",
    u"阀体采用304不锈钢，厚度0.8mm，符合GB/T 3280-2015的规定。",
    u"The valve body is made of stainless steel.",
    u"权利要求1所述的阀门，其特征在于：阀芯为锥形。",
};
constexpr int kBaselines[] = {120, 250, 380, 500};

TEST(JoinWordsTest, NoBlankBetweenChineseBlanksBetweenLatinWordsGapsWhereTheyMeet) {
  // Words of 40-pixel characters, each given with the gap before it; a gap of 20 is wide.
  struct Case {
    std::vector<std::pair<int, std::u16string>> words;  // gap before, text
    std::u16string line;
  };
  const Case cases[] = {
      // The engine's splitting of Chinese is dropped, however wide the gap.
      {{{0, u"本"}, {2, u"发明"}, {30, u"涉及"}, {0, u"一种"}}, u"本发明涉及一种"},
      {{{0, u"阀门"}, {0, u"，"}, {25, u"特别是"}}, u"阀门，特别是"},
      {{{0, u"（"}, {2, u"1"}, {2, u"）"}}, u"（1）"},
      // Latin words and numbers keep their blanks, however narrow the gap.
      {{{0, u"GB/T"}, {8, u"3280-2015"}}, u"GB/T 3280-2015"},
      {{{0, u"stainless"}, {3, u"steel."}}, u"stainless steel."},
      // Where Chinese meets Latin or a number, only a printed gap makes a blank.
      {{{0, u"采用"}, {4, u"304"}, {5, u"不锈钢"}}, u"采用304不锈钢"},
      {{{0, u"厚度"}, {2, u"0.8mm"}, {0, u"。"}}, u"厚度0.8mm。"},
      {{{0, u"[0003]"}, {60, u"根据"}}, u"[0003] 根据"},
      {{{0, u"(21)"}, {45, u"申请号"}, {45, u"200710038426"}}, u"(21) 申请号 200710038426"},
      // Empty words leave no trace; a character beyond the BMP counts as Chinese.
      {{{0, u""}, {0, u"a"}, {0, u""}, {5, u"b"}}, u"a b"},
      {{{0, u"\U00020000"}, {5, u"x"}}, u"\U00020000x"},
      {{}, u""},
  };
  for (const Case& c : cases) {
    std::vector<LineWord> words;
    int x = 0;
    for (const auto& [gap, text] : c.words) {
      x += gap;
      words.push_back({text, x, x + 40 * static_cast<int>(text.size())});
      x = words.back().X1;
    }
    EXPECT_EQ(JoinWords(words, 20), c.line) << Utf16ToUtf8(c.line);
  }
}

TEST(CheckOcrLanguagesTest, MissingDataNamesTheDebianPackage) {
  EXPECT_NO_THROW(CheckOcrLanguages(kDefaultOcrLanguages));
  struct Case {
    const char* languages;
    const char* message;
  };
  const Case cases[] = {
      {"chi_sim+xyz_vert", "install the Debian package tesseract-ocr-xyz-vert."},
      {"Klingon", "install the Debian package tesseract-ocr-klingon."},
      {"chi_sim+../eng", "\"chi_sim+../eng\" is not a list of recognition languages."},
      {"chi_sim+", "is not a list of recognition languages."},
      {"", "No recognition language given."},
  };
  for (const Case& c : cases) {
    try {
      CheckOcrLanguages(c.languages);
      ADD_FAILURE() << c.languages << " accepted";
    } catch (const OcrError& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    }
  }
  EXPECT_THROW(Recognizer("xyz_vert"), OcrError);
}

TEST(RecognizerTest, ReadsEachPrintedLineInOrderWithItsBox) {
  const std::vector<OneBitImage> images = DecodeTiffPages(kFixture);
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].Dpi, 300);
  Recognizer recognizer;
  const std::vector<RecognizedLine> lines = recognizer.Recognize(images[0]);

  ASSERT_EQ(lines.size(), kPrinted.size());
  std::u16string read;
  std::u16string printed;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(Utf16ToUtf8(lines[i].Text));
    // The box holds the line's glyphs: about 44 pixels tall, ending near the baseline.
    const TextBox& box = lines[i].Box;
    EXPECT_NEAR(box.Y1, kBaselines[i], 15);
    EXPECT_NEAR(box.Y1 - box.Y0, 44, 16);
    EXPECT_NEAR(box.X0, 100, 10);
    EXPECT_EQ(test::BlanksBetweenCjk(lines[i].Text), 0u);
    read += lines[i].Text;
    printed += kPrinted[i];
  }
  // The engine misreads a few characters of this small print, not more.
  EXPECT_LE(test::CharacterErrorRate(read, printed), 0.15) << Utf16ToUtf8(read);
  EXPECT_NE(lines[1].Text.find(u"GB/T 3280-2015"), std::u16string::npos);
  // The Chinese model reads the full stop after English as a full-width comma.
  EXPECT_NE(lines[2].Text.find(u"made of stainless steel"), std::u16string::npos);
  // The same engine reads the next page afresh.
  EXPECT_EQ(recognizer.Recognize(images[0]).size(), kPrinted.size());
}

TEST(RecognizerTest, AGeneratedFrontPageAgainstWhatItPrints) {
  // The front page as the sample mirror serves it, through the TIFF reader.
  const PageGenerator generator("200710038426", 12);
  const std::string path = ::testing::TempDir() + "recognizer_front_page.tif";
  generator.WriteTiff(1, path);
  const std::vector<OneBitImage> images = DecodeTiffPages(path);
  ASSERT_EQ(images.size(), 1u);
  const std::vector<RecognizedLine> lines = Recognizer().Recognize(images[0]);
  const std::vector<PrintedLine> printed = generator.Lines(1);

  // The header's number, title and page count, far apart on one row, are one line.
  ASSERT_GE(lines.size(), 1u);
  EXPECT_TRUE(Utf16ToUtf8(lines[0].Text).starts_with("CN200710038426 发明专利申请 "))
      << Utf16ToUtf8(lines[0].Text);
  EXPECT_GT(lines[0].Box.X1 - lines[0].Box.X0, PageGenerator::kWidth / 2);
  EXPECT_NEAR(static_cast<double>(lines.size()), static_cast<double>(printed.size()), 2.0);
  std::u16string read;
  std::u16string truth;
  for (const RecognizedLine& line : lines) {
    EXPECT_EQ(test::BlanksBetweenCjk(line.Text), 0u) << Utf16ToUtf8(line.Text);
    read += line.Text;
  }
  for (const PrintedLine& line : printed) truth += Utf8ToUtf16(line.Text);
  EXPECT_LE(test::CharacterErrorRate(read, truth), 0.15) << Utf16ToUtf8(read);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace brevis
