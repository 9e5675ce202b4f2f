// The text of recognised lines: their boxes, and the words an engine read joined into the line
// the page prints (blanks where the page prints a gap, Chinese punctuation in its full-width
// form, nothing read twice). Pure functions on words and boxes, whatever the engine.
#pragma once

#include <string>
#include <vector>

namespace brevis {

// A box in image pixels: left, top, right and bottom, the right and bottom edges excluded.
struct TextBox {
  int X0 = 0;
  int Y0 = 0;
  int X1 = 0;
  int Y1 = 0;
  friend bool operator==(const TextBox&, const TextBox&) = default;
};

// One printed line: its text as it is printed and its box.
struct RecognizedLine {
  std::u16string Text;
  TextBox Box;
};

// A character of a script written without blanks between words: CJK ideographs, kana, hangul,
// and CJK and full-width punctuation.
bool IsCjk(char32_t c);
// CJK and full-width punctuation and signs ("，", "。", "（", "％"): their cell holds white
// beside the ink, and Chinese text never sets a blank beside them.
bool IsCjkPunctuation(char32_t c);

// A word as the engine read it, where it lies along its line, and the white between it and the
// word before in pixels as the engine measured it; Gap < 0 when not measured, and then it is X0
// less the previous word's X1.
struct LineWord {
  std::u16string Text;
  int X0 = 0;
  int X1 = 0;
  int Gap = -1;
};

// The words of one line, left to right, as one text, for characters `height` pixels tall:
// - a blank stands only for a printed gap: between two Chinese characters one of at least half
//   a character ("(71) 申请人 武汉"), elsewhere one of at least a quarter ("GB/T 3280-2015",
//   "[0003] 根据", but "采用304不锈钢", "约90%"); never beside Chinese punctuation;
// - an ASCII ':' ',' ';' '?' '!' next to a Chinese character is the full-width one ("：，；？！"):
//   Chinese text is printed with those;
// - a word whose box overlaps the one before and that begins with what the line ends with (a
//   line read twice, "(21)" and "21) 申请号") adds only what follows that.
std::u16string JoinWords(const std::vector<LineWord>& words, int height);

// Puts lines in the order a reader of a one-column page takes them, from the top, and joins the
// lines that share a row into one, from the left, as JoinWords joins words: a page header's
// number, title and page count, or a column of field codes the engine read apart from the
// fields. The engine's own order follows its blocks; the PDF readers put what shares a baseline
// on one line.
void JoinRows(std::vector<RecognizedLine>& lines);

}  // namespace brevis
