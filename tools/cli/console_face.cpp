// ConsoleFace: message boxes kept as terminal text.
#include "tools/cli/console_face.h"

#include <algorithm>

#include "core/main_form.h"
#include "common/text.h"

namespace brevis::cli {

std::string NotValidText(const MainForm& form, const std::string& typed) {
  std::string text = "'" + typed + "' is not a valid Chinese patent application number.";
  if (form.rightCheckCharacter() != 0) {
    text += "\nIts check character is wrong: " + Utf16ToUtf8(form.apn()) + " ends in " +
            Utf16ToUtf8(std::u16string(1, form.rightCheckCharacter())) + ".";
  }
  return text;
}

void ConsoleFace::SetPagesKept(int kept) {
  if (line_ != nullptr) line_->SetKept(kept);
}

void ConsoleFace::SetProgressRange(FaceProgressBar bar, int maximum) {
  maximum_[bar] = maximum;
  if (line_ != nullptr) line_->Update(bar, 0, maximum);
}

void ConsoleFace::SetProgressPosition(FaceProgressBar bar, int position) {
  if (line_ != nullptr) line_->Update(bar, position, maximum_[bar]);
}

int ConsoleFace::MessageBox(const std::u16string& text, const std::u16string&, int flags) {
  std::string line = Utf16ToUtf8(text);
  std::replace(line.begin(), line.end(), '\r', '\n');
  messages_.push_back(line);
  return flags == kMbYesNoQuestion ? kIdNo : kIdOk;
}

}  // namespace brevis::cli
