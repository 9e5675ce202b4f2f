// brevisfetch-cli combine, run as users run it: the combined PDF rendered by mupdf and
// Ghostscript against the source pages, the codings and fits, and failures that leave no file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "pdf/tests/pdf_test_support.h"
#include "pdf/tests/tiff_files.h"

namespace brevis {
namespace {

using test::ScratchFolder;
using test::TiffPicture;

const std::string kCli = BREVISFETCH_CLI;

struct Grey {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // one byte per pixel, 0 black
};

// Reads a binary PGM file (P5, 8 bits).
Grey ReadPgm(const std::string& path) {
  const std::string data = test::ReadFile(path);
  std::size_t at = 0;
  const auto token = [&] {
    while (at < data.size()) {
      if (data[at] == '#') {
        at = data.find('\n', at);
      } else if (std::isspace(static_cast<unsigned char>(data[at]))) {
        ++at;
      } else {
        break;
      }
    }
    const std::size_t start = at;
    while (at < data.size() && !std::isspace(static_cast<unsigned char>(data[at]))) ++at;
    return data.substr(start, at - start);
  };
  Grey grey;
  if (token() != "P5") return grey;
  grey.width = std::stoi(token());
  grey.height = std::stoi(token());
  token();
  ++at;
  grey.pixels.assign(data.begin() + static_cast<std::ptrdiff_t>(at), data.end());
  return grey;
}

// The bilevel picture as it should look: black 0, white 255, rows from the top.
std::vector<uint8_t> Row(const TiffPicture& picture, int y) {
  std::vector<uint8_t> row(static_cast<std::size_t>(picture.width));
  const std::size_t stride = (static_cast<std::size_t>(picture.width) + 7) / 8;
  for (int x = 0; x < picture.width; ++x) {
    const uint8_t byte =
        picture.pixels[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) / 8];
    row[static_cast<std::size_t>(x)] = (byte >> (7 - x % 8)) & 1 ? 0 : 255;
  }
  return row;
}

std::vector<uint8_t> Row(const Grey& grey, int y) {
  const auto begin = grey.pixels.begin() + static_cast<std::ptrdiff_t>(y) * grey.width;
  return std::vector<uint8_t>(begin, begin + grey.width);
}

class CombineTest : public ::testing::Test {
 protected:
  std::string Page(const std::string& name, const TiffPicture& picture) {
    const std::string path = scratch.File(name);
    test::WriteTiffFile(path, {picture});
    return path;
  }
  pdf_test::ToolRun Combine(const std::string& arguments) {
    return pdf_test::Run("'" + kCli + "' combine " + arguments, scratch);
  }

  ScratchFolder scratch;
};

TEST_F(CombineTest, FitPageRendersEveryPagePixelForPixel) {
  // With one page unit per pixel a rendering at 72 dpi gives the source pictures back.
  const std::vector<TiffPicture> pictures = {test::TextPicture(2480, 3508, 1),
                                             test::TextPicture(1001, 777, 2),
                                             test::TextPicture(640, 2401, 3)};
  std::string files;
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    files += " '" + Page(std::to_string(i + 1) + ".tif", pictures[i]) + "'";
  }
  const std::string out = scratch.File("out.pdf");
  ASSERT_EQ(Combine("--fit page -o '" + out + "'" + files).status, 0);
  pdf_test::ExpectValidPdf(out, 3);
  ASSERT_EQ(
      pdf_test::Run(
          "mutool draw -q -r 72 -c gray -o '" + scratch.File("%d.pgm") + "' '" + out + "'", scratch)
          .status,
      0);
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    SCOPED_TRACE(i);
    const Grey page = ReadPgm(scratch.File(std::to_string(i + 1) + ".pgm"));
    ASSERT_EQ(page.width, pictures[i].width);
    ASSERT_EQ(page.height, pictures[i].height);
    for (int y = 0; y < page.height; ++y) ASSERT_EQ(Row(page, y), Row(pictures[i], y)) << y;
  }
}

