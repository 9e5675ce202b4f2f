// Lays out an invented patent's pages, prints their text with the page font into packed bitmaps
// and writes them as Group 4 TIFF with libtiff. Every choice comes from a small seeded generator,
// so a page's bytes depend only on its number, page and page count.
#include "stand_in/page_generator.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "stand_in/glyph_font.h"
#include "stand_in/patent_text.h"
#include "stand_in/seeded_random.h"

namespace brevis {

PageBitmap::PageBitmap(int w, int h)
    : Width(w),
      Height(h),
      Stride((w + 7) / 8),
      Bits(static_cast<std::size_t>(Stride) * static_cast<std::size_t>(h), 0) {}

bool PageBitmap::Black(int x, int y) const {
  const auto index = static_cast<std::size_t>(y) * static_cast<std::size_t>(Stride) +
                     static_cast<std::size_t>(x / 8);
  return (Bits[index] >> (7 - x % 8) & 1) != 0;
}

void PageBitmap::Fill(int x0, int y0, int x1, int y1) {
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, Width);
  y1 = std::min(y1, Height);
  if (x0 >= x1 || y0 >= y1) return;
  for (int y = y0; y < y1; ++y) {
    uint8_t* row = Bits.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(Stride);
    int x = x0;
    // Partial leading byte, whole bytes, partial trailing byte.
    while (x < x1 && x % 8 != 0) {
      row[x / 8] = static_cast<uint8_t>(row[x / 8] | (0x80 >> (x % 8)));
      ++x;
    }
    if (x + 8 <= x1) {
      const int whole = (x1 - x) / 8;
      std::memset(row + x / 8, 0xFF, static_cast<std::size_t>(whole));
      x += whole * 8;
    }
    while (x < x1) {
      row[x / 8] = static_cast<uint8_t>(row[x / 8] | (0x80 >> (x % 8)));
      ++x;
    }
  }
}

int PageBitmap::CountBlack() const {
  int count = 0;
  for (uint8_t byte : Bits) count += __builtin_popcount(byte);
  return count;
}

namespace {

uint64_t Fnv1a(std::string_view text) {
  uint64_t hash = 0xCBF29CE484222325ULL;
  for (char c : text) {
    hash ^= static_cast<uint8_t>(c);
    hash *= 0x100000001B3ULL;
  }
  return hash;
}

constexpr int kLeft = 236;
constexpr int kRight = PageGenerator::kWidth - 236;
constexpr int kTop = 340;
constexpr int kBottom = PageGenerator::kHeight - 260;

// Type sizes in pixels to the em at 300 dpi: 46 is 11 points.
constexpr int kBodySize = 46;
constexpr int kHeaderSize = 40;
constexpr int kTitleSize = 58;
constexpr int kCaptionSize = 50;
constexpr int kNumeralSize = 40;
constexpr int kLinePitch = 76;  // baseline to baseline in body text
constexpr int kParagraphGap = 16;
constexpr int kHeaderBaseline = 232;
constexpr int kRuleTop = 262;
constexpr int kRuleBottom = 267;
// Description paragraphs: "[0001]" at the margin, the text in a column to its right.
constexpr int kTextColumn = kLeft + 190;
constexpr int kClaimsPerPage = 6;
constexpr int kParagraphsPerPage = 7;

// The sample texts are well-formed UTF-8 of our own; anything else is a bug.
std::u32string Decode(std::string_view utf8) {
  std::u32string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<uint8_t>(utf8[i]);
    const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (int k = 1; k < length; ++k) {
      c = c << 6 | (static_cast<uint8_t>(utf8[i + static_cast<std::size_t>(k)]) & 0x3F);
    }
    out += c;
    i += static_cast<std::size_t>(length);
  }
  return out;
}

