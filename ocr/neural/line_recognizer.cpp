// LineRecognizer: the line as a gray three-channel image from -1 (black) to 1 (white), padded
// white to a multiple of 8 pixels, and CTC's best path through the scores the network returns.
#include "ocr/neural/line_recognizer.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "common/text.h"
#include "ocr/neural/gray_area.h"

namespace brevis::neural {

namespace {

// The index of pixel (x, y), neither negative, in rows `width` pixels long.
std::size_t Pixel(int x, int y, int width) {
  return static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
         static_cast<std::size_t>(x);
}

}  // namespace

CharacterKeys::CharacterKeys(const std::string& path) {
  const std::optional<std::string> read = ReadSmallFile(path, 1u << 20, "keys");
  if (!read) throw ModelError("The keys " + path + " are not a readable file of at most 1 MiB.");
  const std::string& bytes = *read;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string_view line(bytes.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::u32string key = Utf8ToUtf32(line);
    if (key.size() != 1 || key[0] == U'\uFFFD') {
      throw ModelError("The keys " + path + " hold a line that is not one character (line " +
                       std::to_string(keys_.size() + 1) + ").");
    }
    keys_.push_back(Utf8ToUtf16(line));
    start = end + 1;
  }
  if (keys_.empty()) throw ModelError("The keys " + path + " are empty.");
}

std::vector<StepCharacter> BestPath(const Floats& scores, std::size_t steps,
                                    const CharacterKeys& keys) {
  const std::size_t classes = keys.Classes();
  std::vector<StepCharacter> characters;
  std::size_t previous = 0;
  bool blank = false;
  for (std::size_t s = 0; s < steps && (s + 1) * classes <= scores.size(); ++s) {
    const float* row = scores.data() + s * classes;
    const auto best = static_cast<std::size_t>(std::max_element(row, row + classes) - row);
    if (best != previous && best != 0) {
      std::u16string text = keys.Text(best);
      if (text == u" ") {
        blank = !characters.empty();
      } else {
        characters.push_back({std::move(text), s, blank});
        blank = false;
      }
    }
    previous = best;
  }
  // A bracket read in the other width than its partner takes the partner's: "(71）" is "(71)".
  for (std::size_t i = 0; i < characters.size(); ++i) {
    std::u16string& text = characters[i].Text;
    if (text == u"）" || text == u")") {
      for (std::size_t j = i; j-- > 0;) {
        const std::u16string& open = characters[j].Text;
        if (open == u"(" || open == u"（") {
          text = open == u"(" ? u")" : u"）";
          break;
        }
      }
    }
  }
  return characters;
}

std::vector<LineWord> StepWords(const std::vector<StepCharacter>& characters,
                                const std::vector<bool>& ink, double stepWidth, double scale,
                                int x0, int height) {
  const auto columns = static_cast<int>(ink.size());
  auto column = [&](std::size_t step) {
    return std::clamp(static_cast<int>((static_cast<double>(step) + 0.5) * stepWidth), 0, columns);
  };
  auto page = [&](int c) { return x0 + static_cast<int>(std::lround(c * scale)); };
  std::vector<LineWord> words;
  for (std::size_t i = 0; i < characters.size(); ++i) {
    const StepCharacter& character = characters[i];
    const int at = column(character.Step);
    LineWord word{character.Text, page(at), page(std::min(columns, at + 1)), -1};
    if (i > 0) {
      // The widest inkless run between the two characters' steps splits them.
      int bestStart = at, bestLength = 0;
      for (int c = column(characters[i - 1].Step); c < at;) {
        if (ink[static_cast<std::size_t>(c)]) {
          ++c;
          continue;
        }
        const int start = c;
        while (c < at && !ink[static_cast<std::size_t>(c)]) ++c;
        if (c - start > bestLength) {
          bestStart = start;
          bestLength = c - start;
        }
      }
      words.back().X1 = page(bestStart);
      word.X0 = page(bestStart + bestLength);
      word.Gap = word.X0 - words.back().X1;
      std::size_t a = 0, b = 0;
      const bool chinese = IsCjk(NextCodePoint(characters[i - 1].Text, a)) ||
                           IsCjk(NextCodePoint(character.Text, b));
      // Latin letters and digits keep white of their own (a "1" stands in a wide cell): between
      // them a gap is the recogniser's blank, or white of more than a quarter of the height
      // besides ("GB/T 3280", where it reads none). Measured on printed lines, white within a
      // word stays under 0.23 of the height, a blank's reaches 0.3.
      if (!chinese) {
        const bool wide = 100 * word.Gap >= 28 * height;
        word.Gap = character.BlankBefore ? std::max(word.Gap, (height + 3) / 4)
                   : wide                ? word.Gap
                                         : 0;
      }
    }
    words.push_back(std::move(word));
  }
  return words;
}

LineRecognizer::LineRecognizer(const std::string& modelPath, const std::string& keysPath)
    : network_(ReadOnnxModel(modelPath)), keys_(keysPath) {}

LineRecognizer::Line LineRecognizer::Read(const OneBitImage& page, const TextBox& box) {
  const int boxWidth = std::max(1, box.X1 - box.X0), boxHeight = std::max(1, box.Y1 - box.Y0);
  const double scale = static_cast<double>(kLineHeight) / boxHeight;
  const int width = std::clamp(static_cast<int>(std::lround(boxWidth * scale)), 8, kWidest);
  const int padded = (width + 7) / 8 * 8;
  const std::vector<float> gray = GrayArea(page, box, width, kLineHeight);
  // The rows and columns that hold ink: the line's characters are as tall as its ink, not as its
  // box with the detector's margin.
  int top = kLineHeight, bottom = 0, left = width, right = 0;
  for (int y = 0; y < kLineHeight; ++y) {
    for (int x = 0; x < width; ++x) {
      if (gray[Pixel(x, y, width)] < 0.5f) {
        top = std::min(top, y);
        bottom = std::max(bottom, y + 1);
        left = std::min(left, x);
        right = std::max(right, x + 1);
      }
    }
  }
  if (top >= bottom) return {};
  // A column holds ink where one of its pixels is more black than white.
  std::vector<bool> inked(static_cast<std::size_t>(padded), false);
  for (int y = top; y < bottom; ++y) {
    for (int x = 0; x < width; ++x) {
      if (gray[Pixel(x, y, width)] < 0.75f) inked[static_cast<std::size_t>(x)] = true;
    }
  }
  const TextBox ink = {box.X0 + static_cast<int>(left / scale),
                       box.Y0 + static_cast<int>(top / scale),
                       std::min(box.X1, box.X0 + static_cast<int>(std::ceil(right / scale))),
                       std::min(box.Y1, box.Y0 + static_cast<int>(std::ceil(bottom / scale)))};
  Tensor input;
  input.Shape = {1, 3, kLineHeight, padded};
  const std::size_t plane = static_cast<std::size_t>(padded) * kLineHeight;
  input.Floats.assign(3 * plane, 1.0f);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < kLineHeight; ++y) {
      for (int x = 0; x < width; ++x) {
        input.Floats[static_cast<std::size_t>(c) * plane + Pixel(x, y, padded)] =
            gray[Pixel(x, y, width)] * 2.0f - 1.0f;
      }
    }
  }
  const Tensor scores = network_.Run(std::move(input));
  if (scores.Shape.size() != 3 || scores.Shape[0] != 1 ||
      static_cast<std::size_t>(scores.Shape[2]) != keys_.Classes() || scores.Shape[1] < 1) {
    throw ModelError("The line recogniser's classes are not those of its keys.");
  }
  const auto steps = static_cast<std::size_t>(scores.Shape[1]);
  // The steps span the padded input evenly.
  const double stepWidth = static_cast<double>(padded) / static_cast<double>(steps);
  return {StepWords(BestPath(scores.Floats, steps, keys_), inked, stepWidth, 1.0 / scale, box.X0,
                    ink.Y1 - ink.Y0),
          ink};
}

}  // namespace brevis::neural
