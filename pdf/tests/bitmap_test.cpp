// Tests of the bitmap: row layout, conversions between the pixel formats, and the reduction to
// black and white with palette entry 0 black.
#include "pdf/bitmap.h"

#include <gtest/gtest.h>

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace brevis {
namespace {

constexpr RgbQuad Rgb(uint8_t red, uint8_t green, uint8_t blue) { return {blue, green, red, 0}; }

// The 16 VGA colours, and whether each counts as white in black and white.
constexpr std::array<RgbQuad, 16> kVga = {
    Rgb(0, 0, 0),       Rgb(128, 0, 0),   Rgb(0, 128, 0),   Rgb(128, 128, 0),
    Rgb(0, 0, 128),     Rgb(128, 0, 128), Rgb(0, 128, 128), Rgb(192, 192, 192),
    Rgb(128, 128, 128), Rgb(255, 0, 0),   Rgb(0, 255, 0),   Rgb(255, 255, 0),
    Rgb(0, 0, 255),     Rgb(255, 0, 255), Rgb(0, 255, 255), Rgb(255, 255, 255),
};
constexpr std::array<int, 16> kVgaIsWhite = {0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 1, 1, 0, 0, 1, 1};

std::string Describe(RgbQuad c) {
  return std::to_string(c.red) + "," + std::to_string(c.green) + "," + std::to_string(c.blue);
}

uint32_t Packed(RgbQuad c) {
  return uint32_t{c.blue} | uint32_t{c.green} << 8 | uint32_t{c.red} << 16;
}

// Which VGA colour a pixel of the 16 x 16 test pattern has.
int PatternIndex(int x, int y) { return (3 * x + y) % 16; }

// A 16 x 16 bitmap of the pattern. Indexed formats get the VGA colours in reverse order as
// palette (so that indexes and default palettes differ); 1 bit gets black and white.
Bitmap Pattern(PixelFormat format) {
  Bitmap bitmap(16, 16, format);
  std::vector<RgbQuad> reversed(kVga.rbegin(), kVga.rend());
  if (format == PixelFormat::pf4bit || format == PixelFormat::pf8bit) bitmap.SetPalette(reversed);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const int i = PatternIndex(x, y);
      switch (format) {
        case PixelFormat::pf1bit:
          bitmap.SetPixelValue(x, y,
                               static_cast<uint32_t>(kVgaIsWhite[static_cast<std::size_t>(i)]));
          break;
        case PixelFormat::pf4bit:
        case PixelFormat::pf8bit:
          bitmap.SetPixelValue(x, y, static_cast<uint32_t>(15 - i));
          break;
        default:
          bitmap.SetPixelValue(x, y, Packed(kVga[static_cast<std::size_t>(i)]) | 0xAB000000u);
          break;
      }
    }
  }
  return bitmap;
}

RgbQuad Opaque(RgbQuad c) { return {c.blue, c.green, c.red, 0}; }

// --- Layout ---

TEST(BitmapTest, NewBitmapLayout) {
  struct Case {
    PixelFormat format;
    int width;
    std::size_t stride;
    std::size_t palette_size;
    int bits;
  };
  constexpr Case kCases[] = {
      {PixelFormat::pf1bit, 16, 4, 2, 1},   {PixelFormat::pf1bit, 33, 8, 2, 1},
      {PixelFormat::pf4bit, 9, 8, 16, 4},   {PixelFormat::pf8bit, 5, 8, 256, 8},
      {PixelFormat::pf24bit, 3, 12, 0, 24}, {PixelFormat::pf32bit, 16, 64, 0, 32},
      {PixelFormat::pf24bit, 0, 0, 0, 24},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.bits) + " bits, width " + std::to_string(c.width));
    Bitmap bitmap(c.width, 3, c.format);
    EXPECT_EQ(bitmap.BitsPerPixel(), c.bits);
    EXPECT_EQ(bitmap.RowStride(), c.stride);
    EXPECT_EQ(bitmap.Palette().size(), c.palette_size);
    if (c.width > 0) {
      EXPECT_EQ(bitmap.ScanLine(2) - bitmap.ScanLine(0), static_cast<std::ptrdiff_t>(2 * c.stride));
      EXPECT_EQ(bitmap.ScanLine(0), bitmap.Bits());
      for (int x = 0; x < c.width; ++x) EXPECT_EQ(bitmap.PixelValue(x, 2), 0u);
    }
  }
  // A new one-bit bitmap is black on palette entry 0.
  const Bitmap mono(16, 16, PixelFormat::pf1bit);
  EXPECT_TRUE(mono.IsMonochrome());
  EXPECT_EQ(mono.PixelColor(5, 5), kBlack);
}

