// The PDF writer's bitmap. Conversions go row by row through a small buffer of colours or
// palette indexes, with the format decided once per row, not per pixel.
#include "pdf/bitmap.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace brevis {

namespace {

bool IsIndexed(PixelFormat format) {
  return format == PixelFormat::pf1bit || format == PixelFormat::pf4bit ||
         format == PixelFormat::pf8bit;
}

int BitsOf(PixelFormat format) {
  switch (format) {
    case PixelFormat::pf1bit:
      return 1;
    case PixelFormat::pf4bit:
      return 4;
    case PixelFormat::pf8bit:
      return 8;
    case PixelFormat::pf24bit:
      return 24;
    case PixelFormat::pf32bit:
      return 32;
  }
  return 24;
}

constexpr RgbQuad Rgb(uint8_t red, uint8_t green, uint8_t blue) { return {blue, green, red, 0}; }

// The 16 colours of the standard VGA palette.
constexpr std::array<RgbQuad, 16> kVgaColors = {
    Rgb(0, 0, 0),       Rgb(128, 0, 0),   Rgb(0, 128, 0),   Rgb(128, 128, 0),
    Rgb(0, 0, 128),     Rgb(128, 0, 128), Rgb(0, 128, 128), Rgb(192, 192, 192),
    Rgb(128, 128, 128), Rgb(255, 0, 0),   Rgb(0, 255, 0),   Rgb(255, 255, 0),
    Rgb(0, 0, 255),     Rgb(255, 0, 255), Rgb(0, 255, 255), Rgb(255, 255, 255),
};

std::vector<RgbQuad> DefaultPalette(PixelFormat format) {
  switch (format) {
    case PixelFormat::pf1bit:
      return {kBlack, kWhite};
    case PixelFormat::pf4bit:
      return {kVgaColors.begin(), kVgaColors.end()};
    case PixelFormat::pf8bit: {
      // Index bits: rrrgggbb.
      std::vector<RgbQuad> palette(256);
      for (unsigned i = 0; i < 256; ++i) {
        palette[i] = Rgb(static_cast<uint8_t>((i >> 5) * 255 / 7),
                         static_cast<uint8_t>(((i >> 2) & 7) * 255 / 7),
                         static_cast<uint8_t>((i & 3) * 255 / 3));
      }
      return palette;
    }
    case PixelFormat::pf24bit:
    case PixelFormat::pf32bit:
      break;
  }
  return {};
}

// White when the luminance (weights 77, 150 and 29 out of 256) is at least half.
uint8_t IsLight(RgbQuad c) {
  return 77u * c.red + 150u * c.green + 29u * c.blue >= 128u * 256u ? 1 : 0;
}

uint8_t NearestVga(RgbQuad c) {
  int best = 0;
  int best_distance = 1 << 30;
  for (int i = 0; i < 16; ++i) {
    const RgbQuad& v = kVgaColors[static_cast<std::size_t>(i)];
    const int dr = c.red - v.red;
    const int dg = c.green - v.green;
    const int db = c.blue - v.blue;
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < best_distance) {
      best_distance = distance;
      best = i;
    }
  }
  return static_cast<uint8_t>(best);
}

// The index of a colour in the default palette of an indexed format.
uint8_t Quantize(RgbQuad c, PixelFormat format) {
  switch (format) {
    case PixelFormat::pf1bit:
      return IsLight(c);
    case PixelFormat::pf4bit:
      return NearestVga(c);
    default:
      return static_cast<uint8_t>((c.red & 0xE0) | ((c.green & 0xE0) >> 3) | (c.blue >> 6));
  }
}

void UnpackIndexes(const uint8_t* row, int bits, int width, uint8_t* out) {
  const auto n = static_cast<std::size_t>(width);
  switch (bits) {
    case 1:
      for (std::size_t x = 0; x < n; ++x) out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
      break;
    case 4:
      for (std::size_t x = 0; x < n; ++x) out[x] = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
      break;
    default:
      std::memcpy(out, row, n);
      break;
  }
}

