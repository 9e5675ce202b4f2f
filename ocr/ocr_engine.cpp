// The engines behind PageReader: the neural recogniser with the models found where they are
// installed, or Tesseract with its languages.
#include "ocr/ocr_engine.h"

#include "ocr/model_files.h"
#include "ocr/neural/neural_recognizer.h"
#include "ocr/recognizer.h"

namespace brevis {

namespace {

class NeuralReader final : public PageReader {
 public:
  explicit NeuralReader(const OcrModelFiles& files)
      : recognizer_(files.Detector, files.Recogniser, files.Keys) {}
  std::vector<RecognizedLine> Recognize(const OneBitImage& page) override {
    return recognizer_.Recognize(page);
  }

 private:
  NeuralRecognizer recognizer_;
};

class TesseractReader final : public PageReader {
 public:
  explicit TesseractReader(std::string_view languages) : recognizer_(languages) {}
  std::vector<RecognizedLine> Recognize(const OneBitImage& page) override {
    return recognizer_.Recognize(page);
  }

 private:
  Recognizer recognizer_;
};

}  // namespace

std::string OcrRecognition(std::string_view engine, std::string_view languages) {
  if (engine == kNeuralEngine) return kNeuralEngine;
  if (engine == kTesseractEngine) return std::string(languages);
  throw OcrError("\"" + std::string(engine) +
                 "\" is not a recognition engine: neural or tesseract.");
}

bool IsNeuralRecognition(std::string_view recognition) { return recognition == kNeuralEngine; }

void CheckOcrRecognition(std::string_view recognition) {
  if (IsNeuralRecognition(recognition)) {
    FindOcrModels();
  } else {
    CheckOcrLanguages(recognition);
  }
}

std::string OcrRecognitionVersion(std::string_view recognition) {
  // The runtime's own version: a change to how lines are found or read raises it.
  return IsNeuralRecognition(recognition) ? "neural 1 (PP-OCRv4 mobile)" : OcrEngineVersion();
}

std::unique_ptr<PageReader> StartPageReader(std::string_view recognition) {
  if (IsNeuralRecognition(recognition)) return std::make_unique<NeuralReader>(FindOcrModels());
  return std::make_unique<TesseractReader>(recognition);
}

}  // namespace brevis
