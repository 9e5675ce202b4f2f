// Tests of the window joined to the application core: recognition through the entry field, the
// update question, and a whole download served by brevisfetch-mirror on loopback.
#include "app/form_wiring.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <memory>

#include "app/main_window.h"

namespace brevis::gui {
namespace {

using Indicator = MainWindow::Indicator;

// Answers every message box that comes up, and keeps what it showed.
class BoxWatcher {
 public:
  struct Seen {
    QString caption;
    QString text;
    QMessageBox::Icon icon;
  };

  explicit BoxWatcher(QMessageBox::StandardButton answer) : answer_(answer) {
    timer_.callOnTimeout([this] { Poll(); });
    timer_.start(10);
  }

  QList<Seen> seen;

 private:
  void Poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    seen << Seen{box->windowTitle(), box->text(), box->icon()};
    QAbstractButton* button = box->button(answer_);
    if (button == nullptr) button = box->buttons().value(0);
    button->click();
  }

  QMessageBox::StandardButton answer_;
  QTimer timer_;
};

// A loopback port that nothing listens on: bound once to learn a free number, then closed.
int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// brevisfetch-mirror serving its sample data on a free loopback port.
class SampleMirror {
 public:
  SampleMirror(const QString& dataDir, const QStringList& extra) {
    QProcess make;
    make.start(QStringLiteral(BREVISFETCH_MIRROR), {QStringLiteral("--make-sample"), dataDir});
    if (!make.waitForFinished(120000) || make.exitCode() != 0) return;
    server_.start(
        QStringLiteral(BREVISFETCH_MIRROR),
        QStringList{QStringLiteral("--data"), dataDir, QStringLiteral("--bind"),
                    QStringLiteral("127.0.0.1"), QStringLiteral("--port"), QStringLiteral("0")} +
            extra);
    static const QRegularExpression kServing(QStringLiteral("on (http://127\\.0\\.0\\.1:\\d+)/"));
    QString output;
    while (address_.isEmpty() && server_.waitForReadyRead(30000)) {
      output += QString::fromUtf8(server_.readAllStandardOutput());
      address_ = kServing.match(output).captured(1);
    }
  }
  ~SampleMirror() {
    server_.terminate();
    if (!server_.waitForFinished(10000)) server_.kill();
  }

  // "http://127.0.0.1:PORT", empty when the server did not come up.
  const QString& Address() const { return address_; }

 private:
  QProcess server_;
  QString address_;
};

class FormWiringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.isValid());
    for (const char* name : kVariables) saved_ << qgetenv(name);
    UseServer(QStringLiteral("http://127.0.0.1:%1").arg(ClosedPort()));
    form_.SetShellOpener([this](const QUrl& url) {
      opened_ << url;
      return true;
    });
  }
  void TearDown() override {
    wiring_.reset();
    for (int i = 0; i < 2; ++i) {
      if (saved_[i].isNull()) {
        qunsetenv(kVariables[i]);
      } else {
        qputenv(kVariables[i], saved_[i]);
      }
    }
  }

  void UseServer(const QString& address) {
    qputenv("BREVISFETCH_SERVER", address.toUtf8());
    qputenv("BREVISFETCH_PATENT_OFFICE", address.toUtf8());
  }
  // The start of the program: wiring, start-up, window shown.
  void Start() {
    wiring_ = std::make_unique<FormWiring>(form_, RootDir());
    wiring_->Start();
    form_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
  }
  QString RootDir() const { return temp_.path() + QStringLiteral("/repo"); }
  QLineEdit* Entry() const { return form_.findChild<QLineEdit*>(QStringLiteral("edtApn")); }
  void ClickOn(const char* name) {
    const QWidget* child = form_.findChild<QWidget*>(QLatin1String(name));
    QTest::mouseClick(form_.windowHandle(), Qt::LeftButton, {}, child->geometry().center());
  }

  static constexpr const char* kVariables[2] = {"BREVISFETCH_SERVER", "BREVISFETCH_PATENT_OFFICE"};

  QTemporaryDir temp_;
  QList<QByteArray> saved_;
  QList<QUrl> opened_;
  MainWindow form_;
  std::unique_ptr<FormWiring> wiring_;
};

