// The check that a PDF file on disk is whole, before a bulk run skips the patent it belongs to:
// a file cut short, or with a damaged cross-reference table or object, is fetched again rather
// than kept. It reads the classic cross-reference table that this program's writer gives; a
// file without one (a cross-reference stream, say) is not taken as whole.
#pragma once

#include <string>
#include <string_view>

namespace brevis {

struct PdfFileCheck {
  bool Whole = false;
  // The page tree's /Count, when whole.
  int Pages = 0;
  // Why the file is not whole: "no %%EOF at its end", "object 7 is not where the table says"...
  std::string Problem;
};

// The header, the trailer at the end ("startxref", its offset, "%%EOF"), every in-use entry of
// the table pointing at "N G obj" of its own number, each object ending with "endobj" where the
// next one starts, and the catalogue's page tree with a page count.
PdfFileCheck CheckPdf(std::string_view bytes);

// CheckPdf on the file `path`, mapped; Problem names the cause when it cannot be read.
PdfFileCheck CheckPdfFile(const std::string& path);

}  // namespace brevis
