// UTF-8 / UTF-16 / code point conversion.
#include "common/text.h"

#include <cstdint>

namespace brevis {
namespace {

constexpr char16_t kReplacement = u'\uFFFD';

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes the well-formed sequence at utf8[i] into cp and returns its length in bytes, or 0
// when the bytes there are not one (truncated, overlong, a surrogate or beyond U+10FFFF).
size_t DecodeUtf8(std::string_view utf8, size_t i, uint32_t& cp) {
  const auto b0 = static_cast<uint8_t>(utf8[i]);
  int extra;
  uint32_t min;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1Fu, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0Fu, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07u, min = 0x10000;
  } else {
    return 0;
  }
  if (i + static_cast<size_t>(extra) >= utf8.size()) return 0;
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<uint8_t>(utf8[i + static_cast<size_t>(k)]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return static_cast<size_t>(extra) + 1;
}

// The code point at utf8[i], moving `i` past it; an ill-formed byte is U+FFFD and moves one byte.
char32_t NextUtf8(std::string_view utf8, size_t& i) {
  uint32_t cp = 0;
  const size_t len = DecodeUtf8(utf8, i, cp);
  i += len == 0 ? 1 : len;
  return len == 0 ? char32_t{kReplacement} : char32_t{cp};
}

void AppendHex(std::string& out, const char* prefix, uint32_t value, int digits) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += prefix;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
    out.push_back(kHex[(value >> shift) & 0xF]);
}

}  // namespace

char32_t NextCodePoint(std::u16string_view utf16, std::size_t& i) {
  const char32_t unit = utf16[i++];
  if (unit >= 0xD800 && unit <= 0xDBFF && i < utf16.size() && utf16[i] >= 0xDC00 &&
      utf16[i] <= 0xDFFF) {
    return 0x10000 + ((unit - 0xD800) << 10) + (utf16[i++] - 0xDC00u);
  }
  if (unit >= 0xD800 && unit <= 0xDFFF) return kReplacement;
  return unit;
}

std::u32string Utf8ToUtf32(std::string_view utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) out.push_back(NextUtf8(utf8, i));
  return out;
}

std::string Utf32ToUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char32_t c : text) {
    AppendUtf8(out, c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) ? char32_t{kReplacement} : c);
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = NextUtf8(utf8, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size();) AppendUtf8(out, NextCodePoint(utf16, i));
  return out;
}

std::u16string Latin1ToUtf16(std::string_view bytes) {
  std::u16string out(bytes.size(), u'\0');
  for (size_t i = 0; i < bytes.size(); ++i) out[i] = static_cast<uint8_t>(bytes[i]);
  return out;
}

std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    uint32_t cp = 0;
    const size_t len = DecodeUtf8(text, i, cp);
    if (len == 0) {
      AppendHex(out, "\\x", static_cast<uint8_t>(text[i]), 2);
      ++i;
      continue;
    }
    if (cp == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      // A line break written CR LF is a line break; a lone CR, which would overwrite the line
      // shown, is not.
      out += '\n';
      i += 2;
      continue;
    }
    if ((cp < 0x20 && cp != '\n' && cp != '\t') || cp == 0x7F) {
      AppendHex(out, "\\x", cp, 2);
    } else if (cp >= 0x80 && cp <= 0x9F) {
      AppendHex(out, "\\u", cp, 4);
    } else {
      out.append(text.substr(i, len));
    }
    i += len;
  }
  return out;
}

}  // namespace brevis
