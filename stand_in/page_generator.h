// Synthetic patent page images: A4 at 300 dpi, bilevel, lines of text-like glyphs under a header
// with the number and the page, figures on some pages. Feeds the benchmarks and the mirror's
// sample data; the same arguments always give the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brevis {

// A bilevel picture: rows of packed bits, most significant bit first, 1 = black.
struct PageBitmap {
  int Width = 0;
  int Height = 0;
  int Stride = 0;  // bytes per row
  std::vector<uint8_t> Bits;

  PageBitmap() = default;
  PageBitmap(int w, int h);
  bool Black(int x, int y) const;
  // Paints the rectangle [x0, x1) x [y0, y1) black; the parts outside the picture are ignored.
  void Fill(int x0, int y0, int x1, int y1);
  int CountBlack() const;
};

class PageGenerator {
 public:
  static constexpr int kWidth = 2480;
  static constexpr int kHeight = 3508;
  static constexpr int kDpi = 300;

  // `number` (digits) is printed in every page's header as "CN<number>"; `pages` (at least 1) is
  // the document's page count, printed as "<page>/<pages>". Throws std::invalid_argument for a
  // number with other characters than digits or a page count below 1.
  PageGenerator(std::string number, int pages);

  int Pages() const { return pages_; }
  // Page 1 carries the abstract's drawing (when the document has more than one page), and the
  // last sixth of the pages are drawings.
  bool HasFigure(int page) const;

  // The page as a bitmap. Throws std::out_of_range for a page outside 1..Pages().
  PageBitmap Render(int page) const;
  // The page as a complete TIFF file: one strip, CCITT Group 4, MinIsWhite, 300 dpi.
  std::string Tiff(int page) const;
  // Writes Tiff(page) to `path`; throws std::runtime_error when the file cannot be written.
  void WriteTiff(int page, const std::string& path) const;

 private:
  std::string number_;
  int pages_;
};

// The filing date printed on page 1 of `number`'s text, "YYYY.01.15". The year is the number's
// first four digits, or for the 8-digit numbers filed before 2004 its first two (85..99 are the
// 1900s, the rest the 2000s).
std::string FilingDate(std::string_view number);

// Encodes a bitmap as a one-strip Group 4 TIFF file (MinIsWhite, `dpi` in both directions).
// Throws std::runtime_error when libtiff refuses it.
std::string EncodeGroup4Tiff(const PageBitmap& bitmap, int dpi);

}  // namespace brevis