std::string Encode(std::u32string_view text) {
  std::string out;
  for (char32_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Chinese characters and full-width punctuation: a line may break before and after each one.
// Latin letters, digits and their signs ("0.8mm", "GB/T") stay together as words.
bool IsWide(char32_t c) { return c >= 0x2E80 || c == U'“' || c == U'”'; }
// Punctuation that must not begin a line, and punctuation that must not end one.
bool IsClosing(char32_t c) {
  return std::u32string_view(U"，。、；：？！）》”％").find(c) != std::u32string_view::npos;
}
bool IsOpening(char32_t c) {
  return std::u32string_view(U"（《“").find(c) != std::u32string_view::npos;
}

int Width(std::u32string_view text, int size) {
  int width = 0;
  for (char32_t c : text) width += GlyphFont::Shared().Glyph(c, size).Advance;
  return width;
}

// `text` broken into lines, the first at most `first` pixels wide and the others `width`. Closing
// punctuation hangs into the margin rather than begin a line; an opening one moves to the next.
std::vector<std::u32string> BreakLines(std::u32string_view text, int size, int first, int width) {
  std::vector<std::u32string> lines;
  std::u32string line;
  int lineWidth = 0;
  const int space = Width(U" ", size);
  bool spaceBefore = false;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == U' ') {
      spaceBefore = true;
      ++i;
      continue;
    }
    std::size_t end = i + 1;
    if (!IsWide(text[i])) {
      while (end < text.size() && text[end] != U' ' && !IsWide(text[end])) ++end;
    }
    const std::u32string_view unit = text.substr(i, end - i);
    const int unitWidth = Width(unit, size);
    int gap = spaceBefore && !line.empty() ? space : 0;
    const int limit = lines.empty() ? first : width;
    if (!line.empty() && lineWidth + gap + unitWidth > limit && !IsClosing(unit[0])) {
      std::u32string carried;
      if (line.size() > 1 && IsOpening(line.back())) {
        carried = line.back();
        line.pop_back();
      }
      lines.push_back(std::move(line));
      line = carried;
      lineWidth = Width(line, size);
      gap = 0;
    }
    if (gap > 0) line += U' ';
    line += unit;
    lineWidth += gap + unitWidth;
    spaceBefore = false;
    i = end;
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

// A run of text starting with its pen at `X` on the baseline.
struct Piece {
  std::u32string Text;
  int X;
};

// What a page is made of while it is composed: the bitmap, the lines printed on it and the
// areas of its drawings.
struct Sheet {
  PageBitmap Bitmap{PageGenerator::kWidth, PageGenerator::kHeight};
  std::vector<PrintedLine> Lines;
  std::vector<PageArea> Drawings;

  // Prints the pieces as one line on `baseline`; its text joins theirs with a blank.
  void Print(const std::vector<Piece>& pieces, int baseline, int size) {
    GlyphFont& font = GlyphFont::Shared();
    PrintedLine line;
    bool inked = false;
    for (const Piece& piece : pieces) {
      if (!line.Text.empty()) line.Text += ' ';
      line.Text += Encode(piece.Text);
      int pen = piece.X;
      for (char32_t c : piece.Text) {
        const GlyphImage& glyph = font.Glyph(c, size);
        for (const GlyphImage::Run& run : glyph.Runs) {
          Bitmap.Fill(pen + run.X0, baseline + run.Y, pen + run.X1, baseline + run.Y + 1);
        }
        if (!glyph.Runs.empty()) {
          const PageArea ink{pen + glyph.InkX0, baseline + glyph.InkY0, pen + glyph.InkX1,
                             baseline + glyph.InkY1};
          line.X0 = inked ? std::min(line.X0, ink.X0) : ink.X0;
          line.Y0 = inked ? std::min(line.Y0, ink.Y0) : ink.Y0;
          line.X1 = inked ? std::max(line.X1, ink.X1) : ink.X1;
          line.Y1 = inked ? std::max(line.Y1, ink.Y1) : ink.Y1;
          inked = true;
        }
        pen += glyph.Advance;
      }
    }
    if (inked) Lines.push_back(std::move(line));
  }

  void Rule(int x0, int y0, int x1, int y1) {
    Bitmap.Fill(x0, y0, x1, y1);
    Drawings.push_back({x0, y0, x1, y1});
  }

  // Prints `text` as a block: the first line from `firstX` (after `label` at `labelX` when there
  // is one), the others from `x`, all up to the right margin. Returns the next line's baseline.
  int Block(std::u32string_view label, int labelX, std::u32string_view text, int firstX, int x,
            int baseline, int size) {
    const std::vector<std::u32string> lines = BreakLines(text, size, kRight - firstX, kRight - x);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      std::vector<Piece> pieces;
      if (i == 0 && !label.empty()) pieces.push_back({std::u32string(label), labelX});
      pieces.push_back({lines[i], i == 0 ? firstX : x});
      Print(pieces, baseline, size);
      baseline += kLinePitch;
    }
    return baseline;
  }
};

int LineCount(std::u32string_view text, int firstX, int x) {
  return static_cast<int>(BreakLines(text, kBodySize, kRight - firstX, kRight - x).size());
}

// How many body lines fit from `baseline` down to the bottom margin.
int LinesLeft(int baseline) {
  return baseline > kBottom ? 0 : (kBottom - baseline) / kLinePitch + 1;
}

// The strokes of a figure, with the box around them.
struct Strokes {
  PageBitmap& Page;
  PageArea Box{PageGenerator::kWidth, PageGenerator::kHeight, 0, 0};

  void Fill(int x0, int y0, int x1, int y1) {
    Page.Fill(x0, y0, x1, y1);
    Box = {std::min(Box.X0, std::max(x0, 0)), std::min(Box.Y0, std::max(y0, 0)),
           std::max(Box.X1, std::min(x1, Page.Width)), std::max(Box.Y1, std::min(y1, Page.Height))};
  }
};

void DrawLine(Strokes& page, int xa, int ya, int xb, int yb, int pen) {
  const int dx = std::abs(xb - xa);
  const int dy = -std::abs(yb - ya);
  const int sx = xa < xb ? 1 : -1;
  const int sy = ya < yb ? 1 : -1;
  int err = dx + dy;
  for (;;) {
    page.Fill(xa - pen / 2, ya - pen / 2, xa - pen / 2 + pen, ya - pen / 2 + pen);
    if (xa == xb && ya == yb) break;
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      xa += sx;
    }
    if (e2 <= dx) {
      err += dx;
      ya += sy;
    }
  }
}

