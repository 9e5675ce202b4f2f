// RecogniseNumber: what a typed Chinese patent application number is, without any face: the
// number as the services take it, whether it is valid, its kind, and the right check character
// when the one given is wrong. The window's entry field and the command line both read it.
#pragma once

#include <string>
#include <string_view>

namespace brevis {

struct RecognisedNumber {
  // The application number, digits only, when the text has the number's form; else the text as
  // NormaliseApplicationNumber gives it.
  std::u16string Apn;
  bool Valid = false;
  // Valid numbers only: the kind code ("fmzl" invention, "syxx" utility model) and its name.
  std::u16string Kind;
  std::u16string DisplayKind;
  // The right check character when the number was refused for a wrong one, else 0.
  char16_t RightCheckCharacter = 0;
};

// Reads `text` as NormaliseApplicationNumber does, then as "ZL" or "CN", the 8 or 12 digits and an
// optional "." with the check character. The kind is the digit after the year (8 digits: the
// third, 12 digits: the fifth): 1 or 8 an invention, 2 or 9 a utility model; any other is not
// valid. A check character given that differs from the right one makes the number not valid.
RecognisedNumber RecogniseNumber(std::u16string_view text);

}  // namespace brevis
