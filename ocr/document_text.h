// DocumentText: the recognised text of one document's pages, laid over the pages' pictures and
// kept for the plain text file beside the PDF.
#pragma once

#include <string>
#include <vector>

#include "ocr/page_recognition.h"

namespace brevis {

class PdfDocument;

// The text file beside the PDF `pdfPath`: the same name with ".txt" for ".pdf".
std::string TextFilePath(const std::string& pdfPath);

// Lays the recognised text of a page file over the pages its images were placed on: the last
// image's on the document's current page, each earlier one's on the page before. Each image's
// page is taken to show the image over the page's whole width, as the combination places it.
void LayPageText(PdfDocument& document, const PageText& text);

// A page file that has no text, and why.
struct UnreadFile {
  std::string File;
  std::string Cause;
};

class DocumentText {
 public:
  // The text of the document's next page file.
  void Add(const std::string& file, const PageText& text);
  // UTF-8: each page's lines, each ending in a line feed, with a form feed between two pages.
  std::string Contents() const { return contents_; }
  // Writes Contents() to TextFilePath(pdfPath), atomically; throws FileWriteError.
  void WriteBeside(const std::string& pdfPath) const;
  // The page files that have no text, in page order.
  const std::vector<UnreadFile>& Unread() const { return unread_; }

 private:
  std::string contents_;
  bool first_ = true;
  std::vector<UnreadFile> unread_;
};

}  // namespace brevis
