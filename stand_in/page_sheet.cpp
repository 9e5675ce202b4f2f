// PageSheet: line breaking by the page font's advances and glyphs inked run by run.
#include "stand_in/page_sheet.h"

#include <algorithm>

#include "common/text.h"
#include "stand_in/glyph_font.h"

namespace brevis {

namespace {

bool IsWide(char32_t c) { return c >= 0x2E80 || c == U'“' || c == U'”'; }
// Punctuation that must not begin a line, and punctuation that must not end one.
bool IsClosing(char32_t c) {
  return std::u32string_view(U"，。、；：？！）》”％").find(c) != std::u32string_view::npos;
}
bool IsOpening(char32_t c) {
  return std::u32string_view(U"（《“").find(c) != std::u32string_view::npos;
}

}  // namespace

int TextWidth(std::u32string_view text, int size) {
  int width = 0;
  for (char32_t c : text) width += GlyphFont::Shared().Glyph(c, size).Advance;
  return width;
}

std::vector<std::u32string> BreakLines(std::u32string_view text, int size, int first, int width) {
  std::vector<std::u32string> lines;
  std::u32string line;
  int lineWidth = 0;
  const int space = TextWidth(U" ", size);
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
    const int unitWidth = TextWidth(unit, size);
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
      lineWidth = TextWidth(line, size);
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

void PageSheet::Print(const std::vector<Piece>& pieces, int baseline, int size) {
  GlyphFont& font = GlyphFont::Shared();
  PrintedLine line;
  bool inked = false;
  for (const Piece& piece : pieces) {
    if (!line.Text.empty()) line.Text += ' ';
    line.Text += Utf32ToUtf8(piece.Text);
    int pen = piece.X;
    for (char32_t c : piece.Text) {
      const GlyphImage& glyph = font.Glyph(c, size);
      for (const GlyphImage::Run& run : glyph.Runs) {
        Bitmap.FillBlack(pen + run.X0, baseline + run.Y, pen + run.X1, baseline + run.Y + 1);
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

void PageSheet::Rule(int x0, int y0, int x1, int y1) {
  Bitmap.FillBlack(x0, y0, x1, y1);
  Drawings.push_back({x0, y0, x1, y1});
}

int PageSheet::Block(std::u32string_view label, int labelX, std::u32string_view text, int firstX,
                     int x, int baseline, int size) {
  const std::vector<std::u32string> lines = BreakLines(text, size, Right - firstX, Right - x);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::vector<Piece> pieces;
    if (i == 0 && !label.empty()) pieces.push_back({std::u32string(label), labelX});
    pieces.push_back({lines[i], i == 0 ? firstX : x});
    Print(pieces, baseline, size);
    baseline += LinePitch;
  }
  return baseline;
}

}  // namespace brevis