void DrawFrame(Strokes& page, const PageArea& r, int pen) {
  page.Fill(r.X0, r.Y0, r.X1, r.Y0 + pen);
  page.Fill(r.X0, r.Y1 - pen, r.X1, r.Y1);
  page.Fill(r.X0, r.Y0, r.X0 + pen, r.Y1);
  page.Fill(r.X1 - pen, r.Y0, r.X1, r.Y1);
}

void DrawCircle(Strokes& page, int cx, int cy, int radius, int pen) {
  const int steps = 8 * radius;
  for (int i = 0; i < steps; ++i) {
    const double angle = 2.0 * M_PI * i / steps;
    const int x = cx + static_cast<int>(std::lround(radius * std::cos(angle)));
    const int y = cy + static_cast<int>(std::lround(radius * std::sin(angle)));
    page.Fill(x - pen / 2, y - pen / 2, x - pen / 2 + pen, y - pen / 2 + pen);
  }
}

// A block diagram in `area`: frames in a grid joined by lines, a few circles, reference
// numerals with leader lines, and the caption "图<figure>" under it.
void DrawFigure(Sheet& sheet, SeededRandom& rng, const PageArea& area, int figure) {
  const int captionHeight = 90;
  const PageArea box{area.X0 + 120, area.Y0 + 60, area.X1 - 120, area.Y1 - captionHeight - 40};
  const int cols = rng.Between(2, 3);
  const int rows = rng.Between(2, 3);
  const int cellW = (box.X1 - box.X0) / cols;
  const int cellH = (box.Y1 - box.Y0) / rows;
  int numeral = 10 * figure;
  Strokes page{sheet.Bitmap};
  // Boxes of the shapes drawn, by grid cell; empty cells have X0 == X1.
  std::vector<PageArea> grid(static_cast<std::size_t>(rows * cols), PageArea{});
  std::vector<Piece> numerals;
  std::vector<int> numeralBaselines;
  int drawn = 0;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      if (drawn > 1 && rng.Chance(20)) continue;
      const int x0 = box.X0 + c * cellW + cellW / 6;
      const int y0 = box.Y0 + r * cellH + cellH / 5;
      PageArea shape{x0, y0, x0 + cellW * 2 / 3, y0 + cellH * 3 / 5};
      if (rng.Chance(25)) {
        const int radius = std::min(shape.X1 - shape.X0, shape.Y1 - shape.Y0) / 2;
        const int cx = (shape.X0 + shape.X1) / 2;
        const int cy = (shape.Y0 + shape.Y1) / 2;
        DrawCircle(page, cx, cy, radius, 5);
        shape = {cx - radius, cy - radius, cx + radius, cy + radius};
      } else {
        DrawFrame(page, shape, 5);
        // Hatching inside some frames.
        if (rng.Chance(40)) {
          for (int x = shape.X0 + 30; x < shape.X1 - 70; x += 40) {
            DrawLine(page, x, shape.Y1 - 10, x + 60, shape.Y0 + 10, 2);
          }
        }
      }
      // Joined to the shape on its left and to the one above it.
      const PageArea& left = grid[static_cast<std::size_t>(r * cols + c - 1 + (c == 0 ? 1 : 0))];
      if (c > 0 && left.X1 > left.X0) {
        const int y = (left.Y0 + left.Y1) / 2;
        DrawLine(page, left.X1, y, shape.X0, y, 4);
      }
      if (r > 0) {
        const PageArea& above = grid[static_cast<std::size_t>((r - 1) * cols + c)];
        if (above.X1 > above.X0) {
          const int x = (above.X0 + above.X1) / 2;
          DrawLine(page, x, above.Y1, x, shape.Y0, 4);
        }
      }
      grid[static_cast<std::size_t>(r * cols + c)] = shape;
      ++drawn;
      // Reference numeral above the right end, with a leader line from its foot to the shape.
      const int lx = shape.X1 + 20;
      const int baseline = shape.Y0 - 36;
      numerals.push_back({Decode(std::to_string(++numeral)), lx});
      numeralBaselines.push_back(baseline);
      DrawLine(page, lx, baseline + 14, shape.X1 - 20, shape.Y0 + 20, 3);
    }
  }
  sheet.Drawings.push_back(page.Box);
  for (std::size_t i = 0; i < numerals.size(); ++i) {
    sheet.Print({numerals[i]}, numeralBaselines[i], kNumeralSize);
  }
  const std::u32string caption = Decode("图" + std::to_string(figure));
  const int x = (area.X0 + area.X1 - Width(caption, kCaptionSize)) / 2;
  sheet.Print({{caption, x}}, area.Y1 - captionHeight + kCaptionSize, kCaptionSize);
}

