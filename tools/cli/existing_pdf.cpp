// ExistingPdf: the PDF's check, and its text file beside it.
#include "tools/cli/existing_pdf.h"

#include <filesystem>
#include <iostream>
#include <system_error>

#include "common/text.h"
#include "core/patent_paths.h"
#include "ocr/document_text.h"
#include "pdf/pdf_file_check.h"

namespace brevis::cli {

std::optional<ReportEntry> ExistingPdf(const std::u16string& root_dir, const std::u16string& apn,
                                       bool text) {
  const std::u16string pdf = PdfPath(root_dir, apn);
  const std::string label = "CN" + Utf16ToUtf8(apn);
  std::error_code error;
  if (!std::filesystem::exists(FsPath(pdf), error)) return std::nullopt;
  const PdfFileCheck check = CheckPdfFile(Utf16ToUtf8(pdf));
  if (!check.Whole) {
    std::cerr << label << ": the PDF there is not whole (" << check.Problem
              << "); fetching it again.\n";
    return std::nullopt;
  }
  if (text && !std::filesystem::exists(TextFilePath(Utf16ToUtf8(pdf)), error)) {
    std::cerr << label << ": the PDF there has no recognised text; fetching it again.\n";
    return std::nullopt;
  }
  ReportEntry entry;
  entry.Outcome = "skipped";
  entry.Pdf = Utf16ToUtf8(pdf);
  entry.Pages = check.Pages;
  const auto size = std::filesystem::file_size(FsPath(pdf), error);
  if (!error) entry.Bytes = static_cast<int64_t>(size);
  std::cerr << label << ": skipped, its PDF is there and whole (" << check.Pages
            << (check.Pages == 1 ? " page)" : " pages)") << ".\n";
  std::cout << entry.Pdf << std::endl;
  return entry;
}

}  // namespace brevis::cli
