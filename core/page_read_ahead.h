// Page files imported into a PDF document in order, the next few read and coded on threads of
// their own while the current one is placed: the command line's combination of many pages.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "pdf/pdf_document.h"

namespace brevis {

// How many files AddTiffFiles reads and codes ahead of the one it places, each on a thread of
// its own; a coded A4 page holds about 35 KB.
inline constexpr std::size_t kTiffFilesAhead = 2;

// Imports page files in order into the document, adding a page before every file after the
// first, as the same number of AddPage and AddTiffFromFile calls would, and with the same result
// byte for byte (coded with the document's JpegQuality). The next kTiffFilesAhead files are read
// and coded on threads of their own while the current one is placed; at most that many files
// are being read at once.
// `progress`, if set, is called with the number of files done after each file. Stops at the
// first failure and throws it, once the reads under way have ended; the files before it stay in
// the document. Requires a begun document (std::logic_error otherwise, before any file is read).
void AddTiffFiles(PdfDocument& document, const std::vector<std::string>& fileNames,
                  PdfImageCompressionType compression, TiffPaintType paintType,
                  const std::function<void(std::size_t done)>& progress = nullptr);

}  // namespace brevis
