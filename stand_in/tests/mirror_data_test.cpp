// MirrorData: manifests, page counts from the page files, the sample data set and generated
// data sets, whose numbers the application's own recognition reads.
#include "stand_in/mirror_data.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/text.h"
#include "core/recognised_number.h"
#include "stand_in/page_generator.h"

namespace brevis {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    path_ =
        fs::temp_directory_path() /
        ("mirror_data_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> ReadLines(const fs::path& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

TEST(MirrorDataTest, ParsesManifests) {
  struct Case {
    const char* text;
    const char* kind;
    bool mirror;
    bool office;
    int pages;
  };
  const Case kCases[] = {
      {"kind = fmzl\nsource = mirror\n", "fmzl", true, false, 0},
      {"# comment\n\n  kind=syxx  \r\nsource=office\r\n", "syxx", false, true, 0},
      {"kind = fmzl\nsource = both\npages = 13\n", "fmzl", true, true, 13},
      {"kind = fmzl\nsource = both\npages = 10000\n", "fmzl", true, true, 10000},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    const PatentEntry entry = MirrorData::ParseManifest(c.text);
    EXPECT_EQ(entry.Kind, c.kind);
    EXPECT_EQ(entry.Mirror, c.mirror);
    EXPECT_EQ(entry.Office, c.office);
    EXPECT_EQ(entry.Pages, c.pages);
  }
}

TEST(MirrorDataTest, RefusesBrokenManifests) {
  const char* kCases[] = {
      "",                                // nothing
      "kind = fmzl\n",                   // no source
      "source = mirror\n",               // no kind
      "kind = wgsj\nsource = mirror\n",  // unknown kind
      "kind = fmzl\nsource = cloud\n",   // unknown source
      "kind = fmzl\nsource = mirror\npages = 0\n",
      "kind = fmzl\nsource = mirror\npages = -3\n",
      "kind = fmzl\nsource = mirror\npages = 9999999\n",
      // More than a client accepts in a lookup answer.
      "kind = fmzl\nsource = mirror\npages = 10001\n",
      "kind = fmzl\nsource = mirror\ncolour = red\n",
      "kind fmzl\nsource = mirror\n",
  };
  for (const char* text : kCases) {
    SCOPED_TRACE(text);
    EXPECT_THROW(MirrorData::ParseManifest(text), std::runtime_error);
  }
}

TEST(MirrorDataTest, FindsPatentsAndCountsTheirPageFiles) {
  TempDir dir;
  WriteFile(dir.Path() / "200710038426" / "manifest", "kind = fmzl\nsource = mirror\n");
  for (const char* name : {"000001.tif", "000002.tif", "000004.tif", "7.tif", "000009.tiff"}) {
    WriteFile(dir.Path() / "200710038426" / name, name);
  }
  WriteFile(dir.Path() / "98123456" / "manifest", "kind = fmzl\nsource = office\npages = 3\n");
  WriteFile(dir.Path() / "200820123456" / "manifest", "kind = syxx\nsource = nowhere\n");
  WriteFile(dir.Path() / "12345" / "000001.tif", "no manifest");

  const MirrorData data(dir.Path().string());
  const auto entry = data.Find("200710038426");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->Number, "200710038426");
  EXPECT_EQ(entry->Pages, 4);  // the highest page file; page 3 is simply missing
  EXPECT_EQ(data.Find("98123456")->Pages, 3);
  EXPECT_FALSE(data.Find("12345"));
  EXPECT_FALSE(data.Find("55555"));
  for (const char* bad : {"", "../98123456", "98123456/..", "9812345a", "12345678901234567"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(data.Find(bad));
    EXPECT_FALSE(data.PagePath(bad, 1));
  }
  // A broken manifest is an error that names the file, not a missing patent.
  try {
    data.Find("200820123456");
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("200820123456/manifest"), std::string::npos) << e.what();
  }

  EXPECT_EQ(ReadFile(*data.PagePath("200710038426", 2)), "000002.tif");
  EXPECT_FALSE(data.PagePath("200710038426", 3));
  EXPECT_FALSE(data.PagePath("200710038426", 0));
  EXPECT_FALSE(data.PagePath("200710038426", 7));

  const auto list = data.List();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Number, "200710038426");
  EXPECT_EQ(list[1].Number, "98123456");

  EXPECT_THROW(MirrorData((dir.Path() / "missing").string()), std::runtime_error);
}

