// LooksLikeTiff: a structural check that a downloaded body is a TIFF file, so that an error page
// served with a success status is never taken for a page.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brevis {

// True when `data` holds a TIFF header ("II" or "MM", 42), its first directory lies inside the
// data with all its entries, and every strip that directory names lies inside the data too.
// Later directories are not examined.
bool LooksLikeTiff(const uint8_t* data, std::size_t size);

}  // namespace brevis
