// AddTiffFiles: the files read ahead on other threads give the very bytes of one AddPage and one
// AddPreparedTiff per file, and a failing file stops the run with its error.
#include "core/page_read_ahead.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "pdf/pdf_error.h"
#include "pdf/tests/masked_pdf.h"
#include "pdf/tests/tiff_files.h"

namespace brevis {
namespace {

using test::MaskDates;

class PageReadAheadTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::vector<test::TiffPicture>& pictures) {
    const std::string path = scratch.File(name);
    test::WriteTiffFile(path, pictures);
    return path;
  }

  test::ScratchFolder scratch;
};

TEST_F(PageReadAheadTest, WritesWhatOneCallPerFileWrites) {
  std::vector<std::string> pages;
  for (int i = 0; i < 5; ++i) {
    pages.push_back(
        Write(std::to_string(i) + ".tif",
              {test::TextPicture(2480, i == 2 ? 1000 : 3508, static_cast<uint32_t>(i))}));
  }
  pages.push_back(Write("two.tif", {test::TextPicture(100, 100, 9), test::TextPicture(90, 80, 8)}));
  for (const TiffPaintType paint : {tptResizeImage, tptResizePage}) {
    SCOPED_TRACE(paint);
    MemoryStream plain_out, fast_out;
    PdfDocument plain, fast;
    plain.SetOutputStream(&plain_out);
    fast.SetOutputStream(&fast_out);
    plain.BeginDoc();
    for (std::size_t i = 0; i < pages.size(); ++i) {
      if (i > 0) plain.AddPage();
      plain.AddPreparedTiff(PrepareTiff(pages[i], icCCITT42, 100, TiffDecoding::kRgba), paint);
    }
    plain.EndDoc();
    std::vector<std::size_t> progress;
    fast.BeginDoc();
    AddTiffFiles(fast, pages, icCCITT42, paint,
                 [&](std::size_t done) { progress.push_back(done); });
    fast.EndDoc();
    EXPECT_EQ(progress, (std::vector<std::size_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(MaskDates(fast_out.ToString()), MaskDates(plain_out.ToString()));
  }
}

TEST_F(PageReadAheadTest, AFailingFileStopsTheRun) {
  const std::string good = Write("good.tif", {test::TextPicture(2480, 3508, 1)});
  // The files before the failing one stay; none after it is placed.
  const std::vector<std::string> pages = {good, scratch.File("missing.tif"), good, good};
  PdfDocument document;
  document.BeginDoc();
  std::size_t done = 0;
  try {
    AddTiffFiles(document, pages, icCCITT42, tptResizeImage,
                 [&](std::size_t count) { done = count; });
    ADD_FAILURE() << "no error";
  } catch (const PdfError& e) {
    EXPECT_STREQ(e.what(), "Invalid tiff file name");
  }
  EXPECT_EQ(done, 1u);
  EXPECT_EQ(document.XImages().size(), 3u);

  // Without a begun document nothing is read.
  PdfDocument fresh;
  EXPECT_THROW(AddTiffFiles(fresh, pages, icCCITT42, tptResizeImage,
                            [&](std::size_t) { ADD_FAILURE() << "progress"; }),
               std::logic_error);
}

}  // namespace
}  // namespace brevis
