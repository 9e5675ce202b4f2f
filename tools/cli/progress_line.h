// ProgressLine: how "fetch" shows one number's download and combination, as two bars redrawn on
// one terminal line, or as a few plain lines when the output is not a terminal.
#pragma once

#include <cstdio>
#include <string>

#include "core/main_form_face.h"

namespace brevis::cli {

class ProgressLine {
 public:
  // `label` starts every line (the number); `terminal` chooses bars over plain lines; with `text`
  // the combination also recognises each page's text, and its bar and line say so.
  ProgressLine(std::FILE* out, std::string label, bool terminal, bool text = false);

  // The download keeps `kept` pages already in place and fetches the others; told before the
  // bars get their ranges.
  void SetKept(int kept) { kept_ = kept; }
  // A bar was set to `position` of `maximum`; bars without a maximum yet are not shown.
  void Update(FaceProgressBar bar, int position, int maximum);
  // Ends the bars' line, if one was drawn.
  void Finish();

 private:
  void Draw();

  std::FILE* out_;
  std::string label_;
  bool terminal_;
  bool text_;
  bool drawn_ = false;
  int kept_ = 0;
  int position_[2] = {0, 0};  // by FaceProgressBar
  int maximum_[2] = {0, 0};
};

}  // namespace brevis::cli
