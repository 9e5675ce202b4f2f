// TiffMemoryFile: a TIFF file held in memory and opened with libtiff, for the code that writes or
// reads TIFF bytes without a file (the page generator, libtiff as the fax tests' oracle). Linked as
// the common_tiff target, so that only its users link libtiff; tiffio.h stays in the .cpp.
#pragma once

#include <cstddef>
#include <string>

struct tiff;  // libtiff's TIFF handle (tiffio.h: typedef struct tiff TIFF)

namespace brevis {

// The bytes of the file and where libtiff reads or writes next. Writing past the end grows the
// file; reading past it gives fewer bytes.
struct TiffMemoryFile {
  std::string Bytes;
  std::size_t Position = 0;
};

// Opens `file` from its start with libtiff's TIFFClientOpen, in `mode` as TIFFOpen takes it ("r",
// "w"); `name` is the name libtiff gives in its messages. Returns null when libtiff refuses; its
// error handler is told why. The handle reads and writes `file`, which must stay where it is until
// the caller closes the handle with TIFFClose. Not thread-safe for one file; separate files may be
// used on separate threads.
tiff* OpenTiffMemoryFile(TiffMemoryFile& file, const char* name, const char* mode);

}  // namespace brevis