TEST_F(FormWiringTest, TypingNumbersTogglesTheTickTheCrossAndTheCovers) {
  BoxWatcher boxes(QMessageBox::Ok);
  Start();
  ASSERT_TRUE(boxes.seen.isEmpty()) << "an unreachable update server shows nothing";
  EXPECT_TRUE(form_.PictureVisible(Indicator::imgValid));
  EXPECT_FALSE(form_.PictureVisible(Indicator::imgNotValid));
  EXPECT_FALSE(form_.PictureVisible(Indicator::imgDownload));
  EXPECT_TRUE(form_.PictureVisible(Indicator::imgGk));
  EXPECT_TRUE(QDir(RootDir()).exists());

  struct Case {
    const char* typed;
    bool valid;
    const char* hint = "";  // the right check character the cross's tooltip names
  };
  const Case kCases[] = {
      {"CN200710038426", true},      {"zl200720012345.4", true},
      {" 98123456 ", true},          {"98923456", true},
      {"200730012345", false},       {"CN 200710038426", true},
      {"2007100384261", false, "6"}, {"981234567", false, "9"},
      {"98123456.12", false},        {"", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.typed);
    // Even a change that keeps the number valid covers the open-PDF picture again.
    form_.ShowPicture(Indicator::imgGk, false);
    Entry()->clear();
    QTest::keyClicks(Entry(), QString::fromUtf8(c.typed));
    EXPECT_EQ(form_.PictureVisible(Indicator::imgValid), c.valid);
    EXPECT_EQ(form_.PictureVisible(Indicator::imgNotValid), !c.valid);
    EXPECT_EQ(form_.PictureVisible(Indicator::imgDownload), !c.valid);
    EXPECT_EQ(form_.NotValidHint().isEmpty(), *c.hint == '\0');
    EXPECT_TRUE(form_.NotValidHint().contains(QString::fromUtf8(c.hint)))
        << form_.NotValidHint().toStdString();
    EXPECT_TRUE(form_.PictureVisible(Indicator::imgGk));
  }
}

TEST_F(FormWiringTest, TextRecognitionIsKeptBetweenRuns) {
  Start();
  EXPECT_FALSE(form_.TextRecognition());
  form_.ContextMenu()->actions()[0]->trigger();
  // The program started again finds the item as it was left.
  wiring_.reset();
  MainWindow again;
  FormWiring wiring(again, RootDir());
  EXPECT_TRUE(again.TextRecognition());
  again.ContextMenu()->actions()[0]->trigger();
  MainWindow third;
  FormWiring third_wiring(third, RootDir());
  EXPECT_FALSE(third.TextRecognition());
}

TEST_F(FormWiringTest, ClicksOnCoversDoNothingAndTheWebPagesOpen) {
  Start();
  ClickOn("btnGk");  // covered: no download has made a PDF yet
  EXPECT_TRUE(opened_.isEmpty());
  ClickOn("btnUpdate");
  ClickOn("btnDes");
  const QString server = qEnvironmentVariable("BREVISFETCH_SERVER");
  ASSERT_EQ(opened_.size(), 2);
  EXPECT_EQ(opened_[0], QUrl(server + QStringLiteral("/brevisfetch.html")));
  EXPECT_EQ(opened_[1], QUrl(server + QStringLiteral("/")));
}

