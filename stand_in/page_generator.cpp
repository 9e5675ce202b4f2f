// Draws synthetic patent pages into packed bitmaps and writes them as Group 4 TIFF with libtiff.
// Every choice comes from a small seeded generator, so a page's bytes depend only on its number,
// page and page count.
#include "stand_in/page_generator.h"

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string_view>

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

// splitmix64: small, fast and the same on every platform.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // A value in [lo, hi].
  int Between(int lo, int hi) {
    return lo + static_cast<int>(Next() % static_cast<uint64_t>(hi - lo + 1));
  }
  bool Chance(int percent) { return Between(0, 99) < percent; }

 private:
  uint64_t state_;
};

uint64_t Fnv1a(std::string_view text) {
  uint64_t hash = 0xCBF29CE484222325ULL;
  for (char c : text) {
    hash ^= static_cast<uint8_t>(c);
    hash *= 0x100000001B3ULL;
  }
  return hash;
}

struct Rect {
  int x0, y0, x1, y1;
};

// A glyph is a few strokes inside a kGlyph x kGlyph cell.
constexpr int kGlyph = 40;
constexpr int kCell = 46;       // advance from glyph to glyph
constexpr int kLinePitch = 78;  // baseline to baseline
constexpr int kStroke = 5;
constexpr int kGlyphCount = 500;

using Glyph = std::vector<Rect>;

// Strokes of one component of a glyph inside the box [x0, x1) x [y0, y1).
void AddComponent(Glyph& glyph, Random& rng, int x0, int y0, int x1, int y1) {
  const int w = x1 - x0;
  const int h = y1 - y0;
  const int kind = rng.Between(0, 9);
  if (kind < 2 && w > 14 && h > 14) {
    // An enclosure with a stroke inside, like 口 or 日.
    glyph.push_back({x0, y0, x1, y0 + kStroke});
    glyph.push_back({x0, y1 - kStroke, x1, y1});
    glyph.push_back({x0, y0, x0 + kStroke, y1});
    glyph.push_back({x1 - kStroke, y0, x1, y1});
    if (rng.Chance(60)) {
      const int y = y0 + h / 2 - kStroke / 2;
      glyph.push_back({x0, y, x1, y + kStroke});
    }
    return;
  }
  const int strokes = rng.Between(2, 4);
  for (int s = 0; s < strokes; ++s) {
    switch (rng.Between(0, 3)) {
      case 0:
      case 1: {  // horizontal
        const int y = y0 + rng.Between(0, std::max(0, h - kStroke));
        const int a = x0 + rng.Between(0, w / 4);
        const int b = x1 - rng.Between(0, w / 4);
        glyph.push_back({a, y, b, y + kStroke - 1});
        break;
      }
      case 2: {  // vertical
        const int x = x0 + rng.Between(0, std::max(0, w - kStroke));
        const int a = y0 + rng.Between(0, h / 4);
        const int b = y1 - rng.Between(0, h / 5);
        glyph.push_back({x, a, x + kStroke - 1, b});
        break;
      }
      default: {  // a slanted stroke as a staircase of short pieces
        const int steps = std::max(3, std::min(w, h) / 5);
        const bool left = rng.Chance(50);
        for (int i = 0; i < steps; ++i) {
          const int x = left ? x1 - (i + 1) * w / steps : x0 + i * w / steps;
          const int y = y0 + i * h / steps;
          glyph.push_back({x, y, x + w / steps + 2, y + kStroke});
        }
        break;
      }
    }
  }
}

std::vector<Glyph> MakeGlyphs() {
  Random rng(20100410);
  std::vector<Glyph> glyphs(kGlyphCount);
  for (Glyph& glyph : glyphs) {
    switch (rng.Between(0, 2)) {
      case 0:
        AddComponent(glyph, rng, 2, 2, kGlyph - 2, kGlyph - 2);
        break;
      case 1: {  // left and right parts
        const int split = rng.Between(14, 20);
        AddComponent(glyph, rng, 1, 2, split - 2, kGlyph - 2);
        AddComponent(glyph, rng, split + 2, 1, kGlyph - 1, kGlyph - 1);
        break;
      }
      default: {  // top and bottom parts
        const int split = rng.Between(14, 22);
        AddComponent(glyph, rng, 3, 1, kGlyph - 3, split - 2);
        AddComponent(glyph, rng, 1, split + 2, kGlyph - 1, kGlyph - 1);
        break;
      }
    }
  }
  return glyphs;
}

