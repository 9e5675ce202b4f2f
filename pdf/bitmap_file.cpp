// BMP reading: file header, one of the info header versions, palette and rows.
#include "pdf/bitmap_file.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "pdf/pdf_error.h"

namespace brevis {

namespace {

constexpr const char* kInvalid = "Invalid bitmap file.";
constexpr int32_t kMaxSide = 1 << 16;

uint32_t U32(const std::vector<uint8_t>& d, std::size_t at) {
  if (at + 4 > d.size()) throw PdfError(kInvalid);
  return static_cast<uint32_t>(d[at]) | static_cast<uint32_t>(d[at + 1]) << 8 |
         static_cast<uint32_t>(d[at + 2]) << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}

uint16_t U16(const std::vector<uint8_t>& d, std::size_t at) {
  if (at + 2 > d.size()) throw PdfError(kInvalid);
  return static_cast<uint16_t>(d[at] | d[at + 1] << 8);
}

}  // namespace

Bitmap DecodeBitmapFile(const std::vector<uint8_t>& data) {
  if (data.size() < 26 || data[0] != 'B' || data[1] != 'M') throw PdfError(kInvalid);
  const uint32_t pixel_offset = U32(data, 10);
  const uint32_t header_size = U32(data, 14);
  const bool core = header_size == 12;
  if (!core && header_size < 40) throw PdfError(kInvalid);
  int32_t width = 0, height = 0;
  uint16_t bits = 0;
  uint32_t compression = 0, colors_used = 0;
  if (core) {
    width = U16(data, 18);
    height = U16(data, 20);
    bits = U16(data, 24);
  } else {
    width = static_cast<int32_t>(U32(data, 18));
    height = static_cast<int32_t>(U32(data, 22));
    bits = U16(data, 28);
    compression = U32(data, 30);
    colors_used = U32(data, 46);
  }
  const bool top_down = height < 0;
  if (top_down) height = height == INT32_MIN ? 0 : -height;
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) throw PdfError(kInvalid);

  PixelFormat format{};
  switch (bits) {
    case 1:
      format = PixelFormat::pf1bit;
      break;
    case 4:
      format = PixelFormat::pf4bit;
      break;
    case 8:
      format = PixelFormat::pf8bit;
      break;
    case 24:
      format = PixelFormat::pf24bit;
      break;
    case 32:
      format = PixelFormat::pf32bit;
      break;
    default:
      throw PdfError("Unsupported image format.");
  }
  // Colour masks on a 32-bit file are accepted when they are the plain blue-green-red layout.
  const bool plain_masks = compression == 3 && bits == 32 && header_size >= 52 &&
                           U32(data, 54) == 0x00FF0000u && U32(data, 58) == 0x0000FF00u &&
                           U32(data, 62) == 0x000000FFu;
  if (compression != 0 && !plain_masks) throw PdfError("Unsupported image format.");

  Bitmap bitmap(width, height, format);
  if (bits <= 8) {
    const std::size_t max_entries = std::size_t{1} << bits;
    std::size_t entries =
        colors_used == 0 ? max_entries : std::min<std::size_t>(colors_used, max_entries);
    const std::size_t entry_size = core ? 3 : 4;
    const std::size_t palette_at = 14 + std::size_t{header_size};
    std::vector<RgbQuad> palette;
    for (std::size_t i = 0; i < entries; ++i) {
      const std::size_t at = palette_at + i * entry_size;
      if (at + 3 > data.size()) throw PdfError(kInvalid);
      palette.push_back({data[at], data[at + 1], data[at + 2], 0});
    }
    bitmap.SetPalette(std::move(palette));
  }

  const std::size_t file_stride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
  if (pixel_offset > data.size() ||
      (data.size() - pixel_offset) / file_stride < static_cast<std::size_t>(height)) {
    throw PdfError(kInvalid);
  }
  // A bitmap row has the same layout as a file row, 4-byte aligned.
  const std::size_t copy = std::min(file_stride, bitmap.RowStride());
  for (int32_t y = 0; y < height; ++y) {
    const int32_t file_row = top_down ? y : height - 1 - y;
    std::memcpy(bitmap.ScanLine(y),
                data.data() + pixel_offset + static_cast<std::size_t>(file_row) * file_stride,
                copy);
  }
  return bitmap;
}

Bitmap LoadBitmapFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PdfError("Cannot open file \"" + path + "\".");
  const std::vector<uint8_t> data{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
  return DecodeBitmapFile(data);
}

}  // namespace brevis
