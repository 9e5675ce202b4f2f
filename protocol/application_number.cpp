// Application numbers: normalisation and the check character.
#include "protocol/application_number.h"

#include "common/ascii_text.h"

namespace brevis {

namespace {

// The ASCII form of a full-width or ideographic character; other characters as they are.
char16_t Narrow(char16_t c) {
  if (c >= 0xFF01 && c <= 0xFF5E) return static_cast<char16_t>(c - 0xFF01 + 0x21);
  if (c == 0x3002) return u'.';
  if (c == 0x3000) return u' ';
  return c;
}

}  // namespace

std::u16string NormaliseApplicationNumber(std::u16string_view text) {
  std::u16string out;
  for (char16_t c : text) {
    c = Narrow(c);
    if (c <= u' ') continue;
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    out += c;
  }
  const std::size_t start = out.starts_with(u"CN") || out.starts_with(u"ZL") ? 2 : 0;
  const std::size_t length = out.size() - start;
  if (length == 13 || length == 9) {
    bool digits = true;
    for (std::size_t i = start; i + 1 < out.size(); ++i) digits = digits && ascii::IsDigit(out[i]);
    const char16_t check = out.back();
    if (digits && (ascii::IsDigit(check) || check == u'X')) {
      out.back() = u'.';
      out += check;
    }
  }
  return out;
}

char16_t CheckCharacter(std::u16string_view digits) {
  static constexpr int kWeights[] = {2, 3, 4, 5, 6, 7, 8, 9, 2, 3, 4, 5};
  if (digits.size() != 12 && digits.size() != 8) return 0;
  int sum = 0;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (!ascii::IsDigit(digits[i])) return 0;
    sum += (digits[i] - u'0') * kWeights[i];
  }
  const int check = sum % 11;
  return check == 10 ? u'X' : static_cast<char16_t>(u'0' + check);
}

}  // namespace brevis
