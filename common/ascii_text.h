// ASCII-only helpers for protocol text (mostly UTF-16): case-insensitive comparison, trimming
// and number reading. Header names, schemes, host names and cookie attributes are ASCII.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brevis::ascii {

constexpr char16_t ToUpper(char16_t c) {
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - (u'a' - u'A')) : c;
}
constexpr char16_t ToLower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}

std::u16string ToUpper(std::u16string_view s);
std::u16string ToLower(std::u16string_view s);

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::u16string_view s, std::u16string_view prefix);
bool EndsWithIgnoreCase(std::u16string_view s, std::u16string_view suffix);
// Position of `needle` in `s` compared case-insensitively, or npos.
std::size_t FindIgnoreCase(std::u16string_view s, std::u16string_view needle);

// Trimming drops every character up to U+0020 (blanks and control characters).
std::u16string_view Trim(std::u16string_view s);
std::u16string_view TrimLeft(std::u16string_view s);
std::u16string_view TrimRight(std::u16string_view s);

// Reads an optionally signed decimal number that fills the whole text (after trimming);
// nothing when the text is not one or does not fit in 64 bits.
std::optional<std::int64_t> ParseInt64(std::u16string_view s);
// Reads a hexadecimal number that fills the whole text; nothing when it is not one or does not
// fit in 63 bits.
std::optional<std::int64_t> ParseHex64(std::u16string_view s);

// Narrows protocol text for the wire: every unit above 0x7F becomes '?'.
std::string ToAsciiBytes(std::u16string_view s);

}  // namespace brevis::ascii
