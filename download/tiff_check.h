// LooksLikeTiff: a structural check that a downloaded body is a TIFF file, so that an error page
// served with a success status is never taken for a page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace brevis {

// True when `data` holds a TIFF header ("II" or "MM", 42), its first directory lies inside the
// data with all its entries, and every strip that directory names lies inside the data too.
// Later directories are not examined.
bool LooksLikeTiff(const uint8_t* data, std::size_t size);

// LooksLikeTiff of the file at `path`, read through a memory map, so that only the parts the
// check looks at are read from the disk; false when the file cannot be read.
bool FileLooksLikeTiff(const std::string& path);

}  // namespace brevis
