// NeuralRecognizer: detection, then each line read and its words joined as the page prints them.
#include "ocr/neural/neural_recognizer.h"

#include <algorithm>
#include <cmath>

#include "ocr/neural/line_recognizer.h"
#include "ocr/neural/page_skew.h"
#include "ocr/neural/text_detector.h"
#include "ocr/recognizer.h"
#include "ocr/uncovered_ink.h"

namespace brevis {

NeuralRecognizer::NeuralRecognizer(const std::string& detectorPath,
                                   const std::string& recogniserPath, const std::string& keysPath) {
  try {
    detector_ = std::make_unique<neural::TextDetector>(detectorPath);
    recogniser_ = std::make_unique<neural::LineRecognizer>(recogniserPath, keysPath);
  } catch (const neural::ModelError& error) {
    throw OcrError(error.what());
  }
}

NeuralRecognizer::~NeuralRecognizer() = default;

std::vector<RecognizedLine> NeuralRecognizer::Recognize(const OneBitImage& page) {
  if (page.Width <= 0 || page.Height <= 0 ||
      page.Rows.size() < page.Stride * static_cast<std::size_t>(page.Height)) {
    throw OcrError("The page has no image to recognise.");
  }
  std::vector<RecognizedLine> lines;
  try {
    // A page scanned askew is read turned level, its boxes turned back onto the page. Under a
    // quarter of a degree, a line's box grows by less than its margin.
    const double skew = neural::SkewAngle(page);
    if (std::abs(skew) < 0.25) {
      lines = ReadLevel(page);
    } else {
      lines = ReadLevel(neural::Levelled(page, skew));
      for (RecognizedLine& line : lines) {
        line.Box = neural::OnPage(line.Box, skew, page.Width, page.Height);
      }
    }
  } catch (const neural::ModelError& error) {
    throw OcrError(error.what());
  }
  JoinRows(lines);
  return lines;
}

std::vector<RecognizedLine> NeuralRecognizer::ReadLevel(const OneBitImage& page) {
  std::vector<RecognizedLine> lines;
  auto read = [&](const TextBox& box) {
    const neural::LineRecognizer::Line line = recogniser_->Read(page, box);
    if (line.Words.empty()) return;
    RecognizedLine text{JoinWords(line.Words, line.Ink.Y1 - line.Ink.Y0), line.Ink};
    if (!text.Text.empty()) lines.push_back(std::move(text));
  };
  for (const TextBox& box : detector_->Detect(page)) read(box);
  // Rows of glyphs no line covers, such as a drawing's small labels, each read as a line with
  // a margin of white around it.
  for (const TextBox& row : RowsNotRead(page, lines)) {
    const int margin = (row.Y1 - row.Y0) / 4;
    read({std::max(0, row.X0 - margin), std::max(0, row.Y0 - margin),
          std::min(page.Width, row.X1 + margin), std::min(page.Height, row.Y1 + margin)});
  }
  return lines;
}

}  // namespace brevis
