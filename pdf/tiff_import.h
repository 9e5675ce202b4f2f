// Reading TIFF page files for the PDF writer: every image of a file decoded with libtiff a band of
// rows at a time, brought to the pixel format of the chosen coding, cut into slices of at most
// 1201 rows and coded as image objects. PdfDocument::AddTiffFromFile places the result on pages;
// libtiff stays behind this file.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "common/one_bit_image.h"
#include "pdf/pdf_image.h"

namespace brevis {

// How the image of a TIFF file meets its page: tptResizePage gives the page the image's size, one
// page unit per pixel; tptResizeImage keeps the page's size and scales the image to its width.
enum TiffPaintType { tptResizePage, tptResizeImage };

// Images of 1200 rows or more are cut into slices of this many rows; the last may hold one more,
// and consecutive slices share a row.
inline constexpr int32_t kTiffSliceRows = 1200;
// Images beyond these sizes are refused before any pixel memory is taken. Within them, an image
// whose strips or tile rows each decode to at most 64 MB of 32-bit pixels and that is stored top
// row first is decoded a band at a time (one-bit pages with a fax coding as one-bit rows), so
// that it holds one band and one slice of pixels at a time, not its whole area; other images are
// decoded whole, taking up to kTiffMaxRasterBytes.
inline constexpr int64_t kTiffMaxSide = 20000;
inline constexpr int64_t kTiffMaxRasterBytes = int64_t{512} << 20;

// One slice: an image object without a name yet, and the number of image rows it holds.
struct TiffSlice {
  std::unique_ptr<PdfImage> Image;
  int32_t Rows = 0;
};

// One image of a TIFF file.
struct TiffPageImage {
  int32_t Width = 0;
  int32_t Height = 0;
  bool Sliced = false;  // 1200 rows or more: placed slice by slice
  std::vector<TiffSlice> Slices;
};

// A TIFF file turned into image objects, in the file's order. `error` holds the failure that
// ended reading after `images` (a page that cannot be decoded, an image too large), or null.
struct PreparedTiff {
  std::vector<TiffPageImage> Images;
  std::exception_ptr Error;
};

// The row ranges (first row, row count) of the slices of an image `height` rows tall; one range
// for images under 1200 rows.
std::vector<std::pair<int32_t, int32_t>> TiffSliceRanges(int32_t height);

// How pixels are taken. kWhole decodes every image whole to 32-bit colour with libtiff and
// reduces it; kRgba does the same a band at a time where the image allows it (see above); kOneBit
// also decodes one-bit pages with libtiff straight to one bit per pixel when the coding is a fax
// coding; kAuto also decodes Group 4 pages in one strip or in tiles with our own decoder and codes
// their rows without a bitmap (tiff_group4.h), leaving the pages it does not take to kOneBit. All
// four give the same image objects, byte for byte; kAuto with the least work and memory.
enum class TiffDecoding { kAuto, kOneBit, kRgba, kWhole };

// Reads every image of the file. Touches no document, so it may run on any thread. Throws
// PdfError ("Invalid tiff file name") when the file cannot be opened or is no TIFF file; later
// failures are returned in `error`: "Tiff image too large" beyond the limits above and "Cannot
// decode tiff image" when libtiff reports an error while reading an image or a directory.
PreparedTiff PrepareTiff(const std::string& fileName, PdfImageCompressionType compression,
                         int jpegQuality, TiffDecoding decoding = TiffDecoding::kAuto);

// Every image of the file as a black and white image, for recognition: one-bit pages as they are
// coded, other pages reduced to black and white at half luminance. Throws PdfError as PrepareTiff
// does, "Invalid tiff file name", "Tiff image too large" or "Cannot decode tiff image".
std::vector<OneBitImage> DecodeTiffPages(const std::string& fileName);

}  // namespace brevis