// Writes whole bytes; the free bits of a row's last byte become 0.
void PackIndexes(const uint8_t* in, int bits, int width, uint8_t* row) {
  const auto n = static_cast<std::size_t>(width);
  switch (bits) {
    case 1: {
      std::size_t x = 0;
      for (; x + 8 <= n; x += 8) {
        row[x >> 3] =
            static_cast<uint8_t>(in[x] << 7 | in[x + 1] << 6 | in[x + 2] << 5 | in[x + 3] << 4 |
                                 in[x + 4] << 3 | in[x + 5] << 2 | in[x + 6] << 1 | in[x + 7]);
      }
      if (x < n) {
        unsigned byte = 0;
        for (std::size_t i = x; i < n; ++i) byte |= (in[i] & 1u) << (7 - (i - x));
        row[x >> 3] = static_cast<uint8_t>(byte);
      }
      break;
    }
    case 4:
      for (std::size_t x = 0; x < n; x += 2) {
        const unsigned low = x + 1 < n ? in[x + 1] & 0x0Fu : 0u;
        row[x >> 1] = static_cast<uint8_t>((in[x] & 0x0Fu) << 4 | low);
      }
      break;
    default:
      std::memcpy(row, in, n);
      break;
  }
}

RgbQuad PaletteColor(const std::vector<RgbQuad>& palette, uint8_t index) {
  return index < palette.size() ? palette[index] : kBlack;
}

// The colours of one row, whatever the format.
void UnpackColors(const uint8_t* row, PixelFormat format, const std::vector<RgbQuad>& palette,
                  int width, uint8_t* index_buffer, RgbQuad* out) {
  const auto n = static_cast<std::size_t>(width);
  switch (format) {
    case PixelFormat::pf24bit:
      for (std::size_t x = 0; x < n; ++x) out[x] = {row[3 * x], row[3 * x + 1], row[3 * x + 2], 0};
      break;
    case PixelFormat::pf32bit:
      std::memcpy(out, row, 4 * n);
      break;
    default:
      UnpackIndexes(row, BitsOf(format), width, index_buffer);
      for (std::size_t x = 0; x < n; ++x) out[x] = PaletteColor(palette, index_buffer[x]);
      break;
  }
}

void PackColors(const RgbQuad* in, PixelFormat format, int width, uint8_t* index_buffer,
                uint8_t* row) {
  const auto n = static_cast<std::size_t>(width);
  switch (format) {
    case PixelFormat::pf24bit:
      for (std::size_t x = 0; x < n; ++x) {
        row[3 * x] = in[x].blue;
        row[3 * x + 1] = in[x].green;
        row[3 * x + 2] = in[x].red;
      }
      break;
    case PixelFormat::pf32bit:
      for (std::size_t x = 0; x < n; ++x) {
        row[4 * x] = in[x].blue;
        row[4 * x + 1] = in[x].green;
        row[4 * x + 2] = in[x].red;
        row[4 * x + 3] = 0;
      }
      break;
    case PixelFormat::pf1bit:
      for (std::size_t x = 0; x < n; ++x) index_buffer[x] = IsLight(in[x]);
      PackIndexes(index_buffer, 1, width, row);
      break;
    default:
      for (std::size_t x = 0; x < n; ++x) index_buffer[x] = Quantize(in[x], format);
      PackIndexes(index_buffer, BitsOf(format), width, row);
      break;
  }
}

void CheckSize(int width, int height) {
  if (width < 0 || height < 0) throw std::invalid_argument("Bitmap size is negative.");
}

}  // namespace

Bitmap::Bitmap(int width, int height, PixelFormat format) : format_(format) {
  CheckSize(width, height);
  width_ = width;
  height_ = height;
  stride_ = StrideFor(width, format);
  pixels_.assign(stride_ * static_cast<std::size_t>(height), 0);
  palette_ = DefaultPalette(format);
}

int Bitmap::BitsPerPixel() const { return BitsOf(format_); }

