// ConsoleFace: message boxes kept as terminal text.
#include "tools/cli/console_face.h"

#include <algorithm>

#include "common/text.h"

namespace brevis::cli {

void ConsoleFace::SetProgressRange(FaceProgressBar bar, int maximum) {
  maximum_[bar] = maximum;
  if (listener_) listener_(bar, 0, maximum);
}

void ConsoleFace::SetProgressPosition(FaceProgressBar bar, int position) {
  if (listener_) listener_(bar, position, maximum_[bar]);
}

int ConsoleFace::MessageBox(const std::u16string& text, const std::u16string&, int flags) {
  std::string line = Utf16ToUtf8(text);
  std::replace(line.begin(), line.end(), '\r', '\n');
  messages_.push_back(line);
  return flags == kMbYesNoQuestion ? kIdNo : kIdOk;
}

}  // namespace brevis::cli
