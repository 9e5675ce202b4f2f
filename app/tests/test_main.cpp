// Test start for the window's tests: one application object for every test, on Qt's off-screen
// platform unless another is asked for.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QTemporaryDir>

#include "app/application.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
  }
  // The window's settings go to a folder of the run's own, not to the user's.
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  brevis::gui::Application application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
