// Loading Windows bitmap (.bmp) files into the PDF writer's Bitmap: the file form of AddImage
// reads its bitmaps here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pdf/bitmap.h"

namespace brevis {

// Reads an uncompressed BMP file of 1, 4, 8, 24 or 32 bits per pixel (core, version 3, 4 or 5
// header; rows stored bottom-up or top-down) into a bitmap of the same format and palette.
// Throws PdfError: "Cannot open file "<path>".", "Invalid bitmap file." for damaged or cut data,
// and "Unsupported image format." for other kinds (run-length coding, 16 bits, colour masks).
Bitmap LoadBitmapFile(const std::string& path);
Bitmap DecodeBitmapFile(const std::vector<uint8_t>& data);

}  // namespace brevis
