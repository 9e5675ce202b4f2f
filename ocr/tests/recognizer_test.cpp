// The recognizer on a small fixture page of four printed lines (Chinese, mixed with Latin and
// numbers, English), the joining of words into lines, and the check of the language data.
#include "ocr/recognizer.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/text.h"
#include "ocr/tests/text_measures.h"
#include "pdf/tiff_import.h"

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

TEST(JoinWordsTest, NoBlankBesideChineseBlanksBetweenLatinWords) {
  struct Case {
    std::vector<std::u16string> words;
    std::u16string line;
  };
  const Case cases[] = {
      // The engine's splitting of Chinese is dropped.
      {{u"本", u"发明", u"涉及", u"一种"}, u"本发明涉及一种"},
      {{u"阀门", u"，", u"特别是"}, u"阀门，特别是"},
      {{u"（", u"1", u"）"}, u"（1）"},
      // Latin words and numbers keep their blanks; beside Chinese there is none.
      {{u"GB/T", u"3280-2015"}, u"GB/T 3280-2015"},
      {{u"采用", u"304", u"不锈钢"}, u"采用304不锈钢"},
      {{u"厚度", u"0.8mm", u"。"}, u"厚度0.8mm。"},
      {{u"stainless", u"steel."}, u"stainless steel."},
      // Empty words leave no trace; a character beyond the BMP counts as Chinese.
      {{u"", u"a", u"", u"b"}, u"a b"},
      {{u"\U00020000", u"x"}, u"\U00020000x"},
      {{}, u""},
  };
  for (const Case& c : cases) EXPECT_EQ(JoinWords(c.words), c.line) << Utf16ToUtf8(c.line);
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
  EXPECT_NE(lines[2].Text.find(u"made of stainless steel."), std::u16string::npos);
  // The same engine reads the next page afresh.
  EXPECT_EQ(recognizer.Recognize(images[0]).size(), kPrinted.size());
}

}  // namespace
}  // namespace brevis
