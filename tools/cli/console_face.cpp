// ConsoleFace: message boxes kept as terminal text.
#include "tools/cli/console_face.h"

#include <algorithm>

#include "common/text.h"

namespace brevis::cli {

int ConsoleFace::MessageBox(const std::u16string& text, const std::u16string&, int flags) {
  std::string line = Utf16ToUtf8(text);
  std::replace(line.begin(), line.end(), '\r', '\n');
  messages_.push_back(line);
  constexpr int kIdOk = 1;
  constexpr int kIdNo = 7;
  return flags == kMbYesNoQuestion ? kIdNo : kIdOk;
}

}  // namespace brevis::cli
