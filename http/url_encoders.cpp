// Percent-encoders of Uri for form submissions: parameters, paths and whole addresses.
#include <string>
#include <string_view>

#include "common/text.h"
#include "http/uri.h"

namespace brevis {

namespace {

// Copies the characters in [lowest, highest] that are not in `unsafe`; every other character
// (a surrogate pair is one character) goes out as its UTF-8 bytes, each "%XX" in upper case.
std::u16string Encode(std::u16string_view text, std::u16string_view unsafe, char16_t lowest,
                      char16_t highest) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const char16_t c = text[i];
    if (c >= lowest && c <= highest && unsafe.find(c) == std::u16string_view::npos) {
      out += c;
      ++i;
      continue;
    }
    std::size_t units = 1;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      units = 2;
    }
    for (const char ch : Utf16ToUtf8(text.substr(i, units))) {
      const auto byte = static_cast<unsigned char>(ch);
      out += u'%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
    i += units;
  }
  return out;
}

}  // namespace

std::u16string Uri::ParamsEncode(std::u16string_view params) {
  // Only 7-bit characters pass: a unit from U+0080 up would not survive the ASCII wire.
  return Encode(params, u"*#%<> []", 33, 127);
}

std::u16string Uri::PathEncode(std::u16string_view path) {
  return Encode(path, u"*#%<>+ []", 32, 127);
}

std::u16string Uri::URLEncode(std::u16string_view uri) {
  Uri parsed(uri);
  parsed.Path = PathEncode(parsed.Path);
  parsed.Document = PathEncode(parsed.Document);
  parsed.Params = ParamsEncode(parsed.Params);
  return parsed.GetFullURI(0);
}

}  // namespace brevis
