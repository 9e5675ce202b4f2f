// ASCII-only helpers for protocol text (UTF-16 and narrow): case-insensitive comparison, trimming,
// digit checks and number reading. Header names, schemes, host names and cookie attributes are
// ASCII, and so are the numbers and keys of our files and requests.
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

// The ASCII digits 0 to 9 only (no full-width or other digits).
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
// Whether `s` is a non-empty run of the ASCII digits 0 to 9.
bool IsDigits(std::string_view s);
bool IsDigits(std::u16string_view s);

// The blanks around a line read from a text file: blank, tab and the CR of a CR LF line end.
inline constexpr std::string_view kLineBlanks = " \t\r";
// HTTP's optional white space around a field value or a list element: blank and tab.
inline constexpr std::string_view kHttpBlanks = " \t";
// `s` without the characters of `blanks` at either end; empty when it holds nothing else.
std::string_view TrimBlanks(std::string_view s, std::string_view blanks = kLineBlanks);

// Reads an optionally signed decimal number that fills the whole text (after trimming);
// nothing when the text is not one or does not fit in 64 bits.
std::optional<std::int64_t> ParseInt64(std::u16string_view s);
// Reads a hexadecimal number that fills the whole text; nothing when it is not one or does not
// fit in 63 bits.
std::optional<std::int64_t> ParseHex64(std::u16string_view s);

// Narrows protocol text for the wire: every unit above 0x7F becomes '?'.
std::string ToAsciiBytes(std::u16string_view s);

}  // namespace brevis::ascii