std::size_t Bitmap::StrideFor(int width, PixelFormat format) {
  const std::size_t bits =
      static_cast<std::size_t>(width) * static_cast<std::size_t>(BitsOf(format));
  return (bits + 31) / 32 * 4;
}

void Bitmap::SetSize(int width, int height) {
  CheckSize(width, height);
  if (width == width_ && height == height_) return;
  const std::size_t stride = StrideFor(width, format_);
  std::vector<uint8_t> pixels(stride * static_cast<std::size_t>(height), 0);
  // The shared part of each row: whole bytes, then the leading bits of a partial byte.
  const std::size_t shared_bits =
      static_cast<std::size_t>(std::min(width, width_)) * static_cast<std::size_t>(BitsPerPixel());
  const std::size_t whole = shared_bits / 8;
  const unsigned rest = static_cast<unsigned>(shared_bits % 8);
  const int rows = std::min(height, height_);
  for (int y = 0; y < rows; ++y) {
    const uint8_t* from = pixels_.data() + static_cast<std::size_t>(y) * stride_;
    uint8_t* to = pixels.data() + static_cast<std::size_t>(y) * stride;
    std::memcpy(to, from, whole);
    if (rest != 0) to[whole] = static_cast<uint8_t>(from[whole] & (0xFFu << (8 - rest)));
  }
  pixels_ = std::move(pixels);
  width_ = width;
  height_ = height;
  stride_ = stride;
}

void Bitmap::SetPixelFormat(PixelFormat format) {
  if (format == format_) return;
  const std::size_t stride = StrideFor(width_, format);
  std::vector<uint8_t> pixels(stride * static_cast<std::size_t>(height_), 0);
  std::vector<uint8_t> indexes(static_cast<std::size_t>(width_));
  const int from_bits = BitsPerPixel();
  const int to_bits = BitsOf(format);
  std::vector<RgbQuad> palette;

  if (IsIndexed(format_) && IsIndexed(format)) {
    // Index to index: keep the indexes when they fit, else map each palette entry once.
    std::array<uint8_t, 256> map{};
    const bool widening = to_bits > from_bits;
    for (unsigned i = 0; i < map.size(); ++i) {
      map[i] = widening ? static_cast<uint8_t>(i)
                        : Quantize(PaletteColor(palette_, static_cast<uint8_t>(i)), format);
    }
    palette = widening ? palette_ : DefaultPalette(format);
    for (int y = 0; y < height_; ++y) {
      UnpackIndexes(ScanLine(y), from_bits, width_, indexes.data());
      if (!widening) {
        for (uint8_t& index : indexes) index = map[index];
      }
      PackIndexes(indexes.data(), to_bits, width_,
                  pixels.data() + static_cast<std::size_t>(y) * stride);
    }
  } else {
    std::vector<RgbQuad> colors(static_cast<std::size_t>(width_));
    for (int y = 0; y < height_; ++y) {
      UnpackColors(ScanLine(y), format_, palette_, width_, indexes.data(), colors.data());
      PackColors(colors.data(), format, width_, indexes.data(),
                 pixels.data() + static_cast<std::size_t>(y) * stride);
    }
    palette = DefaultPalette(format);
  }
  pixels_ = std::move(pixels);
  palette_ = std::move(palette);
  stride_ = stride;
  format_ = format;
}

void Bitmap::ReduceToMonochrome() {
  if (format_ != PixelFormat::pf1bit) {
    SetPixelFormat(PixelFormat::pf1bit);
    return;
  }
  const uint8_t zero = IsLight(PaletteColor(palette_, 0));
  const uint8_t one = IsLight(PaletteColor(palette_, 1));
  palette_ = {kBlack, kWhite};
  if (zero == 0 && one == 1) return;
  // Each of the two indexes becomes all 0 or all 1 bits, so whole bytes map at once.
  for (uint8_t& byte : pixels_) {
    const unsigned b = byte;
    byte = static_cast<uint8_t>((zero ? ~b : 0u) | (one ? b : 0u));
  }
}

