// Fast forward searches over UTF-16 text, used to find the start-up facts of a program
// (its first unit, leading literal and required literal) before any match attempt.
#pragma once

#include <cstddef>

namespace brevis {

// First position in [begin, end) holding c, or nullptr.
const char16_t* FindUnit(const char16_t* begin, const char16_t* end, char16_t c);

// First position in [begin, end) that does not hold a digit "0"-"9", or end.
const char16_t* SkipDigits(const char16_t* begin, const char16_t* end);

// First position p in [begin, end) where the len units of lit lie wholly before end, or
// nullptr. Reads nothing outside [begin, end) and lit[0, len); an empty lit is found at begin.
const char16_t* FindLiteral(const char16_t* begin, const char16_t* end, const char16_t* lit,
                            size_t len);

}  // namespace brevis
