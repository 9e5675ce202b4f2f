// Reading the patent lookup's answers: the mirror's cipher text and the patent office's search
// page, each into the page count and base address of a ReRazavu, and the page-count cap.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/re_razavu.h"
#include "protocol/service_protocol.h"
#include "cipher/rsa.h"
#include "regex/pattern.h"

namespace brevis {

// A larger page count is taken as a broken lookup answer.
inline constexpr int32_t kMaxLookupPages = protocol::kMaxAnnouncedPages;

// Searches `subject` for `expression` with `pattern`. A subject that exhausts the engine's
// bounds (its nesting or step budget) counts as one without a match.
bool SearchWithinBounds(Pattern& pattern, std::u16string_view expression,
                        const std::u16string& subject);

// A deciphered mirror answer, "<pages>\t<base address>": on a match sets GkPages and GkUrl; any
// other text leaves `result` as it is. Throws ConvertError when the count does not fit in 32
// bits.
void ReadMirrorText(const std::u16string& text, ReRazavu& result);
// The mirror's answer body as it arrives: deciphered with `cipher`, then read as above. Throws
// ConvertError when the body is not cipher text or the count does not fit in 32 bits.
void ReadMirrorAnswer(const RSA& cipher, const std::u16string& body, ReRazavu& result);
// The patent office's search page for kind `leixin`: the 'fm' fragment for "fmzl", the 'xx'
// fragment for any other kind; on a match sets GkPages and GkUrl. Throws ConvertError when the
// count does not fit in 32 bits.
void ReadSearchPage(const std::u16string& page, const std::u16string& leixin, ReRazavu& result);

// Refuses page counts above kMaxLookupPages: when either count is above it, sets both to 0 and
// returns the larger one; returns 0 when both are within the cap.
int32_t CapPageCounts(ReRazavu& result);

}  // namespace brevis
