// brevisfetch-cli combine: turns TIFF page files into one PDF the way the application combines a
// downloaded patent (Group 4, scaled to the page's width), with a choice of coding and fit.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/atomic_file.h"
#include "common/text.h"
#include "core/page_read_ahead.h"
#include "ocr/document_text.h"
#include "ocr/page_recognition.h"
#include "pdf/pdf_document.h"
#include "tools/cli/commands.h"
#include "tools/cli/supervised_child.h"

namespace brevis::cli {

namespace {

struct CombineOptions {
  std::string Output;
  std::string Compression = "g4";
  std::string Fit = "width";
  std::vector<std::string> Pages;
  bool Ocr = false;
  std::string OcrEngine = kDefaultOcrEngine;
  std::string OcrLanguages = kDefaultOcrLanguages;
};

// A one-line bar on standard error, redrawn in place; shown only when that is a terminal.
class PageCountBar {
 public:
  explicit PageCountBar(std::size_t total) : total_(total), shown_(total > 1 && isatty(2) == 1) {}
  ~PageCountBar() {
    if (drawn_) std::fputs("\r\033[K", stderr);
  }
  PageCountBar(const PageCountBar&) = delete;
  PageCountBar& operator=(const PageCountBar&) = delete;

  void Update(std::size_t done) {
    if (!shown_) return;
    constexpr std::size_t kWidth = 40;
    const std::size_t filled = done * kWidth / total_;
    std::fprintf(stderr, "\r[%s%s] %zu/%zu pages", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, '.').c_str(), done, total_);
    std::fflush(stderr);
    drawn_ = true;
  }

 private:
  std::size_t total_;
  bool shown_;
  bool drawn_ = false;
};

void RunCombine(const CombineOptions& options) {
  // Interrupted, the command stops the work and removes the PDF it was writing.
  SuperviseChild([&options](pid_t child) {
    const std::filesystem::path target(options.Output);
    RemoveTemporaryFiles(
        target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path(),
        [name = target.filename().string(),
         text = std::filesystem::path(TextFilePath(options.Output)).filename().string()](
            std::string_view temporary_of) { return temporary_of == name || temporary_of == text; },
        child);
  });
  // A page file that is not there is named as such, before anything is read.
  for (const std::string& page : options.Pages) {
    std::error_code error;
    if (!std::filesystem::exists(page, error)) throw std::runtime_error(page + ": No such file");
  }
  PdfDocument document;
  document.SetFileName(options.Output);
  document.BeginDoc();
  const std::map<std::string, PdfImageCompressionType> codings = {{"g4", icCCITT42},
                                                                  {"g3-1d", icCCITT31},
                                                                  {"g3-2d", icCCITT32},
                                                                  {"flate", icFlate},
                                                                  {"jpeg", icJpeg}};
  const PdfImageCompressionType compression = codings.at(options.Compression);
  const TiffPaintType fit = options.Fit == "page" ? tptResizePage : tptResizeImage;
  // Recognition, when asked for, runs on its own threads ahead of the combination, which lays
  // each page's text over its picture as soon as the picture is placed.
  std::unique_ptr<PageRecognition> recognition;
  DocumentText text;
  if (options.Ocr) {
    recognition =
        std::make_unique<PageRecognition>(OcrRecognition(options.OcrEngine, options.OcrLanguages));
    for (const std::string& page : options.Pages) recognition->Submit(page);
  }
  std::size_t done = 0;
  try {
    PageCountBar bar(options.Pages.size());
    bar.Update(0);
    AddTiffFiles(document, options.Pages, compression, fit, [&](std::size_t count) {
      done = count;
      if (recognition) {
        const PageText page = recognition->Take(options.Pages[count - 1]);
        LayPageText(document, page);
        text.Add(options.Pages[count - 1], page);
      }
      bar.Update(count);
    });
  } catch (const std::exception& e) {
    // The writer's message, with the page file it concerns.
    throw std::runtime_error(options.Pages[done] + ": " + e.what());
  }
  // Written under a temporary name and renamed into place: a failure leaves no file behind and
  // an existing one as it was.
  document.EndDoc();
  if (!recognition) return;
  text.WriteBeside(options.Output);
  for (const UnreadFile& page : text.Unread()) {
    std::fprintf(stderr, "%s: no text: %s\n", page.File.c_str(),
                 EscapeControls(page.Cause).c_str());
  }
}

}  // namespace

void AddCombineCommand(CLI::App& app) {
  auto options = std::make_shared<CombineOptions>();
  CLI::App* combine = app.add_subcommand(
      "combine", "Combine TIFF page images into one PDF, one page per image, in the given order.");
  combine->add_option("-o,--output", options->Output, "PDF file to write")
      ->type_name("OUT.pdf")
      ->required();
  combine->add_option("--compression", options->Compression, "Coding of the page images")
      ->type_name("CODING")
      ->check(CLI::IsMember({"g4", "g3-1d", "g3-2d", "flate", "jpeg"}))
      ->capture_default_str();
  combine
      ->add_option("--fit", options->Fit,
                   "width: scale each image to the A4 page's width; page: size each page to its "
                   "image, one point per pixel")
      ->type_name("FIT")
      ->check(CLI::IsMember({"width", "page"}))
      ->capture_default_str();
  combine->add_option("PAGE", options->Pages, "TIFF page files, in page order")
      ->type_name("PAGE.tif")
      ->required();
  combine->add_flag("--ocr", options->Ocr,
                    "Recognise the pages' text: lay it invisibly over each page, so that it can "
                    "be searched and copied, and write it to OUT.txt beside the PDF");
  combine
      ->add_option("--ocr-engine", options->OcrEngine,
                   "What recognises the text: neural (a text detector and a line recogniser, "
                   "from the package brevisfetch-ocr-models) or tesseract")
      ->type_name("ENGINE")
      ->check(CLI::IsMember({kNeuralEngine, kTesseractEngine}))
      ->capture_default_str();
  combine
      ->add_option("--ocr-lang", options->OcrLanguages,
                   "Tesseract's recognition languages, joined by +")
      ->type_name("LANGS")
      ->capture_default_str();
  combine->callback([options] { RunCombine(*options); });
}

}  // namespace brevis::cli