const std::vector<Glyph>& Glyphs() {
  static const std::vector<Glyph> glyphs = MakeGlyphs();
  return glyphs;
}

// A 5 x 7 font for the readable parts: the number, page numbers and reference numerals.
struct FontChar {
  char c;
  std::array<const char*, 7> rows;
};
constexpr FontChar kFont[] = {
    {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {'3', {"#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."}},
    {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
    {'5', {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}},
    {'6', {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."}},
    {'7', {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}},
    {'8', {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}},
    {'9', {".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."}},
    {'C', {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
    {'N', {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'/', {"....#", "...#.", "...#.", "..#..", ".#...", ".#...", "#...."}},
    {'[', {".###.", ".#...", ".#...", ".#...", ".#...", ".#...", ".###."}},
    {']', {".###.", "...#.", "...#.", "...#.", "...#.", "...#.", ".###."}},
    {'(', {"...#.", "..#..", ".#...", ".#...", ".#...", "..#..", "...#."}},
    {')', {".#...", "..#..", "...#.", "...#.", "...#.", "..#..", ".#..."}},
    {'.', {".....", ".....", ".....", ".....", ".....", ".##..", ".##.."}},
    {'-', {".....", ".....", ".....", "#####", ".....", ".....", "....."}},
};

// Draws `text` with its top left corner at (x, y), each font pixel `scale` pixels wide; returns
// the x after the text. Characters outside the font leave a gap.
int DrawText(PageBitmap& page, int x, int y, std::string_view text, int scale) {
  for (char c : text) {
    for (const FontChar& f : kFont) {
      if (f.c != c) continue;
      for (int row = 0; row < 7; ++row) {
        for (int col = 0; col < 5; ++col) {
          if (f.rows[static_cast<std::size_t>(row)][col] == '#') {
            page.Fill(x + col * scale, y + row * scale, x + (col + 1) * scale,
                      y + (row + 1) * scale);
          }
        }
      }
    }
    x += 6 * scale;
  }
  return x;
}

int TextWidth(std::string_view text, int scale) {
  return static_cast<int>(text.size()) * 6 * scale;
}

void DrawGlyph(PageBitmap& page, int x, int y, int index) {
  for (const Rect& r : Glyphs()[static_cast<std::size_t>(index)]) {
    page.Fill(x + r.x0, y + r.y0, x + r.x1, y + r.y1);
  }
}

// Punctuation sits low in its cell: a comma-like tick or a small ring for a full stop.
void DrawPunctuation(PageBitmap& page, int x, int y, bool stop) {
  if (stop) {
    page.Fill(x + 4, y + 28, x + 14, y + 31);
    page.Fill(x + 4, y + 37, x + 14, y + 40);
    page.Fill(x + 3, y + 30, x + 6, y + 38);
    page.Fill(x + 12, y + 30, x + 15, y + 38);
  } else {
    page.Fill(x + 5, y + 30, x + 11, y + 37);
    page.Fill(x + 7, y + 37, x + 10, y + 43);
  }
}

void DrawLine(PageBitmap& page, int xa, int ya, int xb, int yb, int pen) {
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

void DrawFrame(PageBitmap& page, const Rect& r, int pen) {
  page.Fill(r.x0, r.y0, r.x1, r.y0 + pen);
  page.Fill(r.x0, r.y1 - pen, r.x1, r.y1);
  page.Fill(r.x0, r.y0, r.x0 + pen, r.y1);
  page.Fill(r.x1 - pen, r.y0, r.x1, r.y1);
}

void DrawCircle(PageBitmap& page, int cx, int cy, int radius, int pen) {
  const int steps = 8 * radius;
  for (int i = 0; i < steps; ++i) {
    const double angle = 2.0 * M_PI * i / steps;
    const int x = cx + static_cast<int>(std::lround(radius * std::cos(angle)));
    const int y = cy + static_cast<int>(std::lround(radius * std::sin(angle)));
    page.Fill(x - pen / 2, y - pen / 2, x - pen / 2 + pen, y - pen / 2 + pen);
  }
}

constexpr int kLeft = 236;
constexpr int kRight = PageGenerator::kWidth - 236;
constexpr int kTop = 340;
constexpr int kBottom = PageGenerator::kHeight - 260;

// Lines of glyphs filling `area` from `y`, in paragraphs that start indented with a paragraph
// number; returns the y below the last line.
int DrawParagraphs(PageBitmap& page, Random& rng, int y, int bottom, int& paragraph,
                   bool numbered) {
  const int perLine = (kRight - kLeft) / kCell;
  while (y + kGlyph <= bottom) {
    int remaining = rng.Between(40, 360);
    int column = 2;  // indent
    if (numbered) {
      char label[16];
      std::snprintf(label, sizeof label, "[%04d]", ++paragraph % 10000);
      const int end = DrawText(page, kLeft + column * kCell, y + 4, label, 5);
      column = (end - kLeft) / kCell + 1;
    }
    int untilPunctuation = rng.Between(5, 18);
    while (remaining > 0 && y + kGlyph <= bottom) {
      for (; column < perLine && remaining > 0; ++column, --remaining) {
        const int x = kLeft + column * kCell;
        if (--untilPunctuation == 0) {
          DrawPunctuation(page, x, y, remaining < 3 || rng.Chance(25));
          untilPunctuation = rng.Between(5, 18);
        } else if (remaining == 1) {
          DrawPunctuation(page, x, y, true);
        } else {
          DrawGlyph(page, x, y, rng.Between(0, kGlyphCount - 1));
        }
      }
      column = 0;
      y += kLinePitch;
    }
  }
  return y;
}

// A block diagram: frames in a grid joined by lines, a few circles, reference numerals with
// leader lines and a caption under it.
void DrawFigure(PageBitmap& page, Random& rng, const Rect& area, int figure) {
  const int captionHeight = 90;
  const Rect box{area.x0 + 120, area.y0 + 60, area.x1 - 120, area.y1 - captionHeight - 40};
  const int cols = rng.Between(2, 3);
  const int rows = rng.Between(2, 3);
  const int cellW = (box.x1 - box.x0) / cols;
  const int cellH = (box.y1 - box.y0) / rows;
  int numeral = 10 * figure;
  // Bounding boxes of the shapes drawn, by grid cell; empty cells have x0 == x1.
  std::vector<Rect> grid(static_cast<std::size_t>(rows * cols), Rect{0, 0, 0, 0});
  int drawn = 0;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      if (drawn > 1 && rng.Chance(20)) continue;
      const int x0 = box.x0 + c * cellW + cellW / 6;
      const int y0 = box.y0 + r * cellH + cellH / 5;
      Rect shape{x0, y0, x0 + cellW * 2 / 3, y0 + cellH * 3 / 5};
      if (rng.Chance(25)) {
        const int radius = std::min(shape.x1 - shape.x0, shape.y1 - shape.y0) / 2;
        const int cx = (shape.x0 + shape.x1) / 2;
        const int cy = (shape.y0 + shape.y1) / 2;
        DrawCircle(page, cx, cy, radius, 5);
        shape = {cx - radius, cy - radius, cx + radius, cy + radius};
      } else {
        DrawFrame(page, shape, 5);
        // Hatching inside some frames.
        if (rng.Chance(40)) {
          for (int x = shape.x0 + 30; x < shape.x1 - 70; x += 40) {
            DrawLine(page, x, shape.y1 - 10, x + 60, shape.y0 + 10, 2);
          }
        }
      }
      // Joined to the shape on its left and to the one above it.
      const Rect& left = grid[static_cast<std::size_t>(r * cols + c - 1 + (c == 0 ? 1 : 0))];
      if (c > 0 && left.x1 > left.x0) {
        const int y = (left.y0 + left.y1) / 2;
        DrawLine(page, left.x1, y, shape.x0, y, 4);
      }
      if (r > 0) {
        const Rect& above = grid[static_cast<std::size_t>((r - 1) * cols + c)];
        if (above.x1 > above.x0) {
          const int x = (above.x0 + above.x1) / 2;
          DrawLine(page, x, above.y1, x, shape.y0, 4);
        }
      }
      grid[static_cast<std::size_t>(r * cols + c)] = shape;
      ++drawn;
      // Reference numeral above the right end, with a leader line to the shape.
      char label[16];
      std::snprintf(label, sizeof label, "%d", ++numeral);
      const int lx = shape.x1 + 20;
      const int ly = shape.y0 - 70;
      DrawText(page, lx, ly, label, 5);
      DrawLine(page, lx, ly + 40, shape.x1 - 20, shape.y0 + 20, 3);
    }
  }
  // Caption: a glyph and the figure's number, centred.
  char number[16];
  std::snprintf(number, sizeof number, "%d", figure);
  const int width = kCell + TextWidth(number, 6);
  const int x = (area.x0 + area.x1 - width) / 2;
  const int y = area.y1 - captionHeight;
  DrawGlyph(page, x, y, 7);
  DrawText(page, x + kCell, y - 1, number, 6);
}

}  // namespace

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

PageBitmap PageGenerator::Render(int page) const {
  if (page < 1 || page > pages_) throw std::out_of_range("Page generator: no such page.");
  Random rng(Fnv1a(number_) ^ (static_cast<uint64_t>(page) * uint64_t{0x9E3779B97F4A7C15}));
  PageBitmap bitmap(kWidth, kHeight);

  // Header: number on the left, a title of glyphs in the middle, page/pages on the right, and a
  // rule beneath.
  DrawText(bitmap, kLeft, 180, "CN" + number_, 6);
  const std::string pageText = std::to_string(page) + "/" + std::to_string(pages_);
  DrawText(bitmap, kRight - TextWidth(pageText, 6), 180, pageText, 6);
  const int titleGlyphs = 3;
  for (int i = 0; i < titleGlyphs; ++i) {
    DrawGlyph(bitmap, kWidth / 2 - titleGlyphs * kCell / 2 + i * kCell, 182, 100 + page % 3 + i);
  }
  bitmap.Fill(kLeft, 262, kRight, 267);

  int paragraph = (page - 1) * 9;
  const bool drawings = HasFigure(page) && page > 1;
  if (page == 1) {
    // Bibliographic lines: a code in brackets, then numbers or glyphs.
    int y = kTop;
    const char* codes[] = {"(21)", "(22)", "(71)", "(72)", "(54)"};
    for (const char* code : codes) {
      int x = DrawText(bitmap, kLeft, y + 4, code, 5) + 30;
      if (std::string_view(code) == "(21)") {
        DrawText(bitmap, x, y + 4, number_, 5);
      } else if (std::string_view(code) == "(22)") {
        DrawText(bitmap, x, y + 4, FilingDate(number_), 5);
      } else {
        for (int i = rng.Between(6, 22); i > 0; --i, x += kCell) {
          DrawGlyph(bitmap, x, y, rng.Between(0, kGlyphCount - 1));
        }
      }
      y += kLinePitch + 20;
    }
    bitmap.Fill(kLeft, y, kRight, y + 3);
    y += 40;
    DrawText(bitmap, kLeft, y + 4, "(57)", 5);
    y += kLinePitch;
    const int bottom = HasFigure(1) ? y + 12 * kLinePitch : kBottom;
    y = DrawParagraphs(bitmap, rng, y, bottom, paragraph, false);
    if (HasFigure(1)) DrawFigure(bitmap, rng, {kLeft, y + 40, kRight, kBottom}, 1);
  } else if (drawings) {
    const int firstFigure = 2 * (page - (pages_ - pages_ / 6)) - 1;
    if (rng.Chance(50)) {
      DrawFigure(bitmap, rng, {kLeft, kTop, kRight, kBottom}, firstFigure);
    } else {
      const int middle = (kTop + kBottom) / 2;
      DrawFigure(bitmap, rng, {kLeft, kTop, kRight, middle}, firstFigure);
      DrawFigure(bitmap, rng, {kLeft, middle, kRight, kBottom}, firstFigure + 1);
    }
  } else {
    DrawParagraphs(bitmap, rng, kTop, kBottom, paragraph, true);
  }
  return bitmap;
}

std::string PageGenerator::Tiff(int page) const { return EncodeGroup4Tiff(Render(page), kDpi); }

void PageGenerator::WriteTiff(int page, const std::string& path) const {
  const std::string bytes = Tiff(page);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) throw std::runtime_error("Could not write " + path + ".");
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
