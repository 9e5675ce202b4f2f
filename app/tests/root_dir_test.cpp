// Tests for ChooseRootDir: the override, the folder beside the executable, and the fall-back.
#include "app/root_dir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace brevis::gui {
namespace {

class RootDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = qgetenv("BREVISFETCH_REPO");
    qunsetenv("BREVISFETCH_REPO");
    ASSERT_TRUE(temp_.isValid());
  }
  void TearDown() override {
    if (saved_.isNull()) {
      qunsetenv("BREVISFETCH_REPO");
    } else {
      qputenv("BREVISFETCH_REPO", saved_);
    }
  }

  QTemporaryDir temp_;
  QByteArray saved_;
};

TEST_F(RootDirTest, BesideTheExecutableIsCreatedAndThenReused) {
  const QString expected = temp_.path() + "/repo";
  EXPECT_EQ(ChooseRootDir(temp_.path()), expected);
  EXPECT_TRUE(QDir(expected).exists());
  QFile marker(expected + "/kept");
  ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
  marker.close();
  EXPECT_EQ(ChooseRootDir(temp_.path() + "/"), expected);
  EXPECT_TRUE(QFile::exists(expected + "/kept"));
}

TEST_F(RootDirTest, AFolderThatCannotBeMadeFallsBackToTheDataFolder) {
  // A plain file where the executable's folder would be: nothing can be created below it.
  QFile blocker(temp_.path() + "/bin");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  ASSERT_FALSE(data.isEmpty());
  EXPECT_EQ(ChooseRootDir(temp_.path() + "/bin"), QDir::cleanPath(data + "/repo"));
}

TEST_F(RootDirTest, TheFilesFolderComesBeforeBothAndAfterTheEnvironment) {
  EXPECT_EQ(ChooseRootDir(temp_.path(), temp_.path() + "/configured/"),
            temp_.path() + "/configured");
  EXPECT_FALSE(QDir(temp_.path() + "/repo").exists());
  qputenv("BREVISFETCH_REPO", (temp_.path() + "/elsewhere").toUtf8());
  EXPECT_EQ(ChooseRootDir(temp_.path(), temp_.path() + "/configured"), temp_.path() + "/elsewhere");
}

TEST_F(RootDirTest, TheEnvironmentOverridesBoth) {
  qputenv("BREVISFETCH_REPO", (temp_.path() + "/elsewhere/").toUtf8());
  EXPECT_EQ(ChooseRootDir(temp_.path()), temp_.path() + "/elsewhere");
  EXPECT_FALSE(QDir(temp_.path() + "/repo").exists());
  // A relative folder is taken from the working folder and made absolute.
  qputenv("BREVISFETCH_REPO", "patents/../repo2");
  EXPECT_EQ(ChooseRootDir(temp_.path()), QDir::currentPath() + "/repo2");
  qputenv("BREVISFETCH_REPO", QByteArray());
  EXPECT_EQ(ChooseRootDir(temp_.path()), temp_.path() + "/repo");
}

}  // namespace
}  // namespace brevis::gui
