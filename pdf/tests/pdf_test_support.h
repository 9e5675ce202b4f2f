// Shared by the PDF writer's tests: a small stand-in image object, and the checks of a written
// file: its cross-references, and qpdf, poppler and mupdf reading it. Files and scratch folders
// come from common/tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>

#include "common/tests/test_files.h"
#include "pdf/pdf_document.h"
#include "pdf/pdf_error.h"

namespace brevis::pdf_test {

// A stand-in for an image object: an 8 x 8 DeviceGray picture with eight bits per sample, made
// indirect and entered into the document's image table like an added image. `seed` varies the
// pattern. Returns the image's position in the table.
inline int32_t AddTestImage(PdfDocument& document, int seed = 0) {
  const std::string name = document.NextImageName();
  auto image = std::make_unique<PdfStreamObject>();
  PdfDictionaryObject& dictionary = image->Dictionary();
  dictionary.AddNameValue("Type", "XObject");
  dictionary.AddNameValue("Subtype", "Image");
  dictionary.AddNameValue("ColorSpace", "DeviceGray");
  dictionary.AddNumericValue("Width", 8);
  dictionary.AddNumericValue("Height", 8);
  dictionary.AddNumericValue("BitsPerComponent", 8);
  dictionary.AddNameValue("Name", name);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      const auto level =
          static_cast<uint8_t>(((x + y + seed) % 2 == 0) ? 255 : 32 * ((y + seed) % 8));
      image->Stream().Write(&level, 1);
    }
  }
  return document.RegisterImage(std::move(image), name, 8, 8);
}

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

inline ToolRun Run(const std::string& command, const test::ScratchFolder& scratch) {
  const std::string out = scratch.File("tool.out");
  const std::string err = scratch.File("tool.err");
  const int status = std::system((command + " >'" + out + "' 2>'" + err + "'").c_str());
  ToolRun run{status, test::ReadFile(out), test::ReadFile(err)};
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return run;
}

// The file passes qpdf's check without warnings, and poppler and mupdf open it without a
// complaint and count `pages` pages.
inline void ExpectValidPdf(const std::string& path, int pages) {
  SCOPED_TRACE(path);
  test::ScratchFolder logs;
  const ToolRun qpdf = Run("qpdf --check '" + path + "'", logs);
  EXPECT_EQ(qpdf.status, 0) << qpdf.out << qpdf.err;
  EXPECT_NE(qpdf.out.find("No syntax or stream encoding errors found"), std::string::npos)
      << qpdf.out;
  const ToolRun poppler = Run("pdfinfo '" + path + "'", logs);
  EXPECT_EQ(poppler.status, 0) << poppler.err;
  EXPECT_EQ(poppler.err, "");
  EXPECT_TRUE(
      std::regex_search(poppler.out, std::regex("\nPages: +" + std::to_string(pages) + "\n")))
      << poppler.out;
  const ToolRun mupdf = Run("mutool info '" + path + "'", logs);
  EXPECT_EQ(mupdf.status, 0) << mupdf.err;
  EXPECT_EQ(mupdf.err, "");
  EXPECT_NE(mupdf.out.find("Pages: " + std::to_string(pages) + "\n"), std::string::npos)
      << mupdf.out;
}

// Every cross-reference entry points at the "n 0 obj" line of its object, and startxref at the
// table.
inline void ExpectCrossReferencesMatch(const std::string& pdf) {
  const std::size_t startxref = pdf.rfind("startxref\r\n");
  ASSERT_NE(startxref, std::string::npos);
  const std::size_t table = std::stoul(pdf.substr(startxref + 11));
  ASSERT_EQ(pdf.compare(table, 7, "xref\r\n0"), 0);
  const std::size_t countAt = table + 8;
  const int size = std::stoi(pdf.substr(countAt));
  std::size_t entry = pdf.find("0000000000 65535 f\r\n", countAt);
  ASSERT_NE(entry, std::string::npos);
  for (int number = 1; number < size; ++number) {
    entry += 20;
    ASSERT_EQ(pdf.compare(entry + 10, 10, " 00000 n\r\n"), 0) << number;
    const std::size_t offset = std::stoul(pdf.substr(entry, 10));
    const std::string header = std::to_string(number) + " 0 obj";
    EXPECT_EQ(pdf.compare(offset, header.size(), header), 0) << number;
  }
  EXPECT_EQ(pdf.compare(entry + 20, 7, "trailer"), 0);
}

// The action throws PdfError with exactly `message`.
template <class Action>
void ExpectPdfError(Action action, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "no error; expected " << message;
  } catch (const PdfError& e) {
    EXPECT_EQ(e.what(), message);
  }
}

}  // namespace brevis::pdf_test
