// Recognizer: one Tesseract engine that reads the text lines of a black and white page. An engine
// is single-threaded and serves one thread at a time; PageRecognition keeps one per thread.
// Tesseract's headers stay in recognizer.cpp.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/one_bit_image.h"

namespace brevis {

// Recognition cannot start (language data missing) or a page cannot be read.
class OcrError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A box in image pixels: left, top, right and bottom, the right and bottom edges excluded.
struct TextBox {
  int X0 = 0;
  int Y0 = 0;
  int X1 = 0;
  int Y1 = 0;
  friend bool operator==(const TextBox&, const TextBox&) = default;
};

// One printed line: its text as it is printed and its box.
struct RecognizedLine {
  std::u16string Text;
  TextBox Box;
};

// The Chinese model alone: it reads Latin letters and digits as well, while with the English
// model beside it the engine reads whole Chinese lines as English ones.
inline constexpr char kDefaultOcrLanguages[] = "chi_sim";

// The folder Tesseract reads its language data from: TESSDATA_PREFIX when set, else the one of
// Debian's packages.
std::string OcrDataFolder();
// Throws OcrError naming the Debian package of the first language of `languages` ("chi_sim+eng")
// whose data is not in OcrDataFolder(), or for a list that names no language.
void CheckOcrLanguages(std::string_view languages);

// A character of a script written without blanks between words: CJK ideographs, kana, hangul,
// and CJK and full-width punctuation.
bool IsCjk(char32_t c);
// A word as the engine read it, and where it lies along its line.
struct LineWord {
  std::u16string Text;
  int X0 = 0;
  int X1 = 0;
};
// The words of one line, left to right, as one text. Chinese has no blanks between words,
// whatever the engine's splitting says: between two CJK characters there is none. Between Latin
// words and numbers the engine's blank stays. Where Chinese meets Latin or a number, a blank
// stands only for a printed gap of at least `wide_gap` pixels ("[0003] 根据", but "采用304不锈钢").
std::u16string JoinWords(const std::vector<LineWord>& words, int wide_gap);

// Puts lines in the order a reader of a one-column page takes them, from the top, and joins the
// lines that share a row into one, from the left, as JoinWords joins words: a page header's
// number, title and page count, or a column of field codes the engine read apart from the
// fields. The engine's own order follows its blocks; the PDF readers put what shares a baseline
// on one line.
void JoinRows(std::vector<RecognizedLine>& lines);

class Recognizer {
 public:
  // Starts an engine for `languages`; throws OcrError as CheckOcrLanguages does, or when the
  // engine does not start.
  explicit Recognizer(std::string_view languages = kDefaultOcrLanguages);
  ~Recognizer();
  Recognizer(const Recognizer&) = delete;
  Recognizer& operator=(const Recognizer&) = delete;

  // The page's text lines in reading order, a row a line (JoinRows), each with its box; empty
  // lines are left out.
  // Throws OcrError when the engine fails on the page.
  std::vector<RecognizedLine> Recognize(const OneBitImage& page);

 private:
  struct Engine;
  std::unique_ptr<Engine> engine_;
};

}  // namespace brevis
