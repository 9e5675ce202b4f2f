// The pattern engine's default case inversion (Pattern::InvertCaseFunction), from a table of the
// platform's single-unit case mapping built on first use.
#pragma once

namespace brevis {

// Units at or above U+20AC unchanged; below, the upper-case mapping when it differs from the
// unit, else the lower-case mapping (C.UTF-8 locale; ASCII only when that locale is missing).
char16_t DefaultInvertCase(char16_t c);

}  // namespace brevis
