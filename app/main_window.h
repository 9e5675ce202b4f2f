// MainWindow: the one borderless window of the program, with the number entry, two progress
// bars and the clickable pictures. It only shows things and reports what the user does; what a
// click or a change of the number means is decided by the application core wired to it.
#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>

class QAction;
class QContextMenuEvent;
class QLineEdit;
class QMenu;
class QProgressBar;

namespace brevis::gui {

class BackgroundPicture;
class Picture;

class MainWindow final : public QWidget {
  Q_OBJECT

 public:
  // The pictures whose visibility the core switches: the two indicators and the two covers.
  enum class Indicator { imgValid, imgNotValid, imgDownload, imgGk };
  enum class Bar { prbDownload, prbCombine };

  static constexpr int kClientWidth = 440;
  static constexpr int kClientHeight = 295;

  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // --- what the core does to the window; every call belongs on the window's thread ---
  void ShowPicture(Indicator picture, bool visible);
  bool PictureVisible(Indicator picture) const;
  // The open-PDF picture's tooltip: the PDF it opens.
  void SetPdfPath(const QString& path);
  // The cross's tooltip; empty: none.
  void SetNotValidHint(const QString& hint);
  QString NotValidHint() const;
  void SetEntryEnabled(bool enabled);
  QString EntryText() const;
  void SetEntryText(const QString& text);
  void SetRange(Bar bar, int minimum, int maximum);
  void SetPosition(Bar bar, int position);
  int Position(Bar bar) const;
  // Paints the window at once, so that a busy state is seen before the thread blocks.
  void RepaintNow();
  // A modal box. `flags` holds the icon in 0xF0 (0x10 stop, 0x20 question, 0x30 warning, 0x40
  // information) and the buttons in 0x0F (0 OK, 4 Yes and No), as the core's kMb... flags do
  // (core/main_form_face.h). Returns kIdOk, kIdYes or kIdNo.
  int MessageBox(const QString& text, const QString& caption, int flags);
  // Hands a document path or web address to the desktop; when the desktop has nothing to open it
  // with, a message box names what was not opened.
  void ShellOpen(const QString& target);
  // Runs `call` on the window's thread; safe to call from any thread. The call is dropped when
  // the window is gone by then.
  void RunOnWindowThread(std::function<void()> call);

  // The checkable item 识别文字 of the window's right-click menu: whether downloads recognise the
  // pages' text. Setting it does not report a change.
  bool TextRecognition() const;
  void SetTextRecognition(bool on);
  // The right-click menu, for tests.
  QMenu* ContextMenu() const { return menu_; }

  // Replaces the desktop hand-over, so that tests can see what would be opened.
  void SetShellOpener(std::function<bool(const QUrl&)> opener);

 signals:
  void ApnChanged();
  void DownloadClicked();
  void GkClicked();
  void ExitClicked();
  void UpdateClicked();
  void WebsiteClicked();
  // The user switched 识别文字 on or off.
  void TextRecognitionToggled(bool on);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  Picture* Cover(Indicator picture) const;
  QProgressBar* ProgressBar(Bar bar) const;
  // The bar's tooltip: its position and maximum in pages.
  static void ShowCount(QProgressBar* bar);

  // Children in creation order: later pictures lie above earlier ones, and the entry field and
  // the progress bars above all pictures.
  BackgroundPicture* imgBg_;
  Picture* imgValid_;
  Picture* imgNotValid_;
  Picture* btnDownload_;
  Picture* btnGk_;
  Picture* imgGk_;
  Picture* imgDownload_;
  Picture* btnExit_;
  Picture* btnUpdate_;
  Picture* btnWebsite_;
  Picture* btnDes_;
  QLineEdit* edtApn_;
  QProgressBar* prbDownload_;
  QProgressBar* prbCombine_;
  QMenu* menu_;
  QAction* ocrAction_;

  std::function<bool(const QUrl&)> shellOpener_;
};

}  // namespace brevis::gui