// The drawings: how many figures come before drawing page `index` (from 0), when each page shows
// one or two as the bits of `twos` say, repeating every 64 pages.
int FiguresBefore(int index, uint64_t twos) {
  const int whole = index / 64;
  const int rest = index % 64;
  const uint64_t below = rest == 0 ? 0 : twos & (~uint64_t{0} >> (64 - rest));
  return index + whole * __builtin_popcountll(twos) + __builtin_popcountll(below);
}

// Adds the sentences of `candidates` to `text` while it stays within `budget` lines, the first
// from `firstX`, the others from `x`, stopping at the first that does not fit or after `most`.
// `end` closes the text after each addition for the count ("。" for claims).
std::u32string FitSentences(const std::vector<std::string>& candidates, std::u32string text,
                            std::string_view separator, std::string_view end, int budget,
                            int firstX, int x, std::size_t most) {
  std::u32string fitted;
  bool first = true;
  for (const std::string& candidate : candidates) {
    if (most-- == 0) break;
    std::u32string trial =
        text + Decode(first ? std::string() : std::string(separator)) + Decode(candidate);
    if (LineCount(trial + Decode(end), firstX, x) > budget) break;
    text = std::move(trial);
    fitted = text + Decode(end);
    first = false;
  }
  return fitted;
}

}  // namespace

