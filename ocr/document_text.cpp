// DocumentText: the text file's contents, and the text layer through the PDF writer.
#include "ocr/document_text.h"

#include "common/text.h"
#include "pdf/pdf_document.h"

namespace brevis {

std::string TextFilePath(const std::string& pdfPath) {
  const bool pdf = pdfPath.size() > 4 && pdfPath.compare(pdfPath.size() - 4, 4, ".pdf") == 0;
  return (pdf ? pdfPath.substr(0, pdfPath.size() - 4) : pdfPath) + ".txt";
}

void LayPageText(PdfDocument& document, const PageText& text) {
  // The PDF writer's text layer is joined here next.
  (void)document;
  (void)text;
}

void DocumentText::Add(const std::string& file, const PageText& text) {
  if (!text.Error.empty()) unread_.push_back({file, text.Error});
  // A file without text still stands for a page, so that the pages stay counted.
  const std::size_t pages = text.Images.empty() ? 1 : text.Images.size();
  for (std::size_t i = 0; i < pages; ++i) {
    if (!first_) contents_ += '\f';
    first_ = false;
    if (i >= text.Images.size()) continue;
    for (const RecognizedLine& line : text.Images[i].Lines) {
      contents_ += Utf16ToUtf8(line.Text);
      contents_ += '\n';
    }
  }
}

}  // namespace brevis
