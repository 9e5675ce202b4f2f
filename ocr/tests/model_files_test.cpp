// Tests of where the neural recogniser's models are looked for, and of the message that names
// the missing file and the ways out.
#include "ocr/model_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "common/tests/test_files.h"
#include "ocr/recognizer.h"

namespace brevis {
namespace {

namespace fs = std::filesystem;

constexpr char kVariable[] = "BREVISFETCH_OCR_MODELS";

class ModelFilesTest : public ::testing::Test {
 protected:
  ModelFilesTest() : dir_(test::FreshTestDir("model_files_test")) {
    if (const char* value = std::getenv(kVariable)) saved_ = value;
  }
  ~ModelFilesTest() override {
    if (saved_) {
      ::setenv(kVariable, saved_->c_str(), 1);
    } else {
      ::unsetenv(kVariable);
    }
    fs::remove_all(dir_);
  }

  // A models' folder holding the files named.
  fs::path Folder(const std::string& name, std::initializer_list<const char*> files) const {
    const fs::path folder = dir_ / name;
    fs::create_directories(folder);
    for (const char* file : files) test::WriteFile(folder / file, "model");
    return folder;
  }

  fs::path dir_;
  std::optional<std::string> saved_;
};

TEST_F(ModelFilesTest, TheFolderComesFromTheEnvironmentElseThePackage) {
  ::unsetenv(kVariable);
  EXPECT_EQ(OcrModelFolder(), kOcrModelsInstalled);
  ::setenv(kVariable, "", 1);
  EXPECT_EQ(OcrModelFolder(), kOcrModelsInstalled);
  ::setenv(kVariable, dir_.c_str(), 1);
  EXPECT_EQ(OcrModelFolder(), dir_.string());
}

TEST_F(ModelFilesTest, FindsTheThreeFiles) {
  const fs::path folder = Folder(
      "all", {"ch_PP-OCRv4_det_infer.onnx", "ch_PP-OCRv4_rec_infer.onnx", "ppocr_keys_v1.txt"});
  ::setenv(kVariable, folder.c_str(), 1);
  const OcrModelFiles files = FindOcrModels();
  EXPECT_EQ(files.Detector, (folder / "ch_PP-OCRv4_det_infer.onnx").string());
  EXPECT_EQ(files.Recogniser, (folder / "ch_PP-OCRv4_rec_infer.onnx").string());
  EXPECT_EQ(files.Keys, (folder / "ppocr_keys_v1.txt").string());
}

TEST_F(ModelFilesTest, NamesTheFirstFileMissing) {
  const fs::path no_keys =
      Folder("no_keys", {"ch_PP-OCRv4_det_infer.onnx", "ch_PP-OCRv4_rec_infer.onnx"});
  const fs::path keys_folder =
      Folder("keys_folder", {"ch_PP-OCRv4_det_infer.onnx", "ch_PP-OCRv4_rec_infer.onnx"});
  fs::create_directory(keys_folder / "ppocr_keys_v1.txt");
  struct Case {
    const char* name;
    fs::path folder;
    const char* missing;
  };
  const Case kCases[] = {
      {"no folder", dir_ / "absent", "ch_PP-OCRv4_det_infer.onnx"},
      {"no keys", no_keys, "ppocr_keys_v1.txt"},
      {"a folder in the keys' place", keys_folder, "ppocr_keys_v1.txt"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ::setenv(kVariable, c.folder.c_str(), 1);
    try {
      FindOcrModels();
      ADD_FAILURE() << "found the models";
    } catch (const OcrError& error) {
      EXPECT_EQ(std::string(error.what()),
                "The neural recogniser's models are not installed (no " +
                    (c.folder / c.missing).string() +
                    "): install the Debian package brevisfetch-ocr-models, or recognise with "
                    "Tesseract (--ocr-engine tesseract).");
    }
  }
}

}  // namespace
}  // namespace brevis