struct PageGenerator::Composition : Sheet {};

std::string FilingDate(std::string_view number) {
  std::string year(number.substr(0, 4));
  if (number.size() < 12) {
    const int twoDigits = std::stoi(std::string(number.substr(0, 2)));
    year = std::to_string(twoDigits >= 85 ? 1900 + twoDigits : 2000 + twoDigits);
  }
  return year + ".01.15";
}

PageGenerator::PageGenerator(std::string number, int pages)
    : number_(std::move(number)), pages_(pages) {
  if (number_.empty() || number_.find_first_not_of("0123456789") != std::string::npos) {
    throw std::invalid_argument("Page generator: the number must be digits.");
  }
  if (pages_ < 1) throw std::invalid_argument("Page generator: at least one page.");
}

bool PageGenerator::HasFigure(int page) const {
  if (page == 1) return pages_ > 1;
  return page > pages_ - pages_ / 6;
}

namespace {

using Section = PatentText::Section;

// The claims page `index` (from 0): claims 1 + 6 * index on, each given its share of the lines
// left. Claim 1 is independent; the others each refer to one of the four claims before them.
void ComposeClaims(Sheet& sheet, const PatentText& patent, uint64_t order, SeededRandom& rng,
                   int index) {
  const int first = 1 + index * kClaimsPerPage;
  const int features = patent.Count(Section::Feature);
  // The features after the first, in an order of the patent's own.
  const auto feature = [&](int k) {
    return std::string(patent.Sentence(
        Section::Feature, static_cast<uint64_t>(1 + (order + static_cast<uint64_t>(k)) %
                                                        static_cast<uint64_t>(features - 1))));
  };
  int baseline = kTop + kBodySize;
  for (int n = first; n < first + kClaimsPerPage; ++n) {
    const int budget = LinesLeft(baseline) / (first + kClaimsPerPage - n);
    std::string head;
    std::vector<std::string> picks;
    std::size_t most = 0;
    if (n == 1) {
      head = patent.Title() + "，其特征在于，";
      // The first feature names the parts; three more follow it.
      picks.emplace_back(patent.Sentence(Section::Feature, 0));
      for (int k = 0; k < features - 1; ++k) picks.emplace_back(feature(k));
      most = 4;
    } else {
      head = "根据权利要求" + std::to_string(rng.Between(std::max(1, n - 4), n - 1)) + "所述的" +
             std::string(patent.Subject()) + "，其特征在于，";
      // Each claim adds what the claims before it did not say yet, as far as there is any.
      picks.emplace_back(feature(n + 1));
      picks.emplace_back(feature(n + 2));
      most = static_cast<std::size_t>(rng.Between(1, 2));
    }
    const std::u32string label = Decode(std::to_string(n) + ".");
    const int labelX = kLeft + 2 * kBodySize;
    const int firstX = labelX + Width(label, kBodySize) + Width(U" ", kBodySize);
    const std::u32string text =
        FitSentences(picks, Decode(head), "；", "。", budget, firstX, kLeft, most);
    if (text.empty()) break;
    baseline = sheet.Block(label, labelX, text, firstX, kLeft, baseline, kBodySize) + kParagraphGap;
  }
}

// The description page `index` (from 0). The first carries the title and the sections up to the
// first embodiments in paragraphs [0001] to [0008]; each further page seven more paragraphs of
// embodiments, each given its share of the lines left.
void ComposeDescription(Sheet& sheet, const PatentText& patent, SeededRandom& rng, int index,
                        int figures) {
  int baseline = kTop + kBodySize;
  int first = 1;
  int count = 8;
  if (index == 0) {
    const std::u32string title = Decode(patent.Title());
    baseline = kTop + kTitleSize;
    sheet.Print({{title, (kLeft + kRight - Width(title, kTitleSize)) / 2}}, baseline, kTitleSize);
    baseline += kLinePitch + 30;
  } else {
    first = 9 + (index - 1) * kParagraphsPerPage;
    count = kParagraphsPerPage;
  }
  for (int p = first; p < first + count; ++p) {
    const char* heading = p == 1   ? "技术领域"
                          : p == 2 ? "背景技术"
                          : p == 4 ? "发明内容"
                          : p == 6 ? "附图说明"
                          : p == 7 ? "具体实施方式"
                                   : nullptr;
    if (heading != nullptr) {
      if (LinesLeft(baseline) < 2) break;
      sheet.Print({{Decode(heading), kLeft}}, baseline, kBodySize);
      baseline += kLinePitch;
    }
    std::vector<std::string> candidates;
    const auto add = [&](Section section, uint64_t i) {
      candidates.emplace_back(patent.Sentence(section, i));
    };
    std::string_view separator;
    std::string_view end;
    std::size_t most = 6;
    if (p == 1) {
      add(Section::Field, 0);
      add(Section::Field, 1);
    } else if (p <= 3) {
      add(Section::Background, 2 * static_cast<uint64_t>(p - 2));
      add(Section::Background, 2 * static_cast<uint64_t>(p - 2) + 1);
    } else if (p == 4) {
      for (uint64_t i = 0; i < 3; ++i) add(Section::Summary, i);
    } else if (p == 5) {
      add(Section::Summary, 3);
      add(Section::Summary, 4);
    } else if (p == 6) {
      for (int figure = 1; figure <= std::min(figures, 6); ++figure) {
        candidates.push_back(patent.FigureView(figure));
      }
      separator = "；";
      end = "。";
    } else {
      // Embodiments: the topic's own sentences with now and then a general one.
      const int embodiment = p - 6;
      if (p == 7) candidates.emplace_back(patent.Sentence(Section::Closing, 0));
      uint64_t next = rng.Next();
      uint64_t nextClosing = rng.Next();
      const auto closings = static_cast<uint64_t>(patent.Count(Section::Closing));
      for (int k = 0; k < 6; ++k) {
        const std::string_view sentence =
            rng.Chance(75) ? patent.Sentence(Section::Embodiment, next++)
                           : patent.Sentence(Section::Closing, 1 + nextClosing++ % (closings - 1));
        candidates.push_back(Fill(sentence, embodiment, rng.Next()));
      }
      most = static_cast<std::size_t>(rng.Between(2, 5));
    }
    const int budget = LinesLeft(baseline) / (first + count - p);
    char label[16];
    std::snprintf(label, sizeof label, "[%04d]", p % 10000);
    const int firstX = kTextColumn + 2 * kBodySize;
    const std::u32string text =
        FitSentences(candidates, U"", separator, end, budget, firstX, kTextColumn, most);
    if (text.empty()) break;
    baseline = sheet.Block(Decode(label), kLeft, text, firstX, kTextColumn, baseline, kBodySize) +
               kParagraphGap;
  }
}

// Page 1: the bibliographic fields, the abstract and, for more than one page, a figure.
void ComposeFront(Sheet& sheet, const PatentText& patent, SeededRandom& rng,
                  std::string_view number, bool figure) {
  struct Field {
    const char* Code;
    const char* Label;
    std::string Value;
  };
  const Field fields[] = {
      {"(21)", "申请号", std::string(number)}, {"(22)", "申请日", FilingDate(number)},
      {"(71)", "申请人", patent.Applicant()},  {"(72)", "发明人", patent.Inventors()},
      {"(54)", "发明名称", patent.Title()},
  };
  int baseline = kTop + 40;
  for (const Field& field : fields) {
    sheet.Print({{Decode(field.Code), kLeft},
                 {Decode(field.Label), kLeft + 120},
                 {Decode(field.Value), kLeft + 360}},
                baseline, kBodySize);
    baseline += 90;
  }
  const int rule = baseline - 50;
  sheet.Rule(kLeft, rule, kRight, rule + 3);
  baseline += 30;
  sheet.Print({{U"(57)", kLeft}, {U"摘要", kLeft + 120}}, baseline, kBodySize);
  baseline += kLinePitch;

  std::vector<std::string> sentences{"本发明公开了" + patent.Title() + "，" +
                                     std::string(patent.Sentence(Section::Feature, 0)) + "。"};
  const int summaries = patent.Count(Section::Summary);
  const int start = rng.Between(1, summaries - 1);
  for (int k = 0; k < summaries - 1; ++k) {
    sentences.emplace_back(patent.Sentence(
        Section::Summary, static_cast<uint64_t>(1 + (start + k) % (summaries - 1))));
  }
  const int firstX = kLeft + 2 * kBodySize;
  const int budget = figure ? 8 : LinesLeft(baseline);
  baseline = sheet.Block(U"", 0, FitSentences(sentences, U"", "", "", budget, firstX, kLeft, 4),
                         firstX, kLeft, baseline, kBodySize);
  if (figure) DrawFigure(sheet, rng, {kLeft, baseline, kRight, kBottom}, 1);
}

}  // namespace

