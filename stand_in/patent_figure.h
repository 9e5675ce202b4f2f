// The drawings of the sample pages: block diagrams of frames, circles and hatching, joined by
// lines, with reference numerals and a caption. Used by the page generator.
#pragma once

#include "stand_in/page_sheet.h"
#include "stand_in/seeded_random.h"

namespace brevis {

// Draws a block diagram in `area` of the sheet: frames in a grid of 2 or 3 by 2 or 3 cells joined
// by lines, a few circles, reference numerals (10 * figure + 1 on) with leader lines, and the
// caption "图<figure>" under it. Every choice comes from `rng`. The strokes' box is noted among
// the sheet's drawings, the numerals and the caption among its lines.
void DrawFigure(PageSheet& sheet, SeededRandom& rng, const PageArea& area, int figure);

}  // namespace brevis
