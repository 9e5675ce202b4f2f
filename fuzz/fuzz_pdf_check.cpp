// Fuzz target: the whole-file check of a PDF, which reads whatever a disk holds. It must never
// read outside the bytes, and a file it calls whole has a header and a page count.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "pdf/pdf_file_check.h"

using brevis::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const brevis::PdfFileCheck check = brevis::CheckPdf(bytes);
  if (check.Whole) {
    Check(bytes.starts_with("%PDF-") && check.Pages > 0, "a whole file without header or pages");
    Check(check.Problem.empty(), "a whole file with a problem");
  } else {
    Check(!check.Problem.empty(), "a file that is not whole without a reason");
  }
  return 0;
}