TEST_F(FormWiringTest, TheConfigurationFileGivesTheServerAndTheFirstTextRecognition) {
  const QString server = QStringLiteral("http://127.0.0.1:%1").arg(ClosedPort());
  const QString folder = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/brevisfetch");
  ASSERT_TRUE(QDir().mkpath(folder));
  QFile file(folder + QStringLiteral("/brevisfetch.conf"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QStringLiteral("server = %1/\nocr = true\n").arg(server).toUtf8());
  file.close();
  // The folder is the whole run's: the next test must not find the file.
  const auto remove = qScopeGuard([&file] { file.remove(); });
  // No choice of the menu's is remembered yet, and no variable names the server.
  QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("brevisfetch"),
            QStringLiteral("window"))
      .remove(QStringLiteral("ocr"));
  qunsetenv("BREVISFETCH_SERVER");

  Start();
  ClickOn("btnDes");
  ASSERT_EQ(opened_.size(), 1);
  EXPECT_EQ(opened_[0], QUrl(server + QStringLiteral("/")));
  EXPECT_TRUE(form_.TextRecognition());
  // Once the menu has set the item, its remembered state wins over the file.
  form_.ContextMenu()->actions()[0]->trigger();
  wiring_.reset();
  MainWindow again;
  FormWiring wiring(again, RootDir());
  EXPECT_FALSE(again.TextRecognition());
}

class MirrorTest : public FormWiringTest {
 protected:
  void SetUp() override {
    if (!QFile::exists(QStringLiteral(BREVISFETCH_MIRROR))) {
      GTEST_SKIP() << "brevisfetch-mirror is not built";
    }
    FormWiringTest::SetUp();
  }
  std::unique_ptr<SampleMirror> StartMirror(const QStringList& extra) {
    auto mirror = std::make_unique<SampleMirror>(temp_.path() + QStringLiteral("/data"), extra);
    EXPECT_FALSE(mirror->Address().isEmpty()) << "brevisfetch-mirror did not start";
    UseServer(mirror->Address());
    return mirror;
  }
};

TEST_F(MirrorTest, TheUpdateQuestionOffersTheMirrorsUpdatePage) {
  const auto mirror = StartMirror(
      {QStringLiteral("--update-url"), QStringLiteral("http://127.0.0.1:9/brevisfetch-new.html")});
  BoxWatcher boxes(QMessageBox::Yes);
  Start();
  ASSERT_EQ(boxes.seen.size(), 1);
  EXPECT_EQ(boxes.seen[0].caption, QStringLiteral("更新通知"));
  // The window breaks the core's lines on line feeds.
  EXPECT_EQ(boxes.seen[0].text, QStringLiteral("检查到软件有新的更新，需要访问更新网站吗？\n\n"
                                               "http://127.0.0.1:9/brevisfetch-new.html"));
  EXPECT_EQ(boxes.seen[0].icon, QMessageBox::Question);
  ASSERT_EQ(opened_.size(), 1);
  EXPECT_EQ(opened_[0], QUrl(QStringLiteral("http://127.0.0.1:9/brevisfetch-new.html")));
}

TEST_F(MirrorTest, ADownloadFillsBothBarsAndUncoversTheOpenPdfPicture) {
  const auto mirror = StartMirror({});
  BoxWatcher boxes(QMessageBox::Ok);
  Start();
  ASSERT_FALSE(form_.PictureVisible(Indicator::imgDownload));
  ClickOn("btnDownload");
  // Idle again: the entry field is enabled once the download has ended.
  ASSERT_TRUE(QTest::qWaitFor([this] { return Entry()->isEnabled(); }, 120000));
  for (const BoxWatcher::Seen& box : boxes.seen) ADD_FAILURE() << box.text.toStdString();
  EXPECT_EQ(form_.Position(MainWindow::Bar::prbDownload), 12);
  EXPECT_EQ(form_.Position(MainWindow::Bar::prbCombine), 12);
  EXPECT_FALSE(form_.PictureVisible(Indicator::imgDownload));
  EXPECT_FALSE(form_.PictureVisible(Indicator::imgGk));
  const QString pdf = RootDir() + QStringLiteral("/CN200710038426/CN200710038426_gk.pdf");
  EXPECT_TRUE(QFile::exists(pdf));
  ClickOn("btnGk");
  ASSERT_EQ(opened_.size(), 1);
  EXPECT_EQ(QDir::cleanPath(opened_[0].toLocalFile()), pdf);
}

}  // namespace
}  // namespace brevis::gui
