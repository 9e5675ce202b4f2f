// MainWindow: builds the window's controls at their places and carries out the core's requests.
#include "app/main_window.h"

#include <QAction>
#include <QBitmap>
#include <QColor>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFocusEvent>
#include <QFont>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>
#include <QStringList>
#include <algorithm>
#include <utility>

#include "app/background_picture.h"
#include "core/main_form_face.h"
#include "app/picture.h"

namespace brevis::gui {
namespace {

// Pixels of this colour in the background picture lie outside the panel and are cut away.
constexpr QColor kTransparentColour{235, 233, 237};

const QString kCaption = QStringLiteral("Tesvaro中国专利下载工具");
const QString kPresetApn = QStringLiteral("CN200710038426");

QStringList FaceFamilies() { return {QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")}; }

// The number entry: the text is left unselected when the field gains the focus.
class EntryField final : public QLineEdit {
 public:
  // The design's size of the number's font, and the smallest it is shrunk to.
  static constexpr int kFontPixels = 16;
  static constexpr int kSmallestFontPixels = 10;

  explicit EntryField(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::textChanged, this, &EntryField::FitText);
  }

  // A long number ("ZL200710038426.6") gets a smaller font, so that it is seen whole in the
  // field's place and size as the design has them.
  void FitText() {
    QFont fitted = font();
    // QLineEdit keeps 2 pixels free at either side, and the cursor takes one more.
    const int room = contentsRect().width() - 5;
    int pixels = kFontPixels;
    for (; pixels > kSmallestFontPixels; --pixels) {
      fitted.setPixelSize(pixels);
      if (QFontMetrics(fitted).horizontalAdvance(text()) <= room) break;
    }
    fitted.setPixelSize(pixels);
    if (fitted != font()) setFont(fitted);
  }

 protected:
  void focusInEvent(QFocusEvent* event) override {
    QLineEdit::focusInEvent(event);
    deselect();
  }
};

Picture* MakePicture(const char* name, const char* resource, bool clickable, QWidget* parent,
                     int left, int top) {
  auto* picture =
      new Picture(QStringLiteral(":/brevisfetch/") + QLatin1String(resource), clickable, parent);
  picture->setObjectName(QLatin1String(name));
  picture->move(left, top);
  return picture;
}

QProgressBar* MakeBar(const char* name, const char* colour, QWidget* parent, int top) {
  auto* bar = new QProgressBar(parent);
  bar->setObjectName(QLatin1String(name));
  bar->setGeometry(140, top, 165, 6);
  bar->setTextVisible(false);
  bar->setRange(0, 100);
  bar->setValue(0);
  // No chunk width or margin in the style: the bar grows smoothly.
  bar->setStyleSheet(QStringLiteral("QProgressBar { border: none; background: white; }"
                                    "QProgressBar::chunk { background: %1; }")
                         .arg(QLatin1String(colour)));
  return bar;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      shellOpener_([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(kCaption);
  QFont face;
  face.setFamilies(FaceFamilies());
  face.setPixelSize(11);
  setFont(face);
  setFixedSize(kClientWidth, kClientHeight);

  imgBg_ = new BackgroundPicture(QStringLiteral(":/brevisfetch/background.png"), this);
  imgBg_->setObjectName(QStringLiteral("imgBg"));
  imgValid_ = MakePicture("imgValid", "valid.png", false, this, 313, 74);
  imgNotValid_ = MakePicture("imgNotValid", "not_valid.png", false, this, 313, 74);
  imgNotValid_->hide();  // the tick shows until a number has been recognised
  btnDownload_ = MakePicture("btnDownload", "download.png", true, this, 343, 75);
  btnGk_ = MakePicture("btnGk", "gk.png", true, this, 138, 158);
  imgGk_ = MakePicture("imgGk", "gk_grey.png", false, this, 138, 158);
  imgDownload_ = MakePicture("imgDownload", "download_grey.png", false, this, 343, 75);
  btnExit_ = MakePicture("btnExit", "exit.png", true, this, 379, 19);
  btnUpdate_ = MakePicture("btnUpdate", "update.png", true, this, 266, 41);
  btnWebsite_ = MakePicture("btnWebsite", "website.png", true, this, 278, 264);
  btnDes_ = MakePicture("btnDes", "description.png", true, this, 16, 224);

  edtApn_ = new EntryField(this);
  edtApn_->setObjectName(QStringLiteral("edtApn"));
  edtApn_->setGeometry(141, 77, 165, 19);
  edtApn_->setFrame(false);
  QFont entryFont;
  entryFont.setFamilies(FaceFamilies());
  entryFont.setPixelSize(16);
  entryFont.setBold(true);
  edtApn_->setFont(entryFont);
  edtApn_->setStyleSheet(
      QStringLiteral("QLineEdit { border: none; padding: 0px; background: #808000; color: white;"
                     " selection-background-color: #c0c040; selection-color: black; }"
                     "QLineEdit:disabled { background: #6b6b22; color: #d8d8b0; }"));
  edtApn_->setText(kPresetApn);
  prbDownload_ = MakeBar("prbDownload", "#00ff00", this, 116);
  prbCombine_ = MakeBar("prbCombine", "#ff0000", this, 146);
  setTabOrder(edtApn_, prbDownload_);
  setTabOrder(prbDownload_, prbCombine_);
  edtApn_->setFocus();

  // The surround of the panel is not part of the window.
  setMask(imgBg_->pixmap().createMaskFromColor(kTransparentColour, Qt::MaskInColor));

  if (const QScreen* screen = this->screen(); screen != nullptr) {
    move(screen->availableGeometry().center() - rect().center());
  }

  connect(edtApn_, &QLineEdit::textChanged, this, &MainWindow::ApnChanged);
  // Enter in the entry does what a click on the download button does.
  connect(edtApn_, &QLineEdit::returnPressed, this, &MainWindow::DownloadClicked);
  connect(btnDownload_, &Picture::Clicked, this, &MainWindow::DownloadClicked);
  connect(btnGk_, &Picture::Clicked, this, &MainWindow::GkClicked);
  connect(btnExit_, &Picture::Clicked, this, &MainWindow::ExitClicked);
  connect(btnUpdate_, &Picture::Clicked, this, &MainWindow::UpdateClicked);
  connect(btnWebsite_, &Picture::Clicked, this, &MainWindow::WebsiteClicked);
  connect(btnDes_, &Picture::Clicked, this, &MainWindow::WebsiteClicked);

  // The window's few settings live in a right-click menu, so that its look stays as it is.
  menu_ = new QMenu(this);
  ocrAction_ = menu_->addAction(QStringLiteral("识别文字"));
  ocrAction_->setObjectName(QStringLiteral("actOcr"));
  ocrAction_->setCheckable(true);
  ocrAction_->setToolTip(QStringLiteral("识别页面上的文字，使PDF可以搜索和复制文字"));
  connect(ocrAction_, &QAction::triggered, this, &MainWindow::TextRecognitionToggled);
}

MainWindow::~MainWindow() = default;

Picture* MainWindow::Cover(Indicator picture) const {
  switch (picture) {
    case Indicator::imgValid:
      return imgValid_;
    case Indicator::imgNotValid:
      return imgNotValid_;
    case Indicator::imgDownload:
      return imgDownload_;
    case Indicator::imgGk:
      return imgGk_;
  }
  return nullptr;
}

QProgressBar* MainWindow::ProgressBar(Bar bar) const {
  return bar == Bar::prbDownload ? prbDownload_ : prbCombine_;
}

void MainWindow::ShowPicture(Indicator picture, bool visible) {
  Cover(picture)->setVisible(visible);
}

bool MainWindow::PictureVisible(Indicator picture) const {
  // Asked of the widget's own flag, so that the answer holds before the window is first shown.
  return !Cover(picture)->isHidden();
}

void MainWindow::SetPdfPath(const QString& path) {
  btnGk_->setToolTip(path);
  imgGk_->setToolTip(path);
}

void MainWindow::SetNotValidHint(const QString& hint) { imgNotValid_->setToolTip(hint); }

QString MainWindow::NotValidHint() const { return imgNotValid_->toolTip(); }

void MainWindow::SetEntryEnabled(bool enabled) { edtApn_->setEnabled(enabled); }

QString MainWindow::EntryText() const { return edtApn_->text(); }

void MainWindow::SetEntryText(const QString& text) { edtApn_->setText(text); }

void MainWindow::SetRange(Bar bar, int minimum, int maximum) {
  QProgressBar* target = ProgressBar(bar);
  target->setRange(minimum, maximum);
  ShowCount(target);
}

void MainWindow::SetPosition(Bar bar, int position) {
  QProgressBar* target = ProgressBar(bar);
  target->setValue(position);
  ShowCount(target);
  target->repaint();
}

void MainWindow::ShowCount(QProgressBar* bar) {
  // The bars are too thin for text; their tooltips give the page counts.
  bar->setToolTip(bar->maximum() > 0 ? QStringLiteral("%1/%2 页")
                                           .arg(std::max(bar->value(), bar->minimum()))
                                           .arg(bar->maximum())
                                     : QString());
}

int MainWindow::Position(Bar bar) const { return ProgressBar(bar)->value(); }

void MainWindow::RepaintNow() { repaint(); }

int MainWindow::MessageBox(const QString& text, const QString& caption, int flags) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (flags & 0xF0) {
    case 0x10:
      icon = QMessageBox::Critical;
      break;
    case 0x20:
      icon = QMessageBox::Question;
      break;
    case 0x30:
      icon = QMessageBox::Warning;
      break;
    case 0x40:
      icon = QMessageBox::Information;
      break;
    default:
      break;
  }
  const bool yesNo = (flags & 0x0F) == 4;
  // The core's texts break lines with a bare carriage return; a label breaks on line feeds.
  QMessageBox box(icon, caption, QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n')),
                  yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  const int answer = box.exec();
  if (answer == QMessageBox::Yes) return brevis::kIdYes;
  if (answer == QMessageBox::No) return brevis::kIdNo;
  return brevis::kIdOk;
}

void MainWindow::ShellOpen(const QString& target) {
  const QUrl url =
      QDir::isAbsolutePath(target) ? QUrl::fromLocalFile(target) : QUrl::fromUserInput(target);
  // Without a program for it (no PDF viewer installed, say) the user learns what was not opened.
  if (!shellOpener_(url)) {
    MessageBox(QStringLiteral("无法打开：\r\r") + target +
                   QStringLiteral("\r\r请检查是否安装了能打开它的程序。"),
               QStringLiteral("BREVISFETCH"), brevis::kMbInformation);
  }
}

void MainWindow::RunOnWindowThread(std::function<void()> call) {
  // Posted to the window, so it runs on the window's thread and never once the window is gone.
  QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void MainWindow::SetShellOpener(std::function<bool(const QUrl&)> opener) {
  shellOpener_ = std::move(opener);
}

bool MainWindow::TextRecognition() const { return ocrAction_->isChecked(); }

void MainWindow::SetTextRecognition(bool on) { ocrAction_->setChecked(on); }

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
  event->accept();
  menu_->popup(event->globalPos());
}

}  // namespace brevis::gui