PageGenerator::Composition PageGenerator::Compose(int page) const {
  if (page < 1 || page > pages_) throw std::out_of_range("Page generator: no such page.");
  const uint64_t seed = Fnv1a(number_);
  SeededRandom rng(seed ^ (static_cast<uint64_t>(page) * uint64_t{0x9E3779B97F4A7C15}));
  const PatentText patent(seed);
  // Pages 2 to lastText carry text: first the claims, then the description.
  const int lastText = pages_ - pages_ / 6;
  const int textPages = lastText - 1;
  const int claimPages = textPages <= 1 ? textPages : std::min(3, std::max(1, textPages / 8));
  const bool claims = page > 1 && page - 2 < claimPages;
  // Which drawing pages show two figures rather than one.
  const uint64_t twos = SeededRandom(~seed).Next();
  const int drawingPages = pages_ - lastText;

  Composition sheet;
  const std::u32string left = Decode("CN" + number_);
  const std::u32string part = Decode(page == 1         ? "发明专利申请"
                                     : page > lastText ? "说明书附图"
                                     : claims          ? "权利要求书"
                                                       : "说明书");
  const std::u32string right = Decode(std::to_string(page) + "/" + std::to_string(pages_));
  // One row, and so one line, as a reader copies it: its three items joined by blanks.
  sheet.Print({{left, kLeft},
               {part, (kLeft + kRight - Width(part, kHeaderSize)) / 2},
               {right, kRight - Width(right, kHeaderSize)}},
              kHeaderBaseline, kHeaderSize);
  sheet.Rule(kLeft, kRuleTop, kRight, kRuleBottom);

  if (page == 1) {
    ComposeFront(sheet, patent, rng, number_, HasFigure(1));
  } else if (claims) {
    ComposeClaims(sheet, patent, seed >> 7, rng, page - 2);
  } else if (page <= lastText) {
    const int figures = drawingPages > 0 ? FiguresBefore(drawingPages, twos) : 1;
    ComposeDescription(sheet, patent, rng, page - 2 - claimPages, figures);
  } else {
    const int index = page - lastText - 1;
    const int figure = 1 + FiguresBefore(index, twos);
    if ((twos >> (index % 64) & 1) == 0) {
      DrawFigure(sheet, rng, {kLeft, kTop, kRight, kBottom}, figure);
    } else {
      const int middle = (kTop + kBottom) / 2;
      DrawFigure(sheet, rng, {kLeft, kTop, kRight, middle}, figure);
      DrawFigure(sheet, rng, {kLeft, middle, kRight, kBottom}, figure + 1);
    }
  }
  return sheet;
}

