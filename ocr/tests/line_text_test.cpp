// Words joined into lines without an engine: blanks only where a gap is printed, full-width
// punctuation beside Chinese, text read twice taken once, and lines that share a row.
#include "ocr/line_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/text.h"

namespace brevis {
namespace {

TEST(JoinWordsTest, BlanksPunctuationAndTextReadTwice) {
  // Words of 40-pixel characters, each given with the gap before it; a gap < 0 is not measured
  // and then the boxes tell it. A blank takes 20 pixels between Chinese characters, 10 elsewhere.
  struct Case {
    std::vector<std::pair<int, std::u16string>> words;  // gap before, text
    std::u16string line;
  };
  const Case cases[] = {
      // Chinese: the engine's splitting is dropped; a gap of half a character is printed.
      {{{0, u"本"}, {2, u"发明"}, {15, u"涉及"}, {0, u"一种"}}, u"本发明涉及一种"},
      {{{0, u"申请人"}, {100, u"武汉金源"}}, u"申请人 武汉金源"},
      {{{0, u"发明名称"}, {20, u"一种"}}, u"发明名称 一种"},
      // Never a blank beside Chinese punctuation, however wide its cell's white.
      {{{0, u"阀门"}, {0, u"，"}, {35, u"特别是"}}, u"阀门，特别是"},
      {{{0, u"目的"}, {12, u"，"}, {30, u"本发明"}}, u"目的，本发明"},
      {{{0, u"（"}, {2, u"1"}, {2, u"）"}}, u"（1）"},
      // Latin words and numbers: a quarter of a character is a printed blank, less is not.
      {{{0, u"GB/T"}, {16, u"3280-2015"}}, u"GB/T 3280-2015"},
      {{{0, u"0.2"}, {4, u"mm"}}, u"0.2mm"},
      {{{0, u"stainless"}, {12, u"steel."}}, u"stainless steel."},
      // Where Chinese meets Latin or a number, likewise.
      {{{0, u"采用"}, {4, u"304"}, {5, u"不锈钢"}}, u"采用304不锈钢"},
      {{{0, u"约"}, {6, u"90%"}, {0, u"，"}}, u"约90%，"},
      {{{0, u"为"}, {3, u"12"}, {2, u"至"}, {3, u"18"}, {2, u"个"}}, u"为12至18个"},
      {{{0, u"[0003]"}, {60, u"根据"}}, u"[0003] 根据"},
      {{{0, u"(21)"}, {45, u"申请号"}, {45, u"200710038426"}}, u"(21) 申请号 200710038426"},
      // ASCII punctuation next to a Chinese character is the full-width one, its blanks go.
      {{{0, u"所述阀体上"}, {12, u";"}, {12, u"所述"}}, u"所述阀体上；所述"},
      {{{0, u"HRC"}, {12, u"40"}, {12, u";"}, {12, u"所述"}}, u"HRC 40；所述"},
      {{{0, u"其特征在于:"}, {0, u"阀芯"}}, u"其特征在于：阀芯"},
      {{{0, u"是否泄漏?"}, {10, u"是!"}}, u"是否泄漏？是！"},
      {{{0, u"阀体,阀盖"}}, u"阀体，阀盖"},
      // Between Latin letters and digits it stays ASCII.
      {{{0, u"Note:"}, {12, u"1,000"}, {12, u"bar;"}, {12, u"ok?"}}, u"Note: 1,000 bar; ok?"},
      // Empty words leave no trace; a character beyond the BMP counts as Chinese.
      {{{0, u""}, {0, u"a"}, {0, u""}, {15, u"b"}}, u"a b"},
      {{{0, u"\U00020000"}, {5, u"x"}}, u"\U00020000x"},
      {{}, u""},
  };
  for (const Case& c : cases) {
    std::vector<LineWord> words;
    int x = 0;
    for (const auto& [gap, text] : c.words) {
      x += gap;
      words.push_back({text, x, x + 40 * static_cast<int>(text.size()), gap});
      x = words.back().X1;
    }
    EXPECT_EQ(JoinWords(words, 40), c.line) << Utf16ToUtf8(c.line);
  }

  // Text read twice: a word whose box overlaps the one before and that begins with what the
  // line ends with adds only the rest; a repeat outside the overlap is the page's own.
  struct Boxed {
    std::vector<LineWord> words;  // boxes given, gaps from them
    std::u16string line;
  };
  const Boxed boxed[] = {
      {{{u"(21)", 0, 80}, {u"21) 申请号", 20, 300}}, u"(21) 申请号"},
      {{{u"发明人", 0, 120}, {u"人，周伟", 80, 240}}, u"发明人，周伟"},
      {{{u"(21)", 0, 80}, {u"(21)", 0, 80}}, u"(21)"},
      {{{u"常", 0, 40}, {u"常", 42, 82}}, u"常常"},
      {{{u"一一", 0, 80}, {u"一对应", 78, 198}}, u"一一一对应"},
  };
  for (const Boxed& c : boxed) {
    EXPECT_EQ(JoinWords(c.words, 40), c.line) << Utf16ToUtf8(c.line);
  }
}

TEST(JoinRowsTest, LinesSharingARowAreOneLineReadingOrderFromTheTop) {
  std::vector<RecognizedLine> lines = {
      {u"申请号 200710038426", {120, 102, 700, 146}},
      {u"本发明", {100, 300, 300, 344}},
      {u"(21)", {0, 100, 80, 144}},
      // A line the engine also read as part of another block.
      {u"21) 申请号", {30, 101, 300, 145}},
      {u"1/12", {2000, 10, 2080, 40}},
      {u"CN200710038426", {0, 8, 330, 40}},
  };
  JoinRows(lines);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].Text, u"CN200710038426 1/12");
  EXPECT_EQ(lines[0].Box, (TextBox{0, 8, 2080, 40}));
  EXPECT_EQ(lines[1].Text, u"(21) 申请号 200710038426");
  EXPECT_EQ(lines[1].Box, (TextBox{0, 100, 700, 146}));
  EXPECT_EQ(lines[2].Text, u"本发明");
}

}  // namespace
}  // namespace brevis
