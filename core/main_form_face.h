// MainFormFace: what the window's core needs of its face (the Qt window, the command line or a
// test's recorder). The core calls it only on the window's thread, except RunOnWindowThread.
#pragma once

#include <functional>
#include <string>

namespace brevis {

// Pictures whose visibility the core changes. imgDownload and imgGk are the greyed covers that
// lie over the download and the open-PDF buttons: shown, they make the button unavailable.
enum FacePicture { imgValid, imgNotValid, imgDownload, imgGk };
enum FaceProgressBar { prbDownload, prbCombine };
// Window state for the shell's "open".
enum ShowState { swNormal, swMaximized };

// Message box flags: the icon in 0xF0 (0x10 stop, 0x20 question, 0x40 information) and the
// buttons in 0x0F (0 OK, 4 Yes and No); and the answers, the button pressed.
inline constexpr int kMbError = 16;          // OK, stop icon: the application's error report
inline constexpr int kMbInformation = 64;    // OK, information icon
inline constexpr int kMbYesNoQuestion = 36;  // Yes and No, question icon
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

class MainFormFace {
 public:
  virtual ~MainFormFace() = default;

  virtual void SetPictureVisible(FacePicture picture, bool visible) = 0;
  // The PDF the open-PDF picture opens, for its hint (tooltip).
  virtual void SetPdfPath(const std::u16string& path) { (void)path; }
  // The hint (tooltip) of the cross that marks a number not valid; empty: none.
  virtual void SetNotValidHint(const std::u16string& hint) { (void)hint; }
  // The number entry field.
  virtual void SetEntryEnabled(bool enabled) = 0;
  // A resumed download keeps `kept` pages already in the folder and fetches only the others; told
  // before the bars get their ranges.
  virtual void SetPagesKept(int kept) { (void)kept; }
  // Minimum 0, maximum `maximum`, position 0; the bar is redrawn.
  virtual void SetProgressRange(FaceProgressBar bar, int maximum) = 0;
  // The bar is redrawn at once.
  virtual void SetProgressPosition(FaceProgressBar bar, int position) = 0;
  // Repaints the whole window now, before the window's thread blocks.
  virtual void Repaint() = 0;
  // A modal message box; returns the button pressed (kIdYes for Yes).
  virtual int MessageBox(const std::u16string& text, const std::u16string& caption, int flags) = 0;
  // Asks the shell to open a document or web address with the verb "open"; the result is not
  // examined.
  virtual void ShellOpen(const std::u16string& target, ShowState state) = 0;
  // Runs `call` later on the window's thread, in the order of the requests. Callable from any
  // thread; never blocks on the window's thread.
  virtual void RunOnWindowThread(std::function<void()> call) = 0;
};

}  // namespace brevis