PageBitmap PageGenerator::Render(int page) const { return Compose(page).Bitmap; }

std::vector<PrintedLine> PageGenerator::Lines(int page) const { return Compose(page).Lines; }

std::vector<PageArea> PageGenerator::Drawings(int page) const { return Compose(page).Drawings; }

std::string PageGenerator::GroundTruth(int page) const {
  std::string text;
  for (const PrintedLine& line : Lines(page)) text += line.Text + "\n";
  return text;
}

namespace {

void WriteFile(const std::string& bytes, const std::string& path) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) throw std::runtime_error("Could not write " + path + ".");
}

}  // namespace

std::string PageGenerator::Tiff(int page) const { return EncodeGroup4Tiff(Render(page), kDpi); }

void PageGenerator::WriteTiff(int page, const std::string& path) const {
  WriteFile(Tiff(page), path);
}

void PageGenerator::WriteGroundTruth(int page, const std::string& path) const {
  WriteFile(GroundTruth(page), path);
}

namespace {

// An in-memory file for TIFFClientOpen.
struct TiffBytes {
  std::string data;
  std::size_t position = 0;
};

tmsize_t MemRead(thandle_t handle, void* buffer, tmsize_t size) {
  auto* file = static_cast<TiffBytes*>(handle);
  const std::size_t available =
      file->position < file->data.size() ? file->data.size() - file->position : 0;
  const std::size_t count = std::min(available, static_cast<std::size_t>(size));
  std::memcpy(buffer, file->data.data() + file->position, count);
  file->position += count;
  return static_cast<tmsize_t>(count);
}

tmsize_t MemWrite(thandle_t handle, void* buffer, tmsize_t size) {
  auto* file = static_cast<TiffBytes*>(handle);
  const auto count = static_cast<std::size_t>(size);
  if (file->position + count > file->data.size()) file->data.resize(file->position + count);
  std::memcpy(file->data.data() + file->position, buffer, count);
  file->position += count;
  return size;
}

toff_t MemSeek(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<TiffBytes*>(handle);
  std::size_t base = 0;
  if (whence == SEEK_CUR) base = file->position;
  if (whence == SEEK_END) base = file->data.size();
  file->position = base + static_cast<std::size_t>(offset);
  return static_cast<toff_t>(file->position);
}

int MemClose(thandle_t) { return 0; }
toff_t MemSize(thandle_t handle) {
  return static_cast<toff_t>(static_cast<TiffBytes*>(handle)->data.size());
}
int MemMap(thandle_t, void**, toff_t*) { return 0; }
void MemUnmap(thandle_t, void*, toff_t) {}

}  // namespace

