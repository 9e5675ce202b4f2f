// Tests of atomic file writing: the file appears whole under its name, a failure leaves nothing
// behind, and the temporary names are told apart from every other file.
#include "common/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/tests/test_files.h"

namespace brevis {
namespace {

namespace fs = std::filesystem;

std::size_t Entries(const fs::path& dir) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(AtomicFileTest, WritesAndReplacesWithoutLeavingTemporaryFiles) {
  const fs::path dir = test::FreshTestDir("atomic_file");
  const fs::path path = dir / "gk_000001.tif";
  std::ofstream(path) << "a much longer old content than the new one";

  const std::string bytes("II*\0new", 7);
  WriteFileAtomically(path.string(), reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());

  EXPECT_EQ(test::ReadFile(path), bytes);
  EXPECT_EQ(Entries(dir), 1u);
  // An ordinary file: the umask's share of 0666.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666u & ~mask);

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
  EXPECT_EQ(Entries(dir), 1u);
  fs::remove_all(dir);
}

TEST(AtomicFileTest, TemporaryFileIsRemovedUnlessCommittedAndFollowsTheNameRule) {
  const fs::path dir = test::FreshTestDir("atomic_file");
  const std::string path = (dir / "out.pdf").string();
  std::string name;
  {
    TemporaryFile temporary(path);
    name = fs::path(temporary.Name()).filename().string();
    EXPECT_TRUE(fs::exists(temporary.Name()));
  }
  EXPECT_TRUE(IsTemporaryName(name, "out.pdf", static_cast<int>(::getpid())));
  EXPECT_EQ(Entries(dir), 0u);
  {
    TemporaryFile temporary(path);
    std::ofstream(temporary.Name()) << "whole";
    temporary.Commit();
  }
  EXPECT_EQ(test::ReadFile(path), "whole");
  EXPECT_EQ(Entries(dir), 1u);
  fs::remove_all(dir);
}

TEST(AtomicFileTest, TemporaryNamesAreTellableFromOtherFiles) {
  struct Case {
    const char* name;
    int pid;
    const char* target;  // "" when the name is no temporary name
  };
  const Case kCases[] = {
      {"out.pdf.4242-1-3fa9c0.tmp", 0, "out.pdf"},
      {"out.pdf.4242-17-0.tmp", 4242, "out.pdf"},
      {"gk_000001.tif.7-3-ff.tmp", 0, "gk_000001.tif"},
      {"a.b.c.1-2-3.tmp", 0, "a.b.c"},
      // Given by another process.
      {"out.pdf.4242-1-3fa9c0.tmp", 424, ""},
      {"out.pdf.4242-1-3fa9c0.tmp", 42420, ""},
      // Other files.
      {"out.pdf", 0, ""},
      {"out.pdf.tmp", 0, ""},
      {".4242-1-3fa9c0.tmp", 0, ""},
      {"out.pdf.4242-1.tmp", 0, ""},
      {"out.pdf.4242-1-3FA9C0.tmp", 0, ""},
      {"out.pdf.4242-1-3fa9c0-7.tmp", 0, ""},
      {"out.pdf.x-1-3fa9c0.tmp", 0, ""},
      {"out.pdf.4242--3fa9c0.tmp", 0, ""},
      {"out.pdf.4242-1-3fa9c0.tmp.bak", 0, ""},
      {"out.pdf.part-4242-1-3fa9c0.tmp", 0, ""},
      {"gk_000001.tif.part-a1B2c3", 0, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.name) + " pid " + std::to_string(c.pid));
    EXPECT_EQ(TemporaryTarget(c.name, c.pid), c.target);
    EXPECT_EQ(IsTemporaryName(c.name, "out.pdf", c.pid), std::string(c.target) == "out.pdf");
  }
  // The writer's own names are recognised as such, and as nothing else.
  const std::string made = TemporaryName("gk_000001.tif", 4242, 9, 0xabcdef);
  EXPECT_EQ(TemporaryTarget(made, 4242), "gk_000001.tif");
  EXPECT_FALSE(IsTemporaryName(made, "gk_000001.ti", 0));
}

TEST(AtomicFileTest, RemovesOnlyTheTemporaryFilesAsked) {
  const fs::path dir = test::FreshTestDir("atomic_file");
  const std::string kept[] = {"gk_000001.tif", "notes.txt", "notes.txt.1-1-1.tmp",
                              TemporaryName("gk_000002.tif", 99, 1, 1)};
  const std::string removed[] = {TemporaryName("gk_000002.tif", 98, 1, 1),
                                 TemporaryName("gk_000003.tif", 98, 2, 0xff)};
  for (const std::string& name : kept) std::ofstream(dir / name) << "x";
  for (const std::string& name : removed) std::ofstream(dir / name) << "x";

  RemoveTemporaryFiles(
      dir, [](std::string_view target) { return target.starts_with("gk_"); }, 98);
  for (const std::string& name : kept) EXPECT_TRUE(fs::exists(dir / name)) << name;
  for (const std::string& name : removed) EXPECT_FALSE(fs::exists(dir / name)) << name;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace brevis
