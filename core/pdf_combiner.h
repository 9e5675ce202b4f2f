// PdfCombiner: the combination's PDF document component, a PdfDocument with the window's design
// settings, that codes page files ahead of the combination when they arrive during a download.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "core/combiner.h"
#include "ocr/document_text.h"
#include "ocr/page_recognition.h"
#include "pdf/pdf_document.h"

namespace brevis {

class PdfCombiner final : public Combiner {
 public:
  // At most this many pages are kept prepared by default; later pages are read when they are
  // combined.
  static constexpr std::size_t kMaxPreparedPages = 400;
  // At most this many pages are decoded and coded at once by default, whatever the number of
  // threads that deliver them: a page that libtiff cannot decode a band at a time costs up to
  // kTiffMaxRasterBytes, and since coding is bound by the processor, two pages at once already
  // keep two cores busy.
  static constexpr std::size_t kMaxPreparingPages = 2;
  static constexpr char kKeywords[] = "brevis pdf document";

  // Reads and codes a page file; PrepareTiff with the combination's coding unless a test gives
  // another.
  using PageReader = std::function<PreparedTiff(const std::string& path)>;

  // `maxPreparedPages` caps the pages kept prepared (or being prepared) at once: PreparePage
  // ignores pages beyond it until AddTiffFromFile or DropPreparedPages has taken some out.
  // `maxPreparingPages` caps the pages being prepared at once: a thread that finds that many
  // under way waits for one of them to end.
  explicit PdfCombiner(std::size_t maxPreparedPages = kMaxPreparedPages,
                       std::size_t maxPreparingPages = kMaxPreparingPages,
                       PageReader readPage = nullptr);

  void BeginDoc(const std::u16string& file_name, const std::u16string& subject) override;
  void AddPage() override;
  // Places a prepared page when the file is still the one prepared, else reads the file now;
  // either way the document comes out the same, byte for byte.
  void AddTiffFromFile(const std::u16string& file_name) override;
  void EndDoc() override;
  // Codes the page on the calling thread, after waiting while kMaxPreparingPages pages are being
  // coded (see the constructor).
  void PreparePage(const std::u16string& file_name) override;
  void DropPreparedPages() override;
  void SetTextLanguages(const std::string& languages) override;
  void KeepPageTexts(bool reuse) override;
  void RecognisePages(const std::vector<std::u16string>& file_names) override;
  std::vector<UnreadPage> UnreadPages() const override { return unread_; }

  // The document component, for its settings.
  const PdfDocument& Pdf1() const { return pdf1_; }

 private:
  // A page file read and coded ahead, with the size and time of the file it was read from.
  struct PreparedPage {
    PreparedTiff Tiff;
    std::uintmax_t Size = 0;
    std::filesystem::file_time_type Written;
  };

  PdfDocument pdf1_;
  const std::size_t maxPreparedPages_;
  const std::size_t maxPreparingPages_;
  const PageReader readPage_;
  std::mutex preparedLock_;  // guards prepared_ and preparing_
  std::condition_variable preparingEnded_;
  std::map<std::string, PreparedPage> prepared_;
  std::size_t preparing_ = 0;  // pages being read and coded now

  // Recognition, when on; the text of the document under way, and what the last one lacked.
  std::string languages_;
  std::unique_ptr<PageRecognition> recognition_;
  bool keepTexts_ = false;   // KeepPageTexts was called
  bool reuseTexts_ = false;  // its `reuse`
  std::string pdfPath_;
  DocumentText text_;
  std::vector<UnreadPage> unread_;
};

}  // namespace brevis
