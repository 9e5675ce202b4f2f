// Tests of the CCITT fax coder: fixed byte layouts, failures, and libtiff as the reference (its
// Group 4 coder must write the same bytes; its decoders must give back our pixels).
#include "pdf/ccitt_compression.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/stream.h"
#include "pdf/bitmap.h"
#include "pdf/tests/fax_oracle.h"
#include "pdf/tests/text_page.h"

namespace brevis {
namespace {

using test::FaxCoding;

// Packed rows, 1 = black, as the fax oracle takes them.
struct SamplePage {
  std::string name;
  int width;
  int height;
  std::vector<uint8_t> rows;
};

std::size_t RowBytes(int width) { return (static_cast<std::size_t>(width) + 7) / 8; }

void SetBlack(SamplePage& s, int x, int y) {
  s.rows[static_cast<std::size_t>(y) * RowBytes(s.width) + static_cast<std::size_t>(x) / 8] |=
      static_cast<uint8_t>(0x80u >> (x % 8));
}

// The free bits past the width cleared.
std::vector<uint8_t> Masked(const SamplePage& s) {
  std::vector<uint8_t> rows = s.rows;
  const std::size_t row_bytes = RowBytes(s.width);
  if (s.width % 8 != 0) {
    const auto mask = static_cast<uint8_t>(0xFFu << (8 - s.width % 8));
    for (int y = 0; y < s.height; ++y) {
      rows[(static_cast<std::size_t>(y) + 1) * row_bytes - 1] &= mask;
    }
  }
  return rows;
}

// The bitmap the coder takes: a 0 bit is black. The free bits past the width hold noise, which
// the coder must ignore.
Bitmap ToBitmap(const SamplePage& s) {
  Bitmap bitmap(s.width, s.height, PixelFormat::pf1bit);
  std::mt19937 noise(12345);
  const std::size_t row_bytes = RowBytes(s.width);
  for (int y = 0; y < s.height; ++y) {
    uint8_t* line = bitmap.ScanLine(y);
    for (std::size_t i = 0; i < bitmap.RowStride(); ++i) line[i] = static_cast<uint8_t>(noise());
    const std::size_t first = static_cast<std::size_t>(y) * row_bytes;
    for (int x = 0; x < s.width; ++x) {
      const auto i = static_cast<std::size_t>(x) / 8;
      const auto bit = static_cast<uint8_t>(0x80u >> (x % 8));
      const bool black = (s.rows[first + i] & bit) != 0;
      line[i] = static_cast<uint8_t>(black ? line[i] & ~bit : line[i] | bit);
    }
  }
  return bitmap;
}

std::vector<uint8_t> Encode(const Bitmap& bitmap, int compress_type) {
  MemoryStream stream;
  CcittCompression coder;
  coder.CompressImage(bitmap, compress_type, stream);
  return stream.Bytes();
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

// --- Bitmap generators ---

SamplePage Blank(std::string name, int width, int height) {
  return {std::move(name), width, height,
          std::vector<uint8_t>(RowBytes(width) * static_cast<std::size_t>(height))};
}

SamplePage Noise(int width, int height, double black, std::mt19937& rng) {
  SamplePage s = Blank("noise " + std::to_string(black), width, height);
  std::bernoulli_distribution pick(black);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (pick(rng)) SetBlack(s, x, y);
    }
  }
  return s;
}

// Rows of runs with lengths from 1 to `longest`, favouring short ones.
SamplePage Runs(int width, int height, int longest, std::mt19937& rng) {
  SamplePage s = Blank("runs to " + std::to_string(longest), width, height);
  std::uniform_int_distribution<int> scale(0, 100);
  for (int y = 0; y < height; ++y) {
    bool black = (rng() & 1) != 0;
    for (int x = 0; x < width;) {
      const int cap = scale(rng) < 80 ? std::min(longest, 70) : longest;
      const int run = std::uniform_int_distribution<int>(1, std::max(1, cap))(rng);
      for (int i = x; i < std::min(width, x + run); ++i) {
        if (black) SetBlack(s, i, y);
      }
      x += run;
      black = !black;
    }
  }
  return s;
}

// Shapes whose edges drift from row to row by a few pixels, appear and vanish: the vertical and
// pass modes of the two-dimensional coding.
SamplePage Drifting(int width, int height, std::mt19937& rng) {
  SamplePage s = Blank("drifting", width, height);
  std::vector<int> edges;  // pairs: black from edges[2i] to edges[2i + 1]
  std::uniform_int_distribution<int> jitter(-4, 4);
  for (int y = 0; y < height; ++y) {
    std::vector<int> next;
    for (const int e : edges) next.push_back(std::clamp(e + jitter(rng), 0, width));
    if (rng() % 4 == 0) {
      const int a = static_cast<int>(rng() % static_cast<unsigned>(width + 1));
      const int b = std::min(width, a + 1 + static_cast<int>(rng() % 40));
      next.push_back(a);
      next.push_back(b);
    }
    if (!next.empty() && rng() % 6 == 0) next.resize(next.size() - 2);
    std::sort(next.begin(), next.end());
    edges = next;
    for (std::size_t i = 0; i + 1 < edges.size(); i += 2) {
      for (int x = edges[i]; x < edges[i + 1]; ++x) SetBlack(s, x, y);
    }
  }
  return s;
}

SamplePage TextPage(int width, int height, std::mt19937& rng) {
  return {"text page", width, height,
          test::TextPageRows(width, height, static_cast<uint32_t>(rng()))};
}

// Row y: y white pixels, then black to the end. Coded one-dimensionally it uses every
// terminating and make-up code of both colours.
SamplePage Staircase(int width) {
  SamplePage s = Blank("staircase", width, width);
  for (int y = 0; y < width; ++y) {
    for (int x = y; x < width; ++x) SetBlack(s, x, y);
  }
  return s;
}

// A few hundred bitmaps: every generator over widths around byte borders and the code tables'
// limits (64, 1728, 2560, 2624), including runs far longer than one make-up code.
std::vector<SamplePage> Samples() {
  std::vector<SamplePage> samples;
  std::mt19937 rng(20100410);
  const int kWidths[] = {1,    2,    3,    7,    8,    9,    15,   16,   17,   31,
                         33,   63,   64,   65,   100,  127,  129,  255,  257,  1000,
                         1727, 1728, 1729, 2479, 2480, 2560, 2623, 2624, 2625, 5300};
  for (const int width : kWidths) {
    const int height = width > 1000 ? 6 : 24;
    samples.push_back(Noise(width, height, 0.5, rng));
    samples.push_back(Noise(width, height, 0.05, rng));
    samples.push_back(Noise(width, height, 0.95, rng));
    samples.push_back(Runs(width, height, 8, rng));
    samples.push_back(Runs(width, height, 300, rng));
    samples.push_back(Runs(width, height, 6000, rng));
    samples.push_back(Drifting(width, height * 2, rng));
    samples.push_back(Drifting(width, height * 2, rng));
    samples.push_back(Blank("white", width, 3));
    SamplePage black = Blank("black", width, 3);
    std::fill(black.rows.begin(), black.rows.end(), 0xFF);
    samples.push_back(black);
  }
  samples.push_back(TextPage(2480, 600, rng));
  samples.push_back(TextPage(2481, 300, rng));
  samples.push_back(TextPage(1733, 300, rng));
  samples.push_back(Staircase(2700));
  return samples;
}

// --- Fixed byte layouts ---

TEST(CcittCompressionTest, ByteLayouts) {
  struct Case {
    const char* name;
    int compress_type;
    int width;
    std::vector<std::vector<int>> black;  // per row: black pixel ranges as [from, to) pairs
    const char* expected;
  };
  const Case kCases[] = {
      // One-dimensional.
      {"1x1 white", 31, 1, {{}}, "1C"},  // white 1: 0001 11
      // White 0: 0011 0101, black 1: 010.
      {"1x1 black", 31, 1, {{0, 1}}, "35 40"},
      // White make-up 2560: 0000 0001 1111, make-up 384: 0011 0111, terminating 56: 0101 1001.
      {"3000 white", 31, 3000, {{}}, "01 F3 75 90"},
      // White 0, black make-up 64: 0000 0011 11, black 0: 0000 1101 11.
      {"64 black", 31, 64, {{0, 64}}, "35 03 C3 70"},
      // Rows follow each other without alignment: 0111 | 0111 (white 2 twice).
      {"two rows", 31, 2, {{}, {}}, "77"},
      // Two-dimensional with EOL: 0000 0000 0001 | 0 (tag) | 1 (V0).
      {"8 white 2D", 32, 8, {{}}, "00 14"},
      // Group 4: 1 (V0), then EOL twice.
      {"8 white G4", 42, 8, {{}}, "80 08 00 80"},
      // Row 1 against white: 001 (horizontal) 0111 (white 2) 0010 (black 6), 1 (V0).
      // Row 2 starts two pixels right of row 1: 0000 11 (VR2), 1 (V0), 1 (V0). Then EOL twice.
      {"VR2", 42, 16, {{2, 8}, {4, 8}}, "2E 50 F0 01 00 10"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    SamplePage s = Blank(c.name, c.width, static_cast<int>(c.black.size()));
    for (std::size_t y = 0; y < c.black.size(); ++y) {
      for (std::size_t i = 0; i + 1 < c.black[y].size(); i += 2) {
        for (int x = c.black[y][i]; x < c.black[y][i + 1]; ++x) SetBlack(s, x, static_cast<int>(y));
      }
    }
    EXPECT_EQ(Hex(Encode(ToBitmap(s), c.compress_type)), c.expected);
  }
}

TEST(CcittCompressionTest, AppendsAtTheStreamPosition) {
  MemoryStream stream;
  const uint8_t before[] = {'a', 'b'};
  stream.Write(before, 2);
  CcittCompression coder;
  coder.CompressImage(ToBitmap(Blank("white", 8, 1)), 42, stream);
  EXPECT_EQ(Hex(stream.Bytes()), "61 62 80 08 00 80");
}

// --- Modes, failures and empty bitmaps ---

TEST(CcittCompressionTest, CompressTypeSelectsOrKeepsTheMode) {
  CcittCompression coder;
  EXPECT_EQ(coder.Mode(), CCITT::CCITT31D);
  MemoryStream stream;
  const Bitmap bitmap = ToBitmap(Blank("white", 8, 1));
  coder.CompressImage(bitmap, 0, stream);
  EXPECT_EQ(coder.Mode(), CCITT::CCITT31D);
  coder.CompressImage(bitmap, 32, stream);
  EXPECT_EQ(coder.Mode(), CCITT::CCITT32D);
  coder.CompressImage(bitmap, 42, stream);
  EXPECT_EQ(coder.Mode(), CCITT::CCITT42D);
  coder.CompressImage(bitmap, 7, stream);
  EXPECT_EQ(coder.Mode(), CCITT::CCITT42D);
  coder.CompressImage(bitmap, 31, stream);
  EXPECT_EQ(coder.Mode(), CCITT::CCITT31D);
  // 1D "white 8" = 1001 1; 2D = EOL, tag, V0; G4 = V0, EOL, EOL (twice).
  EXPECT_EQ(Hex(stream.Bytes()), "98 00 14 80 08 00 80 80 08 00 80 98");
}

TEST(CcittCompressionTest, Failures) {
  struct Case {
    const char* name;
    PixelFormat format;
    bool with_stream;
    bool through_compress_image;
    const char* message;
  };
  const Case kCases[] = {
      {"4 bits", PixelFormat::pf4bit, true, true, "Image format must be B/W."},
      {"8 bits", PixelFormat::pf8bit, true, true, "Image format must be B/W."},
      {"32 bits", PixelFormat::pf32bit, true, true, "Image format must be B/W."},
      {"no stream", PixelFormat::pf1bit, false, false, "Output stream is empty."},
      {"8 bits to Execute", PixelFormat::pf8bit, true, false, "Incorrect image format."},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    MemoryStream stream;
    CcittCompression coder;
    const Bitmap bitmap(16, 16, c.format);
    try {
      if (c.through_compress_image) {
        coder.CompressImage(bitmap, 42, stream);
      } else {
        if (c.with_stream) coder.SetStream(&stream);
        coder.Execute(bitmap);
      }
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_EQ(stream.Size(), 0);
  }
}

TEST(CcittCompressionTest, EmptyBitmapWritesNothing) {
  for (const int type : {31, 32, 42}) {
    for (const auto& [width, height] : {std::pair{0, 0}, std::pair{0, 5}, std::pair{5, 0}}) {
      SCOPED_TRACE(std::to_string(type) + " " + std::to_string(width) + "x" +
                   std::to_string(height));
      EXPECT_TRUE(Encode(Bitmap(width, height, PixelFormat::pf1bit), type).empty());
    }
  }
}

// --- libtiff as the reference ---

TEST(CcittCompressionTest, Group4IsByteForByteLibtiffs) {
  const std::vector<SamplePage> samples = Samples();
  ASSERT_GT(samples.size(), 300u);
  // One coder for all: nothing of one bitmap may leak into the next.
  CcittCompression coder;
  for (const SamplePage& s : samples) {
    SCOPED_TRACE(s.name + " " + std::to_string(s.width) + "x" + std::to_string(s.height));
    MemoryStream stream;
    coder.CompressImage(ToBitmap(s), 42, stream);
    const std::vector<uint8_t> expected = test::LibtiffGroup4(Masked(s), s.width, s.height);
    ASSERT_EQ(stream.Bytes(), expected);
  }
}

TEST(CcittCompressionTest, LibtiffDecodesEveryCoding) {
  struct Case {
    int compress_type;
    FaxCoding coding;
  };
  const Case kCases[] = {{31, FaxCoding::k1D}, {32, FaxCoding::k2D}, {42, FaxCoding::kGroup4}};
  const std::vector<SamplePage> samples = Samples();
  for (const Case& c : kCases) {
    for (const SamplePage& s : samples) {
      SCOPED_TRACE(std::to_string(c.compress_type) + " " + s.name + " " + std::to_string(s.width) +
                   "x" + std::to_string(s.height));
      const std::vector<uint8_t> data = Encode(ToBitmap(s), c.compress_type);
      const std::vector<uint8_t> decoded = test::LibtiffDecode(data, s.width, s.height, c.coding);
      SamplePage back = s;
      back.rows = decoded;
      ASSERT_EQ(Masked(back), Masked(s));
    }
  }
}

}  // namespace
}  // namespace brevis
