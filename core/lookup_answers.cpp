// Lookup answers: reading the mirror's and the search page's answers, and the decimal page count.
#include "core/lookup_answers.h"

#include <algorithm>
#include <limits>

#include "cipher/big_int.h"
#include "common/ascii_text.h"
#include "common/text.h"
#include "protocol/service_protocol.h"

namespace brevis {

namespace {

// Decimal digits to a 32-bit signed integer; ConvertError when the text is not such a number.
int32_t StrToInt(const std::u16string& text) {
  int64_t value = 0;
  bool valid = !text.empty();
  for (char16_t c : text) {
    if (!ascii::IsDigit(c)) {
      valid = false;
      break;
    }
    // value stays at most 2^31 - 1 here, so value * 10 + 9 cannot overflow 64 bits.
    value = value * 10 + (c - u'0');
    if (value > std::numeric_limits<int32_t>::max()) {
      valid = false;
      break;
    }
  }
  if (!valid) throw ConvertError("'" + Utf16ToUtf8(text) + "' is not a valid integer value");
  return static_cast<int32_t>(value);
}

// Searches `text` for `expression`; on a match sets GkPages (group 1) and GkUrl (group 2).
void ReadPages(std::u16string_view expression, const std::u16string& text, ReRazavu& result) {
  Pattern pattern;
  if (SearchWithinBounds(pattern, expression, text)) {
    result.GkPages = StrToInt(pattern.Match(1));
    result.GkUrl = pattern.Match(2);
  }
}

}  // namespace

bool SearchWithinBounds(Pattern& pattern, std::u16string_view expression,
                        const std::u16string& subject) {
  pattern.SetExpression(expression);
  try {
    return pattern.Exec(subject);
  } catch (const PatternError&) {
    return false;
  }
}

void ReadMirrorText(const std::u16string& text, ReRazavu& result) {
  ReadPages(protocol::kMirrorAnswerPattern, text, result);
}

void ReadMirrorAnswer(const RSA& cipher, const std::u16string& body, ReRazavu& result) {
  ReadMirrorText(cipher.Decrypt(body), result);
}

void ReadSearchPage(const std::u16string& page, const std::u16string& leixin, ReRazavu& result) {
  ReadPages(protocol::SearchFragmentPattern<char16_t>(leixin), page, result);
}

int32_t CapPageCounts(ReRazavu& result) {
  if (result.GkPages <= kMaxLookupPages && result.SdPages <= kMaxLookupPages) return 0;
  const int32_t pages = std::max(result.GkPages, result.SdPages);
  result.GkPages = 0;
  result.SdPages = 0;
  return pages;
}

}  // namespace brevis