TEST(BitmapTest, PixelPacking) {
  // Leftmost pixel in the top bits of the first byte; true colour blue first.
  Bitmap one(16, 1, PixelFormat::pf1bit);
  one.SetPixelValue(0, 0, 1);
  one.SetPixelValue(9, 0, 1);
  EXPECT_EQ(one.ScanLine(0)[0], 0x80);
  EXPECT_EQ(one.ScanLine(0)[1], 0x40);
  Bitmap four(3, 1, PixelFormat::pf4bit);
  four.SetPixelValue(0, 0, 0xA);
  four.SetPixelValue(1, 0, 0x5);
  four.SetPixelValue(2, 0, 0xC);
  EXPECT_EQ(four.ScanLine(0)[0], 0xA5);
  EXPECT_EQ(four.ScanLine(0)[1], 0xC0);
  Bitmap rgb(2, 1, PixelFormat::pf24bit);
  rgb.SetPixelValue(1, 0, 0x112233);
  EXPECT_EQ(rgb.ScanLine(0)[3], 0x33);
  EXPECT_EQ(rgb.ScanLine(0)[5], 0x11);
  EXPECT_EQ(rgb.PixelColor(1, 0), Rgb(0x11, 0x22, 0x33));
}

// --- Black and white ---

TEST(BitmapTest, ReduceToMonochromeMakesEntryZeroBlack) {
  struct Case {
    const char* name;
    PixelFormat format;
    std::vector<RgbQuad> palette;  // for one-bit sources only
  };
  const Case kCases[] = {
      {"32 bits", PixelFormat::pf32bit, {}},
      {"24 bits", PixelFormat::pf24bit, {}},
      {"8 bits", PixelFormat::pf8bit, {}},
      {"4 bits", PixelFormat::pf4bit, {}},
      {"1 bit, black and white", PixelFormat::pf1bit, {kBlack, kWhite}},
      {"1 bit, white and black", PixelFormat::pf1bit, {kWhite, kBlack}},
      {"1 bit, white and light grey", PixelFormat::pf1bit, {kWhite, Rgb(200, 200, 200)}},
      {"1 bit, dark blue and black", PixelFormat::pf1bit, {Rgb(0, 0, 90), kBlack}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Bitmap bitmap = Pattern(c.format);
    if (!c.palette.empty()) bitmap.SetPalette(c.palette);
    // What each pixel looks like before, reduced by hand from the table of VGA colours.
    std::vector<uint32_t> expected;
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) {
        const RgbQuad before = bitmap.PixelColor(x, y);
        int white = -1;
        for (std::size_t i = 0; i < kVga.size(); ++i) {
          if (Opaque(before) == kVga[i]) white = kVgaIsWhite[i];
        }
        if (before == Rgb(200, 200, 200)) white = 1;
        if (before == Rgb(0, 0, 90)) white = 0;
        ASSERT_NE(white, -1) << Describe(before);
        expected.push_back(static_cast<uint32_t>(white));
      }
    }
    bitmap.ReduceToMonochrome();
    EXPECT_TRUE(bitmap.IsMonochrome());
    EXPECT_EQ(bitmap.Palette(), (std::vector<RgbQuad>{kBlack, kWhite}));
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) {
        ASSERT_EQ(bitmap.PixelValue(x, y), expected[static_cast<std::size_t>(16 * y + x)])
            << x << "," << y;
      }
    }
  }
}

TEST(BitmapTest, GreyThreshold) {
  // Luminance at least half is white; the weights favour green over red over blue.
  struct Case {
    RgbQuad color;
    uint32_t bit;
  };
  constexpr Case kCases[] = {
      {Rgb(127, 127, 127), 0}, {Rgb(128, 128, 128), 1}, {Rgb(255, 0, 0), 0},
      {Rgb(0, 255, 0), 1},     {Rgb(0, 0, 255), 0},     {Rgb(255, 0, 255), 0},
      {Rgb(255, 255, 0), 1},   {Rgb(0, 255, 255), 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(Describe(c.color));
    Bitmap bitmap(1, 1, PixelFormat::pf24bit);
    bitmap.SetPixelValue(0, 0, Packed(c.color));
    bitmap.SetPixelFormat(PixelFormat::pf1bit);
    EXPECT_EQ(bitmap.PixelValue(0, 0), c.bit);
    EXPECT_TRUE(bitmap.IsMonochrome());
  }
}

// --- Conversions between formats ---

TEST(BitmapTest, ConversionsKeepColours) {
  // Every pattern colour is a VGA colour, so every conversion except to 1 and 8 bits keeps it.
  constexpr PixelFormat kFormats[] = {PixelFormat::pf4bit, PixelFormat::pf8bit,
                                      PixelFormat::pf24bit, PixelFormat::pf32bit};
  for (const PixelFormat from : kFormats) {
    for (const PixelFormat to : kFormats) {
      if (to == PixelFormat::pf8bit && from != PixelFormat::pf4bit && from != to) continue;
      Bitmap bitmap = Pattern(from);
      SCOPED_TRACE(std::to_string(bitmap.BitsPerPixel()) + " to " +
                   std::to_string(Bitmap(1, 1, to).BitsPerPixel()));
      bitmap.SetPixelFormat(to);
      EXPECT_EQ(bitmap.GetPixelFormat(), to);
      for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
          ASSERT_EQ(Describe(bitmap.PixelColor(x, y)),
                    Describe(kVga[static_cast<std::size_t>(PatternIndex(x, y))]))
              << x << "," << y;
        }
      }
    }
  }
}

