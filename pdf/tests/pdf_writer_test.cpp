// The file writer: the text around the objects (header, cross-reference table, trailer) with
// objects left out and renumbered, offsets from where the stream stood, and the save that
// replaces a file whole or not at all.
#include "pdf/pdf_writer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>

#include "pdf/pdf_error.h"
#include "pdf/tests/pdf_test_support.h"

namespace brevis {
namespace {

using pdf_test::ExpectCrossReferencesMatch;
using pdf_test::ExpectPdfError;
using pdf_test::ExpectValidPdf;
using test::ReadFile;
using test::ScratchFolder;

// A one-page document's object table, built by hand: catalogue, a deleted object, Info, page
// tree and page, numbered 1 to 5 in that order.
class SmallTable {
 public:
  SmallTable() {
    PdfDictionaryObject& catalog = Add();
    Add().SetDeleted(true);
    PdfDictionaryObject& info = Add();
    PdfDictionaryObject& pages = Add();
    page_ = &Add();
    catalog.AddNameValue("Type", "Catalog");
    catalog.AddValue("Pages", pages);
    info.AddStringValue("Title", "small");
    pages.AddNameValue("Type", "Pages");
    pages.AddValue("Kids", std::make_unique<PdfArrayObject>(&pages))->AddObject(*page_);
    pages.AddNumericValue("Count", 1);
    page_->AddNameValue("Type", "Page");
    page_->AddValue("Parent", pages);
    auto* box = page_->AddValue("MediaBox", std::make_unique<PdfArrayObject>(page_));
    for (const float value : {0.0f, 0.0f, 595.0f, 842.0f}) box->AddNumericValue(value);
  }

  PdfWriter Writer() const { return PdfWriter(objects_, {1, 0}, {3, 0}); }
  PdfDictionaryObject& Page() { return *page_; }

 private:
  PdfDictionaryObject& Add() {
    auto object = std::make_unique<PdfDictionaryObject>();
    object->MakeIndirect({static_cast<int32_t>(objects_.size()) + 1, 0});
    objects_.push_back(std::move(object));
    return static_cast<PdfDictionaryObject&>(*objects_.back());
  }

  std::vector<std::unique_ptr<PdfObject>> objects_;
  PdfDictionaryObject* page_ = nullptr;
};

TEST(PdfWriter, WritesTheFileAroundTheObjects) {
  SmallTable table;
  MemoryStream out;
  // Offsets count from where the stream stood, not from its beginning.
  const std::string before = "earlier bytes\n";
  out.Write(reinterpret_cast<const uint8_t*>(before.data()), before.size());
  table.Writer().Write(out);
  const std::string pdf = out.ToString().substr(before.size());

  // The deleted object is left out; the ones after it, and references to them, move up.
  EXPECT_EQ(pdf,
            "%PDF-1.4\n%tMwK\n"
            "1 0 obj\n<< \n/Type /Catalog \n/Pages 3 0 R \n>> \nendobj\n"
            "2 0 obj\n<< \n/Title (small)\n>> \nendobj\n"
            "3 0 obj\n<< \n/Type /Pages \n/Kids [ 4 0 R ] \n/Count 1 \n>> \nendobj\n"
            "4 0 obj\n<< \n/Type /Page \n/Parent 3 0 R \n/MediaBox [ 0 0 595 842 ] \n>> \n"
            "endobj\n"
            "xref\r\n0 5\r\n0000000000 65535 f\r\n0000000015 00000 n\r\n"
            "0000000068 00000 n\r\n0000000106 00000 n\r\n0000000170 00000 n\r\n"
            "trailer\r\n<<\r\n/Size 5\r\n/Root 1 0 R\r\n/Info 2 0 R\r\n>>\r\n"
            "startxref\r\n248\r\n%%EOF\r\n");
  ExpectCrossReferencesMatch(pdf);

  // The objects keep their numbers, so writing again gives the same bytes.
  MemoryStream again;
  table.Writer().Write(again);
  EXPECT_EQ(again.ToString(), pdf);

  ScratchFolder scratch;
  table.Writer().SaveToFile(scratch.File("small.pdf"));
  EXPECT_EQ(ReadFile(scratch.File("small.pdf")), pdf);
  ExpectValidPdf(scratch.File("small.pdf"), 1);
}

TEST(PdfWriterSave, UnwritableFolderFailsClearlyAndLeavesNoFile) {
  ScratchFolder scratch;
  test::WriteFile(scratch.File("plain-file"), "x");
  struct Case {
    std::string path;
    int error;
  };
  const Case kCases[] = {
      {scratch.File("missing-folder/out.pdf"), ENOENT},
      {scratch.File("plain-file/out.pdf"), ENOTDIR},
  };
  const SmallTable table;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path);
    ExpectPdfError([&] { table.Writer().SaveToFile(c.path); },
                   "Cannot create file \"" + c.path + "\": " + std::strerror(c.error));
    EXPECT_FALSE(std::filesystem::exists(c.path));
    EXPECT_EQ(scratch.Count(), 1u);
  }
}

TEST(PdfWriterSave, FailedWriteLeavesTheExistingFileUntouched) {
  ScratchFolder scratch;
  const std::string path = scratch.File("existing.pdf");
  test::WriteFile(path, "the earlier, complete file");
  SmallTable table;
  // A number PDF cannot carry fails the write after the first objects are out.
  table.Page().AddNumericValue("UserUnit", std::numeric_limits<float>::quiet_NaN());
  ExpectPdfError([&] { table.Writer().SaveToFile(path); }, "Number is not finite.");
  EXPECT_EQ(ReadFile(path), "the earlier, complete file");
  EXPECT_EQ(scratch.Count(), 1u);

  // Once the objects can be written, the file is replaced whole.
  static_cast<PdfNumericObject*>(table.Page().ValueByName("UserUnit"))->SetValue(1);
  table.Writer().SaveToFile(path);
  EXPECT_EQ(ReadFile(path).substr(0, 8), "%PDF-1.4");
  EXPECT_EQ(scratch.Count(), 1u);
  ExpectValidPdf(path, 1);
}

}  // namespace
}  // namespace brevis
