// Tests of WriteFileAtomically: the file appears whole under its name, and a failure leaves
// nothing behind.
#include "download/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace brevis {
namespace {

namespace fs = std::filesystem;

TEST(AtomicFileTest, WritesAndReplacesWithoutLeavingTemporaryFiles) {
  const fs::path dir = fs::temp_directory_path() / ("atomic_file_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path path = dir / "gk_000001.tif";
  std::ofstream(path) << "a much longer old content than the new one";

  const std::string bytes("II*\0new", 7);
  WriteFileAtomically(path.string(), reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());

  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            bytes);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);

  // A folder that does not exist: the error names the file, and nothing is created.
  const fs::path missing = dir / "no such folder" / "gk_000002.tif";
  EXPECT_THROW(
      try {
        WriteFileAtomically(missing.string(), reinterpret_cast<const uint8_t*>(bytes.data()),
                            bytes.size());
      } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("gk_000002.tif"), std::string::npos);
        throw;
      },
      std::runtime_error);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace brevis
