// Fuzz target: TIFF files through AddTiffFromFile into a document written to a null stream. The
// input is written to one scratch file per process and imported twice: as the application does
// (Group 4, image scaled to the page) and with a coding picked by the input's size onto a page
// sized to the image (a fax coding for large one-bit images). Failures must be PdfErrors, and
// the document must still be written.
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
// limits, takes 20 to 45 seconds under the sanitizers when it is decoded to 32-bit colour (and
// 600 MB, a slice of 20000 x 1201 colour pixels at a time), but 3 seconds (6 on a loaded
// machine) when it is decoded a band of one-bit rows at a time for the fax codings (140 MB). So
// every image within the limits is imported: one-bit images as the importer decodes them straight
// to one bit, with fax codings only, and other images when they have at most this many pixels.
// Files with a larger image of another kind are left out, so that the run stays on malformed files;
// images beyond the limits are still imported, since they are refused before any pixel is decoded.
constexpr uint64_t kColourPixelBudget = uint64_t{1} << 21;

// What the importer decodes straight to one bit: one bit per pixel, one sample, black and white
// photometry, top row first, and tiles (if any) that start on whole bytes.
bool DecodedAsOneBit(TIFF* tif) {
  uint16_t bits = 0, samples = 0, photometric = 0, orientation = 0;
  uint32_t tile_width = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  if (TIFFIsTiled(tif)) TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tile_width);
  return bits == 1 && samples == 1 && orientation == ORIENTATION_TOPLEFT &&
         (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK) &&
         tile_width % 8 == 0;
}

enum class Budget { kAny, kFaxOnly, kOver };

// Whether the file's images are within the budget, and with which codings.
Budget Within(const std::string& path) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) return Budget::kAny;
  Budget budget = Budget::kAny;
  do {
    uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    const uint64_t pixels = uint64_t{w} * h;
    const bool refused = w > brevis::kTiffMaxSide || h > brevis::kTiffMaxSide ||
                         pixels * 4 > static_cast<uint64_t>(brevis::kTiffMaxRasterBytes);
    if (pixels > kColourPixelBudget && !refused) {
      budget = DecodedAsOneBit(tif) ? Budget::kFaxOnly : Budget::kOver;
    }
  } while (budget != Budget::kOver && TIFFReadDirectory(tif) > 0);
  TIFFClose(tif);
  return budget;
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
  const Budget budget = Within(path);
  if (budget == Budget::kOver) return 0;

  brevis::NullStream out;
  brevis::PdfDocument document;
  document.SetOutputStream(&out);
  document.BeginDoc();
  Import(document, path, brevis::icCCITT42, brevis::tptResizeImage);
  document.AddPage();
  Import(document, path, budget == Budget::kAny ? kOther[size % 4] : kOther[1 + size % 2],
         brevis::tptResizePage);
  try {
    document.EndDoc();
  } catch (const std::exception&) {
    brevis::fuzz::Fail("the document is written after a failed import");
  }
  return 0;
}
