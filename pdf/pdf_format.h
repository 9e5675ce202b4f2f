// Number, colour and string formatting for PDF output. Every number is formatted here, never by
// the locale: "." is always the decimal point.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brevis {

// The token of a PDF number held as a 32-bit float: the integer part, then as many decimal digits
// as it takes for the fraction, scaled by ten at float precision, to reach an integer
// (595.28f gives "595.2800293", 0.05f gives "0.05", -0.5f gives "-0.5"). Values of 2^31 and more
// in magnitude are all integers at float precision and are written as such. Throws PdfError
// ("Number is not finite.") for NaN and infinities, which PDF cannot carry.
std::string FormatPdfNumber(float value);

// A literal string's bytes with "(", ")", "\", CR, LF, tab, backspace and form feed escaped by a
// backslash; every other byte (128 and above included) copied unchanged.
std::string EscapePdfString(std::string_view value);

// A content-stream number: x rounded to two decimals with halves upward, written with at most 15
// significant digits, no trailing zeros and no point for whole numbers (287.903 gives "287.9",
// 0.125 gives "0.13", -3.695 gives "-3.69"). Throws PdfError for values that are not finite.
std::string FormatContentNumber(long double x);

// A colour value (red in the lowest byte, then green, blue) as three content numbers in 0..1,
// "r g b". Values of 0 or less (system colours included) count as black.
std::string FormatColor(int32_t value);

}  // namespace brevis
