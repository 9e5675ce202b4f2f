// Tests for MainWindow on the off-screen platform: layout and stacking, covers that swallow
// clicks, dragging, the look of the entry and the bars, message boxes and cross-thread calls.
#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QBitmap>
#include <QContextMenuEvent>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegion>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <functional>
#include <stdexcept>
#include <thread>

#include "app/application.h"
#include "core/main_form_face.h"

namespace brevis::gui {
namespace {

using Indicator = MainWindow::Indicator;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
  }

  QWidget* Child(const char* name) const {
    auto* child = form_.findChild<QWidget*>(QLatin1String(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  QPoint CentreOf(const char* name) const { return Child(name)->geometry().center(); }
  void Click(QPoint at) { QTest::mouseClick(form_.windowHandle(), Qt::LeftButton, {}, at); }
  QRgb PixelAt(QPoint at) { return form_.grab().toImage().pixel(at); }

  // Answers the next modal box with `button` after handing it to `inspect`.
  static void AnswerNextBox(std::function<void(QMessageBox&)> inspect,
                            QMessageBox::StandardButton button) {
    QTimer::singleShot(0, [inspect = std::move(inspect), button] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      inspect(*box);
      box->button(button)->click();
    });
  }

  MainWindow form_;
};

// --- Window and layout ---------------------------------------------------------------------

TEST_F(MainWindowTest, WindowIsBorderlessCentredAndCutToThePanel) {
  EXPECT_EQ(form_.size(), QSize(440, 295));
  EXPECT_TRUE(form_.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(form_.windowTitle(), QStringLiteral("Tesvaro中国专利下载工具"));
  EXPECT_EQ(QApplication::applicationDisplayName(), QStringLiteral("BREVISFETCH"));
  EXPECT_FALSE(form_.windowIcon().isNull());
  const QRect screen = form_.screen()->availableGeometry();
  EXPECT_LE((form_.geometry().center() - screen.center()).manhattanLength(), 2);
  // The light-grey surround is outside the window; the panel inside it.
  const QRegion mask = form_.mask();
  EXPECT_FALSE(mask.contains(QPoint(0, 0)));
  EXPECT_FALSE(mask.contains(QPoint(439, 294)));
  EXPECT_TRUE(mask.contains(QPoint(220, 147)));
  EXPECT_TRUE(mask.contains(QPoint(20, 3)));
}

TEST_F(MainWindowTest, CoversLieAboveTheirButtonsAndTheEntryIsOnTop) {
  // A point inside a cover belongs to the cover, a point of the entry field to the field.
  EXPECT_EQ(form_.childAt(CentreOf("btnGk")), Child("imgGk"));
  EXPECT_EQ(form_.childAt(CentreOf("btnDownload")), Child("imgDownload"));
  EXPECT_EQ(form_.childAt(CentreOf("edtApn")), Child("edtApn"));
}

TEST_F(MainWindowTest, OpensWithTheTickTheCoversAndThePresetNumber) {
  EXPECT_TRUE(form_.PictureVisible(Indicator::imgValid));
  EXPECT_FALSE(form_.PictureVisible(Indicator::imgNotValid));
  EXPECT_TRUE(form_.PictureVisible(Indicator::imgDownload));
  EXPECT_TRUE(form_.PictureVisible(Indicator::imgGk));
  EXPECT_EQ(form_.EntryText(), QStringLiteral("CN200710038426"));
  auto* entry = qobject_cast<QLineEdit*>(Child("edtApn"));
  EXPECT_FALSE(entry->hasFrame());
  EXPECT_FALSE(entry->hasSelectedText());
  EXPECT_TRUE(entry->font().bold());
  EXPECT_EQ(entry->font().pixelSize(), 16);
  EXPECT_EQ(entry->font().families().value(0), QStringLiteral("Tahoma"));
  EXPECT_EQ(entry->font().families().value(1), QStringLiteral("DejaVu Sans"));
}

// --- Look ----------------------------------------------------------------------------------

TEST_F(MainWindowTest, EntryIsOliveAndTheBarsAreLimeAndRedOnWhite) {
  form_.SetRange(MainWindow::Bar::prbDownload, 0, 10);
  form_.SetPosition(MainWindow::Bar::prbDownload, 5);
  form_.SetRange(MainWindow::Bar::prbCombine, 0, 4);
  form_.SetPosition(MainWindow::Bar::prbCombine, 2);
  const QImage shot = form_.grab().toImage();
  struct Case {
    const char* what;
    QPoint at;
    QRgb colour;
  };
  const Case kCases[] = {
      {"entry background", {141 + 163, 77 + 1}, qRgb(128, 128, 0)},
      {"download bar, done part", {141, 118}, qRgb(0, 255, 0)},
      {"download bar, rest", {302, 118}, qRgb(255, 255, 255)},
      {"combine bar, done part", {141, 148}, qRgb(255, 0, 0)},
      {"combine bar, rest", {302, 148}, qRgb(255, 255, 255)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(shot.pixel(c.at) & 0xFFFFFF, c.colour & 0xFFFFFF);
  }
  EXPECT_EQ(form_.Position(MainWindow::Bar::prbDownload), 5);
}

// --- Clicks --------------------------------------------------------------------------------

TEST_F(MainWindowTest, EveryClickablePictureReportsItsClick) {
  struct Case {
    const char* name;
    void (MainWindow::*signal)();
  };
  const Case kCases[] = {
      {"btnExit", &MainWindow::ExitClicked},
      {"btnUpdate", &MainWindow::UpdateClicked},
      {"btnWebsite", &MainWindow::WebsiteClicked},
      {"btnDes", &MainWindow::WebsiteClicked},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    QSignalSpy spy(&form_, c.signal);
    EXPECT_EQ(Child(c.name)->cursor().shape(), Qt::PointingHandCursor);
    Click(CentreOf(c.name));
    EXPECT_EQ(spy.count(), 1);
  }
}

TEST_F(MainWindowTest, ACoveredButtonDoesNothingAndAnUncoveredOneClicks) {
  struct Case {
    const char* button;
    Indicator cover;
    void (MainWindow::*signal)();
  };
  const Case kCases[] = {
      {"btnDownload", Indicator::imgDownload, &MainWindow::DownloadClicked},
      {"btnGk", Indicator::imgGk, &MainWindow::GkClicked},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.button);
    QSignalSpy spy(&form_, c.signal);
    form_.ShowPicture(c.cover, true);
    Click(CentreOf(c.button));
    EXPECT_EQ(spy.count(), 0);
    form_.ShowPicture(c.cover, false);
    Click(CentreOf(c.button));
    EXPECT_EQ(spy.count(), 1);
    form_.ShowPicture(c.cover, true);
  }
}

TEST_F(MainWindowTest, AnyChangeOfTheEntryIsReported) {
  QSignalSpy spy(&form_, &MainWindow::ApnChanged);
  auto* entry = Child("edtApn");
  entry->setFocus();
  QTest::keyClick(entry, Qt::Key_End);
  QTest::keyClick(entry, Qt::Key_Backspace);
  QTest::keyClicks(entry, "6");
  EXPECT_EQ(form_.EntryText(), QStringLiteral("CN200710038426"));
  EXPECT_EQ(spy.count(), 2);
  form_.SetEntryEnabled(false);
  QTest::keyClicks(entry, "7");
  EXPECT_EQ(spy.count(), 2);
  EXPECT_FALSE(entry->isEnabled());
}

TEST_F(MainWindowTest, LongNumbersAreSeenWholeInTheEntry) {
  auto* entry = qobject_cast<QLineEdit*>(Child("edtApn"));
  const QRect place = entry->geometry();
  for (const char* number : {"CN200710038426", "CN200710038426X", "ZL200710038426.6"}) {
    SCOPED_TRACE(number);
    entry->setText(QString::fromUtf8(number));
    // QLineEdit keeps 2 pixels free at either side, and the cursor takes one more.
    EXPECT_LE(QFontMetrics(entry->font()).horizontalAdvance(entry->text()),
              entry->contentsRect().width() - 5);
    EXPECT_EQ(entry->geometry(), place);
  }
  // A short number keeps the design's size.
  entry->setText(QStringLiteral("98123456"));
  EXPECT_EQ(entry->font().pixelSize(), 16);
}

TEST_F(MainWindowTest, EnterInTheEntryAsksForTheDownloadAsTheButtonDoes) {
  QSignalSpy spy(&form_, &MainWindow::DownloadClicked);
  auto* entry = Child("edtApn");
  entry->setFocus();
  QTest::keyClick(entry, Qt::Key_Return);
  QTest::keyClick(entry, Qt::Key_Enter);
  EXPECT_EQ(spy.count(), 2);
}

TEST_F(MainWindowTest, TheBarsTellTheirPageCounts) {
  form_.SetRange(MainWindow::Bar::prbDownload, 0, 12);
  form_.SetPosition(MainWindow::Bar::prbDownload, 5);
  form_.SetRange(MainWindow::Bar::prbCombine, 0, 12);
  EXPECT_EQ(Child("prbDownload")->toolTip(), QStringLiteral("5/12 页"));
  EXPECT_EQ(Child("prbCombine")->toolTip(), QStringLiteral("0/12 页"));
}

TEST_F(MainWindowTest, TheRightClickMenuSwitchesTextRecognition) {
  QSignalSpy spy(&form_, &MainWindow::TextRecognitionToggled);
  // A right click anywhere on the panel opens the menu.
  QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(60, 250),
                          form_.mapToGlobal(QPoint(60, 250)));
  QApplication::sendEvent(Child("imgBg"), &click);
  QMenu* menu = form_.ContextMenu();
  ASSERT_TRUE(QTest::qWaitFor([menu] { return menu->isVisible(); }, 5000));
  ASSERT_EQ(menu->actions().size(), 1);
  QAction* item = menu->actions()[0];
  EXPECT_EQ(item->text(), QStringLiteral("识别文字"));
  EXPECT_TRUE(item->isCheckable());
  EXPECT_FALSE(form_.TextRecognition());
  item->trigger();
  EXPECT_TRUE(form_.TextRecognition());
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy[0][0].toBool(), true);
  menu->hide();
  // Set by the program, the item reports nothing.
  form_.SetTextRecognition(false);
  EXPECT_FALSE(item->isChecked());
  EXPECT_EQ(spy.count(), 1);
}

TEST_F(MainWindowTest, TheOpenPdfPictureShowsThePdfsPath) {
  form_.SetPdfPath(QStringLiteral("/tmp/repo/CN1/CN1_gk.pdf"));
  EXPECT_EQ(Child("btnGk")->toolTip(), QStringLiteral("/tmp/repo/CN1/CN1_gk.pdf"));
}

// --- Dragging ------------------------------------------------------------------------------

TEST_F(MainWindowTest, DraggingTheBackgroundMovesTheWindow) {
  QWindow* window = form_.windowHandle();
  const QPoint start = form_.pos();
  const QPoint grip(300, 240);  // bare panel
  ASSERT_EQ(form_.childAt(grip), Child("imgBg"));

  QTest::mouseMove(window, grip + QPoint(30, 20));
  EXPECT_EQ(form_.pos(), start) << "movement without a button must not move the window";

  QTest::mousePress(window, Qt::RightButton, {}, grip);
  QTest::mouseMove(window, grip + QPoint(30, 20));
  QTest::mouseRelease(window, Qt::RightButton, {}, grip + QPoint(30, 20));
  EXPECT_EQ(form_.pos(), start) << "only the left button drags";

  QTest::mousePress(window, Qt::LeftButton, {}, grip);
  QTest::mouseMove(window, grip + QPoint(30, 20));
  // The window has moved with the mouse, so the mouse is over the grip again.
  QTest::mouseRelease(window, Qt::LeftButton, {}, grip);
  EXPECT_EQ(form_.pos(), start + QPoint(30, 20));
}

TEST_F(MainWindowTest, TheEntryAndTheBarsDoNotDrag) {
  QWindow* window = form_.windowHandle();
  const QPoint start = form_.pos();
  for (const char* name : {"edtApn", "prbDownload", "prbCombine"}) {
    SCOPED_TRACE(name);
    const QPoint at = CentreOf(name);
    QTest::mousePress(window, Qt::LeftButton, {}, at);
    QTest::mouseMove(window, at + QPoint(25, 15));
    QTest::mouseRelease(window, Qt::LeftButton, {}, at + QPoint(25, 15));
    EXPECT_EQ(form_.pos(), start);
  }
}

// --- Message boxes, desktop and threads ----------------------------------------------------

TEST_F(MainWindowTest, MessageBoxesCarryTheirCaptionTextIconAndButtons) {
  struct Case {
    int flags;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton press;
    int answer;
  };
  const Case kCases[] = {
      {brevis::kMbInformation, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok,
       brevis::kIdOk},
      {brevis::kMbYesNoQuestion, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
       QMessageBox::Yes, brevis::kIdYes},
      {brevis::kMbYesNoQuestion, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
       QMessageBox::No, brevis::kIdNo},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.flags);
    AnswerNextBox(
        [&c](QMessageBox& box) {
          EXPECT_EQ(box.windowTitle(), QStringLiteral("下载问题"));
          EXPECT_EQ(box.text(), QStringLiteral("可能的原因是: \n\n网络问题"));
          EXPECT_EQ(box.icon(), c.icon);
          EXPECT_EQ(box.standardButtons(), c.buttons);
          // Qt's own buttons speak the window's language.
          for (QAbstractButton* button : box.buttons()) {
            const QMessageBox::StandardButton which = box.standardButton(button);
            EXPECT_EQ(button->text(), which == QMessageBox::Ok    ? QStringLiteral("确定")
                                      : which == QMessageBox::Yes ? QStringLiteral("是(&Y)")
                                                                  : QStringLiteral("否(&N)"));
          }
        },
        c.press);
    EXPECT_EQ(form_.MessageBox(QStringLiteral("可能的原因是: \r\r网络问题"),
                               QStringLiteral("下载问题"), c.flags),
              c.answer);
  }
}

