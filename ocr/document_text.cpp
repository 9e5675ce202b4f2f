// DocumentText: the text file's contents, and the text layer through the PDF writer.
#include "ocr/document_text.h"

#include "common/atomic_file.h"
#include "common/text.h"
#include "pdf/pdf_document.h"
#include "pdf/text_layer.h"

namespace brevis {

std::string TextFilePath(const std::string& pdfPath) {
  const bool pdf = pdfPath.size() > 4 && pdfPath.compare(pdfPath.size() - 4, 4, ".pdf") == 0;
  return (pdf ? pdfPath.substr(0, pdfPath.size() - 4) : pdfPath) + ".txt";
}

void LayPageText(PdfDocument& document, const PageText& text) {
  // BREVISFETCH_SHOW_TEXT=1 draws the text in colour, to see where the boxes lie.
  const TextLayerMode mode = TextLayerModeFromEnvironment();
  const int32_t last = document.CurrentPageNumber();
  const auto images = static_cast<int32_t>(text.Images.size());
  for (int32_t i = 0; i < images; ++i) {
    const int32_t page = last - (images - 1 - i);
    if (page < 0) continue;
    if (page != document.CurrentPageNumber()) document.SetCurrentPageNumber(page);
    const ImageText& image = text.Images[static_cast<std::size_t>(i)];
    std::vector<TextLine> lines;
    for (const RecognizedLine& line : image.Lines) {
      lines.push_back({line.Text, static_cast<double>(line.Box.X0),
                       static_cast<double>(line.Box.Y0), static_cast<double>(line.Box.X1),
                       static_cast<double>(line.Box.Y1)});
    }
    if (!lines.empty()) document.AddTextLayer(lines, image.Width, image.Height, mode);
  }
  if (document.CurrentPageNumber() != last) document.SetCurrentPageNumber(last);
}

void DocumentText::WriteBeside(const std::string& pdfPath) const {
  WriteFileAtomically(TextFilePath(pdfPath), reinterpret_cast<const uint8_t*>(contents_.data()),
                      contents_.size());
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
