// NeuralRecognizer: the text lines of a page read by neural networks: a DB detector finds the
// lines, a CTC recogniser reads each one. Like the Tesseract engine, one serves one thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/one_bit_image.h"
#include "ocr/line_text.h"

namespace brevis {

namespace neural {
class LineRecognizer;
class TextDetector;
}  // namespace neural

class NeuralRecognizer {
 public:
  // Loads the detector, the recogniser and its keys; throws OcrError naming the file that
  // cannot be read.
  NeuralRecognizer(const std::string& detectorPath, const std::string& recogniserPath,
                   const std::string& keysPath);
  ~NeuralRecognizer();
  NeuralRecognizer(const NeuralRecognizer&) = delete;
  NeuralRecognizer& operator=(const NeuralRecognizer&) = delete;

  // The page's lines in reading order, a row a line (JoinRows), each with the box of its ink;
  // rows of glyphs the detector passed over (UncoveredTextRows) are read too. A page turned by
  // up to 3 degrees is read turned level (SkewAngle). Throws OcrError when the networks fail on
  // the page.
  std::vector<RecognizedLine> Recognize(const OneBitImage& page);

 private:
  // The lines of a page whose lines lie level, in no particular order.
  std::vector<RecognizedLine> ReadLevel(const OneBitImage& page);

  std::unique_ptr<neural::TextDetector> detector_;
  std::unique_ptr<neural::LineRecognizer> recogniser_;
};

}  // namespace brevis
