// Measures of recognised text against what was printed, for the tests and the benchmarks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "ocr/recognizer.h"

namespace brevis::test {

// Blanks with a CJK character on both sides.
inline std::size_t BlanksBetweenCjk(const std::u16string& text) {
  std::size_t count = 0;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] == u' ' && IsCjk(text[i - 1]) && IsCjk(text[i + 1])) ++count;
  }
  return count;
}

// The edit distance of `read` from `printed`, blanks ignored, over the characters printed.
inline double CharacterErrorRate(std::u16string read, std::u16string printed) {
  std::erase(read, u' ');
  std::erase(printed, u' ');
  if (printed.empty()) return read.empty() ? 0.0 : 1.0;
  std::vector<std::size_t> row(read.size() + 1);
  for (std::size_t j = 0; j <= read.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= printed.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= read.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min(
          {row[j] + 1, row[j - 1] + 1, diagonal + (printed[i - 1] == read[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return static_cast<double>(row[read.size()]) / static_cast<double>(printed.size());
}

}  // namespace brevis::test
