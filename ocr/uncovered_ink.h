// Rows of glyph-sized ink that no recognised line covers: what an engine's page layout passed
// over, such as a drawing's numerals and caption or the header above a drawing, found on the
// image alone so that they can be read one row at a time.
#pragma once

#include <vector>

#include "common/one_bit_image.h"
#include "ocr/line_text.h"

namespace brevis {

// The boxes of the rows that the glyphs of `page` outside `covered` form, top to bottom. A glyph
// is a connected piece of ink (8 neighbours) at most `tallest` pixels tall and twice that wide
// (strokes of drawings and rules are larger) whose middle lies in no box of `covered`. Glyphs
// side by side, less than `tallest` apart, make one row; a row of specks only (no glyph a
// quarter of `tallest` tall) is left out. `tallest` must be positive.
std::vector<TextBox> UncoveredTextRows(const OneBitImage& page, const std::vector<TextBox>& covered,
                                       int tallest);

// The rows of glyphs that none of `lines` covers, for glyphs at most 20 points tall at the page's
// resolution (300 dpi when it does not say): what an engine's layout passed over on the page.
std::vector<TextBox> RowsNotRead(const OneBitImage& page, const std::vector<RecognizedLine>& lines);

}  // namespace brevis
