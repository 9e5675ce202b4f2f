// LineRecognizer: the text of one printed line, read by a CTC line recognition network from the
// line's box scaled to kLineHeight pixels, as words with where they lie along the line.
#pragma once

#include <string>
#include <vector>

#include "common/one_bit_image.h"
#include "ocr/line_text.h"
#include "ocr/neural/network.h"

namespace brevis::neural {

// The characters a recogniser's classes stand for: class 0 is CTC's blank, then one class per
// line of the key file (UTF-8, one character each), then a blank.
class CharacterKeys {
 public:
  // Reads the key file, at most 1 MiB; throws ModelError naming it when it cannot, or when a
  // line is not one character of valid UTF-8.
  explicit CharacterKeys(const std::string& path);
  explicit CharacterKeys(std::vector<std::u16string> keys) : keys_(std::move(keys)) {}

  // Classes: the keys with blank and space.
  std::size_t Classes() const { return keys_.size() + 2; }
  // The text of class `c` (0 < c < Classes()).
  std::u16string Text(std::size_t c) const {
    return c <= keys_.size() ? keys_[c - 1] : std::u16string(u" ");
  }

 private:
  std::vector<std::u16string> keys_;
};

// A character on CTC's best path through a line's class scores ([steps x classes], row by row):
// the best class of each step, a repeat once, blanks dropped, a closing bracket as wide as the
// opening one before it; with the step it was read at, and
// whether the recogniser read a blank before it.
struct StepCharacter {
  std::u16string Text;
  std::size_t Step = 0;
  bool BlankBefore = false;
};
std::vector<StepCharacter> BestPath(const Floats& scores, std::size_t steps,
                                    const CharacterKeys& keys);

// The characters of a line as words for JoinWords, a character a word, each with the white the
// line's ink leaves before it. `ink` tells for each column of the line image whether it holds
// ink; step s is read around column (s + 0.5) * stepWidth, and a column is `scale` page pixels
// after `x0`. The gap before a character is the widest run of inkless columns between its step
// and the one before, when one of the two is Chinese. Between two others (Latin letters and
// digits, whose cells hold white of their own) the recogniser's blank makes a gap of at least a
// quarter of `height`, the characters' height in page pixels, as JoinWords requires; without
// it, only white of 0.28 of `height` or more counts.
std::vector<LineWord> StepWords(const std::vector<StepCharacter>& characters,
                                const std::vector<bool>& ink, double stepWidth, double scale,
                                int x0, int height);

class LineRecognizer {
 public:
  static constexpr int kLineHeight = 48;
  // A line is scaled to at most this width: longer ones are squeezed.
  static constexpr int kWidest = 4000;

  // Loads the network and its keys; throws ModelError.
  LineRecognizer(const std::string& modelPath, const std::string& keysPath);

  // The line read in `box` of `page`: its words and the box of its ink, in page pixels; no words
  // when the box holds no ink. Throws ModelError when the network's classes are not the keys'
  // or it fails.
  struct Line {
    std::vector<LineWord> Words;
    TextBox Ink;
  };
  Line Read(const OneBitImage& page, const TextBox& box);

 private:
  Network network_;
  CharacterKeys keys_;
};

}  // namespace brevis::neural
