// Tests of application numbers as people type them and of the check character.
#include "protocol/application_number.h"

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"

namespace brevis {
namespace {

TEST(ApplicationNumberTest, NumbersAsPeopleTypeThemReadAsThePatternsExpect) {
  struct Case {
    const char16_t* typed;
    const char16_t* read;
  };
  const Case kCases[] = {
      // Full-width digits, letters and full stops; the ideographic full stop.
      {u"２００７１００３８４２６", u"200710038426"},
      {u"ＣＮ２００７１００３８４２６", u"CN200710038426"},
      {u"ｚｌ２００７１００３８４２６．６", u"ZL200710038426.6"},
      {u"200710038426。6", u"200710038426.6"},
      // Blanks between the prefix and the digits, around them, and the ideographic blank.
      {u"CN 200710038426", u"CN200710038426"},
      {u"ZL 200710038426.6", u"ZL200710038426.6"},
      {u"\t cn\u3000200710038426 ", u"CN200710038426"},
      // The check character without its dot: 13 or 9 characters.
      {u"2007100384266", u"200710038426.6"},
      {u"981234569", u"98123456.9"},
      {u"95115608x", u"95115608.X"},
      {u"CN2007100384266", u"CN200710038426.6"},
      // Left as they are.
      {u"200710038426", u"200710038426"},
      {u"98123456", u"98123456"},
      {u"20071003842", u"20071003842"},
      {u"20071003842X6", u"20071003842X6"},
      {u"200710038426.12", u"200710038426.12"},
      {u"", u""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.typed));
    EXPECT_EQ(NormaliseApplicationNumber(c.typed), c.read);
  }
}

TEST(ApplicationNumberTest, CheckCharacterIsTheWeightedSumModuloEleven) {
  struct Case {
    const char16_t* digits;
    char16_t check;
  };
  const Case kCases[] = {
      {u"201710601862", u'3'},
      {u"97101765", u'4'},
      {u"95115608", u'X'},
      {u"200710038426", u'6'},
      {u"200820001234", u'8'},
      {u"98120001", u'X'},
      {u"000000000000", u'0'},
      // No check character for other texts.
      {u"2007100384", 0},
      {u"20071003842X", 0},
      {u"", 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.digits));
    EXPECT_EQ(CheckCharacter(c.digits), c.check);
  }
}

}  // namespace
}  // namespace brevis
