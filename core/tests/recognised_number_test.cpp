// Tests of RecogniseNumber: the forms people type numbers in, the kinds, and the check
// character.
#include "core/recognised_number.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace brevis {
namespace {

TEST(RecognisedNumberTest, RecognisesNumbersAndKinds) {
  struct Case {
    const char16_t* text;
    bool valid;
    const char16_t* apn;
    const char16_t* kind;  // empty for a number that is not valid
    char16_t right = 0;    // the right check character, for a number refused for a wrong one
  };
  const Case kCases[] = {
      {u"CN200710038426", true, u"200710038426", u"fmzl"},
      {u"zl200820001234.8", true, u"200820001234", u"syxx"},
      {u"  88100001 \t", true, u"88100001", u"fmzl"},
      {u"200730001234", false, u"200730001234", u""},  // fifth digit 3
      {u"99912345", true, u"99912345", u"syxx"},
      {u"cn200780001234.6", true, u"200780001234", u"fmzl"},
      {u"", false, u"", u""},
      {u"200710038426.12", false, u"200710038426.12", u""},
      {u"ZL98120001.X", true, u"98120001", u"fmzl"},
      {u"12922222", true, u"12922222", u"syxx"},
      // Numbers as people type them.
      {u"CN 200710038426", true, u"200710038426", u"fmzl"},
      {u"ＣＮ２００７１００３８４２６。６", true, u"200710038426", u"fmzl"},
      {u"2007100384266", true, u"200710038426", u"fmzl"},
      {u"882000012", true, u"88200001", u"syxx"},
      // A wrong check character, given with or without its dot.
      {u"200710038426.7", false, u"200710038426", u"", u'6'},
      {u"ZL200710038426.X", false, u"200710038426", u"", u'6'},
      {u"2007100384261", false, u"200710038426", u"", u'6'},
      {u"881000012", false, u"88100001", u"", u'9'},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.text));
    const RecognisedNumber number = RecogniseNumber(c.text);
    EXPECT_EQ(number.Valid, c.valid);
    EXPECT_EQ(number.Apn, c.apn);
    EXPECT_EQ(number.Kind, c.kind);
    const std::u16string kind = c.kind;
    EXPECT_EQ(number.DisplayKind, kind == u"fmzl"   ? u"发明专利"
                                  : kind == u"syxx" ? u"实用新型专利"
                                                    : u"");
    EXPECT_EQ(number.RightCheckCharacter, c.right);
  }
}

}  // namespace
}  // namespace brevis