TEST(MirrorDataTest, SampleDataSetIsTheTableAndRepeatsByteForByte) {
  TempDir dir;
  const fs::path first = dir.Path() / "first";
  const fs::path second = dir.Path() / "second";
  MirrorData::MakeSample(first.string());
  // A stale page from an earlier, longer sample must not survive a new run.
  WriteFile(second / "98123456" / "000002.tif", "stale");
  MirrorData::MakeSample(second.string());

  struct Case {
    const char* number;
    const char* kind;
    bool mirror;
    int pages;
  };
  const Case kCases[] = {
      {"200710038426", "fmzl", true, 12},
      {"201910987654", "fmzl", true, 50},
      {"200820123456", "syxx", false, 3},
      {"98123456", "fmzl", false, 1},
  };
  const MirrorData data(first.string());
  ASSERT_EQ(data.List().size(), 4u);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.number);
    const auto entry = data.Find(c.number);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->Kind, c.kind);
    EXPECT_EQ(entry->Mirror, c.mirror);
    EXPECT_EQ(entry->Office, !c.mirror);
    EXPECT_EQ(entry->Pages, c.pages);
    EXPECT_EQ(MirrorData(second.string()).Find(c.number)->Pages, c.pages);
    for (int page = 1; page <= c.pages; ++page) {
      const std::string name = MirrorData::PageFileName(page);
      EXPECT_EQ(ReadFile(first / c.number / name), ReadFile(second / c.number / name)) << name;
    }
  }
  EXPECT_EQ(ReadFile(first / "98123456" / "000001.tif"), PageGenerator("98123456", 1).Tiff(1));
}

TEST(MirrorDataTest, GeneratedSetIsValidWithinItsRangeAndRepeatsForItsSeed) {
  TempDir dir;
  const GeneratedSet set{.Patents = 12, .MinPages = 2, .MaxPages = 4, .Seed = 7};
  const auto written = MirrorData::MakeGenerated((dir.Path() / "first").string(), set);
  MirrorData::MakeGenerated((dir.Path() / "second").string(), set);
  MirrorData::MakeGenerated((dir.Path() / "other").string(), {12, 2, 4, 8});

  const std::vector<std::string> listed = ReadLines(dir.Path() / "first" / "numbers.txt");
  ASSERT_EQ(listed.size(), 12u);
  ASSERT_EQ(written.size(), 12u);
  const MirrorData data((dir.Path() / "first").string());
  EXPECT_EQ(data.List().size(), 12u);
  std::set<std::u16string> numbers;
  for (std::size_t i = 0; i < listed.size(); ++i) {
    SCOPED_TRACE(listed[i]);
    // The application takes the number with its check character, and reads the kind the
    // manifest gives.
    const RecognisedNumber number = RecogniseNumber(Utf8ToUtf16(listed[i]));
    ASSERT_TRUE(number.Valid);
    EXPECT_TRUE(numbers.insert(number.Apn).second) << "a number twice";
    const auto entry = data.Find(Utf16ToUtf8(number.Apn));
    ASSERT_TRUE(entry);
    EXPECT_EQ(Utf8ToUtf16(entry->Kind), number.Kind);
    EXPECT_EQ(entry->Number, written[i].Number);
    EXPECT_EQ(entry->Pages, written[i].Pages);
    EXPECT_GE(entry->Pages, set.MinPages);
    EXPECT_LE(entry->Pages, set.MaxPages);
    EXPECT_TRUE(entry->Mirror || entry->Office);
    const int year = std::stoi(entry->Number.substr(0, 4));
    EXPECT_TRUE(year >= 2004 && year <= 2023) << year;
    for (int page = 1; page <= entry->Pages; ++page) {
      const std::string name = MirrorData::PageFileName(page);
      EXPECT_EQ(ReadFile(dir.Path() / "first" / entry->Number / name),
                ReadFile(dir.Path() / "second" / entry->Number / name))
          << name;
    }
  }
  EXPECT_EQ(ReadFile(dir.Path() / "first" / "numbers.txt"),
            ReadFile(dir.Path() / "second" / "numbers.txt"));
  EXPECT_NE(ReadFile(dir.Path() / "first" / "numbers.txt"),
            ReadFile(dir.Path() / "other" / "numbers.txt"));
}

TEST(MirrorDataTest, GeneratedSetRefusesEmptySetsAndBadPageRanges) {
  TempDir dir;
  const GeneratedSet kCases[] = {
      {0, 1, 1, 0},      // no patent
      {1, 0, 1, 0},      // no page
      {1, 3, 2, 0},      // the range backwards
      {1, 1, 10001, 0},  // more pages than a client accepts
  };
  for (const GeneratedSet& set : kCases) {
    SCOPED_TRACE(testing::Message() << set.Patents << ' ' << set.MinPages << '-' << set.MaxPages);
    EXPECT_THROW(MirrorData::MakeGenerated(dir.Path().string(), set), std::invalid_argument);
  }
  EXPECT_TRUE(fs::is_empty(dir.Path()));
}

}  // namespace
}  // namespace brevis
