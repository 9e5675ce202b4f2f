// Block diagrams drawn with square pens into the page's image, Bresenham lines and circles.
#include "stand_in/patent_figure.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "common/text.h"

namespace brevis {

namespace {

// Type sizes in pixels to the em at 300 dpi.
constexpr int kCaptionSize = 50;
constexpr int kNumeralSize = 40;

// The strokes of a figure, with the box around them.
struct Strokes {
  OneBitImage& Page;
  PageArea Box{Page.Width, Page.Height, 0, 0};

  void Fill(int x0, int y0, int x1, int y1) {
    Page.FillBlack(x0, y0, x1, y1);
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

}  // namespace

void DrawFigure(PageSheet& sheet, SeededRandom& rng, const PageArea& area, int figure) {
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
      numerals.push_back({Utf8ToUtf32(std::to_string(++numeral)), lx});
      numeralBaselines.push_back(baseline);
      DrawLine(page, lx, baseline + 14, shape.X1 - 20, shape.Y0 + 20, 3);
    }
  }
  sheet.Drawings.push_back(page.Box);
  for (std::size_t i = 0; i < numerals.size(); ++i) {
    sheet.Print({numerals[i]}, numeralBaselines[i], kNumeralSize);
  }
  const std::u32string caption = Utf8ToUtf32("图" + std::to_string(figure));
  const int x = (area.X0 + area.X1 - TextWidth(caption, kCaptionSize)) / 2;
  sheet.Print({{caption, x}}, area.Y1 - captionHeight + kCaptionSize, kCaptionSize);
}

}  // namespace brevis
