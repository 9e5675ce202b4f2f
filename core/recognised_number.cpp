// RecogniseNumber: the number's pattern, its kind digit and its check character.
#include "core/recognised_number.h"

#include "core/lookup_answers.h"
#include "protocol/application_number.h"
#include "regex/pattern.h"

namespace brevis {

namespace {

constexpr std::u16string_view kNumberPattern = u"^(ZL|CN)?(\\d+)(\\.[\\dX])?$";

}  // namespace

RecognisedNumber RecogniseNumber(std::u16string_view text) {
  RecognisedNumber number;
  number.Apn = NormaliseApplicationNumber(text);
  Pattern pattern;
  if (!SearchWithinBounds(pattern, kNumberPattern, number.Apn)) return number;
  const std::u16string given = pattern.Match(3);  // "" or "." and the check character
  number.Apn = pattern.Match(2);
  char16_t kind = 0;
  if (number.Apn.size() == 8) kind = number.Apn[2];
  if (number.Apn.size() == 12) kind = number.Apn[4];
  // A mistyped digit would fetch another patent: a wrong check character refuses the number.
  const char16_t check = CheckCharacter(number.Apn);
  if (kind != 0 && given.size() == 2 && check != 0 && given[1] != check) {
    number.RightCheckCharacter = check;
  } else if (kind == u'1' || kind == u'8') {
    number.Valid = true;
    number.Kind = u"fmzl";
    number.DisplayKind = u"发明专利";
  } else if (kind == u'2' || kind == u'9') {
    number.Valid = true;
    number.Kind = u"syxx";
    number.DisplayKind = u"实用新型专利";
  }
  return number;
}

}  // namespace brevis
