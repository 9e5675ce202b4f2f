// ConsoleFace: the window's face on a terminal. Message boxes are kept for the command to
// report, questions are answered No, progress goes to a ProgressLine, and calls for the window's
// thread wait in a queue that the command runs.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/call_queue.h"
#include "core/main_form_face.h"
#include "tools/cli/progress_line.h"

namespace brevis {
class MainForm;
}

namespace brevis::cli {

// Why the number `typed` that `form` has just recognised is not valid: "'<typed>' is not a valid
// Chinese patent application number.", and for a wrong check character a second line that names
// the right one. No final line break.
std::string NotValidText(const MainForm& form, const std::string& typed);

class ConsoleFace final : public MainFormFace {
 public:
  // A terminal shows no pictures; the command learns a download's end from its outcome.
  void SetPictureVisible(FacePicture, bool) override {}
  void SetEntryEnabled(bool) override {}
  void SetPagesKept(int kept) override;
  void SetProgressRange(FaceProgressBar bar, int maximum) override;
  void SetProgressPosition(FaceProgressBar bar, int position) override;
  void Repaint() override {}
  // Keeps the text; answers No to a question, OK otherwise.
  int MessageBox(const std::u16string& text, const std::u16string& caption, int flags) override;
  // A terminal opens nothing.
  void ShellOpen(const std::u16string&, ShowState) override {}
  void RunOnWindowThread(std::function<void()> call) override { window.Post(std::move(call)); }

  // Texts of the message boxes shown so far, in UTF-8 with line breaks as "\n".
  const std::vector<std::string>& Messages() const { return messages_; }
  // Where progress is shown from now on (none: null). Also forgets the bars' maximums, so that
  // the line hears only of bars set up after it.
  void SetProgressLine(ProgressLine* line) {
    line_ = line;
    maximum_[prbDownload] = maximum_[prbCombine] = 0;
  }

  CallQueue window;

 private:
  std::vector<std::string> messages_;
  int maximum_[2] = {0, 0};  // by FaceProgressBar
  ProgressLine* line_ = nullptr;
};

}  // namespace brevis::cli
