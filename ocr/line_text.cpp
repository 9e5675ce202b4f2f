// Words joined into lines: full-width punctuation, blanks from printed gaps, and text read twice
// dropped; lines sharing a row joined the same way.
#include "ocr/line_text.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "common/text.h"

namespace brevis {

namespace {

std::u32string ToUtf32(std::u16string_view text) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size();) out += NextCodePoint(text, i);
  return out;
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
  }
}

// The length of the longest start of `word` that `line` ends with.
std::size_t RepeatedStart(std::u32string_view line, std::u32string_view word) {
  for (std::size_t k = std::min(line.size(), word.size()); k > 0; --k) {
    if (line.ends_with(word.substr(0, k))) return k;
  }
  return 0;
}

char32_t FullWidth(char32_t c) {
  switch (c) {
    case U':':
      return U'：';
    case U',':
      return U'，';
    case U';':
      return U'；';
    case U'?':
      return U'？';
    case U'!':
      return U'！';
    default:
      return c;
  }
}

bool PrintedBlank(char32_t before, char32_t after, int gap, int height) {
  if (IsCjkPunctuation(before) || IsCjkPunctuation(after)) return false;
  // Solid Chinese leaves a sliver between characters, Latin text a quarter of a character
  // between words: a gap between two Chinese characters must be twice as wide to be printed.
  if (IsCjk(before) && IsCjk(after)) return 2 * gap >= height;
  return 4 * gap >= height;
}

}  // namespace

bool IsCjk(char32_t c) {
  return (c >= 0x2E80 && c <= 0x2FDF) ||  // radicals
         (c >= 0x3000 && c <= 0x30FF) ||  // CJK punctuation, kana
         (c >= 0x3100 && c <= 0x31FF) ||  // bopomofo, kana extensions
         (c >= 0x3400 && c <= 0x4DBF) ||  // ideographs, extension A
         (c >= 0x4E00 && c <= 0x9FFF) ||  // ideographs
         (c >= 0xAC00 && c <= 0xD7AF) ||  // hangul
         (c >= 0xF900 && c <= 0xFAFF) ||  // compatibility ideographs
         (c >= 0xFE30 && c <= 0xFE4F) ||  // compatibility forms
         (c >= 0xFF00 && c <= 0xFFEF) ||  // full-width forms
         (c >= 0x20000 && c <= 0x3FFFF);  // ideographs, supplementary planes
}

bool IsCjkPunctuation(char32_t c) {
  return (c >= 0x3000 && c <= 0x303F) ||  // CJK symbols and punctuation
         (c >= 0xFE30 && c <= 0xFE4F) ||  // compatibility forms
         (c >= 0xFF01 && c <= 0xFF0F) ||  // full-width ！ to ／
         (c >= 0xFF1A && c <= 0xFF20) ||  // full-width ： to ＠
         (c >= 0xFF3B && c <= 0xFF40) ||  // full-width ［ to ｀
         (c >= 0xFF5B && c <= 0xFF65);    // full-width ｛ to ･
}

std::u16string JoinWords(const std::vector<LineWord>& words, int height) {
  // The line's characters, and where each word after the first begins with its gap before.
  std::u32string text;
  std::vector<std::pair<std::size_t, int>> joins;
  int end = 0;  // where the last word taken ends
  for (const LineWord& word : words) {
    std::u32string add = ToUtf32(word.Text);
    if (add.empty()) continue;
    if (!text.empty()) {
      int gap = word.Gap >= 0 ? word.Gap : word.X0 - end;
      // Read twice: the repeated characters lie within the overlap of the boxes (their share of
      // the word's width taken as even, give or take half). What follows them is joined as the
      // word's own text had it, with or without a blank.
      const int overlap = std::min(end, word.X1) - word.X0;
      const std::size_t repeated = overlap > 0 ? RepeatedStart(text, add) : 0;
      if (repeated > 0 && static_cast<long>(repeated) * std::max(1, word.X1 - word.X0) <=
                              3L * overlap * static_cast<long>(add.size())) {
        add.erase(0, repeated);
        const std::size_t first = add.find_first_not_of(U' ');
        gap = first != 0 && first != std::u32string::npos ? height : 0;
        add.erase(0, std::min(first, add.size()));
      }
      end = std::max(end, word.X1);
      if (add.empty()) continue;
      joins.emplace_back(text.size(), gap);
    }
    text += add;
    end = std::max(end, word.X1);
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool cjk_next =
        (i > 0 && IsCjk(text[i - 1])) || (i + 1 < text.size() && IsCjk(text[i + 1]));
    if (cjk_next) text[i] = FullWidth(text[i]);
  }
  std::u16string line;
  auto join = joins.begin();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (join != joins.end() && join->first == i) {
      if (PrintedBlank(text[i - 1], text[i], join->second, height)) line += u' ';
      ++join;
    }
    AppendUtf16(line, text[i]);
  }
  return line;
}

void JoinRows(std::vector<RecognizedLine>& lines) {
  std::stable_sort(
      lines.begin(), lines.end(),
      [](const RecognizedLine& a, const RecognizedLine& b) { return a.Box.Y0 < b.Box.Y0; });
  std::vector<RecognizedLine> rows;
  auto first = lines.begin();
  while (first != lines.end()) {
    // The lines that reach into the middle of the first one's height share its row.
    const int middle = (first->Box.Y0 + first->Box.Y1) / 2;
    const auto end = std::find_if(
        first, lines.end(), [middle](const RecognizedLine& line) { return line.Box.Y0 > middle; });
    std::stable_sort(first, end, [](const RecognizedLine& a, const RecognizedLine& b) {
      return a.Box.X0 < b.Box.X0;
    });
    // Joined as words are: the engine may also cut one printed line in two.
    RecognizedLine row{{}, first->Box};
    std::vector<LineWord> parts;
    for (auto part = first; part != end; ++part) {
      parts.push_back({std::move(part->Text), part->Box.X0, part->Box.X1});
      row.Box = {std::min(row.Box.X0, part->Box.X0), std::min(row.Box.Y0, part->Box.Y0),
                 std::max(row.Box.X1, part->Box.X1), std::max(row.Box.Y1, part->Box.Y1)};
    }
    row.Text = JoinWords(parts, row.Box.Y1 - row.Box.Y0);
    rows.push_back(std::move(row));
    first = end;
  }
  lines = std::move(rows);
}

}  // namespace brevis
