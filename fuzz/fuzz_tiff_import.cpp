// Fuzz target: TIFF files through AddTiffFromFile into a document written to a null stream. The
// input is written to one scratch file per process and imported twice: as the application does
// (Group 4, image scaled to the page) and with a coding picked by the input's size onto a page
// sized to the image. Failures must be PdfErrors, and the document must still be written.
#include <tiffio.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/stream.h"
#include "fuzz/fuzz_input.h"
#include "pdf/pdf_document.h"
#include "pdf/pdf_error.h"

namespace {

// $TMPDIR, else /dev/shm, else /tmp; removed when the process ends normally.
const std::string& ScratchFile() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0') dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/fuzz_tiff_import-" + std::to_string(getpid()) + ".tif";
  }();
  static const bool removed_at_exit = std::atexit([] { std::remove(path.c_str()); }) == 0;
  (void)removed_at_exit;
  return path;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) brevis::fuzz::Fail("cannot write the scratch file");
  const bool ok = std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !ok) brevis::fuzz::Fail("cannot write the scratch file");
}

// Work grows with the pixels decoded: a valid 20000 x 6000 page, just within the importer's
// limits, takes half a minute under the sanitizers. Files with an image above this many pixels
// are left out so that the run stays on malformed files; images beyond the limits are still
// imported, since they are refused before any pixel is decoded.
constexpr uint64_t kPixelBudget = uint64_t{1} << 21;

bool WithinBudget(const std::string& path) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) return true;
  bool within = true;
  do {
    uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    const uint64_t pixels = uint64_t{w} * h;
    const bool refused = w > brevis::kTiffMaxSide || h > brevis::kTiffMaxSide ||
                         pixels * 4 > static_cast<uint64_t>(brevis::kTiffMaxRasterBytes);
    within = pixels <= kPixelBudget || refused;
  } while (within && TIFFReadDirectory(tif) > 0);
  TIFFClose(tif);
  return within;
}

void Import(brevis::PdfDocument& document, const std::string& path,
            brevis::PdfImageCompressionType compression, brevis::TiffPaintType paint) {
  try {
    document.AddTiffFromFile(path, compression, paint);
  } catch (const brevis::PdfError&) {
    // Not a TIFF file, an image too large, or one libtiff cannot decode.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static constexpr brevis::PdfImageCompressionType kOther[] = {brevis::icFlate, brevis::icCCITT31,
                                                               brevis::icCCITT32, brevis::icJpeg};
  const std::string& path = ScratchFile();
  WriteFile(path, data, size);
  static const bool quiet = [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    return true;
  }();
  (void)quiet;
  if (!WithinBudget(path)) return 0;

  brevis::NullStream out;
  brevis::PdfDocument document;
  document.SetOutputStream(&out);
  document.BeginDoc();
  Import(document, path, brevis::icCCITT42, brevis::tptResizeImage);
  document.AddPage();
  Import(document, path, kOther[size % 4], brevis::tptResizePage);
  try {
    document.EndDoc();
  } catch (const std::exception&) {
    brevis::fuzz::Fail("the document is written after a failed import");
  }
  return 0;
}
