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
#include "ocr/line_text.h"

namespace brevis {

// Recognition cannot start (language data missing) or a page cannot be read.
class OcrError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The Chinese model alone: it reads Latin letters and digits as well, while with the English
// model beside it the engine reads whole Chinese lines as English ones.
inline constexpr char kDefaultOcrLanguages[] = "chi_sim";

// The folder Tesseract reads its language data from: TESSDATA_PREFIX when set, else the one of
// Debian's packages.
std::string OcrDataFolder();
// The engine's name and version ("tesseract 5.3.0"): text read by another engine may differ.
std::string OcrEngineVersion();
// Throws OcrError naming the Debian package of the first language of `languages` ("chi_sim+eng")
// whose data is not in OcrDataFolder(), or for a list that names no language.
void CheckOcrLanguages(std::string_view languages);

class Recognizer {
 public:
  // Starts an engine for `languages`; throws OcrError as CheckOcrLanguages does, or when the
  // engine does not start.
  explicit Recognizer(std::string_view languages = kDefaultOcrLanguages);
  ~Recognizer();
  Recognizer(const Recognizer&) = delete;
  Recognizer& operator=(const Recognizer&) = delete;

  // The page's text lines in reading order, a row a line (JoinRows), each with its box; empty
  // lines are left out. Blanks stand where the engine measures a gap in the ink (JoinWords);
  // rows of glyphs the engine's layout passed over (UncoveredTextRows) are read one by one.
  // Throws OcrError when the engine fails on the page.
  std::vector<RecognizedLine> Recognize(const OneBitImage& page);

 private:
  struct Engine;
  std::unique_ptr<Engine> engine_;
};

}  // namespace brevis
