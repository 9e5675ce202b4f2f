// Uncovered ink: runs of black joined into pieces, the glyph-sized ones outside the lines joined
// into rows.
#include "ocr/uncovered_ink.h"

#include <algorithm>
#include <numeric>

namespace brevis {

namespace {

struct Run {
  int X0;
  int X1;  // excluded
  int Y;
};

std::size_t Root(std::vector<std::size_t>& parent, std::size_t i) {
  while (parent[i] != i) i = parent[i] = parent[parent[i]];
  return i;
}

// The boxes of the page's 8-connected pieces of ink.
std::vector<TextBox> Pieces(const OneBitImage& page) {
  std::vector<Run> runs;
  std::vector<std::size_t> parent;
  std::size_t above = 0;  // the first run of the row above
  for (int y = 0; y < page.Height; ++y) {
    const std::size_t row = runs.size();
    std::size_t next = above;  // the first run above that may touch the next run of this row
    for (int x = 0; x < page.Width;) {
      if (!page.Black(x, y)) {
        ++x;
        continue;
      }
      const int start = x;
      while (x < page.Width && page.Black(x, y)) ++x;
      runs.push_back({start, x, y});
      parent.push_back(parent.size());
      // Runs of the row above that touch this one, diagonals included; both rows go left to
      // right, so the runs passed never touch a later one.
      while (next < row && runs[next].X1 < start) ++next;
      for (std::size_t j = next; j < row && runs[j].X0 <= x; ++j) {
        parent[Root(parent, j)] = Root(parent, runs.size() - 1);
      }
    }
    above = row;
  }
  std::vector<TextBox> boxes(runs.size(), TextBox{-1, 0, 0, 0});
  for (std::size_t i = 0; i < runs.size(); ++i) {
    TextBox& box = boxes[Root(parent, i)];
    const Run& run = runs[i];
    if (box.X0 < 0) {
      box = {run.X0, run.Y, run.X1, run.Y + 1};
    } else {
      box = {std::min(box.X0, run.X0), std::min(box.Y0, run.Y), std::max(box.X1, run.X1),
             std::max(box.Y1, run.Y + 1)};
    }
  }
  std::erase_if(boxes, [](const TextBox& box) { return box.X0 < 0; });
  return boxes;
}

}  // namespace

std::vector<TextBox> UncoveredTextRows(const OneBitImage& page, const std::vector<TextBox>& covered,
                                       int tallest) {
  std::vector<TextBox> glyphs = Pieces(page);
  std::erase_if(glyphs, [&](const TextBox& glyph) {
    if (glyph.Y1 - glyph.Y0 > tallest || glyph.X1 - glyph.X0 > 2 * tallest) return true;
    const int x = (glyph.X0 + glyph.X1) / 2;
    const int y = (glyph.Y0 + glyph.Y1) / 2;
    return std::any_of(covered.begin(), covered.end(), [&](const TextBox& line) {
      return x >= line.X0 && x < line.X1 && y >= line.Y0 && y < line.Y1;
    });
  });
  std::sort(glyphs.begin(), glyphs.end(),
            [](const TextBox& a, const TextBox& b) { return a.X0 < b.X0; });
  struct Row {
    TextBox Box;
    bool Glyph = false;  // holds more than specks
  };
  std::vector<Row> rows;
  for (const TextBox& glyph : glyphs) {
    const int height = glyph.Y1 - glyph.Y0;
    const auto row = std::find_if(rows.begin(), rows.end(), [&](const Row& r) {
      const int shared = std::min(r.Box.Y1, glyph.Y1) - std::max(r.Box.Y0, glyph.Y0);
      const int lower = std::min(r.Box.Y1 - r.Box.Y0, height);
      return 2 * shared >= lower && glyph.X0 - r.Box.X1 < tallest;
    });
    const bool real = 4 * height >= tallest;
    if (row == rows.end()) {
      rows.push_back({glyph, real});
    } else {
      row->Box = {std::min(row->Box.X0, glyph.X0), std::min(row->Box.Y0, glyph.Y0),
                  std::max(row->Box.X1, glyph.X1), std::max(row->Box.Y1, glyph.Y1)};
      row->Glyph = row->Glyph || real;
    }
  }
  std::vector<TextBox> boxes;
  for (const Row& row : rows) {
    if (row.Glyph) boxes.push_back(row.Box);
  }
  std::sort(boxes.begin(), boxes.end(), [](const TextBox& a, const TextBox& b) {
    return a.Y0 != b.Y0 ? a.Y0 < b.Y0 : a.X0 < b.X0;
  });
  return boxes;
}

std::vector<TextBox> RowsNotRead(const OneBitImage& page,
                                 const std::vector<RecognizedLine>& lines) {
  std::vector<TextBox> covered;
  for (const RecognizedLine& line : lines) covered.push_back(line.Box);
  const int dpi = page.Dpi > 0 ? page.Dpi : 300;
  return UncoveredTextRows(page, covered, dpi * 20 / 72);
}

}  // namespace brevis
