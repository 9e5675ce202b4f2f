// The engines that recognise pages, chosen by name: the neural recogniser (the default) or
// Tesseract. What recognises is passed around as one text, the "recognition": "neural", or the
// languages Tesseract reads ("chi_sim"); no Tesseract language is named "neural".
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/one_bit_image.h"
#include "ocr/line_text.h"

namespace brevis {

inline constexpr char kNeuralEngine[] = "neural";
inline constexpr char kTesseractEngine[] = "tesseract";
inline constexpr char kDefaultOcrEngine[] = "neural";

// The recognition for `engine` ("neural" or "tesseract") and, for Tesseract, `languages`.
// Throws OcrError for another engine name.
std::string OcrRecognition(std::string_view engine, std::string_view languages);
// Whether the recognition is the neural recogniser's.
bool IsNeuralRecognition(std::string_view recognition);

// Throws OcrError when the recognition cannot start: the neural recogniser's models missing
// (naming the package that brings them) or a Tesseract language not installed.
void CheckOcrRecognition(std::string_view recognition);
// The engine and its version ("tesseract 5.3.0"): text recognised by another may differ.
std::string OcrRecognitionVersion(std::string_view recognition);

// One engine, serving one thread at a time.
class PageReader {
 public:
  virtual ~PageReader() = default;
  // The page's text lines in reading order; throws OcrError.
  virtual std::vector<RecognizedLine> Recognize(const OneBitImage& page) = 0;
};

// Starts an engine for the recognition; throws OcrError as CheckOcrRecognition does, or when
// the engine does not start.
std::unique_ptr<PageReader> StartPageReader(std::string_view recognition);

}  // namespace brevis