bool Bitmap::IsMonochrome() const {
  return format_ == PixelFormat::pf1bit && palette_.size() == 2 && palette_[0] == kBlack &&
         palette_[1] == kWhite;
}

uint8_t* Bitmap::ScanLine(int row) {
  if (row < 0 || row >= height_) throw std::out_of_range("Scan line index out of range");
  return pixels_.data() + static_cast<std::size_t>(row) * stride_;
}

const uint8_t* Bitmap::ScanLine(int row) const {
  if (row < 0 || row >= height_) throw std::out_of_range("Scan line index out of range");
  return pixels_.data() + static_cast<std::size_t>(row) * stride_;
}

void Bitmap::SetPalette(std::vector<RgbQuad> palette) {
  if (!IsIndexed(format_)) throw std::invalid_argument("A true colour bitmap has no palette.");
  if (palette.size() > (std::size_t{1} << BitsPerPixel())) {
    throw std::invalid_argument("Palette too large for the pixel format.");
  }
  palette_ = std::move(palette);
}

void Bitmap::CheckPixel(int x, int y) const {
  if (x < 0 || x >= width_ || y < 0 || y >= height_) {
    throw std::out_of_range("Pixel outside the bitmap.");
  }
}

uint32_t Bitmap::PixelValue(int x, int y) const {
  CheckPixel(x, y);
  const uint8_t* row = ScanLine(y);
  const auto ux = static_cast<std::size_t>(x);
  switch (format_) {
    case PixelFormat::pf1bit:
      return (row[ux >> 3] >> (7 - (ux & 7))) & 1u;
    case PixelFormat::pf4bit:
      return (row[ux >> 1] >> ((ux & 1) ? 0 : 4)) & 0x0Fu;
    case PixelFormat::pf8bit:
      return row[ux];
    case PixelFormat::pf24bit:
      return uint32_t{row[3 * ux]} | uint32_t{row[3 * ux + 1]} << 8 |
             uint32_t{row[3 * ux + 2]} << 16;
    case PixelFormat::pf32bit:
      return uint32_t{row[4 * ux]} | uint32_t{row[4 * ux + 1]} << 8 |
             uint32_t{row[4 * ux + 2]} << 16 | uint32_t{row[4 * ux + 3]} << 24;
  }
  return 0;
}

void Bitmap::SetPixelValue(int x, int y, uint32_t value) {
  CheckPixel(x, y);
  uint8_t* row = ScanLine(y);
  const auto ux = static_cast<std::size_t>(x);
  const auto byte = [value](unsigned shift) { return static_cast<uint8_t>(value >> shift); };
  switch (format_) {
    case PixelFormat::pf1bit: {
      const auto mask = static_cast<uint8_t>(0x80u >> (ux & 7));
      row[ux >> 3] =
          static_cast<uint8_t>((value & 1u) ? row[ux >> 3] | mask : row[ux >> 3] & ~mask);
      break;
    }
    case PixelFormat::pf4bit: {
      const unsigned shift = (ux & 1) ? 0 : 4;
      row[ux >> 1] =
          static_cast<uint8_t>((row[ux >> 1] & ~(0x0Fu << shift)) | (value & 0x0Fu) << shift);
      break;
    }
    case PixelFormat::pf8bit:
      row[ux] = byte(0);
      break;
    case PixelFormat::pf24bit:
      row[3 * ux] = byte(0);
      row[3 * ux + 1] = byte(8);
      row[3 * ux + 2] = byte(16);
      break;
    case PixelFormat::pf32bit:
      row[4 * ux] = byte(0);
      row[4 * ux + 1] = byte(8);
      row[4 * ux + 2] = byte(16);
      row[4 * ux + 3] = byte(24);
      break;
  }
}

RgbQuad Bitmap::PixelColor(int x, int y) const {
  const uint32_t value = PixelValue(x, y);
  if (IsIndexed(format_)) return PaletteColor(palette_, static_cast<uint8_t>(value));
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

}  // namespace brevis