TEST(BitmapTest, IndexedConversions) {
  // Widening keeps indexes and palette.
  Bitmap widened = Pattern(PixelFormat::pf4bit);
  const std::vector<RgbQuad> palette = widened.Palette();
  widened.SetPixelFormat(PixelFormat::pf8bit);
  EXPECT_EQ(widened.Palette(), palette);
  EXPECT_EQ(widened.PixelValue(1, 0), 12u);  // 15 - (3 * 1 + 0)

  Bitmap one = Pattern(PixelFormat::pf1bit);
  one.SetPixelFormat(PixelFormat::pf4bit);
  EXPECT_EQ(one.Palette(), (std::vector<RgbQuad>{kBlack, kWhite}));
  EXPECT_EQ(one.PixelValue(5, 0), 1u);  // pattern colour 15, white

  // Narrowing 8 bits to 4 maps each palette entry to the VGA palette's index.
  Bitmap narrowed = Pattern(PixelFormat::pf8bit);
  narrowed.SetPixelFormat(PixelFormat::pf4bit);
  EXPECT_EQ(narrowed.Palette().size(), 16u);
  EXPECT_EQ(narrowed.PixelValue(1, 0), 3u);

  // True colour to 8 bits: 3 bits red, 3 green, 2 blue.
  struct Case {
    RgbQuad color;
    uint32_t index;
    RgbQuad shown;
  };
  constexpr Case kCases[] = {
      {Rgb(0, 0, 0), 0x00, Rgb(0, 0, 0)},     {Rgb(255, 255, 255), 0xFF, Rgb(255, 255, 255)},
      {Rgb(255, 0, 0), 0xE0, Rgb(255, 0, 0)}, {Rgb(0, 255, 0), 0x1C, Rgb(0, 255, 0)},
      {Rgb(0, 0, 255), 0x03, Rgb(0, 0, 255)}, {Rgb(128, 64, 200), 0x8B, Rgb(145, 72, 255)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(Describe(c.color));
    Bitmap bitmap(1, 1, PixelFormat::pf32bit);
    bitmap.SetPixelValue(0, 0, Packed(c.color));
    bitmap.SetPixelFormat(PixelFormat::pf8bit);
    EXPECT_EQ(bitmap.PixelValue(0, 0), c.index);
    EXPECT_EQ(Describe(bitmap.PixelColor(0, 0)), Describe(c.shown));
  }
}

TEST(BitmapTest, TrueColourFourthByte) {
  Bitmap bitmap = Pattern(PixelFormat::pf32bit);
  EXPECT_EQ(bitmap.PixelValue(0, 0) >> 24, 0xABu);
  bitmap.SetPixelFormat(PixelFormat::pf24bit);
  EXPECT_EQ(bitmap.RowStride(), 48u);
  bitmap.SetPixelFormat(PixelFormat::pf32bit);
  EXPECT_EQ(bitmap.PixelValue(0, 0) >> 24, 0u);
}

// --- Size changes and misuse ---

TEST(BitmapTest, ResizeKeepsTheSharedArea) {
  constexpr PixelFormat kFormats[] = {PixelFormat::pf1bit, PixelFormat::pf4bit, PixelFormat::pf8bit,
                                      PixelFormat::pf24bit, PixelFormat::pf32bit};
  for (const PixelFormat format : kFormats) {
    const Bitmap original = Pattern(format);
    SCOPED_TRACE(std::to_string(original.BitsPerPixel()) + " bits");
    Bitmap bitmap = original;
    bitmap.SetSize(9, 20);
    bitmap.SetWidth(16);  // pixels 9 to 15 come back as 0, not as they were
    bitmap.SetHeight(16);
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) {
        ASSERT_EQ(bitmap.PixelValue(x, y), x < 9 ? original.PixelValue(x, y) : 0u) << x << "," << y;
      }
    }
  }
}

TEST(BitmapTest, Misuse) {
  Bitmap bitmap(4, 4, PixelFormat::pf24bit);
  EXPECT_THROW(bitmap.ScanLine(4), std::out_of_range);
  EXPECT_THROW(bitmap.ScanLine(-1), std::out_of_range);
  EXPECT_THROW(bitmap.PixelValue(4, 0), std::out_of_range);
  EXPECT_THROW(bitmap.SetSize(-1, 2), std::invalid_argument);
  EXPECT_THROW(bitmap.SetPalette({kBlack}), std::invalid_argument);
  Bitmap mono(4, 4, PixelFormat::pf1bit);
  EXPECT_THROW(mono.SetPalette({kBlack, kWhite, kBlack}), std::invalid_argument);
  EXPECT_THROW(Bitmap(-1, 1, PixelFormat::pf1bit), std::invalid_argument);
}

}  // namespace
}  // namespace brevis
