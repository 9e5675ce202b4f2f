// Group 4 TIFF pages coded again without a bitmap: the page's fax data is decoded by our own
// decoder into changing elements, which the fax coder codes slice by slice. Part of the TIFF
// import (tiff_import.cpp), which falls back to libtiff for everything this does not take.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "pdf/tiff_import.h"

typedef struct tiff TIFF;

namespace brevis {

// The slices of the current image of `tif` (width x height, as the import checked them), coded
// with `createCode` (PdfImage's Create codes 2 to 4), when the image is a one-bit Group 4 page
// this path takes: one strip, or tiles; MinIsWhite or MinIsBlack; either FillOrder; top row
// first; no T6Options. Returns nullopt for any other page, and for a page whose data does not
// decode cleanly to the last row (damaged, ending early, an early end of data): libtiff then
// decodes it, refusing it or filling what is missing as it always did. Never throws for the
// data; throws PdfError only from the coding.
std::optional<std::vector<TiffSlice>> TranscodeGroup4(TIFF* tif, int32_t width, int32_t height,
                                                      int createCode);

}  // namespace brevis
