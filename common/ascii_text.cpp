// ASCII-only helpers for protocol text.
#include "common/ascii_text.h"

#include <algorithm>
#include <limits>

namespace brevis::ascii {

std::u16string ToUpper(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& c : out) c = ToUpper(c);
  return out;
}

std::u16string ToLower(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& c : out) c = ToLower(c);
  return out;
}

namespace {

template <typename Char>
bool EqualsIgnoreCaseOf(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ToLower(static_cast<char16_t>(a[i])) != ToLower(static_cast<char16_t>(b[i]))) return false;
  }
  return true;
}

}  // namespace

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  return EqualsIgnoreCaseOf(a, b);
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) { return EqualsIgnoreCaseOf(a, b); }

bool StartsWithIgnoreCase(std::u16string_view s, std::u16string_view prefix) {
  return s.size() >= prefix.size() && EqualsIgnoreCase(s.substr(0, prefix.size()), prefix);
}

bool EndsWithIgnoreCase(std::u16string_view s, std::u16string_view suffix) {
  return s.size() >= suffix.size() && EqualsIgnoreCase(s.substr(s.size() - suffix.size()), suffix);
}

std::size_t FindIgnoreCase(std::u16string_view s, std::u16string_view needle) {
  if (needle.size() > s.size()) return std::u16string_view::npos;
  for (std::size_t i = 0; i + needle.size() <= s.size(); ++i) {
    if (EqualsIgnoreCase(s.substr(i, needle.size()), needle)) return i;
  }
  return std::u16string_view::npos;
}

std::u16string_view TrimLeft(std::u16string_view s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] <= u' ') ++i;
  return s.substr(i);
}

std::u16string_view TrimRight(std::u16string_view s) {
  std::size_t n = s.size();
  while (n > 0 && s[n - 1] <= u' ') --n;
  return s.substr(0, n);
}

std::u16string_view Trim(std::u16string_view s) { return TrimRight(TrimLeft(s)); }

namespace {

template <typename Char>
bool AllDigits(std::basic_string_view<Char> s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](Char c) { return IsDigit(c); });
}

}  // namespace

bool IsDigits(std::string_view s) { return AllDigits(s); }

bool IsDigits(std::u16string_view s) { return AllDigits(s); }

std::string_view TrimBlanks(std::string_view s, std::string_view blanks) {
  const std::size_t first = s.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

std::optional<std::int64_t> ParseInt64(std::u16string_view s) {
  s = Trim(s);
  bool negative = false;
  if (!s.empty() && (s[0] == u'-' || s[0] == u'+')) {
    negative = s[0] == u'-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  // Accumulate as a negative number so that the minimum value fits too.
  std::int64_t value = 0;
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  for (char16_t c : s) {
    if (!IsDigit(c)) return std::nullopt;
    const int digit = c - u'0';
    if (value < (kMin + digit) / 10) return std::nullopt;
    value = value * 10 - digit;
  }
  if (!negative) {
    if (value == kMin) return std::nullopt;
    value = -value;
  }
  return value;
}

std::optional<std::int64_t> ParseHex64(std::u16string_view s) {
  if (s.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (char16_t c : s) {
    int digit;
    if (IsDigit(c)) {
      digit = c - u'0';
    } else if (c >= u'a' && c <= u'f') {
      digit = c - u'a' + 10;
    } else if (c >= u'A' && c <= u'F') {
      digit = c - u'A' + 10;
    } else {
      return std::nullopt;
    }
    if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 16) return std::nullopt;
    value = value * 16 + digit;
  }
  return value;
}

std::string ToAsciiBytes(std::u16string_view s) {
  std::string out(s.size(), '?');
  std::transform(s.begin(), s.end(), out.begin(),
                 [](char16_t c) { return c < 0x80 ? static_cast<char>(c) : '?'; });
  return out;
}

}  // namespace brevis::ascii
