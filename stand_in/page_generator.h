// Synthetic patent page images: A4 at 300 dpi, bilevel, an invented Chinese invention patent
// printed with a real font (front page, claims, description, drawings), with the text of every
// page known line by line. Feeds the benchmarks, the mirror's sample data and the text layer's
// tests; the same arguments always give the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/one_bit_image.h"
#include "stand_in/page_sheet.h"

namespace brevis {

// The pages of one invented patent, chosen by its number (PatentText). Page 1 is the front page:
// the bibliographic fields (21) 申请号, (22) 申请日, (71) 申请人, (72) 发明人, (54) 发明名称, and
// (57) 摘要 with the abstract and, for more than one page, a figure. Then come the claims
// (权利要求书, a page or more), the description (说明书: 技术领域, 背景技术, 发明内容, 附图说明,
// 具体实施方式, in numbered paragraphs "[0001]") and the drawings (说明书附图, the last sixth).
// Every page begins a new claim or paragraph, so a page is composed from its own seed alone.
// Text is WenQuanYi Zen Hei (GlyphFont::Shared), body text 46 pixels to the em (11 points).
// Thread-safe: the const methods may run at once on several threads.
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

  // The page as a one-bit image (0 = black, kDpi). Throws std::out_of_range for a page
  // outside 1..Pages(), and std::runtime_error when the font cannot be found (GlyphFont::Shared).
  OneBitImage Render(int page) const;
  // The page's printed lines in reading order: the header's row ("CN<number>" on the left, the
  // part's name in the middle, "<page>/<pages>" on the right) as one line, its items joined by
  // blanks, then the body top to bottom, and in a figure its reference numerals (by rows, left to
  // right) before its caption ("图3"). Same errors as Render.
  std::vector<PrintedLine> Lines(int page) const;
  // The rules and figures of the page. Every black pixel of Render(page) lies in a line's box or
  // in one of these areas. Same errors as Render.
  std::vector<PageArea> Drawings(int page) const;
  // The page's text as a reader would type it: each line of Lines(page) followed by "\n".
  std::string GroundTruth(int page) const;
  // Writes GroundTruth(page) to `path`; throws std::runtime_error when the file cannot be written.
  void WriteGroundTruth(int page, const std::string& path) const;
  // The page as a complete TIFF file: one strip, CCITT Group 4, MinIsWhite, 300 dpi.
  std::string Tiff(int page) const;
  // Writes Tiff(page) to `path`; throws std::runtime_error when the file cannot be written.
  void WriteTiff(int page, const std::string& path) const;

 private:
  struct Composition;
  // Draws the page and notes what it prints.
  Composition Compose(int page) const;

  std::string number_;
  int pages_;
};

// The filing date printed on page 1 of `number`'s text, "YYYY.01.15". The year is the number's
// first four digits, or for the 8-digit numbers filed before 2004 its first two (85..99 are the
// 1900s, the rest the 2000s).
std::string FilingDate(std::string_view number);

}  // namespace brevis