// An object whose handler of user events throws, as a handler with an error it does not catch.
class ThrowingReceiver final : public QObject {
 protected:
  bool event(QEvent* event) override {
    if (event->type() == QEvent::User) throw std::runtime_error("Cannot create directory.");
    return QObject::event(event);
  }
};

TEST_F(MainWindowTest, AnErrorEscapingAHandlerIsReportedAndTheLoopGoesOn) {
  // The events go through the application's own event dispatch (Application::notify).
  ASSERT_NE(dynamic_cast<Application*>(QCoreApplication::instance()), nullptr);
  ThrowingReceiver receiver;
  struct Case {
    const char* name;
    std::function<void()> trigger;
  };
  // A click on a picture whose handler reports its own error; and an error escaping a handler
  // into the dispatch. The second is an event of our own rather than a click: an exception
  // unwinding through Qt's mouse handling skips Qt's own clean-up of the event.
  const Case kCases[] = {
      {"reported by the handler",
       [this] {
         const QMetaObject::Connection connection =
             QObject::connect(&form_, &MainWindow::UpdateClicked, [] {
               Application::ReportErrors(
                   [] { throw std::runtime_error("Cannot create directory."); });
             });
         Click(CentreOf("btnUpdate"));
         QObject::disconnect(connection);
       }},
      {"escaping into the event dispatch",
       [&receiver] {
         QEvent event(QEvent::User);
         QCoreApplication::sendEvent(&receiver, &event);
       }},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    int reports = 0;
    for (int i = 0; i < 2; ++i) {
      AnswerNextBox(
          [&reports](QMessageBox& box) {
            ++reports;
            EXPECT_EQ(box.windowTitle(), QStringLiteral("BREVISFETCH"));
            EXPECT_EQ(box.text(), QStringLiteral("Cannot create directory."));
            EXPECT_EQ(box.icon(), QMessageBox::Critical);
          },
          QMessageBox::Ok);
      c.trigger();
    }
    EXPECT_EQ(reports, 2);
  }
  // The window still answers clicks.
  QSignalSpy spy(&form_, &MainWindow::UpdateClicked);
  Click(CentreOf("btnUpdate"));
  EXPECT_EQ(spy.count(), 1);
}