TEST_F(CombineTest, A4FitJoinsTheSlicesWithoutLosingARow) {
  // At 2480 / 595 * 72 dpi a page pixel is an image pixel. The slices' offsets are written with
  // two decimals, so Ghostscript may draw a stretch of a slice one row off; every source row must
  // still be drawn within one row of its place, and none may go missing at the seams.
  const TiffPicture picture = test::TextPicture(2480, 3508, 4);
  const std::string out = scratch.File("a4.pdf");
  ASSERT_EQ(Combine("-o '" + out + "' '" + Page("a4.tif", picture) + "'").status, 0);
  ASSERT_EQ(pdf_test::Run("gs -q -dNOPAUSE -dBATCH -sDEVICE=pgmraw -r300.100840 -sOutputFile='" +
                              scratch.File("a4.pgm") + "' '" + out + "'",
                          scratch)
                .status,
            0);
  const Grey page = ReadPgm(scratch.File("a4.pgm"));
  ASSERT_EQ(page.width, 2480);
  ASSERT_GE(page.height, 3508);
  int exact = 0;
  for (int y = 0; y < 3508; ++y) {
    const std::vector<uint8_t> source = Row(picture, y);
    bool near = false;
    for (int d = -1; d <= 1 && !near; ++d) {
      near = y + d >= 0 && y + d < page.height && Row(page, y + d) == source;
    }
    ASSERT_TRUE(near) << "source row " << y;
    exact += Row(page, y) == source ? 1 : 0;
  }
  EXPECT_GT(exact, 3508 * 3 / 4);
}

TEST_F(CombineTest, EveryCodingGivesAValidFile) {
  const std::string page = Page("p.tif", test::TextPicture(300, 1300, 5));
  struct Case {
    const char* option;
    const char* marker;
  };
  const Case kCases[] = {{"", "/K -1"},
                         {"--compression g4", "/K -1"},
                         {"--compression g3-1d", "/K 0"},
                         {"--compression g3-2d", "/K 1"},
                         {"--compression flate", "/FlateDecode ] /ColorSpace /DeviceRGB"},
                         {"--compression jpeg", "/DCTDecode"}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.option);
    const std::string out = scratch.File("c.pdf");
    const pdf_test::ToolRun run =
        Combine(std::string(c.option) + " -o '" + out + "' '" + page + "' '" + page + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");  // no progress bar without a terminal
    pdf_test::ExpectValidPdf(out, 2);
    EXPECT_NE(test::ReadFile(out).find(c.marker), std::string::npos);
  }
}

TEST_F(CombineTest, BadPagesFailWithTheWritersMessageAndNoFile) {
  const std::string good = Page("good.tif", test::TextPicture(200, 100, 6));
  const std::string text = test::ReadFile(good);
  test::WriteFile(scratch.File("empty.tif"), "");
  test::WriteFile(scratch.File("truncated.tif"), text.substr(0, text.size() / 2));
  test::WriteFile(scratch.File("notes.tif"), "These are notes, not a picture.\n");
  struct Case {
    std::string file;
    std::string message;
  };
  const Case kCases[] = {
      {"empty.tif", "Invalid tiff file name"},
      {"missing.tif", "No such file"},
      {"truncated.tif", "Invalid tiff file name"},
      {"notes.tif", "Invalid tiff file name"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.file);
    for (const bool existing : {false, true}) {
      const std::string out = scratch.File("out.pdf");
      if (existing) test::WriteFile(out, "earlier file");
      const pdf_test::ToolRun run =
          Combine("-o '" + out + "' '" + good + "' '" + scratch.File(c.file) + "'");
      EXPECT_EQ(WEXITSTATUS(run.status), 1);
      EXPECT_EQ(run.err, scratch.File(c.file) + ": " + c.message + "\n");
      if (existing) {
        EXPECT_EQ(test::ReadFile(out), "earlier file");
        std::filesystem::remove(out);
      } else {
        EXPECT_FALSE(std::filesystem::exists(out));
      }
      EXPECT_EQ(scratch.Count(), 4u);  // the pages alone: no temporary file left either
    }
  }
}

}  // namespace
}  // namespace brevis
