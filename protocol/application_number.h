// Application numbers as people type them: the one normalisation before recognition, and the
// check character that ends a Chinese application number.
#pragma once

#include <string>
#include <string_view>

namespace brevis {

// The entry's text in the form recognition reads: full-width digits, letters and full stops
// (U+FF10.., U+FF21.., U+FF41.., U+FF0E) and the ideographic full stop U+3002 become their ASCII
// forms; a to z are upper-cased; blanks (characters up to U+0020 and U+3000) are dropped; and 13
// or 9 characters after an optional "CN" or "ZL", the last a digit or X, get the dot before
// their check character ("2007100384266" reads "200710038426.6").
std::u16string NormaliseApplicationNumber(std::u16string_view text);

// The check character of 12 or 8 decimal digits: the digits weighted 2, 3, 4, 5, 6, 7, 8, 9, 2,
// 3, 4, 5 from the left, summed, modulo 11, with 10 written X. 0 for any other text.
char16_t CheckCharacter(std::u16string_view digits);

}  // namespace brevis