std::string EncodeGroup4Tiff(const PageBitmap& bitmap, int dpi) {
  TiffBytes file;
  TIFF* tiff = TIFFClientOpen("page.tif", "w", &file, MemRead, MemWrite, MemSeek, MemClose, MemSize,
                              MemMap, MemUnmap);
  bool ok = tiff != nullptr;
  if (ok) {
    const auto width = static_cast<uint32_t>(bitmap.Width);
    const auto height = static_cast<uint32_t>(bitmap.Height);
    ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width) &&
         TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height) &&
         TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1) &&
         TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1) &&
         TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4) &&
         TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) &&
         TIFFSetField(tiff, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB) &&
         TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, height) &&
         TIFFSetField(tiff, TIFFTAG_XRESOLUTION, static_cast<double>(dpi)) &&
         TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<double>(dpi)) &&
         TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
         TIFFWriteEncodedStrip(tiff, 0, const_cast<uint8_t*>(bitmap.Bits.data()),
                               static_cast<tmsize_t>(bitmap.Bits.size())) >= 0 &&
         TIFFWriteDirectory(tiff);
    TIFFClose(tiff);
  }
  if (!ok) throw std::runtime_error("Could not encode the page as Group 4 TIFF.");
  return std::move(file.data);
}

}  // namespace brevis
