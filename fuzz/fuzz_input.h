// Helpers shared by the fuzz targets: reading a libFuzzer input as fields and as UTF-16 text,
// and failing loudly when a property does not hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace brevis::fuzz {

// Stops the run with a message; libFuzzer keeps the input that got here.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "property failed: %s\n", what);
  std::abort();
}

inline void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

// The input as text, split at every "\n" into at most `count` fields (the last takes the rest).
inline std::vector<std::string_view> Fields(const uint8_t* data, size_t size, size_t count) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> fields;
  while (fields.size() + 1 < count) {
    const size_t nl = rest.find('\n');
    if (nl == std::string_view::npos) break;
    fields.push_back(rest.substr(0, nl));
    rest.remove_prefix(nl + 1);
  }
  fields.push_back(rest);
  fields.resize(count);
  return fields;
}

// Bytes as UTF-16 units: bytes below 0xF0 stand for themselves (Latin-1); 0xF0-0xFF stand for
// units the engines treat specially (Cyrillic letters, line and paragraph separators, a
// surrogate, the case-table limit and the highest unit).
inline std::u16string Units(std::string_view bytes) {
  static constexpr char16_t kHigh[16] = {0x0410, 0x0430, 0x0401, 0x0451, 0x2028, 0x2029,
                                         0x20AC, 0x20AB, 0xD800, 0xDC00, 0xFFFF, 0x00DF,
                                         0x0130, 0x017F, 0x4E2D, 0xFFFD};
  std::u16string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    out.push_back(b < 0xF0 ? static_cast<char16_t>(b) : kHigh[b - 0xF0]);
  }
  return out;
}

}  // namespace brevis::fuzz
