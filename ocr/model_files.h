// Where the neural recogniser's models are: the folder BREVISFETCH_OCR_MODELS names, else the one
// the Debian package brevisfetch-ocr-models installs, and the three files it holds (PaddleOCR's
// PP-OCRv4 text detector and line recogniser, and the recogniser's list of characters).
#pragma once

#include <string>

namespace brevis {

inline constexpr char kOcrModelsPackage[] = "brevisfetch-ocr-models";
inline constexpr char kOcrModelsInstalled[] = "/usr/share/brevisfetch/ocr-models";

// The models' files, as full paths.
struct OcrModelFiles {
  std::string Detector, Recogniser, Keys;
};

// BREVISFETCH_OCR_MODELS when set and not empty, else kOcrModelsInstalled.
std::string OcrModelFolder();

// The three files in OcrModelFolder(). Only checks that each is a regular file (a link to one
// counts); their contents are for the recogniser to check. Throws OcrError (ocr/recognizer.h)
// naming the first one that is not, and the two ways out:
// "The neural recogniser's models are not installed (no <path>): install the Debian package
//  brevisfetch-ocr-models, or recognise with Tesseract (--ocr-engine tesseract)."
OcrModelFiles FindOcrModels();

}  // namespace brevis
