// The text file's contents and name, and the pages recorded without text.
#include "ocr/document_text.h"

#include <gtest/gtest.h>

namespace brevis {
namespace {

ImageText Image(std::vector<std::u16string> lines) {
  ImageText image{100, 100, {}};
  for (std::u16string& line : lines) image.Lines.push_back({std::move(line), {0, 0, 10, 10}});
  return image;
}

TEST(DocumentTextTest, PagesOfLinesSeparatedByFormFeeds) {
  DocumentText text;
  text.Add("a.tif", {{Image({u"本发明涉及一种阀门。", u"GB/T 3280-2015"})}, ""});
  // A blank page, a file of two images, and a file that could not be read: each keeps its place.
  text.Add("blank.tif", {{Image({})}, ""});
  text.Add("two.tif", {{Image({u"x"}), Image({u"y"})}, ""});
  text.Add("broken.tif", {{}, "Cannot decode tiff image"});
  text.Add("z.tif", {{Image({u"z"})}, ""});
  EXPECT_EQ(text.Contents(),
            "本发明涉及一种阀门。\nGB/T 3280-2015\n"
            "\f"
            "\fx\n\fy\n"
            "\f"
            "\fz\n");
  ASSERT_EQ(text.Unread().size(), 1u);
  EXPECT_EQ(text.Unread()[0].File, "broken.tif");
  EXPECT_EQ(text.Unread()[0].Cause, "Cannot decode tiff image");
  EXPECT_EQ(DocumentText().Contents(), "");
}

TEST(DocumentTextTest, TextFileBesideThePdf) {
  EXPECT_EQ(TextFilePath("repo/CN200710038426/CN200710038426_gk.pdf"),
            "repo/CN200710038426/CN200710038426_gk.txt");
  EXPECT_EQ(TextFilePath("out"), "out.txt");
  EXPECT_EQ(TextFilePath(".pdf"), ".pdf.txt");
}

}  // namespace
}  // namespace brevis
