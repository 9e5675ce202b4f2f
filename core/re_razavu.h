// ReRazavu: the result of a patent lookup, copied by value from the lookup into the window's
// state and read by the download and the combination.
#pragma once

#include <cstdint>
#include <string>

namespace brevis {

struct ReRazavu {
  std::u16string Apn;        // the application number, digits only
  std::u16string DetailUrl;  // address of a detail page; no lookup fills it
  int32_t GkPages = 0;       // page images of the publication text; 0: none found
  std::u16string GkUrl;      // base address of the publication text's page images
  int32_t SdPages = 0;       // page images of the grant text; no lookup fills it
  std::u16string SdUrl;      // base address of the grant text's page images
  std::u16string LeiXin;     // kind code: "fmzl" or "syxx"
};

}  // namespace brevis
