// The saved text of a page: read back as written, text and boxes, and refused whenever it may not
// be the text of the page file as it is now, with the languages asked for.
#include "ocr/saved_page_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/tests/test_files.h"

namespace brevis {
namespace {

namespace fs = std::filesystem;

const std::string kPage = "II* the bytes of a page file";

PageText TwoImages() {
  PageText text;
  // A backslash, control characters and Chinese text: each stays on its line and comes back.
  text.Images.push_back({1800,
                         2400,
                         {{u"(21) 申请号 201910987654.3", {100, 200, 900, 240}},
                          {u"a\\b\tc\nd\x7f", {0, 0, 1800, 2400}}}});
  text.Images.push_back({10, 20, {}});
  return text;
}

TEST(SavedPageTextTest, ComesBackAsWrittenThroughTheFile) {
  const fs::path dir = test::FreshTestDir("saved_page_text_test");
  const std::string saved = (dir / "gk_000001.ocr").string();
  SavePageText(saved, kPage, "chi_sim", TwoImages());
  const std::optional<PageText> read = ReadSavedPageText(saved, kPage, "chi_sim");
  ASSERT_TRUE(read.has_value());
  ASSERT_EQ(read->Images.size(), 2u);
  EXPECT_EQ(read->Error, "");
  const PageText written = TwoImages();
  for (std::size_t i = 0; i < 2; ++i) {
    const ImageText& want = written.Images[i];
    EXPECT_EQ(read->Images[i].Width, want.Width);
    EXPECT_EQ(read->Images[i].Height, want.Height);
    ASSERT_EQ(read->Images[i].Lines.size(), want.Lines.size());
    for (std::size_t j = 0; j < want.Lines.size(); ++j) {
      EXPECT_EQ(read->Images[i].Lines[j].Text, want.Lines[j].Text);
      EXPECT_EQ(read->Images[i].Lines[j].Box, want.Lines[j].Box);
    }
  }
  // No file, or a page without text: nothing to read, nothing written.
  EXPECT_FALSE(ReadSavedPageText((dir / "none.ocr").string(), kPage, "chi_sim"));
  PageText failed;
  failed.Error = "Invalid tiff file name";
  SavePageText((dir / "failed.ocr").string(), kPage, "chi_sim", failed);
  EXPECT_FALSE(fs::exists(dir / "failed.ocr"));
  fs::remove_all(dir);
}

TEST(SavedPageTextTest, RefusesWhatMayNotFitThePage) {
  const std::string good = SavedTextContents(TwoImages(), "chi_sim", kPage);
  ASSERT_TRUE(ParseSavedText(good, "chi_sim", kPage));
  const auto replace = [&good](std::string_view from, std::string_view to) {
    std::string changed = good;
    const std::size_t at = changed.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return changed.replace(at, from.size(), to);
  };
  struct Case {
    const char* name;
    std::string saved;
    std::string languages = "chi_sim";
    std::string page = kPage;
  };
  const Case cases[] = {
      {"other languages", good, "chi_sim+eng"},
      {"page fetched again, same size", good, "chi_sim", "II* the bytes of a page fil3"},
      {"page fetched again, other size", good, "chi_sim", kPage + "x"},
      {"cut short after a line", good.substr(0, good.find("image 10"))},
      {"cut short within a line", good.substr(0, good.size() - 2)},
      {"empty", ""},
      {"another format", replace("page text 1", "page text 2")},
      {"another engine", replace("\nengine ", "\nengine other ")},
      {"more lines than there are", replace(" 2400 2\n", " 2400 3\n")},
      {"fewer lines than there are", replace(" 2400 2\n", " 2400 1\n")},
      {"box beyond the image", replace("0 0 1800 2400", "0 0 1801 2400")},
      {"box upside down", replace("100 200 900 240", "100 240 900 200")},
      {"negative number", replace("100 200 900", "-100 200 900")},
      {"unknown escape", replace("a\\\\b", "a\\qb")},
      {"raw control character", replace("a\\\\b", "a\tb")},
      {"ill-formed UTF-8", replace("申请号", "\xe7\x94")},
      {"something after the end", good + "line 0 0 1 1 x\n"},
      {"too large", good + std::string(kMaxSavedTextBytes, ' ')},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(ParseSavedText(c.saved, c.languages, c.page)) << c.name;
  }
}

}  // namespace
}  // namespace brevis
