// The text layer of a page: recognised lines of text written as text nobody sees over the page's
// image, so that viewers can find, select and copy what the picture shows. The document adds it
// with PdfDocument::AddTextLayer; its font is text_layer_font.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pdf/pdf_page.h"

namespace brevis {

class TextLayerFont;

// One printed line: its text (one line, no line breaks; UTF-8 text converts with Utf8ToUtf16 of
// common/text.h) and its box in the pixels of the recognised image, origin at the image's top
// left corner, X0 < X1 and Y0 < Y1. Lines are horizontal.
struct TextLine {
  std::u16string Text;
  double X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
};

// How the layer is drawn. tlInvisible (text rendering mode 3) leaves the page's picture as it
// is. tlVisible fills each character's cell with a blue frame, so that a person can see whether
// the boxes sit on the printed characters; it is for checking, not for finished files.
enum TextLayerMode { tlInvisible, tlVisible };

// tlVisible when the environment variable BREVISFETCH_SHOW_TEXT is "1", tlInvisible otherwise:
// the switch for whoever adds text layers.
TextLayerMode TextLayerModeFromEnvironment();

// Writes `lines`, found in an image of imageWidth x imageHeight pixels, onto `page` over `area`
// (page units, where that image is drawn), in the given order, one text object each, using
// `font` under the page's font resource name "FTL". A line is as tall as its box: the font size
// is the box's height, the baseline lies the font's descent above the box's bottom, and the
// horizontal scaling stretches the line's advance to the box's width. The lines are bracketed by
// q and Q, so the page's graphics state after them is what it was before. Lines with no text or
// an empty box are passed over; when none is left nothing is written and `font` is not used.
// Throws std::logic_error for a size that is not positive.
void ShowTextLayer(PdfPage& page, TextLayerFont& font, const std::vector<TextLine>& lines,
                   int32_t imageWidth, int32_t imageHeight, const PdfImageArea& area,
                   TextLayerMode mode);

}  // namespace brevis
