// ConsoleFace: the window's face on a terminal. Message boxes are kept for the command to
// report, questions are answered No, and calls for the window's thread wait in a queue that
// the command runs.
#pragma once

#include <string>
#include <vector>

#include "app/core/call_queue.h"
#include "app/core/main_form_face.h"

namespace brevis::cli {

class ConsoleFace final : public MainFormFace {
 public:
  void SetPictureVisible(Picture, bool) override {}
  void SetEntryEnabled(bool) override {}
  void SetProgressRange(ProgressBar, int) override {}
  void SetProgressPosition(ProgressBar, int) override {}
  void Repaint() override {}
  // Keeps the text; answers No to a question, OK otherwise.
  int MessageBox(const std::u16string& text, const std::u16string& caption, int flags) override;
  // A terminal opens nothing.
  void ShellOpen(const std::u16string&, ShowState) override {}
  void RunOnWindowThread(std::function<void()> call) override { window.Post(std::move(call)); }

  // Texts of the message boxes shown so far, in UTF-8 with line breaks as "\n".
  const std::vector<std::string>& Messages() const { return messages_; }

  CallQueue window;

 private:
  std::vector<std::string> messages_;
};

}  // namespace brevis::cli
