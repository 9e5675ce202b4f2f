// The default case inversion: letters of several scripts, and units it leaves alone.
#include "regex/case_table.h"

#include <gtest/gtest.h>

namespace brevis {
namespace {

TEST(CaseTableTest, InvertsSingleUnits) {
  struct InvertCase {
    char16_t in;
    char16_t out;
  };
  const InvertCase cases[] = {
      {u'a', u'A'}, {u'Z', u'z'}, {u'1', u'1'}, {u'é', u'É'},           {u'Я', u'я'},
      {u'ё', u'Ё'}, {u'σ', u'Σ'}, {u'ſ', u'S'}, {u'\u20AB', u'\u20AB'}, {u'\u24B6', u'\u24B6'},
  };
  for (const InvertCase& c : cases) {
    EXPECT_EQ(DefaultInvertCase(c.in), c.out) << static_cast<int>(c.in);
  }
}

}  // namespace
}  // namespace brevis
