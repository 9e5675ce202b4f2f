// PageSheet: a sample page while it is composed, with the typesetting that prints on it: text
// widths and line breaking in the page font (GlyphFont::Shared), lines of glyphs inked into the
// page's one-bit image, and the boxes of what was printed. Used by the page generator.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/one_bit_image.h"

namespace brevis {

// One printed line of a page, as a reader takes it in: its text in UTF-8 and the box around its
// ink, [X0, X1) x [Y0, Y1) in pixels from the top left corner. Chinese characters follow each other
// without a blank; a blank stands wherever a gap is printed (between Latin words and numbers, and
// between the separate pieces of one line such as "(21) 申请号 200710038426").
struct PrintedLine {
  std::string Text;
  int X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
};

// A part of a page that is ink but no text: a rule or a figure's strokes, [X0, X1) x [Y0, Y1).
struct PageArea {
  int X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
};

// A run of text starting with its pen at `X` on the baseline.
struct Piece {
  std::u32string Text;
  int X;
};

// The advance of `text` at `size` pixels to the em.
int TextWidth(std::u32string_view text, int size);

// `text` broken into lines, the first at most `first` pixels wide and the others `width`. Chinese
// characters and full-width punctuation may break before and after each one; Latin letters,
// digits and their signs ("0.8mm", "GB/T") stay together as words. Closing punctuation hangs into
// the margin rather than begin a line; an opening one moves to the next.
std::vector<std::u32string> BreakLines(std::u32string_view text, int size, int first, int width);

// What a page is made of while it is composed: the image (white at first), the lines printed on
// it and the areas of its drawings. Blocks run up to `Right` with `LinePitch` from baseline to
// baseline. Throws std::runtime_error as GlyphFont::Shared does when the font cannot be found.
struct PageSheet {
  OneBitImage Bitmap;
  int Right;
  int LinePitch;
  std::vector<PrintedLine> Lines;
  std::vector<PageArea> Drawings;

  PageSheet(int width, int height, int right, int linePitch)
      : Bitmap(width, height), Right(right), LinePitch(linePitch) {}

  // Prints the pieces as one line on `baseline`; its text joins theirs with a blank. A line
  // without ink is not noted.
  void Print(const std::vector<Piece>& pieces, int baseline, int size);
  // Paints the rectangle [x0, x1) x [y0, y1) black and notes it as a drawing.
  void Rule(int x0, int y0, int x1, int y1);
  // Prints `text` as a block: the first line from `firstX` (after `label` at `labelX` when there
  // is one), the others from `x`, all up to Right. Returns the next line's baseline.
  int Block(std::u32string_view label, int labelX, std::u32string_view text, int firstX, int x,
            int baseline, int size);
};

}  // namespace brevis
