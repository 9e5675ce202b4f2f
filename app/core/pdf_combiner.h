// PdfCombiner: the combination's PDF document component, a PdfDocument with the window's design
// settings, that codes page files ahead of the combination when they arrive during a download.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "app/core/combiner.h"
#include "ocr/document_text.h"
#include "ocr/page_recognition.h"
#include "pdf/pdf_document.h"

namespace brevis {

class PdfCombiner final : public Combiner {
 public:
  // At most this many pages are kept prepared by default; later pages are read when they are
  // combined.
  static constexpr std::size_t kMaxPreparedPages = 400;
  static constexpr char kKeywords[] = "brevis pdf document";

  // `maxPreparedPages` caps the pages kept prepared at once: PreparePage ignores pages beyond it
  // until AddTiffFromFile or DropPreparedPages has taken some out.
  explicit PdfCombiner(std::size_t maxPreparedPages = kMaxPreparedPages);

  void BeginDoc(const std::u16string& file_name, const std::u16string& subject) override;
  void AddPage() override;
  // Places a prepared page when the file is still the one prepared, else reads the file now;
  // either way the document comes out the same, byte for byte.
  void AddTiffFromFile(const std::u16string& file_name) override;
  void EndDoc() override;
  void PreparePage(const std::u16string& file_name) override;
  void DropPreparedPages() override;
  void SetTextLanguages(const std::string& languages) override;
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
  std::mutex preparedLock_;  // guards prepared_
  std::map<std::string, PreparedPage> prepared_;

  // Recognition, when on; the text of the document under way, and what the last one lacked.
  std::string languages_;
  std::unique_ptr<PageRecognition> recognition_;
  std::string pdfPath_;
  DocumentText text_;
  std::vector<UnreadPage> unread_;
};

}  // namespace brevis