TEST_F(MainWindowTest, ShellOpenHandsFilesAndAddressesToTheDesktop) {
  QList<QUrl> opened;
  form_.SetShellOpener([&opened](const QUrl& url) {
    opened << url;
    return true;
  });
  form_.ShellOpen(QStringLiteral("/tmp/repo/CN1/CN1_gk.pdf"));
  form_.ShellOpen(QStringLiteral("http://127.0.0.1:8080/brevisfetch.html"));
  ASSERT_EQ(opened.size(), 2);
  EXPECT_EQ(opened[0], QUrl::fromLocalFile(QStringLiteral("/tmp/repo/CN1/CN1_gk.pdf")));
  EXPECT_EQ(opened[1], QUrl(QStringLiteral("http://127.0.0.1:8080/brevisfetch.html")));

  // No program to open it with: the user is told which file was not opened.
  form_.SetShellOpener([](const QUrl&) { return false; });
  int boxes = 0;
  AnswerNextBox(
      [&boxes](QMessageBox& box) {
        ++boxes;
        EXPECT_NE(box.text().indexOf(QStringLiteral("/tmp/repo/CN1/CN1_gk.pdf")), -1);
        EXPECT_EQ(box.icon(), QMessageBox::Information);
      },
      QMessageBox::Ok);
  form_.ShellOpen(QStringLiteral("/tmp/repo/CN1/CN1_gk.pdf"));
  EXPECT_EQ(boxes, 1);
}

TEST_F(MainWindowTest, CallsFromAWorkerRunOnTheWindowsThread) {
  QThread* ranOn = nullptr;
  std::thread worker([this, &ranOn] {
    form_.RunOnWindowThread([this, &ranOn] {
      ranOn = QThread::currentThread();
      form_.SetPosition(MainWindow::Bar::prbDownload, 7);
    });
  });
  worker.join();
  EXPECT_EQ(ranOn, nullptr) << "the call must wait for the window's event loop";
  EXPECT_TRUE(QTest::qWaitFor([&ranOn] { return ranOn != nullptr; }, 5000));
  EXPECT_EQ(ranOn, form_.thread());
  EXPECT_EQ(form_.Position(MainWindow::Bar::prbDownload), 7);
}

}  // namespace
}  // namespace brevis::gui
