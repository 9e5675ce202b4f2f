// FormWiring: the window's clicks and changes drive the application core, and the core shows
// what it decides through the window.
#include "app/form_wiring.h"

#include <QApplication>
#include <QObject>
#include <QSettings>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "app/application.h"
#include "core/main_form.h"
#include "core/main_form_face.h"
#include "core/pdf_combiner.h"
#include "app/main_window.h"

namespace brevis::gui {
namespace {

QString ToQString(const std::u16string& text) { return QString::fromStdU16String(text); }

MainWindow::Indicator ToIndicator(brevis::FacePicture picture) {
  switch (picture) {
    case brevis::imgValid:
      return MainWindow::Indicator::imgValid;
    case brevis::imgNotValid:
      return MainWindow::Indicator::imgNotValid;
    case brevis::imgDownload:
      return MainWindow::Indicator::imgDownload;
    case brevis::imgGk:
      break;
  }
  return MainWindow::Indicator::imgGk;
}

MainWindow::Bar ToBar(brevis::FaceProgressBar bar) {
  return bar == brevis::prbDownload ? MainWindow::Bar::prbDownload : MainWindow::Bar::prbCombine;
}

// The window as the core sees it.
class QtFace final : public MainFormFace {
 public:
  explicit QtFace(MainWindow& form) : form_(form) {}

  void SetPictureVisible(brevis::FacePicture picture, bool visible) override {
    form_.ShowPicture(ToIndicator(picture), visible);
  }
  void SetPdfPath(const std::u16string& path) override { form_.SetPdfPath(ToQString(path)); }
  void SetNotValidHint(const std::u16string& hint) override {
    form_.SetNotValidHint(ToQString(hint));
  }
  void SetEntryEnabled(bool enabled) override { form_.SetEntryEnabled(enabled); }
  void SetProgressRange(brevis::FaceProgressBar bar, int maximum) override {
    form_.SetRange(ToBar(bar), 0, maximum);
    form_.SetPosition(ToBar(bar), 0);
  }
  void SetProgressPosition(brevis::FaceProgressBar bar, int position) override {
    form_.SetPosition(ToBar(bar), position);
  }
  void Repaint() override { form_.RepaintNow(); }
  int MessageBox(const std::u16string& text, const std::u16string& caption, int flags) override {
    return form_.MessageBox(ToQString(text), ToQString(caption), flags);
  }
  // The desktop decides the size of what it opens.
  void ShellOpen(const std::u16string& target, ShowState /*state*/) override {
    form_.ShellOpen(ToQString(target));
  }
  void RunOnWindowThread(std::function<void()> call) override {
    form_.RunOnWindowThread([alive = alive_, call = std::move(call)] {
      if (*alive) Application::ReportErrors(call);
    });
  }

  // From now on, calls already handed over and those still to come are dropped. Window's
  // thread only, like every read of the flag.
  void Close() { *alive_ = false; }

 private:
  MainWindow& form_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The PDF writer behind the combination.
std::unique_ptr<Combiner> MakeCombiner() { return std::make_unique<PdfCombiner>(); }

// The window's own settings: $XDG_CONFIG_HOME/brevisfetch/window.ini.
QSettings WindowSettings() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("brevisfetch"),
                   QStringLiteral("window"));
}
constexpr char kOcrKey[] = "ocr";

MainFormSettings SettingsFor(const QString& rootDir, const Config& config) {
  MainFormSettings settings;
  ApplyConfig(config, settings);
  settings.RootDir = rootDir.toStdU16String();
  return settings;
}

}  // namespace

struct FormWiring::Core {
  Core(MainWindow& form, const QString& rootDir, const Config& config)
      : face(form), logic(face, MakeCombiner(), SettingsFor(rootDir, config)) {}

  // The face outlives the logic: the logic's destructor may still hand calls to it.
  QtFace face;
  brevis::MainForm logic;
  // Owns the connections, so that none outlives the logic.
  QObject context;
};

FormWiring::FormWiring(MainWindow& form, QString rootDir, const Config& config)
    : core_(std::make_unique<Core>(form, rootDir, config)) {
  // The core's preset is the one the window shows.
  form.SetEntryText(ToQString(std::u16string(brevis::MainForm::kPresetApn)));

  brevis::MainForm& logic = core_->logic;
  QObject* context = &core_->context;
  // Each handler reports its own errors, so that none is thrown through Qt.
  const auto handle = [&form, context](void (MainWindow::*signal)(),
                                       std::function<void()> handler) {
    QObject::connect(&form, signal, context,
                     [handler = std::move(handler)] { Application::ReportErrors(handler); });
  };
  handle(&MainWindow::ApnChanged,
         [&form, &logic] { logic.edtApnChange(form.EntryText().toStdU16String()); });
  handle(&MainWindow::DownloadClicked, [&logic] { logic.btnDownloadClick(); });
  handle(&MainWindow::GkClicked, [&logic] { logic.btnGkClick(); });
  handle(&MainWindow::UpdateClicked, [&logic] { logic.btnUpdateClick(); });
  handle(&MainWindow::WebsiteClicked, [&logic] { logic.btnWebsiteClick(); });
  // 识别文字 is kept between runs in the window's own settings file; until it is first set
  // there, brevisfetch.conf's ocr gives its state. A choice made in the menu is the user's
  // latest word, and the file is not read again to undo it.
  const bool ocr = WindowSettings().value(kOcrKey, config.Ocr).toBool();
  form.SetTextRecognition(ocr);
  logic.SetTextRecognition(ocr);
  QObject::connect(&form, &MainWindow::TextRecognitionToggled, context, [&logic](bool on) {
    logic.SetTextRecognition(on);
    WindowSettings().setValue(kOcrKey, on);
  });
  // Exit only ends the event loop; a running download is stopped when the core goes.
  QObject::connect(&form, &MainWindow::ExitClicked, qApp, &QApplication::quit,
                   Qt::QueuedConnection);
}

FormWiring::~FormWiring() { core_->face.Close(); }

void FormWiring::Start() { core_->logic.FormCreate(); }

}  // namespace brevis::gui
